#include "platform/CoreFoundation.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

std::u16string units(CFStringRef s) {
    std::u16string out(static_cast<size_t>(CFStringGetLength(s)), u'\0');
    CFStringGetCharacters(s, CFRangeMake(0, CFStringGetLength(s)), out.data());
    return out;
}

CFStringRef make(const std::u16string& text) {
    return CFStringCreateWithCharacters(nullptr, text.data(), static_cast<CFIndex>(text.size()));
}

int gDeallocations = 0;
void countingDeallocate(void* ptr, void*) {
    ++gDeallocations;
    std::free(ptr);
}

} // namespace

TEST(CFString, CreateWithCharactersCopiesExactly) {
    std::u16string text(u"a\0b\u00E9\U0001F600", 6);
    CFStringRef s = make(text);
    ASSERT_NE(s, nullptr);
    text[0] = u'X'; // a copy: later changes to the source do not show
    EXPECT_EQ(CFStringGetLength(s), 6);
    EXPECT_EQ(units(s), std::u16string(u"a\0b\u00E9\U0001F600", 6));
    EXPECT_EQ(CFStringGetCharacterAtIndex(s, 3), u'\u00E9');
    EXPECT_EQ(CFStringGetCharacterAtIndex(s, 6), 0); // outside: 0, no crash
    EXPECT_EQ(CFGetTypeID(s), CFStringGetTypeID());
    const UniChar* p = CFStringGetCharactersPtr(s);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p[1], 0);
    CFRelease(s);

    CFStringRef empty = CFStringCreateWithCharacters(nullptr, nullptr, 0);
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(CFStringGetLength(empty), 0);
    CFRelease(empty);
    EXPECT_EQ(CFStringCreateWithCharacters(nullptr, nullptr, 3), nullptr);
    EXPECT_EQ(CFStringGetLength(nullptr), 0);
}

TEST(CFString, GetCharactersWritesOnlyTheRange) {
    CFStringRef s = make(u"abcdef");
    UniChar buf[6] = {u'#', u'#', u'#', u'#', u'#', u'#'};
    CFStringGetCharacters(s, CFRangeMake(2, 3), buf + 1);
    EXPECT_EQ(std::u16string(buf, 6), u"#cde##");
    CFStringGetCharacters(s, CFRangeMake(4, 5), buf); // beyond the end: nothing
    EXPECT_EQ(std::u16string(buf, 6), u"#cde##");
    CFRelease(s);
}

TEST(CFString, NoCopyRefersToCallerUnitsAndCopiesDeepCopy) {
    std::u16string text = u"hello";
    CFStringRef s = CFStringCreateWithCharactersNoCopy(nullptr, text.data(), 5, kCFAllocatorNull);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(CFStringGetCharactersPtr(s), reinterpret_cast<const UniChar*>(text.data()));
    CFStringRef copy = CFStringCreateCopy(nullptr, s);
    EXPECT_NE(copy, s);
    text[0] = u'j';
    EXPECT_EQ(units(s), u"jello");
    EXPECT_EQ(units(copy), u"hello");
    CFRelease(s);
    CFRelease(copy);

    // An immutable owned string is shared by CFStringCreateCopy.
    CFStringRef owned = make(u"x");
    CFStringRef same = CFStringCreateCopy(nullptr, owned);
    EXPECT_EQ(same, owned);
    EXPECT_EQ(CFGetRetainCount(owned), 2);
    CFRelease(same);
    CFRelease(owned);
}

TEST(CFString, NoCopyFreesWithItsContentsDeallocator) {
    CFAllocatorContext ctx{};
    ctx.deallocate = countingDeallocate;
    CFAllocatorRef counting = CFAllocatorCreate(nullptr, &ctx);
    auto* buf = static_cast<UniChar*>(std::malloc(3 * sizeof(UniChar)));
    buf[0] = u'a', buf[1] = u'b', buf[2] = u'c';
    gDeallocations = 0;
    CFStringRef s = CFStringCreateWithCharactersNoCopy(nullptr, buf, 3, counting);
    CFRetain(s);
    CFRelease(s);
    EXPECT_EQ(gDeallocations, 0);
    CFRelease(s);
    EXPECT_EQ(gDeallocations, 1);
    CFRelease(counting);
}

