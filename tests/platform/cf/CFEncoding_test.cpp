// Text encodings: bytes to strings and units to bytes in every kind of encoding, byte-order
// marks, and stopping at a character the encoding lacks.
#include "tests/platform/CFTestSupport.h"

#include <gtest/gtest.h>

#include <tuple>

using namespace cftest;

namespace {

std::string Bytes(CFStringRef s, CFStringEncoding enc, CFIndex* done = nullptr) {
    UInt8 buffer[64];
    CFIndex used = -1, n = CFStringGetBytes(s, CFRangeMake(0, CFStringGetLength(s)), enc, 0, false,
                                            buffer, sizeof buffer, &used);
    if (done != nullptr)
        *done = n;
    return std::string(reinterpret_cast<char*>(buffer), size_t(used));
}

TEST(CFEncoding, BytesDecodeAndEncodeBackPerEncoding) {
    const std::tuple<const char*, CFStringEncoding, std::u16string> rows[] = {
        {"caf\xC3\xA9", kCFStringEncodingUTF8, u"caf\u00E9"},
        {"caf\xC3", kCFStringEncodingUTF8, u"<none>"},
        {"caf\x8E", kCFStringEncodingMacRoman, u"caf\u00E9"},
        {"ab\x80", kCFStringEncodingASCII, u"<none>"},
        {"\x80", kCFStringEncodingWindowsLatin1, u"\u20AC"},
        {"a\xD2", kCFStringEncodingWindowsGreek, u"<none>"}, // a byte the code page lacks
        {"\x82\xA0", kCFStringEncodingDOSJapanese, u"\u3042"},
        {"\x82", kCFStringEncodingDOSJapanese, u"<none>"}, // a lead byte alone
        {"\x1C", kCFStringEncodingDOSArabic, u"\u007F"},   // its low half is not ASCII
        {"x", 0x7777, u"<none>"},
    };
    for (const auto& [bytes, enc, expect] : rows) {
        Str s(CFStringCreateWithCString(nullptr, bytes, enc));
        EXPECT_EQ(Units(s.get()), expect) << bytes;
        EXPECT_EQ(s ? Bytes(s.get(), enc) : bytes, bytes);
    }
    EXPECT_EQ(CFStringCreateWithCString(nullptr, nullptr, kCFStringEncodingUTF8), nullptr);
}

// A byte-order mark decides the order of unmarked UTF-16 and UTF-32 and is dropped; the
// BE and LE forms keep it as a character. Without one, external data is big-endian and
// other data in the host's order. A near-mark has all but one byte of a mark.
TEST(CFEncoding, ByteOrderMarksOfUnicodeInput) {
    if (__BYTE_ORDER__ != __ORDER_LITTLE_ENDIAN__)
        GTEST_SKIP() << "rows written for a little-endian host";
    const std::tuple<std::string, CFStringEncoding, bool, std::u16string> rows[] = {
        {{"\xFE\xFF\0A", 4}, kCFStringEncodingUTF16, false, u"A"},
        {{"\xFF\xFE\x41\0", 4}, kCFStringEncodingUTF16, true, u"A"},
        {{"\0A", 2}, kCFStringEncodingUTF16, true, u"A"},
        {{"\0A", 2}, kCFStringEncodingUTF16, false, u"\u4100"},
        {{"\xFE\xFF", 2}, kCFStringEncodingUTF16, false, u""},
        {{"\xFE\xFE\0B", 4}, kCFStringEncodingUTF16, true, u"\uFEFEB"},
        {{"\xFF\xFE\x41", 3}, kCFStringEncodingUTF16, false, u"<none>"},
        {{"\xFE\xFF\0A", 4}, kCFStringEncodingUTF16BE, false, u"\uFEFFA"},
        {{"\xFE\xFF", 2}, kCFStringEncodingUTF16LE, false, u"\uFFFE"},
        {{"\0\0\xFE\xFF\0\0\0A", 8}, kCFStringEncodingUTF32, false, u"A"},
        {{"\xFF\xFE\0\0\x41\0\0\0", 8}, kCFStringEncodingUTF32, true, u"A"},
        {{"\0\0\0A", 4}, kCFStringEncodingUTF32, true, u"A"},
        {{"\0\1\xFE\xFF", 4}, kCFStringEncodingUTF32, true, u"\U0001FEFF"},
        {{"\xFE\xFE\0\0", 4}, kCFStringEncodingUTF32, false, u"\uFEFE"},
        {{"\0\0\xFE\xFF\0\0\0A", 8}, kCFStringEncodingUTF32BE, false, u"\uFEFFA"},
        {{"\xFF\xFE\0\0", 4}, kCFStringEncodingUTF32LE, false, u"\uFEFF"},
        {{"\0\0\xFE\xFF\0", 5}, kCFStringEncodingUTF32, false, u"<none>"},
        {{"\0\x11\0\0", 4}, kCFStringEncodingUTF32BE, false, u"<none>"}, // past U+10FFFF
        {{"\0\xD8\0\0", 4}, kCFStringEncodingUTF32LE, false, u"<none>"}, // surrogates
        {{"\xFF\xDF\0\0", 4}, kCFStringEncodingUTF32LE, false, u"<none>"},
        {{"\xEF\xBB\xBF\x41", 4}, kCFStringEncodingUTF8, true, u"A"},
        {{"\xEF\xBB\xBF\x41", 4}, kCFStringEncodingUTF8, false, u"\uFEFFA"},
        {{"\xEF\xBB\xBF", 3}, kCFStringEncodingUTF8, true, u""},
        {"abcd", kCFStringEncodingUTF8, true, u"abcd"},
    };
    for (const auto& [bytes, enc, external, expect] : rows) {
        Str s(CFStringCreateWithBytes(nullptr, reinterpret_cast<const UInt8*>(bytes.data()),
                                      CFIndex(bytes.size()), enc, external));
        EXPECT_EQ(Units(s.get()), expect) << "row " << &bytes - &std::get<0>(rows[0]);
    }
}

} // namespace
