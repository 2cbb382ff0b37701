// Helpers for the string-class tests: the exact characters (the classes' operator== collates,
// so it cannot tell "\u00E9" from "e\u0301"), the buffer's reference count, and nil.
#pragma once

#include "strings/AtlString.h"

#include <gtest/gtest.h>

#include <string>

inline std::u16string Text(const CAtlString& s) {
    return std::u16string(s.GetString(), size_t(s.GetLength()));
}
inline std::string Text(const CAtlStringA& s) {
    return std::string(s.GetString(), size_t(s.GetLength()));
}
template <class S> int Refs(const S& s) {
    return s.GetData()->refCount;
}
inline bool IsNil(const CAtlString& s) {
    return s.GetString() == _afxPchNil;
}
inline bool IsNil(const CAtlStringA& s) {
    return s.GetString() == _afxPchANil;
}
// A fresh buffer: exactly the text's room, one holder and a terminator; nil for no text.
template <class S> void ExpectFresh(const S& s, const decltype(Text(s))& expect) {
    SCOPED_TRACE(testing::PrintToString(expect));
    EXPECT_EQ(Text(s), expect);
    EXPECT_EQ(IsNil(s), expect.empty());
    if (!expect.empty()) {
        EXPECT_EQ(s.GetAllocLength(), int(expect.size()));
        EXPECT_EQ(Refs(s), 1);
    }
}
