// Locales: the current one from the environment, canonical identifiers and what is refused,
// the identifiers available and the preferred languages.
#include "tests/TestSupport.h"
#include "tests/platform/CFTestSupport.h"

#include <gtest/gtest.h>

using namespace cftest;
using testsupport::ScopedEnv;

namespace {

struct NoLocale {
    ScopedEnv language{"LANGUAGE", nullptr}, all{"LC_ALL", nullptr},
        messages{"LC_MESSAGES", nullptr}, lang{"LANG", nullptr};
};

TEST(CFLocale, CurrentLocaleFollowsTheEnvironment) {
    NoLocale clear;
    EXPECT_EQ(Utf8(CFLocaleGetIdentifier(CFRef<CFLocaleRef>(CFLocaleCopyCurrent()).get())),
              "en_US_POSIX");
    for (const auto& [value, expected] :
         {std::pair{"ja_JP.UTF-8", "ja_JP"}, {"C.UTF-8", "en_US_POSIX"}, {"1234", "en_US_POSIX"}}) {
        clear.lang.Set(value);
        CFRef<CFLocaleRef> locale(CFLocaleCopyCurrent());
        EXPECT_EQ(Utf8(CFLocaleGetIdentifier(locale.get())), expected) << value;
    }
}

TEST(CFLocale, IdentifiersAreCanonicalAndNonsenseIsRefused) {
    const std::pair<const char*, const char*> rows[] = {
        {"de-DE", "de_DE"},      {"EN_us", "en_US"}, {"ja", "ja"},    {"abcdefgh", "abcdefgh"},
        {"abcdefghi", "<none>"}, {"", "<none>"},     {"x", "<none>"}, {"de;rm -rf", "<none>"},
        {"_DE", "<none>"},       {"d1", "<none>"},
    };
    for (const auto& [input, expected] : rows) {
        Str name(CFStringCreateWithCString(nullptr, input, kCFStringEncodingUTF8));
        CFRef<CFLocaleRef> locale(CFLocaleCreate(nullptr, name.get()));
        EXPECT_EQ(locale ? Utf8(CFLocaleGetIdentifier(locale.get())) : "<none>", expected) << input;
        EXPECT_EQ(TakeUtf8(CFLocaleCreateCanonicalLocaleIdentifierFromString(nullptr, name.get())),
                  expected)
            << input;
    }
    EXPECT_EQ(CFLocaleCreate(nullptr, nullptr), nullptr);
}

TEST(CFLocale, AvailableIdentifiersAndPreferredLanguages) {
    CFRef<CFArrayRef> available(CFLocaleCopyAvailableLocaleIdentifiers());
    const CFRange all = CFRangeMake(0, CFArrayGetCount(available.get()));
    EXPECT_GT(all.length, 100);
    EXPECT_TRUE(CFArrayContainsValue(available.get(), all, CFSTR("de_DE")));
    EXPECT_FALSE(CFArrayContainsValue(available.get(), all, CFSTR("de_FR")));

    NoLocale clear;
    EXPECT_EQ(CFArrayGetCount(CFRef<CFArrayRef>(CFLocaleCopyPreferredLanguages()).get()), 0);
    clear.language.Set("fr_CA:de");
    CFRef<CFArrayRef> two(CFLocaleCopyPreferredLanguages());
    ASSERT_EQ(CFArrayGetCount(two.get()), 2);
    EXPECT_EQ(Utf8(static_cast<CFStringRef>(CFArrayGetValueAtIndex(two.get(), 0))), "fr-CA");
}

} // namespace
