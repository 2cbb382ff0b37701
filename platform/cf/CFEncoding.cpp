// Text encodings: the conversion of bytes to a string and of units to bytes, one step per
// kind of encoding (CFEncodingTables.h says which kind an encoding is).
#include "platform/cf/CFEncodingTables.h"
#include "platform/cf/CFInternal.h"
#include "platform/cf/Utf8Codec.h"

#include <unicode/utf16.h>

#include <algorithm>
#include <cstring>
#include <vector>

using namespace orvik::cf;
using namespace orvik::cf::encoding;

namespace {

// ---------------------------------------------------------------------------------------
// Decoding
// ---------------------------------------------------------------------------------------

bool hostIsLittle() {
    const uint16_t one = 1;
    return *reinterpret_cast<const uint8_t*>(&one) == 1;
}

// Byte order for UTF-16/32 input: explicit for the BE/LE variants; for the plain one a
// byte-order mark decides (and is skipped), else big-endian for external data and host
// order otherwise.
bool unicodeInputLittle(CFStringEncoding enc, const UInt8*& p, CFIndex& n, bool external,
                        int width) {
    if (enc == kCFStringEncodingUTF16LE || enc == kCFStringEncodingUTF32LE)
        return true;
    if (enc == kCFStringEncodingUTF16BE || enc == kCFStringEncodingUTF32BE)
        return false;
    if (n >= width) {
        bool be = width == 2 ? (p[0] == 0xFE && p[1] == 0xFF)
                             : (p[0] == 0 && p[1] == 0 && p[2] == 0xFE && p[3] == 0xFF);
        bool le = width == 2 ? (p[0] == 0xFF && p[1] == 0xFE)
                             : (p[0] == 0xFF && p[1] == 0xFE && p[2] == 0 && p[3] == 0);
        if (be || le) {
            p += width;
            n -= width;
            return le;
        }
    }
    return external ? false : hostIsLittle();
}

// Keeps the original bytes next to the units when they can serve CFStringGetCStringPtr.
__CFString* newStringKeepingBytes(CFIndex units, const UInt8* bytes, CFIndex n,
                                  CFStringEncoding enc) {
    bool keep = n > 0 && std::memchr(bytes, 0, static_cast<size_t>(n)) == nullptr;
    __CFString* s = newString(units, keep ? n : 0);
    if (keep) {
        std::memcpy(s->bytes, bytes, static_cast<size_t>(n));
        s->bytes[n] = 0;
        s->bytesEncoding = enc;
    }
    return s;
}

__CFString* decodeUTF8(const UInt8* bytes, CFIndex n, CFStringEncoding enc, bool external) {
    if (external && n >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF) {
        bytes += 3;
        n -= 3;
    }
    ptrdiff_t units = orvik::utf8::DecodeStrict(bytes, static_cast<size_t>(n), nullptr);
    if (units < 0)
        return nullptr;
    __CFString* s = newStringKeepingBytes(units, bytes, n, enc);
    orvik::utf8::DecodeStrict(bytes, static_cast<size_t>(n), s->chars);
    return s;
}

// ISO Latin-1, and ASCII, which refuses bytes past 0x7F.
__CFString* decodeLatin1(const UInt8* bytes, CFIndex n, CFStringEncoding enc) {
    if (enc == kCFStringEncodingASCII)
        for (CFIndex i = 0; i < n; ++i)
            if (bytes[i] >= 0x80)
                return nullptr;
    __CFString* s = newStringKeepingBytes(n, bytes, n, enc);
    for (CFIndex i = 0; i < n; ++i)
        s->chars[i] = bytes[i];
    return s;
}

__CFString* decodeSingleByte(const SingleByteTable& table, const UInt8* bytes, CFIndex n,
                             CFStringEncoding enc) {
    // ASCII bytes are valid and map to themselves where the encoding keeps ASCII.
    CFIndex ascii =
        table.asciiSame ? static_cast<CFIndex>(asciiPrefix(bytes, static_cast<size_t>(n))) : 0;
    for (CFIndex i = ascii; i < n; ++i)
        if (!table.valid[bytes[i]])
            return nullptr;
    __CFString* s = table.asciiSame ? newStringKeepingBytes(n, bytes, n, enc) : newString(n);
    widenAscii(bytes, static_cast<size_t>(ascii), s->chars);
    for (CFIndex i = ascii; i < n; ++i)
        s->chars[i] = table.toUnicode[bytes[i]];
    return s;
}

__CFString* decodeUTF16(const UInt8* bytes, CFIndex n, CFStringEncoding enc, bool external) {
    bool little = unicodeInputLittle(enc, bytes, n, external, 2);
    if (n % 2 != 0)
        return nullptr;
    __CFString* s = newString(n / 2);
    for (CFIndex i = 0; i < n / 2; ++i) {
        const UInt8* q = bytes + 2 * i;
        s->chars[i] = little ? UniChar(q[0] | (q[1] << 8)) : UniChar((q[0] << 8) | q[1]);
    }
    return s;
}

__CFString* decodeUTF32(const UInt8* bytes, CFIndex n, CFStringEncoding enc, bool external) {
    bool little = unicodeInputLittle(enc, bytes, n, external, 4);
    if (n % 4 != 0)
        return nullptr;
    CFIndex units = 0;
    std::vector<uint32_t> cps(static_cast<size_t>(n / 4));
    for (CFIndex i = 0; i < n / 4; ++i) {
        const UInt8* q = bytes + 4 * i;
        uint32_t cp = little ? (q[0] | (q[1] << 8) | (q[2] << 16) | (uint32_t(q[3]) << 24))
                             : ((uint32_t(q[0]) << 24) | (q[1] << 16) | (q[2] << 8) | q[3]);
        if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
            return nullptr;
        cps[static_cast<size_t>(i)] = cp;
        units += cp >= 0x10000 ? 2 : 1;
    }
    __CFString* s = newString(units);
    CFIndex k = 0;
    for (uint32_t cp : cps) {
        if (cp >= 0x10000) {
            s->chars[k++] = static_cast<UniChar>(U16_LEAD(cp));
            s->chars[k++] = static_cast<UniChar>(U16_TRAIL(cp));
        } else {
            s->chars[k++] = static_cast<UniChar>(cp);
        }
    }
    return s;
}

__CFString* decodeMulti(const char* icuName, const UInt8* bytes, CFIndex n) {
    Converter c = openStopping(icuName);
    if (c == nullptr)
        return nullptr;
    std::vector<UChar> out(static_cast<size_t>(n) * 2 + 2);
    UErrorCode err = U_ZERO_ERROR;
    int32_t len =
        ucnv_toUChars(c.get(), out.data(), static_cast<int32_t>(out.size()),
                      reinterpret_cast<const char*>(bytes), static_cast<int32_t>(n), &err);
    if (U_FAILURE(err))
        return nullptr;
    __CFString* s = newString(len);
    std::memcpy(s->chars, out.data(), sizeof(UniChar) * static_cast<size_t>(len));
    return s;
}

// ---------------------------------------------------------------------------------------
// Encoding
// ---------------------------------------------------------------------------------------

// Where the bytes go: the caller's buffer, or only their count when there is none.
struct Sink {
    UInt8* buf;
    CFIndex max;
    CFIndex used = 0;
    bool counting() const { return buf == nullptr; }
    // Writes len bytes if they fit; false (nothing written) when they do not.
    bool put(const UInt8* b, CFIndex len) {
        if (!counting()) {
            if (used + len > max)
                return false;
            if (len <= 4) // one character's bytes: no call for them
                for (CFIndex k = 0; k < 4 && k < len; ++k)
                    buf[used + k] = b[k];
            else
                std::memcpy(buf + used, b, static_cast<size_t>(len));
        }
        used += len;
        return true;
    }
};

void putUnit(UInt8* b, uint32_t v, int width, bool little) {
    for (int k = 0; k < width; ++k) {
        int shift = little ? 8 * k : 8 * (width - 1 - k);
        b[k] = static_cast<UInt8>(v >> shift);
    }
}

// One conversion of units to bytes: the kind of encoding with its table or converter, the
// byte order of UTF-16 and UTF-32, and where the bytes go.
struct Encoder {
    Kind kind = Kind::Unknown;
    const SingleByteTable* table = nullptr;
    const char* icu = nullptr;
    Converter conv;
    bool little = hostIsLittle();
    Sink sink;

