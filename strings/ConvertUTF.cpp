// The Unicode encoding-form conversions. The control flow mirrors the
// published reference routines step for step, because callers (and their
// tests) depend on exactly where the pointers stop and which result comes
// back, including the reference's quirks: in strict mode a UTF-32 value above
// U+10FFFF is recorded as sourceIllegal but skipped or replaced rather than
// stopping the loop, and a five- or six-byte UTF-8 lead byte near the source
// end reports sourceExhausted before its legality is looked at. One deliberate
// difference: the second byte of a sequence led by 0xED or 0xF4 must be a
// continuation byte (0x80 and up); some published copies let "ED 00 80" pass.
#include "strings/ConvertUTF.h"

namespace {

constexpr int halfShift = 10; // used for shifting by 10 bits
constexpr UTF32 halfBase = 0x0010000UL;
constexpr UTF32 halfMask = 0x3FFUL;

constexpr UTF32 UNI_SUR_HIGH_START = 0xD800;
constexpr UTF32 UNI_SUR_HIGH_END = 0xDBFF;
constexpr UTF32 UNI_SUR_LOW_START = 0xDC00;
constexpr UTF32 UNI_SUR_LOW_END = 0xDFFF;

constexpr UTF32 byteMask = 0xBF;
constexpr UTF32 byteMark = 0x80;

// Writes ch as bytesToWrite UTF-8 bytes ending just before end (the reference
// fills a sequence from its last byte back to its first).
void writeUTF8Backwards(UTF32 ch, int bytesToWrite, UTF8* end) {
    UTF8* p = end;
    for (int i = bytesToWrite; i > 1; --i) {
        *--p = static_cast<UTF8>((ch | byteMark) & byteMask);
        ch >>= 6;
    }
    *--p = static_cast<UTF8>(ch | firstByteMark[bytesToWrite]);
}

// Sums the 1 + extraBytesToRead bytes of a sequence, each shifted in by six
// bits, then removes the marker bits in one subtraction; advances source.
UTF32 readUTF8(const UTF8*& source, int extraBytesToRead) {
    UTF32 ch = 0;
    for (int i = extraBytesToRead; i > 0; --i) {
        ch += *source++;
        ch <<= 6;
    }
    ch += *source++;
    return ch - offsetsFromUTF8[extraBytesToRead];
}

// UTF-8 length of a code point, as the reference counts it.
int utf8Length(UTF32 ch) {
    if (ch < 0x80)
        return 1;
    if (ch < 0x800)
        return 2;
    if (ch < 0x10000)
        return 3;
    return 4;
}

} // namespace

const char trailingBytesForUTF8[256] = {
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,
    2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 3, 3, 3, 3, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5};

const UTF32 offsetsFromUTF8[6] = {0x00000000UL, 0x00003080UL, 0x000E2080UL,
                                  0x03C82080UL, 0xFA082080UL, 0x82082080UL};

const UTF8 firstByteMark[7] = {0x00, 0x00, 0xC0, 0xE0, 0xF0, 0xF8, 0xFC};

ConversionResult ConvertUTF32toUTF16(const UTF32** sourceStart, const UTF32* sourceEnd,
                                     UTF16** targetStart, UTF16* targetEnd, ConversionFlags flags) {
    ConversionResult result = conversionOK;
    const UTF32* source = *sourceStart;
    UTF16* target = *targetStart;
    while (source < sourceEnd) {
        if (target >= targetEnd) {
            result = targetExhausted;
            break;
        }
        UTF32 ch = *source++;
        if (ch <= UNI_MAX_BMP) {
            // Surrogate values are not characters in UTF-32.
            if (ch >= UNI_SUR_HIGH_START && ch <= UNI_SUR_LOW_END) {
                if (flags == strictConversion) {
                    --source; // return to the illegal value itself
                    result = sourceIllegal;
                    break;
                }
                *target++ = static_cast<UTF16>(UNI_REPLACEMENT_CHAR);
            } else {
                *target++ = static_cast<UTF16>(ch);
            }
        } else if (ch > UNI_MAX_LEGAL_UTF32) {
            if (flags == strictConversion) {
                result = sourceIllegal; // recorded; the value is skipped
            } else {
                *target++ = static_cast<UTF16>(UNI_REPLACEMENT_CHAR);
            }
        } else {
            // A supplementary character takes a surrogate pair.
            if (target + 1 >= targetEnd) {
                --source;
                result = targetExhausted;
                break;
            }
            ch -= halfBase;
            *target++ = static_cast<UTF16>((ch >> halfShift) + UNI_SUR_HIGH_START);
            *target++ = static_cast<UTF16>((ch & halfMask) + UNI_SUR_LOW_START);
        }
    }
    *sourceStart = source;
    *targetStart = target;
    return result;
}

