// Searching and comparing strings: options, ranges, case folding that changes lengths,
// numeric order, character sets, and replacement that agrees with a plain scan.
#include "tests/platform/CFTestSupport.h"

#include <gtest/gtest.h>

using namespace cftest;

namespace {

TEST(CFStringSearch, FindWithOptions) {
    struct Row {
        std::u16string hay, needle;
        CFIndex loc, len; // range searched; len -1 means to the end
        CFStringCompareFlags opts;
        CFIndex foundAt, foundLen; // -1: not found
    } rows[] = {
        {u"abcabc", u"bc", 0, -1, 0, 1, 2},
        {u"abcabc", u"bc", 2, -1, 0, 4, 2},
        {u"abcabc", u"bc", 0, -1, kCFCompareBackwards, 4, 2},
        {u"abcabc", u"bc", 0, 5, kCFCompareBackwards, 1, 2}, // the range ends inside the last
        {u"abcabc", u"bc", 0, 6, kCFCompareBackwards, 4, 2},
        {u"abcabc", u"bc", 0, -1, kCFCompareAnchored, -1, 0},
        {u"abcabc", u"ab", 0, -1, kCFCompareAnchored, 0, 2},
        {u"abcabc", u"bc", 1, -1, kCFCompareAnchored, 1, 2},
        {u"abcabc", u"bc", 0, -1, kCFCompareAnchored | kCFCompareBackwards, 4, 2},
        {u"abcabc", u"ab", 0, -1, kCFCompareAnchored | kCFCompareBackwards, -1, 0},
        {u"abcabc", u"BC", 0, -1, 0, -1, 0},
        {u"abcabc", u"BC", 0, -1, kCFCompareCaseInsensitive, 1, 2},
        {u"abcABC", u"bc", 0, -1, kCFCompareCaseInsensitive | kCFCompareBackwards, 4, 2},
        {u"abcABC", u"bc", 0, 5, kCFCompareCaseInsensitive | kCFCompareBackwards, 1, 2},
        {u"xabc", u"AB", 0, -1, kCFCompareCaseInsensitive | kCFCompareAnchored, -1, 0},
        {u"xabc", u"BC", 0, -1,
         kCFCompareCaseInsensitive | kCFCompareAnchored | kCFCompareBackwards, 2, 2},
        {u"xxStra\u00DFe", u"STRASSE", 0, -1, kCFCompareCaseInsensitive, 2, 6},
        {u"STRASSE", u"stra\u00DFe", 0, -1, kCFCompareCaseInsensitive, 0, 7},
        {u"\u00DF", u"s", 0, -1, kCFCompareCaseInsensitive, -1, 0}, // half a folded character
        {u"\u00C9t\u00E9", u"\u00E9T\u00C9", 0, -1, kCFCompareCaseInsensitive, 0, 3},
        {u"abc", u"", 0, -1, 0, -1, 0}, // an empty needle is never found
        {u"abc", u"abcd", 0, -1, 0, -1, 0},
        {u"abc", u"abc", 0, -1, 0, 0, 3},
        {u"abc", u"c", 0, 2, 0, -1, 0},
        {u"", u"a", 0, -1, 0, -1, 0},
        {u"a\U0001F600b", u"\U0001F600", 0, -1, 0, 1, 2},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::Message() << "row " << &r - rows);
        Str h(Make(r.hay)), n(Make(r.needle));
        const CFIndex len = r.len < 0 ? CFStringGetLength(h.get()) - r.loc : r.len;
        CFRange got{-7, -7};
        EXPECT_EQ(
            bool(CFStringFindWithOptions(h.get(), n.get(), CFRangeMake(r.loc, len), r.opts, &got)),
            r.foundAt >= 0);
        EXPECT_EQ(got.location, r.foundAt >= 0 ? r.foundAt : -7); // untouched when not found
        EXPECT_EQ(got.length, r.foundAt >= 0 ? r.foundLen : -7);
        if (r.loc == 0 && r.len < 0) {
            EXPECT_EQ(CFStringFind(h.get(), n.get(), r.opts).location,
                      r.foundAt >= 0 ? r.foundAt : kCFNotFound);
        }
    }
    Str h(Make(u"abc")), n(Make(u"b"));
    CFRange r;
    EXPECT_FALSE(CFStringFindWithOptions(h.get(), n.get(), CFRangeMake(2, 2), 0, &r));
    EXPECT_FALSE(CFStringFindWithOptions(h.get(), n.get(), CFRangeMake(-1, 2), 0, &r));
    EXPECT_FALSE(CFStringFindWithOptions(nullptr, n.get(), CFRangeMake(0, 0), 0, &r));
    EXPECT_TRUE(CFStringFindWithOptions(h.get(), n.get(), CFRangeMake(1, 2), 0, nullptr));
    EXPECT_EQ(CFStringFind(h.get(), nullptr, 0).location, kCFNotFound);
    EXPECT_TRUE(CFStringHasPrefix(h.get(), CFSTR("ab")));
    EXPECT_TRUE(CFStringHasPrefix(h.get(), CFSTR("abc")));
    EXPECT_FALSE(CFStringHasPrefix(h.get(), CFSTR("bc")));
    EXPECT_FALSE(CFStringHasPrefix(h.get(), CFSTR("abcd")));
    EXPECT_FALSE(CFStringHasPrefix(h.get(), CFSTR("")));
    EXPECT_FALSE(CFStringHasPrefix(h.get(), CFSTR("AB")));
    EXPECT_TRUE(CFStringHasSuffix(h.get(), CFSTR("bc")));
    EXPECT_FALSE(CFStringHasSuffix(h.get(), CFSTR("ab")));
}

