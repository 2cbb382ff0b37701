// UTF-8 for the whole platform library: one set of rules for every reader and
// writer of it. ASCII, which most text is, goes a register at a time; ICU's
// macros take over at the first other byte or unit. Private to platform/.
//
// Bytes are read in one of two ways:
//  - strict (CFString): the first ill-formed sequence fails the whole text;
//  - escaped (path text, as the file manager and file URLs both see it): a
//    byte that is not part of valid UTF-8 travels as the lone surrogate
//    U+DC80..U+DCFF, so a name on disk that is not UTF-8 survives the round
//    trip.
//
//   EncodePath(u"caf\u00E9/\xDC80")  -> "caf\xC3\xA9/\x80"
//   DecodePath("caf\xC3\xA9/\x80")   -> u"caf\u00E9/\xDC80"
//
// Valid means what ICU's U8_NEXT accepts: no overlong forms, no surrogates,
// nothing past U+10FFFF, and a continuation byte (0x80..0xBF) after every lead
// byte, 0xED and 0xF4 included, so ED 2F 80 cannot hide a "/".
#pragma once

#include <unicode/utf16.h>
#include <unicode/utf8.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace orvik::utf8 {

// ---- ASCII runs ---------------------------------------------------------------------------

// Widens the leading ASCII bytes of p[0..n) into dst, sixteen at a time where it can;
// returns how many were widened.
inline size_t widenAscii(const unsigned char* p, size_t n, char16_t* dst) {
    size_t i = 0;
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    for (; i + 16 <= n; i += 16) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
        if (_mm_movemask_epi8(v) != 0)
            break;
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i), _mm_unpacklo_epi8(v, zero));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i + 8), _mm_unpackhi_epi8(v, zero));
    }
    if (i < n && n >= 16 && i + 16 > n) {
        // The last few bytes: the sixteen that end the text, overlapping what is done.
        size_t last = n - 16;
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + last));
        if (_mm_movemask_epi8(v) == 0) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + last), _mm_unpacklo_epi8(v, zero));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + last + 8),
                             _mm_unpackhi_epi8(v, zero));
            return n;
        }
    }
#endif
    for (; i + 8 <= n; i += 8) {
        uint64_t w;
        std::memcpy(&w, p + i, 8);
        if (w & 0x8080808080808080ull)
            break;
        for (int k = 0; k < 8; ++k)
            dst[i + k] = p[i + k];
    }
    for (; i < n && p[i] < 0x80; ++i)
        dst[i] = p[i];
    return i;
}

// Narrows the leading ASCII units of s[0..n) into dst (dst may be NULL: only counts);
// returns how many there were.
inline size_t narrowAscii(const char16_t* s, size_t n, unsigned char* dst) {
    size_t i = 0;
#if defined(__SSE2__)
    const __m128i high = _mm_set1_epi16(static_cast<short>(0xFF80));
    const __m128i zero = _mm_setzero_si128();
    for (; i + 16 <= n; i += 16) {
        __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
        __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i + 8));
        __m128i any = _mm_and_si128(_mm_or_si128(a, b), high);
        if (_mm_movemask_epi8(_mm_cmpeq_epi16(any, zero)) != 0xFFFF)
            break;
        if (dst != nullptr)
            _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i), _mm_packus_epi16(a, b));
    }
    if (i < n && n >= 16 && i + 16 > n) {
        // The last few units: the sixteen that end the text, overlapping what is done.
        size_t last = n - 16;
        __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + last));
        __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + last + 8));
        __m128i any = _mm_and_si128(_mm_or_si128(a, b), high);
        if (_mm_movemask_epi8(_mm_cmpeq_epi16(any, zero)) == 0xFFFF) {
            if (dst != nullptr)
                _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + last), _mm_packus_epi16(a, b));
            return n;
        }
    }
