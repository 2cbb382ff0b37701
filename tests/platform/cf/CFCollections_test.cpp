// Arrays: positions after inserts and removals, what the callbacks see, and the string
// functions that split and join.
#include "tests/platform/CFTestSupport.h"

#include <gtest/gtest.h>

using namespace cftest;

namespace {

int gRetains = 0, gReleases = 0;
const CFArrayCallBacks kCounting = {0, [](CFAllocatorRef, const void* v) { return ++gRetains, v; },
                                    [](CFAllocatorRef, const void*) { ++gReleases; }, nullptr,
                                    nullptr};

std::vector<intptr_t> Values(CFArrayRef a) {
    std::vector<intptr_t> out;
    for (CFIndex i = 0; i < CFArrayGetCount(a); ++i)
        out.push_back(reinterpret_cast<intptr_t>(CFArrayGetValueAtIndex(a, i)));
    return out;
}

TEST(CFArray, EditsAndCallbacks) {
    auto p = [](intptr_t v) { return reinterpret_cast<const void*>(v); };
    CFMutableArrayRef a = CFArrayCreateMutable(nullptr, 0, &kCounting);
    for (intptr_t v = 1; v <= 4; ++v)
        CFArrayAppendValue(a, p(v));
    CFArrayInsertValueAtIndex(a, 0, p(10));
    CFArrayInsertValueAtIndex(a, 5, p(11)); // at the count: appends
    CFArrayInsertValueAtIndex(a, 7, p(12)); // beyond: refused
    EXPECT_EQ(gRetains, 6);
    CFArrayRemoveValueAtIndex(a, 1);
    CFArrayRemoveValueAtIndex(a, 5); // at the count: nothing
    CFArraySetValueAtIndex(a, 0, p(20));
    CFArraySetValueAtIndex(a, 5, p(21)); // at the count: appends
    CFArraySetValueAtIndex(a, 7, p(22)); // beyond: refused
    EXPECT_EQ(gReleases, 2);
    EXPECT_EQ(Values(a), (std::vector<intptr_t>{20, 2, 3, 4, 11, 21}));
    EXPECT_EQ(CFArrayGetFirstIndexOfValue(a, CFRangeMake(0, 4), p(4)), 3);
    EXPECT_EQ(CFArrayGetFirstIndexOfValue(a, CFRangeMake(0, 3), p(4)), kCFNotFound);
    std::vector<intptr_t> applied;
    CFArrayApplyFunction(
        a, CFRangeMake(1, 2),
        [](const void* v, void* seen) {
            static_cast<std::vector<intptr_t>*>(seen)->push_back(reinterpret_cast<intptr_t>(v));
        },
        &applied);
    EXPECT_EQ(applied, (std::vector<intptr_t>{2, 3}));
    CFMutableArrayRef copy = CFArrayCreateMutableCopy(nullptr, 0, a);
    CFArrayAppendArray(copy, copy, CFRangeMake(1, 2));
    EXPECT_EQ(Values(copy), (std::vector<intptr_t>{20, 2, 3, 4, 11, 21, 2, 3}));
    EXPECT_EQ(gRetains, 8 + 8); // the copy retains through the same callbacks
    CFRelease(copy);
    CFRelease(a);
    EXPECT_EQ(gReleases, gRetains);
    CFRef<CFMutableArrayRef> bounded(CFArrayCreateMutable(nullptr, 2, nullptr));
    for (intptr_t v = 1; v <= 3; ++v)
        CFArrayAppendValue(bounded.get(), p(v));
    EXPECT_EQ(Values(bounded.get()), (std::vector<intptr_t>{1, 2}));
    // Empty fields survive a split and a join.
    CFRef<CFArrayRef> parts(
        CFStringCreateArrayBySeparatingStrings(nullptr, CFSTR(",a,,"), CFSTR(",")));
    EXPECT_EQ(TakeUtf8(CFStringCreateByCombiningStrings(nullptr, parts.get(), CFSTR("+"))), "+a++");
}

} // namespace