TEST(CFString, CStringDecodingPerEncoding) {
    struct Row {
        const char* bytes;
        CFStringEncoding enc;
        std::u16string expect; // empty with fail = true: decoding must fail
        bool fail;
    };
    const Row rows[] = {
        {"caf\xC3\xA9", kCFStringEncodingUTF8, u"caf\u00E9", false},
        {"\xF0\x9F\x98\x80", kCFStringEncodingUTF8, u"\U0001F600", false},
        {"caf\xC3", kCFStringEncodingUTF8, u"", true},          // truncated sequence
        {"\xC0\xAF", kCFStringEncodingUTF8, u"", true},         // overlong
        {"\xED\xA0\x80", kCFStringEncodingUTF8, u"", true},     // encoded surrogate
        {"\xF4\x90\x80\x80", kCFStringEncodingUTF8, u"", true}, // above U+10FFFF
        {"\xFF", kCFStringEncodingUTF8, u"", true},
        {"caf\xE9", kCFStringEncodingISOLatin1, u"caf\u00E9", false},
        {"\x80\xFF", kCFStringEncodingISOLatin1, u"\u0080\u00FF", false},
        {"caf\x8E", kCFStringEncodingMacRoman, u"caf\u00E9", false},
        {"\xA5\xDB", kCFStringEncodingMacRoman, u"\u2022\u20AC", false},
        {"abc", kCFStringEncodingASCII, u"abc", false},
        {"ab\x80", kCFStringEncodingASCII, u"", true},
        {"\x80", kCFStringEncodingWindowsLatin1, u"\u20AC", false},
        {"\xC0", kCFStringEncodingWindowsCyrillic, u"\u0410", false},
        {"\x82\xA0", kCFStringEncodingDOSJapanese, u"\u3042", false},
        {"\x82", kCFStringEncodingDOSJapanese, u"", true}, // lead byte alone
        {"", kCFStringEncodingUTF8, u"", false},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::Message()
                     << "bytes " << testing::PrintToString(r.bytes) << " encoding " << r.enc);
        CFStringRef s = CFStringCreateWithCString(nullptr, r.bytes, r.enc);
        if (r.fail) {
            EXPECT_EQ(s, nullptr);
            continue;
        }
        ASSERT_NE(s, nullptr);
        EXPECT_EQ(units(s), r.expect);
        // And back to the same bytes.
        char out[16];
        std::memset(out, '#', sizeof out);
        EXPECT_TRUE(CFStringGetCString(s, out, sizeof out, r.enc));
        EXPECT_STREQ(out, r.bytes);
        CFRelease(s);
    }
    EXPECT_EQ(CFStringCreateWithCString(nullptr, nullptr, kCFStringEncodingUTF8), nullptr);
    EXPECT_EQ(CFStringCreateWithCString(nullptr, "x", 0x7777), nullptr); // unknown encoding
}

TEST(CFString, GetCStringFailsForMissingCharacterOrSmallBuffer) {
    CFStringRef s = make(u"ab\u4E2D");
    char buf[8];
    std::memset(buf, '#', sizeof buf);
    EXPECT_FALSE(CFStringGetCString(s, buf, sizeof buf, kCFStringEncodingMacRoman));
    EXPECT_FALSE(CFStringGetCString(s, buf, sizeof buf, kCFStringEncodingISOLatin1));
    EXPECT_TRUE(CFStringGetCString(s, buf, sizeof buf, kCFStringEncodingUTF8));
    EXPECT_STREQ(buf, "ab\xE4\xB8\xAD");
    EXPECT_FALSE(CFStringGetCString(s, buf, 5, kCFStringEncodingUTF8)); // needs 6 with zero
    EXPECT_TRUE(CFStringGetCString(s, buf, 6, kCFStringEncodingUTF8));
    CFRelease(s);

    CFStringRef lone = make(std::u16string(1, char16_t(0xD800)));
    EXPECT_FALSE(CFStringGetCString(lone, buf, sizeof buf, kCFStringEncodingUTF8));
    CFRelease(lone);
}

