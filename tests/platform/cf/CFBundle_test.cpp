// The main bundle: translations tried language by language (region first), and the
// fallbacks when none has the text.
#include "tests/TestSupport.h"
#include "tests/platform/CFTestSupport.h"

#include <gtest/gtest.h>

using namespace cftest;
using testsupport::ScopedEnv;

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
    EXPECT_EQ(Translate("Yes"), "はい");
}

TEST(MainBundle, MissingTextsGiveTheValueOrTheKey) {
    NoLanguage clear;
    ScopedEnv language("LANGUAGE", "de");
    EXPECT_EQ(Translate("Yes", CFSTR("Fallback")), "Ja");
    EXPECT_EQ(Translate("Yes", nullptr, nullptr, nullptr), "Yes"); // no bundle
    EXPECT_EQ(Translate("Yes", nullptr, CFSTR("../orvik-uninstaller")), "Yes");
}

} // namespace
