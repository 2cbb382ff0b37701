#include "platform/CoreFoundation.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <random>
#include <set>
#include <string>

namespace {

// Callbacks that count what enters and leaves a container.
int gRetains = 0, gReleases = 0;
const void* countRetain(CFAllocatorRef, const void* v) {
    ++gRetains;
    return v;
}
void countRelease(CFAllocatorRef, const void*) {
    ++gReleases;
}
const CFArrayCallBacks kCountingArray = {0, countRetain, countRelease, nullptr, nullptr};

// The memory-table pattern: values enter as private 12-byte copies and are freed on
// the way out; keys are compared by identity.
struct Record {
    uint32_t size, lockCount, flags;
};
std::set<const void*> gLiveCopies;
const void* copyRecord(CFAllocatorRef, const void* v) {
    void* p = std::malloc(sizeof(Record));
    std::memcpy(p, v, sizeof(Record));
    gLiveCopies.insert(p);
    return p;
}
void freeRecord(CFAllocatorRef, const void* v) {
    gLiveCopies.erase(v);
    std::free(const_cast<void*>(v));
}
const CFDictionaryValueCallBacks kRecordValues = {0, copyRecord, freeRecord, nullptr, nullptr};

std::u16string units(CFStringRef s) {
    std::u16string out(static_cast<size_t>(CFStringGetLength(s)), u'\0');
    CFStringGetCharacters(s, CFRangeMake(0, CFStringGetLength(s)), out.data());
    return out;
}

intptr_t at(CFArrayRef a, CFIndex i) {
    return reinterpret_cast<intptr_t>(CFArrayGetValueAtIndex(a, i));
}
const void* P(intptr_t v) {
    return reinterpret_cast<const void*>(v);
}

} // namespace

TEST(CFArray, InsertRemoveShiftAndCallbacks) {
    gRetains = gReleases = 0;
    CFMutableArrayRef a = CFArrayCreateMutable(nullptr, 0, &kCountingArray);
    for (intptr_t v = 1; v <= 4; ++v)
        CFArrayAppendValue(a, P(v));
    CFArrayInsertValueAtIndex(a, 0, P(10));
    CFArrayInsertValueAtIndex(a, 5, P(11)); // at the count: appends
    CFArrayInsertValueAtIndex(a, 9, P(12)); // beyond: refused
    ASSERT_EQ(CFArrayGetCount(a), 6);
    EXPECT_EQ(gRetains, 6);
    CFArrayRemoveValueAtIndex(a, 1); // removes 1; later elements move down
    EXPECT_EQ(gReleases, 1);
    const intptr_t expect[] = {10, 2, 3, 4, 11};
    for (CFIndex i = 0; i < 5; ++i)
        EXPECT_EQ(at(a, i), expect[i]) << i;
    EXPECT_EQ(CFArrayGetValueAtIndex(a, 5), nullptr);
    EXPECT_EQ(CFArrayGetValueAtIndex(a, -1), nullptr);
    CFArrayRemoveValueAtIndex(a, 5); // outside: nothing
    EXPECT_EQ(CFArrayGetFirstIndexOfValue(a, CFRangeMake(0, 5), P(4)), 3);
    EXPECT_TRUE(CFArrayContainsValue(a, CFRangeMake(0, 5), P(11)));
    EXPECT_FALSE(CFArrayContainsValue(a, CFRangeMake(0, 4), P(11)));
    CFArraySetValueAtIndex(a, 0, P(20));
    EXPECT_EQ(gReleases, 2);
    EXPECT_EQ(at(a, 0), 20);

    CFMutableArrayRef copy = CFArrayCreateMutableCopy(nullptr, 0, a);
    EXPECT_EQ(gRetains, 7 + 5); // the copy retains through the same callbacks
    CFArrayAppendArray(copy, copy, CFRangeMake(0, 2));
    EXPECT_EQ(CFArrayGetCount(copy), 7);
    EXPECT_EQ(at(copy, 6), 2);
    CFRelease(copy);
    CFArrayRemoveAllValues(a);
    EXPECT_EQ(CFArrayGetCount(a), 0);
    CFRelease(a);
    EXPECT_EQ(gRetains, gReleases);
}

