#include "platform/CoreFoundation.h"
#include "tests/platform/CFTestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <string>

namespace {

using cftest::Utf8;

class LocaleTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* name : kNames) {
            if (const char* value = getenv(name))
                saved_[name] = value;
            unsetenv(name);
        }
    }
    void TearDown() override {
        for (const char* name : kNames)
            unsetenv(name);
        for (const auto& [name, value] : saved_)
            setenv(name.c_str(), value.c_str(), 1);
    }
    static constexpr const char* kNames[] = {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"};
    std::map<std::string, std::string> saved_;
};

std::string IdentifierOf(const char* text) {
    CFStringRef name = CFStringCreateWithCString(nullptr, text, kCFStringEncodingUTF8);
    CFLocaleRef locale = CFLocaleCreate(nullptr, name);
    CFRelease(name);
    if (locale == nullptr)
        return "<none>";
    std::string id = Utf8(CFLocaleGetIdentifier(locale));
    CFRelease(locale);
    return id;
}

TEST_F(LocaleTest, CurrentLocaleFollowsLcAllLcMessagesLang) {
    const struct {
        std::map<std::string, std::string> vars;
        const char* expected;
    } rows[] = {
        {{{"LC_ALL", "de_DE.UTF-8"}, {"LANG", "fr_FR"}}, "de_DE"},
        {{{"LC_MESSAGES", "fr_CA"}, {"LANG", "es_ES"}}, "fr_CA"},
        {{{"LANG", "ja_JP.UTF-8"}}, "ja_JP"},
        {{{"LANGUAGE", "de"}, {"LANG", "es_ES"}}, "es_ES"}, // LANGUAGE names languages only
        {{{"LANG", "C.UTF-8"}}, "en_US_POSIX"},
        {{{"LC_ALL", "POSIX"}}, "en_US_POSIX"},
        {{}, "en_US_POSIX"},
    };
    for (const auto& row : rows) {
        for (const char* name : kNames)
            unsetenv(name);
        std::string description;
        for (const auto& [name, value] : row.vars) {
            setenv(name.c_str(), value.c_str(), 1);
            description += name + "=" + value + " ";
        }
        CFLocaleRef locale = CFLocaleCopyCurrent();
        ASSERT_NE(locale, nullptr) << description;
        EXPECT_EQ(Utf8(CFLocaleGetIdentifier(locale)), row.expected) << description;
        CFRelease(locale);
    }
}

TEST_F(LocaleTest, IdentifiersAreCanonicalAndNonsenseIsRefused) {
    const struct {
        const char* input;
        const char* expected;
    } rows[] = {
        {"de-DE", "de_DE"},      {"de_DE", "de_DE"}, {"EN_us", "en_US"}, {"ja", "ja"},
        {"fr-CA", "fr_CA"},      {"", "<none>"},     {"1234", "<none>"}, {"x", "<none>"},
        {"de;rm -rf", "<none>"}, {"_DE", "<none>"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(IdentifierOf(row.input), row.expected) << row.input;
        CFStringRef name = CFStringCreateWithCString(nullptr, row.input, kCFStringEncodingUTF8);
        CFStringRef canonical = CFLocaleCreateCanonicalLocaleIdentifierFromString(nullptr, name);
        EXPECT_EQ(Utf8(canonical), row.expected) << row.input;
        if (canonical != nullptr)
            CFRelease(canonical);
        CFRelease(name);
    }
    EXPECT_EQ(CFLocaleCreate(nullptr, nullptr), nullptr);
}

TEST_F(LocaleTest, AvailableIdentifiersComeFromIcu) {
    CFArrayRef available = CFLocaleCopyAvailableLocaleIdentifiers();
    ASSERT_NE(available, nullptr);
    EXPECT_GT(CFArrayGetCount(available), 100);
    for (CFStringRef id : {CFSTR("de_DE"), CFSTR("ja_JP"), CFSTR("fr"), CFSTR("es_ES")})
        EXPECT_TRUE(CFArrayContainsValue(available, CFRangeMake(0, CFArrayGetCount(available)), id))
            << Utf8(id);
    EXPECT_FALSE(CFArrayContainsValue(available, CFRangeMake(0, CFArrayGetCount(available)),
                                      CFSTR("de_FR")));
    CFRelease(available);
}

TEST_F(LocaleTest, PreferredLanguagesMayBeEmpty) {
    CFArrayRef none = CFLocaleCopyPreferredLanguages();
    ASSERT_NE(none, nullptr);
    EXPECT_EQ(CFArrayGetCount(none), 0);
    CFRelease(none);
    setenv("LANGUAGE", "fr_CA:de", 1);
    CFArrayRef two = CFLocaleCopyPreferredLanguages();
    ASSERT_EQ(CFArrayGetCount(two), 2);
    EXPECT_EQ(Utf8(static_cast<CFStringRef>(CFArrayGetValueAtIndex(two, 0))), "fr-CA");
    CFRelease(two);
}

} // namespace
