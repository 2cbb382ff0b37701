// Locales: the current one and the preferred languages from the environment, canonical
// identifiers and what is refused.
#include "tests/platform/CFTestSupport.h"

#include <gtest/gtest.h>

using namespace cftest;

namespace {

// The environment's locale when it names one, else the POSIX locale; identifiers made
// canonical, nonsense refused; the languages as an array.
TEST(CFLocale, CurrentLocaleLanguagesAndCanonicalIdentifiers) {
    NoLanguage clear;
    for (const auto& [value, expected] :
         {std::pair{"ja_JP.UTF-8", "ja_JP"}, {"1234", "en_US_POSIX"}}) {
        clear.lang.Set(value);
        CFRef<CFLocaleRef> locale(CFLocaleCopyCurrent());
        EXPECT_EQ(Utf8(CFLocaleGetIdentifier(locale.get())), expected) << value;
    }
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
    clear.language.Set("fr_CA:de");
    CFRef<CFArrayRef> two(CFLocaleCopyPreferredLanguages());
    ASSERT_EQ(CFArrayGetCount(two.get()), 2);
    EXPECT_EQ(Utf8(static_cast<CFStringRef>(CFArrayGetValueAtIndex(two.get(), 1))), "de");
}

} // namespace
