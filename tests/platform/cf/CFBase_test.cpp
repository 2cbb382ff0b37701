// The object runtime: registered types, reference counts, equality across types,
// descriptions, null arguments and allocators.
#include "tests/platform/CFTestSupport.h"

#include <gtest/gtest.h>

#include <new>

using namespace cftest;

namespace {

struct Widget {
    CFRuntimeBase base;
    std::string name;
};
int gFinalized = 0;
void FinalizeWidget(CFTypeRef cf) {
    ++gFinalized;
    static_cast<Widget*>(const_cast<void*>(cf))->name.~basic_string();
}
Boolean EqualWidgets(CFTypeRef a, CFTypeRef b) {
    return static_cast<const Widget*>(a)->name == static_cast<const Widget*>(b)->name;
}
const CFRuntimeClass kWidgetClass = {"Widget", FinalizeWidget, EqualWidgets, nullptr, nullptr};

Widget* NewWidget(CFTypeID id, const char* name) {
    auto* w = static_cast<Widget*>(
        const_cast<void*>(_CFRuntimeCreateInstance(nullptr, id, sizeof(Widget))));
    new (&w->name) std::string(name);
    return w;
}

TEST(CFBase, RegisteredTypesRetainReleaseAndCompare) {
    const CFTypeID id = _CFRuntimeRegisterClass(&kWidgetClass);
    ASSERT_NE(id, 0u);
    EXPECT_NE(id, CFStringGetTypeID());
    EXPECT_EQ(_CFRuntimeCreateInstance(nullptr, id, sizeof(CFRuntimeBase) - 1), nullptr);
    EXPECT_EQ(_CFRuntimeCreateInstance(nullptr, 250, 64), nullptr); // unknown type
    Widget* a = NewWidget(id, "same");
    Widget* b = NewWidget(id, "same");
    Widget* c = NewWidget(id, "other");
    EXPECT_EQ(CFGetTypeID(a), id);
    EXPECT_EQ(CFGetRetainCount(a), 1);
    EXPECT_TRUE(CFEqual(a, b));
    EXPECT_FALSE(CFEqual(a, c));
    EXPECT_TRUE(CFEqual(a, a));
    EXPECT_FALSE(CFEqual(a, CFSTR("same"))); // different types are never equal
    EXPECT_EQ(Take(CFCopyTypeIDDescription(id)), u"Widget");
    EXPECT_EQ(Take(CFCopyDescription(a)).substr(0, 8), u"<Widget ");
    gFinalized = 0;
    EXPECT_EQ(CFRetain(a), a);
    EXPECT_EQ(CFGetRetainCount(a), 2);
    CFRelease(a);
    EXPECT_EQ(gFinalized, 0);
    for (Widget* w : {a, b, c})
        CFRelease(w);
    EXPECT_EQ(gFinalized, 3);
}

TEST(CFBase, DescriptionsNullsAndAllocators) {
    int one = 1;
    CFRef<CFNumberRef> n(CFNumberCreate(nullptr, kCFNumberIntType, &one));
    const void* values[] = {CFSTR("a"), n.get()};
    CFRef<CFArrayRef> a(CFArrayCreate(nullptr, values, 2, &kCFTypeArrayCallBacks));
    EXPECT_EQ(Take(CFCopyDescription(a.get())), u"(a, 1)");
    const void* keys[] = {CFSTR("k")};
    CFRef<CFDictionaryRef> d(CFDictionaryCreate(nullptr, keys, values, 1,
                                                &kCFTypeDictionaryKeyCallBacks,
                                                &kCFTypeDictionaryValueCallBacks));
    EXPECT_EQ(Take(CFCopyDescription(d.get())), u"{k = a; }");

    EXPECT_EQ(CFRetain(nullptr), nullptr);
    CFRelease(nullptr);
    EXPECT_EQ(CFGetTypeID(nullptr), 0u);
    EXPECT_EQ(CFHash(nullptr), 0u);
    EXPECT_TRUE(CFEqual(nullptr, nullptr));
    EXPECT_FALSE(CFEqual(nullptr, a.get()));
    EXPECT_EQ(CFCopyDescription(nullptr), nullptr);

    void* p = CFAllocatorAllocate(kCFAllocatorDefault, 16, 0);
    ASSERT_NE(p, nullptr);
    CFAllocatorDeallocate(kCFAllocatorDefault, p);
    EXPECT_EQ(CFAllocatorAllocate(kCFAllocatorNull, 16, 0), nullptr);
    EXPECT_EQ(CFAllocatorAllocate(kCFAllocatorDefault, 0, 0), nullptr);
}

} // namespace
