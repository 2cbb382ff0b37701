// CAtlStringA's own rules: narrowing ('?' from 256 up), Mac OS Roman towards platform strings,
// byte-loop searches, "C"-locale case mapping, CFStringCompare comparisons, ReleaseBuffer(-1)
// measuring to the first zero, and the concatenations with 16-bit operands.
#include "strings/AtlString.h"

#include "AtlStringTestUtil.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

TEST(AtlStringA, ConstructorsNarrowAndReleaseBufferMeasures) {
    ExpectFresh(CAtlStringA("a\xE9"), "a\xE9");
    ExpectFresh(CAtlStringA("a\0b", 3), std::string("a\0b", 3)); // zeros kept
    ExpectFresh(CAtlStringA('z', 3), "zzz");
    ExpectFresh(CAtlStringA(u'\u0100', 2), "??");
    ExpectFresh(CAtlStringA(u"\u00E9\u4E2Dx"), "\xE9?x");
    ExpectFresh(CAtlStringA(static_cast<const char16_t*>(nullptr)), "");
    ExpectFresh(CAtlStringA(u"\u0100bc", 2), "?b");
    CAtlStringA s;
    std::memcpy(s.GetBufferSetLength(6), "abc", 4);
    s.ReleaseBuffer(); // unlike the 16-bit class, the recorded 6 does not survive
    EXPECT_EQ(Text(s), "abc");
}

TEST(AtlStringA, AssignmentsAndConversions) {
    CAtlStringA s;
    s = u"\u0100\u00FC";
    EXPECT_EQ(Text(s), "?\xFC");
    s = static_cast<const char16_t*>(nullptr);
    EXPECT_EQ(s.GetLength(), 0);
    s = 'k';
    EXPECT_EQ(Text(s), "k");
    s = static_cast<const char*>(nullptr);
    EXPECT_TRUE(IsNil(s));
    // From platform strings: bytes the string keeps, a conversion, and characters Mac OS Roman
    // lacks, which become '?' while the rest survives.
    struct Row {
        CFStringRef cf;
        std::string expect;
    } rows[] = {
        {CFStringCreateWithCString(nullptr, "plain", kCFStringEncodingMacRoman), "plain"},
        {CFStringCreateWithCharacters(nullptr, u"\u00C4b", 2), "\x80"
                                                               "b"},
        {CFStringCreateWithCharacters(nullptr, u"a\u4E2Db\u4E2D", 4), "a?b?"},
    };
    for (const Row& row : rows) {
        s = row.cf;
        EXPECT_EQ(Text(s), row.expect);
        CFRelease(row.cf);
    }
    s = static_cast<CFStringRef>(nullptr);
    EXPECT_TRUE(IsNil(s));

    // Out: widened unit by unit, and Mac OS Roman to a platform string.
    CAtlStringA bytes("\x8E\xE9");
    EXPECT_EQ(Text(static_cast<CAtlString>(bytes)), u"\u008E\u00E9");
    CFStringRef roman = bytes.CreateCFStringRef();
    ASSERT_EQ(CFStringGetLength(roman), 2);
    EXPECT_EQ(CFStringGetCharacterAtIndex(roman, 0), u'\u00E9');
    CFRelease(roman);
}