TEST(CFString, GetBytesWithLossByteAndCounting) {
    CFStringRef s = make(u"a\u00E9\u4E2Db");
    UInt8 buf[8];
    std::memset(buf, '#', sizeof buf);
    CFIndex used = -1;
    // Counting only.
    EXPECT_EQ(CFStringGetBytes(s, CFRangeMake(0, 4), kCFStringEncodingISOLatin1, '?', false,
                               nullptr, 0, &used),
              4);
    EXPECT_EQ(used, 4);
    EXPECT_EQ(CFStringGetBytes(s, CFRangeMake(0, 4), kCFStringEncodingISOLatin1, '?', false, buf,
                               sizeof buf, &used),
              4);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), 5), "a\xE9?b#");
    // Without a loss byte the conversion stops before the missing character.
    EXPECT_EQ(CFStringGetBytes(s, CFRangeMake(0, 4), kCFStringEncodingISOLatin1, 0, false, buf,
                               sizeof buf, &used),
              2);
    EXPECT_EQ(used, 2);
    // Whole characters only: 4 bytes of room hold "a", "é" but not the 3 bytes of U+4E2D.
    std::memset(buf, '#', sizeof buf);
    EXPECT_EQ(
        CFStringGetBytes(s, CFRangeMake(0, 4), kCFStringEncodingUTF8, 0, false, buf, 4, &used), 2);
    EXPECT_EQ(used, 3);
    EXPECT_EQ(buf[3], '#');
    CFRelease(s);
}

TEST(CFString, Utf16BytesHonourByteOrderMarks) {
    const UInt8 be[] = {0xFE, 0xFF, 0x00, 0x41, 0x4E, 0x2D};
    CFStringRef s = CFStringCreateWithBytes(nullptr, be, sizeof be, kCFStringEncodingUTF16, true);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(units(s), u"A\u4E2D");
    CFRelease(s);
    const UInt8 le[] = {0x41, 0x00, 0x2D, 0x4E};
    s = CFStringCreateWithBytes(nullptr, le, sizeof le, kCFStringEncodingUTF16LE, false);
    EXPECT_EQ(units(s), u"A\u4E2D");
    UInt8 out[4];
    CFIndex used = 0;
    EXPECT_EQ(
        CFStringGetBytes(s, CFRangeMake(0, 2), kCFStringEncodingUTF16BE, 0, false, out, 4, &used),
        2);
    EXPECT_EQ(used, 4);
    EXPECT_EQ(out[0], 0x00);
    EXPECT_EQ(out[1], 0x41);
    CFRelease(s);
    EXPECT_EQ(CFStringCreateWithBytes(nullptr, le, 3, kCFStringEncodingUTF16LE, false), nullptr);
}

TEST(CFString, CStringPtrOnlyWhenKeptAs8Bit) {
    CFStringRef s = CFStringCreateWithCString(nullptr, "plain", kCFStringEncodingMacRoman);
    const char* p = CFStringGetCStringPtr(s, kCFStringEncodingMacRoman);
    ASSERT_NE(p, nullptr);
    EXPECT_STREQ(p, "plain");
    EXPECT_STREQ(CFStringGetCStringPtr(s, kCFStringEncodingUTF8), "plain"); // ASCII only
    CFRelease(s);
    s = CFStringCreateWithCString(nullptr, "caf\x8E", kCFStringEncodingMacRoman);
    EXPECT_STREQ(CFStringGetCStringPtr(s, kCFStringEncodingMacRoman), "caf\x8E");
    EXPECT_EQ(CFStringGetCStringPtr(s, kCFStringEncodingUTF8), nullptr);
    CFRelease(s);
    s = make(u"plain");
    EXPECT_EQ(CFStringGetCStringPtr(s, kCFStringEncodingMacRoman), nullptr);
    CFRelease(s);
}

