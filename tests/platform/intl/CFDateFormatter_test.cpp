// Date formatters: "y-M-d" texts read and written in each locale's styles, texts that are no
// date, and a style that does not exist.
#include "tests/platform/CFTestSupport.h"

#include <gtest/gtest.h>

#include <tuple>

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
    const std::tuple<const char*, const char*, CFDateFormatterStyle, const char*> rows[] = {
        {"en_US", "2024-3-9", kCFDateFormatterLongStyle, "March 9, 2024"},
        {"en_US", "2024-03-09", kCFDateFormatterShortStyle, "3/9/24"},
        {"de_DE", "2024-3-9", kCFDateFormatterLongStyle, "9. März 2024"},
    };
    for (const auto& [locale, input, style, expected] : rows)
        EXPECT_EQ(Rewrite(locale, input, style), expected) << locale << " " << style;
    for (const char* bad : {"2024-13-1", "2023-2-29", "2024-3-9 trailing"})
        EXPECT_EQ(Rewrite("en_US", bad), "<no date>") << "'" << bad << "'";
    CFRef<CFLocaleRef> locale(CFLocaleCreate(nullptr, CFSTR("en_US")));
    EXPECT_EQ(CFDateFormatterCreate(nullptr, locale.get(), 9, 0), nullptr); // no such style
}

} // namespace
