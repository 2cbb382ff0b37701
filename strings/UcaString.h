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
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cwchar>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

// The two 16-bit unit types every function accepts.
template <class T>
concept UcaUnit = std::same_as<T, char16_t> || std::same_as<T, unsigned short>;

// ---- length -----------------------------------------------------------------

// Number of units before the first zero: ucalen(u"abc") == 3. Eight units a
// step once aligned (paths thousands of units long are measured often); an
// aligned 16-byte read never crosses into another page, so reading past the
// zero within it is safe, though the address sanitizer cannot know that.
template <UcaUnit T> __attribute__((no_sanitize_address)) inline size_t ucalen(const T* s) {
    const T* p = s;
#if defined(__SSE2__)
    while ((reinterpret_cast<uintptr_t>(p) & 15) != 0) {
        if (*p == 0)
            return static_cast<size_t>(p - s);
        ++p;
    }
    const __m128i zero = _mm_setzero_si128();
    for (;; p += 8) {
        const __m128i units = _mm_load_si128(reinterpret_cast<const __m128i*>(p));
        if (const int zeros = _mm_movemask_epi8(_mm_cmpeq_epi16(units, zero)))
            return static_cast<size_t>(p - s) + static_cast<size_t>(__builtin_ctz(zeros)) / 2;
    }
#else
    while (*p != 0)
        ++p;
    return static_cast<size_t>(p - s);
#endif
}

// ---- copy, reverse, digits ----------------------------------------------------

// Copies k = min(n, ucalen(src)) units, then fills the remaining n - k units
// with zeros: no terminator when src has n units or more.
// ucancpy(dst, u"ab", 5) -> a b 0 0 0; ucancpy(dst, u"abcdefg", 5) -> a b c d e.
template <UcaUnit T> inline T* ucancpy(T* dst, const T* src, size_t n) {
    size_t k = 0;
    for (; k < n && src[k] != 0; ++k)
        dst[k] = src[k];
    for (; k < n; ++k)
        dst[k] = 0;
    return dst;
}

// src with its terminator into dst.
template <UcaUnit T> inline T* ucacpy(T* dst, const T* src) {
    return ucancpy(dst, src, ucalen(src) + 1);
}

// Reverses the units before the terminator in place: u"abc" -> u"cba".
template <UcaUnit T> inline T* ucareverse(T* s) {
    size_t n = ucalen(s);
    for (size_t i = 0, j = n; i + 1 < j; ++i, --j) {
        T t = s[i];
        s[i] = s[j - 1];
        s[j - 1] = t;
    }
    return s;
}

// Only '0' to '9' (0x30-0x39) are digits; the full-width U+FF11 is not.
inline bool isucdigit(unsigned int c) {
    return c >= 0x30 && c <= 0x39;
}

// The byte c as an unsigned value, as a unit: makeUCHFromCH('\xE9') == 0xE9.
inline char16_t makeUCHFromCH(char c) {
    return static_cast<char16_t>(static_cast<unsigned char>(c));
}

// ---- comparison ---------------------------------------------------------------
// Through the platform collation (UCCompareTextDefault): 0 when equal or
// equivalent, or when the collation call fails; otherwise the collation's
// order value, negative when a sorts first. The plain forms ignore
// composition and width differences (options 0x8006); the i forms also case
// (0x800E). The n forms compare at most n units of each string, each ending
// at its terminator: ucancmp(u"abcd", u"abxy", 2) == 0.

constexpr uint32_t kUcaCollateOptions = 0x8006;
constexpr uint32_t kUcaCollateCaseInsensitiveOptions = 0x800E;

// The shared step: collate a's na units with b's nb units.
int ucaCollate(const char16_t* a, size_t na, const char16_t* b, size_t nb, uint32_t options);

namespace orvik::uca {
// Units before the terminator, at most n.
template <UcaUnit T> inline size_t boundedLength(const T* s, size_t n) {
    size_t k = 0;
    if (s == nullptr)
        return 0; // a null string compares as empty
    while (k < n && s[k] != 0)
        ++k;
    return k;
}
template <UcaUnit T> inline const char16_t* as16(const T* s) {
    return reinterpret_cast<const char16_t*>(s);
}
template <UcaUnit T> inline int compare(const T* a, const T* b, size_t n, uint32_t options) {
    return ucaCollate(as16(a), boundedLength(a, n), as16(b), boundedLength(b, n), options);
}
} // namespace orvik::uca

