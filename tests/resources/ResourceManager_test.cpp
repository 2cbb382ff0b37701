#include "resources/ResourceManager.h"

#include <gtest/gtest.h>

#include "tests/TestSupport.h"

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

std::string Joined(const StringArray& array) {
    std::string out;
    for (int i = 0; i < array.GetSize(); ++i)
        out += Utf8(array[i]) + "|";
    return out;
}

// Clears the language variables, then sets LANGUAGE and LANG, until the end of the scope.
struct Environment {
    explicit Environment(const char* list = nullptr, const char* lang = nullptr)
        : vars{{"LC_ALL", nullptr}, {"LC_MESSAGES", nullptr}, {"LANGUAGE", list}, {"LANG", lang}} {}
    testsupport::ScopedEnv vars[4];
};

// Runs and their colours; malformed markup stays text, one black run to the end.
TEST(ScanMarkup, RunsColoursMalformedMarkupAndTheArrays) {
    const char16_t* rows[][3] = {
        {u"Press <.color=red.>Stop<./color.> now", u"Press |Stop| now|", u"black|red|black|"},
        {u"<.color=red.>Stop<./color.>", u"Stop||", u"red|black|"},
        {u"a<.color=blue.>rest of it", u"a|rest of it|", u"black|blue|"},
        {u"<.Color=red.>x<./Color.>", u"red.>x||", u"|black|"},
        {u"a<.size=3.>b<./size.>c", u"a|3.>b|c|", u"black|black|black|"},
        {u"x<.color", u"x|<.color|", u"black|black|"},
        {u"<.color=red", u"<.color=red|", u"black|"},
        {u"<.color=red.>t<./color", u"t|<./color|", u"red|black|"}};
    for (const auto& row : rows) {
        StringArray runs, colours;
        orvik::resources::ScanMarkup(CAtlString(row[0]), &runs, &colours);
        EXPECT_EQ(Joined(runs) + " " + Joined(colours), Utf8(row[1]) + " " + Utf8(row[2]));
    }
    // The arrays grow by their step, or by size / 8 within 4..1024; an element of the array
    // survives the move that growing makes; a negative size does nothing.
    const int sizes[][3] = {{100, 0, 112}, {8, 0, 12}, {9000, 0, 10024}, {100, 7, 107}};
    for (const auto& row : sizes) {
        StringArray array;
        array.SetSize(row[0], row[1]);
        array.SetAtGrow(array.GetSize(), array[0]);
        EXPECT_EQ(array.m_nSize * 100000 + array.m_nMaxSize, (row[0] + 1) * 100000 + row[2]);
    }
    StringArray array;
    array.SetSize(-1, 5);
    array.SetSize(3, 10);
    array.SetAtGrow(-1, array[0]);
    array.SetSize(2);
    array.SetSize(7);
    EXPECT_EQ(array.m_nGrowBy * 10000 + array.m_nSize * 100 + array.m_nMaxSize, 100710);
    array.RemoveAll();
    EXPECT_TRUE(array.m_pData == nullptr && array.m_nSize + array.m_nMaxSize == 0);
}

// One instance at a time, holding its own reference to the bundle. Keys reach the platform
// as Mac OS Roman (0x8E is "é"); what is not translated comes back widened. Only "Color"
// or "Colour" (any case) splits a text, appending to what the arrays hold.
TEST(ResourceManager, FactoryTranslationsAndMarkupWord) {
    CResourceManagerFactory::FreeResourceManager();
    IOrvikResourceManager* first = CResourceManagerFactory::GetResourceManager();
    EXPECT_EQ(CResourceManagerFactory::GetResourceManager(), first);
    CResourceManagerFactory::FreeResourceManager();
    EXPECT_EQ(CResourceManagerFactory::m_pResourceManager, nullptr);
    const CFIndex before = CFGetRetainCount(CFBundleGetMainBundle());
    Environment env;
    auto* manager = new CResourceManagerMac;
    EXPECT_EQ(CFGetRetainCount(manager->m_bundle), before + 1);
    const char* rows[][3] = {{"de", "Yes", "Ja"},
                             {"xx", "Yes", "Yes"},
                             {"de", "No such text", "No such text"},
                             {"de", "Caf\x8E", "Café"}};
    for (const auto& row : rows) {
        setenv("LANGUAGE", row[0], 1);
        EXPECT_EQ(Utf8(manager->GetTranslatedString(row[1], nullptr)), row[2]) << row[1];
    }
    EXPECT_TRUE(manager->GetTranslatedString(nullptr, nullptr).IsEmpty());
    StringArray runs, colours;
    runs.SetSize(1);
    std::string results;
    for (const char* word :
         {"Size", "", "colors", static_cast<const char*>(nullptr), "COLOUR", "Color"})
        results += manager->GetTranslatedMarkUpString("a<.color=red.>b", word, &runs, &colours)
                       ? "1"
                       : "0";
    EXPECT_EQ(results + " " + Joined(runs) + " " + Joined(colours),
              "000011 |a|b|a|b| black|red|black|red|");
    delete manager;
    EXPECT_EQ(CFGetRetainCount(CFBundleGetMainBundle()), before);
}

using ResourcePathTest = testsupport::TempFolderTest;

// The locale and its long dates; existing resources give their path, others the name.
TEST_F(ResourcePathTest, LocaleDatesAndResourcePaths) {
    const struct {
        const char *language, *lang, *locale, *date, *written;
    } rows[] = {{"de", "de_DE.UTF-8", "de_DE", "2024-3-9", "9. März 2024"},
                {"fr", "de_CH.UTF-8", "fr_CH", "1999-12-31", "31 décembre 1999"},
                {"de", "fr_FR.UTF-8", "de", "2024-02-30", "2024-02-30"},
                {nullptr, "en_US.UTF-8", "en_US", "not a date", "not a date"},
                {nullptr, nullptr, "en_US_POSIX", "", ""}};
    for (const auto& row : rows) {
        Environment env(row.language, row.lang);
        CResourceManagerMac manager;
        EXPECT_EQ(Utf8(manager.GetCurrentLocale()) + " " +
                      Utf8(manager.GetTranslatedDate(row.date)),
                  std::string(row.locale) + " " + row.written);
    }
    Environment env("de");
    ASSERT_TRUE(testsupport::WriteFile(root_ + "/help.html", "help"));
    orvik::bundle::SetMainBundleFolders(root_, root_ + "/locale");
    CResourceManagerMac manager;
    EXPECT_EQ(Utf8(manager.GetTranslatedResourcePath("help.html", nullptr)), root_ + "/help.html");
    EXPECT_EQ(Utf8(manager.GetTranslatedResourcePath("missing.html", nullptr)), "missing.html");
    EXPECT_TRUE(manager.GetTranslatedResourcePath(nullptr, nullptr).IsEmpty());
    CFBundleRef bundle = manager.m_bundle;
    manager.m_bundle = nullptr;
    EXPECT_EQ(Utf8(manager.GetTranslatedResourcePath("help.html", nullptr)), "help.html");
    manager.m_bundle = bundle;
    orvik::bundle::SetMainBundleFolders("", "");
}

} // namespace
