// What the tests of the platform's string-valued services share.
#pragma once

#include <string>
#include <string_view>

#include "platform/CFRef.h"
#include "platform/CoreFoundation.h"

namespace cftest {

using orvik::CFRef;
using Str = orvik::CFRef<CFStringRef>;

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
    const std::u16string units = Units(string);
    if (string != nullptr)
        CFRelease(string);
    return units;
}

// A platform string's text as UTF-8 for comparisons and messages; "<none>" for
// a null string or one that cannot be converted.
inline std::string Utf8(CFStringRef string) {
    if (string == nullptr)
        return "<none>";
    const CFIndex size =
        CFStringGetMaximumSizeForEncoding(CFStringGetLength(string), kCFStringEncodingUTF8) + 1;
    std::string text(static_cast<size_t>(size), '\0');
    if (!CFStringGetCString(string, text.data(), size, kCFStringEncodingUTF8))
        return "<none>";
    text.resize(text.find('\0'));
    return text;
}

// Utf8 of a string the caller owns, which is released.
inline std::string TakeUtf8(CFStringRef string) {
    const std::string text = Utf8(string);
    if (string != nullptr)
        CFRelease(string);
    return text;
}

} // namespace cftest
