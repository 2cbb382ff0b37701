#include "resources/ResourceManager.h"

#include <gtest/gtest.h>

#include "tests/TestSupport.h"

#include <deque>
#include <fstream>
#include <string>

namespace {

using StringArray = CArray<CAtlString, CAtlString&>;

std::string Utf8(const CAtlString& s) {
    char buffer[512] = {};
    CFStringRef cf = s.CreateCFStringRef(kCFAllocatorDefault);
    CFStringGetCString(cf, buffer, sizeof buffer, kCFStringEncodingUTF8);
    CFRelease(cf);
    return buffer;
}

// Clears the language variables and sets "NAME=value" ones until the end of the scope.
struct Environment {
    explicit Environment(const char* first = nullptr, const char* second = nullptr) {
        for (const char* name : {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"})
            saved.emplace_back(name, nullptr);
        for (const char* var : {first, second}) {
            const std::string text = var != nullptr ? var : "";
            if (!text.empty())
                saved.emplace_back(text.substr(0, text.find('=')).c_str(),
                                   text.substr(text.find('=') + 1).c_str());
        }
    }
    std::deque<testsupport::ScopedEnv> saved;
};

class FixedTextManager : public CResourceManagerMac {
public:
    CAtlString GetTranslatedString(const char*, const char*) override { return u"a<.color=red.>b"; }
};

TEST(ResourceManager, FactoryMakesOneInstanceAtATime) {
    CResourceManagerFactory::FreeResourceManager();
    IOrvikResourceManager* first = CResourceManagerFactory::GetResourceManager();
    EXPECT_NE(dynamic_cast<CResourceManagerMac*>(first), nullptr);
    EXPECT_EQ(CResourceManagerFactory::GetResourceManager(), first);
    CResourceManagerFactory::FreeResourceManager();
    EXPECT_EQ(CResourceManagerFactory::m_pResourceManager, nullptr);
    CFBundleRef bundle = CFBundleGetMainBundle();
    const CFIndex before = CFGetRetainCount(bundle);
    {
        CResourceManagerMac manager;
        EXPECT_EQ(CFGetRetainCount(manager.m_bundle), before + 1);
    }
    EXPECT_EQ(CFGetRetainCount(bundle), before);
}

// Keys reach the platform as Mac OS Roman (0x8E is "é"); what is not translated comes
// back widened.
TEST(ResourceManager, TranslationsFollowTheLanguage) {
    Environment env;
    CResourceManagerMac manager;
    const struct {
        const char *language, *key, *expected;
    } rows[] = {{"de", "Yes", "Ja"},
                {"ja", "No", "いいえ"},
                {"fr", "Uninstall completed successfully.",
                 "La désinstallation s’est terminée avec succès."},
                {"xx", "Yes", "Yes"},
                {"de", "No such text", "No such text"},
                {"de", "Caf\x8E", "Café"},
                {"de", "", ""}};
    for (const auto& row : rows) {
        setenv("LANGUAGE", row.language, 1);
        EXPECT_EQ(Utf8(manager.GetTranslatedString(row.key, nullptr)), row.expected) << row.key;
    }
    EXPECT_TRUE(manager.GetTranslatedString(nullptr, nullptr).IsEmpty());
}

// Only "Color" or "Colour" (any case) splits the text, appending to what the arrays hold.
TEST(ResourceManager, MarkupWordIsCheckedAndRunsAreAppended) {
    FixedTextManager manager;
    StringArray runs, colours;
    CAtlString first(u"first");
    runs.Add(first);
    for (const char* word : {"Size", "", "colors", static_cast<const char*>(nullptr)})
        EXPECT_FALSE(manager.GetTranslatedMarkUpString("key", word, &runs, &colours)) << word;
    EXPECT_TRUE(manager.GetTranslatedMarkUpString("key", "COLOUR", &runs, &colours));
    EXPECT_TRUE(manager.GetTranslatedMarkUpString("key", "Color", &runs, &colours));
    EXPECT_EQ(runs.GetSize(), 5);
    EXPECT_EQ(Utf8(runs[0]) + Utf8(runs[3]) + Utf8(runs[4]), "firstab");
    EXPECT_EQ(Utf8(colours[2]) + Utf8(colours[3]), "blackred");
}

// Growth by the step, or by size / 8 within 4..1024; an element of the array survives the
// move that growing makes; a negative size or index does nothing.
TEST(CArray, GrowthShrinkingAndSelfReferences) {
    const int rows[][3] = {{100, 0, 112},     {8, 0, 12},    {1, 0, 5}, {9000, 0, 10024},
                           {16000, 0, 17024}, {100, 7, 107}, {3, 1, 4}};
    for (const auto& row : rows) {
        StringArray array;
        array.SetSize(row[0], row[1]);
        array.SetAtGrow(array.GetSize(), array[0]);
        EXPECT_EQ(array.m_nSize * 100000 + array.m_nMaxSize, (row[0] + 1) * 100000 + row[2]);
    }
    StringArray array;
    array.SetSize(-1, 5);
    EXPECT_EQ(array.m_nGrowBy, 0);
    array.SetSize(3, 10);
    CAtlString a(u"a");
    array.SetAtGrow(1, a);
    array.SetAtGrow(-1, a);
    array.SetSize(2);
    array.SetSize(7);
    EXPECT_EQ(array.m_nSize * 100 + array.m_nMaxSize, 710);
    EXPECT_TRUE(array[6].IsEmpty() && array[1] == a);
    array.SetAtGrow(40, array[1]);
    EXPECT_TRUE(array[40] == a);
    array.RemoveAll();
    EXPECT_EQ(array.m_pData, nullptr);
    EXPECT_EQ(array.m_nSize + array.m_nMaxSize, 0);
}

TEST(ResourceManager, LocaleAndLongDates) {
    const struct {
        const char *var1, *var2, *locale, *date, *written;
    } rows[] = {{"LANGUAGE=de", "LANG=de_DE.UTF-8", "de_DE", "2024-3-9", "9. März 2024"},
                {"LANGUAGE=fr", "LANG=de_CH.UTF-8", "fr_CH", "1999-12-31", "31 décembre 1999"},
                {"LANGUAGE=de", "LANG=fr_FR.UTF-8", "de", "2024-02-30", "2024-02-30"},
                {"LANGUAGE=ja:de", "LC_ALL=en_US.UTF-8", "ja", "2024-3-9", "2024年3月9日"},
                {"LANGUAGE=es_MX", "LANG=es_ES", "es_MX", "not a date", "not a date"},
                {"LANG=en_US.UTF-8", nullptr, "en_US", "2024-03-09", "March 9, 2024"},
                {nullptr, nullptr, "en_US_POSIX", "", ""}};
    for (const auto& row : rows) {
        Environment env(row.var1, row.var2);
        CResourceManagerMac manager;
        EXPECT_EQ(Utf8(manager.GetCurrentLocale()), row.locale) << row.locale;
        EXPECT_EQ(Utf8(manager.GetTranslatedDate(row.date)), row.written) << row.locale;
    }
    CResourceManagerMac manager;
    unsigned short* units = nullptr;
    EXPECT_TRUE(manager.GetCharactersFromCFString(CFSTR("abc"), &units));
    EXPECT_EQ(std::u16string(reinterpret_cast<char16_t*>(units), 4), std::u16string(u"abc", 4));
    delete[] units;
}

class ResourcePathTest : public testsupport::TempFolderTest {
protected:
    void SetUp() override {
        TempFolderTest::SetUp();
        std::ofstream(root_ + "/help.html") << "help";
        orvik::bundle::SetMainBundleFolders(root_, root_ + "/locale");
    }
    void TearDown() override {
        orvik::bundle::SetMainBundleFolders("", "");
        TempFolderTest::TearDown();
    }
};

TEST_F(ResourcePathTest, ExistingResourcesGiveTheirPathOthersTheName) {
    Environment env("LANGUAGE=de");
    CResourceManagerMac manager;
    EXPECT_EQ(Utf8(manager.GetTranslatedResourcePath("help.html", nullptr)), root_ + "/help.html");
    EXPECT_EQ(Utf8(manager.GetTranslatedResourcePath("missing.html", nullptr)), "missing.html");
    EXPECT_TRUE(manager.GetTranslatedResourcePath(nullptr, nullptr).IsEmpty());
    EXPECT_EQ(Utf8(manager.GetTranslatedString("Yes", nullptr)), "Yes") << "no translations here";
    CFBundleRef bundle = manager.m_bundle;
    manager.m_bundle = nullptr;
    EXPECT_EQ(Utf8(manager.GetTranslatedResourcePath("help.html", nullptr)), "help.html");
    manager.m_bundle = bundle;
}

} // namespace