    // kindOf fills in locals: were the members' addresses to leave the object, every byte
    // written would make the compiler read them again.
    Encoder(CFStringEncoding enc, UInt8* buf, CFIndex maxLen) : sink{buf, maxLen} {
        const SingleByteTable* t = nullptr;
        const char* name = nullptr;
        kind = kindOf(enc, &t, &name);
        table = t;
        icu = name;
    }

    // The byte order, a byte-order mark ahead of external data, the converter; false when
    // nothing can be converted.
    bool start(CFStringEncoding enc, bool external) {
        if (kind == Kind::UTF16 || kind == Kind::UTF32) {
            const int width = kind == Kind::UTF16 ? 2 : 4;
            if (enc == kCFStringEncodingUTF16LE || enc == kCFStringEncodingUTF32LE)
                little = true;
            else if (enc == kCFStringEncodingUTF16BE || enc == kCFStringEncodingUTF32BE)
                little = false;
            else if (external) { // a byte-order mark in host order leads external data
                UInt8 bom[4];
                putUnit(bom, 0xFEFF, width, little);
                if (!sink.put(bom, width))
                    return false;
            }
        }
        if (kind == Kind::Multi)
            conv = openStopping(icu);
        return kind != Kind::Unknown && (kind != Kind::Multi || conv != nullptr);
    }

