// Arrays: positions after inserts and removals, what the callbacks see, sorting, and the
// string functions that split, join and find into arrays.
#include "tests/platform/CFTestSupport.h"

#include <gtest/gtest.h>

using namespace cftest;

namespace {

int gRetains = 0, gReleases = 0;
const void* CountRetain(CFAllocatorRef, const void* v) {
    ++gRetains;
    return v;
}
void CountRelease(CFAllocatorRef, const void*) {
    ++gReleases;
}
const CFArrayCallBacks kCounting = {0, CountRetain, CountRelease, nullptr, nullptr};

const void* P(intptr_t v) {
    return reinterpret_cast<const void*>(v);
}
std::vector<intptr_t> Values(CFArrayRef a) {
    std::vector<intptr_t> out;
    for (CFIndex i = 0; i < CFArrayGetCount(a); ++i)
        out.push_back(reinterpret_cast<intptr_t>(CFArrayGetValueAtIndex(a, i)));
    return out;
}
std::vector<std::string> Texts(CFArrayRef a) {
    std::vector<std::string> out;
    for (CFIndex i = 0; a != nullptr && i < CFArrayGetCount(a); ++i)
        out.push_back(Utf8(static_cast<CFStringRef>(CFArrayGetValueAtIndex(a, i))));
    return out;
}

TEST(CFArray, EditsAndCallbacks) {
    gRetains = gReleases = 0;
    CFMutableArrayRef a = CFArrayCreateMutable(nullptr, 0, &kCounting);
    for (intptr_t v = 1; v <= 4; ++v)
        CFArrayAppendValue(a, P(v));
    CFArrayInsertValueAtIndex(a, 0, P(10));
    CFArrayInsertValueAtIndex(a, 5, P(11));  // at the count: appends
    CFArrayInsertValueAtIndex(a, 7, P(12));  // beyond: refused
    CFArrayInsertValueAtIndex(a, -1, P(12)); // before: refused
    EXPECT_EQ(gRetains, 6);
    CFArrayRemoveValueAtIndex(a, 1);
    CFArrayRemoveValueAtIndex(a, 5); // at the count: nothing
    CFArraySetValueAtIndex(a, 0, P(20));
    CFArraySetValueAtIndex(a, 5, P(21)); // at the count: appends
    CFArraySetValueAtIndex(a, 7, P(22)); // beyond: refused
    EXPECT_EQ(gReleases, 2);
    EXPECT_EQ(Values(a), (std::vector<intptr_t>{20, 2, 3, 4, 11, 21}));
    EXPECT_EQ(CFArrayGetValueAtIndex(a, 6), nullptr);
    EXPECT_EQ(CFArrayGetValueAtIndex(a, -1), nullptr);
    EXPECT_EQ(CFArrayGetFirstIndexOfValue(a, CFRangeMake(0, 5), P(4)), 3);
    EXPECT_EQ(CFArrayGetFirstIndexOfValue(a, CFRangeMake(0, 3), P(4)), kCFNotFound);
    EXPECT_TRUE(CFArrayContainsValue(a, CFRangeMake(4, 1), P(11)));
    EXPECT_FALSE(CFArrayContainsValue(a, CFRangeMake(0, 4), P(11)));
    EXPECT_EQ(CFArrayGetCountOfValue(a, CFRangeMake(0, 5), P(2)), 1);

    CFMutableArrayRef copy = CFArrayCreateMutableCopy(nullptr, 0, a);
    EXPECT_EQ(gRetains, 8 + 6); // the copy retains through the same callbacks
    CFArrayAppendArray(copy, copy, CFRangeMake(1, 2));
    EXPECT_EQ(Values(copy), (std::vector<intptr_t>{20, 2, 3, 4, 11, 21, 2, 3}));
    CFRelease(copy);
    CFArrayRemoveAllValues(a);
    EXPECT_EQ(CFArrayGetCount(a), 0);
    CFRelease(a);
    EXPECT_EQ(gReleases, gRetains);
}

TEST(CFArray, TypeCallbacksRetainObjectsAndCopyBorrowedStrings) {
    Str s(CFStringCreateWithCString(nullptr, "kept", kCFStringEncodingUTF8));
    std::u16string borrowed = u"borrowed";
    CFStringRef b = CFStringCreateWithCharactersNoCopy(
        nullptr, reinterpret_cast<const UniChar*>(borrowed.data()), 8, kCFAllocatorNull);
    const void* values[] = {s.get(), b};
    CFRef<CFArrayRef> a(CFArrayCreate(nullptr, values, 2, &kCFTypeArrayCallBacks));
    CFRelease(b);
    EXPECT_EQ(CFGetRetainCount(s.get()), 2);
    EXPECT_EQ(CFArrayGetValueAtIndex(a.get(), 0), s.get());
    borrowed[0] = u'X'; // the array's copy does not see the caller's change
    EXPECT_EQ(Texts(a.get()), (std::vector<std::string>{"kept", "borrowed"}));
    CFArrayAppendValue(const_cast<CFMutableArrayRef>(a.get()), s.get()); // immutable: refused
    EXPECT_EQ(CFArrayGetCount(a.get()), 2);
    a.reset();
    EXPECT_EQ(CFGetRetainCount(s.get()), 1);
}

TEST(CFArray, SortSplitJoinAndFind) {
    CFRef<CFArrayRef> parts(
        CFStringCreateArrayBySeparatingStrings(nullptr, CFSTR("pear, Apple, fig"), CFSTR(", ")));
    CFRef<CFMutableArrayRef> a(CFArrayCreateMutableCopy(nullptr, 0, parts.get()));
    CFArraySortValues(
        a.get(), CFRangeMake(0, 3),
        [](const void* x, const void* y, void*) {
            return CFStringCompare(static_cast<CFStringRef>(x), static_cast<CFStringRef>(y), 0);
        },
        nullptr);
    EXPECT_EQ(TakeUtf8(CFStringCreateByCombiningStrings(nullptr, a.get(), CFSTR("+"))),
              "Apple+fig+pear");
    EXPECT_EQ(Texts(CFRef<CFArrayRef>(
                        CFStringCreateArrayBySeparatingStrings(nullptr, CFSTR(",a,,"), CFSTR(",")))
                        .get()),
              (std::vector<std::string>{"", "a", "", ""}));
    EXPECT_EQ(Texts(CFRef<CFArrayRef>(
                        CFStringCreateArrayBySeparatingStrings(nullptr, CFSTR("abc"), CFSTR(",")))
                        .get()),
              (std::vector<std::string>{"abc"}));

    struct Row {
        CFStringCompareFlags opts;
        std::vector<CFIndex> at;
    } rows[] = {{0, {1, 4, 7}}, {kCFCompareBackwards, {7, 4, 1}}, {kCFCompareAnchored, {}}};
    for (const Row& row : rows) {
        CFRef<CFArrayRef> found(CFStringCreateArrayWithFindResults(
            nullptr, CFSTR("abcabcabc"), CFSTR("bc"), CFRangeMake(0, 9), row.opts));
        std::vector<CFIndex> at;
        for (CFIndex i = 0; found && i < CFArrayGetCount(found.get()); ++i) {
            auto d = static_cast<CFDataRef>(CFArrayGetValueAtIndex(found.get(), i));
            at.push_back(reinterpret_cast<const CFRange*>(CFDataGetBytePtr(d))->location);
        }
        EXPECT_EQ(at, row.at) << row.opts;
    }
}

} // namespace
