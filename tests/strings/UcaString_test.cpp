// The zero-terminated 16-bit string functions: copying, narrowing and widening with their exact
// bytes and units (sentinels show what is not written), collation options and bounds, literal
// search, numbers, the printf and scanf families, and the strict UTF-32 conversions.
#include "strings/UcaString.h"

#include "strings/ConvertUTF.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <tuple>

namespace {

constexpr char16_t kFill = 0xBEEF;
template <size_t N> void fill(char16_t (&buf)[N]) {
    std::fill(buf, buf + N, kFill);
}

TEST(UcaString, CopyReverseAndUnits) {
    char16_t dst[8];
    fill(dst);
    EXPECT_EQ(ucancpy(dst, u"ab", 4), dst); // zeros up to n
    EXPECT_EQ(std::u16string(dst, 5), std::u16string(u"ab\0\0\xBEEF", 5));
    ucancpy(dst, u"abcdefg", 5); // no terminator when src has n units or more
    EXPECT_EQ(std::u16string(dst, 6), u"abcde\xBEEF");
    fill(dst);
    EXPECT_EQ(ucacpy(dst, u"hey"), dst);
    EXPECT_EQ(std::u16string(dst, 5), std::u16string(u"hey\0\xBEEF", 5));
    std::u16string odd(u"abc"), even(u"abcd");
    EXPECT_EQ(ucareverse(odd.data()), odd.data());
    EXPECT_EQ(odd + ucareverse(even.data()), u"cbadcba");
    EXPECT_EQ(ucalen(u"abcdefghijklmnopq"), 17u);
    const unsigned short twin[] = {0xD83D, 0, 0x41};
    EXPECT_EQ(ucalen(twin), 1u);
    EXPECT_TRUE(isucdigit(0x30) && isucdigit(0x39));
    EXPECT_FALSE(isucdigit(0x2F) || isucdigit(0x3A) || isucdigit(0xFF11));
}

TEST(UcaString, NarrowingAndWidening) {
    char16_t wide[6];
    fill(wide);
    CAtoUCA("ab\xE9", wide, 5); // min(strlen, n) units, no terminator
    EXPECT_EQ(std::u16string(wide, 4), u"ab\u00E9\xBEEF");
    CAtoUCA("xyz", wide, 2);
    CAtoUCA("q", wide, 0);
    CAtoUCA(static_cast<const char*>(nullptr), wide, 3);
    EXPECT_EQ(std::u16string(wide, 4), u"xy\u00E9\xBEEF");
    char narrow[6];
    memset(narrow, 'Z', sizeof narrow);
    const char16_t units[] = {0x41, 0xFF, 0x100, 0, 0x42};
    UCAtoCA(units, narrow, 5); // exactly n units, then a zero
    EXPECT_EQ(0, memcmp(narrow, "A\xFF?\0B\0", 6));
    narrow[0] = 'Z';
    UCAtoCA(units, narrow, 0);
    EXPECT_EQ(narrow[0], 'Z');
    std::unique_ptr<char16_t[]> none(makeUCAFromCA(nullptr));
    EXPECT_EQ(none[0], 0);
}

TEST(UcaString, ComparisonsSearchAndNumbers) {
    const char16_t* hay = u"path/to/File.txt";
    EXPECT_EQ(ucastr(hay, u""), hay);
    EXPECT_EQ(ucastr(hay, static_cast<const char16_t*>(nullptr)), hay);
    EXPECT_EQ(ucastr(hay, u"to"), hay + 5);
    EXPECT_EQ(ucastr(hay, u"file"), nullptr); // case-sensitive
    EXPECT_EQ(ucastr(static_cast<const char16_t*>(nullptr), u"a"), nullptr);
    EXPECT_EQ(ucatoi(u"  -12ab"), -12);
    EXPECT_EQ(ucatoi(u"x12") + ucatoi(static_cast<const char16_t*>(nullptr)), 0);
    EXPECT_EQ(ucatof(u"3.5e2x"), 350.0);
    EXPECT_EQ(ucatof(static_cast<const char16_t*>(nullptr)), 0.0);
    for (const auto& [value, radix, want] :
         {std::tuple{255, 16, u"ff"}, {-1, 8, u"37777777777"}, {INT32_MIN, 10, u"-2147483648"}}) {
        std::unique_ptr<char16_t[]> twelve(new char16_t[12]); // exactly what fits
        EXPECT_EQ(itouca(value, twelve.get(), radix), twelve.get());
        EXPECT_EQ(std::u16string(twelve.get()), want);
    }
    char16_t buf[4];
    fill(buf);
    EXPECT_EQ(itouca(5, buf, 2), nullptr);
    EXPECT_EQ(itouca(5, static_cast<char16_t*>(nullptr), 10), nullptr);
    EXPECT_EQ(buf[0], kFill);
    EXPECT_EQ(ucaicmp(u"abc", u"ABC") + ucaicoll(u"abc", u"ABC"), 0);
    EXPECT_NE(ucacmp(u"abc", u"ABC"), 0);
    EXPECT_NE(ucacoll(u"abc", u"ABC"), 0);
    EXPECT_EQ(ucancmp(u"abcd", u"abxy", 2) + ucancoll(u"ab", u"abc", 2), 0);
    EXPECT_EQ(ucanicmp(u"ABcd", u"abXY", 2) + ucanicoll(u"ABc", u"abd", 2), 0);
    EXPECT_NE(ucancmp(u"abcd", u"abxy", 3), 0);
    EXPECT_NE(ucancmp(u"ab", u"abc", 3), 0); // each side ends at its terminator
    // Composition and width are ignored, punctuation is not.
    EXPECT_EQ(ucacmp(u"caf\u00E9", u"cafe\u0301") + ucacmp(u"\uFF21", u"A"), 0);
    EXPECT_NE(ucaicmp(u"a.b", u"ab"), 0);
    EXPECT_LT(ucacmp(static_cast<const char16_t*>(nullptr), u"a"), 0);
    EXPECT_GT(ucacmp(u"a", static_cast<const char16_t*>(nullptr)), 0);
}

TEST(UcaString, PrintfFamily) {
    char16_t buf[16];
    fill(buf);
    EXPECT_EQ(sucaprintf(buf, u"%s|%S|%d", "8", u"w\u00E9", -7), 7);
    EXPECT_EQ(std::u16string(buf, 9), std::u16string(u"8|w\u00E9|-7\0\xBEEF", 9));
    // At most size - 1 units and a zero; the result is size whatever the text's length.
    for (size_t size : {1u, 3u, 4u, 5u}) {
        fill(buf);
        EXPECT_EQ(snucaprintf(buf, size, u"%S", u"abc"), int(size));
        const size_t k = std::min<size_t>(size - 1, 3);
        EXPECT_EQ(std::u16string(buf, k + 2), std::u16string(u"abc", k) + u'\0' + char16_t(kFill))
            << size;
    }
    fill(buf);
    EXPECT_EQ(snucaprintf(buf, 0, u"abc"), -1);
    EXPECT_EQ(sucaprintf(buf, static_cast<const char16_t*>(nullptr)), -1);
    EXPECT_EQ(snucaprintf(buf, 4, static_cast<const char16_t*>(nullptr)), -1);
    EXPECT_EQ(buf[0], kFill);
    EXPECT_EQ(sucaprintf(static_cast<char16_t*>(nullptr), u"x"), -1);

    FILE* f = tmpfile();
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(fucaprintf(f, u"%S=%d", u"\u20AC", 5), 3); // raw units, no terminator
    EXPECT_EQ(fucaprintf(f, static_cast<const char16_t*>(nullptr)), -1);
    rewind(f);
    char16_t back[8];
    ASSERT_EQ(fread(back, sizeof(char16_t), 8, f), 3u);
    fclose(f);
    EXPECT_EQ(std::u16string(back, 3), u"\u20AC=5");
    EXPECT_EQ(fucaprintf(static_cast<FILE*>(nullptr), u"x"), -1);
    // Scanning widens to the C library's wide strings and hands over to its scanner.
    int i = 0;
    wchar_t wc = 0;
    EXPECT_EQ(sucascanf(u"42 \u00E9", u"%d %lc", &i, &wc), 2);
    EXPECT_EQ(i * 1000 + int(wc), 42233);
    EXPECT_EQ(sucascanf(u"", u"%d", &i), EOF);
}

TEST(UcaString, StrictUtf32Conversions) {
    char16_t dst[4];
    fill(dst);
    EXPECT_EQ(WCA32toUCA(L"a\U0001F600", dst, 2), targetExhausted); // n units for n characters
    EXPECT_EQ(std::u16string(dst, 2), u"a\xBEEF");
    EXPECT_EQ(WCA32toUCA(L"ab", dst, -3), -3);
    const wchar_t tooBig[] = {0x110000, 0};
    EXPECT_EQ(WCA32toUCA(tooBig, dst, 1), sourceIllegal);
    wchar_t w[3] = {7, 7, 7};
    EXPECT_EQ(UCAtoWCA32(u"\U0001F600", w, 2), conversionOK);
    EXPECT_EQ(std::wstring(w, 2), std::wstring({wchar_t(0x1F600), 7}));
    EXPECT_EQ(UCAtoWCA32(u"x", w, -1), -1);
    // Into blocks of wcslen + 1 units: a pair takes the room of what follows, which is cut off,
    // and conversion stops at an illegal value; the zero comes right after what was converted.
    const wchar_t bad[] = {'a', 0xD800, 'b', 0};
    for (auto [src, want] :
         {std::pair<const wchar_t*, std::u16string>{L"a\U0001F600b", u"a\U0001F600"},
          {bad, u"a"},
          {L"", u""},
          {nullptr, u""}}) {
        std::unique_ptr<char16_t[]> u(makeUCAFromWCA32(src));
        EXPECT_EQ(std::u16string(u.get()), want);
    }
    for (auto [src, want] :
         {std::pair<const char16_t*, std::wstring>{u"h\U0001F600", L"h\U0001F600"},
          {u"a\xDC00z", L"a"},
          {nullptr, L""}}) {
        wchar_t* w32 = makeWCA32FromUCA(src);
        EXPECT_EQ(std::wstring(w32), want);
        freeWCA32Str(w32);
    }
}

} // namespace
