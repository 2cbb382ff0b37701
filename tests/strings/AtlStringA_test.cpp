// CAtlStringA's own rules: narrowing ('?' from 256 up), Mac OS Roman towards platform strings,
// byte-loop searches, "C"-locale case mapping, CFStringCompare comparisons, ReleaseBuffer(-1)
// measuring to the first zero, and the concatenations with 16-bit operands.
#include "strings/AtlString.h"

#include "AtlStringTestUtil.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>

namespace {

TEST(AtlStringA, ConstructorsNarrowAndCopy) {
    CFStringRef cafe = CFStringCreateWithCharacters(nullptr, u"caf\u00E9", 4);
    struct Row {
        const char* what;
        std::function<CAtlStringA()> make;
        std::string expect; // empty means nil
    } rows[] = {
        {"bytes", [] { return CAtlStringA("a\xE9"); }, "a\xE9"},
        {"null bytes", [] { return CAtlStringA(static_cast<const char*>(nullptr)); }, ""},
        {"bytes n keeps zeros", [] { return CAtlStringA("a\0b", 3); }, std::string("a\0b", 3)},
        {"bytes n 0", [] { return CAtlStringA("ab", 0); }, ""},
        {"null bytes n", [] { return CAtlStringA(static_cast<const char*>(nullptr), 2); }, ""},
        {"char x3", [] { return CAtlStringA('z', 3); }, "zzz"},
        {"char x0", [] { return CAtlStringA('z', 0); }, ""},
        {"unit x2", [] { return CAtlStringA(u'\u0100', 2); }, "??"},
        {"unit 0xFF", [] { return CAtlStringA(u'\u00FF', 1); }, "\xFF"},
        {"units", [] { return CAtlStringA(u"\u00E9\u4E2Dx"); }, "\xE9?x"},
        {"units null", [] { return CAtlStringA(static_cast<const char16_t*>(nullptr)); }, ""},
        {"units empty", [] { return CAtlStringA(u""); }, ""},
        {"units n", [] { return CAtlStringA(u"\u0100bc", 2); }, "?b"},
        {"units n 0", [] { return CAtlStringA(u"abc", 0); }, ""},
        {"units null n", [] { return CAtlStringA(static_cast<const char16_t*>(nullptr), 1); }, ""},
        {"CAtlString", [] { return CAtlStringA(CAtlString(u"\u00E9\u4E2D")); }, "\xE9?"},
        {"CFString in Mac OS Roman", [&] { return CAtlStringA(cafe); }, "caf\x8E"},
        {"CFString null", [] { return CAtlStringA(static_cast<CFStringRef>(nullptr)); }, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        CAtlStringA s = row.make();
        EXPECT_EQ(Text(s), row.expect);
        EXPECT_EQ(IsNil(s), row.expect.empty());
        if (!row.expect.empty()) {
            EXPECT_EQ(s.GetAllocLength(), int(row.expect.size()));
            EXPECT_EQ(s.GetString()[s.GetLength()], 0);
        }
    }
    CFRelease(cafe);
}

TEST(AtlStringA, AssignmentsAndConversions) {
    CAtlStringA s;
    s = u"\u0100\u00FC";
    EXPECT_EQ(Text(s), "?\xFC");
    s = u'\u20AC';
    EXPECT_EQ(Text(s), "?");
    s = static_cast<const char16_t*>(nullptr);
    EXPECT_EQ(s.GetLength(), 0);
    s = 'k';
    EXPECT_EQ(Text(s), "k");
    s = static_cast<const char*>(nullptr);
    EXPECT_TRUE(IsNil(s));
    s = "text";
    s.LockBuffer();
    s = ""; // a locked buffer stays, locked, with length 0
    EXPECT_EQ(s.GetAllocLength(), 4);
    EXPECT_EQ(Refs(s), -1);
    s.UnlockBuffer();
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

TEST(AtlStringA, ReleaseBufferMeasuresToTheFirstZero) {
    CAtlStringA s;
    char* p = s.GetBufferSetLength(6);
    std::memcpy(p, "abc", 4);
    s.ReleaseBuffer(); // unlike the 16-bit class, the recorded 6 does not survive
    EXPECT_EQ(Text(s), "abc");
    EXPECT_EQ(s.GetAllocLength(), 6);
    s.ReleaseBuffer(2);
    EXPECT_EQ(Text(s), "ab");
    CAtlStringA full;
    std::memcpy(full.GetBuffer(3), "zzz", 3);
    full.ReleaseBuffer();
    EXPECT_EQ(Text(full), "zzz");
}

TEST(AtlStringA, SearchesAreByteLoops) {
    CAtlStringA s("abca");
    struct Row {
        const char* what;
        int got, expect;
    } rows[] = {
        {"empty sub", s.Find("", 2), 2},
        {"null sub", s.Find(static_cast<const char*>(nullptr), -1), 0},
        {"sub at the length", s.Find("", 4), -1},
        {"byte at the length", s.Find('a', 4), -1},
        {"byte from -1", s.Find('a', -1), 0},
        {"high byte", CAtlStringA("x\xE9y").Find('\xE9'), 1},
        {"CAtlStringA sub", s.Find(CAtlStringA("a"), 1), 3},
        {"one of null", s.FindOneOf(static_cast<const char*>(nullptr)), -1},
        {"one of CAtlStringA", s.FindOneOf(CAtlStringA("c")), 2},
    };
    for (const Row& row : rows)
        EXPECT_EQ(row.got, row.expect) << row.what;
    CAtlStringA five("abcab");
    EXPECT_EQ(Text(five.SpanIncluding("ab")), "ab");
    EXPECT_EQ(Text(five.SpanExcluding("c")), "ab");
    EXPECT_EQ(five.SpanIncluding("abc").GetString(), five.GetString()); // the whole: shared
    EXPECT_TRUE(IsNil(five.SpanIncluding(nullptr)));
    EXPECT_EQ(five.SpanExcluding(nullptr).GetString(), five.GetString());
}

TEST(AtlStringA, CaseMappingIsAsciiOnly) {
    CAtlStringA s("a\xE9Z");
    CAtlStringA keep(s);
    s.MakeUpper();
    EXPECT_EQ(Text(s), "A\xE9Z");
    s.MakeLower();
    EXPECT_EQ(Text(s), "a\xE9z");
    EXPECT_EQ(Text(keep), "a\xE9Z");
}

TEST(AtlStringA, ComparisonsThroughPlatformStrings) {
    CAtlStringA a("a");
    CAtlStringA b("b");
    EXPECT_EQ(a.Compare(b), -1);
    EXPECT_EQ(b.Compare("a"), 1);
    EXPECT_EQ(a.Compare(u"a"), 0);
    EXPECT_EQ(CAtlStringA("ABC").Compare("abc"), -1);
    EXPECT_EQ(CAtlStringA("ABC").CompareNoCase("abc"), 0);
    EXPECT_EQ(CAtlStringA("ABC").CompareNoCase(CAtlStringA("abc")), 0);
    EXPECT_EQ(CAtlStringA("ABC").CompareNoCase(u"abc"), 0);
    EXPECT_EQ(CAtlStringA("ABC").Compare(u"abc"), -1);
    EXPECT_EQ(CAtlStringA("\x8E").Compare(u"\u00E9"), 0); // Mac OS Roman on the 8-bit side
    EXPECT_EQ(a.Collate(static_cast<const char*>(nullptr), true), 1);
    EXPECT_EQ(a.Collate(static_cast<const char16_t*>(nullptr), true), 1);
    EXPECT_TRUE(a < b && a == "a" && "a" == a && a != "b" && "a" < b && "b" >= a && b <= "b");
    EXPECT_TRUE(u"b" > a && a < u"b" && a == u"a");
}

// All with CAtlStringA and 16-bit strings; with 8-bit strings all but ">"; none with unsigned
// short strings.
static_assert(HasEq<const CAtlStringA&, const CAtlStringA&> &&
              HasLess<const CAtlStringA&, const CAtlStringA&> &&
              HasGreater<const CAtlStringA&, const CAtlStringA&>);
static_assert(HasEq<const CAtlStringA&, const char16_t*> &&
              HasLess<const CAtlStringA&, const char16_t*> &&
              HasGreater<const CAtlStringA&, const char16_t*>);
static_assert(HasEq<const CAtlStringA&, const char*> && HasLess<const CAtlStringA&, const char*> &&
              !HasGreater<const CAtlStringA&, const char*>);
static_assert(!HasEq<const CAtlStringA&, const unsigned short*> &&
              !HasLess<const CAtlStringA&, const unsigned short*>);

TEST(AtlStringA, ReplaceGoesThroughMacOSRoman) {
    CAtlStringA s("a-b-c");
    EXPECT_EQ(s.Replace("-", "::"), 2);
    EXPECT_EQ(Text(s), "a::b::c");
    EXPECT_EQ(s.GetAllocLength(), 8); // one byte more than the new length
    EXPECT_EQ(s.Replace("", "y"), 0);
    EXPECT_EQ(s.Replace(nullptr, "y"), 0);
    CAtlStringA roman("\x8E!\x8E");
    EXPECT_EQ(roman.Replace("\x8E", "\x80"), 2);
    EXPECT_EQ(Text(roman), "\x80!\x80");
    EXPECT_EQ(roman.Replace("!", nullptr), 1);
    EXPECT_EQ(Text(roman), "\x80\x80");
}

TEST(AtlStringA, SixteenBitOperandsAreNarrowed) {
    CAtlStringA line("a\xE9"
                     "b");
    int start = 0;
    EXPECT_EQ(Text(line.Tokenize(u"\u00E9", start)), "a");
    EXPECT_EQ(start, 2);
    start = 0;
    EXPECT_EQ(Text(line.Tokenize(u"", start)), "a\xE9"
                                               "b");
    EXPECT_EQ(start, -1);

    CAtlStringA ab("ab");
    struct Row {
        const char* what;
        CAtlStringA result;
        std::string expect;
    } rows[] = {
        {"A+char", ab + 'c', "abc"},
        {"char+A", 'c' + ab, "cab"},
        {"A+bytes", ab + "!", "ab!"},
        {"bytes+A", "!" + ab, "!ab"},
        {"A+null", ab + static_cast<const char*>(nullptr), "ab"},
        {"null+A", static_cast<const char*>(nullptr) + ab, "ab"},
        {"A+unit", ab + u'\u4E2D', "ab?"},
        {"unit+A", u'\u00E9' + ab,
         "\xE9"
         "ab"},
        {"A+CAtlString", ab + CAtlString(u"\u0101x"), "ab?x"},
        {"CAtlString+A", CAtlString(u"\u00FF") + ab,
         "\xFF"
         "ab"},
        {"A+units", ab + u"\u4E2D", "ab?"},
        {"units+A", u"z" + ab, "zab"},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(Text(row.result), row.expect) << row.what;
        EXPECT_EQ(row.result.GetAllocLength(), int(row.expect.size())) << row.what;
    }
    // An empty 16-bit operand gives a copy (sharing) of the other.
    EXPECT_EQ((ab + CAtlString()).GetString(), ab.GetString());
    EXPECT_EQ((static_cast<const char16_t*>(nullptr) + ab).GetString(), ab.GetString());
    EXPECT_TRUE(IsNil(CAtlStringA() + CAtlStringA()));

    CAtlStringA s;
    s += u"\u00E9\u4E2D";
    s += u'\u0100';
    s += u"";
    s += static_cast<const char16_t*>(nullptr);
    s += 'z';
    s.Append("0123", 2);
    s.Append(static_cast<const char*>(nullptr), 2);
    EXPECT_EQ(Text(s), "\xE9??z01");
}

} // namespace
