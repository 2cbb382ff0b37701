#include "platform/CoreFoundation.h"

#include <gtest/gtest.h>

#include <string>

namespace {

CFStringRef make(const std::u16string& text) {
    return CFStringCreateWithCharacters(nullptr, text.data(), static_cast<CFIndex>(text.size()));
}

std::u16string units(CFStringRef s) {
    std::u16string out(static_cast<size_t>(CFStringGetLength(s)), u'\0');
    CFStringGetCharacters(s, CFRangeMake(0, CFStringGetLength(s)), out.data());
    return out;
}

std::string narrow(const std::u16string& s) {
    std::string out;
    for (char16_t c : s)
        out += c < 0x80 ? static_cast<char>(c) : '?';
    return out;
}

} // namespace

TEST(CFStringSearch, FindWithOptionsTable) {
    struct Row {
        std::u16string hay, needle;
        CFIndex loc, len; // range searched; len -1 means to the end
        CFStringCompareFlags opts;
        CFIndex foundAt, foundLen; // -1: not found
    };
    const Row rows[] = {
        {u"abcabc", u"bc", 0, -1, 0, 1, 2},
        {u"abcabc", u"bc", 2, -1, 0, 4, 2},
        {u"abcabc", u"bc", 0, -1, kCFCompareBackwards, 4, 2},
        {u"abcabc", u"bc", 0, 4, kCFCompareBackwards, 1, 2}, // range ends before the last
        {u"abcabc", u"bc", 0, -1, kCFCompareAnchored, -1, 0},
        {u"abcabc", u"ab", 0, -1, kCFCompareAnchored, 0, 2},
        {u"abcabc", u"bc", 0, -1, kCFCompareAnchored | kCFCompareBackwards, 4, 2},
        {u"abcabc", u"ab", 0, -1, kCFCompareAnchored | kCFCompareBackwards, -1, 0},
        {u"abcabc", u"BC", 0, -1, 0, -1, 0},
        {u"abcabc", u"BC", 0, -1, kCFCompareCaseInsensitive, 1, 2},
        {u"abcABC", u"bc", 0, -1, kCFCompareCaseInsensitive | kCFCompareBackwards, 4, 2},
        {u"xxStra\u00DFe", u"STRASSE", 0, -1, kCFCompareCaseInsensitive, 2, 6},
        {u"STRASSE", u"stra\u00DFe", 0, -1, kCFCompareCaseInsensitive, 0, 7},
        {u"\u00C9t\u00E9", u"\u00E9T\u00C9", 0, -1, kCFCompareCaseInsensitive, 0, 3},
        {u"abc", u"", 0, -1, 0, -1, 0},     // an empty needle is never found
        {u"abc", u"abcd", 0, -1, 0, -1, 0}, // needle longer than the text
        {u"abc", u"c", 0, 2, 0, -1, 0},     // match outside the range
        {u"", u"a", 0, -1, 0, -1, 0},
        {u"a\U0001F600b", u"\U0001F600", 0, -1, 0, 1, 2},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(narrow(r.hay) + " / " + narrow(r.needle) + " opts " + std::to_string(r.opts) +
                     " from " + std::to_string(r.loc));
        CFStringRef h = make(r.hay), n = make(r.needle);
        CFIndex len = r.len < 0 ? CFStringGetLength(h) - r.loc : r.len;
        CFRange got{-7, -7};
        Boolean ok = CFStringFindWithOptions(h, n, CFRangeMake(r.loc, len), r.opts, &got);
        EXPECT_EQ(ok, r.foundAt >= 0);
        if (r.foundAt >= 0) {
            EXPECT_EQ(got.location, r.foundAt);
            EXPECT_EQ(got.length, r.foundLen);
        } else {
            EXPECT_EQ(got.location, -7); // result untouched on failure
        }
        if (r.loc == 0 && r.len < 0) {
            CFRange f = CFStringFind(h, n, r.opts);
            EXPECT_EQ(f.location, r.foundAt >= 0 ? r.foundAt : kCFNotFound);
        }
        CFRelease(h);
        CFRelease(n);
    }
}

