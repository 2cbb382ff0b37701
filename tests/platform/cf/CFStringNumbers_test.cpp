// The number at the start of a string: spaces, signs, saturation at the 32-bit limits, and
// what ends a number.
#include "tests/platform/CFTestSupport.h"

#include <gtest/gtest.h>

#include <climits>

using namespace cftest;

namespace {

TEST(CFStringNumbers, IntAndDoubleValues) {
    struct Row {
        std::u16string text;
        SInt32 i;
        double d;
    } rows[] = {
        {u"42", 42, 42.0},
        {u" \t\n\v\f\r\u00A0-12ab", -12, -12.0},
        {u"\u000E5", 0, 0.0}, // not a space
        {u"+7", 7, 7.0},
        {u"-", 0, 0.0},
        {u"abc", 0, 0.0},
        {u"", 0, 0.0},
        {u"3.5e2x", 3, 350.0},
        {u"2.5E-1", 2, 0.25},
        {u"1e", 1, 1.0},
        {u"1e+", 1, 1.0},
        {u".5", 0, 0.5},
        {u"5.", 5, 5.0},
        {u".", 0, 0.0},
        {u"-.5e1", 0, -5.0},
        {u"2147483647", INT32_MAX, 2147483647.0},
        {u"2147483648", INT32_MAX, 2147483648.0},
        {u"-2147483648", INT32_MIN, -2147483648.0},
        {u"-2147483649", INT32_MIN, -2147483649.0},
        {u"99999999999", INT32_MAX, 99999999999.0},
        {u"-99999999999", INT32_MIN, -99999999999.0},
    };
    for (const Row& row : rows) {
        Str s(Make(row.text));
        EXPECT_EQ(CFStringGetIntValue(s.get()), row.i) << testing::PrintToString(row.text);
        EXPECT_EQ(CFStringGetDoubleValue(s.get()), row.d) << testing::PrintToString(row.text);
    }
    EXPECT_EQ(CFStringGetIntValue(nullptr), 0);
    EXPECT_EQ(CFStringGetDoubleValue(nullptr), 0.0);
}

} // namespace
