#include "platform/CoreFoundation.h"

#include <gtest/gtest.h>

#include <new>
#include <string>

namespace {

std::u16string take(CFStringRef s) {
    std::u16string out(static_cast<size_t>(CFStringGetLength(s)), u'\0');
    CFStringGetCharacters(s, CFRangeMake(0, CFStringGetLength(s)), out.data());
    CFRelease(s);
    return out;
}

struct Widget {
    CFRuntimeBase base;
    std::string name;
};
int gFinalized = 0;
void finalizeWidget(CFTypeRef cf) {
    ++gFinalized;
    static_cast<Widget*>(const_cast<void*>(cf))->name.~basic_string();
}
Boolean equalWidgets(CFTypeRef a, CFTypeRef b) {
    return static_cast<const Widget*>(a)->name == static_cast<const Widget*>(b)->name;
}
const CFRuntimeClass kWidgetClass = {"Widget", finalizeWidget, equalWidgets, nullptr, nullptr};

Widget* newWidget(CFTypeID id, const char* name) {
    auto* w = static_cast<Widget*>(
        const_cast<void*>(_CFRuntimeCreateInstance(nullptr, id, sizeof(Widget))));
    new (&w->name) std::string(name);
    return w;
}

} // namespace

TEST(CFBase, RegisteredTypesRetainReleaseAndCompare) {
    CFTypeID id = _CFRuntimeRegisterClass(&kWidgetClass);
    ASSERT_NE(id, 0u);
    EXPECT_NE(id, CFStringGetTypeID());
    EXPECT_EQ(_CFRuntimeCreateInstance(nullptr, id, 4), nullptr);   // smaller than the base
    EXPECT_EQ(_CFRuntimeCreateInstance(nullptr, 250, 64), nullptr); // unknown type
    Widget* a = newWidget(id, "same");
    Widget* b = newWidget(id, "same");
    EXPECT_EQ(CFGetTypeID(a), id);
    EXPECT_EQ(CFGetRetainCount(a), 1);
    EXPECT_TRUE(CFEqual(a, b));
    EXPECT_FALSE(CFEqual(a, CFSTR("same"))); // different types are never equal
    EXPECT_EQ(take(CFCopyTypeIDDescription(id)), u"Widget");
    std::u16string desc = take(CFCopyDescription(a));
    EXPECT_EQ(desc.substr(0, 8), u"<Widget ");
    gFinalized = 0;
    CFRetain(a);
    CFRelease(a);
    EXPECT_EQ(gFinalized, 0);
    CFRelease(a);
    CFRelease(b);
    EXPECT_EQ(gFinalized, 2);
}

TEST(CFBase, DescriptionsAndNulls) {
    int one = 1;
    CFNumberRef n = CFNumberCreate(nullptr, kCFNumberIntType, &one);
    const void* values[] = {CFSTR("a"), n};
    CFArrayRef a = CFArrayCreate(nullptr, values, 2, &kCFTypeArrayCallBacks);
    EXPECT_EQ(take(CFCopyDescription(a)), u"(a, 1)");
    const void* keys[] = {CFSTR("k")};
    CFDictionaryRef d = CFDictionaryCreate(nullptr, keys, values, 1, &kCFTypeDictionaryKeyCallBacks,
                                           &kCFTypeDictionaryValueCallBacks);
    EXPECT_EQ(take(CFCopyDescription(d)), u"{k = a; }");
    CFShow(d); // writes to standard error; must not crash
    CFRelease(d);
    CFRelease(a);
    CFRelease(n);

    EXPECT_EQ(CFRetain(nullptr), nullptr);
    CFRelease(nullptr);
    EXPECT_EQ(CFGetTypeID(nullptr), 0u);
    EXPECT_EQ(CFHash(nullptr), 0u);
    EXPECT_TRUE(CFEqual(nullptr, nullptr));
    EXPECT_EQ(CFCopyDescription(nullptr), nullptr);

    void* p = CFAllocatorAllocate(kCFAllocatorDefault, 16, 0);
    ASSERT_NE(p, nullptr);
    CFAllocatorDeallocate(kCFAllocatorDefault, p);
    EXPECT_EQ(CFAllocatorAllocate(kCFAllocatorNull, 16, 0), nullptr);
}
