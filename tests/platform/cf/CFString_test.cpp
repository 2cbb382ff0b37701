// String storage: what creation copies or borrows, what reads write, how edits move units,
// and case mapping, trimming and padding.
#include "tests/platform/CFTestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

using namespace cftest;

namespace {

int gDeallocations = 0;
void CountingDeallocate(void* ptr, void*) {
    ++gDeallocations;
    std::free(ptr);
}

CFMutableStringRef MakeMutable(std::u16string_view text, CFIndex maxLength = 0) {
    CFMutableStringRef m = CFStringCreateMutable(nullptr, maxLength);
    CFStringAppendCharacters(m, reinterpret_cast<const UniChar*>(text.data()),
                             CFIndex(text.size()));
    return m;
}

TEST(CFString, CreationCopiesOrBorrowsExactly) {
    std::u16string text(u"a\0b\u00E9\U0001F600", 6);
    Str s(Make(text));
    text[0] = u'X'; // a copy: later changes to the source do not show
    EXPECT_EQ(Units(s.get()), std::u16string(u"a\0b\u00E9\U0001F600", 6));
    EXPECT_EQ(CFGetTypeID(s.get()), CFStringGetTypeID());
    const CFIndex at[] = {-1, 0, 5, 6};
    const UniChar expected[] = {0, u'a', 0xDE00, 0};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(CFStringGetCharacterAtIndex(s.get(), at[i]), expected[i]) << at[i];
    }
    EXPECT_EQ(CFStringGetLength(Str(CFStringCreateWithCharacters(nullptr, nullptr, 0)).get()), 0);
    EXPECT_EQ(CFStringCreateWithCharacters(nullptr, nullptr, 3), nullptr);
    EXPECT_EQ(CFStringCreateWithCharacters(nullptr, reinterpret_cast<const UniChar*>(u"x"), -1),
              nullptr);
    EXPECT_EQ(CFStringGetLength(nullptr), 0);

    // Borrowed units: the string shows the caller's changes, a copy of it does not.
    std::u16string hello = u"hello";
    auto* units = reinterpret_cast<const UniChar*>(hello.data());
    Str borrowed(CFStringCreateWithCharactersNoCopy(nullptr, units, 5, kCFAllocatorNull));
    EXPECT_EQ(CFStringGetCharactersPtr(borrowed.get()), units);
    Str copy(CFStringCreateCopy(nullptr, borrowed.get()));
    EXPECT_NE(copy.get(), borrowed.get());
    hello[0] = u'j';
    EXPECT_EQ(Units(borrowed.get()), u"jello");
    EXPECT_EQ(Units(copy.get()), u"hello");
    EXPECT_EQ(CFStringCreateWithCharactersNoCopy(nullptr, nullptr, 2, kCFAllocatorNull), nullptr);
    // An immutable string of its own is shared, whole or as its full substring.
    Str same(CFStringCreateCopy(nullptr, copy.get()));
    Str whole(CFStringCreateWithSubstring(nullptr, copy.get(), CFRangeMake(0, 5)));
    EXPECT_EQ(same.get(), copy.get());
    EXPECT_EQ(whole.get(), copy.get());
    EXPECT_EQ(CFGetRetainCount(copy.get()), 3);
    EXPECT_EQ(Take(CFStringCreateWithSubstring(nullptr, copy.get(), CFRangeMake(1, 4))), u"ello");
    EXPECT_EQ(CFStringCreateWithSubstring(nullptr, copy.get(), CFRangeMake(2, 4)), nullptr);
    EXPECT_EQ(CFStringCreateCopy(nullptr, nullptr), nullptr);
}