TEST(CFStringSearch, BadArgumentsFindNothing) {
    CFStringRef h = make(u"abc");
    CFStringRef n = make(u"b");
    CFRange r;
    EXPECT_FALSE(CFStringFindWithOptions(h, n, CFRangeMake(2, 5), 0, &r));
    EXPECT_FALSE(CFStringFindWithOptions(h, n, CFRangeMake(-1, 2), 0, &r));
    EXPECT_FALSE(CFStringFindWithOptions(nullptr, n, CFRangeMake(0, 0), 0, &r));
    EXPECT_EQ(CFStringFind(h, nullptr, 0).location, kCFNotFound);
    EXPECT_EQ(CFStringFind(nullptr, n, 0).location, kCFNotFound);
    EXPECT_EQ(CFStringFind(h, n, kCFCompareBackwards).location, 1);
    CFRelease(h);
    CFRelease(n);
}

TEST(CFStringSearch, CompareTable) {
    struct Row {
        std::u16string a, b;
        CFStringCompareFlags opts;
        CFComparisonResult expect;
    };
    const Row rows[] = {
        {u"a", u"b", 0, kCFCompareLessThan},
        {u"b", u"a", 0, kCFCompareGreaterThan},
        {u"abc", u"abc", 0, kCFCompareEqualTo},
        {u"ab", u"abc", 0, kCFCompareLessThan},
        {u"", u"", 0, kCFCompareEqualTo},
        {u"Resources", u"bin", 0, kCFCompareLessThan}, // code-unit order, not collation
        {u"abc", u"ABC", 0, kCFCompareGreaterThan},
        {u"abc", u"ABC", kCFCompareCaseInsensitive, kCFCompareEqualTo},
        {u"abd", u"ABC", kCFCompareCaseInsensitive, kCFCompareGreaterThan},
        {u"stra\u00DFe", u"STRASSE", kCFCompareCaseInsensitive, kCFCompareEqualTo},
        {u"\u00E9", u"\u00C9", kCFCompareCaseInsensitive, kCFCompareEqualTo},
        {u"\uFFFF", u"\U00010000", 0, kCFCompareGreaterThan}, // units, not code points
        {u"a9", u"a10", 0, kCFCompareGreaterThan},
        {u"a9", u"a10", kCFCompareNumerically, kCFCompareLessThan},
        {u"a010", u"a10", kCFCompareNumerically, kCFCompareEqualTo},
        {u"A9b", u"a10B", kCFCompareNumerically | kCFCompareCaseInsensitive, kCFCompareLessThan},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(narrow(r.a) + " vs " + narrow(r.b) + " opts " + std::to_string(r.opts));
        CFStringRef a = make(r.a), b = make(r.b);
        EXPECT_EQ(CFStringCompare(a, b, r.opts), r.expect);
        EXPECT_EQ(CFStringCompare(b, a, r.opts), -r.expect);
        CFRelease(a);
        CFRelease(b);
    }
    CFStringRef a = make(u"xxabcxx"), b = make(u"abc");
    EXPECT_EQ(CFStringCompareWithOptions(a, b, CFRangeMake(2, 3), 0), kCFCompareEqualTo);
    EXPECT_EQ(CFStringCompare(nullptr, b, 0), kCFCompareLessThan);
    CFRelease(a);
    CFRelease(b);
}

TEST(CFStringSearch, PrefixAndSuffix) {
    CFStringRef s = make(u"/Applications/App/x");
    CFStringRef p = make(u"/Applications/App");
    CFStringRef q = make(u"/applications");
    CFStringRef e = make(u"");
    EXPECT_TRUE(CFStringHasPrefix(s, p));
    EXPECT_FALSE(CFStringHasPrefix(s, q));
    EXPECT_FALSE(CFStringHasPrefix(p, s));
    EXPECT_FALSE(CFStringHasPrefix(s, e));
    EXPECT_TRUE(CFStringHasSuffix(s, CFSTR("/x")));
    EXPECT_FALSE(CFStringHasSuffix(s, CFSTR("App")));
    for (CFStringRef x : {s, p, q, e})
        CFRelease(x);
}