namespace {

// The common front of both UTF-16 readers: joins a surrogate pair, and in
// strict mode stops at an unpaired surrogate. Returns conversionOK with ch
// set and source advanced, or the result that ends the loop with source on
// the offending unit.
ConversionResult readUTF16(const UTF16*& source, const UTF16* sourceEnd, ConversionFlags flags,
                           UTF32& ch) {
    ch = *source++;
    if (ch >= UNI_SUR_HIGH_START && ch <= UNI_SUR_HIGH_END) {
        if (source >= sourceEnd) {
            --source; // the low half may still come in a later call
            return sourceExhausted;
        }
        UTF32 ch2 = *source;
        if (ch2 >= UNI_SUR_LOW_START && ch2 <= UNI_SUR_LOW_END) {
            ch = ((ch - UNI_SUR_HIGH_START) << halfShift) + (ch2 - UNI_SUR_LOW_START) + halfBase;
            ++source;
        } else if (flags == strictConversion) { // unpaired high surrogate
            --source;
            return sourceIllegal;
        }
    } else if (flags == strictConversion && ch >= UNI_SUR_LOW_START && ch <= UNI_SUR_LOW_END) {
        --source; // unpaired low surrogate
        return sourceIllegal;
    }
    return conversionOK;
}

} // namespace

ConversionResult ConvertUTF16toUTF32(const UTF16** sourceStart, const UTF16* sourceEnd,
                                     UTF32** targetStart, UTF32* targetEnd, ConversionFlags flags) {
    ConversionResult result = conversionOK;
    const UTF16* source = *sourceStart;
    UTF32* target = *targetStart;
    while (source < sourceEnd) {
        const UTF16* oldSource = source; // to back up when the target is full
        UTF32 ch;
        result = readUTF16(source, sourceEnd, flags, ch);
        if (result != conversionOK)
            break;
        if (target >= targetEnd) {
            source = oldSource;
            result = targetExhausted;
            break;
        }
        *target++ = ch;
    }
    *sourceStart = source;
    *targetStart = target;
    return result;
}

ConversionResult ConvertUTF16toUTF8(const UTF16** sourceStart, const UTF16* sourceEnd,
                                    UTF8** targetStart, UTF8* targetEnd, ConversionFlags flags) {
    ConversionResult result = conversionOK;
    const UTF16* source = *sourceStart;
    UTF8* target = *targetStart;
    while (source < sourceEnd) {
        if (*source < 0x80) { // ASCII: one byte, same result as below
            if (target >= targetEnd) {
                result = targetExhausted;
                break;
            }
            *target++ = static_cast<UTF8>(*source++);
            continue;
        }
        const UTF16* oldSource = source;
        UTF32 ch;
        result = readUTF16(source, sourceEnd, flags, ch);
        if (result != conversionOK)
            break;
        int bytesToWrite = utf8Length(ch);
        if (ch >= 0x110000) { // cannot come from UTF-16; kept as the reference has it
            bytesToWrite = 3;
            ch = UNI_REPLACEMENT_CHAR;
        }
        if (targetEnd - target < bytesToWrite) {
            source = oldSource;
            result = targetExhausted;
            break;
        }
        target += bytesToWrite;
        writeUTF8Backwards(ch, bytesToWrite, target);
    }
    *sourceStart = source;
    *targetStart = target;
    return result;
}

