#include "paths/UrlHelpers.h"

#include <gtest/gtest.h>

#include "tests/paths/PathTestSupport.h"

namespace {

using pathtest::N;
using pathtest::W;

TEST(UrlHelpersTest, ProtocolOfAUrlIgnoresCaseAndLooksOnlyAtTheStart) {
    const struct {
        const char* url;
        tagURLPROTOCOLS protocol;
    } rows[] = {{"HTTPS://A", URLPROTOCOL_HTTPS},       {"http://a", URLPROTOCOL_HTTP},
                {"mailto:someone", URLPROTOCOL_MAILTO}, {"prospero://p", URLPROTOCOL_PROSPERO},
                {"see http://x", URLPROTOCOL_NONE},     {"http:/a", URLPROTOCOL_NONE}};
    for (const auto& row : rows)
        EXPECT_EQ(GetUrlProtocol(W(row.url)), row.protocol) << row.url;
    // Both ends of the canonical table, and values on either side of it.
    EXPECT_EQ(N(GetAppropriateProtocol(URLPROTOCOL_MAILTO)), "mailto://");
    EXPECT_EQ(N(GetAppropriateProtocol(URLPROTOCOL_PROSPERO)), "prospero://");
    EXPECT_EQ(N(GetAppropriateProtocol(static_cast<tagURLPROTOCOLS>(12))), "http://");
    EXPECT_EQ(N(GetAppropriateProtocol(static_cast<tagURLPROTOCOLS>(-1))), "http://");
}

TEST(UrlHelpersTest, ValidUrlsAreMoreThanTheirCanonicalPrefix) {
    const struct {
        const char* url;
        bool valid;
    } rows[] = {{"http://a", true}, {"mailto:", true}, {"HTTP://", false},
                {"a.b", false},     {"", false},       {"mailto://", false}};
    for (const auto& row : rows)
        EXPECT_EQ(IsValidURL(W(row.url)), row.valid) << row.url;
}

TEST(UrlHelpersTest, HyperlinkRepair) {
    const struct {
        const char* input;
        bool result;
        const char* output;
    } rows[] = {{"  www.a.b  ", true, "http://www.a.b"},
                {"a.b/c", true, "http://a.b/c"},
                {"a.b", false, "a.b"},
                {"x\\y.z", true, "http://x/y.z"},
                {"http://", false, "http://"},
                {"x-app://y", false, "x-app://y"},
                {"HTTPS://A", true, "HTTPS://A"}};
    for (const auto& row : rows) {
        CAtlString link = W(row.input);
        EXPECT_EQ(MakeValidHyperlink(link), row.result) << row.input;
        EXPECT_EQ(N(link), row.output) << row.input;
    }
}

} // namespace
