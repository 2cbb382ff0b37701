// The main bundle: its folders beside the executable, translations tried language by
// language (region first), the fallbacks when none has the text, and resources that prefer
// the user's language folder.
#include "tests/TestSupport.h"
#include "tests/platform/CFTestSupport.h"

#include <gtest/gtest.h>

using namespace cftest;
using testsupport::ScopedEnv;

namespace {

// Clears the language variables for the test's duration.
struct NoLanguage {
    ScopedEnv language{"LANGUAGE", nullptr}, all{"LC_ALL", nullptr},
        messages{"LC_MESSAGES", nullptr}, lang{"LANG", nullptr};
};

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
    EXPECT_EQ(Translate("Not in any catalog"), "Not in any catalog");
    EXPECT_EQ(Translate("Yes", CFSTR("Fallback")), "Ja");
    EXPECT_EQ(Translate("Not in any catalog", CFSTR("")), "Not in any catalog");
    EXPECT_EQ(Translate("Yes", nullptr, nullptr, nullptr), "Yes"); // no bundle
    EXPECT_EQ(Translate("Yes", nullptr, CFSTR("../orvik-uninstaller")), "Yes");
    EXPECT_EQ(TakeUtf8(CFBundleCopyLocalizedString(CFBundleGetMainBundle(), nullptr,
                                                   CFSTR("Fallback"), nullptr)),
              "Fallback");
}

class BundleFolderTest : public testsupport::TempFolderTest {
protected:
    void SetUp() override {
        TempFolderTest::SetUp();
        for (const char* folder :
             {"res", "res/de.lproj", "res/sub", "locale", "locale/de", "locale/de/LC_MESSAGES"})
            ASSERT_EQ(mkdir(Path(folder).c_str(), 0755), 0);
        orvik::bundle::SetMainBundleFolders(Path("res"), Path("locale"));
    }
    void TearDown() override {
        orvik::bundle::SetMainBundleFolders("", "");
        TempFolderTest::TearDown();
    }
    static std::string ResourcePath(CFStringRef name, CFStringRef type, CFStringRef sub) {
        CFRef<CFURLRef> url(CFBundleCopyResourceURL(CFBundleGetMainBundle(), name, type, sub));
        return url ? TakeUtf8(CFURLCopyPath(url.get())) : "<none>";
    }
    NoLanguage clear_;
};

TEST_F(BundleFolderTest, ResourcesPreferTheUsersLanguageFolder) {
    for (const char* file : {"res/readme.txt", "res/de.lproj/readme.txt", "res/sub/icon.png"}) {
        ASSERT_TRUE(testsupport::WriteFile(Path(file), file));
    }
    ScopedEnv language("LANGUAGE", "de");
    EXPECT_EQ(ResourcePath(CFSTR("readme"), CFSTR("txt"), nullptr),
              Path("res/de.lproj/readme.txt"));
    language.Set("fr");
    EXPECT_EQ(ResourcePath(CFSTR("readme"), CFSTR("txt"), nullptr), Path("res/readme.txt"));
    EXPECT_EQ(ResourcePath(CFSTR("icon"), CFSTR("png"), CFSTR("sub")), Path("res/sub/icon.png"));
    EXPECT_EQ(ResourcePath(CFSTR("icon"), CFSTR("png"), nullptr), "<none>");
    EXPECT_EQ(ResourcePath(CFSTR("icon.png"), nullptr, CFSTR("../res/sub")), "<none>");
    EXPECT_EQ(CFBundleCopyResourceURL(nullptr, CFSTR("readme.txt"), nullptr, nullptr), nullptr);
}

} // namespace
