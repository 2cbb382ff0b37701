// Numbers: conversions that report loss and write only their type's width, and comparison
// across integer and floating point; data that refuses what it cannot hold.
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
        {false, 128, kCFNumberCharType, false, -128},
        {false, 2147483648.0, kCFNumberIntType, false, -2147483648.0},
        {false, 9007199254740993.0L, kCFNumberDoubleType, false, 9007199254740992.0},
        {false, 16777217, kCFNumberFloat32Type, false, 16777216},
        {true, 2.5, kCFNumberSInt32Type, false, 2},
        {true, 128, kCFNumberSInt8Type, false, 127},
        {true, std::numeric_limits<double>::quiet_NaN(), kCFNumberSInt32Type, false, 0},
        {true, 1e30, kCFNumberSInt64Type, false, 9223372036854775807.0},
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
    // An integer and a double compare by value: a fraction counts, and equal values hash alike.
    CFRef<CFNumberRef> two(Number(false, 2)), twoAndAHalf(Number(true, 2.5)), twoF(Number(true, 2));
    EXPECT_EQ(CFNumberCompare(two.get(), twoAndAHalf.get(), nullptr), kCFCompareLessThan);
    EXPECT_EQ(CFNumberCompare(twoF.get(), two.get(), nullptr), kCFCompareEqualTo);
    EXPECT_EQ(CFHash(twoF.get()), CFHash(two.get()));
}

TEST(CFValues, DataRefusesMissingBytesAndEditsOfFixedData) {
    auto text = [](CFDataRef d) {
        return std::string(reinterpret_cast<const char*>(CFDataGetBytePtr(d)),
                           size_t(CFDataGetLength(d)));
    };
    const auto* ab = reinterpret_cast<const UInt8*>("ab");
    EXPECT_EQ(CFDataCreate(nullptr, nullptr, 2), nullptr);
    EXPECT_EQ(CFDataCreate(nullptr, ab, -1), nullptr);
    CFRef<CFDataRef> fixed(CFDataCreate(nullptr, ab, 2));
    CFDataAppendBytes(const_cast<CFMutableDataRef>(fixed.get()), ab, 2);
    EXPECT_EQ(text(fixed.get()), "ab");
    CFRef<CFMutableDataRef> grown(CFDataCreateMutableCopy(nullptr, 0, fixed.get()));
    CFDataAppendBytes(grown.get(), nullptr, 2);
    EXPECT_EQ(text(grown.get()), "ab");
}

} // namespace
