// CAtlStringA: narrowing and widening, Mac OS Roman towards platform strings, its own searches,
// case and trimming rules, ReleaseBuffer(-1), comparisons and the mixed concatenations.
#include "strings/AtlString.h"

#include "AtlStringTestUtil.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

namespace {

TEST(AtlStringA, ConstructorsNarrowAndCopy) {
    CFStringRef cafe = CFStringCreateWithCharacters(nullptr, u"caf\u00E9", 4);
    struct Row {
        const char* what;
        std::function<CAtlStringA()> make;
        std::string expect; // empty means nil
    };
    std::vector<Row> rows = {
        {"default", [] { return CAtlStringA(); }, ""},
        {"bytes", [] { return CAtlStringA("a\xE9"); }, "a\xE9"},
        {"null bytes", [] { return CAtlStringA(static_cast<const char*>(nullptr)); }, ""},
        {"bytes n keeps zeros", [] { return CAtlStringA("a\0b", 3); }, std::string("a\0b", 3)},
        {"bytes n 0", [] { return CAtlStringA("ab", 0); }, ""},
        {"char x3", [] { return CAtlStringA('z', 3); }, "zzz"},
        {"char x-1", [] { return CAtlStringA('z', -1); }, ""},
        {"unit x2 narrowed", [] { return CAtlStringA(u'\u4E2D', 2); }, "??"},
        {"unit 0xFF", [] { return CAtlStringA(u'\u00FF', 1); }, "\xFF"},
        {"units", [] { return CAtlStringA(u"\u00E9\u4E2Dx"); }, "\xE9?x"},
        {"units null", [] { return CAtlStringA(static_cast<const char16_t*>(nullptr)); }, ""},
        {"units empty", [] { return CAtlStringA(u""); }, ""},
        {"units n", [] { return CAtlStringA(u"\u0100bc", 2); }, "?b"},
        {"units n 0", [] { return CAtlStringA(u"abc", 0); }, ""},
        {"CAtlString", [] { return CAtlStringA(CAtlString(u"\u00E9\u4E2D")); }, "\xE9?"},
        {"CAtlString empty", [] { return CAtlStringA(CAtlString()); }, ""},
        {"CFString MacRoman", [&] { return CAtlStringA(cafe); }, "caf\x8E"},
        {"CFString null", [] { return CAtlStringA(static_cast<CFStringRef>(nullptr)); }, ""},
    };
    for (const Row& row : rows) {
        CAtlStringA s = row.make();
        EXPECT_EQ(Bytes(s), row.expect) << row.what;
        EXPECT_EQ(IsNil(s), row.expect.empty()) << row.what;
        if (!row.expect.empty()) {
            EXPECT_EQ(s.GetAllocLength(), int(row.expect.size())) << row.what;
            EXPECT_EQ(s.GetString()[s.GetLength()], 0) << row.what;
        }
    }
    CFRelease(cafe);
}

TEST(AtlStringA, AssignmentsAndConversions) {
    CAtlStringA s;
    s = CAtlString(u"\u00E9\u4E2D");
    EXPECT_EQ(Bytes(s), "\xE9?");
    s = u"\u0100";
    EXPECT_EQ(Bytes(s), "?");
    s = static_cast<const char16_t*>(nullptr);
    EXPECT_EQ(s.GetLength(), 0);
    s = u'\u00FC';
    EXPECT_EQ(Bytes(s), "\xFC");
    s = u'\u20AC';
    EXPECT_EQ(Bytes(s), "?");
    s = 'k';
    EXPECT_EQ(Bytes(s), "k");
    s = "text";
    EXPECT_EQ(Bytes(s), "text");
    s = static_cast<const char*>(nullptr); // empties the string: nil, the buffer released
    EXPECT_TRUE(IsNil(s));
    s = "text";
    s = "";
    EXPECT_TRUE(IsNil(s));
    s = "text";
    s.LockBuffer();
    s = ""; // a locked buffer stays, with its lock
    EXPECT_EQ(s.GetLength(), 0);
    EXPECT_EQ(s.GetAllocLength(), 4);
    EXPECT_EQ(Refs(s), -1);
    s.UnlockBuffer();
    CFStringRef cf = CFStringCreateWithCharacters(nullptr, u"\u00C4b", 2);
    s = cf;
    EXPECT_EQ(Bytes(s), "\x80"
                        "b");
    CFRelease(cf);
    // Mac OS Roman lacks this character: it becomes '?', the rest survives.
    CFStringRef han = CFStringCreateWithCharacters(nullptr, u"a\u4E2Db", 3);
    s = han;
    EXPECT_EQ(Bytes(s), "a?b");
    CFRelease(han);
    s = static_cast<CFStringRef>(nullptr);
    EXPECT_TRUE(IsNil(s));

    // Out: widened to CAtlString (ISO 8859-1), and Mac OS Roman to a platform string.
    CAtlStringA bytes("\x8E\xE9");
    CAtlString wide = static_cast<CAtlString>(bytes);
    EXPECT_EQ(Units(wide), u"\u008E\u00E9");
    EXPECT_EQ(Units(bytes.operator CAtlString()), u"\u008E\u00E9");
    CFStringRef roman = bytes.CreateCFStringRef();
    ASSERT_NE(roman, nullptr);
    ASSERT_EQ(CFStringGetLength(roman), 2);
    EXPECT_EQ(CFStringGetCharacterAtIndex(roman, 0), u'\u00E9');
    CFRelease(roman);

    // Sharing and locking follow the same rules as the 16-bit class.
    CAtlStringA a("abc");
    CAtlStringA b(a);
    EXPECT_EQ(Refs(a), 2);
    b += 'd';
    EXPECT_EQ(Bytes(a), "abc");
    EXPECT_EQ(b.GetAllocLength(), 4);
    a.LockBuffer();
    CAtlStringA c(a);
    EXPECT_NE(c.GetString(), a.GetString());
    EXPECT_EQ(Refs(a), -1);
}

TEST(AtlStringA, SearchesAreByteLoops) {
    CAtlStringA s("abca");
    struct Row {
        const char* what;
        int got;
        int expect;
    };
    std::vector<Row> rows = {
        {"empty sub from 2", s.Find("", 2), 2},
        {"any byte from 4", s.Find('a', 4), -1},
        {"sub from 4", s.Find("a", 4), -1},
        {"byte", s.Find('c'), 2},
        {"byte from", s.Find('a', 1), 3},
        {"byte absent", s.Find('z'), -1},
        {"byte in empty", CAtlStringA().Find('a'), -1},
        {"sub", s.Find("ca"), 2},
        {"sub from", s.Find("a", 1), 3},
        {"sub absent", s.Find("cb"), -1},
        {"null sub", s.Find(static_cast<const char*>(nullptr), 1), 1},
        {"CAtlStringA sub", s.Find(CAtlStringA("bc")), 1},
        {"CAtlStringA sub from", s.Find(CAtlStringA("a"), 1), 3},
        {"one of", s.FindOneOf("cb"), 1},
        {"one of none", s.FindOneOf("xyz"), -1},
        {"one of null", s.FindOneOf(static_cast<const char*>(nullptr)), -1},
        {"one of CAtlStringA", s.FindOneOf(CAtlStringA("c")), 2},
        {"reverse", s.ReverseFind('a'), 3},
        {"reverse absent", s.ReverseFind('q'), -1},
        {"reverse in empty", CAtlStringA().ReverseFind('a'), -1},
        {"high byte", CAtlStringA("x\xE9y").Find('\xE9'), 1},
    };
    for (const Row& row : rows)
        EXPECT_EQ(row.got, row.expect) << row.what;

    CAtlStringA five("abcab");
    EXPECT_EQ(Bytes(five.SpanIncluding("ab")), "ab");
    EXPECT_EQ(Bytes(five.SpanExcluding("c")), "ab");
    EXPECT_EQ(five.SpanIncluding("abc").GetString(), five.GetString()); // the whole: shared
    EXPECT_TRUE(IsNil(five.SpanIncluding("x")));
    EXPECT_TRUE(IsNil(five.SpanIncluding(nullptr)));
}

TEST(AtlStringA, CaseReverseAndTrimming) {
    CAtlStringA s("a\xE9Z");
    s.MakeUpper();
    EXPECT_EQ(Bytes(s), "A\xE9Z");
    s.MakeLower();
    EXPECT_EQ(Bytes(s), "a\xE9z");
    CAtlStringA r("abc");
    r.MakeReverse();
    EXPECT_EQ(Bytes(r), "cba");

    CAtlStringA t("\t\n x");
    t.TrimLeft();
    EXPECT_EQ(Bytes(t), "x");
    CAtlStringA nbsp("\xA0x\xA0");
    nbsp.Trim();
    EXPECT_EQ(Bytes(nbsp), "\xA0x\xA0");
    CAtlStringA right("a \r\n");
    right.TrimRight();
    EXPECT_EQ(Bytes(right), "a");
    CAtlStringA unit("--a--");
    unit.TrimLeft('-');
    unit.TrimRight('-');
    EXPECT_EQ(Bytes(unit), "a");
    // Sets go through a Mac OS Roman platform string: byte positions still line up.
    CAtlStringA set("\x8E.a.,\x8E");
    set.TrimRight(".,\x8E");
    EXPECT_EQ(Bytes(set), "\x8E.a");
    set.TrimLeft("\x8E.");
    EXPECT_EQ(Bytes(set), "a");
    set.TrimLeft(static_cast<const char*>(nullptr));
    set.TrimRight("");
    EXPECT_EQ(Bytes(set), "a");
}

TEST(AtlStringA, ReleaseBufferMeasuresToTheFirstZero) {
    CAtlStringA s;
    char* p = s.GetBufferSetLength(6);
    EXPECT_EQ(s.GetLength(), 6);
    p[0] = 'a';
    p[1] = 'b';
    p[2] = 'c';
    p[3] = 0;
    s.ReleaseBuffer(); // unlike the 16-bit class, the recorded 6 does not survive
    EXPECT_EQ(Bytes(s), "abc");
    EXPECT_EQ(s.GetAllocLength(), 6);
    s.ReleaseBuffer(2);
    EXPECT_EQ(Bytes(s), "ab");
    CAtlStringA full;
    char* q = full.GetBuffer(3);
    q[0] = q[1] = q[2] = 'z';
    full.ReleaseBuffer();
    EXPECT_EQ(Bytes(full), "zzz");
}

TEST(AtlStringA, ComparisonsThroughPlatformStrings) {
    CAtlStringA a("a");
    CAtlStringA b("b");
    EXPECT_EQ(a.Compare(b), -1);
    EXPECT_EQ(b.Compare("a"), 1);
    EXPECT_EQ(a.Compare(u"a"), 0);
    EXPECT_EQ(CAtlStringA("ABC").CompareNoCase("abc"), 0);
    EXPECT_EQ(CAtlStringA("ABC").CollateNoCase(CAtlStringA("abc")), 0);
    EXPECT_EQ(CAtlStringA("ABC").CompareNoCase(u"abc"), 0);
    EXPECT_NE(CAtlStringA("ABC").Compare("abc"), 0);
    EXPECT_EQ(CAtlStringA("\x8E").Compare(u"\u00E9"), 0); // Mac OS Roman on the 8-bit side
    EXPECT_EQ(a.Collate(static_cast<const char*>(nullptr), true), 1);
    EXPECT_TRUE(a == CAtlStringA("a"));
    EXPECT_TRUE(a != b);
    EXPECT_TRUE(a < b);
    EXPECT_TRUE(b >= a);
    EXPECT_TRUE(a == "a");
    EXPECT_TRUE("a" == a);
    EXPECT_TRUE(a != "b");
    EXPECT_TRUE("b" != a);
    EXPECT_TRUE(a < "b");
    EXPECT_TRUE("a" < b);
    EXPECT_TRUE(b <= "b");
    EXPECT_TRUE("a" <= a);
    EXPECT_TRUE(b >= "a");
    EXPECT_TRUE("b" >= a);
    EXPECT_FALSE(b < "a");
    EXPECT_TRUE(a == u"a");
    EXPECT_TRUE(u"b" > a);
    EXPECT_TRUE(a < u"b");
    EXPECT_TRUE(u"a" >= a);
}

// Every operator with CAtlStringA and 16-bit strings; with 8-bit strings all but ">"; none with
// unsigned short strings.
static_assert(HasAllRelational<const CAtlStringA&, const CAtlStringA&>);
static_assert(HasAllRelational<const CAtlStringA&, const char16_t*>);
static_assert(HasEq<const CAtlStringA&, const char*> && HasEq<const char*, const CAtlStringA&>);
static_assert(HasNe<const CAtlStringA&, const char*> && HasNe<const char*, const CAtlStringA&>);
static_assert(HasLt<const CAtlStringA&, const char*> && HasLt<const char*, const CAtlStringA&>);
static_assert(HasLe<const CAtlStringA&, const char*> && HasLe<const char*, const CAtlStringA&>);
static_assert(HasGe<const CAtlStringA&, const char*> && HasGe<const char*, const CAtlStringA&>);
static_assert(!HasGt<const CAtlStringA&, const char*> && !HasGt<const char*, const CAtlStringA&>);
static_assert(HasNoRelational<const CAtlStringA&, const unsigned short*>);

TEST(AtlStringA, ReplaceTokenizeAndEdit) {
    CAtlStringA s("a-b-c");
    CAtlStringA keep(s);
    EXPECT_EQ(s.Replace("-", "::"), 2);
    EXPECT_EQ(Bytes(s), "a::b::c");
    EXPECT_EQ(s.GetAllocLength(), 8); // one byte more than the new length
    EXPECT_EQ(Bytes(keep), "a-b-c");
    EXPECT_EQ(s.Replace("x", "y"), 0);
    EXPECT_EQ(s.Replace("", "y"), 0);
    EXPECT_EQ(s.Replace(nullptr, "y"), 0);
    EXPECT_EQ(s.Replace(':', '.'), 4);
    EXPECT_EQ(Bytes(s), "a..b..c");
    CAtlStringA roman("\x8E!\x8E");
    EXPECT_EQ(roman.Replace("\x8E", "\x80"), 2);
    EXPECT_EQ(Bytes(roman), "\x80!\x80");

    CAtlStringA line("  ab  cd ");
    int start = 0;
    EXPECT_EQ(Bytes(line.Tokenize(" ", start)), "ab");
    EXPECT_EQ(start, 6);
    EXPECT_EQ(Bytes(line.Tokenize(u" ", start)), "cd");
    EXPECT_EQ(start, -1);
    start = 9;
    EXPECT_EQ(Bytes(line.Tokenize(" ", start)), "");
    EXPECT_EQ(start, -1);
    start = 0;
    EXPECT_EQ(Bytes(line.Tokenize(u"", start)), "  ab  cd ");
    EXPECT_EQ(start, -1);

    CAtlStringA e("abcd");
    EXPECT_EQ(e.Delete(1, 2), 4);
    EXPECT_EQ(e.Insert(1, "xy"), 4);
    EXPECT_EQ(e.Insert(9, 'z'), 5);
    EXPECT_EQ(e.Remove('x'), 1);
    EXPECT_EQ(e.SetAt(0, 'A'), 0);
    EXPECT_EQ(Bytes(e), "Aydz");
    EXPECT_EQ(Bytes(e.Mid(1, 2)), "yd");
    EXPECT_EQ(Bytes(e.Left(1)), "A");
    EXPECT_EQ(Bytes(e.Right(1)), "z");
}

TEST(AtlStringA, ConcatenationNarrowsWideOperands) {
    CAtlStringA ab("ab");
    struct Row {
        const char* what;
        CAtlStringA result;
        std::string expect;
    };
    std::vector<Row> rows = {
        {"A+A", ab + CAtlStringA("cd"), "abcd"},
        {"A+char", ab + 'c', "abc"},
        {"char+A", 'c' + ab, "cab"},
        {"A+bytes", ab + "!", "ab!"},
        {"bytes+A", "!" + ab, "!ab"},
        {"A+null", ab + static_cast<const char*>(nullptr), "ab"},
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
        EXPECT_EQ(Bytes(row.result), row.expect) << row.what;
        EXPECT_EQ(row.result.GetAllocLength(), int(row.expect.size())) << row.what;
    }
    // An empty wide operand yields a copy (sharing) of the other.
    CAtlStringA same = ab + CAtlString();
    EXPECT_EQ(same.GetString(), ab.GetString());
    CAtlStringA same2 = static_cast<const char16_t*>(nullptr) + ab;
    EXPECT_EQ(same2.GetString(), ab.GetString());
    EXPECT_TRUE(IsNil(CAtlStringA() + CAtlStringA()));

    CAtlStringA s;
    s += u"\u00E9\u4E2D";
    s += u'\u0100';
    s += u"";
    s += static_cast<const char16_t*>(nullptr);
    s += CAtlStringA("x");
    s += "y";
    s += 'z';
    s.Append("0123", 2);
    s.Append(CAtlStringA("!"));
    EXPECT_EQ(Bytes(s), "\xE9??xyz01!");
    EXPECT_EQ(s.GetAllocLength(), s.GetLength());
}

} // namespace