TEST(CFString, EncodingTables) {
    EXPECT_EQ(CFStringGetSystemEncoding(), kCFStringEncodingUTF8);
    EXPECT_EQ(CFStringConvertWindowsCodepageToEncoding(65001), kCFStringEncodingUTF8);
    EXPECT_EQ(CFStringConvertWindowsCodepageToEncoding(1252), kCFStringEncodingWindowsLatin1);
    EXPECT_EQ(CFStringConvertWindowsCodepageToEncoding(10000), kCFStringEncodingMacRoman);
    EXPECT_EQ(CFStringConvertWindowsCodepageToEncoding(0), kCFStringEncodingInvalidId);
    EXPECT_EQ(CFStringConvertWindowsCodepageToEncoding(12345), kCFStringEncodingInvalidId);
    EXPECT_EQ(CFStringConvertEncodingToWindowsCodepage(kCFStringEncodingISOLatin1), 28591u);
    EXPECT_EQ(CFStringConvertEncodingToWindowsCodepage(0x7777), kCFStringEncodingInvalidId);
    EXPECT_TRUE(CFStringIsEncodingAvailable(kCFStringEncodingMacRoman));
    EXPECT_TRUE(CFStringIsEncodingAvailable(kCFStringEncodingDOSChineseSimplif));
    EXPECT_FALSE(CFStringIsEncodingAvailable(0x7777));
    EXPECT_EQ(CFStringGetMaximumSizeForEncoding(10, kCFStringEncodingUTF8), 30);
    EXPECT_EQ(CFStringGetMaximumSizeForEncoding(10, kCFStringEncodingMacRoman), 10);
}

TEST(CFString, ConstantStringsAreCachedAndImmortal) {
    CFStringRef a = CFSTR("constant");
    CFStringRef b = CFSTR("constant");
    EXPECT_EQ(a, b);
    CFRelease(a);
    CFRelease(a);
    EXPECT_EQ(CFStringGetLength(b), 8);
    EXPECT_EQ(units(CFSTR("\u00E9")), u"\u00E9");
}

TEST(CFString, EqualAndHash) {
    CFStringRef a = make(u"same");
    CFStringRef b = CFStringCreateWithCString(nullptr, "same", kCFStringEncodingASCII);
    CFStringRef c = make(u"Same");
    EXPECT_TRUE(CFEqual(a, b));
    EXPECT_EQ(CFHash(a), CFHash(b));
    EXPECT_FALSE(CFEqual(a, c));
    EXPECT_FALSE(CFEqual(a, nullptr));
    CFRelease(a);
    CFRelease(b);
    CFRelease(c);
}

TEST(CFString, IntAndDoubleValues) {
    struct Row {
        std::u16string text;
        SInt32 i;
        double d;
    };
    const Row rows[] = {
        {u"42", 42, 42.0},
        {u"  -12ab", -12, -12.0},
        {u"+7", 7, 7.0},
        {u"abc", 0, 0.0},
        {u"", 0, 0.0},
        {u"3.5e2x", 3, 350.0},
        {u"1e", 1, 1.0},
        {u".5", 0, 0.5},
        {u"99999999999", INT32_MAX, 99999999999.0},
        {u"-99999999999", INT32_MIN, -99999999999.0},
        {u"-2147483648", INT32_MIN, -2147483648.0},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(std::string(r.text.begin(), r.text.end()));
        CFStringRef s = make(r.text);
        EXPECT_EQ(CFStringGetIntValue(s), r.i);
        EXPECT_DOUBLE_EQ(CFStringGetDoubleValue(s), r.d);
        CFRelease(s);
    }
    EXPECT_EQ(CFStringGetIntValue(nullptr), 0);
}