template <UcaUnit T> inline int ucacmp(const T* a, const T* b) {
    return orvik::uca::compare(a, b, SIZE_MAX, kUcaCollateOptions);
}
template <UcaUnit T> inline int ucacoll(const T* a, const T* b) {
    return orvik::uca::compare(a, b, SIZE_MAX, kUcaCollateOptions);
}
template <UcaUnit T> inline int ucaicmp(const T* a, const T* b) {
    return orvik::uca::compare(a, b, SIZE_MAX, kUcaCollateCaseInsensitiveOptions);
}
template <UcaUnit T> inline int ucaicoll(const T* a, const T* b) {
    return orvik::uca::compare(a, b, SIZE_MAX, kUcaCollateCaseInsensitiveOptions);
}
template <UcaUnit T> inline int ucancmp(const T* a, const T* b, size_t n) {
    return orvik::uca::compare(a, b, n, kUcaCollateOptions);
}
template <UcaUnit T> inline int ucancoll(const T* a, const T* b, size_t n) {
    return orvik::uca::compare(a, b, n, kUcaCollateOptions);
}
template <UcaUnit T> inline int ucanicmp(const T* a, const T* b, size_t n) {
    return orvik::uca::compare(a, b, n, kUcaCollateCaseInsensitiveOptions);
}
template <UcaUnit T> inline int ucanicoll(const T* a, const T* b, size_t n) {
    return orvik::uca::compare(a, b, n, kUcaCollateCaseInsensitiveOptions);
}

// ---- search and numbers -------------------------------------------------------

// The first occurrence of needle in hay, found literally and case-sensitively
// by the platform's CFStringFind. A null or empty needle returns hay; no
// match (or a platform string that cannot be made) returns null.
const char16_t* ucaFind(const char16_t* hay, const char16_t* needle);
template <UcaUnit T> inline T* ucastr(const T* hay, const T* needle) {
    return const_cast<T*>(
        reinterpret_cast<const T*>(ucaFind(orvik::uca::as16(hay), orvik::uca::as16(needle))));
}

// The leading integer as CFStringGetIntValue reads it ("  -12ab" -> -12); 0
// when there is none or the string cannot be made. A null s gives 0.
int ucaToInt(const char16_t* s);
template <UcaUnit T> inline int ucatoi(const T* s) {
    return ucaToInt(orvik::uca::as16(s));
}

// The leading number as CFStringGetDoubleValue reads it; 0.0 on failure.
double ucaToDouble(const char16_t* s);
template <UcaUnit T> inline double ucatof(const T* s) {
    return ucaToDouble(orvik::uca::as16(s));
}

// ---- printf family ------------------------------------------------------------
// Formatting goes through the platform engine (CFStringCreateWithFormatAndArguments)
// with its printf directives, "%s" taking an 8-bit string and "%S" a 16-bit one.
// A format or result the platform cannot make gives -1 and writes nothing.

// Formats and hands back the units in a new block (delete[]), their count in
// *count; null on failure. The shared step of every printf function.
char16_t* ucaFormat(const char16_t* fmt, va_list args, size_t* count);

// The units written raw to stream as 16-bit items in the machine's byte
// order, no terminator, no byte-order mark; returns the stream write's item
// count. A null stream gives -1.
int ucaWriteFormatted(FILE* stream, const char16_t* fmt, va_list args);

template <UcaUnit T> inline int vfucaprintf(FILE* stream, const T* fmt, va_list args) {
    return ucaWriteFormatted(stream, orvik::uca::as16(fmt), args);
}
template <UcaUnit T> inline int fucaprintf(FILE* stream, const T* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    int r = vfucaprintf(stream, fmt, args);
    va_end(args);
    return r;
}
template <UcaUnit T> inline int vucaprintf(const T* fmt, va_list args) {
    return vfucaprintf(stdout, fmt, args);
}
template <UcaUnit T> inline int ucaprintf(const T* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    int r = vfucaprintf(stdout, fmt, args);
    va_end(args);
    return r;
}

// All formatted units into dst (which must be large enough), then a zero;
// returns the number of units without the terminator.
int ucaFormatInto(char16_t* dst, const char16_t* fmt, va_list args);
template <UcaUnit T> inline int vsucaprintf(T* dst, const T* fmt, va_list args) {
    return ucaFormatInto(reinterpret_cast<char16_t*>(dst), orvik::uca::as16(fmt), args);
}
template <UcaUnit T> inline int sucaprintf(T* dst, const T* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    int r = vsucaprintf(dst, fmt, args);
    va_end(args);
    return r;
}

