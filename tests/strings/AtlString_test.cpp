// CAtlString's own members: construction, assignment, ReleaseBuffer, platform strings, the
// searches, comparisons, substring replacement and case mapping the platform does, the 8-bit
// forms of its members (each byte widened), and concatenation.
#include "strings/AtlString.h"

#include "AtlStringTestUtil.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

namespace {

TEST(AtlString, ConstructorsMakeExactPrivateBuffersOrNil) {
    CFStringRef xyz = CFStringCreateWithCharacters(nullptr, u"xyz", 3);
    CFStringRef empty = CFStringCreateWithCharacters(nullptr, u"", 0);
    const char16_t embedded[] = {u'a', 0, u'b'};
    struct Row {
        const char* what;
        std::function<CAtlString()> make;
        std::u16string expect; // empty means nil
    } rows[] = {
        {"char* null", [] { return CAtlString(static_cast<const char*>(nullptr)); }, u""},
        {"char* empty", [] { return CAtlString(""); }, u""},
        {"char* widened", [] { return CAtlString("ab\xE9"); }, u"ab\u00E9"},
        {"char* n", [] { return CAtlString("abc", 2); }, u"ab"},
        {"char* n 0", [] { return CAtlString("abc", 0); }, u""},
        {"char* n -1", [] { return CAtlString("abc", -1); }, u""},
        {"char* null n", [] { return CAtlString(static_cast<const char*>(nullptr), 3); }, u""},
        {"char x2", [] { return CAtlString('\xE9', 2); }, u"\u00E9\u00E9"},
        {"char x0", [] { return CAtlString('x', 0); }, u""},
        {"unit x1", [] { return CAtlString(u'\u4E2D', 1); }, u"\u4E2D"},
        {"unit x-2", [] { return CAtlString(u'x', -2); }, u""},
        {"units null", [] { return CAtlString(static_cast<const char16_t*>(nullptr)); }, u""},
        {"units empty", [] { return CAtlString(u""); }, u""},
        {"units", [] { return CAtlString(u"ab\u4E2D"); }, u"ab\u4E2D"},
        {"units n keeps zeros", [&] { return CAtlString(embedded, 3); },
         std::u16string(embedded, 3)},
        {"units n 0", [] { return CAtlString(u"abc", 0); }, u""},
        {"units null n", [] { return CAtlString(static_cast<const char16_t*>(nullptr), 2); }, u""},
        {"CAtlStringA", [] { return CAtlString(CAtlStringA("a\xFF")); }, u"a\u00FF"},
        {"CAtlStringA empty", [] { return CAtlString(CAtlStringA()); }, u""},
        {"CFString", [&] { return CAtlString(xyz); }, u"xyz"},
        {"CFString empty", [&] { return CAtlString(empty); }, u""},
        {"CFString null", [] { return CAtlString(static_cast<CFStringRef>(nullptr)); }, u""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        CAtlString s = row.make();
        EXPECT_EQ(Text(s), row.expect);
        EXPECT_EQ(IsNil(s), row.expect.empty());
        if (!row.expect.empty()) {
            EXPECT_EQ(s.GetAllocLength(), int(row.expect.size()));
            EXPECT_EQ(Refs(s), 1);
            EXPECT_EQ(s.GetString()[s.GetLength()], 0);
        }
    }
    CFRelease(xyz);
    CFRelease(empty);
}

TEST(AtlString, Assignments) {
    CAtlString s;
    const char16_t* p = s.GetBuffer(6);
    s = static_cast<const char16_t*>(nullptr); // length 0, the buffer kept
    EXPECT_EQ(s.GetString(), p);
    EXPECT_EQ(s.GetLength(), 0);
    s = "x\xE9";
    EXPECT_EQ(s.GetString(), p);
    EXPECT_EQ(Text(s), u"x\u00E9");
    s = CAtlStringA("q\x80");
    EXPECT_EQ(Text(s), u"q\u0080");
    s = CAtlStringA(); // an empty CAtlStringA keeps the buffer too
    EXPECT_EQ(s.GetString(), p);
    s = '\xFF';
    EXPECT_EQ(Text(s), u"\u00FF");
    s = u'\u4E2D';
    EXPECT_EQ(Text(s), u"\u4E2D");
    CFStringRef cf = CFStringCreateWithCharacters(nullptr, u"cf!", 3);
    s = cf;
    EXPECT_EQ(Text(s), u"cf!");
    CFRelease(cf);
    s = ""; // an empty 8-bit string or platform string empties the string
    EXPECT_TRUE(IsNil(s));
    s = u"ab";
    s = static_cast<CFStringRef>(nullptr);
    EXPECT_TRUE(IsNil(s));
}

TEST(AtlString, ReleaseBufferKeepsARecordedLength) {
    CAtlString v;
    char16_t* q = v.GetBufferSetLength(5);
    q[0] = u'x';
    q[1] = 0;
    v.ReleaseBuffer(); // the recorded 5 stays
    EXPECT_EQ(v.GetLength(), 5);
    v.ReleaseBuffer(1);
    EXPECT_EQ(Text(v), u"x");
    // A zero length: the units before the first zero, at most allocLength.
    CAtlString w;
    char16_t* r = w.GetBuffer(4);
    r[0] = r[1] = r[2] = r[3] = u'z';
    w.ReleaseBuffer();
    EXPECT_EQ(Text(w), u"zzzz");
    w.Truncate(0);
    r[0] = r[1] = u'y';
    r[2] = 0;
    w.ReleaseBuffer();
    EXPECT_EQ(Text(w), u"yy");
}

TEST(AtlString, PlatformStrings) {
    CAtlString s(u"caf\u00E9");
    CFStringRef copy = s.CreateCFStringRef();
    CFStringRef view = s; // over s's own units
    for (CFStringRef cf : {copy, view}) {
        ASSERT_EQ(CFStringGetLength(cf), 4);
        char16_t out[4] = {};
        CFStringGetCharacters(cf, CFRangeMake(0, 4), out);
        EXPECT_EQ(std::u16string(out, 4), u"caf\u00E9");
    }
    EXPECT_EQ(CFStringGetCharactersPtr(view), s.GetString());
    CFRelease(view);
    s.SetAt(0, u'C');
    EXPECT_EQ(CFStringGetCharacterAtIndex(copy, 0), u'c');
    CFRelease(copy);
    CFStringRef empty = CAtlString().CreateCFStringRef();
    EXPECT_EQ(CFStringGetLength(empty), 0);
    CFRelease(empty);
}

TEST(AtlString, SearchesAreLiteral) {
    CAtlString s(u"Ab\u00E9e\u0301b");
    struct Row {
        const char* what;
        int got, expect;
    } rows[] = {
        {"no case folding", s.Find(u'a'), -1},
        {"no normalization", s.Find(u"\u00E9", 3), -1},
        {"combining sequence", s.Find(u"e\u0301"), 3},
        {"empty sub", s.Find(u""), -1},
        {"null sub", s.Find(static_cast<const char16_t*>(nullptr)), -1},
        {"bytes sub widened", s.Find("\xE9"), 2},
        {"bytes sub from", s.Find("b", 2), 5},
        {"char widened", s.Find('\xE9'), 2},
        {"CAtlString sub", s.Find(CAtlString(u"b"), 2), 5},
        {"one of bytes", s.FindOneOf("\xE9x"), 2},
        {"one of null", s.FindOneOf(static_cast<const char16_t*>(nullptr)), -1},
        {"reverse char", s.ReverseFind('b'), 5},
        {"in nil", CAtlString().Find(u'a'), -1},
    };
    for (const Row& row : rows)
        EXPECT_EQ(row.got, row.expect) << row.what;
}

TEST(AtlString, ComparisonsByUnitsOrByCollation) {
    // With a CAtlString: code units, exactly -1, 0 or 1 ("Z" 0x5A sorts before "a").
    CAtlString a(u"a");
    EXPECT_EQ(CAtlString(u"Z").Compare(a), -1);
    EXPECT_EQ(a.Compare(CAtlString(u"Z")), 1);
    EXPECT_EQ(CAtlString().Compare(CAtlString()), 0);
    EXPECT_EQ(a.CompareNoCase(CAtlString(u"A")), 0);
    EXPECT_EQ(a.Compare(CAtlString(u"A")), 1);
    EXPECT_EQ(CAtlString(u"caf\u00E9").Compare(CAtlString(u"cafe\u0301")), 1);
    // With a zero-terminated string: the collation, composition and width insensitive when
    // case-sensitive.
    EXPECT_LT(a.Compare(u"B"), 0);
    EXPECT_GT(CAtlString(u"b").Compare(u"a"), 0);
    EXPECT_NE(a.Compare(u"A"), 0);
    EXPECT_EQ(a.CompareNoCase(u"A"), 0);
    EXPECT_EQ(a.Collate(u"A", false), 0);
    EXPECT_EQ(CAtlString(u"caf\u00E9").Compare(u"cafe\u0301"), 0);
    EXPECT_NE(CAtlString(u"a-b").CompareNoCase(u"ab"), 0); // punctuation counts
    EXPECT_GT(a.Compare(static_cast<const char16_t*>(nullptr)), 0);
    EXPECT_EQ(CAtlString().Compare(u""), 0);
    // The operators: units against a CAtlString, collation against a pointer, the sense
    // inverted with the pointer on the left.
    EXPECT_TRUE(a > CAtlString(u"B") && a < u"B" && u"B" > a && !(u"B" < a));
    EXPECT_TRUE(a == u"a" && u"a" == a && a != u"b" && a <= a && a >= CAtlString(u"a"));
}

static_assert(HasEq<const CAtlString&, const CAtlString&> &&
              HasLess<const CAtlString&, const CAtlString&> &&
              HasGreater<const CAtlString&, const CAtlString&>);
static_assert(HasEq<const CAtlString&, const char16_t*> &&
              HasLess<const CAtlString&, const unsigned short*> &&
              HasGreater<const CAtlString&, const char16_t*>);
// 8-bit text is not quietly widened and compared by code units.
static_assert(!HasEq<const CAtlString&, const char*> && !HasLess<const CAtlString&, const char*>);
static_assert(!HasEq<const CAtlString&, const CAtlStringA&>);

TEST(AtlString, ReplaceSubstrings) {
    struct Row {
        const char16_t *text, *oldSub, *newSub;
        int count;
        std::u16string expect;
    } rows[] = {
        {u"abab", u"ab", nullptr, 2, u""},         {u"abc", u"", u"x", 0, u"abc"},
        {u"abc", nullptr, u"x", 0, u"abc"},        {u"", u"a", u"b", 0, u""},
        {u"%s%d %s", u"%s", u"%S", 2, u"%S%d %S"},
    };
    for (const Row& row : rows) {
        CAtlString s(row.text);
        EXPECT_EQ(s.Replace(row.oldSub, row.newSub), row.count) << row.count;
        EXPECT_EQ(Text(s), row.expect);
        EXPECT_EQ(IsNil(s), row.expect.empty());
        if (row.count > 0) {
            EXPECT_EQ(s.GetAllocLength(), int(row.expect.size()));
        }
    }
    CAtlString bytes(u"x-y-z");
    EXPECT_EQ(bytes.Replace("-", "\xE9"), 2);
    EXPECT_EQ(Text(bytes), u"x\u00E9y\u00E9z");
}

TEST(AtlString, CaseMappingKeepsTheLength) {
    CAtlString s(u"stra\u00DF");
    CAtlString keep(s);
    s.MakeUpper(); // "STRASS" cut to the length before mapping
    EXPECT_EQ(Text(s), u"STRAS");
    EXPECT_EQ(Text(keep), u"stra\u00DF");
    CAtlString mixed(u"\u00C9t\u0391 ABC");
    mixed.MakeLower();
    EXPECT_EQ(Text(mixed), u"\u00E9t\u03B1 abc");
    CAtlString nil;
    EXPECT_TRUE(IsNil(nil.MakeUpper()));
}

TEST(AtlString, EightBitArgumentsAreWidened) {
    CAtlString s(u"-\u00E9a\u00E9-");
    EXPECT_EQ(s.Insert(1, "\xE9"), 6);
    s.TrimLeft("-\xE9").TrimRight("\xE9-");
    EXPECT_EQ(Text(s), u"a");
    CAtlString line(u"a\u00E9b");
    int start = 0;
    EXPECT_EQ(Text(line.Tokenize("\xE9", start)), u"a");
    EXPECT_EQ(start, 2);
}

TEST(AtlString, ConcatenationBuildsOneExactBuffer) {
    CAtlString ab(u"ab");
    CAtlString none;
    struct Row {
        const char* what;
        CAtlString result;
        std::u16string expect;
    } rows[] = {
        {"S+unit", ab + u'\u4E2D', u"ab\u4E2D"},
        {"unit+S", u'x' + ab, u"xab"},
        {"S+char", ab + '\xE9', u"ab\u00E9"},
        {"char+S", '\xE9' + ab, u"\u00E9ab"},
        {"S+units", ab + u"yz", u"abyz"},
        {"units+S", u"yz" + ab, u"yzab"},
        {"S+null units", ab + static_cast<const char16_t*>(nullptr), u"ab"},
        {"null units+S", static_cast<const char16_t*>(nullptr) + ab, u"ab"},
        {"S+bytes", ab + "\xE9!", u"ab\u00E9!"},
        {"bytes+S", "\xE9" + ab, u"\u00E9ab"},
        {"null bytes+S", static_cast<const char*>(nullptr) + ab, u"ab"},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(Text(row.result), row.expect) << row.what;
        EXPECT_EQ(row.result.GetAllocLength(), int(row.expect.size())) << row.what;
    }
    EXPECT_TRUE(IsNil(none + none) && IsNil(none + u"") && IsNil("" + none));
}

TEST(AtlString, AppendingNothingChangesNothing) {
    CAtlString s(u"a");
    s += 'b';
    s += "\xE9";
    s += u'c';
    s.Append("dx", 1);
    EXPECT_EQ(Text(s), u"ab\u00E9cd");
    const char16_t* before = s.GetString();
    s += static_cast<const char16_t*>(nullptr);
    s += static_cast<const char*>(nullptr);
    s.Append(static_cast<const char16_t*>(nullptr), 3);
    s.Append(static_cast<const char*>(nullptr), 3);
    s.Append(u"zz", 0);
    s.Append("zz", -1);
    EXPECT_EQ(s.GetString(), before);
    EXPECT_EQ(Text(s), u"ab\u00E9cd");
    // Exactly n units, zeros included.
    const char bytes[] = {'x', 0, '\xFF'};
    s.Append(bytes, 3);
    EXPECT_EQ(Text(s), std::u16string(u"ab\u00E9cdx\0\u00FF", 8));
}

} // namespace
