// Numbers: conversions that report loss and write only their type's width, and comparison
// across integer and floating point.
#include "tests/platform/CFTestSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <tuple>

using namespace cftest;

namespace {

CFNumberRef Number(bool isFloat, long double v) {
    const SInt64 i = SInt64(v);
    const double d = double(v);
    return isFloat ? CFNumberCreate(nullptr, kCFNumberFloat64Type, &d)
                   : CFNumberCreate(nullptr, kCFNumberSInt64Type, &i);
}

template <class T> std::pair<double, size_t> Read(const unsigned char* out) {
    T v;
    std::memcpy(&v, out, sizeof v);
    return {double(v), sizeof v};
}

TEST(CFValues, NumberConversionsReportLoss) {
    // Stored as an integer or a double; asked for as a type; whether exact; what is written.
    const std::tuple<bool, long double, CFNumberType, bool, double> rows[] = {
        {false, 127, kCFNumberSInt8Type, true, 127},
        {false, 128, kCFNumberCharType, false, -128},
        {false, 2147483648.0, kCFNumberIntType, false, -2147483648.0},
        {false, 9007199254740993.0L, kCFNumberDoubleType, false, 9007199254740992.0},
        {false, 16777217, kCFNumberFloat32Type, false, 16777216},
        {true, 2.5, kCFNumberSInt32Type, false, 2},
        {true, 128, kCFNumberSInt8Type, false, 127},
        {true, -129, kCFNumberSInt8Type, false, -128},
        {true, std::numeric_limits<double>::quiet_NaN(), kCFNumberSInt32Type, false, 0},
        {true, 1e30, kCFNumberSInt64Type, false, 9223372036854775807.0},
        {true, 0.1, kCFNumberFloatType, false, double(0.1f)},
    };
    for (const auto& [isFloat, in, type, ok, expect] : rows) {
        CFRef<CFNumberRef> n(Number(isFloat, in));
        EXPECT_EQ(bool(CFNumberIsFloatType(n.get())), isFloat);
        unsigned char out[8];
        std::memset(out, 0xAA, sizeof out);
        EXPECT_EQ(bool(CFNumberGetValue(n.get(), type, out)), ok) << double(in) << " " << type;
        const auto [got, size] =
            type == kCFNumberSInt8Type || type == kCFNumberCharType   ? Read<SInt8>(out)
            : type == kCFNumberShortType                              ? Read<SInt16>(out)
            : type == kCFNumberIntType || type == kCFNumberSInt32Type ? Read<SInt32>(out)
            : type == kCFNumberSInt64Type                             ? Read<SInt64>(out)
            : type == kCFNumberDoubleType                             ? Read<double>(out)
                                                                      : Read<float>(out);
        EXPECT_EQ(got, expect) << double(in) << " " << type;
        EXPECT_EQ(std::string(reinterpret_cast<char*>(out) + size, 8 - size),
                  std::string(8 - size, '\xAA'));
    }
    SInt64 v = 1;
    EXPECT_EQ(CFNumberCreate(nullptr, 99, &v), nullptr);
    CFRef<CFNumberRef> one(Number(false, 1));
    EXPECT_FALSE(CFNumberGetValue(one.get(), 0, &v));
    EXPECT_EQ(CFNumberGetByteSize(one.get()), 8);
}

TEST(CFValues, NumbersCompareAcrossKinds) {
    const std::tuple<CFNumberRef, CFNumberRef, CFComparisonResult> rows[] = {
        {Number(false, -7), Number(false, 2), kCFCompareLessThan},
        {Number(false, 2), Number(true, 2.5), kCFCompareLessThan},
        {Number(true, 2), Number(false, 2), kCFCompareEqualTo},
        {Number(true, -0.5), Number(true, -1), kCFCompareGreaterThan},
    };
    for (const auto& [a, b, order] : rows) {
        EXPECT_EQ(CFNumberCompare(a, b, nullptr), order);
        EXPECT_EQ(bool(CFEqual(a, b)), order == kCFCompareEqualTo);
        if (order == kCFCompareEqualTo) {
            EXPECT_EQ(CFHash(a), CFHash(b));
        }
        CFRelease(a), CFRelease(b);
    }
    EXPECT_EQ(Take(CFCopyDescription(CFRef<CFNumberRef>(Number(false, -12)).get())), u"-12");
}

} // namespace
