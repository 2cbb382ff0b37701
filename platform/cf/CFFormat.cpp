// The format engine behind CFStringCreateWithFormat and friends.
//
// The format is read unit by unit; literal text is copied, each directive is parsed into
// a Spec and its argument fetched by type. Text directives (%s %S %@ %c %C) are rendered
// here; numbers go to snprintf one directive at a time (plain %d %u %x without flags are
// converted here directly). The directives' grammar is in CFFormatDirectives.h, the
// output buffer in CFFormatOutput.h.
#include "platform/CFRef.h"
#include "platform/cf/CFFormatDirectives.h"
#include "platform/cf/CFFormatOutput.h"
#include "platform/cf/CFInternal.h"

#include <unicode/utf16.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

using namespace orvik::cf;
using namespace orvik::cf::format;

namespace {

// ---- rendering ------------------------------------------------------------------------

UniChar macRoman(unsigned char b) {
    static UniChar table[128];
    static bool filled = [] {
        for (int i = 0; i < 128; ++i) {
            UInt8 byte = static_cast<UInt8>(0x80 + i);
            __CFString* s = decodeToString(&byte, 1, kCFStringEncodingMacRoman, false);
            table[i] = (s && s->length == 1) ? s->chars[0] : 0xFFFD;
            if (s)
                CFRelease(s);
        }
        return true;
    }();
    (void)filled;
    return b < 0x80 ? b : table[b - 0x80];
}

// Pads text of `units` units to the width (spaces; left-aligned with '-').
template <class Emit> void padded(Out& out, const Spec& s, size_t units, Emit emit) {
    size_t pad = (s.width > 0 && static_cast<size_t>(s.width) > units) ? s.width - units : 0;
    if (!s.minus)
        out.fill(u' ', pad);
    emit();
    if (s.minus)
        out.fill(u' ', pad);
}

void putUnits(Out& out, const Spec& s, const UniChar* p, size_t n) {
    if (s.precision >= 0 && static_cast<size_t>(s.precision) < n)
        n = static_cast<size_t>(s.precision);
    padded(out, s, n, [&] { out.put(p, n); });
}

// 8-bit text in the system encoding (UTF-8); a byte that does not start a valid UTF-8
// sequence is read as Mac OS Roman, so 8-bit strings survive a round trip through the
// platform's 8-bit string conversions byte for byte. Precision counts bytes.
void putBytes(Out& out, const Spec& s, const char* p) {
    size_t n = 0;
    if (s.precision >= 0)
        while (n < static_cast<size_t>(s.precision) && p[n])
            ++n;
    else
        n = std::strlen(p);
    // UTF-8 never yields more units than bytes (an unreadable byte gives one unit), so
    // the text is decoded straight into room reserved for n units.
    auto decode = [&](UniChar* dst) {
        size_t units = 0;
        for (size_t i = 0; i < n;) {
            unsigned char b = static_cast<unsigned char>(p[i]);
            if (b < 0x80) {
                size_t run =
                    widenAscii(reinterpret_cast<const unsigned char*>(p) + i, n - i, dst + units);
                units += run;
                i += run;
                continue;
            }
            int extra = (b >= 0xC2 && b <= 0xDF)   ? 1
                        : (b >= 0xE0 && b <= 0xEF) ? 2
                        : (b >= 0xF0 && b <= 0xF4) ? 3
                                                   : -1;
            uint32_t cp = extra == 1 ? (b & 0x1Fu) : extra == 2 ? (b & 0x0Fu) : (b & 0x07u);
            bool ok = extra > 0 && i + static_cast<size_t>(extra) < n;
            for (int k = 1; ok && k <= extra; ++k) {
                unsigned char c = static_cast<unsigned char>(p[i + k]);
                ok = (c & 0xC0) == 0x80;
                cp = (cp << 6) | (c & 0x3Fu);
            }
            static const uint32_t kMin[4] = {0, 0x80, 0x800, 0x10000};
            ok = ok && cp >= kMin[extra] && cp <= 0x10FFFF && !(cp >= 0xD800 && cp <= 0xDFFF);
            if (!ok) {
                dst[units++] = macRoman(b);
                ++i;
                continue;
            }
            i += static_cast<size_t>(extra) + 1;
            if (cp >= 0x10000) {
                dst[units++] = static_cast<UniChar>(U16_LEAD(cp));
                dst[units++] = static_cast<UniChar>(U16_TRAIL(cp));
            } else {
                dst[units++] = static_cast<UniChar>(cp);
            }
        }
        return units;
    };
    if (s.width <= 0) {
        out.commit(decode(out.reserveTail(n)));
        return;
    }
    std::vector<UniChar> tmp(n);
    size_t units = decode(tmp.data());
    padded(out, s, units, [&] { out.put(tmp.data(), units); });
}

void putObject(Out& out, const Spec& s, CFTypeRef obj) {
    if (isString(obj)) {
        auto str = static_cast<CFStringRef>(obj);
        putUnits(out, s, str->chars, static_cast<size_t>(str->length));
        return;
    }
    const orvik::CFRef<CFStringRef> d(copyDescription(obj));
    putUnits(out, s, d.get()->chars, static_cast<size_t>(d.get()->length));
}

// Fast decimal/hex for directives without flags, width or precision.
void putPlainInteger(Out& out, unsigned long long v, bool negative, unsigned base, bool upper) {
    // Digits go straight into 16-bit units, last first.
    UniChar buf[24];
    UniChar* end = buf + 24;
    UniChar* p = end;
    const char* digits = upper ? "0123456789ABCDEF" : "0123456789abcdef";
    // Constant divisors, so that no digit costs a hardware division.
    if (base == 16) {
        do {
            *--p = static_cast<unsigned char>(digits[v & 15]);
            v >>= 4;
        } while (v != 0);
    } else {
        do {
            *--p = static_cast<UniChar>('0' + v % 10);
            v /= 10;
        } while (v != 0);
    }
    if (negative)
        *--p = '-';
    out.put(p, static_cast<size_t>(end - p));
}

bool plain(const Spec& s) {
    return !s.minus && !s.plus && !s.space && !s.hash && !s.zero && s.width < 0 && s.precision < 0;
}

// Narrows the value to the width its length modifier names, as printf would.
long long narrowed(long long x, Len len, bool isSigned) {
    switch (len) {
    case Len::hh:
        return isSigned ? static_cast<long long>(static_cast<signed char>(x))
                        : static_cast<long long>(static_cast<unsigned char>(x));
    case Len::h:
        return isSigned ? static_cast<long long>(static_cast<short>(x))
                        : static_cast<long long>(static_cast<unsigned short>(x));
    case Len::None:
        return isSigned ? static_cast<long long>(static_cast<int>(x))
                        : static_cast<long long>(static_cast<unsigned int>(x));
    default:
        return x;
    }
}

// The directive rebuilt in ASCII for snprintf, its width and precision as
// arguments; fmt has room for 40 bytes.
void buildNumberFormat(const Spec& s, char conv, Len len, bool isFloat, char* fmt) {
    char* f = fmt;
    *f++ = '%';
    if (s.minus)
        *f++ = '-';
    if (s.plus)
        *f++ = '+';
    if (s.space)
        *f++ = ' ';
    if (s.hash)
        *f++ = '#';
    if (s.zero)
        *f++ = '0';
    *f++ = '*';
    *f++ = '.';
    *f++ = '*';
    if (isFloat) {
        if (len == Len::L)
            *f++ = 'L';
    } else if (conv != 'p') {
        *f++ = 'l';
        *f++ = 'l';
    }
    *f++ = conv;
    *f = 0;
}

// Numbers through snprintf, one directive rebuilt in ASCII.
void putNumber(Out& out, const Spec& s, const ArgValue& arg) {
    char conv = s.conv;
    Len len = s.len;
    if (conv == 'D' || conv == 'U' || conv == 'O') {
        conv = static_cast<char>(conv + ('a' - 'A'));
        len = Len::l;
    }
    const bool isSigned = conv == 'd' || conv == 'i';
    const bool isFloat = isFloatConversion(conv);
    long long ival = arg.i;
    if (!isFloat && conv != 'p') {
        ival = narrowed(arg.i, len, isSigned);
        if (plain(s) && conv != 'o') {
            const bool neg = isSigned && ival < 0;
            const unsigned long long mag = neg ? 0ull - static_cast<unsigned long long>(ival)
                                               : static_cast<unsigned long long>(ival);
            putPlainInteger(out, mag, neg, (conv == 'x' || conv == 'X') ? 16 : 10, conv == 'X');
            return;
        }
    }
    char fmt[40];
    buildNumberFormat(s, conv, len, isFloat, fmt);
    auto print = [&](char* buf, size_t size) {
        if (conv == 'p')
            return std::snprintf(buf, size, fmt, s.width, s.precision, arg.p);
        if (isFloat && len == Len::L)
            return std::snprintf(buf, size, fmt, s.width, s.precision, arg.ld);
        if (isFloat)
            return std::snprintf(buf, size, fmt, s.width, s.precision, arg.d);
        return std::snprintf(buf, size, fmt, s.width, s.precision, ival);
    };
    char small[128];
    const int n = print(small, sizeof small);
    if (n < 0)
        return;
    if (static_cast<size_t>(n) < sizeof small) {
        out.putAscii(small, static_cast<size_t>(n));
        return;
    }
    std::string big(static_cast<size_t>(n) + 1, '\0');
    print(big.data(), big.size());
    out.putAscii(big.data(), static_cast<size_t>(n));
}

void putChar(Out& out, Spec& s, const ArgValue& v) {
    UniChar u[2];
    size_t n = 1;
    if (s.conv == 'c' && s.len != Len::l) {
        u[0] = macRoman(static_cast<unsigned char>(v.i));
    } else if (s.conv == 'C') {
        u[0] = static_cast<UniChar>(v.i);
    } else { // %lc: a 32-bit code point
        uint32_t cp = static_cast<uint32_t>(v.i);
        if (cp >= 0x10000 && cp <= 0x10FFFF) {
            u[0] = static_cast<UniChar>(U16_LEAD(cp));
            u[1] = static_cast<UniChar>(U16_TRAIL(cp));
            n = 2;
        } else {
            u[0] = static_cast<UniChar>(cp <= 0xFFFF ? cp : 0xFFFD);
        }
    }
    s.precision = -1;
    putUnits(out, s, u, n);
}

void putWide32(Out& out, Spec& s, const wchar_t* w) {
    std::u16string tmp;
    size_t limit = s.precision >= 0 ? static_cast<size_t>(s.precision) : SIZE_MAX;
    for (size_t i = 0; w[i] && tmp.size() < limit; ++i) {
        uint32_t cp = static_cast<uint32_t>(w[i]);
        if (cp >= 0x10000 && cp <= 0x10FFFF) {
            tmp.push_back(static_cast<char16_t>(U16_LEAD(cp)));
            tmp.push_back(static_cast<char16_t>(U16_TRAIL(cp)));
        } else {
            tmp.push_back(static_cast<char16_t>(cp <= 0xFFFF ? cp : 0xFFFD));
        }
    }
    s.precision = -1;
    putUnits(out, s, reinterpret_cast<const UniChar*>(tmp.data()), tmp.size());
}

const UniChar kNull[] = {u'(', u'n', u'u', u'l', u'l', u')'};

// The length of a zero-terminated 16-bit string, eight (or four) units per step. Reads are
// aligned 16-byte (8-byte) words, which never cross a page, so reading past the terminator
// inside the word is safe (and is kept out of AddressSanitizer's view, like the C library's
// strlen).
__attribute__((no_sanitize("address"))) size_t unitLength(const UniChar* p) {
    const UniChar* q = p;
#if defined(__SSE2__)
    if (reinterpret_cast<uintptr_t>(p) % 2 == 0) {
        while (reinterpret_cast<uintptr_t>(q) % 16 != 0) {
            if (*q == 0)
                return static_cast<size_t>(q - p);
            ++q;
        }
        const __m128i zero = _mm_setzero_si128();
        if (reinterpret_cast<uintptr_t>(q) % 32 != 0) {
            __m128i v = _mm_load_si128(reinterpret_cast<const __m128i*>(q));
            int mask = _mm_movemask_epi8(_mm_cmpeq_epi16(v, zero));
            if (mask != 0)
                return static_cast<size_t>(q - p) + static_cast<size_t>(__builtin_ctz(mask)) / 2;
            q += 8;
        }
        // Two blocks a step, from a 32-byte boundary (so both lie in one page).
        for (;;) {
            __m128i a = _mm_cmpeq_epi16(_mm_load_si128(reinterpret_cast<const __m128i*>(q)), zero);
            __m128i b =
                _mm_cmpeq_epi16(_mm_load_si128(reinterpret_cast<const __m128i*>(q + 8)), zero);
            if (_mm_movemask_epi8(_mm_or_si128(a, b)) != 0) {
                int mask = _mm_movemask_epi8(a);
                if (mask == 0) {
                    mask = _mm_movemask_epi8(b);
                    q += 8;
                }
                return static_cast<size_t>(q - p) + static_cast<size_t>(__builtin_ctz(mask)) / 2;
            }
            q += 16;
        }
    }
#endif
    while (reinterpret_cast<uintptr_t>(q) % 8 != 0) {
        if (*q == 0)
            return static_cast<size_t>(q - p);
        ++q;
    }
    for (;;) {
        uint64_t w;
        std::memcpy(&w, q, 8);
        if ((w - 0x0001000100010001ull) & ~w & 0x8000800080008000ull)
            break;
        q += 4;
    }
    while (*q != 0)
        ++q;
    return static_cast<size_t>(q - p);
}

// Renders one directive; s is the caller's parsed directive, completed here in place (a copy
// of it would cost more than the rest of a short directive).
bool render(Out& out, Spec& s, Args& args) {
    auto intArg = [&](int ref, int& target) {
        ArgValue v;
        if (ref == 0)
            return true;
        if (!(ref < 0 ? args.next(ArgType::Int, v) : args.at(ref, v)))
            return false;
        target = static_cast<int>(v.i);
        return true;
    };
    if (!intArg(s.widthArg, s.width) || !intArg(s.precArg, s.precision))
        return false;
    if (s.widthArg != 0 && s.width < 0) { // a negative * width means left alignment
        s.minus = true;
        s.width = s.width == INT32_MIN ? INT32_MAX : -s.width;
    }
    if (s.precArg != 0 && s.precision < 0)
        s.precision = -1;
    ArgValue v;
    ArgType t = valueType(s);
    if (!(s.position > 0 ? args.at(s.position, v) : args.next(t, v)))
        return false;
    switch (s.conv) {
    case 's':
        if (v.p == nullptr)
            putUnits(out, s, kNull, 6);
        else if (s.len == Len::l)
            putWide32(out, s, static_cast<const wchar_t*>(v.p));
        else
            putBytes(out, s, static_cast<const char*>(v.p));
        return true;
    case 'S': {
        auto* p = static_cast<const UniChar*>(v.p);
        if (p == nullptr) {
            putUnits(out, s, kNull, 6);
            return true;
        }
        size_t n = 0;
        if (s.precision >= 0) {
            while (n < static_cast<size_t>(s.precision) && p[n])
                ++n;
        } else {
            n = unitLength(p);
        }
        putUnits(out, s, p, n);
        return true;
    }
    case '@':
        if (v.p == nullptr)
            putUnits(out, s, kNull, 6);
        else
            putObject(out, s, v.p);
        return true;
    case 'c':
    case 'C':
        putChar(out, s, v);
        return true;
    case 'n':
        return true; // never writes through the pointer
    default:
        putNumber(out, s, v);
        return true;
    }
}

// Renders a bare directive (see bareConversion); the usual ones directly, with what render
// would do for them (no padding, no precision), the others through render. A bare directive takes
// the next argument: formats with positions have none (every directive of theirs names its
// argument).
bool renderBare(Out& out, Spec& s, Args& args) {
    ArgValue v;
    switch (s.conv) {
    case 'S': {
        args.next(ArgType::Ptr, v);
        auto* p = static_cast<const UniChar*>(v.p);
        if (p == nullptr)
            out.put(kNull, 6);
        else
            out.put(p, unitLength(p));
        return true;
    }
    case 's':
    case '@':
        args.next(ArgType::Ptr, v);
        if (v.p == nullptr)
            out.put(kNull, 6);
        else if (s.conv == 's')
            putBytes(out, s, static_cast<const char*>(v.p));
        else
            putObject(out, s, v.p);
        return true;
    case 'd':
    case 'i': {
        args.next(ArgType::Int, v);
        int x = static_cast<int>(v.i);
        bool neg = x < 0;
        unsigned long long mag =
            neg ? 0ull - static_cast<unsigned long long>(static_cast<long long>(x))
                : static_cast<unsigned long long>(x);
        putPlainInteger(out, mag, neg, 10, false);
        return true;
    }
    case 'u':
    case 'x':
    case 'X':
        args.next(ArgType::Int, v);
        putPlainInteger(out, static_cast<unsigned int>(v.i), false, s.conv == 'u' ? 10 : 16,
                        s.conv == 'X');
        return true;
    default:
        return render(out, s, args);
    }
}

// Whether c, straight after the percent sign, is a whole directive: a conversion without
// position, flags, width, precision or length, as most directives are ("%s", "%d", "%@").
bool bareConversion(UniChar c) {
    switch (c) {
    case 'd':
    case 'i':
    case 'u':
    case 'x':
    case 'X':
    case 'o':
    case 'D':
    case 'U':
    case 'O':
    case 'e':
    case 'E':
    case 'f':
    case 'F':
    case 'g':
    case 'G':
    case 'a':
    case 'A':
    case 'c':
    case 'C':
    case 's':
    case 'S':
    case '@':
    case 'p':
    case 'n':
    case '%':
        return true;
    default:
        return false;
    }
}

// True when a directive names its argument ("%2$d", "%*3$d", "%.*1$f"): then the
// arguments are taken by position. A "$" in the text around directives does not count.
bool namesArguments(const UniChar* f, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        if (f[i] != '%')
            continue;
        ++i;
        Spec s;
        if (!parseSpec(f, n, i, s))
            continue; // not a directive; its text stays as written
        if (s.conv != '%' && (s.position > 0 || s.widthArg > 0 || s.precArg > 0))
            return true;
    }
    return false;
}

