// Text encodings: bytes to strings and units to bytes in every kind of encoding, byte-order
// marks, loss bytes, whole characters only, and what the encodings report of themselves.
#include "tests/platform/CFTestSupport.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace cftest;

namespace {

std::string Bytes(CFStringRef s, CFStringEncoding enc, UInt8 loss = 0, bool external = false,
                  CFIndex room = 64, CFIndex* done = nullptr) {
    UInt8 buffer[64];
    CFIndex used = -1;
    const CFIndex n = CFStringGetBytes(s, CFRangeMake(0, CFStringGetLength(s)), enc, loss, external,
                                       buffer, room, &used);
    if (done != nullptr)
        *done = n;
    return std::string(reinterpret_cast<char*>(buffer), size_t(used));
}

TEST(CFEncoding, BytesDecodeAndEncodeBackPerEncoding) {
    struct Row {
        const char* bytes;
        CFStringEncoding enc;
        std::u16string expect; // u"<none>": decoding fails
    } rows[] = {
        {"caf\xC3\xA9", kCFStringEncodingUTF8, u"caf\u00E9"},
        {"\xF0\x9F\x98\x80", kCFStringEncodingUTF8, u"\U0001F600"},
        {"caf\xC3", kCFStringEncodingUTF8, u"<none>"},
        {"\xED\xA0\x80", kCFStringEncodingUTF8, u"<none>"},
        {"caf\xE9", kCFStringEncodingISOLatin1, u"caf\u00E9"},
        {"\x80\xFF", kCFStringEncodingISOLatin1, u"\u0080\u00FF"},
        {"caf\x8E", kCFStringEncodingMacRoman, u"caf\u00E9"},
        {"\xA5\xDB", kCFStringEncodingMacRoman, u"\u2022\u20AC"},
        {"ab\x7F", kCFStringEncodingASCII, u"ab\u007F"},
        {"ab\x80", kCFStringEncodingASCII, u"<none>"},
        {"\x80", kCFStringEncodingWindowsLatin1, u"\u20AC"},
        {"a\xD2", kCFStringEncodingWindowsGreek, u"<none>"}, // a byte the code page lacks
        {"\xC0", kCFStringEncodingWindowsCyrillic, u"\u0410"},
        {"\x82\xA0", kCFStringEncodingDOSJapanese, u"\u3042"},
        {"\x82", kCFStringEncodingDOSJapanese, u"<none>"}, // a lead byte alone
        {"", kCFStringEncodingUTF8, u""},
        {"x", 0x7777, u"<none>"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << testing::PrintToString(row.bytes) << " in " << row.enc);
        Str s(CFStringCreateWithCString(nullptr, row.bytes, row.enc));
        EXPECT_EQ(Units(s.get()), row.expect);
        if (s) {
            EXPECT_EQ(Bytes(s.get(), row.enc), row.bytes);
        }
    }
    EXPECT_EQ(CFStringCreateWithCString(nullptr, nullptr, kCFStringEncodingUTF8), nullptr);
    EXPECT_EQ(CFStringCreateWithBytes(nullptr, nullptr, 2, kCFStringEncodingUTF8, false), nullptr);
}

// A byte-order mark decides the order of unmarked UTF-16 and UTF-32 and is dropped; the
// BE and LE forms keep it as a character. Without one, external data is big-endian and
// other data in the host's order.
TEST(CFEncoding, ByteOrderMarksOfUnicodeInput) {
    if (__BYTE_ORDER__ != __ORDER_LITTLE_ENDIAN__)
        GTEST_SKIP() << "rows written for a little-endian host";
    struct Row {
        std::string bytes;
        CFStringEncoding enc;
        bool external;
        std::u16string expect;
    } rows[] = {
        {{"\xFE\xFF\0A", 4}, kCFStringEncodingUTF16, false, u"A"},
        {{"\xFF\xFE"
          "A\0",
          4},
         kCFStringEncodingUTF16,
         true,
         u"A"},
        {{"\0A", 2}, kCFStringEncodingUTF16, true, u"A"},
        {{"\0A", 2}, kCFStringEncodingUTF16, false, u"\u4100"},
        {{"\xFE\xFF", 2}, kCFStringEncodingUTF16, false, u""},
        {{"\xFE\xFF\xFE\xFF", 4}, kCFStringEncodingUTF16, false, u"\uFEFF"},
        {{"\xFE"
          "A\0B",
          4},
         kCFStringEncodingUTF16,
         true,
         u"\uFE41B"},
        {{"A\xFF\0B", 4}, kCFStringEncodingUTF16, true, u"\u41FFB"},
        {{"\xFF"
          "A\0B",
          4},
         kCFStringEncodingUTF16,
         true,
         u"\uFF41B"},
        {{"A\xFE\0B", 4}, kCFStringEncodingUTF16, true, u"\u41FEB"},
        {{"\xFF\xFE"
          "A",
          3},
         kCFStringEncodingUTF16,
         false,
         u"<none>"},
        {{"\xFE", 1}, kCFStringEncodingUTF16, false, u"<none>"},
        {{"\xFE\xFF\0A", 4}, kCFStringEncodingUTF16BE, false, u"\uFEFFA"},
        {{"\xFF\xFE"
          "A\0",
          4},
         kCFStringEncodingUTF16LE,
         true,
         u"\uFEFFA"},
        {{"\xFE\xFF", 2}, kCFStringEncodingUTF16LE, false, u"\uFFFE"},
        {{"\0\0\xFE\xFF\0\0\0A", 8}, kCFStringEncodingUTF32, false, u"A"},
        {{"\xFF\xFE\0\0"
          "A\0\0\0",
          8},
         kCFStringEncodingUTF32,
         true,
         u"A"},
        {{"\0\0\0A", 4}, kCFStringEncodingUTF32, true, u"A"},
        {{"\0\0\0A", 4}, kCFStringEncodingUTF32, false, u"<none>"}, // 0x41000000
        {{"\0\1\xFE\xFF", 4}, kCFStringEncodingUTF32, true, u"\U0001FEFF"},
        {{"\0\0\xFD\xFF", 4}, kCFStringEncodingUTF32, true, u"\uFDFF"},
        {{"\0\0\xFE\xFE", 4}, kCFStringEncodingUTF32, true, u"\uFEFE"},
        {{"\1\0\xFE\xFF", 4}, kCFStringEncodingUTF32, true, u"<none>"},
        {{"\xFE\xFE\0\0", 4}, kCFStringEncodingUTF32, false, u"\uFEFE"},
        {{"\xFF\xFF\0\0", 4}, kCFStringEncodingUTF32, false, u"\uFFFF"},
        {{"\xFF\xFE\1\0", 4}, kCFStringEncodingUTF32, false, u"\U0001FEFF"},
        {{"\xFF\xFE\0\1", 4}, kCFStringEncodingUTF32, false, u"<none>"},
        {{"\0\0\xFE\xFF\0\0\0A", 8}, kCFStringEncodingUTF32BE, false, u"\uFEFFA"},
        {{"\xFF\xFE\0\0"
          "A\0\0\0",
          8},
         kCFStringEncodingUTF32LE,
         false,
         u"\uFEFFA"},
        {{"\0\0\xFE\xFF\0", 5}, kCFStringEncodingUTF32, false, u"<none>"},
        {{"\0\x11\0\0", 4}, kCFStringEncodingUTF32BE, false, u"<none>"}, // past U+10FFFF
        {{"\0\xD8\0\0", 4}, kCFStringEncodingUTF32LE, false, u"<none>"}, // a surrogate
        {{"\xEF\xBB\xBF"
          "A",
          4},
         kCFStringEncodingUTF8,
         true,
         u"A"},
        {{"\xEF\xBB\xBF"
          "A",
          4},
         kCFStringEncodingUTF8,
         false,
         u"\uFEFFA"},
        {{"\xEF\xBB\xBF", 3}, kCFStringEncodingUTF8, true, u""},
    };
    for (const Row& row : rows) {
        Str s(CFStringCreateWithBytes(nullptr, reinterpret_cast<const UInt8*>(row.bytes.data()),
                                      CFIndex(row.bytes.size()), row.enc, row.external));
        EXPECT_EQ(Units(s.get()), row.expect) << "row " << &row - rows;
    }
    // Written out, external data in the unmarked forms leads with a mark in host order.
    Str a(Make(u"A\U0001F600"));
    EXPECT_EQ(Bytes(a.get(), kCFStringEncodingUTF16, 0, true), std::string("\xFF\xFE"
                                                                           "A\0\x3D\xD8\0\xDE",
                                                                           8));
    EXPECT_EQ(Bytes(a.get(), kCFStringEncodingUTF16, 0, false),
              std::string("A\0\x3D\xD8\0\xDE", 6));
    EXPECT_EQ(Bytes(a.get(), kCFStringEncodingUTF16BE, 0, true),
              std::string("\0A\xD8\x3D\xDE\0", 6));
    EXPECT_EQ(Bytes(a.get(), kCFStringEncodingUTF32, 0, true), std::string("\xFF\xFE\0\0"
                                                                           "A\0\0\0\0\xF6\1\0",
                                                                           12));
    EXPECT_EQ(Bytes(a.get(), kCFStringEncodingUTF32BE, 0, true),
              std::string("\0\0\0A\0\1\xF6\0", 8));
    CFIndex done = -1;
    EXPECT_EQ(Bytes(a.get(), kCFStringEncodingUTF32LE, 0, false, 7, &done),
              std::string("A\0\0\0", 4));
    EXPECT_EQ(done, 1);
    EXPECT_EQ(Bytes(a.get(), kCFStringEncodingUTF16, 0, true, 1, &done),
              ""); // no room for the mark
    EXPECT_EQ(done, 0);
}

TEST(CFEncoding, LossBytesStopsAndWholeCharacters) {
    Str s(Make(u"a\u00E9\u4E2Db"));
    CFIndex done = -1;
    EXPECT_EQ(Bytes(s.get(), kCFStringEncodingISOLatin1, '?', false, 64, &done), "a\xE9?b");
    EXPECT_EQ(done, 4);
    EXPECT_EQ(Bytes(s.get(), kCFStringEncodingISOLatin1, 0, false, 64, &done), "a\xE9");
    EXPECT_EQ(done, 2);
    EXPECT_EQ(Bytes(s.get(), kCFStringEncodingASCII, '?', false, 64, &done), "a??b");
    // Four bytes of room hold "a" and "é" but not the three bytes of U+4E2D.
    EXPECT_EQ(Bytes(s.get(), kCFStringEncodingUTF8, 0, false, 4, &done), "a\xC3\xA9");
    EXPECT_EQ(done, 2);
    EXPECT_EQ(Bytes(s.get(), kCFStringEncodingUTF8, 0, false, 6, &done), "a\xC3\xA9\xE4\xB8\xAD");
    EXPECT_EQ(done, 3);
    CFIndex used = -1;
    EXPECT_EQ(CFStringGetBytes(s.get(), CFRangeMake(1, 2), kCFStringEncodingUTF8, 0, false, nullptr,
                               0, &used),
              2);
    EXPECT_EQ(used, 5); // counting only
    // A lone surrogate: no UTF-8 or UTF-32 for it, UTF-16 passes it through; a pair is one
    // character, one loss byte.
    Str lone(Make(u"x\xD800\U0001F600"));
    EXPECT_EQ(Bytes(lone.get(), kCFStringEncodingUTF8, '?'), "x?\xF0\x9F\x98\x80");
    EXPECT_EQ(Bytes(lone.get(), kCFStringEncodingUTF16BE),
              std::string("\0x\xD8\0\xD8\x3D\xDE\0", 8));
    EXPECT_EQ(Bytes(lone.get(), kCFStringEncodingUTF32BE, 0, false, 64, &done),
              std::string("\0\0\0x", 4));
    EXPECT_EQ(done, 1);
    EXPECT_EQ(Bytes(lone.get(), kCFStringEncodingWindowsLatin1, '?'), "x??");
    EXPECT_EQ(Bytes(lone.get(), kCFStringEncodingShiftJIS, '?'), "x??");
    EXPECT_EQ(Bytes(lone.get(), 0x7777, '?'), "");
}

// Runs of ASCII of every length up to a few blocks, with one other character at every
// position (or none): the bytes written, counted and needed, and the way back, agree with a
// unit-by-unit reference, and nothing is written past the terminator.
TEST(CFEncoding, AsciiRunsAroundOneOtherCharacterInEveryPosition) {
    struct Enc {
        CFStringEncoding enc;
        const char* eAcute;
    } encodings[] = {{kCFStringEncodingMacRoman, "\x8E"},
                     {kCFStringEncodingUTF8, "\xC3\xA9"},
                     {kCFStringEncodingISOLatin1, "\xE9"}};
    for (const Enc& e : encodings) {
        for (int len = 0; len <= 40; ++len) {
            for (int pos = -1; pos < len; ++pos) {
                std::u16string text;
                std::string expected;
                for (int i = 0; i < len; ++i) {
                    text += i == pos ? u'\u00E9' : char16_t('a' + i % 26);
                    expected += i == pos ? e.eAcute : std::string(1, char('a' + i % 26));
                }
                SCOPED_TRACE(testing::Message()
                             << "encoding " << e.enc << " length " << len << " other at " << pos);
                Str s(Make(text));
                char buf[128];
                std::memset(buf, '#', sizeof buf);
                ASSERT_TRUE(CFStringGetCString(s.get(), buf, CFIndex(expected.size() + 1), e.enc));
                EXPECT_EQ(std::string(buf), expected);
                EXPECT_EQ(buf[expected.size() + 1], '#');
                EXPECT_FALSE(CFStringGetCString(s.get(), buf, CFIndex(expected.size()), e.enc));
                CFIndex used = -1;
                EXPECT_EQ(CFStringGetBytes(s.get(), CFRangeMake(0, len), e.enc, 0, false, nullptr,
                                           0, &used),
                          len);
                EXPECT_EQ(used, CFIndex(expected.size()));
                EXPECT_EQ(Take(CFStringCreateWithBytes(
                              nullptr, reinterpret_cast<const UInt8*>(expected.data()),
                              CFIndex(expected.size()), e.enc, false)),
                          text);
            }
        }
    }
    // A character the encoding lacks stops the conversion exactly there.
    for (int pos = 0; pos < 40; ++pos) {
        std::u16string text(40, u'x');
        text[size_t(pos)] = u'\u4E2D';
        CFIndex done = -1;
        EXPECT_EQ(Bytes(Str(Make(text)).get(), kCFStringEncodingMacRoman, 0, false, 64, &done),
                  std::string(size_t(pos), 'x'));
        EXPECT_EQ(done, pos);
    }
}

TEST(CFEncoding, WhatEachEncodingReports) {
    struct Row {
        CFStringEncoding enc;
        bool available;
        CFIndex maxFor10;
        UInt32 codepage;
        const char* iana;
    } rows[] = {
        {kCFStringEncodingUTF8, true, 30, 65001, "UTF-8"},
        {kCFStringEncodingUTF16, true, 20, 0, "UTF-16"},
        {kCFStringEncodingUTF32BE, true, 40, 12001, "UTF-32BE"},
        {kCFStringEncodingMacRoman, true, 10, 10000, "macintosh"},
        {kCFStringEncodingISOLatin1, true, 10, 28591, "ISO-8859-1"},
        {kCFStringEncodingASCII, true, 10, 20127, "US-ASCII"},
        {kCFStringEncodingWindowsLatin1, true, 10, 1252, "windows-1252"},
        {kCFStringEncodingShiftJIS, true, 28, 0, "Shift_JIS"},
        {kCFStringEncodingDOSChineseSimplif, true, 28, 936, "GBK"},
        {0x7777, false, kCFNotFound, kCFStringEncodingInvalidId, "<none>"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.enc);
        EXPECT_EQ(bool(CFStringIsEncodingAvailable(row.enc)), row.available);
        EXPECT_EQ(CFStringGetMaximumSizeForEncoding(10, row.enc), row.maxFor10);
        EXPECT_EQ(CFStringConvertEncodingToWindowsCodepage(row.enc),
                  row.codepage != 0 ? row.codepage : kCFStringEncodingInvalidId);
        if (row.codepage != 0 && row.available) {
            EXPECT_EQ(CFStringConvertWindowsCodepageToEncoding(row.codepage), row.enc);
        }
        EXPECT_EQ(Utf8(CFStringConvertEncodingToIANACharSetName(row.enc)), row.iana);
    }
    EXPECT_EQ(CFStringConvertWindowsCodepageToEncoding(0), kCFStringEncodingInvalidId);
    EXPECT_EQ(CFStringConvertWindowsCodepageToEncoding(12345), kCFStringEncodingInvalidId);
    EXPECT_EQ(CFStringGetSystemEncoding(), kCFStringEncodingUTF8);
}

} // namespace