TEST(CFStringSearch, Compare) {
    struct Row {
        std::u16string a, b;
        CFStringCompareFlags opts;
        CFComparisonResult expect;
    } rows[] = {
        {u"a", u"b", 0, kCFCompareLessThan},
        {u"abc", u"abc", 0, kCFCompareEqualTo},
        {u"ab", u"abc", 0, kCFCompareLessThan},
        {u"", u"", 0, kCFCompareEqualTo},
        {u"Resources", u"bin", 0, kCFCompareLessThan}, // unit order, not collation
        {u"abc", u"ABC", 0, kCFCompareGreaterThan},
        {u"abc", u"ABC", kCFCompareCaseInsensitive, kCFCompareEqualTo},
        {u"abd", u"ABC", kCFCompareCaseInsensitive, kCFCompareGreaterThan},
        {u"ab", u"ABC", kCFCompareCaseInsensitive, kCFCompareLessThan},
        {u"@", u"`", kCFCompareCaseInsensitive, kCFCompareLessThan}, // beside the letters
        {u"[", u"{", kCFCompareCaseInsensitive, kCFCompareLessThan},
        {u"Z", u"z", kCFCompareCaseInsensitive, kCFCompareEqualTo},
        {u"stra\u00DFe", u"STRASSE", kCFCompareCaseInsensitive, kCFCompareEqualTo},
        {u"x\u00E9", u"X\u00C9", kCFCompareCaseInsensitive, kCFCompareEqualTo},
        {u"x\u00E9", u"X\u00CA", kCFCompareCaseInsensitive, kCFCompareLessThan},
        {u"\uFFFF", u"\U00010000", 0, kCFCompareGreaterThan}, // units, not code points
        {u"a9", u"a10", 0, kCFCompareGreaterThan},
        {u"a9", u"a10", kCFCompareNumerically, kCFCompareLessThan},
        {u"a010", u"a10", kCFCompareNumerically, kCFCompareEqualTo},
        {u"a12", u"a13", kCFCompareNumerically, kCFCompareLessThan},
        {u"a12b", u"a12c", kCFCompareNumerically, kCFCompareLessThan},
        {u"x1y", u"x1", kCFCompareNumerically, kCFCompareGreaterThan},
        {u"A9b", u"a10B", kCFCompareNumerically | kCFCompareCaseInsensitive, kCFCompareLessThan},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::Message() << "row " << &r - rows);
        Str a(Make(r.a)), b(Make(r.b));
        EXPECT_EQ(CFStringCompare(a.get(), b.get(), r.opts), r.expect);
        EXPECT_EQ(CFStringCompare(b.get(), a.get(), r.opts), -r.expect);
    }
    Str a(Make(u"xxabcxx")), b(Make(u"abc"));
    EXPECT_EQ(CFStringCompareWithOptions(a.get(), b.get(), CFRangeMake(2, 3), 0),
              kCFCompareEqualTo);
    EXPECT_EQ(CFStringCompareWithOptions(a.get(), b.get(), CFRangeMake(2, 4), 0),
              kCFCompareGreaterThan);
    EXPECT_EQ(CFStringCompareWithOptions(a.get(), b.get(), CFRangeMake(5, 3), 0),
              kCFCompareEqualTo); // a range outside compares nothing
}