// Formats into out; false when the format is unusable (NULL, or n$ positions that
// conflict).
bool formatInto(Out& out, CFStringRef format, va_list ap) {
    if (!isString(format))
        return false;
    const UniChar* f = format->chars;
    size_t n = static_cast<size_t>(format->length);
    Args args(ap);
    if (std::find(f, f + n, u'$') != f + n && namesArguments(f, n) && !args.preload(f, n))
        return false;
    size_t lit = 0;
    for (size_t i = 0; i < n; ++i) {
        if (f[i] != '%')
            continue;
        out.put(f + lit, i - lit);
        size_t start = i++;
        Spec s;
        bool parsed = true;
        bool bare = i < n && bareConversion(f[i]);
        if (bare)
            s.conv = static_cast<char>(f[i]); // what parseSpec gives for it, without the parse
        else
            parsed = parseSpec(f, n, i, s);
        if (!parsed) {
            // Not a directive: keep the text as written and consume no argument.
            i = std::min(i, n - 1);
            out.put(f + start, i - start + 1);
        } else if (s.conv == '%') {
            out.put(u'%');
        } else if (!(bare ? renderBare(out, s, args) : render(out, s, args))) {
            return false;
        }
        lit = i + 1;
    }
    out.put(f + lit, n - lit);
    return true;
}

} // namespace