ConversionResult ConvertUTF32toUTF8(const UTF32** sourceStart, const UTF32* sourceEnd,
                                    UTF8** targetStart, UTF8* targetEnd, ConversionFlags flags) {
    ConversionResult result = conversionOK;
    const UTF32* source = *sourceStart;
    UTF8* target = *targetStart;
    while (source < sourceEnd) {
        UTF32 ch = *source++;
        if (flags == strictConversion && ch >= UNI_SUR_HIGH_START && ch <= UNI_SUR_LOW_END) {
            --source; // surrogate values are illegal in UTF-32
            result = sourceIllegal;
            break;
        }
        // Values beyond the last plane become U+FFFD, flagged but not fatal.
        int bytesToWrite;
        if (ch <= UNI_MAX_LEGAL_UTF32) {
            bytesToWrite = utf8Length(ch);
        } else {
            bytesToWrite = 3;
            ch = UNI_REPLACEMENT_CHAR;
            result = sourceIllegal;
        }
        if (targetEnd - target < bytesToWrite) {
            --source;
            result = targetExhausted;
            break;
        }
        target += bytesToWrite;
        writeUTF8Backwards(ch, bytesToWrite, target);
    }
    *sourceStart = source;
    *targetStart = target;
    return result;
}

Boolean isLegalUTF8(const UTF8* source, int length) {
    if (length < 1 || length > 4)
        return false;
    const UTF8* srcptr = source + length;
    UTF8 a = 0;
    // Trailing bytes from the last back to the second: 0x80 to 0xBF.
    switch (length) {
    case 4:
        if ((a = (*--srcptr)) < 0x80 || a > 0xBF)
            return false;
        [[fallthrough]];
    case 3:
        if ((a = (*--srcptr)) < 0x80 || a > 0xBF)
            return false;
        [[fallthrough]];
    case 2:
        // The lower bound matters for 0xED and 0xF4, whose cases below check
        // only the upper one: without it "ED 2F 80" would hide a '/' inside a
        // three-byte sequence.
        if ((a = (*--srcptr)) < 0x80 || a > 0xBF)
            return false;
        // The second byte's range depends on the first: it rules out overlong
        // three- and four-byte forms, encoded surrogates and values past U+10FFFF.
        switch (*source) {
        case 0xE0:
            if (a < 0xA0)
                return false;
            break;
        case 0xED:
            if (a > 0x9F)
                return false;
            break;
        case 0xF0:
            if (a < 0x90)
                return false;
            break;
        case 0xF4:
            if (a > 0x8F)
                return false;
            break;
        default:
            if (a < 0x80)
                return false;
        }
        [[fallthrough]];
    case 1:
        // A lone trailing byte or an overlong two-byte lead.
        if (*source >= 0x80 && *source < 0xC2)
            return false;
    }
    if (*source > 0xF4)
        return false;
    return true;
}

Boolean isLegalUTF8Sequence(const UTF8* source, const UTF8* sourceEnd) {
    int length = trailingBytesForUTF8[*source] + 1;
    if (length > sourceEnd - source)
        return false;
    return isLegalUTF8(source, length);
}

