// Numbers, booleans, data and dates: conversions that report loss, comparison across
// integer and floating point, and data edits from their own bytes.
#include "tests/platform/CFTestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

using namespace cftest;

namespace {

CFNumberRef Int(SInt64 v) {
    return CFNumberCreate(nullptr, kCFNumberSInt64Type, &v);
}
CFNumberRef Real(double v) {
    return CFNumberCreate(nullptr, kCFNumberFloat64Type, &v);
}

TEST(CFValues, NumberConversionsReportLoss) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    struct Row {
        bool isFloat;
        long double in; // exact for every integer stored
        CFNumberType type;
        bool ok;
        double out; // what is written, read in the type's own width
    } rows[] = {
        {false, 127, kCFNumberSInt8Type, true, 127},
        {false, 128, kCFNumberCharType, false, -128},
        {false, 32767, kCFNumberSInt16Type, true, 32767},
        {false, -32769, kCFNumberShortType, false, 32767},
        {false, 2147483648.0, kCFNumberIntType, false, -2147483648.0},
        {false, -7, kCFNumberSInt64Type, true, -7},
        {false, 3, kCFNumberFloat64Type, true, 3},
        {false, 9007199254740993.0L, kCFNumberDoubleType, false, 9007199254740992.0},
        {false, 16777217, kCFNumberFloat32Type, false, 16777216},
        {true, 2.5, kCFNumberIntType, false, 2},
        {true, 127, kCFNumberSInt8Type, true, 127},
        {true, 128, kCFNumberSInt8Type, false, 127},
        {true, -129, kCFNumberSInt8Type, false, -128},
        {true, -32768, kCFNumberSInt16Type, true, -32768},
        {true, nan, kCFNumberSInt32Type, false, 0},
        {true, 1e30, kCFNumberSInt64Type, false, 9223372036854775807.0},
        {true, 0.5, kCFNumberFloat32Type, true, 0.5},
        {true, 0.1, kCFNumberFloatType, false, double(0.1f)},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << "row " << &row - rows);
        CFRef<CFNumberRef> n(row.isFloat ? Real(double(row.in)) : Int(SInt64(row.in)));
        EXPECT_EQ(bool(CFNumberIsFloatType(n.get())), row.isFloat);
        EXPECT_EQ(CFNumberGetType(n.get()),
                  row.isFloat ? kCFNumberFloat64Type : kCFNumberSInt64Type);
        unsigned char out[8];
        std::memset(out, 0xAA, sizeof out);
        EXPECT_EQ(bool(CFNumberGetValue(n.get(), row.type, out)), row.ok);
        double got = 0;
        int size = 8;
        switch (row.type) {
        case kCFNumberSInt8Type:
        case kCFNumberCharType:
            got = *reinterpret_cast<SInt8*>(out), size = 1;
            break;
        case kCFNumberSInt16Type:
        case kCFNumberShortType:
            got = *reinterpret_cast<SInt16*>(out), size = 2;
            break;
        case kCFNumberIntType:
        case kCFNumberSInt32Type:
            got = *reinterpret_cast<SInt32*>(out), size = 4;
            break;
        case kCFNumberFloat32Type:
        case kCFNumberFloatType:
            got = *reinterpret_cast<float*>(out), size = 4;
            break;
        case kCFNumberSInt64Type:
            got = double(*reinterpret_cast<SInt64*>(out));
            break;
        default:
            std::memcpy(&got, out, 8);
        }
        EXPECT_EQ(got, row.out);
        for (int i = size; i < 8; ++i) {
            EXPECT_EQ(out[i], 0xAA) << "byte " << i << " written";
        }
    }
    SInt64 v = 1;
    EXPECT_EQ(CFNumberCreate(nullptr, 99, &v), nullptr);
    EXPECT_EQ(CFNumberCreate(nullptr, 0, &v), nullptr);
    EXPECT_EQ(CFNumberCreate(nullptr, kCFNumberSInt64Type, nullptr), nullptr);
    CFRef<CFNumberRef> one(Int(1));
    EXPECT_FALSE(CFNumberGetValue(one.get(), 99, &v));
    EXPECT_FALSE(CFNumberGetValue(one.get(), 0, &v));
    EXPECT_EQ(v, 1);
    EXPECT_EQ(CFNumberGetByteSize(one.get()), 8);
    EXPECT_EQ(CFNumberGetByteSize(nullptr), 0);
}

TEST(CFValues, NumbersCompareAcrossKinds) {
    struct Row {
        CFNumberRef a, b;
        CFComparisonResult order;
    } rows[] = {
        {Int(-7), Int(2), kCFCompareLessThan},   {Int(2), Int(2), kCFCompareEqualTo},
        {Int(3), Int(2), kCFCompareGreaterThan}, {Int(2), Real(2.5), kCFCompareLessThan},
        {Real(2.0), Int(2), kCFCompareEqualTo},  {Real(-0.5), Real(-1), kCFCompareGreaterThan},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(CFNumberCompare(row.a, row.b, nullptr), row.order) << "row " << &row - rows;
        EXPECT_EQ(bool(CFEqual(row.a, row.b)), row.order == kCFCompareEqualTo);
        if (row.order == kCFCompareEqualTo) {
            EXPECT_EQ(CFHash(row.a), CFHash(row.b));
        }
        CFRelease(row.a);
        CFRelease(row.b);
    }
    EXPECT_EQ(Take(CFCopyDescription(CFRef<CFNumberRef>(Int(-12)).get())), u"-12");
}

} // namespace
