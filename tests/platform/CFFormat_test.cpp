#include "platform/CoreFoundation.h"

#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdio>
#include <string>

namespace {

std::u16string units(CFStringRef s) {
    std::u16string out(static_cast<size_t>(CFStringGetLength(s)), u'\0');
    CFStringGetCharacters(s, CFRangeMake(0, CFStringGetLength(s)), out.data());
    return out;
}

std::u16string widen(const std::string& s) {
    std::u16string out;
    for (unsigned char c : s)
        out.push_back(c);
    return out;
}

std::string narrow(const std::u16string& s) {
    std::string out;
    for (char16_t c : s)
        out += c < 0x80 ? static_cast<char>(c) : '?';
    return out;
}

// Formats with our engine (format given as UTF-8) and, where asked, with snprintf.
struct Both {
    std::u16string ours;
    std::u16string libc;
    bool ok = false;
};

Both both(const char* format, ...) {
    Both r;
    va_list ap, ap2;
    va_start(ap, format);
    va_copy(ap2, ap);
    CFStringRef f = CFStringCreateWithCString(nullptr, format, kCFStringEncodingUTF8);
    CFStringRef s = CFStringCreateWithFormatAndArguments(nullptr, nullptr, f, ap);
    r.ok = s != nullptr;
    if (s)
        r.ours = units(s);
    char buf[512];
    std::vsnprintf(buf, sizeof buf, format, ap2);
    r.libc = widen(buf);
    CFRelease(f);
    if (s)
        CFRelease(s);
    va_end(ap2);
    va_end(ap);
    return r;
}

std::u16string ours(const char* format, ...) {
    va_list ap;
    va_start(ap, format);
    CFStringRef f = CFStringCreateWithCString(nullptr, format, kCFStringEncodingUTF8);
    CFStringRef s = CFStringCreateWithFormatAndArguments(nullptr, nullptr, f, ap);
    va_end(ap);
    CFRelease(f);
    if (s == nullptr)
        return u"<NULL>";
    std::u16string out = units(s);
    CFRelease(s);
    return out;
}

} // namespace

// Numeric directives coincide with the C library's printf: compare row by row.
TEST(CFFormat, NumbersMatchSnprintf) {
#define ROW(...)                                                                                   \
    do {                                                                                           \
        Both b = both(__VA_ARGS__);                                                                \
        EXPECT_TRUE(b.ok) << #__VA_ARGS__;                                                         \
        EXPECT_EQ(b.ours, b.libc) << #__VA_ARGS__ << " gave " << narrow(b.ours);                   \
    } while (0)
    ROW("%d", 7);
    ROW("%d", -2147483647 - 1);
    ROW("%i|%u", -5, 4000000000u);
    ROW("%x %X %o", 255u, 0xBEEFu, 8u);
    ROW("%d|%i|%d|%u|%u|%x|%X|%x", 0, -1, 2147483647, 0u, 4294967295u, 0u, 4294967295u, 10u);
    ROW("%#x %#o %#X", 255u, 8u, 0u);
    ROW("%5d|%-5d|%05d|%+d|% d", 42, 42, 42, 42, 42);
    ROW("%.3d|%8.3d|%-8.3d|", 7, 7, -7);
    ROW("%*d|%-*d|%.*d", 6, 1, 6, 2, 4, 3);
    ROW("%*d|", -6, 9); // negative * width: left aligned
    ROW("%hhd %hhu %hd %hu", 300, 300, 70000, 70000);
    ROW("%ld %lu %lx", -1L, ~0UL, 0xFFFFFFFFFFUL);
    ROW("%lld %llu %qd", -9000000000LL, 18000000000000000000ULL, 5LL);
    ROW("%jd %zu %td", static_cast<intmax_t>(-3), static_cast<size_t>(12),
        static_cast<ptrdiff_t>(-4));
    ROW("%f %F %e %E", 3.25, 2.5, 12345.678, 0.000123);
    ROW("%g %G %g", 0.0001, 1e20, 100000.0);
    ROW("%.2f|%10.4f|%-10.1e|%010.3f", 3.14159, 2.71828, 1.5, -1.5);
    ROW("%a %A", 1.0, 0.5);
    ROW("%Lf %Lg", 1.25L, 3.5L);
    ROW("%+.0f %#.0f", 2.5, 3.0);
    ROW("%p", reinterpret_cast<void*>(0x1234));
    ROW("100%% sure %d%%", 5);
    ROW("no directives at all");
    ROW("%3$d %1$d %2$d", 1, 2, 3);
#undef ROW
}

