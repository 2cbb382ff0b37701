#include "resources/ResourceManager.h"

#include <memory>

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
    CFStringRef cfKey = MakeMacRomanString(key);
    if (cfKey == nullptr)
        return fallback;
    CFStringRef translated =
        CFBundleCopyLocalizedString(CFBundleGetMainBundle(), cfKey, cfKey, nullptr);
    if (translated == nullptr) {
        CFRelease(cfKey);
        return fallback;
    }
    unsigned short* units = nullptr;
    GetCharactersFromCFString(translated, &units);
    CAtlString result(units);
    CFRelease(cfKey);
    CFRelease(translated);
    delete[] units;
    return result;
}

CAtlString CResourceManagerMac::GetTranslatedResourcePath(const char* name, const char*) {
    CAtlString fallback = Widen(name);
    if (m_bundle == nullptr)
        return fallback;
    CFStringRef cfName = MakeMacRomanString(name);
    if (cfName == nullptr)
        return fallback;
    CFURLRef url = CFBundleCopyResourceURL(m_bundle, cfName, nullptr, nullptr);
    if (url == nullptr) {
        CFRelease(cfName);
        return fallback;
    }
    CFStringRef path = CFURLCopyPath(url);
    if (path == nullptr) {
        CFRelease(cfName);
        CFRelease(url);
        return fallback;
    }
    unsigned short* units = nullptr;
    GetCharactersFromCFString(path, &units);
    CAtlString result(units);
    CFRelease(cfName);
    CFRelease(url);
    CFRelease(path);
    delete[] units;
    return result;
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

struct CFReleaser {
    void operator()(CFTypeRef object) const {
        if (object != nullptr)
            CFRelease(object);
    }
};
template <class T> using CFHolder = std::unique_ptr<std::remove_pointer_t<T>, CFReleaser>;

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
    CFHolder<CFLocaleRef> current(CFLocaleCopyCurrent());
    CFStringRef identifier = CFLocaleGetIdentifier(current.get());
    CFHolder<CFPropertyListRef> languages(
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
    CFHolder<CFStringRef> region(
        underscore.location == kCFNotFound
            ? CFStringCreateCopy(kCFAllocatorDefault, identifier)
            : CFStringCreateWithSubstring(
                  kCFAllocatorDefault, identifier,
                  CFRangeMake(underscore.location + 1, length - underscore.location - 1)));
    CFHolder<CFMutableStringRef> joined(CFStringCreateMutable(kCFAllocatorDefault, 0));
    CFStringAppend(joined.get(), language);
    CFStringAppend(joined.get(), CFSTR("_"));
    CFStringAppend(joined.get(), region.get());
    CFHolder<CFLocaleRef> combined(CFLocaleCreate(kCFAllocatorDefault, joined.get()));
    if (combined != nullptr) {
        CFStringRef canonical = CFLocaleGetIdentifier(combined.get());
        CFHolder<CFArrayRef> available(CFLocaleCopyAvailableLocaleIdentifiers());
        if (CFArrayContainsValue(available.get(), CFRangeMake(0, CFArrayGetCount(available.get())),
                                 canonical))
            return CopyText(canonical);
    }
    CFHolder<CFLocaleRef> languageOnly(CFLocaleCreate(kCFAllocatorDefault, language));
    return languageOnly != nullptr ? CopyText(CFLocaleGetIdentifier(languageOnly.get()))
                                   : CopyText(identifier);
}

CAtlString CResourceManagerMac::GetTranslatedDate(const char* date) {
    const CAtlString text(date);
    CFHolder<CFStringRef> input(text.CreateCFStringRef(kCFAllocatorDefault));
    const CAtlString localeName = GetCurrentLocale();
    CFHolder<CFStringRef> name(localeName.CreateCFStringRef(kCFAllocatorDefault));
    CFHolder<CFLocaleRef> locale(CFLocaleCreate(kCFAllocatorDefault, name.get()));
    if (input == nullptr || locale == nullptr)
        return text;
    CFHolder<CFDateFormatterRef> parser(CFDateFormatterCreate(
        kCFAllocatorDefault, locale.get(), kCFDateFormatterNoStyle, kCFDateFormatterNoStyle));
    if (parser == nullptr)
        return text;
    CFDateFormatterSetFormat(parser.get(), CFSTR("y-M-d"));
    CFHolder<CFDateRef> parsed(CFDateFormatterCreateDateFromString(
        kCFAllocatorDefault, parser.get(), input.get(), nullptr));
    if (parsed == nullptr)
        return text; // not a year-month-day date: shown as it came
    CFHolder<CFDateFormatterRef> writer(CFDateFormatterCreate(
        kCFAllocatorDefault, locale.get(), kCFDateFormatterLongStyle, kCFDateFormatterNoStyle));
    if (writer == nullptr)
        return text;
    CFHolder<CFStringRef> written(
        CFDateFormatterCreateStringWithDate(kCFAllocatorDefault, writer.get(), parsed.get()));
    return written != nullptr ? CopyText(written.get()) : text;
}