TEST(CFString, MutableEditing) {
    CFMutableStringRef m = CFStringCreateMutable(nullptr, 0);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(CFStringGetLength(m), 0);
    EXPECT_NE(CFStringGetCharactersPtr(m), nullptr);
    CFStringAppendCharacters(m, reinterpret_cast<const UniChar*>(u"abc"), 3);
    CFStringAppendCString(m, "d\xC3\xA9", kCFStringEncodingUTF8);
    CFStringAppendCString(m, "\xC3", kCFStringEncodingUTF8); // invalid: nothing appended
    CFStringAppendCString(m, "\x8E", kCFStringEncodingMacRoman);
    EXPECT_EQ(units(m), u"abcd\u00E9\u00E9");
    CFStringInsert(m, 0, CFSTR(">"));
    CFStringInsert(m, 99, CFSTR("!")); // outside: refused
    CFStringDelete(m, CFRangeMake(2, 2));
    EXPECT_EQ(units(m), u">ad\u00E9\u00E9");
    CFStringReplace(m, CFRangeMake(1, 2), CFSTR("XYZ"));
    EXPECT_EQ(units(m), u">XYZ\u00E9\u00E9");
    // Appending a string to itself reads the units before they move.
    CFStringAppend(m, m);
    EXPECT_EQ(units(m), u">XYZ\u00E9\u00E9>XYZ\u00E9\u00E9");
    CFStringReplaceAll(m, CFSTR("all"));
    EXPECT_EQ(units(m), u"all");
    CFStringRef copy = CFStringCreateCopy(nullptr, m);
    EXPECT_NE(copy, m);
    CFStringAppend(m, CFSTR("+"));
    EXPECT_EQ(units(copy), u"all");
    CFMutableStringRef m2 = CFStringCreateMutableCopy(nullptr, 0, copy);
    EXPECT_EQ(units(m2), u"all");
    CFRelease(m2);
    CFRelease(copy);
    CFRelease(m);

    // Immutable strings refuse edits.
    CFStringRef fixed = make(u"fixed");
    CFStringAppend(const_cast<CFMutableStringRef>(fixed), CFSTR("x"));
    EXPECT_EQ(units(fixed), u"fixed");
    CFRelease(fixed);

    CFMutableStringRef limited = CFStringCreateMutable(nullptr, 3);
    CFStringAppend(limited, CFSTR("ab"));
    CFStringAppend(limited, CFSTR("cd"));
    EXPECT_EQ(units(limited), u"ab");
    CFRelease(limited);
}

TEST(CFString, CaseMappingUsesFullRootMapping) {
    struct Row {
        std::u16string in, upper, lower;
    };
    const Row rows[] = {
        {u"straße", u"STRASSE", u"straße"},
        {u"Hello World", u"HELLO WORLD", u"hello world"},
        {u"\u0130", u"\u0130", u"i\u0307"}, // root locale: dotted capital I
        {u"\u00C9t\u00E9", u"\u00C9T\u00C9", u"\u00E9t\u00E9"},
        {u"", u"", u""},
    };
    for (const Row& r : rows) {
        CFMutableStringRef m = CFStringCreateMutable(nullptr, 0);
        CFStringAppendCharacters(m, reinterpret_cast<const UniChar*>(r.in.data()),
                                 static_cast<CFIndex>(r.in.size()));
        CFStringUppercase(m, nullptr);
        EXPECT_EQ(units(m), r.upper);
        CFRelease(m);
        m = CFStringCreateMutable(nullptr, 0);
        CFStringAppendCharacters(m, reinterpret_cast<const UniChar*>(r.in.data()),
                                 static_cast<CFIndex>(r.in.size()));
        CFStringLowercase(m, nullptr);
        EXPECT_EQ(units(m), r.lower);
        CFRelease(m);
    }
}

TEST(CFString, SubstringTrimAndPad) {
    CFStringRef s = make(u"hello");
    CFStringRef sub = CFStringCreateWithSubstring(nullptr, s, CFRangeMake(1, 3));
    EXPECT_EQ(units(sub), u"ell");
    EXPECT_EQ(CFStringCreateWithSubstring(nullptr, s, CFRangeMake(3, 3)), nullptr);
    CFRelease(sub);
    CFRelease(s);

    CFMutableStringRef m = CFStringCreateMutableCopy(nullptr, 0, CFSTR(" \t x y \n"));
    CFStringTrimWhitespace(m);
    EXPECT_EQ(units(m), u"x y");
    CFStringPad(m, CFSTR("-."), 7, 1);
    EXPECT_EQ(units(m), u"x y.-.-");
    CFStringPad(m, nullptr, 2, 0);
    EXPECT_EQ(units(m), u"x ");
    CFRelease(m);
}