CFStringRef CFStringCreateWithFormatAndArguments(CFAllocatorRef, CFDictionaryRef,
                                                 CFStringRef format, va_list arguments) {
    Out out;
    if (!formatInto(out, format, arguments))
        return nullptr;
    return out.take();
}

CFStringRef CFStringCreateWithFormat(CFAllocatorRef alloc, CFDictionaryRef formatOptions,
                                     CFStringRef format, ...) {
    va_list ap;
    va_start(ap, format);
    CFStringRef s = CFStringCreateWithFormatAndArguments(alloc, formatOptions, format, ap);
    va_end(ap);
    return s;
}

void CFStringAppendFormatAndArguments(CFMutableStringRef theString, CFDictionaryRef,
                                      CFStringRef format, va_list arguments) {
    if (!isString(theString) || !(theString->flags & kStrMutable))
        return;
    Out out;
    if (formatInto(out, format, arguments))
        replaceUnits(theString, CFRangeMake(theString->length, 0), out.data(),
                     static_cast<CFIndex>(out.size()));
}

void CFStringAppendFormat(CFMutableStringRef theString, CFDictionaryRef formatOptions,
                          CFStringRef format, ...) {
    va_list ap;
    va_start(ap, format);
    CFStringAppendFormatAndArguments(theString, formatOptions, format, ap);
    va_end(ap);
}