TEST(CFArray, TypeCallbacksRetainObjectsAndCopyBorrowedStrings) {
    CFStringRef s = CFStringCreateWithCString(nullptr, "kept", kCFStringEncodingUTF8);
    std::u16string borrowed = u"borrowed";
    CFStringRef b = CFStringCreateWithCharactersNoCopy(
        nullptr, reinterpret_cast<const UniChar*>(borrowed.data()), 8, kCFAllocatorNull);
    const void* values[] = {s, b};
    CFArrayRef a = CFArrayCreate(nullptr, values, 2, &kCFTypeArrayCallBacks);
    EXPECT_EQ(CFGetRetainCount(s), 2);
    EXPECT_EQ(CFArrayGetValueAtIndex(a, 0), s);
    auto stored = static_cast<CFStringRef>(CFArrayGetValueAtIndex(a, 1));
    EXPECT_NE(stored, b);
    CFRelease(b);
    borrowed[0] = u'X'; // the array's copy does not see the caller's change
    EXPECT_EQ(units(stored), u"borrowed");
    // Immutable arrays refuse edits.
    CFArrayAppendValue(const_cast<CFMutableArrayRef>(a), s);
    EXPECT_EQ(CFArrayGetCount(a), 2);
    CFRelease(a);
    EXPECT_EQ(CFGetRetainCount(s), 1);
    CFRelease(s);
}

TEST(CFArray, SortAndCombine) {
    CFMutableArrayRef a = CFArrayCreateMutable(nullptr, 0, &kCFTypeArrayCallBacks);
    for (const char* t : {"pear", "Apple", "fig"}) {
        CFStringRef s = CFStringCreateWithCString(nullptr, t, kCFStringEncodingUTF8);
        CFArrayAppendValue(a, s);
        CFRelease(s);
    }
    CFArraySortValues(
        a, CFRangeMake(0, 3),
        [](const void* x, const void* y, void*) {
            return CFStringCompare(static_cast<CFStringRef>(x), static_cast<CFStringRef>(y), 0);
        },
        nullptr);
    CFStringRef joined = CFStringCreateByCombiningStrings(nullptr, a, CFSTR(", "));
    EXPECT_EQ(units(joined), u"Apple, fig, pear");
    CFArrayRef parts = CFStringCreateArrayBySeparatingStrings(nullptr, joined, CFSTR(", "));
    EXPECT_TRUE(CFEqual(parts, a));
    CFRelease(parts);
    CFRelease(joined);
    CFRelease(a);

    CFArrayRef trailing =
        CFStringCreateArrayBySeparatingStrings(nullptr, CFSTR("a,b,"), CFSTR(","));
    ASSERT_EQ(CFArrayGetCount(trailing), 3);
    EXPECT_EQ(CFStringGetLength(static_cast<CFStringRef>(CFArrayGetValueAtIndex(trailing, 2))), 0);
    CFRelease(trailing);
}

TEST(CFDictionary, IdentityKeysWithCopyingValueCallbacks) {
    CFMutableDictionaryRef d = CFDictionaryCreateMutable(nullptr, 0, nullptr, &kRecordValues);
    char blockA[4], blockB[4];
    Record r{16, 0, 0x40};
    CFDictionaryAddValue(d, blockA, &r);
    r.size = 32;
    CFDictionaryAddValue(d, blockB, &r);
    CFDictionaryAddValue(d, blockB, &r); // present: AddValue changes nothing
    EXPECT_EQ(CFDictionaryGetCount(d), 2);
    EXPECT_EQ(gLiveCopies.size(), 2u);
    auto* got = static_cast<const Record*>(CFDictionaryGetValue(d, blockA));
    ASSERT_NE(got, nullptr);
    EXPECT_NE(static_cast<const void*>(got), static_cast<const void*>(&r)); // the stored copy
    EXPECT_EQ(got->size, 16u);
    EXPECT_EQ(static_cast<const Record*>(CFDictionaryGetValue(d, blockB))->size, 32u);
    // Stored copies can be changed in place (the lock count is).
    const_cast<Record*>(got)->lockCount = 1;
    EXPECT_EQ(static_cast<const Record*>(CFDictionaryGetValue(d, blockA))->lockCount, 1u);
    char other[4];
    EXPECT_EQ(CFDictionaryGetValue(d, other), nullptr);
    EXPECT_FALSE(CFDictionaryContainsKey(d, other));
    CFDictionaryRemoveValue(d, blockA);
    EXPECT_EQ(gLiveCopies.size(), 1u);
    EXPECT_FALSE(CFDictionaryContainsKey(d, blockA));
    CFDictionaryRemoveValue(d, blockA); // absent: nothing
    CFRelease(d);
    EXPECT_TRUE(gLiveCopies.empty());
}

