// Helpers for the string-class tests: exact contents (operator== of the classes collates), and
// the header record of a string's buffer.
#pragma once

#include "strings/AtlString.h"

#include <string>

inline std::u16string Units(const CAtlString& s) {
    return std::u16string(s.GetString(), s.GetLength());
}
inline std::string Bytes(const CAtlStringA& s) {
    return std::string(s.GetString(), s.GetLength());
}
inline int Refs(const CAtlString& s) {
    return s.GetData()->refCount;
}
inline int Refs(const CAtlStringA& s) {
    return s.GetData()->refCount;
}
inline bool IsNil(const CAtlString& s) {
    return s.GetString() == _afxPchNil;
}
inline bool IsNil(const CAtlStringA& s) {
    return s.GetString() == _afxPchANil;
}

// Readable failure output for 16-bit text.
inline std::string Show(const std::u16string& s) {
    std::string out;
    for (char16_t c : s) {
        if (c >= 0x20 && c < 0x7F) {
            out += char(c);
        } else {
            char buf[12];
            snprintf(buf, sizeof buf, "\\u%04X", unsigned(c));
            out += buf;
        }
    }
    return out;
}