    CFIndex oneByteRun(const UniChar* s, CFIndex n);
    CFIndex encodeOne(const UniChar* at, CFIndex step, uint32_t cp, UInt8* out);
    CFIndex encodeMulti(const UniChar* at, CFIndex step, UInt8* out, size_t room);
    CFIndex encodeRest(const UniChar* s, CFIndex i, CFIndex n, UInt8 lossByte);
    void flush();
};

// Runs of characters that map to one byte each, straight into the buffer; returns where
// the run stopped. Anything else (multi-byte characters, losses, a full buffer) is left to
// encodeRest at that position.
CFIndex Encoder::oneByteRun(const UniChar* s, CFIndex n) {
    if (kind != Kind::UTF8 && kind != Kind::Latin1 && kind != Kind::ASCII &&
        kind != Kind::SingleByte)
        return 0;
    UInt8* buf = sink.buf;
    CFIndex room = sink.counting() ? n : std::min<CFIndex>(n, sink.max);
    UniChar limit = kind == Kind::Latin1 ? 0x100 : 0x80;
    bool asciiSame = kind != Kind::SingleByte || table->asciiSame;
    CFIndex i = 0;
    for (; i < room; ++i) {
        if (asciiSame) {
            i += static_cast<CFIndex>(
                narrowAscii(s + i, static_cast<size_t>(room - i), buf ? buf + i : nullptr));
            if (i >= room)
                break;
        }
        UniChar c = s[i];
        unsigned byte;
        if (c < limit)
            byte = c;
        else if (kind == Kind::SingleByte && table->fromUnicode[c] != 0xFFFF)
            byte = table->fromUnicode[c];
        else
            break;
        if (kind == Kind::SingleByte && c < 0x80 && !table->asciiSame)
            break; // not ASCII-transparent: let the table decide in encodeRest
        if (buf != nullptr)
            buf[i] = static_cast<UInt8>(byte);
    }
    sink.used = i;
    return i;
}

// The bytes of one code point through the converter; -1 when the encoding lacks it.
CFIndex Encoder::encodeMulti(const UniChar* at, CFIndex step, UInt8* out, size_t room) {
    UErrorCode err = U_ZERO_ERROR;
    char* target = reinterpret_cast<char*>(out);
    const UChar* src = reinterpret_cast<const UChar*>(at);
    ucnv_fromUnicode(conv.get(), &target, reinterpret_cast<char*>(out) + room, &src, src + step,
                     nullptr, false, &err);
    if (U_SUCCESS(err))
        return target - reinterpret_cast<char*>(out);
    ucnv_resetFromUnicode(conv.get());
    return -1;
}

// The bytes of one code point cp, the `step` units at `at` (a valid pair, or one unit, a
// lone surrogate too), into out (16 bytes); -1 when the encoding lacks it.
CFIndex Encoder::encodeOne(const UniChar* at, CFIndex step, uint32_t cp, UInt8* out) {
    const bool lone = U16_IS_SURROGATE(cp);
    switch (kind) {
    case Kind::UTF8:
        return lone ? -1 : static_cast<CFIndex>(orvik::utf8::AppendCodePoint(out, cp));
    case Kind::Latin1:
        out[0] = static_cast<UInt8>(cp);
        return cp < 0x100 ? 1 : -1;
    case Kind::ASCII:
        out[0] = static_cast<UInt8>(cp);
        return cp < 0x80 ? 1 : -1;
    case Kind::SingleByte:
        if (cp >= 0x10000 || table->fromUnicode[cp] == 0xFFFF)
            return -1;
        out[0] = static_cast<UInt8>(table->fromUnicode[cp]);
        return 1;
    case Kind::UTF16: // units pass through unchanged, lone surrogates included
        putUnit(out, at[0], 2, little);
        if (step == 2)
            putUnit(out + 2, at[1], 2, little);
        return 2 * step;
    case Kind::UTF32:
        if (lone)
            return -1;
        putUnit(out, cp, 4, little);
        return 4;
    case Kind::Multi:
        return lone ? -1 : encodeMulti(at, step, out, 16);
    case Kind::Unknown:
        break;
    }
    return -1;
}

// Code point by code point from i on; a character the encoding lacks becomes lossByte, or
// stops the conversion when that is 0, as a full buffer does. Returns where it stopped.
CFIndex Encoder::encodeRest(const UniChar* s, CFIndex i, CFIndex n, UInt8 lossByte) {
    while (i < n) {
        uint32_t cp = s[i];
        CFIndex step = 1;
        if (U16_IS_LEAD(cp) && i + 1 < n && U16_IS_TRAIL(s[i + 1])) {
            cp = U16_GET_SUPPLEMENTARY(cp, s[i + 1]);
            step = 2;
        }
        UInt8 out[16];
        CFIndex len = encodeOne(s + i, step, cp, out);
        if (len < 0) {
            if (lossByte == 0)
                break;
            out[0] = lossByte;
            len = 1;
        }
        if (!sink.put(out, len))
            break;
        i += step;
    }
    return i;
}

// Brings a stateful encoding (ISO-2022) back to its initial state.
void Encoder::flush() {
    if (conv == nullptr)
        return;
    UInt8 tail[16];
    char* target = reinterpret_cast<char*>(tail);
    const UChar* src = nullptr;
    UErrorCode err = U_ZERO_ERROR;
    ucnv_fromUnicode(conv.get(), &target, reinterpret_cast<char*>(tail) + sizeof tail, &src, src,
                     nullptr, true, &err);
    if (U_SUCCESS(err))
        sink.put(tail, target - reinterpret_cast<char*>(tail));
}

} // namespace

