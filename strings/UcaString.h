// Zero-terminated strings of 16-bit UTF-16 units ("UCA strings").
//
// Contract, once for the whole family:
// - A UCA string is a run of 16-bit units ending with a zero unit. Every
//   function exists for char16_t and for unsigned short; both behave
//   identically (one template serves both, or a thin inline forwarder).
// - A CA string is 8-bit bytes ending with a zero byte. Bytes and units
//   correspond by value (ISO 8859-1); narrowing turns units from 256 up into
//   '?'.
// - A WCA32 string is the C library's wchar_t string (32 bits per character),
//   as wcslen and vswscanf handle it.
// - Functions whose name begins with make return a new block from array new;
//   the caller frees it with array delete (freeWCA32Str for WCA32 blocks).
//   Functions with a destination write into the caller's buffer, which must
//   be large enough: no size is checked beyond what each line states.
// - Strings must be non-null unless a line says otherwise.
#pragma once

#include <concepts>
#include <cstddef>
#include <cstring>

// The two 16-bit unit types every function accepts.
template <class T>
concept UcaUnit = std::same_as<T, char16_t> || std::same_as<T, unsigned short>;

// ---- length -----------------------------------------------------------------

// Number of units before the first zero: ucalen(u"abc") == 3.
template <UcaUnit T> inline size_t ucalen(const T* s) {
    const T* p = s;
    while (*p != 0)
        ++p;
    return static_cast<size_t>(p - s);
}

// ---- conversions between CA and UCA ----------------------------------------

// Widens min(strlen(src), n) bytes into dst; writes no terminator. n <= 0 or a
// null src does nothing. CAtoUCA("ab\xE9", dst, 5) writes 0x61 0x62 0xE9.
template <UcaUnit T> inline void CAtoUCA(const char* src, T* dst, long n) {
    if (n <= 0 || src == nullptr)
        return;
    size_t len = strlen(src);
    size_t k = len < static_cast<size_t>(n) ? len : static_cast<size_t>(n);
    for (size_t i = 0; i < k; ++i)
        dst[i] = static_cast<T>(static_cast<unsigned char>(src[i]));
}

// Narrows exactly n units into dst (a unit below 0x100 becomes that byte,
// any other '?') and writes a zero byte at dst[n]: dst holds n + 1 bytes.
// n <= 0 does nothing. UCAtoCA({0xFF, 0x100}, dst, 2) writes FF 3F 00.
template <UcaUnit T> inline void UCAtoCA(const T* src, char* dst, long n) {
    if (n <= 0)
        return;
    for (long i = 0; i < n; ++i) {
        unsigned u = src[i];
        dst[i] = static_cast<char>(u < 0x100 ? u : 0x3F);
    }
    dst[n] = 0;
}

// A new UCA string of strlen(s) + 1 units: the widened bytes and a zero.
// A null s is taken as empty. Free with delete[].
template <UcaUnit T = char16_t> inline T* makeUCAFromCA(const char* s) {
    size_t n = s ? strlen(s) : 0;
    T* out = new T[n + 1];
    for (size_t i = 0; i < n; ++i)
        out[i] = static_cast<T>(static_cast<unsigned char>(s[i]));
    out[n] = 0;
    return out;
}

// A new CA string of ucalen(s) + 1 bytes: the narrowed units and a zero.
// An empty (or null) s yields null. Free with delete[].
template <UcaUnit T> inline char* makeCAFromUCA(const T* s) {
    if (s == nullptr || s[0] == 0)
        return nullptr;
    size_t n = ucalen(s);
    char* out = new char[n + 1];
    UCAtoCA(s, out, static_cast<long>(n));
    return out;
}
