#include "platform/CoreFoundation.h"
#include "tests/platform/CFTestSupport.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <fstream>
#include <map>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using cftest::Utf8;

// Saves the language variables and clears them; restores them afterwards.
class LanguageEnvironment {
public:
    LanguageEnvironment() {
        for (const char* name : kNames) {
            if (const char* value = getenv(name))
                saved_[name] = value;
            unsetenv(name);
        }
    }
    ~LanguageEnvironment() {
        for (const char* name : kNames)
            unsetenv(name);
        for (const auto& [name, value] : saved_)
            setenv(name.c_str(), value.c_str(), 1);
    }
    static constexpr const char* kNames[] = {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"};

private:
    std::map<std::string, std::string> saved_;
};

std::string Translate(const char* key, CFStringRef value = nullptr) {
    CFStringRef k = CFStringCreateWithCString(nullptr, key, kCFStringEncodingUTF8);
    CFStringRef text = CFBundleCopyLocalizedString(CFBundleGetMainBundle(), k, value, nullptr);
    std::string out = Utf8(text);
    if (text != nullptr)
        CFRelease(text);
    CFRelease(k);
    return out;
}

const char* kTitle = "ORVIK Tandro Riravor Software Uninstall";
const char* kQuestion = "Are you sure you want to completely remove ORVIK Tandro Riravor Software "
                        "and all of its components?";
const char* kDenied = "Pre-authorization failed. You must be a valid administrator to continue.";
const char* kDone = "Uninstall completed successfully.";

TEST(MainBundle, FoldersSitBesideTheExecutablesBinFolder) {
    char exe[PATH_MAX] = {};
    ASSERT_GT(readlink("/proc/self/exe", exe, sizeof exe - 1), 0);
    std::string prefix = exe;
    prefix.erase(prefix.rfind('/'));
    prefix.erase(prefix.rfind('/'));
    EXPECT_EQ(orvik::bundle::MainBundleResourcesFolder(), prefix + "/share/orvik-uninstaller");
    EXPECT_EQ(orvik::bundle::MainBundleLocalesFolder(), prefix + "/share/locale");
    EXPECT_EQ(CFBundleGetMainBundle(), CFBundleGetMainBundle());
    EXPECT_EQ(CFGetTypeID(CFBundleGetMainBundle()), CFBundleGetTypeID());
}

TEST(MainBundle, EveryUninstallerTextIsTranslatedInEachLanguage) {
    LanguageEnvironment env;
    struct Row {
        const char* language;
        std::map<std::string, std::string> texts;
    } rows[] = {
        {"de",
         {{kTitle, "ORVIK Tandro Riravor Software deinstallieren"},
          {kQuestion, "Möchten Sie ORVIK Tandro Riravor Software mit allen zugehörigen "
                      "Komponenten wirklich vollständig entfernen?"},
          {"Yes", "Ja"},
          {"No", "Nein"},
          {kDenied, "Die Vorabautorisierung ist fehlgeschlagen. Um fortzufahren, müssen Sie "
                    "sich als Administrator ausweisen."},
          {kDone, "Die Deinstallation wurde erfolgreich abgeschlossen."}}},
        {"fr",
         {{kTitle, "Désinstallation d’ORVIK Tandro Riravor Software"},
          {kQuestion, "Voulez-vous vraiment supprimer complètement ORVIK Tandro Riravor "
                      "Software et tous ses composants\u00a0?"},
          {"Yes", "Oui"},
          {"No", "Non"},
          {kDenied, "L’autorisation préalable a échoué. Vous devez être un administrateur "
                    "autorisé pour continuer."},
          {kDone, "La désinstallation s’est terminée avec succès."}}},
        {"es",
         {{kTitle, "Desinstalación de ORVIK Tandro Riravor Software"},
          {kQuestion, "¿Seguro que quiere eliminar por completo ORVIK Tandro Riravor Software "
                      "y todos sus componentes?"},
          {"Yes", "Sí"},
          {"No", "No"},
          {kDenied, "Ha fallado la autorización previa. Para continuar, debe ser un "
                    "administrador válido."},
          {kDone, "La desinstalación se ha completado correctamente."}}},
        {"ja",
         {{kTitle, "ORVIK Tandro Riravor Software のアンインストール"},
          {kQuestion, "ORVIK Tandro Riravor Software とそのすべてのコンポーネントを完全に削除"
                      "してもよろしいですか？"},
          {"Yes", "はい"},
          {"No", "いいえ"},
          {kDenied, "事前認証に失敗しました。続行するには、有効な管理者アカウントで認証する必要"
                    "があります。"},
          {kDone, "アンインストールが正常に完了しました。"}}},
    };
    for (const Row& row : rows) {
        setenv("LANGUAGE", row.language, 1);
        for (const auto& [key, expected] : row.texts)
            EXPECT_EQ(Translate(key.c_str()), expected) << row.language << ": " << key;
    }
    // Unknown languages and no language at all give the English key.
    for (const char* language : {"pt", "xx", "en", ""}) {
        setenv("LANGUAGE", language, 1);
        for (const char* key : {kTitle, kQuestion, "Yes", "No", kDenied, kDone})
            EXPECT_EQ(Translate(key), key) << "'" << language << "'";
    }
}

TEST(MainBundle, LanguagesAreTriedInOrderWithRegionThenLanguage) {
    LanguageEnvironment env;
    const struct {
        std::map<std::string, std::string> vars;
        const char* yes;
    } rows[] = {
        {{{"LANGUAGE", "de_AT"}}, "Ja"},
        {{{"LANGUAGE", "pt_BR:fr"}}, "Oui"},
        {{{"LANG", "es_ES.UTF-8"}}, "Sí"},
        {{{"LC_ALL", "ja_JP.UTF-8"}, {"LANG", "de_DE"}}, "はい"},
        {{{"LC_MESSAGES", "fr_FR@euro"}}, "Oui"},
        {{{"LANG", "C"}}, "Yes"},
        {{{"LANGUAGE", "../../etc"}}, "Yes"},
    };
    for (const auto& row : rows) {
        for (const char* name : LanguageEnvironment::kNames)
            unsetenv(name);
        std::string description;
        for (const auto& [name, value] : row.vars) {
            setenv(name.c_str(), value.c_str(), 1);
            description += name + "=" + value + " ";
        }
        EXPECT_EQ(Translate("Yes"), row.yes) << description;
    }
}

TEST(MainBundle, MissingKeysGiveTheValueOrTheKey) {
    LanguageEnvironment env;
    setenv("LANGUAGE", "de", 1);
    EXPECT_EQ(Translate("Not in any catalog"), "Not in any catalog");
    EXPECT_EQ(Translate("Not in any catalog", CFSTR("Fallback")), "Fallback");
    EXPECT_EQ(Translate("Not in any catalog", CFSTR("")), "Not in any catalog");
    EXPECT_EQ(Translate(""), "");
    EXPECT_EQ(CFBundleCopyLocalizedString(CFBundleGetMainBundle(), nullptr, nullptr, nullptr),
              nullptr);
    CFStringRef text =
        CFBundleCopyLocalizedString(nullptr, CFSTR("Yes"), nullptr, nullptr); // no bundle
    EXPECT_EQ(Utf8(text), "Yes");
    CFRelease(text);
    text = CFBundleCopyLocalizedString(CFBundleGetMainBundle(), CFSTR("Yes"), nullptr,
                                       CFSTR("no-such-table"));
    EXPECT_EQ(Utf8(text), "Yes");
    CFRelease(text);
}

class BundleFolderTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/orvik-bundle-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        ASSERT_EQ(system(("mkdir -p '" + dir_ + "/res/de.lproj' '" + dir_ + "/res/sub' '" + dir_ +
                          "/locale/de/LC_MESSAGES'")
                             .c_str()),
                  0);
        orvik::bundle::SetMainBundleFolders(dir_ + "/res", dir_ + "/locale");
    }
    void TearDown() override {
        orvik::bundle::SetMainBundleFolders("", "");
        ASSERT_EQ(system(("rm -rf '" + dir_ + "'").c_str()), 0);
    }
    std::string ResourcePath(CFStringRef name, CFStringRef type, CFStringRef sub) {
        CFURLRef url = CFBundleCopyResourceURL(CFBundleGetMainBundle(), name, type, sub);
        if (url == nullptr)
            return "<none>";
        CFStringRef path = CFURLCopyPath(url);
        std::string out = Utf8(path);
        CFRelease(path);
        CFRelease(url);
        return out;
    }
    std::string dir_;
    LanguageEnvironment env_;
};

