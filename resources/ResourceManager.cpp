// The resource manager: translated texts, resource paths and the user's locale.
#include "resources/ResourceManager.h"

#include <memory>

#include "platform/CFRef.h"

IOrvikResourceManager* CResourceManagerFactory::m_pResourceManager = nullptr;
int32_t CResourceManagerFactory::m_GlobalLanguageID = 0;
CAtlString CResourceManagerFactory::m_csProductName;

namespace {

// A key widened to 16 bits the way every fallback is made: through the 8-bit class.
CAtlString Widen(const char* text) {
    return CAtlString(CAtlStringA(text));
}

CFStringRef MakeMacRomanString(const char* text) {
    if (text == nullptr)
        return nullptr;
    return CFStringCreateWithCString(kCFAllocatorDefault, text, kCFStringEncodingMacRoman);
}

} // namespace

// ---- factory --------------------------------------------------------------------

IOrvikResourceManager* CResourceManagerFactory::GetResourceManager() {
    if (m_pResourceManager == nullptr)
        m_pResourceManager = new CResourceManagerMac(); // a throwing constructor frees it
    return m_pResourceManager;
}

void CResourceManagerFactory::FreeResourceManager() {
    delete m_pResourceManager;
    m_pResourceManager = nullptr;
}

// ---- CResourceManagerMac -----------------------------------------------------------

CResourceManagerMac::CResourceManagerMac() {
    m_bundle = CFBundleGetMainBundle();
    if (m_bundle != nullptr)
        CFRetain(m_bundle);
}

CResourceManagerMac::~CResourceManagerMac() {
    if (m_bundle != nullptr)
        CFRelease(m_bundle);
    m_bundle = nullptr;
}

bool CResourceManagerMac::GetCharactersFromCFString(CFStringRef str, unsigned short** out) {
    const CFIndex n = str != nullptr ? CFStringGetLength(str) : 0;
    auto* units = new unsigned short[static_cast<size_t>(n) + 1];
    if (n > 0)
        CFStringGetCharacters(str, CFRangeMake(0, n), reinterpret_cast<UniChar*>(units));
    units[n] = 0;
    *out = units;
    return true;
}

CAtlString CResourceManagerMac::GetTranslatedString(const char* key, const char*) {
    CAtlString fallback = Widen(key);
    const orvik::CFRef<CFStringRef> cfKey(MakeMacRomanString(key));
    if (!cfKey)
        return fallback;
    const orvik::CFRef<CFStringRef> translated(
        CFBundleCopyLocalizedString(CFBundleGetMainBundle(), cfKey.get(), cfKey.get(), nullptr));
    if (!translated)
        return fallback;
    unsigned short* units = nullptr;
    GetCharactersFromCFString(translated.get(), &units);
    const std::unique_ptr<unsigned short[]> owned(units);
    return CAtlString(units);
}

CAtlString CResourceManagerMac::GetTranslatedResourcePath(const char* name, const char*) {
    CAtlString fallback = Widen(name);
    if (m_bundle == nullptr)
        return fallback;
    const orvik::CFRef<CFStringRef> cfName(MakeMacRomanString(name));
    if (!cfName)
        return fallback;
    const orvik::CFRef<CFURLRef> url(
        CFBundleCopyResourceURL(m_bundle, cfName.get(), nullptr, nullptr));
    if (!url)
        return fallback;
    const orvik::CFRef<CFStringRef> path(CFURLCopyPath(url.get()));
    if (!path)
        return fallback;
    unsigned short* units = nullptr;
    GetCharactersFromCFString(path.get(), &units);
    const std::unique_ptr<unsigned short[]> owned(units);
    return CAtlString(units);
}

bool CResourceManagerMac::GetTranslatedMarkUpString(
    const char* key, const char* markup, CArray<CAtlString, CAtlString&>* textRuns,
    CArray<CAtlString, CAtlString&>* attributeRuns) {
    const CAtlString text = GetTranslatedString(key, nullptr);
    const CAtlString kind = Widen(markup);
    if (kind.CompareNoCase(u"Color") != 0 && kind.CompareNoCase(u"Colour") != 0)
        return false;
    orvik::resources::ScanMarkup(text, textRuns, attributeRuns);
    return true;
}

// ---- locale and dates ---------------------------------------------------------------

