// The UTF-8 codec: which sequences are valid (strict reading), what the escaped reading of
// path text makes of the others, that every byte string survives the trip to units and
// back, and that text shown to people never carries a lone surrogate.
#include "platform/cf/Utf8Codec.h"

#include <gtest/gtest.h>

using namespace orvik::utf8;

namespace {

TEST(Utf8Codec, StrictAndEscapedReadingsOfEachSequence) {
    struct Row {
        std::string bytes;
        std::u16string escaped; // also the strict reading when valid
        bool valid;
    } rows[] = {
        {"\xC3\xA9/after", u"\u00E9/after", true}, // the first byte is not ASCII
        {"\xED\x9F\xBF", u"\uD7FF", true},         // the last one before the surrogates
        {"\xF4\x8F\xBF\xBF", u"\U0010FFFF", true},
        {"\xC0\xAF", u"\xDCC0\xDCAF", false}, // overlong forms
        {"\xF0\x8F\xBF\xBF", u"\xDCF0\xDC8F\xDCBF\xDCBF", false},
        {"\xED\xA0\x80", u"\xDCED\xDCA0\xDC80", false},           // an encoded surrogate
        {"\xF4\x90\x80\x80", u"\xDCF4\xDC90\xDC80\xDC80", false}, // past U+10FFFF
        {"\xED\x2F\x80", u"\xDCED/\xDC80", false}, // no continuation byte after 0xED or 0xF4:
        {"\xF4\x2F\x80\x80", u"\xDCF4/\xDC80\xDC80", false}, // the "/" stays one
    };
    for (const Row& row : rows) {
        const auto* p = reinterpret_cast<const unsigned char*>(row.bytes.data());
        const size_t n = row.bytes.size();
        SCOPED_TRACE(testing::Message() << "row " << &row - rows);
        EXPECT_EQ(IsValid(row.bytes.data(), n), row.valid);
        const ptrdiff_t units = DecodeStrict(p, n, nullptr);
        EXPECT_EQ(units, row.valid ? ptrdiff_t(row.escaped.size()) : -1);
        std::u16string decoded = u"stale";
        DecodePath(row.bytes, decoded);
        EXPECT_EQ(decoded, row.escaped);
        std::string encoded = "stale";
        ASSERT_TRUE(EncodePath(decoded.data(), decoded.size(), encoded));
        EXPECT_EQ(encoded, row.bytes);
    }
    const std::u16string units = u"x\xD800\u00E9\xDC80\U0001F600"; // an escaped byte too
    EXPECT_EQ(EncodeForDisplay(units.data(), units.size()),
              "x\xEF\xBF\xBD\xC3\xA9\xEF\xBF\xBD\xF0\x9F\x98\x80");
}

} // namespace
