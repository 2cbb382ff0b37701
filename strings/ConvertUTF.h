// Conversions between the Unicode encoding forms UTF-8, UTF-16 and UTF-32,
// and two builders of length-prefixed (Pascal) strings.
//
// The six ConvertXtoY routines follow the Unicode Consortium's published
// reference conversion routines in every detail, quirks included. Each takes
// the address of a source pointer, the source end, the address of a target
// pointer, the target end and a flag. It converts until the source ends, the
// target is full or an error occurs, and leaves both pointers where it
// stopped, so a caller can tell exactly how much was consumed and produced:
//
//   const UTF32 in[] = {0x1F600};  UTF16 out[1];
//   ConvertUTF32toUTF16(&src, in + 1, &dst, out + 1, strictConversion)
//     == targetExhausted, src still == in, dst still == out.
//
// strictConversion stops at ill-formed input (sourceIllegal, the source
// pointer on the offending unit); lenientConversion writes U+FFFD where the
// reference allows it. Every caller in this library passes strictConversion.
#pragma once

#include <cstdint>

typedef uint32_t UTF32;        // at least 32 bits
typedef char16_t UTF16;        // exactly 16 bits
typedef unsigned char UTF8;    // 8 bits
typedef unsigned char Boolean; // 0 or 1

#define UNI_REPLACEMENT_CHAR static_cast<UTF32>(0x0000FFFD)
#define UNI_MAX_BMP static_cast<UTF32>(0x0000FFFF)
#define UNI_MAX_UTF16 static_cast<UTF32>(0x0010FFFF)
#define UNI_MAX_UTF32 static_cast<UTF32>(0x7FFFFFFF)
#define UNI_MAX_LEGAL_UTF32 static_cast<UTF32>(0x0010FFFF)

enum ConversionResult {
    conversionOK = 0,    // conversion successful
    sourceExhausted = 1, // partial character in source, but hit end
    targetExhausted = 2, // insufficient room in target for conversion
    sourceIllegal = 3    // source sequence is illegal or malformed
};

enum ConversionFlags { strictConversion = 0, lenientConversion = 1 };

// Number of trailing bytes a UTF-8 sequence has, indexed by its first byte
// (0 for 0x00-0xBF, 1 for 0xC0-0xDF, 2, 3, then 4 and 5 for the obsolete
// five- and six-byte forms that the legality check rejects).
extern const char trailingBytesForUTF8[256];
// Magic values subtracted from a sequence's bytes summed with shifts, by
// number of trailing bytes: what remains is the code point.
extern const UTF32 offsetsFromUTF8[6];
// The marker bits of the first byte of a sequence, by total length 0-6.
extern const UTF8 firstByteMark[7];

ConversionResult ConvertUTF8toUTF16(const UTF8** sourceStart, const UTF8* sourceEnd,
                                    UTF16** targetStart, UTF16* targetEnd, ConversionFlags flags);
ConversionResult ConvertUTF16toUTF8(const UTF16** sourceStart, const UTF16* sourceEnd,
                                    UTF8** targetStart, UTF8* targetEnd, ConversionFlags flags);
ConversionResult ConvertUTF8toUTF32(const UTF8** sourceStart, const UTF8* sourceEnd,
                                    UTF32** targetStart, UTF32* targetEnd, ConversionFlags flags);
ConversionResult ConvertUTF32toUTF8(const UTF32** sourceStart, const UTF32* sourceEnd,
                                    UTF8** targetStart, UTF8* targetEnd, ConversionFlags flags);
ConversionResult ConvertUTF16toUTF32(const UTF16** sourceStart, const UTF16* sourceEnd,
                                     UTF32** targetStart, UTF32* targetEnd, ConversionFlags flags);
ConversionResult ConvertUTF32toUTF16(const UTF32** sourceStart, const UTF32* sourceEnd,
                                     UTF16** targetStart, UTF16* targetEnd, ConversionFlags flags);

// Whether the length bytes at source (1 to 4) form one legal UTF-8 sequence:
// no overlong form, no encoded surrogate, nothing above U+10FFFF. Any other
// length is illegal.
Boolean isLegalUTF8(const UTF8* source, int length);

// Whether the sequence starting at source, of the length its first byte
// announces, ends within sourceEnd and is legal.
Boolean isLegalUTF8Sequence(const UTF8* source, const UTF8* sourceEnd);

// Pascal strings: dst (256 bytes) receives a length byte and the characters of
// the zero-terminated src, without a terminator. A null or empty src gives a
// length of 0. More than 255 characters do not fit: the first 255 are kept.
void CToPStr(unsigned char* dst, char const* src);

// The same from a 16-bit string, each unit reduced to its low 8 bits with no
// '?' substitution: U+0141 becomes 0x41.
void WideToPStr(unsigned char* dst, char16_t const* src);
inline void WideToPStr(unsigned char* dst, unsigned short const* src) {
    WideToPStr(dst, reinterpret_cast<char16_t const*>(src));
}
