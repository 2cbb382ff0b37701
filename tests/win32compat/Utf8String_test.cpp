#include "strings/Utf8String.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string bytes(const CAtlStringA& s) {
    return std::string(s.GetString(), s.GetLength());
}
std::u16string units(const CAtlString& s) {
    return std::u16string(s.GetString(), s.GetLength());
}

TEST(Utf8String, EncodesExactlyTheBytesNeeded) {
    struct Row {
        const char16_t* in;
        std::string want;
    } rows[] = {
        {u"", ""},
        {u"\u00E9", "\xC3\xA9"},
        {u"/tmp/a b", "/tmp/a b"},
        {u"\u20AC\U0001F600", "\xE2\x82\xAC\xF0\x9F\x98\x80"},
    };
    for (const Row& r : rows) {
        CAtlStringA out = MakeUTF8StringFromUnicodeString(CAtlString(r.in));
        EXPECT_EQ(bytes(out), r.want);
    }
}

TEST(Utf8String, DecodesUtf8AndRejectsIllFormedBytes) {
    EXPECT_EQ(units(MakeWideStringFromUTF8String(CAtlStringA("\xE2\x82\xAC"))), u"\u20AC");
    EXPECT_EQ(units(MakeWideStringFromUTF8String(CAtlStringA(""))), u"");
    EXPECT_EQ(units(MakeWideStringFromUTF8String(CAtlStringA("\xF0\x9F\x98\x80x"))),
              u"\U0001F600x");
    // Bytes that do not decode give an empty string, never garbage.
    EXPECT_EQ(units(MakeWideStringFromUTF8String(CAtlStringA("ab\xC3"))), u"");
    EXPECT_EQ(units(MakeWideStringFromUTF8String(CAtlStringA("\xED\xA0\x80"))), u"");
    // Round trip of every kind of unit length.
    std::u16string mixed = u"a\u00DF\u4E2D\U00010348/end";
    CAtlString back =
        MakeWideStringFromUTF8String(MakeUTF8StringFromUnicodeString(CAtlString(mixed.c_str())));
    EXPECT_EQ(units(back), mixed);
}

TEST(Utf8String, AsciiStringUsesTheDefaultCodePage) {
    EXPECT_EQ(units(MakeWideStringFromASCIIString(CAtlStringA("plain"))), u"plain");
    EXPECT_EQ(units(MakeWideStringFromASCIIString(CAtlStringA(""))), u"");
}

} // namespace

namespace {

// A lone surrogate has no UTF-8 form: it becomes '?', the rest survives.
TEST(Utf8String, UnpairedSurrogateBecomesQuestionMark) {
    const char16_t lone[] = {u'a', 0xD800, u'b', 0};
    EXPECT_EQ(bytes(MakeUTF8StringFromUnicodeString(CAtlString(lone))), "a?b");
}

} // namespace