TEST(CFString, ContentsDeallocatorFreesTheCallersBlockOnce) {
    CFAllocatorContext context{};
    context.deallocate = CountingDeallocate;
    CFRef<CFAllocatorRef> counting(CFAllocatorCreate(nullptr, &context));
    gDeallocations = 0;
    auto* chars = static_cast<UniChar*>(std::malloc(3 * sizeof(UniChar)));
    chars[0] = u'a', chars[1] = u'b', chars[2] = u'c';
    CFStringRef s = CFStringCreateWithCharactersNoCopy(nullptr, chars, 3, counting.get());
    CFRetain(s);
    CFRelease(s);
    EXPECT_EQ(gDeallocations, 0);
    CFRelease(s);
    EXPECT_EQ(gDeallocations, 1);
    // Decoded bytes are done with at once; a null deallocator leaves them to the caller.
    char* bytes = strdup("xy");
    EXPECT_EQ(Take(CFStringCreateWithCStringNoCopy(nullptr, bytes, kCFStringEncodingUTF8,
                                                   counting.get())),
              u"xy");
    EXPECT_EQ(gDeallocations, 2);
    const UInt8 fixed[] = {'o', 'k'};
    EXPECT_EQ(Take(CFStringCreateWithBytesNoCopy(nullptr, fixed, 2, kCFStringEncodingASCII, false,
                                                 kCFAllocatorNull)),
              u"ok");
    EXPECT_EQ(gDeallocations, 2);
}

TEST(CFString, ReadsWriteExactlyTheirRange) {
    Str s(Make(u"ab\u4E2D"));
    UniChar units[6] = {u'#', u'#', u'#', u'#', u'#', u'#'};
    CFStringGetCharacters(s.get(), CFRangeMake(1, 2), units + 1);
    CFStringGetCharacters(s.get(), CFRangeMake(2, 2), units); // past the end: nothing
    EXPECT_EQ(std::u16string(reinterpret_cast<char16_t*>(units), 6), u"#b\u4E2D###");

    // The text needs 5 bytes and a zero: less room fails with an empty result, and nothing
    // is written past the room given.
    for (CFIndex size : {7, 6, 5, 1, 0}) {
        char buffer[8];
        std::memset(buffer, '#', sizeof buffer);
        const bool ok = CFStringGetCString(s.get(), buffer, size, kCFStringEncodingUTF8);
        EXPECT_EQ(ok, size >= 6) << size;
        EXPECT_EQ(std::string(buffer, 1), size == 0 ? "#" : ok ? "a" : std::string(1, '\0'));
        if (ok) {
            EXPECT_EQ(std::string(buffer), "ab\xE4\xB8\xAD");
        }
        EXPECT_EQ(std::string(buffer + size, 8 - size_t(size)), std::string(8 - size_t(size), '#'))
            << size;
    }
    char buffer[4] = "##";
    EXPECT_FALSE(CFStringGetCString(nullptr, buffer, 4, kCFStringEncodingUTF8));
    EXPECT_EQ(buffer[0], '\0');
    EXPECT_FALSE(CFStringGetCString(s.get(), nullptr, 4, kCFStringEncodingUTF8));
    CFIndex used = -1;
    EXPECT_EQ(CFStringGetBytes(s.get(), CFRangeMake(2, 2), kCFStringEncodingUTF8, 0, false, nullptr,
                               0, &used),
              0);
    EXPECT_EQ(used, 0);
    EXPECT_EQ(CFStringGetMaximumSizeOfFileSystemRepresentation(s.get()), 10);
}

// The original bytes serve as a C string while they read the same in the encoding asked for.
TEST(CFString, CStringPointerOnlyForKeptBytesThatReadTheSame) {
    struct Row {
        const char* bytes;
        CFStringEncoding made, asked;
        bool given;
    } rows[] = {
        {"plain", kCFStringEncodingMacRoman, kCFStringEncodingMacRoman, true},
        {"plain", kCFStringEncodingMacRoman, kCFStringEncodingUTF8, true},
        {"plain", kCFStringEncodingUTF8, kCFStringEncodingWindowsLatin1, true},
        {"plain", kCFStringEncodingASCII, kCFStringEncodingISOLatin9, true},
        {"plain", kCFStringEncodingISOLatin1, kCFStringEncodingUTF16, false},
        {"caf\x8E", kCFStringEncodingMacRoman, kCFStringEncodingMacRoman, true},
        {"caf\x8E", kCFStringEncodingMacRoman, kCFStringEncodingUTF8, false},
        {"caf\xE9", kCFStringEncodingISOLatin1, kCFStringEncodingWindowsLatin1, false},
        {"", kCFStringEncodingUTF8, kCFStringEncodingUTF8, false},
    };
    for (const Row& row : rows) {
        Str s(CFStringCreateWithCString(nullptr, row.bytes, row.made));
        const char* p = CFStringGetCStringPtr(s.get(), row.asked);
        EXPECT_EQ(p == nullptr ? "<none>" : std::string(p), row.given ? row.bytes : "<none>")
            << row.bytes << " made " << row.made << " asked " << row.asked;
    }
    Str units(Make(u"plain"));
    EXPECT_EQ(CFStringGetCStringPtr(units.get(), kCFStringEncodingUTF8), nullptr);
    CFRef<CFMutableStringRef> m(CFStringCreateMutableCopy(nullptr, 0, CFSTR("plain")));
    EXPECT_EQ(CFStringGetCStringPtr(m.get(), kCFStringEncodingUTF8), nullptr);
}

