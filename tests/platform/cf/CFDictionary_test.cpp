// Dictionaries: value callbacks that copy, the last of equal keys in a fixed dictionary, and
// agreement with std::map under many insertions and removals.
#include "tests/platform/CFTestSupport.h"

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <set>

using namespace cftest;

namespace {

// Values enter as private copies, freed on the way out.
std::set<const void*> gLiveCopies;
const CFDictionaryValueCallBacks kCopies = {
    0,
    [](CFAllocatorRef, const void* v) {
        return *gLiveCopies.insert(new int(*static_cast<const int*>(v))).first;
    },
    [](CFAllocatorRef, const void* v) { gLiveCopies.erase(v), delete static_cast<const int*>(v); },
    nullptr, nullptr};

// A model run over identity keys with copying values.
TEST(CFDictionary, AgreesWithStdMapAndOwnsItsCopies) {
    CFMutableDictionaryRef d = CFDictionaryCreateMutable(nullptr, 0, nullptr, &kCopies);
    std::map<intptr_t, int> model;
    std::mt19937 rng(7);
    for (int i = 0; i < 600; ++i) {
        const intptr_t k = intptr_t(rng() % 40) * 8;
        const int v = int(rng() % 1000), op = int(rng() % 4);
        const void* key = reinterpret_cast<const void*>(k);
        if (op == 0)
            CFDictionaryRemoveValue(d, key), model.erase(k);
        else if (op == 1)
            CFDictionaryAddValue(d, key, &v), model.emplace(k, v); // present: no change
        else if (op == 2 && model.count(k) == 1)
            CFDictionaryReplaceValue(d, key, &v), model[k] = v;
        else if (op == 2)
            CFDictionaryReplaceValue(d, key, &v); // absent: no change
        else
            CFDictionarySetValue(d, key, &v), model[k] = v;
        ASSERT_EQ(CFDictionaryGetCount(d), CFIndex(model.size()));
        ASSERT_EQ(gLiveCopies.size(), model.size());
    }
    for (intptr_t k = 0; k < 40 * 8; k += 8) {
        const void* v = &gLiveCopies; // a sentinel
        const bool present = CFDictionaryGetValueIfPresent(d, reinterpret_cast<const void*>(k), &v);
        EXPECT_EQ(present ? *static_cast<const int*>(v) : -1, model.count(k) ? model[k] : -1) << k;
        EXPECT_EQ(v == &gLiveCopies, !present);
    }
    CFRelease(d);
    EXPECT_TRUE(gLiveCopies.empty());
}

// A fixed dictionary: the last of equal keys wins, and edits are refused.
TEST(CFDictionary, FixedDictionaryKeepsTheLastOfEqualKeys) {
    Str v1(Make(u"/a"));
    const void* keys[] = {CFSTR("a"), CFSTR("b"), CFSTR("a")};
    const void* values[] = {v1.get(), kCFBooleanFalse, kCFNull};
    const CFIndex held = CFGetRetainCount(v1.get());
    CFRef<CFDictionaryRef> fixed(CFDictionaryCreate(nullptr, keys, values, 3,
                                                    &kCFTypeDictionaryKeyCallBacks,
                                                    &kCFTypeDictionaryValueCallBacks));
    CFDictionarySetValue(const_cast<CFMutableDictionaryRef>(fixed.get()), CFSTR("c"), kCFNull);
    EXPECT_EQ(CFDictionaryGetCount(fixed.get()), 2);
    EXPECT_EQ(CFDictionaryGetValue(fixed.get(), CFSTR("a")), kCFNull);
    EXPECT_EQ(CFGetRetainCount(v1.get()), held); // the value replaced is released once
}

} // namespace
