// Dictionaries: identity and value keys, value callbacks that copy, what replaces what, and
// agreement with std::map under many insertions and removals.
#include "tests/platform/CFTestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <random>
#include <set>

using namespace cftest;

namespace {

// The memory-table pattern: values enter as private copies, freed on the way out.
std::set<const void*> gLiveCopies;
const void* CopyRecord(CFAllocatorRef, const void* v) {
    void* p = std::malloc(sizeof(uint32_t));
    std::memcpy(p, v, sizeof(uint32_t));
    gLiveCopies.insert(p);
    return p;
}
void FreeRecord(CFAllocatorRef, const void* v) {
    gLiveCopies.erase(v);
    std::free(const_cast<void*>(v));
}
const CFDictionaryValueCallBacks kRecordValues = {0, CopyRecord, FreeRecord, nullptr, nullptr};

const void* P(intptr_t v) {
    return reinterpret_cast<const void*>(v);
}
uint32_t Record(CFDictionaryRef d, const void* key) {
    auto* v = static_cast<const uint32_t*>(CFDictionaryGetValue(d, key));
    return v != nullptr ? *v : 0;
}

TEST(CFDictionary, IdentityKeysWithCopyingValues) {
    CFMutableDictionaryRef d = CFDictionaryCreateMutable(nullptr, 0, nullptr, &kRecordValues);
    char a[1], b[1], other[1];
    uint32_t value = 16;
    CFDictionaryAddValue(d, a, &value);
    value = 32;
    CFDictionaryAddValue(d, b, &value);
    value = 64;
    CFDictionaryAddValue(d, b, &value);         // present: AddValue changes nothing
    CFDictionaryReplaceValue(d, other, &value); // absent: ReplaceValue changes nothing
    EXPECT_EQ(CFDictionaryGetCount(d), 2);
    EXPECT_EQ(gLiveCopies.size(), 2u);
    EXPECT_EQ(Record(d, a), 16u);
    EXPECT_EQ(Record(d, b), 32u);
    CFDictionaryReplaceValue(d, a, &value);
    EXPECT_EQ(Record(d, a), 64u);
    EXPECT_FALSE(CFDictionaryContainsKey(d, other));
    CFDictionaryRemoveValue(d, a);
    CFDictionaryRemoveValue(d, a); // absent: nothing
    EXPECT_EQ(gLiveCopies.size(), 1u);
    EXPECT_FALSE(CFDictionaryContainsKey(d, a));
    EXPECT_TRUE(CFDictionaryContainsKey(d, b));
    CFRelease(d);
    EXPECT_TRUE(gLiveCopies.empty());
}

TEST(CFDictionary, TypeCallbacksCompareKeysByValue) {
    CFMutableDictionaryRef d = CFDictionaryCreateMutable(nullptr, 0, &kCFTypeDictionaryKeyCallBacks,
                                                         &kCFTypeDictionaryValueCallBacks);
    Str k1(Make(u"Path")), k2(Make(u"Path")), v1(Make(u"/a")), v2(Make(u"/b"));
    CFDictionarySetValue(d, k1.get(), v1.get());
    EXPECT_EQ(CFDictionaryGetValue(d, k2.get()), v1.get()); // an equal key finds it
    CFDictionarySetValue(d, k2.get(), v2.get());            // replaces the value, keeps the key
    CFDictionarySetValue(d, k1.get(), v2.get());            // the same value again survives
    EXPECT_EQ(CFGetRetainCount(v1.get()), 1);
    EXPECT_EQ(CFGetRetainCount(v2.get()), 2);
    const void* key = nullptr;
    const void* value = nullptr;
    CFDictionaryGetKeysAndValues(d, &key, &value);
    EXPECT_EQ(key, k1.get());
    EXPECT_EQ(value, v2.get());
    EXPECT_TRUE(CFDictionaryContainsValue(d, v2.get()));
    EXPECT_FALSE(CFDictionaryContainsValue(d, v1.get()));

    CFRef<CFMutableDictionaryRef> copy(CFDictionaryCreateMutableCopy(nullptr, 0, d));
    EXPECT_TRUE(CFEqual(copy.get(), d));
    CFDictionarySetValue(copy.get(), k1.get(), v1.get());
    EXPECT_FALSE(CFEqual(copy.get(), d));
    CFDictionaryRemoveAllValues(copy.get());
    EXPECT_EQ(CFDictionaryGetCount(copy.get()), 0);
    CFRelease(d);
    EXPECT_EQ(CFGetRetainCount(k1.get()), 1);
    EXPECT_EQ(CFGetRetainCount(v2.get()), 1);

    // Copied string keys are snapshots of a mutable key.
    CFRef<CFMutableDictionaryRef> snap(CFDictionaryCreateMutable(
        nullptr, 0, &kCFCopyStringDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks));
    CFRef<CFMutableStringRef> mutableKey(CFStringCreateMutableCopy(nullptr, 0, CFSTR("k")));
    CFDictionarySetValue(snap.get(), mutableKey.get(), kCFBooleanTrue);
    CFStringAppend(mutableKey.get(), CFSTR("2"));
    EXPECT_EQ(CFDictionaryGetValue(snap.get(), CFSTR("k")), kCFBooleanTrue);
    EXPECT_EQ(CFDictionaryGetValue(snap.get(), mutableKey.get()), nullptr);

    // A fixed dictionary: the last of equal keys wins, and edits are refused.
    const void* keys[] = {CFSTR("a"), CFSTR("b"), CFSTR("a")};
    const void* values[] = {kCFBooleanTrue, kCFBooleanFalse, kCFNull};
    CFRef<CFDictionaryRef> fixed(CFDictionaryCreate(nullptr, keys, values, 3,
                                                    &kCFTypeDictionaryKeyCallBacks,
                                                    &kCFTypeDictionaryValueCallBacks));
    CFDictionarySetValue(const_cast<CFMutableDictionaryRef>(fixed.get()), CFSTR("c"), kCFNull);
    EXPECT_EQ(CFDictionaryGetCount(fixed.get()), 2);
    EXPECT_EQ(CFDictionaryGetValue(fixed.get(), CFSTR("a")), kCFNull);
}

TEST(CFDictionary, AgreesWithStdMap) {
    CFRef<CFMutableDictionaryRef> d(CFDictionaryCreateMutable(nullptr, 0, nullptr, nullptr));
    std::map<intptr_t, intptr_t> model;
    std::mt19937 rng(7);
    for (int i = 0; i < 3000; ++i) {
        const intptr_t k = intptr_t(rng() % 300) * 8, v = intptr_t(rng());
        if (rng() % 3 == 0) {
            CFDictionaryRemoveValue(d.get(), P(k));
            model.erase(k);
        } else {
            CFDictionarySetValue(d.get(), P(k), P(v));
            model[k] = v;
        }
    }
    ASSERT_EQ(CFDictionaryGetCount(d.get()), CFIndex(model.size()));
    for (intptr_t k = 0; k < 300 * 8; k += 8) {
        const void* v = P(-1);
        const bool present = CFDictionaryGetValueIfPresent(d.get(), P(k), &v);
        ASSERT_EQ(present, model.count(k) == 1) << k;
        EXPECT_EQ(v, present ? P(model[k]) : P(-1)) << k;
    }
}

} // namespace
