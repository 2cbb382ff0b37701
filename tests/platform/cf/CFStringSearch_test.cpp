// Comparing and searching strings: options, ranges, case folding that changes lengths, digit
// runs by value, and replacement.
#include "tests/platform/CFTestSupport.h"

#include <gtest/gtest.h>

#include <tuple>

using namespace cftest;

namespace {

constexpr CFStringCompareFlags kBack = kCFCompareBackwards, kAnchor = kCFCompareAnchored,
                               kFold = kCFCompareCaseInsensitive;

TEST(CFStringSearch, FindWithOptions) {
    // Range searched (length -1: to the end), then where the match is (-1: none).
    const std::tuple<std::u16string, std::u16string, CFIndex, CFIndex, CFStringCompareFlags,
                     CFIndex, CFIndex>
        rows[] = {
            {u"abcabc", u"bc", 2, -1, 0, 4, 2},
            {u"abcabc", u"bc", 0, 5, kBack, 1, 2}, // the range ends inside the last
            {u"abcabc", u"bc", 0, -1, kAnchor, -1, 0},
            {u"abcabc", u"bc", 0, -1, kAnchor | kBack, 4, 2},
            {u"abcabc", u"BC", 0, -1, kFold, 1, 2},
            {u"abcABC", u"bc", 0, 5, kFold | kBack, 1, 2},
            {u"xabc", u"BC", 0, -1, kFold | kAnchor | kBack, 2, 2},
            {u"xxStra\u00DFe", u"STRASSE", 0, -1, kFold, 2, 6},
            {u"\u00DF", u"s", 0, -1, kFold, -1, 0}, // half a folded character
            {u"abc", u"", 0, -1, 0, -1, 0},         // an empty needle is never found
        };
    for (const auto& [hay, needle, loc, len, opts, at, atLen] : rows) {
        Str h(Make(hay)), n(Make(needle));
        const CFRange range = CFRangeMake(loc, len < 0 ? CFIndex(hay.size()) - loc : len);
        CFRange got{-7, -7};
        SCOPED_TRACE(testing::PrintToString(needle) + " in " + testing::PrintToString(hay));
        EXPECT_EQ(bool(CFStringFindWithOptions(h.get(), n.get(), range, opts, &got)), at >= 0);
        EXPECT_EQ(got.location, at >= 0 ? at : -7); // untouched when not found
        EXPECT_EQ(got.length, at >= 0 ? atLen : -7);
    }
    Str h(Make(u"abc")), n(Make(u"b"));
    for (const CFRange bad : {CFRangeMake(2, 2), CFRangeMake(-1, 2)})
        EXPECT_FALSE(CFStringFindWithOptions(h.get(), n.get(), bad, 0, nullptr));
    EXPECT_TRUE(CFStringHasPrefix(h.get(), CFSTR("ab")));
    EXPECT_FALSE(CFStringHasPrefix(h.get(), CFSTR("")));
    EXPECT_TRUE(CFStringHasSuffix(h.get(), CFSTR("bc")));
}

// Code units, and digit runs by value only when asked; each row also holds the other way
// round. (Folded comparisons show through the string classes' comparisons.)
TEST(CFStringSearch, CompareWithOptions) {
    const std::tuple<std::u16string, std::u16string, CFStringCompareFlags, CFComparisonResult>
        rows[] = {
            {u"\uFFFF", u"\U00010000", 0, kCFCompareGreaterThan}, // units, not code points
            {u"a9", u"a10", 0, kCFCompareGreaterThan},
            {u"a9", u"a10", kCFCompareNumerically, kCFCompareLessThan},
            {u"a010", u"a10", kCFCompareNumerically, kCFCompareEqualTo},
            {u"A9b", u"a10B", kCFCompareNumerically | kFold, kCFCompareLessThan},
        };
    for (const auto& [a, b, opts, expect] : rows) {
        SCOPED_TRACE(testing::PrintToString(a));
        EXPECT_EQ(CFStringCompare(Str(Make(a)).get(), Str(Make(b)).get(), opts), expect);
        EXPECT_EQ(CFStringCompare(Str(Make(b)).get(), Str(Make(a)).get(), opts), -expect);
    }
}

// Replacement as the options choose.
TEST(CFStringSearch, FindAndReplace) {
    const std::tuple<std::u16string, std::u16string, CFStringCompareFlags, CFIndex, std::u16string>
        rows[] = {
            {u"aaa", u"aa", kBack, 1, u"ab"},
            {u"Stra\u00DFe STRASSE", u"strasse", kFold, 2, u"b b"},
            {u"abab", u"ab", kAnchor, 1, u"bab"},
            {u"abab", u"ab", kAnchor | kBack, 1, u"abb"},
        };
    for (const auto& [text, find, opts, count, expect] : rows) {
        CFRef<CFMutableStringRef> m(CFStringCreateMutableCopy(nullptr, 0, Str(Make(text)).get()));
        EXPECT_EQ(CFStringFindAndReplace(m.get(), Str(Make(find)).get(), CFSTR("b"),
                                         CFRangeMake(0, CFIndex(text.size())), opts),
                  count);
        EXPECT_EQ(Units(m.get()), expect);
    }
    // In place, when the lengths agree: what was written is not searched again.
    CFRef<CFMutableStringRef> same(CFStringCreateMutableCopy(nullptr, 0, CFSTR("aaaa")));
    EXPECT_EQ(CFStringFindAndReplace(same.get(), CFSTR("aa"), CFSTR("aa"), CFRangeMake(1, 3), 0),
              1);
}

} // namespace
