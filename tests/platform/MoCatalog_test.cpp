#include "platform/intl/MoCatalog.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

using orvik::platform::MoCatalog;
using Pairs = std::vector<std::pair<std::string, std::string>>;

void PutWord(std::string* out, std::size_t at, std::uint32_t word, bool bigEndian) {
    if (bigEndian)
        word = __builtin_bswap32(word);
    std::memcpy(out->data() + at, &word, 4);
}

// Lays out a catalog as msgfmt does: header, two tables, zero-terminated texts.
std::string BuildCatalog(const Pairs& pairs, bool bigEndian = false) {
    const std::uint32_t n = static_cast<std::uint32_t>(pairs.size());
    std::string out(28 + 16 * n, '\0');
    PutWord(&out, 0, 0x950412DE, bigEndian);
    PutWord(&out, 8, n, bigEndian);
    PutWord(&out, 12, 28, bigEndian);
    PutWord(&out, 16, 28 + 8 * n, bigEndian);
    for (std::uint32_t i = 0; i < n; ++i) {
        for (int which = 0; which < 2; ++which) {
            const std::string& text = which == 0 ? pairs[i].first : pairs[i].second;
            const std::size_t table = 28 + which * 8 * n + 8 * i;
            PutWord(&out, table, static_cast<std::uint32_t>(text.size()), bigEndian);
            PutWord(&out, table + 4, static_cast<std::uint32_t>(out.size()), bigEndian);
            out += text;
            out += '\0';
        }
    }
    return out;
}

TEST(MoCatalog, FindsTranslationsInBothByteOrdersAndInUnsortedTables) {
    const Pairs pairs = {{"", "Content-Type: text/plain; charset=UTF-8\n"},
                         {"No", "Nein"},
                         {"Uninstall completed successfully.", "Fertig."},
                         {"Yes", "Ja"}};
    Pairs unsorted = {pairs[3], pairs[1], pairs[0], pairs[2]};
    for (const auto& [name, data] :
         {std::pair{"little", BuildCatalog(pairs)}, std::pair{"big", BuildCatalog(pairs, true)},
          std::pair{"unsorted", BuildCatalog(unsorted)}}) {
        auto catalog = MoCatalog::Parse(data);
        ASSERT_TRUE(catalog.has_value()) << name;
        EXPECT_EQ(catalog->Find("Yes"), "Ja") << name;
        EXPECT_EQ(catalog->Find("No"), "Nein") << name;
        EXPECT_EQ(catalog->Find("Uninstall completed successfully."), "Fertig.") << name;
        EXPECT_EQ(catalog->Find("yes"), std::nullopt) << name; // keys are exact
        EXPECT_EQ(catalog->Find("Ye"), std::nullopt) << name;
        EXPECT_EQ(catalog->Find("Yess"), std::nullopt) << name;
        EXPECT_EQ(catalog->Find(""), std::nullopt) << name; // the header is no translation
    }
}

TEST(MoCatalog, PluralEntriesAnswerForTheSingularAndEmptyTranslationsAreAbsent) {
    const Pairs pairs = {{std::string("file\0files", 10), std::string("Datei\0Dateien", 13)},
                         {"Untranslated", ""}};
    auto catalog = MoCatalog::Parse(BuildCatalog(pairs));
    ASSERT_TRUE(catalog.has_value());
    EXPECT_EQ(catalog->Find("file"), "Datei");
    EXPECT_EQ(catalog->Find("Untranslated"), std::nullopt);
    EXPECT_EQ(catalog->Find(std::string("file\0files", 10)), std::nullopt);
}

TEST(MoCatalog, OtherCharsetsAreConvertedToUtf8) {
    const Pairs pairs = {{"", "Content-Type: text/plain; charset=ISO-8859-1\n"}, {"Yes", "S\xED"}};
    auto catalog = MoCatalog::Parse(BuildCatalog(pairs));
    ASSERT_TRUE(catalog.has_value());
    EXPECT_EQ(catalog->Find("Yes"), "S\xC3\xAD");
}

TEST(MoCatalog, DamagedFilesLoadAsNothing) {
    const std::string good = BuildCatalog({{"Yes", "Ja"}});
    struct Row {
        const char* what;
        std::string data;
    };
    std::vector<Row> rows = {{"empty", ""}, {"short header", good.substr(0, 20)}};
    std::string badMagic = good;
    badMagic[0] = 'X';
    rows.push_back({"bad magic", badMagic});
    std::string hugeCount = good;
    PutWord(&hugeCount, 8, 0x10000000, false);
    rows.push_back({"count beyond the file", hugeCount});
    std::string badOffset = good;
    PutWord(&badOffset, 28 + 4, 0xFFFFFFF0, false);
    rows.push_back({"text offset beyond the file", badOffset});
    std::string badLength = good;
    PutWord(&badLength, 28, 0xFFFFFFFF, false);
    rows.push_back({"text length beyond the file", badLength});
    std::string noTerminator = good;
    noTerminator[noTerminator.size() - 1] = '!';
    rows.push_back({"text without its zero", noTerminator});
    rows.push_back({"truncated texts", good.substr(0, good.size() - 2)});
    std::string newRevision = good;
    PutWord(&newRevision, 4, 0x00020000, false);
    rows.push_back({"unknown major revision", newRevision});
    for (const Row& row : rows)
        EXPECT_FALSE(MoCatalog::Parse(row.data).has_value()) << row.what;
    EXPECT_FALSE(MoCatalog::Load("/nonexistent/orvik.mo").has_value());
    EXPECT_FALSE(MoCatalog::Load("/").has_value()); // a folder is no catalog
}

TEST(MoCatalog, ReadsTheCatalogsCompiledByTheBuild) {
    char exe[PATH_MAX] = {};
    ASSERT_GT(readlink("/proc/self/exe", exe, sizeof exe - 1), 0);
    std::string root = exe;
    root = root.substr(0, root.rfind('/')) + "/../share/locale/";
    const struct {
        const char* lang;
        const char* yes;
    } rows[] = {{"de", "Ja"}, {"fr", "Oui"}, {"es", "Sí"}, {"ja", "はい"}};
    for (const auto& row : rows) {
        auto catalog = MoCatalog::Load(root + row.lang + "/LC_MESSAGES/orvik-uninstaller.mo");
        ASSERT_TRUE(catalog.has_value()) << row.lang;
        EXPECT_EQ(catalog->Find("Yes"), row.yes) << row.lang;
    }
}

} // namespace