// ---------------------------------------------------------------------------------------
// Internal interface
// ---------------------------------------------------------------------------------------

bool orvik::cf::isAsciiCompatible(CFStringEncoding enc) {
    switch (enc) {
    case kCFStringEncodingMacRoman:
    case kCFStringEncodingUTF8:
    case kCFStringEncodingISOLatin1:
    case kCFStringEncodingASCII:
    case kCFStringEncodingWindowsLatin1:
        return true;
    default:
        break;
    }
    const SingleByteTable* table = nullptr;
    const char* icu = nullptr;
    return kindOf(enc, &table, &icu) == Kind::SingleByte && table->asciiSame;
}

__CFString* orvik::cf::decodeToString(const UInt8* bytes, CFIndex n, CFStringEncoding enc,
                                      bool external) {
    const SingleByteTable* table = nullptr;
    const char* icu = nullptr;
    switch (kindOf(enc, &table, &icu)) {
    case Kind::UTF8:
        return decodeUTF8(bytes, n, enc, external);
    case Kind::Latin1:
    case Kind::ASCII:
        return decodeLatin1(bytes, n, enc);
    case Kind::SingleByte:
        return decodeSingleByte(*table, bytes, n, enc);
    case Kind::UTF16:
        return decodeUTF16(bytes, n, enc, external);
    case Kind::UTF32:
        return decodeUTF32(bytes, n, enc, external);
    case Kind::Multi:
        return decodeMulti(icu, bytes, n);
    case Kind::Unknown:
        break;
    }
    return nullptr;
}

CFIndex orvik::cf::encodeUnits(const UniChar* s, CFIndex n, CFStringEncoding enc, UInt8 lossByte,
                               bool external, UInt8* buf, CFIndex maxLen, CFIndex* usedOut) {
    *usedOut = 0;
    Encoder encoder(enc, buf, maxLen);
    if (!encoder.start(enc, external))
        return 0;
    CFIndex i = encoder.oneByteRun(s, n);
    i = encoder.encodeRest(s, i, n, lossByte);
    encoder.flush();
    *usedOut = encoder.sink.used;
    return i;
}

// ---------------------------------------------------------------------------------------
// Public encoding queries
// ---------------------------------------------------------------------------------------

CFStringEncoding CFStringGetSystemEncoding(void) {
    return kCFStringEncodingUTF8;
}

Boolean CFStringIsEncodingAvailable(CFStringEncoding encoding) {
    const SingleByteTable* table = nullptr;
    const char* icu = nullptr;
    return kindOf(encoding, &table, &icu) != Kind::Unknown;
}

CFIndex CFStringGetMaximumSizeForEncoding(CFIndex length, CFStringEncoding encoding) {
    const SingleByteTable* table = nullptr;
    const char* icu = nullptr;
    switch (kindOf(encoding, &table, &icu)) {
    case Kind::UTF8:
        return length * 3;
    case Kind::UTF16:
        return length * 2;
    case Kind::UTF32:
        return length * 4;
    case Kind::Latin1:
    case Kind::ASCII:
    case Kind::SingleByte:
        return length;
    case Kind::Multi: {
        Converter c = openStopping(icu);
        int8_t max = c ? ucnv_getMaxCharSize(c.get()) : 4;
        return length * max + 8; // room for a stateful encoding's shifts
    }
    case Kind::Unknown:
        break;
    }
    return kCFNotFound;
}
