// The directives of the format engine: what one "%..." holds, how it is
// parsed, and the arguments it takes. Private to CFFormat.cpp, which
// includes it once, so everything here may inline into the engine.
#pragma once

#include "platform/cf/CFInternal.h"

#include <algorithm>
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace orvik::cf::format {

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

inline bool isFloatConversion(char conv) {
    switch (conv) {
    case 'e':
    case 'E':
    case 'f':
    case 'F':
    case 'g':
    case 'G':
    case 'a':
    case 'A':
        return true;
    default:
        return false;
    }
}

inline ArgType valueType(const Spec& s) {
    if (isFloatConversion(s.conv))
        return s.len == Len::L ? ArgType::LongDouble : ArgType::Double;
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

inline ArgValue fetch(ArgType t, va_list& ap) {
    ArgValue v{};
    fetchInto(t, ap, v);
    return v;
}

// Reads the decimal number at f[i] (capped); false when there is none.
inline bool parseNumber(const UniChar* f, size_t n, size_t& i, int& out) {
    long v = 0;
    bool any = false;
    while (i < n && f[i] >= '0' && f[i] <= '9') {
        v = std::min<long>(v * 10 + (f[i++] - '0'), 1 << 20);
        any = true;
    }
    out = static_cast<int>(v);
    return any;
}

// "n$": the argument a directive, or its '*', takes; 0 (and i unchanged)
// when there is none.
inline int parsePosition(const UniChar* f, size_t n, size_t& i) {
    const size_t save = i;
    int position = 0;
    if (parseNumber(f, n, i, position) && i < n && f[i] == '$' && position > 0) {
        ++i;
        return position;
    }
    i = save;
    return 0;
}

inline void parseFlags(const UniChar* f, size_t n, size_t& i, Spec& s) {
    for (; i < n; ++i) {
        const UniChar c = f[i];
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
            return;
    }
}

// A width or precision of "*" or "*n$": -1 for the next argument, else n.
inline int parseStar(const UniChar* f, size_t n, size_t& i) {
    ++i; // the '*'
    const int position = parsePosition(f, n, i);
    return position > 0 ? position : -1;
}

inline void parseWidthAndPrecision(const UniChar* f, size_t n, size_t& i, Spec& s) {
    if (i < n && f[i] == '*')
        s.widthArg = parseStar(f, n, i);
    else if (!parseNumber(f, n, i, s.width))
        s.width = -1;
    if (i < n && f[i] == '.') {
        ++i;
        if (i < n && f[i] == '*')
            s.precArg = parseStar(f, n, i);
        else if (!parseNumber(f, n, i, s.precision))
            s.precision = 0;
    }
}

inline void parseLength(const UniChar* f, size_t n, size_t& i, Spec& s) {
    if (i >= n)
        return;
    const bool doubled = i + 1 < n && f[i + 1] == f[i];
    size_t units = 1;
    switch (f[i]) {
    case 'h':
        s.len = doubled ? Len::hh : Len::h;
        units = doubled ? 2 : 1;
        break;
    case 'l':
        s.len = doubled ? Len::ll : Len::l;
        units = doubled ? 2 : 1;
        break;
    case 'q':
        s.len = Len::ll;
        break;
    case 'L':
        s.len = Len::L;
        break;
    case 'j':
        s.len = Len::j;
        break;
    case 'z':
        s.len = Len::z;
        break;
    case 't':
        s.len = Len::t;
        break;
    default:
        return;
    }
    i += units;
}

// Parses the directive after '%' at f[i]; on success i indexes the conversion unit.
inline bool parseSpec(const UniChar* f, size_t n, size_t& i, Spec& s) {
    s.position = parsePosition(f, n, i);
    parseFlags(f, n, i, s);
    parseWidthAndPrecision(f, n, i, s);
    parseLength(f, n, i, s);
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

} // namespace orvik::cf::format
