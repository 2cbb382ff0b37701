// The format engine: numbers as the C library writes them, the text and object directives,
// positional arguments, and widths up to the cap.
#include "tests/platform/CFTestSupport.h"

#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdio>

using namespace cftest;

namespace {

// Formats with the engine, the format given as UTF-8; u"<none>" when it refuses.
std::u16string Format(const char* format, ...) {
    va_list ap;
    va_start(ap, format);
    Str f(CFStringCreateWithCString(nullptr, format, kCFStringEncodingUTF8));
    std::u16string out = Take(CFStringCreateWithFormatAndArguments(nullptr, nullptr, f.get(), ap));
    va_end(ap);
    return out;
}

std::u16string Libc(const char* format, ...) {
    va_list ap;
    va_start(ap, format);
    char buffer[512];
    std::vsnprintf(buffer, sizeof buffer, format, ap);
    va_end(ap);
    return testsupport::Widen(buffer);
}

TEST(CFFormat, NumbersMatchTheCLibrary) {
#define ROW(...) EXPECT_EQ(Format(__VA_ARGS__), Libc(__VA_ARGS__)) << #__VA_ARGS__
    ROW("%d|%i|%u|%x %X %o %#x %#o %#X", -2147483647 - 1, -1, 4294967295u, 255u, 0xBEEFu, 8u, 255u,
        8u, 0u);
    ROW("%5d|%-5d|%05d|%+d|% d|%.3d|%-8.3d|", 42, 42, 42, 42, 42, 7, -7);
    ROW("%*d|%-*d|%.*d|%*d|", 6, 1, 6, 2, 4, 3, -6, 9);
    ROW("%hhd %hu %ld %lx %lld %qd %jd %zu %td", 300, 70000, -1L, 0xFFFFFFFFFFUL, -9000000000LL,
        5LL, intmax_t(-3), size_t(12), ptrdiff_t(-4));
    ROW("%f %e %E %g %G|%10.4f|%-10.1e|%010.3f", 3.25, 12345.678, 0.000123, 0.0001, 1e20, 2.71828,
        1.5, -1.5);
    ROW("%a %Lf %+.0f %#.0f %p", 1.0, 1.25L, 2.5, 3.0, reinterpret_cast<void*>(0x1234));
    ROW("100%% %3$d %1$d %2$d%%", 1, 2, 3);
#undef ROW
}

TEST(CFFormat, TextAndObjectDirectives) {
    const UniChar wide[] = {u'p', u'\u00E9', u'\u4E2D', 0};
    Str cf(CFStringCreateWithCString(nullptr, "cf\xC3\xA9", kCFStringEncodingUTF8));
    const std::pair<std::u16string, std::u16string> rows[] = {
        {Format("[%S|%5S|%-5S|%.2S]", wide, wide, wide, wide),
         u"[p\u00E9\u4E2D|  p\u00E9\u4E2D|p\u00E9\u4E2D  |p\u00E9]"},
        {Format("%@!|%6@|%-6@|", cf.get(), cf.get(), cf.get()),
         u"cf\u00E9!|   cf\u00E9|cf\u00E9   |"},
        {Format("%s|%s|[%-4s|%.3s|%4s]", "caf\xC3\xA9", "caf\x8E", "ab", "abcdef", "ab"),
         u"caf\u00E9|caf\u00E9|[ab  |abc|  ab]"}, // MacRoman if not UTF-8
        {Format("%c%c[%3c]|%C|%lc|%ls", 'a', '/', 'z', 0x4E2D, 0x1F600, L"w\u00E9"),
         u"a/[  z]|\u4E2D|\U0001F600|w\u00E9"},
        {Format("%s|%S|%@", static_cast<char*>(nullptr), static_cast<UniChar*>(nullptr),
                static_cast<CFTypeRef>(nullptr)),
         u"(null)|(null)|(null)"},
        {Format("%lc|%lc", 0xFFFF, 0x110000), u"\uFFFF|\uFFFD"},
        {Format("%d", -1234567), u"-1234567"},          // no flags or width: the short way
        {Format("%%s|%k|%d|100%", 5), u"%s|%k|5|100%"}, // unknown or cut short: kept as text
        {Format("cost $%d|%d$|$%%$%5$", 5, 7), u"cost $5|7$|$%$%5$"}, // "$" in the text
        {Format("%1$d %d", 1, 2), u"<none>"}, // positional and sequential mixed
        {Format("%2$d", 1, 2), u"<none>"},    // argument 1 never named
        {Format("%2000000d", 1), std::u16string((1 << 20) - 1, u' ') + u"1"}, // capped
    };
    for (const auto& [got, expect] : rows)
        EXPECT_EQ(got, expect);
}

} // namespace