#endif
    for (; i < n && s[i] < 0x80; ++i)
        if (dst != nullptr)
            dst[i] = static_cast<unsigned char>(s[i]);
    return i;
}

// The length of the leading run of ASCII bytes.
inline size_t asciiPrefix(const unsigned char* p, size_t n) {
    size_t i = 0;
#if defined(__SSE2__)
    for (; i + 16 <= n; i += 16)
        if (_mm_movemask_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i))) != 0)
            break;
#endif
    for (; i + 8 <= n; i += 8) {
        uint64_t w;
        std::memcpy(&w, p + i, 8);
        if (w & 0x8080808080808080ull)
            break;
    }
    while (i < n && p[i] < 0x80)
        ++i;
    return i;
}

// ---- One code point -----------------------------------------------------------------------

// The code point of the sequence at p (left >= 1 bytes there), its length in `length`; a
// negative value when no valid sequence starts at p.
inline UChar32 CodePointAt(const unsigned char* p, size_t left, size_t& length) {
    int32_t i = 0;
    UChar32 c;
    // A sequence is at most four bytes: the window keeps the length within int32_t.
    U8_NEXT(p, i, static_cast<int32_t>(left < 4 ? left : 4), c);
    length = static_cast<size_t>(i);
    return c;
}

// Length of the valid UTF-8 sequence at p (1..4), or 0 when the byte there does not
// start one.
inline size_t SequenceLength(const unsigned char* p, size_t left) {
    if (p[0] < 0x80)
        return 1;
    size_t length;
    return CodePointAt(p, left, length) < 0 ? 0 : length;
}

// Writes the bytes of c (a scalar value: no surrogate, at most U+10FFFF) at out; returns
// how many (1..4).
inline size_t AppendCodePoint(unsigned char* out, UChar32 c) {
    size_t n = 0;
    U8_APPEND_UNSAFE(out, n, c);
    return n;
}

// ---- Whole texts --------------------------------------------------------------------------

bool IsValid(const char* bytes, size_t length);

// Strict UTF-8 to UTF-16: the number of units, written to out unless it is NULL, or -1 at
// the first ill-formed sequence.
ptrdiff_t DecodeStrict(const unsigned char* bytes, size_t length, char16_t* out);

// The escaped reading of the (not ASCII) sequence at p: calls put(unit) for the one or two
// units it stands for, or for the escape of its first byte; returns the bytes consumed.
template <typename Put> size_t DecodeEscapedAt(const unsigned char* p, size_t left, Put& put) {
    size_t length;
    const UChar32 c = CodePointAt(p, left, length);
    if (c < 0) {
        put(static_cast<char16_t>(0xDC00 | p[0]));
        return 1;
    }
    if (U_IS_BMP(c)) {
        put(static_cast<char16_t>(c));
    } else {
        put(static_cast<char16_t>(U16_LEAD(c)));
        put(static_cast<char16_t>(U16_TRAIL(c)));
    }
    return length;
}

// Path bytes to units: calls put(unit) for every unit the bytes decode to, never more
// units than bytes.
template <typename Put> void DecodePath(std::string_view bytes, Put put) {
    auto p = reinterpret_cast<const unsigned char*>(bytes.data());
    const size_t n = bytes.size();
    for (size_t i = 0; i < n;) {
        if (p[i] < 0x80)
            put(static_cast<char16_t>(p[i++]));
        else
            i += DecodeEscapedAt(p + i, n - i, put);
    }
}

// The units of path bytes into out (replacing its content).
void DecodePath(std::string_view bytes, std::u16string& out);

// The bytes of `count` units of path text into out (replacing its content); false for a
// lone surrogate outside U+DC80..U+DCFF, which no byte stands for.
bool EncodePath(const char16_t* units, size_t count, std::string& out);

// UTF-16 to UTF-8 for text shown to people: a lone surrogate becomes U+FFFD.
std::string EncodeForDisplay(const char16_t* units, size_t count);

} // namespace orvik::utf8