namespace {

CAtlString CopyText(CFStringRef text) {
    return text != nullptr ? CAtlString(text) : CAtlString();
}

// The first preferred language, or null.
CFStringRef FirstLanguage(CFPropertyListRef languages) {
    if (languages == nullptr || CFGetTypeID(languages) != CFArrayGetTypeID())
        return nullptr;
    auto array = static_cast<CFArrayRef>(languages);
    if (CFArrayGetCount(array) == 0)
        return nullptr;
    const void* first = CFArrayGetValueAtIndex(array, 0);
    return first != nullptr && CFGetTypeID(first) == CFStringGetTypeID()
               ? static_cast<CFStringRef>(first)
               : nullptr;
}

} // namespace

CAtlString CResourceManagerMac::GetCurrentLocale() {
    orvik::CFRef<CFLocaleRef> current(CFLocaleCopyCurrent());
    CFStringRef identifier = CFLocaleGetIdentifier(current.get());
    orvik::CFRef<CFPropertyListRef> languages(
        CFPreferencesCopyAppValue(CFSTR("AppleLanguages"), kCFPreferencesCurrentApplication));
    CFStringRef language = FirstLanguage(languages.get());
    if (identifier == nullptr)
        return CAtlString(u"en_US_POSIX");
    if (language == nullptr || CFStringGetLength(language) == 0)
        return CopyText(identifier); // no preference: the locale as it is
    if (CFStringFind(identifier, language, kCFCompareCaseInsensitive).location != kCFNotFound)
        return CopyText(identifier);

    // The preferred language with the locale's region.
    const CFIndex length = CFStringGetLength(identifier);
    const CFRange underscore = CFStringFind(identifier, CFSTR("_"), 0);
    orvik::CFRef<CFStringRef> region(
        underscore.location == kCFNotFound
            ? CFStringCreateCopy(kCFAllocatorDefault, identifier)
            : CFStringCreateWithSubstring(
                  kCFAllocatorDefault, identifier,
                  CFRangeMake(underscore.location + 1, length - underscore.location - 1)));
    orvik::CFRef<CFMutableStringRef> joined(CFStringCreateMutable(kCFAllocatorDefault, 0));
    CFStringAppend(joined.get(), language);
    CFStringAppend(joined.get(), CFSTR("_"));
    CFStringAppend(joined.get(), region.get());
    orvik::CFRef<CFLocaleRef> combined(CFLocaleCreate(kCFAllocatorDefault, joined.get()));
    if (combined) {
        CFStringRef canonical = CFLocaleGetIdentifier(combined.get());
        orvik::CFRef<CFArrayRef> available(CFLocaleCopyAvailableLocaleIdentifiers());
        if (CFArrayContainsValue(available.get(), CFRangeMake(0, CFArrayGetCount(available.get())),
                                 canonical))
            return CopyText(canonical);
    }
    orvik::CFRef<CFLocaleRef> languageOnly(CFLocaleCreate(kCFAllocatorDefault, language));
    return languageOnly ? CopyText(CFLocaleGetIdentifier(languageOnly.get()))
                                   : CopyText(identifier);
}

CAtlString CResourceManagerMac::GetTranslatedDate(const char* date) {
    const CAtlString text(date);
    orvik::CFRef<CFStringRef> input(text.CreateCFStringRef(kCFAllocatorDefault));
    const CAtlString localeName = GetCurrentLocale();
    orvik::CFRef<CFStringRef> name(localeName.CreateCFStringRef(kCFAllocatorDefault));
    orvik::CFRef<CFLocaleRef> locale(CFLocaleCreate(kCFAllocatorDefault, name.get()));
    if (!input || !locale)
        return text;
    orvik::CFRef<CFDateFormatterRef> parser(CFDateFormatterCreate(
        kCFAllocatorDefault, locale.get(), kCFDateFormatterNoStyle, kCFDateFormatterNoStyle));
    if (!parser)
        return text;
    CFDateFormatterSetFormat(parser.get(), CFSTR("y-M-d"));
    orvik::CFRef<CFDateRef> parsed(CFDateFormatterCreateDateFromString(
        kCFAllocatorDefault, parser.get(), input.get(), nullptr));
    if (!parsed)
        return text; // not a year-month-day date: shown as it came
    orvik::CFRef<CFDateFormatterRef> writer(CFDateFormatterCreate(
        kCFAllocatorDefault, locale.get(), kCFDateFormatterLongStyle, kCFDateFormatterNoStyle));
    if (!writer)
        return text;
    orvik::CFRef<CFStringRef> written(
        CFDateFormatterCreateStringWithDate(kCFAllocatorDefault, writer.get(), parsed.get()));
    return written ? CopyText(written.get()) : text;
}
