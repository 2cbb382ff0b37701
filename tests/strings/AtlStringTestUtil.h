// Helpers for the string-class tests: exact contents (operator== of the classes collates), and
// the header record of a string's buffer.
#pragma once

#include "strings/AtlString.h"

#include <string>

// Whether the relational operators exist for the operand types (a deleted or ambiguous one
// does not).
template <class A, class B>
concept HasEq = requires(A a, B b) {
    a == b;
};
template <class A, class B>
concept HasNe = requires(A a, B b) {
    a != b;
};
template <class A, class B>
concept HasLt = requires(A a, B b) {
    a < b;
};
template <class A, class B>
concept HasGt = requires(A a, B b) {
    a > b;
};
template <class A, class B>
concept HasLe = requires(A a, B b) {
    a <= b;
};
template <class A, class B>
concept HasGe = requires(A a, B b) {
    a >= b;
};
// All six, or none of them, in both orders.
template <class A, class B>
concept HasAllRelational =
    HasEq<A, B> && HasNe<A, B> && HasLt<A, B> && HasGt<A, B> && HasLe<A, B> && HasGe<A, B> &&
    HasEq<B, A> && HasNe<B, A> && HasLt<B, A> && HasGt<B, A> && HasLe<B, A> && HasGe<B, A>;
template <class A, class B>
concept HasNoRelational =
    !HasEq<A, B> && !HasNe<A, B> && !HasLt<A, B> && !HasGt<A, B> && !HasLe<A, B> && !HasGe<A, B> &&
    !HasEq<B, A> && !HasNe<B, A> && !HasLt<B, A> && !HasGt<B, A> && !HasLe<B, A> && !HasGe<B, A>;

inline std::u16string Units(const CAtlString& s) {
    return std::u16string(s.GetString(), s.GetLength());
}
inline std::string Bytes(const CAtlStringA& s) {
    return std::string(s.GetString(), s.GetLength());
}
inline int Refs(const CAtlString& s) {
    return s.GetData()->refCount;
}
inline int Refs(const CAtlStringA& s) {
    return s.GetData()->refCount;
}
inline bool IsNil(const CAtlString& s) {
    return s.GetString() == _afxPchNil;
}
inline bool IsNil(const CAtlStringA& s) {
    return s.GetString() == _afxPchANil;
}

// Readable failure output for 16-bit text.
inline std::string Show(const std::u16string& s) {
    std::string out;
    for (char16_t c : s) {
        if (c >= 0x20 && c < 0x7F) {
            out += char(c);
        } else {
            char buf[12];
            snprintf(buf, sizeof buf, "\\u%04X", unsigned(c));
            out += buf;
        }
    }
    return out;
}
