// Text encodings: UTF-8, UTF-16, UTF-32, ASCII and ISO Latin-1 by hand; every other
// encoding through ICU converters. Single-byte encodings (MacRoman, the Windows and DOS
// code pages, ISO 8859) are turned into two lookup tables once, on first use, so that
// converting them never calls ICU again.
#include "platform/CFInternal.h"

#include <unicode/ucnv.h>
#include <unicode/utf16.h>

#include <array>
#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

using namespace cfimpl;

namespace {

// ---------------------------------------------------------------------------------------
// Encoding table
// ---------------------------------------------------------------------------------------

struct EncodingInfo {
    CFStringEncoding encoding;
    UInt32 codepage;  // Windows code page, 0 when none
    const char* icu;  // ICU converter name, NULL for the hand-written ones
    const char* iana; // name for CFStringConvertEncodingToIANACharSetName
};

const EncodingInfo kEncodings[] = {
    {kCFStringEncodingMacRoman, 10000, "macintosh", "macintosh"},
    {kCFStringEncodingUTF8, 65001, nullptr, "UTF-8"},
    {kCFStringEncodingISOLatin1, 28591, nullptr, "ISO-8859-1"},
    {kCFStringEncodingASCII, 20127, nullptr, "US-ASCII"},
    {kCFStringEncodingUTF16, 0, nullptr, "UTF-16"},
    {kCFStringEncodingUTF16LE, 1200, nullptr, "UTF-16LE"},
    {kCFStringEncodingUTF16BE, 1201, nullptr, "UTF-16BE"},
    {kCFStringEncodingUTF32, 0, nullptr, "UTF-32"},
    {kCFStringEncodingUTF32LE, 12000, nullptr, "UTF-32LE"},
    {kCFStringEncodingUTF32BE, 12001, nullptr, "UTF-32BE"},
    {kCFStringEncodingWindowsLatin1, 1252, "windows-1252", "windows-1252"},
    {kCFStringEncodingWindowsLatin2, 1250, "windows-1250", "windows-1250"},
    {kCFStringEncodingWindowsCyrillic, 1251, "windows-1251", "windows-1251"},
    {kCFStringEncodingWindowsGreek, 1253, "windows-1253", "windows-1253"},
    {kCFStringEncodingWindowsLatin5, 1254, "windows-1254", "windows-1254"},
    {kCFStringEncodingWindowsHebrew, 1255, "windows-1255", "windows-1255"},
    {kCFStringEncodingWindowsArabic, 1256, "windows-1256", "windows-1256"},
    {kCFStringEncodingWindowsBalticRim, 1257, "windows-1257", "windows-1257"},
    {kCFStringEncodingWindowsVietnamese, 1258, "windows-1258", "windows-1258"},
    {kCFStringEncodingDOSLatinUS, 437, "ibm-437", "cp437"},
    {kCFStringEncodingDOSGreek, 737, "ibm-737", "cp737"},
    {kCFStringEncodingDOSBalticRim, 775, "ibm-775", "cp775"},
    {kCFStringEncodingDOSLatin1, 850, "ibm-850", "cp850"},
    {kCFStringEncodingDOSGreek1, 851, "ibm-851", "cp851"},
    {kCFStringEncodingDOSLatin2, 852, "ibm-852", "cp852"},
    {kCFStringEncodingDOSCyrillic, 855, "ibm-855", "cp855"},
    {kCFStringEncodingDOSTurkish, 857, "ibm-857", "cp857"},
    {kCFStringEncodingDOSPortuguese, 860, "ibm-860", "cp860"},
    {kCFStringEncodingDOSIcelandic, 861, "ibm-861", "cp861"},
    {kCFStringEncodingDOSHebrew, 862, "ibm-862", "cp862"},
    {kCFStringEncodingDOSCanadianFrench, 863, "ibm-863", "cp863"},
    {kCFStringEncodingDOSArabic, 864, "ibm-864", "cp864"},
    {kCFStringEncodingDOSNordic, 865, "ibm-865", "cp865"},
    {kCFStringEncodingDOSRussian, 866, "ibm-866", "cp866"},
    {kCFStringEncodingDOSGreek2, 869, "ibm-869", "cp869"},
    {kCFStringEncodingDOSThai, 874, "windows-874", "windows-874"},
    {kCFStringEncodingDOSJapanese, 932, "windows-932", "cp932"},
    {kCFStringEncodingDOSChineseSimplif, 936, "windows-936", "GBK"},
    {kCFStringEncodingDOSKorean, 949, "windows-949", "cp949"},
    {kCFStringEncodingDOSChineseTrad, 950, "windows-950", "cp950"},
    {kCFStringEncodingMacGreek, 10006, "x-mac-greek", "x-mac-greek"},
    {kCFStringEncodingMacCyrillic, 10007, "x-mac-cyrillic", "x-mac-cyrillic"},
    {kCFStringEncodingMacCentralEurRoman, 10029, "x-mac-centraleurroman", "x-mac-ce"},
    {kCFStringEncodingMacTurkish, 10081, "x-mac-turkish", "x-mac-turkish"},
    {kCFStringEncodingISOLatin2, 28592, "ISO-8859-2", "ISO-8859-2"},
    {kCFStringEncodingISOLatin3, 28593, "ISO-8859-3", "ISO-8859-3"},
    {kCFStringEncodingISOLatin4, 28594, "ISO-8859-4", "ISO-8859-4"},
    {kCFStringEncodingISOLatinCyrillic, 28595, "ISO-8859-5", "ISO-8859-5"},
    {kCFStringEncodingISOLatinArabic, 28596, "ISO-8859-6", "ISO-8859-6"},
    {kCFStringEncodingISOLatinGreek, 28597, "ISO-8859-7", "ISO-8859-7"},
    {kCFStringEncodingISOLatinHebrew, 28598, "ISO-8859-8", "ISO-8859-8"},
    {kCFStringEncodingISOLatin5, 28599, "ISO-8859-9", "ISO-8859-9"},
    {kCFStringEncodingISOLatin6, 0, "ISO-8859-10", "ISO-8859-10"},
    {kCFStringEncodingISOLatinThai, 0, "ISO-8859-11", "ISO-8859-11"},
    {kCFStringEncodingISOLatin7, 28603, "ISO-8859-13", "ISO-8859-13"},
    {kCFStringEncodingISOLatin8, 0, "ISO-8859-14", "ISO-8859-14"},
    {kCFStringEncodingISOLatin9, 28605, "ISO-8859-15", "ISO-8859-15"},
    {kCFStringEncodingKOI8_R, 20866, "KOI8-R", "KOI8-R"},
    {kCFStringEncodingKOI8_U, 21866, "KOI8-U", "KOI8-U"},
    {kCFStringEncodingShiftJIS, 0, "Shift_JIS", "Shift_JIS"},
    {kCFStringEncodingEUC_JP, 51932, "EUC-JP", "EUC-JP"},
    {kCFStringEncodingEUC_KR, 51949, "EUC-KR", "EUC-KR"},
    {kCFStringEncodingEUC_CN, 0, "GB2312", "GB2312"},
    {kCFStringEncodingGB_18030_2000, 54936, "GB18030", "GB18030"},
    {kCFStringEncodingBig5, 0, "Big5", "Big5"},
    {kCFStringEncodingISO_2022_JP, 50220, "ISO-2022-JP", "ISO-2022-JP"},
};
constexpr size_t kEncodingCount = sizeof(kEncodings) / sizeof(kEncodings[0]);

const EncodingInfo* findEncoding(CFStringEncoding enc) {
    for (const auto& e : kEncodings)
        if (e.encoding == enc)
            return &e;
    return nullptr;
}

enum class Kind { Unknown, UTF8, Latin1, ASCII, UTF16, UTF32, SingleByte, Multi };

// ---------------------------------------------------------------------------------------
// Single-byte tables built from ICU
// ---------------------------------------------------------------------------------------

struct SingleByteTable {
    UniChar toUnicode[256];
    bool valid[256];
    std::unique_ptr<uint16_t[]> fromUnicode; // 65536 entries; 0xFFFF: not in the encoding
    bool asciiSame;                          // bytes 0..0x7F are ASCII
};

struct IcuState {
    std::once_flag once;
    std::atomic<bool> built{false}; // once has run: later calls skip call_once
    bool available = false;
    bool singleByte = false;
    std::unique_ptr<SingleByteTable> table;
};

IcuState gIcu[kEncodingCount];

UConverter* openStopping(const char* name) {
    UErrorCode err = U_ZERO_ERROR;
    UConverter* c = ucnv_open(name, &err);
    if (U_FAILURE(err))
        return nullptr;
    err = U_ZERO_ERROR;
    ucnv_setToUCallBack(c, UCNV_TO_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &err);
    ucnv_setFromUCallBack(c, UCNV_FROM_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &err);
    return c;
}

void buildIcuState(const EncodingInfo& info, IcuState& st) {
    UConverter* c = openStopping(info.icu);
    if (c == nullptr)
        return;
    st.available = true;
    if (ucnv_getMaxCharSize(c) == 1 && ucnv_getType(c) == UCNV_SBCS) {
        auto t = std::make_unique<SingleByteTable>();
        t->fromUnicode = std::make_unique<uint16_t[]>(65536);
        std::fill(t->fromUnicode.get(), t->fromUnicode.get() + 65536, uint16_t(0xFFFF));
        for (int b = 0; b < 256; ++b) {
            char in = static_cast<char>(b);
            UChar out[4];
            UErrorCode err = U_ZERO_ERROR;
            ucnv_reset(c);
            int32_t n = ucnv_toUChars(c, out, 4, &in, 1, &err);
            t->valid[b] = U_SUCCESS(err) && n == 1;
            t->toUnicode[b] = t->valid[b] ? out[0] : 0;
            if (t->valid[b] && t->fromUnicode[out[0]] == 0xFFFF)
                t->fromUnicode[out[0]] = static_cast<uint16_t>(b);
        }
        t->asciiSame = true;
        for (int b = 0; b < 0x80; ++b)
            t->asciiSame = t->asciiSame && t->valid[b] && t->toUnicode[b] == b;
        st.table = std::move(t);
        st.singleByte = true;
    }
    ucnv_close(c);
}

IcuState* icuState(const EncodingInfo* info) {
    if (info == nullptr || info->icu == nullptr)
        return nullptr;
    IcuState& st = gIcu[info - kEncodings];
    if (!st.built.load(std::memory_order_acquire))
        std::call_once(st.once, [&] {
            buildIcuState(*info, st);
            st.built.store(true, std::memory_order_release);
        });
    return st.available ? &st : nullptr;
}

// Mac OS Roman's table once built: the 8-bit strings of the string classes convert through
// it on every call, so it is found without the search through the encodings.
std::atomic<const SingleByteTable*> gMacRomanTable{nullptr};

Kind kindOf(CFStringEncoding enc, const SingleByteTable** table, const char** icuName) {
    if (enc == kCFStringEncodingMacRoman) {
        if (const SingleByteTable* t = gMacRomanTable.load(std::memory_order_acquire)) {
            *table = t;
            return Kind::SingleByte;
        }
    }
    switch (enc) {
    case kCFStringEncodingUTF8:
        return Kind::UTF8;
    case kCFStringEncodingISOLatin1:
        return Kind::Latin1;
    case kCFStringEncodingASCII:
        return Kind::ASCII;
    case kCFStringEncodingUTF16:
    case kCFStringEncodingUTF16BE:
    case kCFStringEncodingUTF16LE:
        return Kind::UTF16;
    case kCFStringEncodingUTF32:
    case kCFStringEncodingUTF32BE:
    case kCFStringEncodingUTF32LE:
        return Kind::UTF32;
    default:
        break;
    }
    const EncodingInfo* info = findEncoding(enc);
    IcuState* st = icuState(info);
    if (st == nullptr)
        return Kind::Unknown;
    if (st->singleByte) {
        *table = st->table.get();
        if (enc == kCFStringEncodingMacRoman)
            gMacRomanTable.store(*table, std::memory_order_release);
        return Kind::SingleByte;
    }
    *icuName = info->icu;
    return Kind::Multi;
}

// ---------------------------------------------------------------------------------------
// Decoding
// ---------------------------------------------------------------------------------------

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF. Returns the
// number of UTF-16 units, or -1. With out, writes them.
CFIndex decodeUTF8(const UInt8* p, CFIndex n, UniChar* out) {
    CFIndex units = 0;
    CFIndex i = 0;
    while (i < n) {
        UInt8 b = p[i];
        if (b < 0x80) {
            size_t run = out ? widenAscii(p + i, static_cast<size_t>(n - i), out + units)
                             : asciiPrefix(p + i, static_cast<size_t>(n - i));
            units += static_cast<CFIndex>(run);
            i += static_cast<CFIndex>(run);
            continue;
        }
        uint32_t cp;
        int extra;
        uint32_t min;
        if (b >= 0xC2 && b <= 0xDF) {
            cp = b & 0x1F, extra = 1, min = 0x80;
        } else if (b >= 0xE0 && b <= 0xEF) {
            cp = b & 0x0F, extra = 2, min = 0x800;
        } else if (b >= 0xF0 && b <= 0xF4) {
            cp = b & 0x07, extra = 3, min = 0x10000;
        } else {
            return -1;
        }
        if (n - i <= extra)
            return -1;
        for (int k = 1; k <= extra; ++k) {
            UInt8 c = p[i + k];
            if ((c & 0xC0) != 0x80)
                return -1;
            cp = (cp << 6) | (c & 0x3F);
        }
        if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
            return -1;
        i += extra + 1;
        if (cp >= 0x10000) {
            if (out) {
                out[units] = static_cast<UniChar>(U16_LEAD(cp));
                out[units + 1] = static_cast<UniChar>(U16_TRAIL(cp));
            }
            units += 2;
        } else {
            if (out)
                out[units] = static_cast<UniChar>(cp);
            ++units;
        }
    }
    return units;
}

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

__CFString* decodeMulti(const char* icuName, const UInt8* bytes, CFIndex n) {
    UConverter* c = openStopping(icuName);
    if (c == nullptr)
        return nullptr;
    std::vector<UChar> out(static_cast<size_t>(n) * 2 + 2);
    UErrorCode err = U_ZERO_ERROR;
    int32_t len =
        ucnv_toUChars(c, out.data(), static_cast<int32_t>(out.size()),
                      reinterpret_cast<const char*>(bytes), static_cast<int32_t>(n), &err);
    ucnv_close(c);
    if (U_FAILURE(err))
        return nullptr;
    __CFString* s = newString(len);
    std::memcpy(s->chars, out.data(), sizeof(UniChar) * static_cast<size_t>(len));
    return s;
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

// ---------------------------------------------------------------------------------------
// Encoding
// ---------------------------------------------------------------------------------------

// Appends the bytes of one code point; false when the encoding lacks it.
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

} // namespace

// ---------------------------------------------------------------------------------------
// Internal interface
// ---------------------------------------------------------------------------------------

bool cfimpl::isAsciiCompatible(CFStringEncoding enc) {
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

__CFString* cfimpl::decodeToString(const UInt8* bytes, CFIndex n, CFStringEncoding enc,
                                   bool external) {
    const SingleByteTable* table = nullptr;
    const char* icu = nullptr;
    switch (kindOf(enc, &table, &icu)) {
    case Kind::UTF8: {
        if (external && n >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF) {
            bytes += 3;
            n -= 3;
        }
        CFIndex units = decodeUTF8(bytes, n, nullptr);
        if (units < 0)
            return nullptr;
        __CFString* s = newStringKeepingBytes(units, bytes, n, enc);
        decodeUTF8(bytes, n, s->chars);
        return s;
    }
    case Kind::Latin1:
    case Kind::ASCII: {
        if (enc == kCFStringEncodingASCII)
            for (CFIndex i = 0; i < n; ++i)
                if (bytes[i] >= 0x80)
                    return nullptr;
        __CFString* s = newStringKeepingBytes(n, bytes, n, enc);
        for (CFIndex i = 0; i < n; ++i)
            s->chars[i] = bytes[i];
        return s;
    }
    case Kind::SingleByte: {
        // ASCII bytes are valid and map to themselves where the encoding keeps ASCII.
        CFIndex ascii =
            table->asciiSame ? static_cast<CFIndex>(asciiPrefix(bytes, static_cast<size_t>(n))) : 0;
        for (CFIndex i = ascii; i < n; ++i)
            if (!table->valid[bytes[i]])
                return nullptr;
        __CFString* s = table->asciiSame ? newStringKeepingBytes(n, bytes, n, enc) : newString(n);
        widenAscii(bytes, static_cast<size_t>(ascii), s->chars);
        for (CFIndex i = ascii; i < n; ++i)
            s->chars[i] = table->toUnicode[bytes[i]];
        return s;
    }
    case Kind::UTF16: {
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
    case Kind::UTF32: {
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
    case Kind::Multi:
        return decodeMulti(icu, bytes, n);
    case Kind::Unknown:
        break;
    }
    return nullptr;
}

CFIndex cfimpl::encodeUnits(const UniChar* s, CFIndex n, CFStringEncoding enc, UInt8 lossByte,
                            bool external, UInt8* buf, CFIndex maxLen, CFIndex* usedOut) {
    const SingleByteTable* table = nullptr;
    const char* icu = nullptr;
    Kind kind = kindOf(enc, &table, &icu);
    Sink sink{buf, maxLen};
    CFIndex i = 0;
    *usedOut = 0;
    if (kind == Kind::Unknown)
        return 0;

    bool little = hostIsLittle();
    int width = kind == Kind::UTF16 ? 2 : 4;
    if (kind == Kind::UTF16 || kind == Kind::UTF32) {
        if (enc == kCFStringEncodingUTF16LE || enc == kCFStringEncodingUTF32LE)
            little = true;
        else if (enc == kCFStringEncodingUTF16BE || enc == kCFStringEncodingUTF32BE)
            little = false;
        else if (external) { // a byte-order mark in host order leads external data
            UInt8 bom[4];
            putUnit(bom, 0xFEFF, width, little);
            if (!sink.put(bom, width))
                return 0;
        }
    }

    UConverter* conv = kind == Kind::Multi ? openStopping(icu) : nullptr;
    if (kind == Kind::Multi && conv == nullptr)
        return 0;

    // Fast path: runs of characters that map to one byte each, straight into the buffer.
    // Anything else (multi-byte characters, losses, a full buffer) falls to the general
    // loop below at the same position.
    if (kind == Kind::UTF8 || kind == Kind::Latin1 || kind == Kind::ASCII ||
        kind == Kind::SingleByte) {
        CFIndex room = sink.counting() ? n : std::min<CFIndex>(n, sink.max);
        UniChar limit = kind == Kind::Latin1 ? 0x100 : 0x80;
        bool asciiSame = kind != Kind::SingleByte || table->asciiSame;
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
                break; // not ASCII-transparent: let the table decide below
            if (buf != nullptr)
                buf[i] = static_cast<UInt8>(byte);
        }
        sink.used = i;
    }

    while (i < n) {
        // One code point: a valid surrogate pair, or one unit (a lone surrogate too).
        uint32_t cp = s[i];
        CFIndex step = 1;
        if (U16_IS_LEAD(cp) && i + 1 < n && U16_IS_TRAIL(s[i + 1])) {
            cp = U16_GET_SUPPLEMENTARY(cp, s[i + 1]);
            step = 2;
        }
        bool lone = U16_IS_SURROGATE(cp);
        UInt8 out[16];
        CFIndex len = -1; // -1: the encoding lacks this character
        switch (kind) {
        case Kind::UTF8:
            if (lone) {
            } else if (cp < 0x80) {
                out[0] = static_cast<UInt8>(cp), len = 1;
            } else if (cp < 0x800) {
                out[0] = static_cast<UInt8>(0xC0 | (cp >> 6));
                out[1] = static_cast<UInt8>(0x80 | (cp & 0x3F)), len = 2;
            } else if (cp < 0x10000) {
                out[0] = static_cast<UInt8>(0xE0 | (cp >> 12));
                out[1] = static_cast<UInt8>(0x80 | ((cp >> 6) & 0x3F));
                out[2] = static_cast<UInt8>(0x80 | (cp & 0x3F)), len = 3;
            } else {
                out[0] = static_cast<UInt8>(0xF0 | (cp >> 18));
                out[1] = static_cast<UInt8>(0x80 | ((cp >> 12) & 0x3F));
                out[2] = static_cast<UInt8>(0x80 | ((cp >> 6) & 0x3F));
                out[3] = static_cast<UInt8>(0x80 | (cp & 0x3F)), len = 4;
            }
            break;
        case Kind::Latin1:
            if (cp < 0x100)
                out[0] = static_cast<UInt8>(cp), len = 1;
            break;
        case Kind::ASCII:
            if (cp < 0x80)
                out[0] = static_cast<UInt8>(cp), len = 1;
            break;
        case Kind::SingleByte:
            if (cp < 0x10000 && table->fromUnicode[cp] != 0xFFFF)
                out[0] = static_cast<UInt8>(table->fromUnicode[cp]), len = 1;
            break;
        case Kind::UTF16: // units pass through unchanged, lone surrogates included
            putUnit(out, s[i], 2, little);
            if (step == 2)
                putUnit(out + 2, s[i + 1], 2, little);
            len = 2 * step;
            break;
        case Kind::UTF32:
            if (!lone)
                putUnit(out, cp, 4, little), len = 4;
            break;
        case Kind::Multi: {
            if (lone)
                break;
            UErrorCode err = U_ZERO_ERROR;
            char* target = reinterpret_cast<char*>(out);
            const UChar* src = reinterpret_cast<const UChar*>(s + i);
            ucnv_fromUnicode(conv, &target, reinterpret_cast<char*>(out) + sizeof out, &src,
                             src + step, nullptr, false, &err);
            if (U_SUCCESS(err))
                len = target - reinterpret_cast<char*>(out);
            else
                ucnv_resetFromUnicode(conv);
            break;
        }
        case Kind::Unknown:
            break;
        }
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
    if (conv != nullptr) {
        // Flush a stateful encoding (ISO-2022) back to its initial state.
        UInt8 tail[16];
        char* target = reinterpret_cast<char*>(tail);
        const UChar* src = nullptr;
        UErrorCode err = U_ZERO_ERROR;
        ucnv_fromUnicode(conv, &target, reinterpret_cast<char*>(tail) + sizeof tail, &src, src,
                         nullptr, true, &err);
        if (U_SUCCESS(err))
            sink.put(tail, target - reinterpret_cast<char*>(tail));
        ucnv_close(conv);
    }
    *usedOut = sink.used;
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

CFStringEncoding CFStringConvertWindowsCodepageToEncoding(UInt32 codepage) {
    if (codepage == 0)
        return kCFStringEncodingInvalidId;
    for (const auto& e : kEncodings)
        if (e.codepage == codepage)
            return e.encoding;
    return kCFStringEncodingInvalidId;
}

UInt32 CFStringConvertEncodingToWindowsCodepage(CFStringEncoding encoding) {
    const EncodingInfo* e = findEncoding(encoding);
    return (e != nullptr && e->codepage != 0) ? e->codepage : kCFStringEncodingInvalidId;
}

CFStringRef CFStringConvertEncodingToIANACharSetName(CFStringEncoding encoding) {
    const EncodingInfo* e = findEncoding(encoding);
    return e != nullptr ? __CFStringMakeConstantString(e->iana) : nullptr;
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
        UConverter* c = openStopping(icu);
        int8_t max = c ? ucnv_getMaxCharSize(c) : 4;
        if (c)
            ucnv_close(c);
        return length * max + 8; // room for a stateful encoding's shifts
    }
    case Kind::Unknown:
        break;
    }
    return kCFNotFound;
}
