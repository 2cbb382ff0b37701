// The number at the start of a string: spaces, signs, saturation at the 32-bit limits, and
// what ends a number.
#include "tests/platform/CFTestSupport.h"

#include <gtest/gtest.h>

#include <tuple>

using namespace cftest;

namespace {

TEST(CFStringNumbers, IntAndDoubleValues) {
    const std::tuple<std::u16string, SInt32, double> rows[] = {
        {u" \t\r\u00A0-12ab", -12, -12.0},
        {u"3.5e2x", 3, 350.0},
        {u"2.5E-1", 2, 0.25},
        {u"1e+", 1, 1.0}, // an exponent without digits is no exponent
        {u".5", 0, 0.5},
        {u"2147483648", INT32_MAX, 2147483648.0},
        {u"-2147483649", INT32_MIN, -2147483649.0},
    };
    for (const auto& [text, i, d] : rows) {
        Str s(Make(text));
        EXPECT_EQ(CFStringGetIntValue(s.get()), i) << testing::PrintToString(text);
        EXPECT_EQ(CFStringGetDoubleValue(s.get()), d) << testing::PrintToString(text);
    }
    EXPECT_EQ(CFStringGetIntValue(nullptr), 0);
}

} // namespace