TEST(AtlStringA, SearchesCaseAndSpans) {
    CAtlStringA s("abca");
    const std::vector<int> got = {
        s.Find("", 2),      s.Find(static_cast<const char*>(nullptr), -1),
        s.Find("", 4),      CAtlStringA("x\xE9").Find('\xE9'),
        s.Find('a', -1),    s.Find('a', 3),
        s.Find('a', 4),     s.Find("ca", -2),
        s.Find("a", 3),     s.FindOneOf("cb"),
        s.FindOneOf("z"),   s.FindOneOf(static_cast<const char*>(nullptr)),
        s.ReverseFind('a'), s.ReverseFind('z')};
    EXPECT_EQ(got, (std::vector<int>{2, 0, -1, 1, 0, 3, -1, 2, 3, 1, -1, -1, 3, -1}));
    CAtlStringA five("abcab");
    EXPECT_EQ(Text(five.SpanIncluding("ab")) + Text(five.SpanExcluding("c")), "abab");
    EXPECT_EQ(five.SpanIncluding("abc").GetString(), five.GetString()); // the whole: shared
    EXPECT_EQ(five.SpanExcluding(nullptr).GetString(), five.GetString());
    EXPECT_TRUE(IsNil(five.SpanIncluding(nullptr)));
    CAtlStringA keep("a\xE9Z");
    CAtlStringA c(keep);
    EXPECT_EQ(Text(c.MakeUpper()), "A\xE9Z"); // ASCII letters only
    EXPECT_EQ(Text(c.MakeLower()), "a\xE9z");
    EXPECT_EQ(Text(keep), "a\xE9Z");
}

TEST(AtlStringA, ComparisonsThroughPlatformStrings) {
    CAtlStringA a("a");
    CAtlStringA upper("ABC");
    const std::vector<int> got = {a.Compare(CAtlStringA("b")),
                                  a.Compare(u"a"),
                                  upper.Compare("abc"),
                                  upper.CompareNoCase("abc"),
                                  upper.CompareNoCase(u"abc"),
                                  upper.Compare(u"abc"),
                                  upper.CompareNoCase(CAtlStringA("abc")),
                                  CAtlStringA("\x8E").Compare(u"\u00E9"),
                                  a.Compare(static_cast<const char*>(nullptr)),
                                  a.Compare(static_cast<const char16_t*>(nullptr))};
    EXPECT_EQ(got, (std::vector<int>{-1, 0, -1, 0, 0, -1, 0, 0, 1, 1}));
    EXPECT_TRUE(a == "a" && "a" == a && a != "b" && "a" < CAtlStringA("b") && "b" >= a);
    EXPECT_TRUE(u"b" > a && a < u"b" && a == u"a");
}

TEST(AtlStringA, ReplaceGoesThroughMacOSRoman) {
    CAtlStringA s("\x8E-\x8E");
    EXPECT_EQ(s.Replace("\x8E", "::"), 2);
    EXPECT_EQ(Text(s), "::-::");
    EXPECT_EQ(s.GetAllocLength(), 6); // one byte more than the new length
    EXPECT_EQ(s.Replace("", "y") + s.Replace(nullptr, "y"), 0);
    EXPECT_EQ(s.Replace("-", nullptr), 1);
    EXPECT_EQ(Text(s), "::::");
}

TEST(AtlStringA, SixteenBitOperandsAreNarrowed) {
    CAtlStringA line("a\xE9"
                     "b");
    int start = 0;
    EXPECT_EQ(Text(line.Tokenize(u"\u00E9", start)), "a");
    EXPECT_EQ(start, 2);
    start = 0;
    EXPECT_EQ(line.Tokenize(u"", start).GetString(), line.GetString());
    EXPECT_EQ(start, -1);
    CAtlStringA ab("ab");
    ExpectFresh(static_cast<const char*>(nullptr) + ab, "ab");
    ExpectFresh(ab + u'\u4E2D', "ab?");
    ExpectFresh(u'\u00E9' + ab, std::string("\xE9") + "ab");
    ExpectFresh(ab + CAtlString(u"\u0101x"), "ab?x");
    ExpectFresh(CAtlString(u"\u00FF") + ab, std::string("\xFF") + "ab");
    // An empty 16-bit operand gives a copy (sharing) of the other.
    EXPECT_EQ((ab + CAtlString()).GetString(), ab.GetString());
    EXPECT_EQ((static_cast<const char16_t*>(nullptr) + ab).GetString(), ab.GetString());
    ab += u"\u00E9\u4E2D";
    ab += u'\u0100';
    ab += "#";
    ab += static_cast<const char16_t*>(nullptr);
    ab.Append(static_cast<const char*>(nullptr), 2);
    EXPECT_EQ(Text(ab), "ab\xE9??#");
}

} // namespace