// At most size - 1 formatted units into dst, then a zero after them; returns
// size whatever the text's length. size 4 and "abcdef" -> a b c 0, result 4.
// A size of 0 writes nothing and gives -1.
int ucaFormatIntoSized(char16_t* dst, size_t size, const char16_t* fmt, va_list args);
template <UcaUnit T> inline int vsnucaprintf(T* dst, size_t size, const T* fmt, va_list args) {
    return ucaFormatIntoSized(reinterpret_cast<char16_t*>(dst), size, orvik::uca::as16(fmt), args);
}
template <UcaUnit T> inline int snucaprintf(T* dst, size_t size, const T* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    int r = vsnucaprintf(dst, size, fmt, args);
    va_end(args);
    return r;
}

// value in radix 10 ("%d"), 16 ("%x") or 8 ("%o") into buf with a terminator;
// returns buf. Any other radix, or a null buf, returns null and writes
// nothing. 12 units hold every 32-bit value: itouca(255, buf, 16) -> u"ff".
template <UcaUnit T> inline T* itouca(int value, T* buf, int radix) {
    const char16_t* fmt = radix == 10 ? u"%d" : radix == 16 ? u"%x" : radix == 8 ? u"%o" : nullptr;
    if (fmt == nullptr || buf == nullptr)
        return nullptr;
    sucaprintf(reinterpret_cast<char16_t*>(buf), fmt, value);
    return buf;
}

// ---- scanf family ---------------------------------------------------------------
// src and fmt are widened to WCA32 strings and handed to the C library's
// vswscanf, whose result comes back. Numeric directives behave as usual;
// string directives store 32-bit characters ("%ls") or multibyte bytes ("%s"),
// never 16-bit units.
int ucaScan(const char16_t* src, const char16_t* fmt, va_list args);
template <UcaUnit T> inline int vsucascanf(const T* src, const T* fmt, va_list args) {
    return ucaScan(orvik::uca::as16(src), orvik::uca::as16(fmt), args);
}
template <UcaUnit T> inline int sucascanf(const T* src, const T* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    int r = vsucascanf(src, fmt, args);
    va_end(args);
    return r;
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

// ---- conversions between WCA32 and UCA ----------------------------------------
// Strict UTF-32 <-> UTF-16 (the reference routines of ConvertUTF.h): a
// character above U+FFFF takes two units; a full destination stops the
// conversion (2, target exhausted); an unpaired surrogate or a value above
// U+10FFFF gives 3 (source illegal). Results: n itself when n < 1 (no work),
// else the conversion result (0 when all converted).

// n 32-bit characters into at most n units of dst; no terminator.
int WCA32toUCA16(const wchar_t* src, char16_t* dst, int n);
template <UcaUnit T> inline int WCA32toUCA(const wchar_t* src, T* dst, int n) {
    return WCA32toUCA16(src, reinterpret_cast<char16_t*>(dst), n);
}

// n units into at most n 32-bit characters of dst; no terminator.
int UCA16toWCA32(const char16_t* src, wchar_t* dst, int n);
template <UcaUnit T> inline int UCAtoWCA32(const T* src, wchar_t* dst, int n) {
    return UCA16toWCA32(orvik::uca::as16(src), dst, n);
}

// Converts n characters of src strictly into at most room units of dst and
// returns how many units it wrote. The step beneath makeUCAFromWCA32.
size_t ucaConvertFromWCA32(const wchar_t* src, size_t n, char16_t* dst, size_t room);

// A new block of wcslen(s) + 1 units: s converted (stopping where strict
// conversion stops) and a zero right after what was converted. A null s is
// taken as empty. Free with delete[].
template <UcaUnit T = char16_t> inline T* makeUCAFromWCA32(const wchar_t* s) {
    size_t n = s ? wcslen(s) : 0;
    T* out = new T[n + 1];
    size_t done = ucaConvertFromWCA32(s, n, reinterpret_cast<char16_t*>(out), n);
    out[done] = 0;
    return out;
}

// A new block of ucalen(s) + 1 WCA32 characters: s converted and a zero right
// after what was converted. A null s is taken as empty. Free with freeWCA32Str.
wchar_t* makeWCA32FromUCA16(const char16_t* s);
template <UcaUnit T> inline wchar_t* makeWCA32FromUCA(const T* s) {
    return makeWCA32FromUCA16(orvik::uca::as16(s));
}

// delete[] of p unless p is null.
inline void freeWCA32Str(wchar_t* p) {
    delete[] p;
}
