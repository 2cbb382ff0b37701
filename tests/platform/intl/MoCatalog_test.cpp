// Reading .mo catalogs: lookups in both byte orders and unsorted tables, plural and empty
// entries, the charset the header declares, and damaged files refused.
#include "platform/intl/MoCatalog.h"

#include <gtest/gtest.h>

#include <cstring>
#include <tuple>
#include <vector>

namespace {

using orvik::platform::MoCatalog;
using Pairs = std::vector<std::pair<std::string, std::string>>;

void PutWord(std::string* out, std::size_t at, std::uint32_t word, bool bigEndian = false) {
    if (bigEndian)
        word = __builtin_bswap32(word);
    std::memcpy(out->data() + at, &word, 4);
}

// Lays out a catalog as msgfmt does: header, two tables, zero-terminated texts.
std::string BuildCatalog(const Pairs& pairs, bool bigEndian = false) {
    const std::uint32_t n = static_cast<std::uint32_t>(pairs.size());
    std::string out(28 + 16 * n, '\0');
    PutWord(&out, 0, 0x950412DE, bigEndian);
    PutWord(&out, 4, 0x00010000, bigEndian); // major revision 1 reads as 0 does
    PutWord(&out, 8, n, bigEndian);
    PutWord(&out, 12, 28, bigEndian);
    PutWord(&out, 16, 28 + 8 * n, bigEndian);
    for (std::uint32_t i = 0; i < n; ++i) {
        for (std::uint32_t which = 0; which < 2; ++which) {
            const std::string& text = which == 0 ? pairs[i].first : pairs[i].second;
            const std::size_t table = 28 + which * 8 * n + 8 * i;
            PutWord(&out, table, static_cast<std::uint32_t>(text.size()), bigEndian);
            PutWord(&out, table + 4, static_cast<std::uint32_t>(out.size()), bigEndian);
            out += text + '\0';
        }
    }
    return out;
}

std::string Find(const std::optional<MoCatalog>& catalog, std::string_view key) {
    if (!catalog)
        return "<no catalog>";
    return catalog->Find(key).value_or("<none>");
}

TEST(MoCatalog, FindsTranslationsInBothByteOrdersAndInUnsortedTables) {
    const Pairs pairs = {{"", "Content-Type: text/plain; charset=UTF-8\n"},
                         {std::string("file\0files", 10), std::string("Datei\0Dateien", 13)},
                         {"No", "Nein"},
                         {"Untranslated", ""},
                         {"Yes", "Ja"}};
    for (const std::string& data :
         {BuildCatalog(pairs), BuildCatalog(pairs, true),
          BuildCatalog({pairs[4], pairs[2], pairs[0], pairs[3], pairs[1]})}) {
        const auto catalog = MoCatalog::Parse(data);
        EXPECT_EQ(Find(catalog, "Yes"), "Ja");
        EXPECT_EQ(Find(catalog, "No"), "Nein");
        EXPECT_EQ(Find(catalog, "file"), "Datei"); // a plural entry answers for the singular
        for (std::string_view absent : std::initializer_list<std::string_view>{
                 "Yess", "Untranslated", "A", std::string_view("file\0files", 10)})
            EXPECT_EQ(Find(catalog, absent), "<none>") << testing::PrintToString(absent);
    }
}

// A charset other than UTF-8 (or its ASCII subset, or the template's placeholder) is
// converted from; one that cannot be converted gives no translation rather than bytes in
// the wrong charset.
TEST(MoCatalog, TheHeadersCharsetDecidesTheConversion) {
    const std::string utf8 = "S\xC3\xAD", latin1 = "S\xED";
    const std::tuple<std::string, std::string, std::string> rows[] = {
        {"Content-Type: text/plain; charset=ISO-8859-1\n", latin1, utf8},
        {"charset=iso-8859-1", latin1, utf8},
        {"charset=ISO-8859-1 x", latin1, utf8},
        {"charset=US-ASCII\n", utf8, utf8},
        {"charset=CHARSET\n", utf8, utf8},
        {"Content-Type: text/plain\n", utf8, utf8},
        {"charset=no-such-charset\n", utf8, "<none>"},
    };
    for (const auto& [header, translation, expect] : rows)
        EXPECT_EQ(Find(MoCatalog::Parse(BuildCatalog({{"", header}, {"Yes", translation}})), "Yes"),
                  expect)
            << header;
    // Without a header entry first, nothing declares a charset.
    EXPECT_EQ(
        Find(MoCatalog::Parse(BuildCatalog({{"A", "charset=ISO-8859-1"}, {"Yes", latin1}})), "Yes"),
        latin1);
}

TEST(MoCatalog, DamagedFilesLoadAsNothing) {
    const std::string good = BuildCatalog({{"Yes", "Ja"}});
    ASSERT_EQ(Find(MoCatalog::Parse(good), "Yes"), "Ja");
    auto changed = [&good](std::size_t at, std::uint32_t word) {
        std::string data = good;
        PutWord(&data, at, word);
        return data;
    };
    const std::pair<const char*, std::string> rows[] = {
        {"empty", ""},
        {"bad magic", changed(0, 0x950412DF)},
        {"unknown major revision", changed(4, 0x00020000)},
        {"count beyond the file", changed(8, 2)},
        {"text offset beyond the file", changed(28 + 4, 0xFFFFFFF0)},
        {"text length beyond the file", changed(28, 0xFFFFFFFF)},
        {"text ending at the file's end", changed(28 + 4, std::uint32_t(good.size() - 3))},
        {"truncated texts", good.substr(0, good.size() - 2)},
    };
    for (const auto& [what, data] : rows)
        EXPECT_FALSE(MoCatalog::Parse(data).has_value()) << what;
    EXPECT_FALSE(MoCatalog::Load("/").has_value()); // a folder is no catalog
}

} // namespace
