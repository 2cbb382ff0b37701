// A platform string's text as bytes in one encoding, for the layers that hand
// text to byte-oriented interfaces (file names, syslog, libplist).
//
//   CFStringBytes(CFSTR("caf\u00E9"))                           -> "caf\xC3\xA9"
//   CFStringBytes(text, CFStringGetSystemEncoding())           -> the system's bytes
#pragma once

#include <cstring>
#include <string>

#include "platform/CoreFoundation.h"

// Empty for a null string, or when a character has no form in the encoding.
inline std::string CFStringBytes(CFStringRef string,
                                 CFStringEncoding encoding = kCFStringEncodingUTF8) {
    if (string == nullptr)
        return std::string();
    const CFIndex size = CFStringGetMaximumSizeForEncoding(CFStringGetLength(string), encoding) + 1;
    std::string bytes(static_cast<size_t>(size), '\0');
    if (!CFStringGetCString(string, bytes.data(), size, encoding))
        return std::string();
    bytes.resize(std::strlen(bytes.c_str()));
    return bytes;
}
