// Path text between UTF-16 and bytes: every byte string survives the trip to
// units and back, and the ASCII fast path hands over to the general one at the
// first other unit or byte.
#include "platform/PathBytes.h"

#include <gtest/gtest.h>

#include <random>

using namespace orvik::pathbytes;

namespace {

TEST(PathBytes, TableOfUnitsAndBytes) {
    struct Row {
        std::u16string units;
        std::string bytes;
        bool utf8;
    } rows[] = {
        {u"", "", true},
        {u"/tmp/plain", "/tmp/plain", true},
        {u"/tmp/caf\u00E9", "/tmp/caf\xC3\xA9", true},
        {u"\u00E9/after", "\xC3\xA9/after", true}, // the first unit is not ASCII
        {u"/x/\u20AC\U0001F600", "/x/\xE2\x82\xAC\xF0\x9F\x98\x80", true},
        {u"/bad/\xDC80\xDCFF", "/bad/\x80\xFF", false}, // escaped bytes
        {u"\U00010080", "\xF0\x90\x82\x80", true}, // a pair whose low half is in the escape range
    };
    for (const Row& row : rows) {
        std::string bytes = "stale";
        ASSERT_TRUE(EncodePathBytes(row.units.data(), row.units.size(), bytes));
        EXPECT_EQ(bytes, row.bytes) << "row " << &row - rows;
        std::u16string units = u"stale";
        DecodePathBytes(row.bytes, units);
        EXPECT_EQ(units, row.units) << "row " << &row - rows;
        EXPECT_EQ(IsValidUtf8(row.bytes.data(), row.bytes.size()), row.utf8)
            << "row " << &row - rows;
    }
    // A lone surrogate no byte stands for; after ASCII and after other text.
    std::string bytes;
    for (std::u16string bad : {u"/a/\xD800", u"\xDBFF", u"/\u00E9\xDC00x", u"ab\xDFFF"})
        EXPECT_FALSE(EncodePathBytes(bad.data(), bad.size(), bytes)) << bad.size();
    // Overlong forms, encoded surrogates and values past U+10FFFF are bytes.
    std::u16string units;
    DecodePathBytes("\xC0\xAF\xED\xA0\x80\xF4\x90\x80\x80", units);
    EXPECT_EQ(units, u"\xDCC0\xDCAF\xDCED\xDCA0\xDC80\xDCF4\xDC90\xDC80\xDC80");
}

TEST(PathBytes, EveryByteStringComesBackUnchanged) {
    std::mt19937 random(7);
    for (int round = 0; round < 20000; ++round) {
        std::string bytes(random() % 12, '\0');
        for (char& b : bytes) // mostly bytes around the UTF-8 boundaries
            b = char(random() % 3 == 0 ? 'a' + random() % 3 : 0x7E + random() % 0x82);
        std::u16string units;
        DecodePathBytes(bytes, units);
        ASSERT_LE(units.size(), bytes.size());
        std::string back;
        ASSERT_TRUE(EncodePathBytes(units.data(), units.size(), back));
        ASSERT_EQ(back, bytes) << "round " << round;
    }
}

} // namespace
