// The user's locale and languages as the environment names them: the order of the
// variables, codesets and modifiers dropped, C and POSIX and malformed names meaning none.
#include "platform/intl/LocaleEnvironment.h"
#include "tests/platform/CFTestSupport.h"

#include <gtest/gtest.h>

#include <map>

namespace {

using namespace orvik::platform;

TEST(LocaleEnvironment, VariablesInGettextOrder) {
    const struct {
        std::map<std::string, std::string> vars;
        std::string locale;
        std::vector<std::string> languages;
    } rows[] = {
        {{{"LANGUAGE", "fr_CA:de"}, {"LANG", "es_ES.UTF-8"}}, "es_ES", {"fr-CA", "de"}},
        {{{"LANGUAGE", ":C:ja::"}}, "", {"ja"}},
        {{{"LC_ALL", "de_DE.UTF-8"}, {"LC_MESSAGES", "fr_FR"}, {"LANG", "es"}}, "de_DE", {"de-DE"}},
        {{{"LC_MESSAGES", "es_ES@euro"}, {"LANG", "fr_FR"}}, "es_ES", {"es-ES"}},
        {{{"LANGUAGE", ""}, {"LANG", "zh-Hant9"}}, "zh-Hant9", {"zh-Hant9"}},
        {{{"LC_ALL", "POSIX"}, {"LANG", "de_DE"}}, "", {}},
        {{{"LANG", "de;rm -rf"}}, "", {}},
    };
    for (const auto& row : rows) {
        cftest::NoLanguage clear;
        for (const auto& [name, value] : row.vars)
            setenv(name.c_str(), value.c_str(), 1);
        SCOPED_TRACE(testing::PrintToString(row.vars));
        EXPECT_EQ(LocaleFromEnvironment(), row.locale);
        EXPECT_EQ(LanguagesFromEnvironment(), row.languages);
    }
    EXPECT_EQ(NormalizeLocaleName("az_AZ09-x@euro"), "az_AZ09-x");
    const std::pair<const char*, const char*> names[] = {
        {"xde/DE", ""}, {"xde:DE", ""},    {"xde`", ""},     {"xde[", ""},
        {"xde{", ""},   {"xde@DE", "xde"}, {"x\xC3\xA9", ""}};
    for (const auto& [name, normal] : names)
        EXPECT_EQ(NormalizeLocaleName(name), normal) << name;
}

} // namespace
