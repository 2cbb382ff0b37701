// Locales over ICU: the user's current locale and the ones available.
#include "platform/CFLocale.h"
#include "platform/CFRef.h"

#include "platform/CFRuntime.h"
#include "platform/intl/LocaleEnvironment.h"

#include <new>
#include <string>
#include <unicode/uloc.h>

struct __CFLocale {
    CFRuntimeBase base;
    CFStringRef identifier;
};

namespace {

void FinalizeLocale(CFTypeRef cf) {
    auto* locale = static_cast<__CFLocale*>(const_cast<void*>(cf));
    if (locale->identifier != nullptr)
        CFRelease(locale->identifier);
}

Boolean EqualLocales(CFTypeRef a, CFTypeRef b) {
    return CFEqual(static_cast<const __CFLocale*>(a)->identifier,
                   static_cast<const __CFLocale*>(b)->identifier);
}

const CFRuntimeClass kLocaleClass = {"CFLocale", FinalizeLocale, EqualLocales, nullptr, nullptr};

std::string Utf8(CFStringRef string) {
    char buffer[ULOC_FULLNAME_CAPACITY * 2] = {};
    if (string == nullptr ||
        !CFStringGetCString(string, buffer, sizeof buffer, kCFStringEncodingUTF8))
        return std::string();
    return buffer;
}

CFStringRef MakeString(const std::string& text) {
    return CFStringCreateWithCString(kCFAllocatorDefault, text.c_str(), kCFStringEncodingUTF8);
}

// ICU's canonical identifier, or "" when the text names no language.
std::string Canonical(const std::string& identifier) {
    if (identifier.empty())
        return std::string();
    for (char c : identifier) {
        const bool allowed = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                             (c >= '0' && c <= '9') || c == '_' || c == '-' || c == '@' ||
                             c == '=' || c == '.' || c == ';';
        if (!allowed)
            return std::string();
    }
    char buffer[ULOC_FULLNAME_CAPACITY] = {};
    UErrorCode error = U_ZERO_ERROR;
    if (identifier.find('-') != std::string::npos && identifier.find('_') == std::string::npos) {
        int32_t parsed = 0;
        uloc_forLanguageTag(identifier.c_str(), buffer, sizeof buffer, &parsed, &error);
        if (U_FAILURE(error) || parsed != static_cast<int32_t>(identifier.size()))
            return std::string();
    } else {
        uloc_canonicalize(identifier.c_str(), buffer, sizeof buffer, &error);
        if (U_FAILURE(error) || error == U_STRING_NOT_TERMINATED_WARNING)
            return std::string();
    }
    char language[ULOC_LANG_CAPACITY] = {};
    error = U_ZERO_ERROR;
    const int32_t length = uloc_getLanguage(buffer, language, sizeof language, &error);
    if (U_FAILURE(error) || length < 2 || length > 8)
        return std::string();
    for (int32_t i = 0; i < length; ++i)
        if (language[i] < 'a' || language[i] > 'z')
            return std::string();
    return buffer;
}

CFTypeID LocaleTypeID() {
    static const CFTypeID id = _CFRuntimeRegisterClass(&kLocaleClass);
    return id;
}

} // namespace

CFTypeID CFLocaleGetTypeID(void) {
    return LocaleTypeID();
}

CFLocaleRef CFLocaleCreate(CFAllocatorRef allocator, CFStringRef localeIdentifier) {
    const std::string canonical = Canonical(Utf8(localeIdentifier));
    if (canonical.empty())
        return nullptr;
    orvik::CFRef<CFStringRef> identifier(MakeString(canonical));
    if (!identifier)
        return nullptr;
    auto* locale = static_cast<__CFLocale*>(
        const_cast<void*>(_CFRuntimeCreateInstance(allocator, LocaleTypeID(), sizeof(__CFLocale))));
    if (locale == nullptr)
        return nullptr;
    locale->identifier = identifier.release(); // the locale's own from here on
    return locale;
}

CFLocaleRef CFLocaleCopyCurrent(void) {
    std::string name = orvik::platform::LocaleFromEnvironment();
    if (Canonical(name).empty())
        name = "en_US_POSIX";
    const orvik::CFRef<CFStringRef> identifier(MakeString(name));
    return CFLocaleCreate(kCFAllocatorDefault, identifier.get());
}

CFStringRef CFLocaleGetIdentifier(CFLocaleRef locale) {
    return locale != nullptr ? locale->identifier : nullptr;
}

CFArrayRef CFLocaleCopyAvailableLocaleIdentifiers(void) {
    CFMutableArrayRef array = CFArrayCreateMutable(kCFAllocatorDefault, 0, &kCFTypeArrayCallBacks);
    const int32_t count = uloc_countAvailable();
    for (int32_t i = 0; i < count; ++i) {
        const orvik::CFRef<CFStringRef> identifier(MakeString(uloc_getAvailable(i)));
        if (identifier)
            CFArrayAppendValue(array, identifier.get());
    }
    return array;
}

CFStringRef CFLocaleCreateCanonicalLocaleIdentifierFromString(CFAllocatorRef,
                                                              CFStringRef localeIdentifier) {
    const std::string canonical = Canonical(Utf8(localeIdentifier));
    return canonical.empty() ? nullptr : MakeString(canonical);
}

CFArrayRef CFLocaleCopyPreferredLanguages(void) {
    CFMutableArrayRef array = CFArrayCreateMutable(kCFAllocatorDefault, 0, &kCFTypeArrayCallBacks);
    for (const std::string& tag : orvik::platform::LanguagesFromEnvironment()) {
        const orvik::CFRef<CFStringRef> language(MakeString(tag));
        if (language)
            CFArrayAppendValue(array, language.get());
    }
    return array;
}