ConversionResult ConvertUTF8toUTF16(const UTF8** sourceStart, const UTF8* sourceEnd,
                                    UTF16** targetStart, UTF16* targetEnd, ConversionFlags flags) {
    ConversionResult result = conversionOK;
    const UTF8* source = *sourceStart;
    UTF16* target = *targetStart;
    while (source < sourceEnd) {
        // ASCII, the common case, takes the same path as the general code
        // below in far fewer steps.
        if (*source < 0x80) {
            if (target >= targetEnd) {
                result = targetExhausted;
                break;
            }
            *target++ = *source++;
            continue;
        }
        int extraBytesToRead = trailingBytesForUTF8[*source];
        if (extraBytesToRead >= sourceEnd - source) {
            result = sourceExhausted;
            break;
        }
        // Checked in lenient mode too: an ill-formed sequence is never decoded.
        if (!isLegalUTF8(source, extraBytesToRead + 1)) {
            result = sourceIllegal;
            break;
        }
        UTF32 ch = readUTF8(source, extraBytesToRead);
        if (target >= targetEnd) {
            source -= (extraBytesToRead + 1);
            result = targetExhausted;
            break;
        }
        if (ch <= UNI_MAX_BMP) {
            if (ch >= UNI_SUR_HIGH_START && ch <= UNI_SUR_LOW_END) {
                if (flags == strictConversion) {
                    source -= (extraBytesToRead + 1);
                    result = sourceIllegal;
                    break;
                }
                *target++ = static_cast<UTF16>(UNI_REPLACEMENT_CHAR);
            } else {
                *target++ = static_cast<UTF16>(ch);
            }
        } else if (ch > UNI_MAX_UTF16) {
            if (flags == strictConversion) {
                result = sourceIllegal;
                source -= (extraBytesToRead + 1);
                break;
            }
            *target++ = static_cast<UTF16>(UNI_REPLACEMENT_CHAR);
        } else {
            if (target + 1 >= targetEnd) {
                source -= (extraBytesToRead + 1);
                result = targetExhausted;
                break;
            }
            ch -= halfBase;
            *target++ = static_cast<UTF16>((ch >> halfShift) + UNI_SUR_HIGH_START);
            *target++ = static_cast<UTF16>((ch & halfMask) + UNI_SUR_LOW_START);
        }
    }
    *sourceStart = source;
    *targetStart = target;
    return result;
}

ConversionResult ConvertUTF8toUTF32(const UTF8** sourceStart, const UTF8* sourceEnd,
                                    UTF32** targetStart, UTF32* targetEnd, ConversionFlags flags) {
    ConversionResult result = conversionOK;
    const UTF8* source = *sourceStart;
    UTF32* target = *targetStart;
    while (source < sourceEnd) {
        int extraBytesToRead = trailingBytesForUTF8[*source];
        if (extraBytesToRead >= sourceEnd - source) {
            result = sourceExhausted;
            break;
        }
        if (!isLegalUTF8(source, extraBytesToRead + 1)) {
            result = sourceIllegal;
            break;
        }
        UTF32 ch = readUTF8(source, extraBytesToRead);
        if (target >= targetEnd) {
            source -= (extraBytesToRead + 1);
            result = targetExhausted;
            break;
        }
        if (ch <= UNI_MAX_LEGAL_UTF32) {
            if (ch >= UNI_SUR_HIGH_START && ch <= UNI_SUR_LOW_END) {
                if (flags == strictConversion) {
                    source -= (extraBytesToRead + 1);
                    result = sourceIllegal;
                    break;
                }
                *target++ = UNI_REPLACEMENT_CHAR;
            } else {
                *target++ = ch;
            }
        } else { // beyond the last plane: flagged, replaced, not fatal
            result = sourceIllegal;
            *target++ = UNI_REPLACEMENT_CHAR;
        }
    }
    *sourceStart = source;
    *targetStart = target;
    return result;
}

void CToPStr(unsigned char* dst, char const* src) {
    unsigned count = 0;
    if (src != nullptr) {
        while (src[count] != 0 && count < 255) {
            dst[count + 1] = static_cast<unsigned char>(src[count]);
            ++count;
        }
    }
    dst[0] = static_cast<unsigned char>(count);
}

void WideToPStr(unsigned char* dst, char16_t const* src) {
    unsigned count = 0;
    if (src != nullptr) {
        while (src[count] != 0 && count < 255) {
            dst[count + 1] = static_cast<unsigned char>(src[count] & 0xFF);
            ++count;
        }
    }
    dst[0] = static_cast<unsigned char>(count);
}
