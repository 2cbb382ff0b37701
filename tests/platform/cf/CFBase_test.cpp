// The object runtime: registered types, reference counts, equality across types, null
// arguments and allocators.
#include "tests/platform/CFTestSupport.h"

#include <gtest/gtest.h>

using namespace cftest;

namespace {

struct Widget {
    CFRuntimeBase base;
    int name;
};
int gFinalized = 0;
const CFRuntimeClass kWidgetClass = {"Widget", [](CFTypeRef) { ++gFinalized; },
                                     [](CFTypeRef a, CFTypeRef b) -> Boolean {
                                         return static_cast<const Widget*>(a)->name ==
                                                static_cast<const Widget*>(b)->name;
                                     },
                                     nullptr, nullptr};

TEST(CFBase, RegisteredTypesRetainReleaseAndCompareAndNulls) {
    const CFTypeID id = _CFRuntimeRegisterClass(&kWidgetClass);
    EXPECT_EQ(_CFRuntimeCreateInstance(nullptr, id, sizeof(CFRuntimeBase) - 1), nullptr);
    Widget* w[3];
    for (int i = 0; i < 3; ++i) {
        w[i] = static_cast<Widget*>(
            const_cast<void*>(_CFRuntimeCreateInstance(nullptr, id, sizeof(Widget))));
        w[i]->name = i / 2;
    }
    EXPECT_TRUE(CFEqual(w[0], w[1]));
    EXPECT_FALSE(CFEqual(w[0], w[2]));
    EXPECT_FALSE(CFEqual(CFSTR("same"), w[0])); // different types are never equal
    EXPECT_EQ(Take(CFCopyTypeIDDescription(id)), u"Widget");
    gFinalized = 0;
    EXPECT_EQ(CFRetain(w[0]), w[0]);
    EXPECT_EQ(CFGetRetainCount(w[0]), 2);
    for (Widget* each : w)
        CFRelease(each);
    EXPECT_EQ(gFinalized, 2);
    CFRelease(w[0]);
    EXPECT_EQ(gFinalized, 3);
    // Null objects, and allocators that give nothing.
    EXPECT_EQ(CFGetTypeID(nullptr), 0u);
    EXPECT_TRUE(CFEqual(nullptr, nullptr));
    EXPECT_FALSE(CFEqual(nullptr, CFSTR("a")));
    EXPECT_EQ(CFAllocatorAllocate(kCFAllocatorNull, 16, 0), nullptr);
    EXPECT_EQ(CFAllocatorAllocate(kCFAllocatorDefault, 0, 0), nullptr);
}

} // namespace
