#include "resources/ResourceManager.h"

#include <gtest/gtest.h>

#include "tests/TestSupport.h"

#include <cstdlib>
#include <deque>
#include <fstream>
#include <map>
#include <string>
#include <vector>

namespace {

using StringArray = CArray<CAtlString, CAtlString&>;

std::string Narrow(const CAtlString& s) {
    std::string out;
    CFStringRef cf = s.CreateCFStringRef(kCFAllocatorDefault);
    char buffer[2048] = {};
    if (cf != nullptr && CFStringGetCString(cf, buffer, sizeof buffer, kCFStringEncodingUTF8))
        out = buffer;
    if (cf != nullptr)
        CFRelease(cf);
    return out;
}

std::vector<std::string> Contents(const StringArray& array) {
    std::vector<std::string> out;
    for (int i = 0; i < array.GetSize(); ++i)
        out.push_back(Narrow(array[i]));
    return out;
}

// Clears the language variables for a test and sets the ones it names.
class Environment {
public:
    explicit Environment(const std::map<std::string, std::string>& vars = {}) {
        for (const char* name : {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"})
            saved_.emplace_back(name, nullptr);
        for (const auto& [name, value] : vars)
            setenv(name.c_str(), value.c_str(), 1);
    }

private:
    std::deque<testsupport::ScopedEnv> saved_;
};

// A manager whose translation is fixed, to drive the markup scan.
class FixedTextManager : public CResourceManagerMac {
public:
    explicit FixedTextManager(const char16_t* text) : text_(text) {}
    CAtlString GetTranslatedString(const char*, const char*) override { return text_; }

private:
    CAtlString text_;
};

TEST(ResourceManagerFactory, CreatesOnFirstUseAndAgainAfterFree) {
    CResourceManagerFactory::FreeResourceManager();
    EXPECT_EQ(CResourceManagerFactory::m_pResourceManager, nullptr);
    IOrvikResourceManager* first = CResourceManagerFactory::GetResourceManager();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(CResourceManagerFactory::GetResourceManager(), first);
    EXPECT_NE(dynamic_cast<CResourceManagerMac*>(first), nullptr);
    CResourceManagerFactory::FreeResourceManager();
    EXPECT_EQ(CResourceManagerFactory::m_pResourceManager, nullptr);
    CResourceManagerFactory::FreeResourceManager(); // nothing to free: fine
    EXPECT_NE(CResourceManagerFactory::GetResourceManager(), nullptr);
    CResourceManagerFactory::FreeResourceManager();
    EXPECT_EQ(CResourceManagerFactory::m_GlobalLanguageID, 0);
    EXPECT_TRUE(CResourceManagerFactory::m_csProductName.IsEmpty());
}

TEST(ResourceManager, HoldsTheMainBundleForItsLifetime) {
    CFBundleRef bundle = CFBundleGetMainBundle();
    const CFIndex before = CFGetRetainCount(bundle);
    {
        CResourceManagerMac manager;
        EXPECT_EQ(manager.m_bundle, bundle);
        EXPECT_EQ(CFGetRetainCount(bundle), before + 1);
    }
    EXPECT_EQ(CFGetRetainCount(bundle), before);
}

TEST(ResourceManager, TranslatesEveryUninstallerTextWhenTheLanguageChanges) {
    Environment env;
    CResourceManagerMac manager;
    const struct {
        const char* language;
        const char16_t* yes;
        const char16_t* no;
        const char16_t* done;
    } rows[] = {
        {"de", u"Ja", u"Nein", u"Die Deinstallation wurde erfolgreich abgeschlossen."},
        {"fr", u"Oui", u"Non", u"La désinstallation s’est terminée avec succès."},
        {"es", u"Sí", u"No", u"La desinstalación se ha completado correctamente."},
        {"ja", u"はい", u"いいえ", u"アンインストールが正常に完了しました。"},
        {"xx", u"Yes", u"No", u"Uninstall completed successfully."},
        {"", u"Yes", u"No", u"Uninstall completed successfully."},
    };
    for (const auto& row : rows) {
        setenv("LANGUAGE", row.language, 1);
        EXPECT_TRUE(manager.GetTranslatedString("Yes", nullptr) == CAtlString(row.yes))
            << row.language;
        EXPECT_TRUE(manager.GetTranslatedString("No", nullptr) == CAtlString(row.no))
            << row.language;
        EXPECT_TRUE(manager.GetTranslatedString("Uninstall completed successfully.", nullptr) ==
                    CAtlString(row.done))
            << row.language;
    }
}

TEST(ResourceManager, UntranslatedKeysComeBackWidened) {
    Environment env(std::map<std::string, std::string>{{"LANGUAGE", "de"}});
    CResourceManagerMac manager;
    EXPECT_TRUE(manager.GetTranslatedString("No such text", nullptr) ==
                CAtlString(u"No such text"));
    EXPECT_TRUE(manager.GetTranslatedString("", nullptr).IsEmpty());
    EXPECT_TRUE(manager.GetTranslatedString(nullptr, nullptr).IsEmpty());
    // Keys reach the platform as Mac OS Roman: 0x8E is "é".
    EXPECT_TRUE(manager.GetTranslatedString("Caf\x8E", nullptr) == CAtlString(u"Café"));
}

TEST(ResourceManager, MarkupRunsAndColours) {
    const struct {
        const char16_t* text;
        std::vector<std::string> runs, colours;
    } rows[] = {
        {u"Press <.color=red.>Stop<./color.> now",
         {"Press ", "Stop", " now"},
         {"black", "red", "black"}},
        {u"<.color=red.>Stop<./color.>", {"Stop", ""}, {"red", "black"}},
        {u"", {""}, {"black"}},
        {u"plain text", {"plain text"}, {"black"}},
        {u"a<.color=blue.>rest of it", {"a", "rest of it"}, {"black", "blue"}},
        {u"<.Color=red.>x<./Color.>", {"red.>x", ""}, {"", "black"}},
        {u"a<.size=3.>b<./size.>c", {"a", "3.>b", "c"}, {"black", "black", "black"}},
        {u"<.color=red.>r<./color.><.color=green.>g<./x.>",
         {"r", "g", ""},
         {"red", "green", "black"}},
        // Malformed markup stays text.
        {u"x<.color", {"x", "<.color"}, {"black", "black"}},
        {u"<.color=red", {"<.color=red"}, {"black"}},
        {u"<.color=red.>t<./color", {"t", "<./color"}, {"red", "black"}},
    };
    for (const auto& row : rows) {
        FixedTextManager manager(row.text);
        StringArray runs, colours;
        ASSERT_TRUE(manager.GetTranslatedMarkUpString("key", "color", &runs, &colours));
        EXPECT_EQ(Contents(runs), row.runs) << Narrow(CAtlString(row.text));
        EXPECT_EQ(Contents(colours), row.colours) << Narrow(CAtlString(row.text));
    }
}

TEST(ResourceManager, MarkupWordIsCheckedAndRunsAreAppended) {
    FixedTextManager manager(u"Press <.color=red.>Stop<./color.> now");
    StringArray runs, colours;
    CAtlString first(u"first");
    runs.SetAtGrow(0, first);
    colours.SetAtGrow(0, first);
    for (const char* word : std::vector<const char*>{"Size", "", "colors", nullptr}) {
        EXPECT_FALSE(manager.GetTranslatedMarkUpString("key", word, &runs, &colours));
        EXPECT_EQ(Contents(runs), std::vector<std::string>{"first"});
        EXPECT_EQ(Contents(colours), std::vector<std::string>{"first"});
    }
    EXPECT_TRUE(manager.GetTranslatedMarkUpString("key", "COLOUR", &runs, &colours));
    EXPECT_TRUE(manager.GetTranslatedMarkUpString("key", "Color", &runs, &colours));
    EXPECT_EQ(Contents(runs), (std::vector<std::string>{"first", "Press ", "Stop", " now", "Press ",
                                                        "Stop", " now"}));
    EXPECT_EQ(colours.GetSize(), 7);
}

TEST(CArray, GrowthFollowsTheStepRule) {
    const struct {
        int size;
        int growBy;
        int expectedCapacity; // after appending one element at full capacity
    } rows[] = {{100, 0, 112},     {8, 0, 12},    {1, 0, 5}, {9000, 0, 10024},
                {16000, 0, 17024}, {100, 7, 107}, {3, 1, 4}};
    for (const auto& row : rows) {
        StringArray array;
        array.SetSize(row.size, row.growBy);
        ASSERT_EQ(array.m_nMaxSize, row.size);
        CAtlString value(u"x");
        array.SetAtGrow(array.m_nSize, value);
        EXPECT_EQ(array.m_nSize, row.size + 1) << row.size << "/" << row.growBy;
        EXPECT_EQ(array.m_nMaxSize, row.expectedCapacity) << row.size << "/" << row.growBy;
        EXPECT_TRUE(array[row.size] == value);
        EXPECT_TRUE(array[0].IsEmpty());
    }
}

TEST(CArray, SetSizeConstructsShrinksAndFrees) {
    StringArray array;
    array.SetSize(-1, 5);
    EXPECT_EQ(array.m_pData, nullptr);
    EXPECT_EQ(array.m_nGrowBy, 0) << "a negative size changes nothing";
    array.SetSize(3, 10);
    EXPECT_EQ(array.m_nSize, 3);
    EXPECT_EQ(array.m_nMaxSize, 10);
    EXPECT_EQ(array.m_nGrowBy, 10);
    CAtlString a(u"a"), b(u"b");
    array.SetAtGrow(1, a);
    array.SetAtGrow(6, b);
    EXPECT_EQ(array.m_nSize, 7);
    EXPECT_EQ(array.m_nMaxSize, 10);
    EXPECT_TRUE(array[5].IsEmpty());
    array.SetSize(2);
    EXPECT_EQ(array.m_nSize, 2);
    EXPECT_EQ(array.m_nMaxSize, 10);
    array.SetSize(7);
    EXPECT_TRUE(array[6].IsEmpty()) << "slots freed by shrinking come back empty";
    EXPECT_TRUE(array[1] == a);
    array.SetAtGrow(-1, a);
    EXPECT_EQ(array.m_nSize, 7);
    // An element of the array itself survives the move that growing makes.
    array.SetAtGrow(40, array[1]);
    EXPECT_TRUE(array[40] == a);
    array.SetSize(0);
    EXPECT_EQ(array.m_pData, nullptr);
    EXPECT_EQ(array.m_nSize, 0);
    EXPECT_EQ(array.m_nMaxSize, 0);
    EXPECT_EQ(array.m_nGrowBy, 10);
}

TEST(ResourceManager, CharactersAreCopiedWithATerminator) {
    CResourceManagerMac manager;
    unsigned short* units = reinterpret_cast<unsigned short*>(0x1);
    EXPECT_TRUE(manager.GetCharactersFromCFString(CFSTR("abc"), &units));
    EXPECT_EQ(units[0], 'a');
    EXPECT_EQ(units[2], 'c');
    EXPECT_EQ(units[3], 0);
    delete[] units;
    EXPECT_TRUE(manager.GetCharactersFromCFString(nullptr, &units));
    EXPECT_EQ(units[0], 0);
    delete[] units;
}

TEST(ResourceManager, CurrentLocaleJoinsTheLanguageWithTheRegion) {
    const struct {
        std::map<std::string, std::string> vars;
        const char* expected;
    } rows[] = {
        {{{"LANGUAGE", "de"}, {"LANG", "de_DE.UTF-8"}}, "de_DE"},
        {{{"LANG", "de_DE.UTF-8"}}, "de_DE"},
        {{{"LANGUAGE", "fr"}, {"LANG", "de_CH.UTF-8"}}, "fr_CH"},
        {{{"LANGUAGE", "de"}, {"LANG", "fr_FR.UTF-8"}}, "de"},
        {{{"LANGUAGE", "ja:de"}, {"LC_ALL", "en_US.UTF-8"}}, "ja"},
        {{{"LANGUAGE", "es_MX"}, {"LANG", "es_ES"}}, "es_MX"},
        {{}, "en_US_POSIX"},
        {{{"LANG", "C"}}, "en_US_POSIX"},
    };
    for (const auto& row : rows) {
        Environment env(row.vars);
        std::string description;
        for (const auto& [name, value] : row.vars)
            description += name + "=" + value + " ";
        CResourceManagerMac manager;
        EXPECT_EQ(Narrow(manager.GetCurrentLocale()), row.expected) << description;
    }
}

TEST(ResourceManager, DatesAreWrittenInTheLocalesLongStyle) {
    const struct {
        const char* lang;
        const char* input;
        const char* expected;
    } rows[] = {
        {"de_DE.UTF-8", "2024-3-9", "9. März 2024"},
        {"en_US.UTF-8", "2024-03-09", "March 9, 2024"},
        {"ja_JP.UTF-8", "2024-3-9", "2024年3月9日"},
        {"fr_FR.UTF-8", "1999-12-31", "31 décembre 1999"},
        // Texts that are no year-month-day date come back as they are.
        {"de_DE.UTF-8", "not a date", "not a date"},
        {"de_DE.UTF-8", "2024-02-30", "2024-02-30"},
        {"de_DE.UTF-8", "", ""},
    };
    for (const auto& row : rows) {
        Environment env(std::map<std::string, std::string>{{"LANG", row.lang}});
        CResourceManagerMac manager;
        EXPECT_EQ(Narrow(manager.GetTranslatedDate(row.input)), row.expected)
            << row.lang << " " << row.input;
    }
    Environment env;
    CResourceManagerMac manager;
    EXPECT_TRUE(manager.GetTranslatedDate(nullptr).IsEmpty());
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
    Environment env;
    CResourceManagerMac manager;
    EXPECT_EQ(Narrow(manager.GetTranslatedResourcePath("help.html", nullptr)),
              root_ + "/help.html");
    EXPECT_EQ(Narrow(manager.GetTranslatedResourcePath("missing.html", nullptr)), "missing.html");
    EXPECT_TRUE(manager.GetTranslatedResourcePath(nullptr, nullptr).IsEmpty());
    CFBundleRef bundle = manager.m_bundle;
    manager.m_bundle = nullptr; // no bundle: the name itself
    EXPECT_EQ(Narrow(manager.GetTranslatedResourcePath("help.html", nullptr)), "help.html");
    manager.m_bundle = bundle;
    // Without translations the texts stay English.
    setenv("LANGUAGE", "de", 1);
    EXPECT_TRUE(manager.GetTranslatedString("Yes", nullptr) == CAtlString(u"Yes"));
}

} // namespace
