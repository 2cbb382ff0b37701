// Date formatters: "y-M-d" texts read and written in each locale's styles, texts that are no
// date, the part of a text a date covers, and bad arguments.
#include "tests/platform/CFTestSupport.h"

#include <gtest/gtest.h>

using namespace cftest;

namespace {

CFDateFormatterRef Formatter(const char* localeName, CFDateFormatterStyle date) {
    CFRef<CFLocaleRef> locale(CFLocaleCreate(
        nullptr, Str(CFStringCreateWithCString(nullptr, localeName, kCFStringEncodingUTF8)).get()));
    return CFDateFormatterCreate(nullptr, locale.get(), date, kCFDateFormatterNoStyle);
}

// Reads `text` as "y-M-d" and writes it in the locale's `style`.
std::string Rewrite(const char* localeName, const char* text,
                    CFDateFormatterStyle style = kCFDateFormatterLongStyle) {
    CFRef<CFDateFormatterRef> parser(Formatter(localeName, kCFDateFormatterNoStyle));
    CFDateFormatterSetFormat(parser.get(), CFSTR("y-M-d"));
    CFRef<CFDateRef> date(CFDateFormatterCreateDateFromString(
        nullptr, parser.get(),
        Str(CFStringCreateWithCString(nullptr, text, kCFStringEncodingUTF8)).get(), nullptr));
    if (!date)
        return "<no date>";
    CFRef<CFDateFormatterRef> writer(Formatter(localeName, style));
    return TakeUtf8(CFDateFormatterCreateStringWithDate(nullptr, writer.get(), date.get()));
}

TEST(CFDateFormatter, YearMonthDayInTheLocalesStyles) {
    const struct {
        const char* locale;
        const char* input;
        CFDateFormatterStyle style;
        const char* expected;
    } rows[] = {
        {"en_US", "2024-3-9", kCFDateFormatterLongStyle, "March 9, 2024"},
        {"en_US", "2024-03-09", kCFDateFormatterShortStyle, "3/9/24"},
        {"en_US", "2024-3-9", kCFDateFormatterMediumStyle, "Mar 9, 2024"},
        {"en_US", "2024-3-9", kCFDateFormatterFullStyle, "Saturday, March 9, 2024"},
        {"de_DE", "2024-3-9", kCFDateFormatterLongStyle, "9. März 2024"},
        {"fr_FR", "2024-12-31", kCFDateFormatterLongStyle, "31 décembre 2024"},
        {"es_ES", "2000-1-1", kCFDateFormatterLongStyle, "1 de enero de 2000"},
        {"ja_JP", "2024-3-9", kCFDateFormatterLongStyle, "2024年3月9日"},
        {"en_US", "2024-2-29", kCFDateFormatterLongStyle, "February 29, 2024"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(Rewrite(row.locale, row.input, row.style), row.expected)
            << row.locale << " " << row.input;
    }
    for (const char* bad :
         {"", "hello", "2024-13-1", "2024-2-30", "2023-2-29", "2024/3/9", "2024-3-9 trailing", "-"})
        EXPECT_EQ(Rewrite("en_US", bad), "<no date>") << "'" << bad << "'";
}

TEST(CFDateFormatter, RangesFormatsAndBadArguments) {
    CFRef<CFLocaleRef> locale(CFLocaleCreate(nullptr, CFSTR("en_US")));
    CFRef<CFDateFormatterRef> f(CFDateFormatterCreate(
        nullptr, locale.get(), kCFDateFormatterNoStyle, kCFDateFormatterNoStyle));
    ASSERT_TRUE(f);
    EXPECT_EQ(Utf8(CFDateFormatterGetFormat(f.get())), "");
    CFDateFormatterSetFormat(f.get(), CFSTR("y-M-d"));
    EXPECT_EQ(Utf8(CFDateFormatterGetFormat(f.get())), "y-M-d");
    EXPECT_EQ(CFDateFormatterGetLocale(f.get()), locale.get());
    EXPECT_EQ(CFGetTypeID(f.get()), CFDateFormatterGetTypeID());
    CFRange range = CFRangeMake(2, 15);
    CFAbsoluteTime at = -1;
    EXPECT_TRUE(CFDateFormatterGetAbsoluteTimeFromString(f.get(), CFSTR("..2001-1-2 and more"),
                                                         &range, &at));
    EXPECT_EQ(range.location, 2);
    EXPECT_EQ(range.length, 8);
    EXPECT_EQ(at, 86400.0);
    EXPECT_EQ(TakeUtf8(CFDateFormatterCreateStringWithAbsoluteTime(nullptr, f.get(), 86400.0)),
              "2001-1-2");
    for (CFRange bad : {CFRangeMake(5, 4), CFRangeMake(-1, 2), CFRangeMake(0, -1)}) {
        at = -1;
        EXPECT_FALSE(
            CFDateFormatterGetAbsoluteTimeFromString(f.get(), CFSTR("2001-1-1"), &bad, &at));
        EXPECT_EQ(at, -1);
    }
    EXPECT_TRUE(
        CFDateFormatterGetAbsoluteTimeFromString(f.get(), CFSTR("2001-1-1"), nullptr, nullptr));
    EXPECT_FALSE(CFDateFormatterGetAbsoluteTimeFromString(f.get(), nullptr, nullptr, &at));
    EXPECT_FALSE(
        CFDateFormatterGetAbsoluteTimeFromString(nullptr, CFSTR("2001-1-1"), nullptr, &at));
    EXPECT_EQ(CFDateFormatterCreate(nullptr, nullptr, 3, 0), nullptr);
    EXPECT_EQ(CFDateFormatterCreate(nullptr, locale.get(), 9, 0), nullptr);
    EXPECT_EQ(CFDateFormatterCreate(nullptr, locale.get(), 0, 5), nullptr);
    EXPECT_EQ(CFDateFormatterCreateStringWithDate(nullptr, f.get(), nullptr), nullptr);
    EXPECT_EQ(CFDateFormatterCreateStringWithAbsoluteTime(nullptr, nullptr, 0), nullptr);
}

} // namespace