TEST(CFFormat, TextDirectives) {
    const UniChar wide[] = {u'p', u'\u00E9', u'\u4E2D', 0};
    CFStringRef cf = CFStringCreateWithCString(nullptr, "cf\xC3\xA9", kCFStringEncodingUTF8);
    struct Row {
        std::u16string got, expect;
    };
    const Row rows[] = {
        {ours("%S", wide), u"p\u00E9\u4E2D"},
        {ours("[%5S|%-5S|%.2S]", wide, wide, wide), u"[  p\u00E9\u4E2D|p\u00E9\u4E2D  |p\u00E9]"},
        {ours("%@!", cf), u"cf\u00E9!"},
        {ours("[%6@]", cf), u"[   cf\u00E9]"},
        {ours("%s", "caf\xC3\xA9"), u"caf\u00E9"},
        {ours("%s", "caf\x8E"), u"caf\u00E9"}, // not UTF-8: read as MacRoman
        {ours("[%-6s|%.3s]", "ab", "abcdef"), u"[ab    |abc]"},
        {ours("%c%c", 'a', '/'), u"a/"},
        {ours("[%3c]", 'z'), u"[  z]"},
        {ours("%C", 0x4E2D), u"\u4E2D"},
        {ours("%lc", 0x1F600), u"\U0001F600"},
        {ours("%ls", L"w\u00E9"), u"w\u00E9"},
        {ours("%s|%S|%@", static_cast<char*>(nullptr), static_cast<UniChar*>(nullptr),
              static_cast<CFTypeRef>(nullptr)),
         u"(null)|(null)|(null)"},
        {ours("%s%d", "dir", 7), u"dir7"},
        {ours("%s%c%s", "/tmp", 0x2F, "file"), u"/tmp/file"},
        {ours("%s%c%s(%d)%s", "/tmp", 0x2F, "name ", 2, ".txt"), u"/tmp/name (2).txt"},
        {ours("%@%u", cf, 42u), u"cf\u00E942"},
        {ours("%%s"), u"%s"},
        {ours("100%"), u"100%"},     // a lone percent at the end stays
        {ours("%k|%d", 5), u"%k|5"}, // an unknown directive stays and takes no argument
        {ours("%2$s %1$S", wide, "x"), u"x p\u00E9\u4E2D"},
    };
    for (size_t i = 0; i < sizeof rows / sizeof rows[0]; ++i)
        EXPECT_EQ(rows[i].got, rows[i].expect) << "row " << i << " gave " << narrow(rows[i].got);
    CFRelease(cf);
}

TEST(CFFormat, ObjectsDescribeThemselves) {
    int value = 12;
    CFNumberRef n = CFNumberCreate(nullptr, kCFNumberIntType, &value);
    EXPECT_EQ(ours("[%@]", n), u"[12]");
    CFRelease(n);
    EXPECT_EQ(ours("%@", kCFBooleanTrue), u"true");
}

TEST(CFFormat, BadFormats) {
    va_list dummy{};
    EXPECT_EQ(CFStringCreateWithFormat(nullptr, nullptr, nullptr), nullptr);
    (void)dummy;
    EXPECT_EQ(ours("%1$d %d", 1, 2), u"<NULL>"); // positional and sequential mixed
    EXPECT_EQ(ours("%2$d", 1, 2), u"<NULL>");    // argument 1 never named
    EXPECT_EQ(ours("%d %1$d", 1, 2), u"<NULL>"); // mixed, the named one last
}

// A "$" outside a directive is text: the arguments stay sequential.
TEST(CFFormat, DollarSignsInTheTextAreText) {
    EXPECT_EQ(ours("cost $%d", 5), u"cost $5");
    EXPECT_EQ(ours("%d$ and %s$", 7, "x"), u"7$ and x$");
    EXPECT_EQ(ours("$%%$%d$", 3), u"$%$3$");
    EXPECT_EQ(ours("%5$", 1), u"%5$"); // no conversion: kept as written
    EXPECT_EQ(ours("$%2$d %1$d$", 1, 2), u"$2 1$");
}

TEST(CFFormat, AppendFormatAndLongOutput) {
    CFMutableStringRef m = CFStringCreateMutableCopy(nullptr, 0, CFSTR("pid="));
    CFStringAppendFormat(m, nullptr, CFSTR("%d;%S"), 123, u"x");
    EXPECT_EQ(units(m), u"pid=123;x");
    CFRelease(m);

    // Past the engine's stack buffer, and a number wider than its small buffer.
    std::string big(3000, 'q');
    std::u16string got = ours("%s|%300d", big.c_str(), 5);
    ASSERT_EQ(got.size(), 3000u + 1 + 300);
    EXPECT_EQ(got.substr(0, 3000), widen(big));
    EXPECT_EQ(got.back(), u'5');
    EXPECT_EQ(got[3001], u' ');
}

TEST(CFFormat, SixteenBitStringsOfEveryLengthAndAlignment) {
    std::u16string pool(64, u'x');
    for (size_t offset = 0; offset < 8; ++offset) {
        for (size_t len = 0; len < 24; ++len) {
            std::u16string buf = pool;
            for (size_t i = 0; i < len; ++i)
                buf[offset + i] = static_cast<char16_t>(u'a' + i);
            buf[offset + len] = 0;
            EXPECT_EQ(ours("<%S>", buf.data() + offset), u"<" + buf.substr(offset, len) + u">")
                << "offset " << offset << " length " << len;
        }
    }
}

// Results of every length from empty to several hundred units, so that the text crosses
// whatever storage sizes the engine starts with: each comes back whole, whether it ends in a
// 16-bit piece, an 8-bit piece or a number, and the same texts append to a mutable string.
TEST(CFFormat, ResultsOfEveryLengthUpToSeveralHundredUnits) {
    for (size_t len = 0; len <= 600; ++len) {
        std::u16string text;
        std::string bytes;
        for (size_t i = 0; i < len; ++i) {
            text += static_cast<char16_t>(i % 97 == 5 ? u'\u00E9' : u'a' + i % 26);
            bytes += i % 97 == 5 ? std::string("\xC3\xA9") : std::string(1, char('a' + i % 26));
        }
        EXPECT_EQ(ours("%S%d", text.c_str(), 7), text + u"7") << len;
        EXPECT_EQ(ours("%s|", bytes.c_str()), text + u"|") << len;
        EXPECT_EQ(ours("%d%S", 7, text.c_str()), u"7" + text) << len;

        CFMutableStringRef m = CFStringCreateMutableCopy(nullptr, 0, CFSTR("<"));
        CFStringAppendFormat(m, nullptr, CFSTR("%S>"), text.c_str());
        EXPECT_EQ(units(m), u"<" + text + u">") << len;
        CFRelease(m);
    }
}
