// CAtlString's own members: construction, assignment, ReleaseBuffer, platform strings, the
// searches, comparisons, substring replacement and case mapping the platform does, the 8-bit
// forms of its members (each byte widened), and concatenation.
#include "strings/AtlString.h"

#include "AtlStringTestUtil.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

TEST(AtlString, ConstructorsMakeExactPrivateBuffersOrNil) {
    ExpectFresh(CAtlString(static_cast<const char*>(nullptr)), u"");
    ExpectFresh(CAtlString("ab\xE9"), u"ab\u00E9"); // each byte widened
    ExpectFresh(CAtlString("abc", 1), u"a");
    ExpectFresh(CAtlString(static_cast<const char*>(nullptr), 3), u"");
    ExpectFresh(CAtlString('\xE9', 1), u"\u00E9");
    ExpectFresh(CAtlString(u"ab\u4E2D"), u"ab\u4E2D");
    const char16_t embedded[] = {u'a', 0, u'b'};
    ExpectFresh(CAtlString(embedded, 3), std::u16string(embedded, 3)); // zeros kept
    CFStringRef xyz = CFStringCreateWithCharacters(nullptr, u"xyz", 3);
    ExpectFresh(CAtlString(xyz), u"xyz");
    CFRelease(xyz);
    ExpectFresh(CAtlString(static_cast<CFStringRef>(nullptr)), u"");
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
    s = '\xFF';
    EXPECT_EQ(Text(s), u"\u00FF");
    s = CAtlStringA("q\x80");
    EXPECT_EQ(Text(s), u"q\u0080");
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
    v.Truncate(0); // a zero length: the units before the first zero
    q[0] = q[1] = u'y';
    q[2] = 0;
    v.ReleaseBuffer();
    EXPECT_EQ(Text(v), u"yy");
}

TEST(AtlString, PlatformStrings) {
    CAtlString s(u"caf\u00E9");
    const CAtlString shared(s);
    s.SetAt(0, u'C');     // on a private copy
    CFStringRef view = s; // over s's own units
    EXPECT_EQ(CFStringGetCharactersPtr(view), s.GetString());
    EXPECT_EQ(CFStringGetLength(view), 4);
    CFRelease(view);
    EXPECT_EQ(Text(shared) + Text(s), u"caf\u00E9Caf\u00E9");
}

TEST(AtlString, SearchesAreLiteralAndWidenBytes) {
    CAtlString s(u"Ab\u00E9e\u0301b");
    const std::vector<int> got = {s.Find(u'a'),         s.Find(u"\u00E9", 3), s.Find(u"e\u0301"),
                                  s.Find(u""),          s.Find("b", 2),       s.Find('\xE9'),
                                  s.FindOneOf("\xE9x"), s.ReverseFind('b'),   s.Find(u'b', -1),
                                  s.Find(u'b', 5),      s.Find(u'b', 6),      s.Find(u"b", -2),
                                  s.Find(u"b", 7),      s.FindOneOf(u"z"),    s.ReverseFind(u'z')};
    EXPECT_EQ(got, (std::vector<int>{-1, -1, 3, -1, 5, 2, 2, 5, 1, 5, -1, 1, -1, -1, -1}));
    CAtlString t(u"-\u00E9a\u00E9-");
    EXPECT_EQ(t.Insert(1, "\xE9"), 6);
    t.TrimLeft("-\xE9").TrimRight("\xE9-");
    EXPECT_EQ(Text(t), u"a");
    int start = 0;
    EXPECT_EQ(Text(s.Tokenize("\xE9", start)), u"Ab");
    EXPECT_EQ(start, 3);
    EXPECT_EQ(s.Replace("b", "\xE9"), 2);
    EXPECT_EQ(Text(s), u"A\u00E9\u00E9e\u0301\u00E9");
}

TEST(AtlString, ComparisonsByUnitsOrByCollation) {
    // With a CAtlString: code units, exactly -1, 0 or 1 ("Z" 0x5A sorts before "a").
    CAtlString a(u"a");
    EXPECT_EQ(CAtlString(u"Z").Compare(a), -1);
    EXPECT_EQ(a.CompareNoCase(CAtlString(u"A")), 0);
    EXPECT_EQ(CAtlString(u"caf\u00E9").Compare(CAtlString(u"cafe\u0301")), 1);
    // With a zero-terminated string: the collation, composition and width insensitive when
    // case-sensitive; punctuation counts.
    EXPECT_NE(a.Compare(u"A"), 0);
    EXPECT_EQ(a.CompareNoCase(u"A"), 0);
    EXPECT_EQ(CAtlString(u"caf\u00E9").Compare(u"cafe\u0301"), 0);
    EXPECT_NE(CAtlString(u"a-b").CompareNoCase(u"ab"), 0);
    EXPECT_GT(a.Compare(static_cast<const char16_t*>(nullptr)), 0);
    // The operators: units against a CAtlString, collation against a pointer, the sense
    // inverted with the pointer on the left.
    EXPECT_TRUE(a > CAtlString(u"B") && a < u"B" && u"B" > a && !(u"B" < a));
    EXPECT_TRUE(a == u"a" && u"a" == a && a != u"b" && a <= a && a >= CAtlString(u"a"));
}

TEST(AtlString, ReplaceAndCaseMapping) {
    CAtlString s(u"abab");
    EXPECT_EQ(s.Replace(u"", u"x") + s.Replace(nullptr, u"x"), 0);
    EXPECT_EQ(s.Replace(u"ab", nullptr), 2); // nothing left: nil
    EXPECT_TRUE(IsNil(s));
    s = u"stra\u00DF";
    CAtlString keep(s);
    s.MakeUpper(); // "STRASS" cut to the length before mapping
    EXPECT_EQ(Text(s), u"STRAS");
    EXPECT_EQ(Text(keep), u"stra\u00DF");
    s = u"\u00C9t\u0391 ABC";
    s.MakeLower();
    EXPECT_EQ(Text(s), u"\u00E9t\u03B1 abc");
}

TEST(AtlString, ConcatenationBuildsOneExactBuffer) {
    CAtlString ab(u"ab");
    CAtlString none;
    ExpectFresh(ab + u'\u4E2D', u"ab\u4E2D");
    ExpectFresh(u'x' + ab, u"xab");
    ExpectFresh(ab + '\xE9', u"ab\u00E9");
    ExpectFresh('\xE9' + ab, u"\u00E9ab");
    ExpectFresh(ab + u"yz", u"abyz");
    ExpectFresh(u"yz" + ab, u"yzab");
    ExpectFresh(static_cast<const char16_t*>(nullptr) + ab, u"ab");
    ExpectFresh(ab + "\xE9!", u"ab\u00E9!");
    ExpectFresh("\xE9" + ab, u"\u00E9ab");
    EXPECT_TRUE(IsNil(none + none) && IsNil(none + u"") && IsNil("" + none));
    // Appending: bytes widened, exactly n units with zeros; nothing to append changes nothing.
    ab += 'c';
    ab += "\xE9";
    const char bytes[] = {'x', 0, '\xFF'};
    ab.Append(bytes, 3);
    const char16_t* before = ab.GetString();
    ab += static_cast<const char*>(nullptr);
    ab.Append(static_cast<const char16_t*>(nullptr), 3);
    ab.Append(static_cast<const char*>(nullptr), 3);
    ab.Append("zz", -1);
    EXPECT_EQ(ab.GetString(), before);
    EXPECT_EQ(Text(ab), std::u16string(u"abc\u00E9x\0\u00FF", 7));
}

} // namespace