TEST(CFDictionary, TypeCallbacksCompareKeysByValue) {
    CFMutableDictionaryRef d = CFDictionaryCreateMutable(nullptr, 0, &kCFTypeDictionaryKeyCallBacks,
                                                         &kCFTypeDictionaryValueCallBacks);
    CFStringRef k1 = CFStringCreateWithCString(nullptr, "Path", kCFStringEncodingUTF8);
    std::u16string text = u"Path";
    CFStringRef k2 = CFStringCreateWithCharactersNoCopy(
        nullptr, reinterpret_cast<const UniChar*>(text.data()), 4, kCFAllocatorNull);
    CFStringRef v1 = CFStringCreateWithCString(nullptr, "/a", kCFStringEncodingUTF8);
    CFStringRef v2 = CFStringCreateWithCString(nullptr, "/b", kCFStringEncodingUTF8);
    CFDictionarySetValue(d, k1, v1);
    EXPECT_EQ(CFDictionaryGetValue(d, k2), v1); // an equal key finds it
    CFDictionarySetValue(d, k2, v2);            // replaces the value, keeps the key
    EXPECT_EQ(CFDictionaryGetCount(d), 1);
    EXPECT_EQ(CFGetRetainCount(v1), 1);
    EXPECT_EQ(CFGetRetainCount(v2), 2);
    CFDictionarySetValue(d, k1, v2); // the same value again: must survive
    EXPECT_EQ(CFGetRetainCount(v2), 2);
    CFDictionaryReplaceValue(d, v1, v1); // absent key: nothing
    EXPECT_EQ(CFDictionaryGetCount(d), 1);
    const void* keys[1];
    const void* values[1];
    CFDictionaryGetKeysAndValues(d, keys, values);
    EXPECT_EQ(keys[0], k1);
    EXPECT_EQ(values[0], v2);

    CFMutableDictionaryRef copy = CFDictionaryCreateMutableCopy(nullptr, 0, d);
    EXPECT_TRUE(CFEqual(copy, d));
    CFDictionaryRemoveAllValues(copy);
    EXPECT_FALSE(CFEqual(copy, d));
    CFRelease(copy);
    CFRelease(d);
    EXPECT_EQ(CFGetRetainCount(k1), 1);
    EXPECT_EQ(CFGetRetainCount(v2), 1);
    for (CFStringRef s : {k1, k2, v1, v2})
        CFRelease(s);
}

TEST(CFDictionary, CopyStringKeysAreSnapshots) {
    CFMutableDictionaryRef d = CFDictionaryCreateMutable(
        nullptr, 0, &kCFCopyStringDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks);
    CFMutableStringRef key = CFStringCreateMutableCopy(nullptr, 0, CFSTR("k"));
    CFDictionarySetValue(d, key, kCFBooleanTrue);
    CFStringAppend(key, CFSTR("2"));
    EXPECT_EQ(CFDictionaryGetValue(d, CFSTR("k")), kCFBooleanTrue);
    EXPECT_EQ(CFDictionaryGetValue(d, key), nullptr);
    CFRelease(key);
    CFRelease(d);
}

TEST(CFDictionary, ManyInsertionsAndRemovalsAgreeWithStdMap) {
    CFMutableDictionaryRef d = CFDictionaryCreateMutable(nullptr, 0, nullptr, nullptr);
    std::map<intptr_t, intptr_t> ref;
    std::mt19937 rng(7);
    for (int i = 0; i < 20000; ++i) {
        intptr_t k = static_cast<intptr_t>(rng() % 500) * 8;
        intptr_t v = static_cast<intptr_t>(rng());
        if (rng() % 3 == 0) {
            CFDictionaryRemoveValue(d, P(k));
            ref.erase(k);
        } else {
            CFDictionarySetValue(d, P(k), P(v));
            ref[k] = v;
        }
    }
    ASSERT_EQ(CFDictionaryGetCount(d), static_cast<CFIndex>(ref.size()));
    for (intptr_t k = 0; k < 500 * 8; k += 8) {
        const void* v = nullptr;
        bool present = CFDictionaryGetValueIfPresent(d, P(k), &v);
        ASSERT_EQ(present, ref.count(k) == 1) << k;
        if (present) {
            EXPECT_EQ(v, P(ref[k]));
        }
    }
    CFRelease(d);

    const void* keys[] = {CFSTR("a"), CFSTR("b"), CFSTR("a")};
    const void* values[] = {kCFBooleanTrue, kCFBooleanFalse, kCFBooleanFalse};
    CFDictionaryRef fixed = CFDictionaryCreate(
        nullptr, keys, values, 3, &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks);
    EXPECT_EQ(CFDictionaryGetCount(fixed), 2);
    EXPECT_EQ(CFDictionaryGetValue(fixed, CFSTR("a")), kCFBooleanFalse);
    CFDictionarySetValue(const_cast<CFMutableDictionaryRef>(fixed), CFSTR("c"), kCFNull);
    EXPECT_EQ(CFDictionaryGetCount(fixed), 2);
    CFRelease(fixed);
}