TEST(CFStringSearch, CharacterSets) {
    CFStringRef chars = make(u".,\u00E9\U0001F600");
    CFCharacterSetRef set = CFCharacterSetCreateWithCharactersInString(nullptr, chars);
    ASSERT_NE(set, nullptr);
    EXPECT_TRUE(CFCharacterSetIsCharacterMember(set, u','));
    EXPECT_TRUE(CFCharacterSetIsCharacterMember(set, u'\u00E9'));
    EXPECT_FALSE(CFCharacterSetIsCharacterMember(set, u'a'));
    EXPECT_TRUE(CFCharacterSetIsLongCharacterMember(set, 0x1F600));
    EXPECT_FALSE(CFCharacterSetIsCharacterMember(set, 0xD83D)); // half a pair is not a member

    struct Row {
        std::u16string text;
        CFIndex loc, len;
        CFStringCompareFlags opts;
        CFIndex at, atLen;
    };
    const Row rows[] = {
        {u"ab.c,", 0, 5, 0, 2, 1},
        {u"ab.c,", 0, 5, kCFCompareBackwards, 4, 1},
        {u"ab.c,", 3, 2, 0, 4, 1},
        {u"ab.c,", 0, 2, 0, -1, 0},
        {u"ab.c,", 0, 5, kCFCompareAnchored, -1, 0},
        {u".,ab", 0, 4, kCFCompareAnchored, 0, 1},
        {u"ab.,", 0, 4, kCFCompareAnchored | kCFCompareBackwards, 3, 1},
        {u"ab.c", 0, 4, kCFCompareAnchored | kCFCompareBackwards, -1, 0},
        {u"x\U0001F600", 0, 3, 0, 1, 2},
        {u"x\U0001F600", 0, 3, kCFCompareBackwards, 1, 2},
        {u"", 0, 0, 0, -1, 0},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(narrow(r.text) + " opts " + std::to_string(r.opts));
        CFStringRef t = make(r.text);
        CFRange got{-7, -7};
        Boolean ok = CFStringFindCharacterFromSet(t, set, CFRangeMake(r.loc, r.len), r.opts, &got);
        EXPECT_EQ(ok, r.at >= 0);
        if (r.at >= 0) {
            EXPECT_EQ(got.location, r.at);
            EXPECT_EQ(got.length, r.atLen);
        }
        CFRelease(t);
    }
    CFRelease(set);
    CFRelease(chars);

    CFCharacterSetRef ws = CFCharacterSetGetPredefined(kCFCharacterSetWhitespaceAndNewline);
    EXPECT_TRUE(CFCharacterSetIsCharacterMember(ws, u'\n'));
    EXPECT_TRUE(CFCharacterSetIsCharacterMember(ws, u'\u00A0'));
    EXPECT_FALSE(CFCharacterSetIsCharacterMember(ws, u'x'));
    CFCharacterSetRef digits =
        CFCharacterSetCreateWithCharactersInRange(nullptr, CFRangeMake('0', 10));
    EXPECT_TRUE(CFCharacterSetIsCharacterMember(digits, u'9'));
    EXPECT_FALSE(CFCharacterSetIsCharacterMember(digits, u':'));
    CFRelease(digits);
}

