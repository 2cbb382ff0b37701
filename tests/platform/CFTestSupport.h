// What the tests of the platform's string-valued services share.
#pragma once

#include <string>

#include "platform/CoreFoundation.h"

namespace cftest {

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

} // namespace cftest