TEST(CFValues, NumbersBooleansDataDates) {
    int32_t i = -7;
    double d = 2.5;
    CFNumberRef ni = CFNumberCreate(nullptr, kCFNumberSInt32Type, &i);
    CFNumberRef nd = CFNumberCreate(nullptr, kCFNumberDoubleType, &d);
    int64_t out64 = 0;
    EXPECT_TRUE(CFNumberGetValue(ni, kCFNumberSInt64Type, &out64));
    EXPECT_EQ(out64, -7);
    uint8_t small = 0;
    int64_t big = 300;
    CFNumberRef nb = CFNumberCreate(nullptr, kCFNumberSInt64Type, &big);
    EXPECT_FALSE(CFNumberGetValue(nb, kCFNumberSInt8Type, &small)); // lossy
    int out = 0;
    EXPECT_FALSE(CFNumberGetValue(nd, kCFNumberIntType, &out)); // fraction dropped
    EXPECT_EQ(out, 2);
    EXPECT_TRUE(CFNumberIsFloatType(nd));
    EXPECT_EQ(CFNumberCompare(ni, nd, nullptr), kCFCompareLessThan);
    double two = 2.0;
    int64_t twoI = 2;
    CFNumberRef a = CFNumberCreate(nullptr, kCFNumberFloat64Type, &two);
    CFNumberRef b = CFNumberCreate(nullptr, kCFNumberSInt64Type, &twoI);
    EXPECT_TRUE(CFEqual(a, b));
    EXPECT_EQ(CFHash(a), CFHash(b));
    EXPECT_EQ(CFNumberCreate(nullptr, 99, &i), nullptr);
    for (CFNumberRef n : {ni, nd, nb, a, b})
        CFRelease(n);

    EXPECT_TRUE(CFBooleanGetValue(kCFBooleanTrue));
    EXPECT_FALSE(CFBooleanGetValue(kCFBooleanFalse));
    CFRelease(kCFBooleanTrue); // immortal
    EXPECT_TRUE(CFBooleanGetValue(kCFBooleanTrue));

    const UInt8 bytes[] = {1, 2, 3};
    CFDataRef data = CFDataCreate(nullptr, bytes, 3);
    EXPECT_EQ(CFDataGetLength(data), 3);
    EXPECT_EQ(CFDataGetBytePtr(data)[2], 3);
    CFMutableDataRef md = CFDataCreateMutableCopy(nullptr, 0, data);
    CFDataAppendBytes(md, CFDataGetBytePtr(md), 3); // from its own buffer
    EXPECT_EQ(CFDataGetLength(md), 6);
    EXPECT_EQ(CFDataGetBytePtr(md)[5], 3);
    CFDataSetLength(md, 8);
    EXPECT_EQ(CFDataGetBytePtr(md)[7], 0);
    UInt8 two_bytes[2] = {0xEE, 0xEE};
    CFDataGetBytes(md, CFRangeMake(1, 1), two_bytes);
    EXPECT_EQ(two_bytes[0], 2);
    EXPECT_EQ(two_bytes[1], 0xEE);
    CFRelease(md);
    CFRelease(data);

    CFDateRef date = CFDateCreate(nullptr, 0.0);
    EXPECT_EQ(CFDateGetAbsoluteTime(date), 0.0);
    CFStringRef desc = CFCopyDescription(date);
    EXPECT_EQ(units(desc), u"2001-01-01 00:00:00 +0000");
    CFRelease(desc);
    CFRelease(date);
    EXPECT_GT(CFAbsoluteTimeGetCurrent(), 7e8); // after 2023
}