TEST(CFString, EqualStringsHashAlike) {
    Str a(Make(u"same")), b(CFStringCreateWithCString(nullptr, "same", kCFStringEncodingASCII));
    EXPECT_TRUE(CFEqual(a.get(), b.get()));
    EXPECT_EQ(CFHash(a.get()), CFHash(b.get()));
    for (std::u16string_view other : {u"Same", u"sam", u"samee"}) {
        EXPECT_FALSE(CFEqual(a.get(), Str(Make(other)).get()));
        EXPECT_NE(CFHash(a.get()), CFHash(Str(Make(other)).get()));
    }
    EXPECT_FALSE(CFEqual(a.get(), nullptr));
}

TEST(CFString, EditsRefuseWhatTheyCannotDo) {
    CFRef<CFMutableStringRef> m(CFStringCreateMutable(nullptr, 0));
    CFStringAppendCString(m.get(), "d\xC3\xA9", kCFStringEncodingUTF8);
    CFStringAppendCString(m.get(), "\xC3", kCFStringEncodingUTF8); // invalid: nothing appended
    CFStringAppendCString(m.get(), "\x8E", kCFStringEncodingMacRoman);
    CFStringInsert(m.get(), 3, CFSTR(">"));     // at the end
    CFStringInsert(m.get(), 5, CFSTR("!"));     // past it: refused
    CFStringInsert(m.get(), -1, CFSTR("!"));    // before it: refused
    CFStringDelete(m.get(), CFRangeMake(3, 2)); // past the end: refused
    EXPECT_EQ(Units(m.get()), u"d\u00E9\u00E9>");
    CFStringAppend(m.get(), m.get()); // its own units, read before they move
    EXPECT_EQ(Units(m.get()), u"d\u00E9\u00E9>d\u00E9\u00E9>");
    CFStringSetValue(m.get(), CFSTR("all"));
    EXPECT_EQ(Units(m.get()), u"all");
    Str copy(CFStringCreateCopy(nullptr, m.get()));
    CFStringAppend(m.get(), CFSTR("+"));
    EXPECT_EQ(Units(copy.get()), u"all");

    Str fixed(Make(u"fixed"));
    auto* writable = const_cast<CFMutableStringRef>(fixed.get());
    CFStringAppend(writable, CFSTR("x"));
    CFStringReplaceAll(writable, CFSTR("x"));
    CFStringUppercase(writable, nullptr);
    CFStringPad(writable, CFSTR("x"), 9, 0);
    EXPECT_EQ(Units(fixed.get()), u"fixed");

    // A maximum length is reached exactly, never passed.
    CFRef<CFMutableStringRef> limited(MakeMutable(u"ab", 3));
    CFStringAppend(limited.get(), CFSTR("cd"));
    CFStringAppend(limited.get(), CFSTR("c"));
    CFStringAppend(limited.get(), CFSTR("d"));
    CFStringInsert(limited.get(), 0, CFSTR("d"));
    EXPECT_EQ(Units(limited.get()), u"abc");
    EXPECT_EQ(CFStringCreateMutableCopy(nullptr, 2, CFSTR("abc")), nullptr);
}