TEST(CFStringSearch, FindCharacterFromSet) {
    CFRef<CFCharacterSetRef> set(
        CFCharacterSetCreateWithCharactersInString(nullptr, Str(Make(u".,\U0001F600")).get()));
    struct Row {
        std::u16string text;
        CFIndex loc, len;
        CFStringCompareFlags opts;
        CFIndex at, atLen;
    } rows[] = {
        {u"ab.c,", 0, 5, 0, 2, 1},
        {u"ab.c,", 0, 5, kCFCompareBackwards, 4, 1},
        {u"ab.c,", 0, 4, kCFCompareBackwards, 2, 1},
        {u"ab.c,", 3, 2, 0, 4, 1},
        {u"ab.c,", 0, 2, 0, -1, 0},
        {u"ab.c,", 0, 5, kCFCompareAnchored, -1, 0},
        {u".,ab", 0, 4, kCFCompareAnchored, 0, 1},
        {u"ab.,", 0, 4, kCFCompareAnchored | kCFCompareBackwards, 3, 1},
        {u"ab.c", 0, 4, kCFCompareAnchored | kCFCompareBackwards, -1, 0},
        {u"x\U0001F600", 0, 3, 0, 1, 2},
        {u"x\U0001F600", 0, 3, kCFCompareBackwards, 1, 2},
        {u"x\U0001F600", 0, 2, 0, -1, 0}, // half a pair is not the character
        {u"", 0, 0, 0, -1, 0},
        {u"ab", 1, 2, 0, -1, 0},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::Message() << "row " << &r - rows);
        CFRange got{-7, -7};
        EXPECT_EQ(bool(CFStringFindCharacterFromSet(Str(Make(r.text)).get(), set.get(),
                                                    CFRangeMake(r.loc, r.len), r.opts, &got)),
                  r.at >= 0);
        EXPECT_EQ(got.location, r.at >= 0 ? r.at : -7);
        EXPECT_EQ(got.length, r.at >= 0 ? r.atLen : -7);
    }
    EXPECT_FALSE(CFStringFindCharacterFromSet(CFSTR("."), nullptr, CFRangeMake(0, 1), 0, nullptr));
}

TEST(CFStringSearch, FindAndReplace) {
    struct Row {
        std::u16string text, find, repl;
        CFStringCompareFlags opts;
        CFIndex count;
        std::u16string expect;
    } rows[] = {
        {u"aaa", u"aa", u"b", kCFCompareBackwards, 1, u"ab"},
        {u"abcABC", u"b", u"", kCFCompareCaseInsensitive, 2, u"acAC"},
        {u"Stra\u00DFe STRASSE", u"strasse", u"x", kCFCompareCaseInsensitive, 2, u"x x"},
        {u"abab", u"ab", u"x", kCFCompareAnchored, 1, u"xab"},
        {u"abab", u"ab", u"x", kCFCompareAnchored | kCFCompareBackwards, 1, u"abx"},
        {u"a.b.c", u".", u"::", 0, 2, u"a::b::c"},
    };
    for (const Row& r : rows) {
        CFRef<CFMutableStringRef> m(CFStringCreateMutableCopy(nullptr, 0, Str(Make(r.text)).get()));
        EXPECT_EQ(CFStringFindAndReplace(m.get(), Str(Make(r.find)).get(), Str(Make(r.repl)).get(),
                                         CFRangeMake(0, CFIndex(r.text.size())), r.opts),
                  r.count);
        EXPECT_EQ(Units(m.get()), r.expect);
    }
}

// Literal search and replacement over haystacks of every length up to a few blocks of units,
// the needle at every position with decoys (its first unit alone) around it, from several
// starts: positions, counts and results agree with a plain scan.
TEST(CFStringSearch, LiteralSearchAgreesWithAPlainScan) {
    for (const std::u16string needle : {u"%", u"%s", u"%s%", u"abcabcabd"}) {
        for (size_t len = 0; len <= 40; ++len) {
            for (size_t pos = 0; pos <= len; ++pos) {
                std::u16string hay(len, u'x');
                for (size_t i = 0; i < len; i += 3)
                    hay[i] = needle[0];
                if (pos + needle.size() <= len)
                    hay.replace(pos, needle.size(), needle);
                Str h(Make(hay)), n(Make(needle));
                for (size_t from : {size_t(0), size_t(1), len / 2}) {
                    if (from > len)
                        continue;
                    SCOPED_TRACE(testing::Message()
                                 << testing::PrintToString(hay) << " needle "
                                 << testing::PrintToString(needle) << " from " << from);
                    const CFRange range = CFRangeMake(CFIndex(from), CFIndex(len - from));
                    const size_t first = hay.find(needle, from);
                    CFRange found{-7, -7};
                    EXPECT_EQ(bool(CFStringFindWithOptions(h.get(), n.get(), range, 0, &found)),
                              first != std::u16string::npos);
                    if (first != std::u16string::npos) {
                        EXPECT_EQ(found.location, CFIndex(first));
                    }
                    for (const std::u16string& with :
                         {std::u16string(u"#"), needle.substr(1) + needle[0], needle}) {
                        std::u16string expected = hay;
                        CFIndex count = 0;
                        for (size_t k = from; k + needle.size() <= expected.size();) {
                            if (expected.compare(k, needle.size(), needle) != 0) {
                                ++k;
                                continue;
                            }
                            expected.replace(k, needle.size(), with);
                            ++count;
                            k += with.size(); // what was written is not searched again
                        }
                        CFRef<CFMutableStringRef> m(CFStringCreateMutableCopy(nullptr, 0, h.get()));
                        EXPECT_EQ(CFStringFindAndReplace(m.get(), n.get(), Str(Make(with)).get(),
                                                         range, 0),
                                  count);
                        EXPECT_EQ(Units(m.get()), expected);
                    }
                }
            }
        }
    }
}

} // namespace