TEST(CFString, SingleByteCodePagesRoundTripEveryByte) {
    const CFStringEncoding encodings[] = {kCFStringEncodingMacRoman, kCFStringEncodingWindowsLatin1,
                                          kCFStringEncodingWindowsCyrillic,
                                          kCFStringEncodingDOSLatinUS, kCFStringEncodingISOLatin9};
    for (CFStringEncoding enc : encodings) {
        int decoded = 0;
        for (int b = 1; b < 256; ++b) {
            SCOPED_TRACE(testing::Message() << "encoding " << enc << " byte " << b);
            const UInt8 in = static_cast<UInt8>(b);
            CFStringRef s = CFStringCreateWithBytes(nullptr, &in, 1, enc, false);
            if (s == nullptr)
                continue; // a byte the code page does not define
            ++decoded;
            ASSERT_EQ(CFStringGetLength(s), 1);
            UInt8 out = 0;
            CFIndex used = 0;
            EXPECT_EQ(CFStringGetBytes(s, CFRangeMake(0, 1), enc, 0, false, &out, 1, &used), 1);
            EXPECT_EQ(used, 1);
            EXPECT_EQ(out, in);
            CFRelease(s);
        }
        EXPECT_GE(decoded, 250) << enc;
    }
    // A character the code page lacks becomes the loss byte, one byte per character.
    CFStringRef s = make(u"a\u4E2D\U0001F600b");
    UInt8 out[8];
    CFIndex used = 0;
    EXPECT_EQ(CFStringGetBytes(s, CFRangeMake(0, 5), kCFStringEncodingWindowsLatin1, '?', false,
                               out, sizeof out, &used),
              5);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(out), static_cast<size_t>(used)), "a??b");
    CFRelease(s);
}

TEST(CFString, MultiByteAndStatefulEncodingsRoundTrip) {
    const CFStringEncoding encodings[] = {kCFStringEncodingShiftJIS, kCFStringEncodingEUC_JP,
                                          kCFStringEncodingGB_18030_2000, kCFStringEncodingBig5,
                                          kCFStringEncodingISO_2022_JP};
    std::u16string text = u"x\u65E5\u672Cy";
    CFStringRef s = make(text);
    for (CFStringEncoding enc : encodings) {
        SCOPED_TRACE(testing::Message() << "encoding " << enc);
        CFIndex need = 0;
        CFIndex n = CFStringGetBytes(s, CFRangeMake(0, 4), enc, 0, false, nullptr, 0, &need);
        ASSERT_EQ(n, 4);
        ASSERT_LE(need, CFStringGetMaximumSizeForEncoding(4, enc));
        std::string bytes(static_cast<size_t>(need), '\0');
        CFIndex used = 0;
        CFStringGetBytes(s, CFRangeMake(0, 4), enc, 0, false,
                         reinterpret_cast<UInt8*>(bytes.data()), need, &used);
        EXPECT_EQ(used, need);
        CFStringRef back = CFStringCreateWithBytes(
            nullptr, reinterpret_cast<const UInt8*>(bytes.data()), used, enc, false);
        ASSERT_NE(back, nullptr);
        EXPECT_EQ(units(back), text);
        CFRelease(back);
    }
    CFRelease(s);
}

