// The format engine behind CFStringCreateWithFormat and friends.
//
// The format is read unit by unit; literal text is copied, each directive is parsed into
// a Spec and its argument fetched by type. Text directives (%s %S %@ %c %C) are rendered
// here; numbers go to snprintf one directive at a time (plain %d %u %x without flags are
// converted here directly). Output is written straight into the block of the result
// string.
#include "platform/CFInternal.h"

#include <unicode/utf16.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

using namespace cfimpl;

namespace {

// ---------------------------------------------------------------------------------------
// Output buffer
// ---------------------------------------------------------------------------------------

// The text is written straight into the block of the string that will hold it: a block from
// the thread's pool to start with (enough for most texts), moved to a larger one only when the
// text outgrows it.
class Out {
public:
    Out() : s_(newString(kPooledUnits)), buf_(s_->chars), cap_(static_cast<size_t>(kPooledUnits)) {}
    Out(const Out&) = delete;
    Out& operator=(const Out&) = delete;
    ~Out() {
        if (s_ != nullptr)
            CFRelease(s_);
    }
    void put(UniChar c) {
        if (len_ == cap_)
            grow(1);
        buf_[len_++] = c;
    }
    void put(const UniChar* p, size_t n) {
        if (n == 0)
            return; // p may be null for an empty piece ("%.0s")
        if (len_ + n > cap_)
            grow(n);
        copyUnits(buf_ + len_, p, n);
        len_ += n;
    }
    void putAscii(const char* p, size_t n) {
        if (len_ + n > cap_)
            grow(n);
        for (size_t i = 0; i < n; ++i)
            buf_[len_ + i] = static_cast<unsigned char>(p[i]);
        len_ += n;
    }
    void fill(UniChar c, size_t n) {
        if (len_ + n > cap_)
            grow(n);
        for (size_t i = 0; i < n; ++i)
            buf_[len_ + i] = c;
        len_ += n;
    }
    // Room for n more units at the end; commit() what was written.
    UniChar* reserveTail(size_t n) {
        if (len_ + n > cap_)
            grow(n);
        return buf_ + len_;
    }
    void commit(size_t n) { len_ += n; }
    const UniChar* data() const { return buf_; }
    size_t size() const { return len_; }
    // The text as an immutable string (its block trimmed to fit); the output is spent.
    __CFString* take() {
        CFIndex n = static_cast<CFIndex>(len_);
        __CFString* s = s_->pooled ? s_ : resizeString(s_, n, n);
        s->length = n;
        s->capacity = n;
        s->chars[n] = 0;
        s_ = nullptr;
        return s;
    }

private:
    void grow(size_t more) {
        size_t cap = std::max(cap_ * 2, len_ + more + 64);
        s_ = resizeString(s_, static_cast<CFIndex>(len_), static_cast<CFIndex>(cap));
        buf_ = s_->chars;
        cap_ = cap;
    }
    __CFString* s_;
    UniChar* buf_;
    size_t len_ = 0;
    size_t cap_;
};

// ---------------------------------------------------------------------------------------
// Directives
// ---------------------------------------------------------------------------------------

enum class Len { None, hh, h, l, ll, L, j, z, t };

enum class ArgType { None, Int, Long, LongLong, IntMax, Size, PtrDiff, Double, LongDouble, Ptr };

struct Spec {
    bool minus = false, plus = false, space = false, hash = false, zero = false, quote = false;
    int width = -1;     // -1: none
    int precision = -1; // -1: none
    int widthArg = 0;   // 0: fixed; -1: next argument; n > 0: argument n (1-based)
    int precArg = 0;
    int position = 0; // n$ of the value, 0 when sequential
    Len len = Len::None;
    char conv = 0;
};

inline ArgType valueType(const Spec& s) {
    switch (s.conv) {
    case 'd':
    case 'i':
    case 'u':
    case 'x':
    case 'X':
    case 'o':
        switch (s.len) {
        case Len::l:
            return ArgType::Long;
        case Len::ll:
            return ArgType::LongLong;
        case Len::j:
            return ArgType::IntMax;
        case Len::z:
            return ArgType::Size;
        case Len::t:
            return ArgType::PtrDiff;
        default:
            return ArgType::Int;
        }
    case 'D':
    case 'U':
    case 'O':
        return ArgType::Long;
    case 'e':
    case 'E':
    case 'f':
    case 'F':
    case 'g':
    case 'G':
    case 'a':
    case 'A':
        return s.len == Len::L ? ArgType::LongDouble : ArgType::Double;
    case 'c':
    case 'C':
        return ArgType::Int;
    case 's':
    case 'S':
    case '@':
    case 'p':
    case 'n':
        return ArgType::Ptr;
    default:
        return ArgType::None;
    }
}

union ArgValue {
    long long i;
    double d;
    long double ld;
    const void* p;
};

// Reads the next argument into v (written in place: a returned copy of the union would be
// read back wider than it was written, which stalls).
__attribute__((always_inline)) inline void fetchInto(ArgType t, va_list& ap, ArgValue& v) {
    switch (t) {
    case ArgType::Int:
        v.i = va_arg(ap, int);
        break;
    case ArgType::Long:
        v.i = va_arg(ap, long);
        break;
    case ArgType::LongLong:
        v.i = va_arg(ap, long long);
        break;
    case ArgType::IntMax:
        v.i = static_cast<long long>(va_arg(ap, intmax_t));
        break;
    case ArgType::Size:
        v.i = static_cast<long long>(va_arg(ap, size_t));
        break;
    case ArgType::PtrDiff:
        v.i = static_cast<long long>(va_arg(ap, ptrdiff_t));
        break;
    case ArgType::Double:
        v.d = va_arg(ap, double);
        break;
    case ArgType::LongDouble:
        v.ld = va_arg(ap, long double);
        break;
    case ArgType::Ptr:
        v.p = va_arg(ap, const void*);
        break;
    case ArgType::None:
        break;
    }
}

ArgValue fetch(ArgType t, va_list& ap) {
    ArgValue v{};
    fetchInto(t, ap, v);
    return v;
}

// Parses the directive after '%' at f[i]; on success i indexes the conversion unit.
bool parseSpec(const UniChar* f, size_t n, size_t& i, Spec& s) {
    auto number = [&](int& out) {
        long v = 0;
        bool any = false;
        while (i < n && f[i] >= '0' && f[i] <= '9') {
            v = std::min<long>(v * 10 + (f[i++] - '0'), 1 << 20);
            any = true;
        }
        out = static_cast<int>(v);
        return any;
    };
    // n$ position
    size_t save = i;
    int pos = 0;
    if (number(pos) && i < n && f[i] == '$' && pos > 0) {
        s.position = pos;
        ++i;
    } else {
        i = save;
    }
    for (; i < n; ++i) {
        UniChar c = f[i];
        if (c == '-')
            s.minus = true;
        else if (c == '+')
            s.plus = true;
        else if (c == ' ')
            s.space = true;
        else if (c == '#')
            s.hash = true;
        else if (c == '0')
            s.zero = true;
        else if (c == '\'')
            s.quote = true;
        else
            break;
    }
    auto starArg = [&](int& argRef) {
        ++i; // the '*'
        size_t mark = i;
        int p = 0;
        if (number(p) && i < n && f[i] == '$' && p > 0) {
            argRef = p;
            ++i;
        } else {
            i = mark;
            argRef = -1;
        }
    };
    if (i < n && f[i] == '*')
        starArg(s.widthArg);
    else if (!number(s.width))
        s.width = -1;
    if (i < n && f[i] == '.') {
        ++i;
        if (i < n && f[i] == '*')
            starArg(s.precArg);
        else if (!number(s.precision))
            s.precision = 0;
    }
    if (i < n) {
        switch (f[i]) {
        case 'h':
            s.len = (i + 1 < n && f[i + 1] == 'h') ? (++i, Len::hh) : Len::h;
            ++i;
            break;
        case 'l':
            s.len = (i + 1 < n && f[i + 1] == 'l') ? (++i, Len::ll) : Len::l;
            ++i;
            break;
        case 'q':
            s.len = Len::ll, ++i;
            break;
        case 'L':
            s.len = Len::L, ++i;
            break;
        case 'j':
            s.len = Len::j, ++i;
            break;
        case 'z':
            s.len = Len::z, ++i;
            break;
        case 't':
            s.len = Len::t, ++i;
            break;
        default:
            break;
        }
    }
    if (i >= n || f[i] >= 0x80)
        return false;
    s.conv = static_cast<char>(f[i]);
    return s.conv == '%' || valueType(s) != ArgType::None;
}

// ---------------------------------------------------------------------------------------
// Arguments: read in order from the va_list, or, for formats with n$ positions, all
// fetched up front by the types the directives give them.
// ---------------------------------------------------------------------------------------

class Args {
public:
    explicit Args(va_list ap) { va_copy(ap_, ap); }
    ~Args() { va_end(ap_); }
    Args(const Args&) = delete;
    Args& operator=(const Args&) = delete;

