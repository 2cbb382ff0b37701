#include "platform/TextUtils.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// The sign of the order; 99 when the call fails or says "equivalent" of a nonzero order.
int Compare(UCCollateOptions options, const std::u16string& a, const std::u16string& b) {
    Boolean equivalent = 7;
    SInt32 order = 7;
    const OSStatus status = UCCompareTextDefault(
        options, reinterpret_cast<const UniChar*>(a.data()), a.size(),
        reinterpret_cast<const UniChar*>(b.data()), b.size(), &equivalent, &order);
    return status != noErr || equivalent != (order == 0) ? 99 : (order > 0) - (order < 0);
}

constexpr UCCollateOptions kSensitive = 0x8006;    // compose + width insensitive, punctuation
constexpr UCCollateOptions kNoCase16 = 0x800E;     // ... plus case-insensitive
constexpr UCCollateOptions kNoCaseString = 0x8008; // case-insensitive, punctuation

} // namespace

TEST(TextUtils, OptionsTable) {
    struct Row {
        UCCollateOptions options;
        std::u16string a, b;
        int sign; // expected sign of order
    };
    const Row rows[] = {
        {kSensitive, u"abc", u"ABC", -1}, // lower case first at the tertiary level
        {kNoCase16, u"abc", u"ABC", 0},
        {kNoCaseString, u"\uFF21\uFF22\uFF23", u"abc", 1}, // case alone: width still counts
        {kUCCollateDiacritInsensitiveMask | kUCCollateCaseInsensitiveMask, u"\u00E9", u"E", 0},
        {kSensitive, u"abcdefgh\uFF21", u"abcdefghA", 0}, // found after whole words
        {kSensitive, u"\u2010\u2010x\u2010\uFF41", u"\u2010\u2010x\u2010a", 0},
        {kSensitive, u"a-b", u"ab", -1},               // punctuation significant
        {kUCCollateStandardOptions, u"a-b", u"ab", 0}, // punctuation ignored
        {kSensitive | kUCCollateDigitsAsNumberMask, u"file9", u"file10", -1},
        {kNoCase16, std::u16string(100, u'\u00DF'), std::u16string(200, u'S'), 0}, // long folds
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::Message() << "row " << &r - rows);
        EXPECT_EQ(Compare(r.options, r.a, r.b), r.sign);
        EXPECT_EQ(Compare(r.options, r.b, r.a), -r.sign);
    }
    CollatorRef c = reinterpret_cast<CollatorRef>(0x1);
    EXPECT_EQ(UCCreateCollator(nullptr, 0, 0, nullptr), paramErr);
    EXPECT_EQ(UCCreateCollator(nullptr, 0, 1u << 30, &c), kCollateInvalidOptions);
    EXPECT_EQ(c, nullptr);
}
