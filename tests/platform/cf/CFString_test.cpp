// String storage: what creation copies or borrows, what reads write, how edits move units,
// and padding.
#include "tests/platform/CFTestSupport.h"

#include <gtest/gtest.h>


using namespace cftest;

namespace {

CFMutableStringRef MakeMutable(std::u16string_view text, CFIndex maxLength = 0) {
    CFMutableStringRef m = CFStringCreateMutable(nullptr, maxLength);
    CFStringAppendCharacters(m, reinterpret_cast<const UniChar*>(text.data()),
                             CFIndex(text.size()));
    return m;
}

TEST(CFString, CreationCopiesOrBorrowsExactly) {
    Str s(Make(std::u16string(u"a\0\U0001F600", 4)));
    for (const auto& [at, unit] :
         {std::pair<CFIndex, UniChar>{-1, 0}, {0, 'a'}, {3, 0xDE00}, {4, 0}})
        EXPECT_EQ(CFStringGetCharacterAtIndex(s.get(), at), unit) << at;
    EXPECT_EQ(CFStringCreateWithCharacters(nullptr, nullptr, 3), nullptr);

    // Borrowed units: the string shows the caller's changes, a copy of it does not.
    std::u16string hello = u"hello";
    auto* units = reinterpret_cast<const UniChar*>(hello.data());
    Str borrowed(CFStringCreateWithCharactersNoCopy(nullptr, units, 5, kCFAllocatorNull));
    Str copy(CFStringCreateCopy(nullptr, borrowed.get()));
    hello[0] = u'j';
    EXPECT_EQ(Units(borrowed.get()), u"jello");
    EXPECT_EQ(Units(copy.get()), u"hello");
    // Units handed over with a deallocator are freed with it once, by the last release.
    static int freed = 0;
    CFAllocatorContext context{};
    context.deallocate = [](void* p, void*) { ++freed, std::free(p); };
    CFRef<CFAllocatorRef> counting(CFAllocatorCreate(nullptr, &context));
    auto* owned = static_cast<UniChar*>(std::calloc(1, sizeof(UniChar)));
    CFStringRef handed = CFStringCreateWithCharactersNoCopy(nullptr, owned, 1, counting.get());
    CFRelease(CFRetain(handed));
    EXPECT_EQ(freed, 0);
    CFRelease(handed);
    EXPECT_EQ(freed, 1);
    // An immutable string of its own is shared, whole or as its full substring.
    Str whole(CFStringCreateWithSubstring(nullptr, copy.get(), CFRangeMake(0, 5)));
    EXPECT_EQ(CFGetRetainCount(copy.get()), 2);
    EXPECT_EQ(Take(CFStringCreateWithSubstring(nullptr, copy.get(), CFRangeMake(1, 4))), u"ello");
    EXPECT_EQ(CFStringCreateWithSubstring(nullptr, copy.get(), CFRangeMake(2, 4)), nullptr);
}

TEST(CFString, ReadsWriteExactlyTheirRange) {
    Str s(Make(u"ab\u4E2D"));
    UniChar units[4] = {u'#', u'#', u'#', u'#'};
    CFStringGetCharacters(s.get(), CFRangeMake(1, 2), units + 1);
    CFStringGetCharacters(s.get(), CFRangeMake(2, 2), units); // past the end: nothing
    EXPECT_EQ(std::u16string(reinterpret_cast<char16_t*>(units), 4), u"#b\u4E2D#");
    // The text needs 5 bytes and a zero: less room fails with an empty result.
    for (const auto& [size, out] : {std::pair{6, "ab\xE4\xB8\xAD"}, {5, ""}, {0, "#######"}}) {
        char buffer[8] = "#######";
        EXPECT_EQ(bool(CFStringGetCString(s.get(), buffer, size, kCFStringEncodingUTF8)),
                  size == 6);
        EXPECT_EQ(std::string(buffer), out) << size;
    }
    Str path(Make(u"a/\u00E9"));
    char bytes[5];
    EXPECT_TRUE(CFStringGetFileSystemRepresentation(path.get(), bytes, 5));
    EXPECT_EQ(std::string(bytes, 5), std::string("a/\xC3\xA9", 5));
    EXPECT_FALSE(CFStringGetFileSystemRepresentation(path.get(), bytes, 4));
}

TEST(CFString, EditsRefuseWhatTheyCannotDo) {
    CFRef<CFMutableStringRef> m(CFStringCreateMutable(nullptr, 0));
    CFStringAppendCString(m.get(), "d\xC3\xA9", kCFStringEncodingUTF8);
    CFStringAppendCString(m.get(), "\xC3", kCFStringEncodingUTF8); // invalid: nothing appended
    CFStringInsert(m.get(), 2, CFSTR(">"));                        // at the end
    CFStringInsert(m.get(), 4, CFSTR("!"));                        // past it: refused
    CFStringDelete(m.get(), CFRangeMake(2, 2));                    // past the end: refused
    CFStringAppend(m.get(), m.get()); // its own units, read before they move
    EXPECT_EQ(Units(m.get()), u"d\u00E9>d\u00E9>");
    Str fixed(Make(u"fixed"));
    auto* writable = const_cast<CFMutableStringRef>(fixed.get());
    CFStringAppend(writable, CFSTR("x"));
    EXPECT_EQ(Units(fixed.get()), u"fixed");
    // A maximum length is reached exactly, never passed.
    CFRef<CFMutableStringRef> limited(MakeMutable(u"ab", 3));
    for (CFStringRef add : {CFSTR("cd"), CFSTR("c"), CFSTR("d")})
        CFStringAppend(limited.get(), add);
    EXPECT_EQ(Units(limited.get()), u"abc");
    EXPECT_EQ(CFStringCreateMutableCopy(nullptr, 2, CFSTR("abc")), nullptr);
}

// Edits of several sizes at every position move the units behind them short and long
// distances both ways, and appends grow the storage from its own units: each result matches
// the same edit on a plain string.
TEST(CFString, EditsAgreeWithAPlainString) {
    for (int len = 0; len <= 20; len += 4) {
        std::u16string base;
        for (int i = 0; i < len; ++i)
            base += char16_t(u'a' + i);
        for (int at = 0; at <= len; ++at)
            for (int cut : {0, 1, 9})
                for (int add : {0, 1, 17}) {
                    if (at + cut > len)
                        continue;
                    std::u16string expected = base;
                    expected.replace(size_t(at), size_t(cut), size_t(add), u'#');
                    CFRef<CFMutableStringRef> m(MakeMutable(base));
                    CFStringReplace(m.get(), CFRangeMake(at, cut),
                                    Str(Make(std::u16string(size_t(add), u'#'))).get());
                    ASSERT_EQ(Units(m.get()), expected) << len << " at " << at << " cut " << cut;
                }
    }
    CFRef<CFMutableStringRef> m(MakeMutable(u"ab"));
    for (std::u16string expected = u"ab"; expected.size() < 200;) {
        const CFIndex half = CFIndex(expected.size() / 2); // taken from its own units
        CFStringAppendCharacters(m.get(), CFStringGetCharactersPtr(m.get()) + 1, half);
        expected += expected.substr(1, size_t(half)) + u"#";
        CFStringAppend(m.get(), CFSTR("#"));
        ASSERT_EQ(Units(m.get()), expected);
    }
}

// Padding repeats the pad string from the index given; a length below the string's cuts it.
TEST(CFString, PadRepeatsOrCuts) {
    for (const auto& [length, out] :
         {std::pair<CFIndex, std::u16string>{7, u"abc.-.-"}, {0, u""}}) {
        CFRef<CFMutableStringRef> m(MakeMutable(u"abc"));
        CFStringPad(m.get(), CFSTR("-."), length, 1);
        EXPECT_EQ(Units(m.get()), out) << length;
    }
}

} // namespace
