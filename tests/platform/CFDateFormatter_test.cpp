#include "platform/CoreFoundation.h"
#include "tests/platform/CFTestSupport.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using cftest::Utf8;

// Parses `text` as "y-M-d" and writes it in the locale's long date style.
std::string LongDate(const char* localeName, const char* text) {
    CFStringRef name = CFStringCreateWithCString(nullptr, localeName, kCFStringEncodingUTF8);
    CFLocaleRef locale = CFLocaleCreate(nullptr, name);
    CFRelease(name);
    if (locale == nullptr)
        return "<no locale>";
    CFDateFormatterRef parser =
        CFDateFormatterCreate(nullptr, locale, kCFDateFormatterNoStyle, kCFDateFormatterNoStyle);
    CFDateFormatterSetFormat(parser, CFSTR("y-M-d"));
    CFStringRef input = CFStringCreateWithCString(nullptr, text, kCFStringEncodingUTF8);
    CFDateRef date = CFDateFormatterCreateDateFromString(nullptr, parser, input, nullptr);
    std::string out = "<no date>";
    if (date != nullptr) {
        CFDateFormatterRef writer = CFDateFormatterCreate(
            nullptr, locale, kCFDateFormatterLongStyle, kCFDateFormatterNoStyle);
        CFStringRef written = CFDateFormatterCreateStringWithDate(nullptr, writer, date);
        out = Utf8(written);
        if (written != nullptr)
            CFRelease(written);
        CFRelease(writer);
        CFRelease(date);
    }
    CFRelease(input);
    CFRelease(parser);
    CFRelease(locale);
    return out;
}

TEST(DateFormatter, YearMonthDayBecomesTheLocalesLongDate) {
    const struct {
        const char* locale;
        const char* input;
        const char* expected;
    } rows[] = {
        {"en_US", "2024-3-9", "March 9, 2024"},      {"en_US", "2024-03-09", "March 9, 2024"},
        {"de_DE", "2024-3-9", "9. März 2024"},       {"fr_FR", "2024-12-31", "31 décembre 2024"},
        {"es_ES", "2000-1-1", "1 de enero de 2000"}, {"ja_JP", "2024-3-9", "2024年3月9日"},
        {"en_US", "2024-2-29", "February 29, 2024"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(LongDate(row.locale, row.input), row.expected) << row.locale << " " << row.input;
}

TEST(DateFormatter, TextsThatAreNoDateDoNotParse) {
    for (const char* bad :
         {"", "hello", "2024-13-1", "2024-2-30", "2023-2-29", "2024/3/9", "2024-3-9 trailing", "-"})
        EXPECT_EQ(LongDate("en_US", bad), "<no date>") << "'" << bad << "'";
}

TEST(DateFormatter, RangesFormatsAndBadArguments) {
    CFLocaleRef locale = CFLocaleCreate(nullptr, CFSTR("en_US"));
    ASSERT_NE(locale, nullptr);
    CFDateFormatterRef f =
        CFDateFormatterCreate(nullptr, locale, kCFDateFormatterNoStyle, kCFDateFormatterNoStyle);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(Utf8(CFDateFormatterGetFormat(f)), "");
    CFDateFormatterSetFormat(f, CFSTR("y-M-d"));
    EXPECT_EQ(Utf8(CFDateFormatterGetFormat(f)), "y-M-d");
    EXPECT_EQ(CFDateFormatterGetLocale(f), locale);
    CFRange range = CFRangeMake(0, 17);
    CFAbsoluteTime at = -1;
    EXPECT_TRUE(
        CFDateFormatterGetAbsoluteTimeFromString(f, CFSTR("2001-1-1 and more"), &range, &at));
    EXPECT_EQ(range.length, 8);
    CFRange outside = CFRangeMake(5, 40);
    EXPECT_FALSE(CFDateFormatterGetAbsoluteTimeFromString(f, CFSTR("2001-1-1"), &outside, &at));
    EXPECT_FALSE(CFDateFormatterGetAbsoluteTimeFromString(f, nullptr, nullptr, &at));
    EXPECT_EQ(CFDateFormatterCreate(nullptr, nullptr, 3, 0), nullptr);
    EXPECT_EQ(CFDateFormatterCreate(nullptr, locale, 9, 0), nullptr);
    EXPECT_EQ(CFDateFormatterCreateStringWithDate(nullptr, f, nullptr), nullptr);
    CFRelease(f);
    CFRelease(locale);
}

} // namespace
