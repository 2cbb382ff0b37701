// The main bundle: translations tried language by language (region first), and the key
// when no table of the bundle can be read.
#include "tests/platform/CFTestSupport.h"

#include <gtest/gtest.h>

using namespace cftest;

namespace {

std::string Translate(const char* key, CFStringRef value = nullptr, CFStringRef table = nullptr,
                      CFBundleRef bundle = CFBundleGetMainBundle()) {
    return TakeUtf8(CFBundleCopyLocalizedString(
        bundle, Str(CFStringCreateWithCString(nullptr, key, kCFStringEncodingUTF8)).get(), value,
        table));
}

TEST(MainBundle, LanguagesAreTriedInOrderWithRegionThenLanguage) {
    NoLanguage clear;
    for (const auto& [languages, yes] : {std::pair{"de_AT", "Ja"},
                                         {"pt_BR:xx:fr", "Oui"},
                                         {"es-ES", "Sí"},
                                         {"../../etc", "Yes"}}) {
        clear.language.Set(languages);
        EXPECT_EQ(Translate("Yes"), yes) << languages;
    }
    clear.language.Set(nullptr);
    clear.lang.Set("ja_JP.UTF-8");
    EXPECT_EQ(Translate("Yes", CFSTR("Fallback")), "はい");
    // Without a bundle, or with a table outside the bundle, the key is the text.
    EXPECT_EQ(Translate("Yes", nullptr, nullptr, nullptr), "Yes");
    EXPECT_EQ(Translate("Yes", nullptr, CFSTR("../orvik-uninstaller")), "Yes");
}

} // namespace