TEST(CFStringSearch, FindAndReplace) {
    struct Row {
        std::u16string text, find, repl;
        CFStringCompareFlags opts;
        CFIndex count;
        std::u16string expect;
    };
    const Row rows[] = {
        {u"%s and %s", u"%s", u"%S", 0, 2, u"%S and %S"},
        {u"aaaa", u"aa", u"b", 0, 2, u"bb"},
        {u"aaa", u"aa", u"b", 0, 1, u"ba"},
        {u"aaa", u"aa", u"b", kCFCompareBackwards, 1, u"ab"},
        {u"abc", u"x", u"y", 0, 0, u"abc"},
        {u"abcABC", u"b", u"", kCFCompareCaseInsensitive, 2, u"acAC"},
        {u"abab", u"ab", u"x", kCFCompareAnchored, 1, u"xab"},
        {u"a.b.c", u".", u"::", 0, 2, u"a::b::c"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(narrow(r.text) + " : " + narrow(r.find) + " -> " + narrow(r.repl));
        CFMutableStringRef m = CFStringCreateMutable(nullptr, 0);
        CFStringAppendCharacters(m, reinterpret_cast<const UniChar*>(r.text.data()),
                                 static_cast<CFIndex>(r.text.size()));
        CFStringRef f = make(r.find), p = make(r.repl);
        EXPECT_EQ(CFStringFindAndReplace(m, f, p, CFRangeMake(0, CFStringGetLength(m)), r.opts),
                  r.count);
        EXPECT_EQ(units(m), r.expect);
        CFRelease(m);
        CFRelease(f);
        CFRelease(p);
    }
}

// Literal search and replacement over haystacks of every length up to a few blocks of units,
// the needle placed at every position, with decoys (the needle's first unit alone) before and
// inside it, in sub-ranges: positions and counts agree with a plain reference scan.
TEST(CFStringSearch, LiteralSearchAgreesWithReferenceScan) {
    const std::u16string needles[] = {u"%", u"%s", u"%s%", u"abcabcabd"};
    for (const std::u16string& needle : needles) {
        for (size_t len = 0; len <= 40; ++len) {
            for (size_t pos = 0; pos <= len; ++pos) {
                // Decoys: the first unit of the needle every third unit; the needle itself
                // written at pos (when it fits).
                std::u16string hay(len, u'x');
                for (size_t i = 0; i < len; i += 3)
                    hay[i] = needle[0];
                if (pos + needle.size() <= len)
                    hay.replace(pos, needle.size(), needle);
                for (size_t from : {size_t(0), size_t(1), len / 2}) {
                    if (from > len)
                        continue;
                    SCOPED_TRACE(narrow(hay) + " needle " + narrow(needle) + " from " +
                                 std::to_string(from));
                    // Reference: the first match, then every non-overlapping match from
                    // `from`, left to right, replaced by a shorter text, one of the same length
                    // (the needle rotated) and the needle itself.
                    size_t firstAt = hay.find(needle, from);
                    CFStringRef h = make(hay);
                    CFStringRef n = make(needle);
                    CFRange found{-7, -7};
                    Boolean ok = CFStringFindWithOptions(
                        h, n, CFRangeMake(CFIndex(from), CFIndex(len - from)), 0, &found);
                    EXPECT_EQ(bool(ok), firstAt != std::u16string::npos);
                    if (ok) {
                        EXPECT_EQ(found.location, CFIndex(firstAt));
                        EXPECT_EQ(found.length, CFIndex(needle.size()));
                    }
                    const std::u16string replacements[] = {
                        u"#", needle.substr(1) + needle.substr(0, 1), needle};
                    for (const std::u16string& with : replacements) {
                        std::u16string expected = hay;
                        CFIndex expectedCount = 0;
                        for (size_t k = from; k + needle.size() <= expected.size();) {
                            if (expected.compare(k, needle.size(), needle) == 0) {
                                expected.replace(k, needle.size(), with);
                                ++expectedCount;
                                k += with.size();
                            } else {
                                ++k;
                            }
                        }
                        CFMutableStringRef m = CFStringCreateMutableCopy(nullptr, 0, h);
                        CFStringRef w = make(with);
                        EXPECT_EQ(CFStringFindAndReplace(
                                      m, n, w, CFRangeMake(CFIndex(from), CFIndex(len - from)), 0),
                                  expectedCount)
                            << narrow(with);
                        EXPECT_EQ(units(m), expected) << narrow(with);
                        CFRelease(w);
                        CFRelease(m);
                    }
                    CFRelease(n);
                    CFRelease(h);
                }
            }
        }
    }
    // Matches never overlap and written text is not searched again.
    struct Row {
        std::u16string hay, find, with, expected;
        CFIndex count;
    };
    const Row rows[] = {{u"aaaa", u"aa", u"aa", u"aaaa", 2},
                        {u"aaaaa", u"aa", u"ba", u"babaa", 2},
                        {u"%s%s%", u"%s%", u"s%%", u"s%%s%", 1},
                        {u"%s%s", u"%s", u"%S", u"%S%S", 2}};
    for (const Row& r : rows) {
        CFStringRef h = make(r.hay), f = make(r.find), w = make(r.with);
        CFMutableStringRef m = CFStringCreateMutableCopy(nullptr, 0, h);
        EXPECT_EQ(CFStringFindAndReplace(m, f, w, CFRangeMake(0, CFIndex(r.hay.size())), 0),
                  r.count)
            << narrow(r.hay);
        EXPECT_EQ(units(m), r.expected) << narrow(r.hay);
        CFRelease(w);
        CFRelease(f);
        CFRelease(h);
        CFRelease(m);
    }
}