TEST_F(BundleFolderTest, AMissingOrDamagedCatalogGivesTheKey) {
    setenv("LANGUAGE", "de", 1);
    EXPECT_EQ(Translate("Yes"), "Yes"); // no catalog in the test folder
    std::ofstream(dir_ + "/locale/de/LC_MESSAGES/orvik-uninstaller.mo") << "garbage";
    orvik::bundle::SetMainBundleFolders(dir_ + "/res", dir_ + "/locale");
    EXPECT_EQ(Translate("Yes"), "Yes");
    // Back at the build's catalogs the translation returns.
    orvik::bundle::SetMainBundleFolders("", "");
    EXPECT_EQ(Translate("Yes"), "Ja");
}

TEST_F(BundleFolderTest, ResourcesPreferTheUsersLanguageFolder) {
    std::ofstream(dir_ + "/res/readme.txt") << "plain";
    std::ofstream(dir_ + "/res/de.lproj/readme.txt") << "german";
    std::ofstream(dir_ + "/res/sub/icon.png") << "icon";
    setenv("LANGUAGE", "de", 1);
    EXPECT_EQ(ResourcePath(CFSTR("readme"), CFSTR("txt"), nullptr),
              dir_ + "/res/de.lproj/readme.txt");
    EXPECT_EQ(ResourcePath(CFSTR("readme.txt"), nullptr, nullptr),
              dir_ + "/res/de.lproj/readme.txt");
    setenv("LANGUAGE", "fr", 1);
    EXPECT_EQ(ResourcePath(CFSTR("readme"), CFSTR("txt"), nullptr), dir_ + "/res/readme.txt");
    EXPECT_EQ(ResourcePath(CFSTR("icon"), CFSTR("png"), CFSTR("sub")), dir_ + "/res/sub/icon.png");
    EXPECT_EQ(ResourcePath(CFSTR("missing"), nullptr, nullptr), "<none>");
    EXPECT_EQ(ResourcePath(CFSTR("../res/readme.txt"), nullptr, CFSTR("sub")), "<none>");
    EXPECT_EQ(CFBundleCopyResourceURL(CFBundleGetMainBundle(), nullptr, nullptr, nullptr), nullptr);
}

} // namespace
