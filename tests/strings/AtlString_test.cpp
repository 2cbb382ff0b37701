// CAtlString searching, comparison, cutting, editing, trimming and tokenizing.
#include "strings/AtlString.h"

#include "AtlStringTestUtil.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

namespace {

TEST(AtlStringSearch, FindUnitsAndSubstrings) {
    CAtlString s(u"abcabc");
    struct Row {
        const char* what;
        int got;
        int expect;
    };
    std::vector<Row> rows = {
        {"unit", s.Find(u'c'), 2},
        {"unit from 3", s.Find(u'c', 3), 5},
        {"unit at length", s.Find(u'a', 6), -1},
        {"unit past length", s.Find(u'a', 9), -1},
        {"unit absent", s.Find(u'z'), -1},
        {"ushort unit", s.Find(static_cast<unsigned short>(u'b'), 2), 4},
        {"char", s.Find('b'), 1},
        {"char from", s.Find('a', 1), 3},
        {"sub", s.Find(u"ca"), 2},
        {"sub from", s.Find(u"bc", 2), 4},
        {"sub at length", s.Find(u"c", 6), -1},
        {"sub past length", s.Find(u"c", 7), -1},
        {"sub absent", s.Find(u"cb"), -1},
        {"sub too long", s.Find(u"abcabca"), -1},
        {"ushort sub", s.Find(reinterpret_cast<const unsigned short*>(u"bc"), 3), 4},
        {"bytes sub", s.Find("cab"), 2},
        {"bytes sub from", s.Find("ab", 1), 3},
        {"CAtlString sub", s.Find(CAtlString(u"bca")), 1},
        {"CAtlString sub from", s.Find(CAtlString(u"a"), 1), 3},
        {"in empty", CAtlString().Find(u'a'), -1},
        {"one of", s.FindOneOf(u"xc"), 2},
        {"one of none", s.FindOneOf(u"xyz"), -1},
        {"one of empty set", s.FindOneOf(u""), -1},
        {"one of null set", s.FindOneOf(static_cast<const char16_t*>(nullptr)), -1},
        {"one of bytes", s.FindOneOf("cb"), 1},
        {"one of CAtlString", s.FindOneOf(CAtlString(u"c")), 2},
        {"one of in empty", CAtlString().FindOneOf(u"a"), -1},
        {"reverse", s.ReverseFind(u'a'), 3},
        {"reverse char", s.ReverseFind('c'), 5},
        {"reverse absent", s.ReverseFind(u'q'), -1},
        {"reverse in empty", CAtlString().ReverseFind(u'a'), -1},
    };
    for (const Row& row : rows)
        EXPECT_EQ(row.got, row.expect) << row.what;
    // Searching is literal: no case folding, no normalization.
    CAtlString t(u"Ab\u00E9e\u0301");
    EXPECT_EQ(t.Find(u'a'), -1);
    EXPECT_EQ(t.Find(u"e\u0301"), 3);
    EXPECT_EQ(t.Find(u"\u00E9", 3), -1);
}

TEST(AtlStringCompare, TwoEnginesByArgumentType) {
    CAtlString a(u"a");
    CAtlString b(u"b");
    EXPECT_EQ(a.Compare(b), -1);
    EXPECT_EQ(b.Compare(a), 1);
    EXPECT_EQ(a.Compare(CAtlString(u"a")), 0);
    CAtlString abc(u"abc");
    CAtlString upper(u"ABC");
    EXPECT_EQ(abc.CompareNoCase(upper), 0);
    EXPECT_EQ(abc.CollateNoCase(upper), 0);
    EXPECT_NE(abc.Compare(upper), 0);
    EXPECT_EQ(abc.Collate(upper, false), 0);
    EXPECT_NE(abc.Collate(upper, true), 0);
    // Code-unit order for CAtlString operands: "Z" (0x5A) before "a" (0x61).
    EXPECT_EQ(CAtlString(u"Z").Compare(a), -1);
    EXPECT_EQ(CAtlString().Compare(a), -1);
    EXPECT_EQ(CAtlString().Compare(CAtlString()), 0);

    // Zero-terminated operands go through the collation.
    EXPECT_EQ(abc.CompareNoCase(u"ABC"), 0);
    EXPECT_EQ(abc.CollateNoCase(u"ABC"), 0);
    EXPECT_NE(abc.Compare(u"ABC"), 0);
    EXPECT_EQ(abc.Compare(u"abc"), 0);
    EXPECT_LT(abc.Compare(u"abd"), 0);
    EXPECT_GT(abc.Compare(u"abb"), 0);
    EXPECT_GT(abc.Compare(static_cast<const char16_t*>(nullptr)), 0);
    EXPECT_EQ(CAtlString().Compare(u""), 0);
    EXPECT_EQ(abc.Collate(u"ABC", false), 0);
    EXPECT_EQ(abc.Compare(reinterpret_cast<const unsigned short*>(u"abc")), 0);
    // Composition does not matter to the case-sensitive collation: e + combining acute
    // is equivalent to the precomposed letter.
    EXPECT_EQ(CAtlString(u"caf\u00E9").Compare(u"cafe\u0301"), 0);
    EXPECT_NE(CAtlString(u"caf\u00E9").Compare(CAtlString(u"cafe\u0301")), 0);
    // Collation order is not code-unit order: "a" sorts before "B".
    EXPECT_LT(a.Compare(u"B"), 0);
    EXPECT_EQ(a.Compare(CAtlString(u"B")), 1);
}

TEST(AtlStringCompare, RelationalOperators) {
    CAtlString a(u"a");
    CAtlString b(u"b");
    EXPECT_TRUE(a == CAtlString(u"a"));
    EXPECT_TRUE(a != b);
    EXPECT_TRUE(a < b);
    EXPECT_TRUE(b > a);
    EXPECT_TRUE(a <= a);
    EXPECT_TRUE(b >= a);
    EXPECT_FALSE(b < a);
    // Against pointers (collation), in both orders: the sense inverts on the left.
    EXPECT_TRUE(a == u"a");
    EXPECT_TRUE(u"a" == a);
    EXPECT_TRUE(a != u"b");
    EXPECT_TRUE(a < u"b");
    EXPECT_TRUE(u"b" > a);
    EXPECT_TRUE(u"a" < b);
    EXPECT_FALSE(u"b" < a);
    EXPECT_TRUE(u"a" <= a);
    EXPECT_TRUE(u"c" >= b);
    EXPECT_TRUE(a < u"B");             // collation: case is a later difference than the letter
    EXPECT_TRUE(a > CAtlString(u"B")); // code units: 0x61 > 0x42
    const unsigned short* us = reinterpret_cast<const unsigned short*>(u"b");
    EXPECT_TRUE(a < us);
    EXPECT_TRUE(us > a);
    EXPECT_TRUE(b == us);
}

// With 16-bit operands only: 8-bit text and CAtlStringA have no relational operators here.
static_assert(HasAllRelational<const CAtlString&, const CAtlString&>);
static_assert(HasAllRelational<const CAtlString&, const char16_t*>);
static_assert(HasAllRelational<const CAtlString&, const unsigned short*>);
static_assert(HasNoRelational<const CAtlString&, const char*>);
static_assert(HasNoRelational<const CAtlString&, const CAtlStringA&>);

TEST(AtlStringCut, MidLeftRight) {
    CAtlString s(u"abcde");
    EXPECT_EQ(Units(s.Mid(2, 100)), u"cde");
    EXPECT_EQ(Units(s.Mid(-3, 2)), u"ab");
    EXPECT_EQ(Units(s.Mid(1, -4)), u"");
    EXPECT_TRUE(IsNil(s.Mid(7, 1)));
    EXPECT_TRUE(IsNil(s.Mid(5, 1)));
    EXPECT_TRUE(IsNil(s.Mid(2, 0)));
    EXPECT_EQ(Units(s.Mid(3)), u"de");
    EXPECT_EQ(Units(s.Mid(1, 2147483647)), u"bcde");
    {
        CAtlString whole = s.Mid(0, 5);
        EXPECT_EQ(whole.GetString(), s.GetString());
        EXPECT_EQ(Refs(s), 2);
        CAtlString part = s.Mid(1, 3);
        EXPECT_EQ(part.GetAllocLength(), 3);
        EXPECT_EQ(Refs(part), 1);
    }
    EXPECT_TRUE(IsNil(s.Left(-1)));
    EXPECT_TRUE(IsNil(s.Left(0)));
    EXPECT_EQ(Units(s.Left(2)), u"ab");
    EXPECT_EQ(s.Left(5).GetString(), s.GetString());
    EXPECT_EQ(Units(s.Right(2)), u"de");
    EXPECT_TRUE(IsNil(s.Right(-3)));
    CAtlString longer = s.Right(10);
    EXPECT_EQ(longer.GetString(), s.GetString());
    EXPECT_EQ(Refs(s), 2);
}

TEST(AtlStringEdit, DeleteInsertRemoveReplaceUnits) {
    CAtlString s(u"abcd");
    EXPECT_EQ(s.Delete(1, 2), 4);
    EXPECT_EQ(Units(s), u"ad");
    CAtlString t(u"abcd");
    EXPECT_EQ(t.Delete(2, 50), 4);
    EXPECT_EQ(Units(t), u"ab");
    EXPECT_EQ(t.Delete(-5, 1), 2);
    EXPECT_EQ(Units(t), u"b");
    EXPECT_EQ(t.Delete(1, 1), 1); // at the length: nothing
    EXPECT_EQ(t.Delete(0, 0), 1);
    EXPECT_EQ(Units(t), u"b");

    CAtlString ab(u"ab");
    EXPECT_EQ(ab.Insert(99, u'x'), 3);
    EXPECT_EQ(Units(ab), u"abx");
    EXPECT_EQ(ab.GetAllocLength(), 3); // exactly length + 1
    EXPECT_EQ(ab.Insert(-4, 'y'), 4);
    EXPECT_EQ(Units(ab), u"yabx");
    EXPECT_EQ(ab.Insert(2, u"12"), 6);
    EXPECT_EQ(Units(ab), u"ya12bx");
    EXPECT_EQ(ab.GetAllocLength(), 6);
    EXPECT_EQ(ab.Insert(0, static_cast<const char16_t*>(nullptr)), 6);
    EXPECT_EQ(ab.Insert(0, u""), 6);
    EXPECT_EQ(ab.Insert(6, "\xE9"), 7);
    EXPECT_EQ(Units(ab), u"ya12bx\u00E9");
    // With room, in place.
    CAtlString room;
    const char16_t* p = room.GetBuffer(8);
    room.Insert(0, u"ace");
    room.Insert(1, u'b');
    room.Insert(3, u'd');
    EXPECT_EQ(Units(room), u"abcde");
    EXPECT_EQ(room.GetString(), p);
    // Inserting the string's own text.
    CAtlString self(u"xyz");
    self.Insert(1, self.GetString());
    EXPECT_EQ(Units(self), u"xxyzyz");

    CAtlString r(u"banana");
    EXPECT_EQ(r.Replace(u'a', u'o'), 3);
    EXPECT_EQ(Units(r), u"bonono");
    EXPECT_EQ(r.Replace('n', 'm'), 2);
    EXPECT_EQ(r.Remove(u'o'), 3);
    EXPECT_EQ(Units(r), u"bmm");
    EXPECT_EQ(r.Remove('m'), 2);
    EXPECT_EQ(Units(r), u"b");
    EXPECT_EQ(r.GetString()[1], 0);
    EXPECT_EQ(r.SetAt(0, u'B'), 0);
    EXPECT_EQ(Units(r), u"B");

    // Replacing a unit by itself copies nothing, even when shared.
    CAtlString shared(u"aaa");
    CAtlString other(shared);
    EXPECT_EQ(shared.Replace(u'a', u'a'), 0);
    EXPECT_EQ(Refs(shared), 2);
    EXPECT_EQ(shared.GetString(), other.GetString());
}

TEST(AtlStringEdit, ReplaceSubstrings) {
    struct Row {
        const char16_t* text;
        const char16_t* oldSub;
        const char16_t* newSub;
        int count;
        std::u16string expect;
    };
    std::vector<Row> rows = {
        {u"a.b.c", u".", u"::", 2, u"a::b::c"},    {u"aaaa", u"aa", u"b", 2, u"bb"},
        {u"abc", u"x", u"y", 0, u"abc"},           {u"abab", u"ab", u"", 2, u""},
        {u"abab", u"ab", nullptr, 2, u""},         {u"abc", u"", u"x", 0, u"abc"},
        {u"abc", nullptr, u"x", 0, u"abc"},        {u"", u"a", u"b", 0, u""},
        {u"%s%d %s", u"%s", u"%S", 2, u"%S%d %S"},
    };
    for (const Row& row : rows) {
        CAtlString s(row.text);
        CAtlString keep(s);
        EXPECT_EQ(s.Replace(row.oldSub, row.newSub), row.count) << Show(row.text);
        EXPECT_EQ(Units(s), row.expect) << Show(row.text);
        EXPECT_EQ(Units(keep), std::u16string(row.text)) << Show(row.text);
        if (row.count > 0) {
            EXPECT_EQ(s.GetAllocLength(), int(row.expect.size())) << Show(row.text);
            EXPECT_EQ(IsNil(s), row.expect.empty()) << Show(row.text);
        }
    }
    CAtlString bytes(u"x-y-z");
    EXPECT_EQ(bytes.Replace("-", "\xE9"), 2);
    EXPECT_EQ(Units(bytes), u"x\u00E9y\u00E9z");
}

TEST(AtlStringEdit, CaseMappingAndReverse) {
    CAtlString s(u"stra\u00DF");
    s.MakeUpper(); // "STRASS" truncated to the length before mapping
    EXPECT_EQ(Units(s), u"STRAS");
    CAtlString mixed(u"\u00C9t\u00C9 ABC");
    mixed.MakeLower();
    EXPECT_EQ(Units(mixed), u"\u00E9t\u00E9 abc");
    CAtlString greek(u"\u03B1\u03B2");
    greek.MakeUpper();
    EXPECT_EQ(Units(greek), u"\u0391\u0392");
    CAtlString empty;
    empty.MakeUpper();
    EXPECT_TRUE(IsNil(empty));

    const char16_t units[] = {u'a', u'b', u'c', 0, u'd'};
    CAtlString r(units, 5);
    r.MakeReverse(); // only the units before the first zero
    EXPECT_EQ(Units(r), std::u16string({u'c', u'b', u'a', 0, u'd'}));
}

TEST(AtlStringTrim, WhitespaceUnitsAndSets) {
    struct Row {
        const char* what;
        std::function<void(CAtlString&)> trim;
        std::u16string text;
        std::u16string expect;
    };
    std::vector<Row> rows = {
        {"Trim", [](CAtlString& s) { s.Trim(); }, u"\t x\n", u"x"},
        {"Trim all space", [](CAtlString& s) { s.Trim(); }, u" \r\n\v\f\t", u""},
        {"Trim keeps no-break space", [](CAtlString& s) { s.Trim(); }, u"\u00A0x\u00A0",
         u"\u00A0x\u00A0"},
        {"TrimLeft", [](CAtlString& s) { s.TrimLeft(); }, u"  a b ", u"a b "},
        {"TrimRight", [](CAtlString& s) { s.TrimRight(); }, u"  a b ", u"  a b"},
        {"TrimRight inner run", [](CAtlString& s) { s.TrimRight(); }, u"a  b", u"a  b"},
        {"TrimLeft unit", [](CAtlString& s) { s.TrimLeft(u'/'); }, u"//a/", u"a/"},
        {"TrimRight unit", [](CAtlString& s) { s.TrimRight(u'/'); }, u"/a//", u"/a"},
        {"TrimRight char", [](CAtlString& s) { s.TrimRight('\xE9'); }, u"a\u00E9\u00E9", u"a"},
        {"TrimLeft zero", [](CAtlString& s) { s.TrimLeft(char16_t(0)); }, u"ab", u"ab"},
        {"TrimRight zero", [](CAtlString& s) { s.TrimRight(char16_t(0)); }, u"ab", u"ab"},
        {"TrimRight set", [](CAtlString& s) { s.TrimRight(u".,"); }, u"a.,.", u"a"},
        {"TrimRight set all", [](CAtlString& s) { s.TrimRight(u".,"); }, u".,.", u""},
        {"TrimRight set inner", [](CAtlString& s) { s.TrimRight(u"."); }, u"a.b", u"a.b"},
        {"TrimLeft set", [](CAtlString& s) { s.TrimLeft(u"xy"); }, u"xyxab", u"ab"},
        {"TrimLeft set all", [](CAtlString& s) { s.TrimLeft(u"x"); }, u"xx", u""},
        {"TrimLeft set none", [](CAtlString& s) { s.TrimLeft(u"q"); }, u"ab", u"ab"},
        {"TrimLeft null set",
         [](CAtlString& s) { s.TrimLeft(static_cast<const char16_t*>(nullptr)); }, u" a", u" a"},
        {"TrimRight empty set", [](CAtlString& s) { s.TrimRight(u""); }, u"a ", u"a "},
        {"TrimLeft bytes set", [](CAtlString& s) { s.TrimLeft("\xE9-"); }, u"-\u00E9z", u"z"},
        {"TrimRight CAtlString set", [](CAtlString& s) { s.TrimRight(CAtlString(u"z")); }, u"azz",
         u"a"},
        {"TrimLeft ushort set",
         [](CAtlString& s) { s.TrimLeft(reinterpret_cast<const unsigned short*>(u"a")); }, u"aab",
         u"b"},
    };
    for (const Row& row : rows) {
        CAtlString s(row.text.c_str(), int(row.text.size()));
        row.trim(s);
        EXPECT_EQ(Units(s), row.expect) << row.what;
        EXPECT_EQ(s.GetString()[s.GetLength()], 0) << row.what;
    }
    // Whitespace and single-unit forms copy on write even when nothing goes; set forms only
    // when something is trimmed.
    CAtlString a(u"abc");
    CAtlString b(a);
    b.TrimRight(u"q");
    EXPECT_EQ(Refs(a), 2);
    b.TrimLeft();
    EXPECT_EQ(Refs(a), 1);
    CAtlString c(a);
    c.TrimRight(u'q');
    EXPECT_EQ(Refs(a), 1);
    CAtlString d(a);
    d.TrimRight(u"c");
    EXPECT_EQ(Units(d), u"ab");
    EXPECT_EQ(Units(a), u"abc");
}

TEST(AtlStringTokenize, WalksTokensAndEndsWithMinusOne) {
    struct Step {
        std::u16string token;
        int start;
    };
    struct Row {
        std::u16string text;
        const char16_t* delims;
        int start;
        std::vector<Step> steps;
    };
    std::vector<Row> rows = {
        {u"  ab  cd ", u" ", 0, {{u"ab", 6}, {u"cd", -1}}},
        {u"ab", u",", 0, {{u"ab", -1}}},
        {u"ab", u",", 2, {{u"", -1}}},
        {u",,,", u",", 0, {{u"", -1}}},
        {u"a,b;;c", u",;", 0, {{u"a", 2}, {u"b", 5}, {u"c", -1}}},
        {u"a b", u"", 0, {{u"a b", -1}}},
        {u"", u" ", 0, {{u"", -1}}},
    };
    for (const Row& row : rows) {
        CAtlString s(row.text.c_str(), int(row.text.size()));
        int start = row.start;
        for (const Step& step : row.steps) {
            CAtlString token = s.Tokenize(row.delims, start);
            EXPECT_EQ(Units(token), step.token) << Show(row.text);
            EXPECT_EQ(start, step.start) << Show(row.text);
        }
    }
    CAtlString s(u"x y");
    int start = 0;
    EXPECT_EQ(Units(s.Tokenize(" ", start)), u"x");
    EXPECT_EQ(Units(s.Tokenize(reinterpret_cast<const unsigned short*>(u" "), start)), u"y");
    EXPECT_EQ(start, -1);
}

} // namespace