// Runs of ASCII of every length up to a few blocks, with one other character at every
// position (or none): the bytes written, the bytes counted, the room needed and the way back
// agree with a unit-by-unit reference, and nothing is written past the terminator.
TEST(CFString, AsciiRunsAroundOneOtherCharacterInEveryPosition) {
    struct Enc {
        CFStringEncoding enc;
        const char* eAcute; // U+00E9 in the encoding
    };
    const Enc encodings[] = {{kCFStringEncodingMacRoman, "\x8E"},
                             {kCFStringEncodingUTF8, "\xC3\xA9"},
                             {kCFStringEncodingISOLatin1, "\xE9"}};
    for (const Enc& e : encodings) {
        for (int len = 0; len <= 40; ++len) {
            for (int pos = -1; pos < len; ++pos) {
                std::u16string text;
                std::string expected;
                for (int i = 0; i < len; ++i) {
                    if (i == pos) {
                        text += u'\u00E9';
                        expected += e.eAcute;
                    } else {
                        text += static_cast<char16_t>('a' + i % 26);
                        expected += static_cast<char>('a' + i % 26);
                    }
                }
                SCOPED_TRACE("encoding " + std::to_string(e.enc) + " length " +
                             std::to_string(len) + " other at " + std::to_string(pos));
                CFStringRef s = make(text);
                char buf[128];
                std::memset(buf, '#', sizeof buf);
                ASSERT_TRUE(CFStringGetCString(s, buf, CFIndex(expected.size() + 1), e.enc));
                EXPECT_EQ(std::string(buf), expected);
                EXPECT_EQ(buf[expected.size() + 1], '#');
                EXPECT_FALSE(CFStringGetCString(s, buf, CFIndex(expected.size()), e.enc));
                CFIndex used = -1;
                EXPECT_EQ(
                    CFStringGetBytes(s, CFRangeMake(0, len), e.enc, 0, false, nullptr, 0, &used),
                    len);
                EXPECT_EQ(used, CFIndex(expected.size()));
                CFStringRef back = CFStringCreateWithBytes(
                    nullptr, reinterpret_cast<const UInt8*>(expected.data()),
                    CFIndex(expected.size()), e.enc, false);
                ASSERT_NE(back, nullptr);
                EXPECT_EQ(units(back), text);
                CFRelease(back);
                CFRelease(s);
            }
        }
    }
    // A character the encoding lacks stops the conversion exactly there.
    for (int pos = 0; pos < 40; ++pos) {
        std::u16string text(40, u'x');
        text[size_t(pos)] = u'\u4E2D';
        CFStringRef s = make(text);
        UInt8 buf[64];
        CFIndex used = -1;
        EXPECT_EQ(CFStringGetBytes(s, CFRangeMake(0, 40), kCFStringEncodingMacRoman, 0, false, buf,
                                   sizeof buf, &used),
                  pos)
            << pos;
        EXPECT_EQ(used, pos);
        CFRelease(s);
    }
}

// Edits of every size at every position of strings up to a few dozen units, so that the units
// behind the edit move by short and long distances in both directions, and copies and reads
// of every short length: each result matches the same edit on a plain string, and a read
// writes exactly its range.
TEST(CFString, EditsOfEverySizeAtEveryPosition) {
    for (int len = 0; len <= 40; ++len) {
        std::u16string base;
        for (int i = 0; i < len; ++i)
            base += char16_t(u'a' + i % 26);
        for (int at = 0; at <= len; ++at) {
            for (int cut : {0, 1, 3, 9, 20}) {
                if (at + cut > len)
                    continue;
                for (int add : {0, 1, 2, 5, 17}) {
                    std::u16string piece(size_t(add), u'#');
                    std::u16string expected = base;
                    expected.replace(size_t(at), size_t(cut), piece);
                    CFMutableStringRef m = CFStringCreateMutable(nullptr, 0);
                    CFStringAppendCharacters(m, base.data(), len);
                    CFStringRef p = make(piece);
                    CFStringReplace(m, CFRangeMake(at, cut), p);
                    EXPECT_EQ(units(m), expected)
                        << "length " << len << " at " << at << " cut " << cut << " add " << add;
                    CFRelease(p);
                    CFRelease(m);
                }
            }
        }
        CFStringRef s = make(base);
        EXPECT_EQ(units(s), base);
        for (int from = 0; from <= len; ++from) {
            std::u16string out(size_t(len) + 2, u'~');
            CFStringGetCharacters(s, CFRangeMake(from, len - from), out.data() + 1);
            EXPECT_EQ(out,
                      u"~" + base.substr(size_t(from)) + std::u16string(size_t(from) + 1, u'~'))
                << "length " << len << " from " << from;
        }
        CFRelease(s);
    }
    // Appends in pieces of every size from 1 to 9 past the room a new mutable string starts
    // with, some of them taken from the string's own units.
    for (int step = 1; step <= 9; ++step) {
        CFMutableStringRef m = CFStringCreateMutable(nullptr, 0);
        std::u16string expected;
        for (int round = 0; expected.size() < 120; ++round) {
            std::u16string piece;
            for (int i = 0; i < step; ++i)
                piece += char16_t(u'A' + (round + i) % 26);
            CFStringAppendCharacters(m, piece.data(), step);
            expected += piece;
            if (round % 4 == 3) { // a piece of its own text
                const UniChar* own = CFStringGetCharactersPtr(m);
                CFStringAppendCharacters(m, own + 1, step);
                expected += expected.substr(1, size_t(step));
            }
            ASSERT_EQ(units(m), expected) << "step " << step << " round " << round;
        }
        CFRelease(m);
    }
}
