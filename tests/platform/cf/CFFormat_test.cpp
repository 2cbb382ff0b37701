// The format engine: numbers as the C library writes them, the text and object directives,
// positional arguments, and results of every length.
#include "tests/platform/CFTestSupport.h"

#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdio>

using namespace cftest;

namespace {

std::u16string Widen(const std::string& s) {
    return std::u16string(s.begin(), s.end());
}

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
    return Widen(buffer);
}

TEST(CFFormat, NumbersMatchTheCLibrary) {
#define ROW(...) EXPECT_EQ(Format(__VA_ARGS__), Libc(__VA_ARGS__)) << #__VA_ARGS__
    ROW("%d|%i|%d|%u|%u", -2147483647 - 1, -1, 2147483647, 0u, 4294967295u);
    ROW("%x %X %o %#x %#o %#X", 255u, 0xBEEFu, 8u, 255u, 8u, 0u);
    ROW("%5d|%-5d|%05d|%+d|% d|%+d", 42, 42, 42, 42, 42, -3);
    ROW("%.3d|%8.3d|%-8.3d|", 7, 7, -7);
    ROW("%*d|%-*d|%.*d|%*d|", 6, 1, 6, 2, 4, 3, -6, 9);
    ROW("%hhd %hhu %hd %hu", 300, 300, 70000, 70000);
    ROW("%ld %lu %lx", -1L, ~0UL, 0xFFFFFFFFFFUL);
    ROW("%lld %llu %qd", -9000000000LL, 18000000000000000000ULL, 5LL);
    ROW("%jd %zu %td", intmax_t(-3), size_t(12), ptrdiff_t(-4));
    ROW("%f %F %e %E", 3.25, 2.5, 12345.678, 0.000123);
    ROW("%g %G %g", 0.0001, 1e20, 100000.0);
    ROW("%.2f|%10.4f|%-10.1e|%010.3f", 3.14159, 2.71828, 1.5, -1.5);
    ROW("%a %A %Lf %Lg", 1.0, 0.5, 1.25L, 3.5L);
    ROW("%+.0f %#.0f", 2.5, 3.0);
    ROW("%p", reinterpret_cast<void*>(0x1234));
    ROW("100%% sure %d%%", 5);
    ROW("%3$d %1$d %2$d", 1, 2, 3);
#undef ROW
}

TEST(CFFormat, TextAndObjectDirectives) {
    const UniChar wide[] = {u'p', u'\u00E9', u'\u4E2D', 0};
    Str cf(CFStringCreateWithCString(nullptr, "cf\xC3\xA9", kCFStringEncodingUTF8));
    int twelve = 12;
    CFRef<CFNumberRef> number(CFNumberCreate(nullptr, kCFNumberIntType, &twelve));
    struct Row {
        std::u16string got, expect;
    } rows[] = {
        {Format("[%S|%5S|%-5S|%.2S]", wide, wide, wide, wide),
         u"[p\u00E9\u4E2D|  p\u00E9\u4E2D|p\u00E9\u4E2D  |p\u00E9]"},
        {Format("%@!|%6@|%-6@|", cf.get(), cf.get(), cf.get()),
         u"cf\u00E9!|   cf\u00E9|cf\u00E9   |"},
        {Format("%s|%s", "caf\xC3\xA9", "caf\x8E"),
         u"caf\u00E9|caf\u00E9"}, // MacRoman if not UTF-8
        {Format("[%-6s|%.3s|%6s]", "ab", "abcdef", "ab"), u"[ab    |abc|    ab]"},
        {Format("%c%c[%3c]", 'a', '/', 'z'), u"a/[  z]"},
        {Format("%C|%lc|%ls", 0x4E2D, 0x1F600, L"w\u00E9"), u"\u4E2D|\U0001F600|w\u00E9"},
        {Format("%s|%S|%@", static_cast<char*>(nullptr), static_cast<UniChar*>(nullptr),
                static_cast<CFTypeRef>(nullptr)),
         u"(null)|(null)|(null)"},
        {Format("%s%c%s(%d)%s", "/tmp", 0x2F, "name ", 2, ".txt"), u"/tmp/name (2).txt"},
        {Format("[%@]|%@|%@", number.get(), kCFBooleanTrue, kCFBooleanFalse), u"[12]|true|false"},
        {Format("%%s|100%"), u"%s|100%"}, // a lone percent at the end stays
        {Format("%k|%d", 5), u"%k|5"},    // an unknown directive stays, takes no argument
        {Format("%2$s %1$S", wide, "x"), u"x p\u00E9\u4E2D"},
        {Format("cost $%d|%d$ and %s$", 5, 7, "x"), u"cost $5|7$ and x$"}, // "$" in the text
        {Format("$%%$%d$|%5$", 3, 1), u"$%$3$|%5$"},
        {Format("$%2$d %1$d$", 1, 2), u"$2 1$"},
        {Format("%1$d %d", 1, 2), u"<none>"}, // positional and sequential mixed
        {Format("%d %1$d", 1, 2), u"<none>"},
        {Format("%2$d", 1, 2), u"<none>"}, // argument 1 never named
    };
    for (const Row& row : rows) {
        EXPECT_EQ(row.got, row.expect) << "row " << &row - rows;
    }
    EXPECT_EQ(CFStringCreateWithFormat(nullptr, nullptr, nullptr), nullptr);
}

// Results of every length from empty to several hundred units cross whatever storage sizes
// the engine starts with: each comes back whole, whether it ends in a 16-bit piece, an 8-bit
// piece or a number, from every alignment of the 16-bit text, and appended as well.
TEST(CFFormat, ResultsOfEveryLength) {
    for (size_t len = 0; len <= 600; ++len) {
        std::u16string text;
        std::string bytes;
        for (size_t i = 0; i < len; ++i) {
            text += static_cast<char16_t>(i % 97 == 5 ? u'\u00E9' : u'a' + i % 26);
            bytes += i % 97 == 5 ? std::string("\xC3\xA9") : std::string(1, char('a' + i % 26));
        }
        EXPECT_EQ(Format("%S%d", text.c_str(), 7), text + u"7") << len;
        EXPECT_EQ(Format("%s|", bytes.c_str()), text + u"|") << len;
        EXPECT_EQ(Format("%d%S", 7, text.c_str()), u"7" + text) << len;
        CFRef<CFMutableStringRef> m(CFStringCreateMutableCopy(nullptr, 0, CFSTR("<")));
        CFStringAppendFormat(m.get(), nullptr, CFSTR("%S>"), text.c_str());
        EXPECT_EQ(Units(m.get()), u"<" + text + u">") << len;
    }
    const std::u16string pool = u"abcdefghijklmnopqrstuvwxyz0123456789";
    for (size_t offset = 0; offset < 8; ++offset)
        for (size_t len = 0; len < 24; ++len) {
            std::u16string buf = pool;
            buf[offset + len] = 0;
            EXPECT_EQ(Format("<%S>", buf.data() + offset), u"<" + pool.substr(offset, len) + u">")
                << "offset " << offset << " length " << len;
        }
    EXPECT_EQ(Format("%300d", 5), std::u16string(299, u' ') + u"5");
}

} // namespace
