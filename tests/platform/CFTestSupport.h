// What the tests of the platform's string-valued services share.
#pragma once

#include <string>
#include <string_view>

#include "platform/CFRef.h"
#include "platform/CoreFoundation.h"
#include "tests/TestSupport.h"

namespace cftest {

using orvik::CFRef;
using Str = orvik::CFRef<CFStringRef>;

// Clears the language variables for the test's duration.
struct NoLanguage {
    testsupport::ScopedEnv language{"LANGUAGE", nullptr}, all{"LC_ALL", nullptr},
        messages{"LC_MESSAGES", nullptr}, lang{"LANG", nullptr};
};

// A new string of exactly these units.
inline CFStringRef Make(std::u16string_view text) {
    return CFStringCreateWithCharacters(nullptr, reinterpret_cast<const UniChar*>(text.data()),
                                        static_cast<CFIndex>(text.size()));
}

// A string's units; u"<none>" for a null string.
inline std::u16string Units(CFStringRef string) {
    if (string == nullptr)
        return u"<none>";
    std::u16string out(static_cast<size_t>(CFStringGetLength(string)), u'\0');
    CFStringGetCharacters(string, CFRangeMake(0, CFStringGetLength(string)),
                          reinterpret_cast<UniChar*>(out.data()));
    return out;
}

// The units of a string the caller owns, which is released.
inline std::u16string Take(CFStringRef string) {
    const Str owned(string);
    return Units(string);
}

// A platform string's text as UTF-8; "<none>" for a null string or one that cannot be
// converted.
inline std::string Utf8(CFStringRef string) {
    char text[1024];
    return string != nullptr && CFStringGetCString(string, text, sizeof text, kCFStringEncodingUTF8)
               ? text
               : "<none>";
}

// Utf8 of a string the caller owns, which is released.
inline std::string TakeUtf8(CFStringRef string) {
    const Str owned(string);
    return Utf8(string);
}

} // namespace cftest