    // Fetches every positional argument once; false when the types conflict or one is
    // missing from the format.
    bool preload(const UniChar* f, size_t n) {
        std::vector<ArgType> types;
        auto note = [&](int pos, ArgType t) {
            if (pos <= 0)
                return false;
            if (types.size() < static_cast<size_t>(pos))
                types.resize(static_cast<size_t>(pos), ArgType::None);
            ArgType& slot = types[static_cast<size_t>(pos - 1)];
            if (slot != ArgType::None && slot != t)
                return false;
            slot = t;
            return true;
        };
        for (size_t i = 0; i < n; ++i) {
            if (f[i] != '%')
                continue;
            ++i;
            Spec s;
            if (!parseSpec(f, n, i, s))
                return false;
            if (s.conv == '%')
                continue;
            if (s.position == 0 || s.widthArg < 0 || s.precArg < 0)
                return false; // positional and sequential arguments do not mix
            if ((s.widthArg > 0 && !note(s.widthArg, ArgType::Int)) ||
                (s.precArg > 0 && !note(s.precArg, ArgType::Int)) ||
                !note(s.position, valueType(s)))
                return false;
        }
        for (ArgType t : types) {
            if (t == ArgType::None)
                return false;
            values_.push_back(fetch(t, ap_));
        }
        positional_ = true;
        return true;
    }
    bool positional() const { return positional_; }
    bool next(ArgType t, ArgValue& v) {
        fetchInto(t, ap_, v);
        return true;
    }
    bool at(int pos, ArgValue& v) const {
        if (pos <= 0 || static_cast<size_t>(pos) > values_.size())
            return false;
        v = values_[static_cast<size_t>(pos - 1)];
        return true;
    }

private:
    va_list ap_;
    std::vector<ArgValue> values_;
    bool positional_ = false;
};

// ---------------------------------------------------------------------------------------
// Rendering
// ---------------------------------------------------------------------------------------

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
    CFStringRef d = copyDescription(obj);
    putUnits(out, s, d->chars, static_cast<size_t>(d->length));
    CFRelease(d);
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

// Numbers through snprintf, one directive rebuilt in ASCII.
void putNumber(Out& out, const Spec& s, const ArgValue& arg) {
    char conv = s.conv;
    Len len = s.len;
    if (conv == 'D' || conv == 'U' || conv == 'O') {
        conv = static_cast<char>(conv + ('a' - 'A'));
        len = Len::l;
    }
    bool isSigned = conv == 'd' || conv == 'i';
    bool isFloat = false;
    switch (conv) {
    case 'e':
    case 'E':
    case 'f':
    case 'F':
    case 'g':
    case 'G':
    case 'a':
    case 'A':
        isFloat = true;
        break;
    default:
        break;
    }
    long long ival = arg.i;
    if (!isFloat && conv != 'p') {
        // Narrow the value to the width its length modifier names, as printf would.
        long long x = arg.i;
        switch (len) {
        case Len::hh:
            x = isSigned ? static_cast<long long>(static_cast<signed char>(x))
                         : static_cast<long long>(static_cast<unsigned char>(x));
            break;
        case Len::h:
            x = isSigned ? static_cast<long long>(static_cast<short>(x))
                         : static_cast<long long>(static_cast<unsigned short>(x));
            break;
        case Len::None:
            x = isSigned ? static_cast<long long>(static_cast<int>(x))
                         : static_cast<long long>(static_cast<unsigned int>(x));
            break;
        default:
            break;
        }
        if (plain(s) && conv != 'o') {
            bool neg = isSigned && x < 0;
            unsigned long long mag = neg ? 0ull - static_cast<unsigned long long>(x)
                                         : static_cast<unsigned long long>(x);
            putPlainInteger(out, mag, neg, (conv == 'x' || conv == 'X') ? 16 : 10, conv == 'X');
            return;
        }
        ival = x;
    }
    char fmt[40];
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
    char small[128];
    int n;
    auto print = [&](char* buf, size_t size) {
        if (conv == 'p')
            return std::snprintf(buf, size, fmt, s.width, s.precision, arg.p);
        if (isFloat && len == Len::L)
            return std::snprintf(buf, size, fmt, s.width, s.precision, arg.ld);
        if (isFloat)
            return std::snprintf(buf, size, fmt, s.width, s.precision, arg.d);
        return std::snprintf(buf, size, fmt, s.width, s.precision, ival);
    };
    n = print(small, sizeof small);
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