// Every size of edit at every position of strings up to a few dozen units, so that the
// units behind it move short and long distances both ways: each result matches the same
// edit on a plain string.
TEST(CFString, EditsAgreeWithAPlainString) {
    for (int len = 0; len <= 40; ++len) {
        std::u16string base;
        for (int i = 0; i < len; ++i)
            base += char16_t(u'a' + i % 26);
        for (int at = 0; at <= len; ++at) {
            for (int cut : {0, 1, 3, 9, 20}) {
                for (int add : {0, 1, 2, 5, 17}) {
                    if (at + cut > len)
                        continue;
                    std::u16string expected = base;
                    expected.replace(size_t(at), size_t(cut), size_t(add), u'#');
                    CFRef<CFMutableStringRef> m(MakeMutable(base));
                    CFStringReplace(m.get(), CFRangeMake(at, cut),
                                    Str(Make(std::u16string(size_t(add), u'#'))).get());
                    ASSERT_EQ(Units(m.get()), expected)
                        << "length " << len << " at " << at << " cut " << cut << " add " << add;
                }
            }
        }
    }
    // Appends in pieces of every size past the room a new string starts with, some taken
    // from the string's own units.
    for (int step = 1; step <= 9; ++step) {
        CFRef<CFMutableStringRef> m(CFStringCreateMutable(nullptr, 0));
        std::u16string expected;
        for (int round = 0; expected.size() < 120; ++round) {
            std::u16string piece;
            for (int i = 0; i < step; ++i)
                piece += char16_t(u'A' + (round + i) % 26);
            CFStringAppendCharacters(m.get(), reinterpret_cast<const UniChar*>(piece.data()), step);
            expected += piece;
            if (round % 4 == 3) {
                CFStringAppendCharacters(m.get(), CFStringGetCharactersPtr(m.get()) + 1, step);
                expected += expected.substr(1, size_t(step));
            }
            ASSERT_EQ(Units(m.get()), expected) << "step " << step << " round " << round;
        }
    }
}

TEST(CFString, CaseMappingTrimmingAndPadding) {
    struct Row {
        std::u16string in, upper, lower;
    } rows[] = {
        {u"@AZ[`az{", u"@AZ[`AZ{", u"@az[`az{"}, // the edges of the ASCII letters
        {u"stra\u00DFe", u"STRASSE", u"stra\u00DFe"},
        {u"\u0130", u"\u0130", u"i\u0307"}, // the root locale: no Turkish rules
        {u"\u00C9t\u00E9 Az", u"\u00C9T\u00C9 AZ", u"\u00E9t\u00E9 az"},
        {u"", u"", u""},
    };
    for (const Row& row : rows) {
        CFRef<CFMutableStringRef> upper(MakeMutable(row.in)), lower(MakeMutable(row.in));
        CFStringUppercase(upper.get(), nullptr);
        CFStringLowercase(lower.get(), nullptr);
        EXPECT_EQ(Units(upper.get()), row.upper);
        EXPECT_EQ(Units(lower.get()), row.lower);
    }
    const std::u16string trims[][2] = {
        {u" \t x y \n", u"x y"}, {u"\u00A0\u2003x", u"x"}, {u"   ", u""}, {u"x", u"x"}, {u"", u""}};
    for (const auto& [in, out] : trims) {
        CFRef<CFMutableStringRef> m(MakeMutable(in));
        CFStringTrimWhitespace(m.get());
        EXPECT_EQ(Units(m.get()), out) << testing::PrintToString(in);
    }
    struct Pad {
        std::u16string in, pad;
        CFIndex length, index;
        std::u16string out;
    } pads[] = {
        {u"x y", u"-.", 7, 1, u"x y.-.-"}, {u"x y", u"-.", 4, 0, u"x y-"},
        {u"x y", u"", 5, 0, u"x y"},       {u"x y", u"-.", 5, 2, u"x y"},
        {u"x y", u"-.", 5, -1, u"x y"},    {u"x y", u"-", 3, 0, u"x y"},
        {u"x y", u"-", 2, 0, u"x "},       {u"x y", u"-", -1, 0, u"x y"},
    };
    for (const Pad& p : pads) {
        CFRef<CFMutableStringRef> m(MakeMutable(p.in));
        CFStringPad(m.get(), Str(Make(p.pad)).get(), p.length, p.index);
        EXPECT_EQ(Units(m.get()), p.out) << p.length << " from " << p.index;
    }
}

} // namespace
