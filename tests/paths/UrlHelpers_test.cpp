#include "paths/UrlHelpers.h"

#include <gtest/gtest.h>

#include "tests/paths/PathTestSupport.h"

namespace {

using pathtest::N;
using pathtest::W;

TEST(UrlHelpersTest, ProtocolsIgnoreCaseAndLookOnlyAtTheStart) {
    for (auto [url, protocol] : {std::pair{"HTTPS://A", URLPROTOCOL_HTTPS},
                                 {"mailto:someone", URLPROTOCOL_MAILTO},
                                 {"prospero://p", URLPROTOCOL_PROSPERO},
                                 {"see http://x", URLPROTOCOL_NONE},
                                 {"http:/a", URLPROTOCOL_NONE}})
        EXPECT_EQ(GetUrlProtocol(W(url)), protocol) << url;
    // Both ends of the canonical table, and values on either side of it.
    EXPECT_EQ(N(GetAppropriateProtocol(URLPROTOCOL_MAILTO)), "mailto://");
    EXPECT_EQ(N(GetAppropriateProtocol(URLPROTOCOL_PROSPERO)), "prospero://");
    EXPECT_EQ(N(GetAppropriateProtocol(static_cast<tagURLPROTOCOLS>(12))), "http://");
    EXPECT_EQ(N(GetAppropriateProtocol(static_cast<tagURLPROTOCOLS>(-1))), "http://");
    // A valid URL is more than its canonical prefix.
    for (auto [url, valid] :
         {std::pair{"http://a", true}, {"mailto:", true}, {"HTTP://", false}, {"a.b", false}})
        EXPECT_EQ(IsValidURL(W(url)), valid) << url;
}

TEST(UrlHelpersTest, HyperlinkRepair) {
    for (auto [input, result, output] : {std::tuple{"  www.a.b  ", true, "http://www.a.b"},
                                         {"a.b", false, "a.b"},
                                         {"x\\y.z", true, "http://x/y.z"},
                                         {"http://", false, "http://"},
                                         {"x-app://y", false, "x-app://y"},
                                         {"HTTPS://A", true, "HTTPS://A"}}) {
        CAtlString link = W(input);
        EXPECT_EQ(MakeValidHyperlink(link), result) << input;
        EXPECT_EQ(N(link), output) << input;
    }
}

} // namespace
