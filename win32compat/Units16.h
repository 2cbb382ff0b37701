// The unsigned short twins of the 16-bit calls read their text as char16_t,
// which has the same size and representation. Private to win32compat/.
#pragma once

namespace orvik::win {

inline const char16_t* U16(const unsigned short* s) {
    return reinterpret_cast<const char16_t*>(s);
}
inline char16_t* U16(unsigned short* s) {
    return reinterpret_cast<char16_t*>(s);
}

} // namespace orvik::win
