#include "strings/UcaString.h"

#include "strings/ConvertUTF.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include <unistd.h>

namespace {

TEST(UcaLength, CountsUnitsBeforeFirstZeroForBothUnitTypes) {
    EXPECT_EQ(ucalen(u""), 0u);
    EXPECT_EQ(ucalen(u"abc"), 3u);
    const char16_t embedded[] = {u'a', 0, u'b', 0};
    EXPECT_EQ(ucalen(embedded), 1u);
    const unsigned short twin[] = {0xD83D, 0xDE00, 0};
    EXPECT_EQ(ucalen(twin), 2u);
}

TEST(UcaNarrowWiden, CAtoUCAWidensAtMostNBytesWithoutTerminator) {
    struct Row {
        const char* src;
        long n;
        size_t written;
    } rows[] = {{"ab\xE9", 5, 3}, {"abcdef", 4, 4}, {"abc", 0, 0}, {"abc", -3, 0}, {"", 4, 0}};
    for (const Row& r : rows) {
        char16_t dst[8];
        for (char16_t& c : dst)
            c = 0xBEEF;
        CAtoUCA(r.src, dst, r.n);
        for (size_t i = 0; i < 8; ++i) {
            char16_t want = i < r.written ? static_cast<unsigned char>(r.src[i]) : 0xBEEF;
            EXPECT_EQ(dst[i], want) << "src=" << r.src << " n=" << r.n << " i=" << i;
        }
    }
    unsigned short twin[3] = {7, 7, 7};
    CAtoUCA("\xFF", twin, 3);
    EXPECT_EQ(twin[0], 0xFF);
    EXPECT_EQ(twin[1], 7);
    CAtoUCA(static_cast<const char*>(nullptr), twin, 3);
    EXPECT_EQ(twin[0], 0xFF);
}

TEST(UcaNarrowWiden, UCAtoCANarrowsExactlyNUnitsAndTerminates) {
    const char16_t src[] = {0x41, 0xFF, 0x100, 0x20AC, 0};
    char dst[8];
    memset(dst, 'Z', sizeof dst);
    UCAtoCA(src, dst, 4);
    EXPECT_EQ(0, memcmp(dst, "A\xFF??\0ZZZ", 8));
    memset(dst, 'Z', sizeof dst);
    UCAtoCA(src, dst, 0);
    EXPECT_EQ(dst[0], 'Z');
    // Exactly n units, even past a zero unit.
    const unsigned short withZero[] = {0x61, 0, 0x62};
    memset(dst, 'Z', sizeof dst);
    UCAtoCA(withZero, dst, 3);
    EXPECT_EQ(0, memcmp(dst, "a\0b\0Z", 5));
}

TEST(UcaNarrowWiden, MakeFunctionsAllocateExactBlocks) {
    std::unique_ptr<char16_t[]> w(makeUCAFromCA("h\xE9!"));
    EXPECT_EQ(std::u16string(w.get()), u"h\u00E9!");
    std::unique_ptr<char16_t[]> e(makeUCAFromCA(""));
    EXPECT_EQ(e[0], 0);
    std::unique_ptr<unsigned short[]> t(makeUCAFromCA<unsigned short>("x"));
    EXPECT_EQ(t[0], 'x');
    EXPECT_EQ(t[1], 0);

    EXPECT_EQ(makeCAFromUCA(u""), nullptr);
    std::unique_ptr<char[]> n(makeCAFromUCA(u"A\u00FF\u0100"));
    EXPECT_STREQ(n.get(), "A\xFF?");
}

} // namespace

namespace {

constexpr char16_t kFill = 0xBEEF;

template <size_t N> void fill(char16_t (&buf)[N]) {
    for (char16_t& c : buf)
        c = kFill;
}

TEST(UcaCopy, NCopyPadsWithZerosAndOmitsTheTerminatorWhenFull) {
    struct Row {
        const char16_t* src;
        size_t n;
        std::u16string want; // exactly the n units written
    } rows[] = {
        {u"ab", 5, std::u16string(u"ab\0\0\0", 5)},
        {u"abcdefg", 5, u"abcde"},
        {u"abcde", 5, u"abcde"},
        {u"", 3, std::u16string(3, u'\0')},
        {u"abc", 0, u""},
    };
    for (const Row& r : rows) {
        char16_t dst[8];
        fill(dst);
        EXPECT_EQ(ucancpy(dst, r.src, r.n), dst);
        EXPECT_EQ(std::u16string(dst, r.n), r.want) << "n=" << r.n;
        EXPECT_EQ(dst[r.n], kFill) << "wrote past n=" << r.n;
    }
    char16_t dst[6];
    fill(dst);
    EXPECT_EQ(ucacpy(dst, u"hey"), dst);
    EXPECT_EQ(std::u16string(dst, 4), std::u16string(u"hey\0", 4));
    EXPECT_EQ(dst[4], kFill);
    unsigned short twin[4] = {9, 9, 9, 9};
    const unsigned short src[] = {'x', 0};
    ucancpy(twin, src, 3);
    EXPECT_EQ(twin[0], 'x');
    EXPECT_EQ(twin[1], 0);
    EXPECT_EQ(twin[2], 0);
    EXPECT_EQ(twin[3], 9);
}

TEST(UcaCopy, ReverseDigitsAndUnitOfByte) {
    const char16_t* cases[][2] = {{u"", u""},
                                  {u"a", u"a"},
                                  {u"ab", u"ba"},
                                  {u"abc", u"cba"},
                                  {u"\U0001F600x", u"x\xDE00\xD83D"}};
    for (auto& c : cases) {
        std::u16string s(c[0]);
        s.push_back(0);
        EXPECT_EQ(ucareverse(s.data()), s.data());
        EXPECT_EQ(std::u16string(s.c_str()), std::u16string(c[1]));
    }
    for (unsigned c = 0; c < 0x10000; ++c)
        EXPECT_EQ(isucdigit(c), c >= u'0' && c <= u'9') << c;
    EXPECT_FALSE(isucdigit(0xFF11));
    EXPECT_EQ(makeUCHFromCH('\xE9'), 0xE9);
    EXPECT_EQ(makeUCHFromCH('A'), 0x41);
}

TEST(UcaCompare, CollationOptionsAndBounds) {
    EXPECT_EQ(ucaicmp(u"abc", u"ABC"), 0);
    EXPECT_EQ(ucaicoll(u"abc", u"ABC"), 0);
    EXPECT_NE(ucacmp(u"abc", u"ABC"), 0);
    EXPECT_NE(ucacoll(u"abc", u"ABC"), 0);
    EXPECT_EQ(ucancmp(u"abcd", u"abxy", 2), 0);
    EXPECT_NE(ucancmp(u"abcd", u"abxy", 3), 0);
    EXPECT_EQ(ucanicmp(u"ABcd", u"abXY", 2), 0);
    EXPECT_EQ(ucancoll(u"ab", u"abc", 2), 0);
    EXPECT_NE(ucancmp(u"ab", u"abc", 3), 0); // each side ends at its terminator
    EXPECT_LT(ucacmp(u"apple", u"banana"), 0);
    EXPECT_GT(ucacmp(u"banana", u"apple"), 0);
    EXPECT_EQ(ucacmp(u"same", u"same"), 0);
    // Composition and width are ignored, punctuation is not.
    EXPECT_EQ(ucacmp(u"caf\u00E9", u"cafe\u0301"), 0);
    EXPECT_EQ(ucacmp(u"\uFF21", u"A"), 0);
    EXPECT_NE(ucacmp(u"a-b", u"ab"), 0);
    EXPECT_NE(ucaicmp(u"a.b", u"ab"), 0);
    // Null counts as empty; n = 0 compares nothing.
    EXPECT_EQ(ucacmp(static_cast<const char16_t*>(nullptr), u""), 0);
    EXPECT_LT(ucacmp(static_cast<const char16_t*>(nullptr), u"a"), 0);
    EXPECT_EQ(ucancmp(u"x", u"y", 0), 0);
    const unsigned short a[] = {'a', 'b', 'c', 0}, b[] = {'A', 'B', 'C', 0};
    EXPECT_EQ(ucaicmp(a, b), 0);
    EXPECT_NE(ucacmp(a, b), 0);
}

TEST(UcaSearch, FindsLiterallyAndReturnsPointersIntoTheHaystack) {
    const char16_t* hay = u"path/to/File.txt";
    EXPECT_EQ(ucastr(hay, u""), hay);
    EXPECT_EQ(ucastr(hay, static_cast<const char16_t*>(nullptr)), hay);
    EXPECT_EQ(ucastr(hay, u"to"), hay + 5);
    EXPECT_EQ(ucastr(hay, u"File.txt"), hay + 8);
    EXPECT_EQ(ucastr(hay, u"file"), nullptr); // case-sensitive
    EXPECT_EQ(ucastr(hay, u"txt2"), nullptr);
    EXPECT_EQ(ucastr(u"", u"a"), nullptr);
    EXPECT_EQ(ucastr(static_cast<const char16_t*>(nullptr), u"a"), nullptr);
    const unsigned short twinHay[] = {'a', 'b', 'c', 0}, twinNeedle[] = {'c', 0};
    EXPECT_EQ(ucastr(twinHay, twinNeedle), twinHay + 2);
}

TEST(UcaNumbers, ParseTheLeadingNumber) {
    EXPECT_EQ(ucatoi(u"42"), 42);
    EXPECT_EQ(ucatoi(u"  -12ab"), -12);
    EXPECT_EQ(ucatoi(u"x12"), 0);
    EXPECT_EQ(ucatoi(u""), 0);
    EXPECT_EQ(ucatoi(static_cast<const char16_t*>(nullptr)), 0);
    EXPECT_DOUBLE_EQ(ucatof(u"3.5e2x"), 350.0);
    EXPECT_DOUBLE_EQ(ucatof(u"-0.25"), -0.25);
    EXPECT_DOUBLE_EQ(ucatof(u"abc"), 0.0);

    struct Row {
        int value;
        int radix;
        const char16_t* want;
    } rows[] = {{255, 16, u"ff"},
                {255, 10, u"255"},
                {255, 8, u"377"},
                {-1, 16, u"ffffffff"},
                {0, 10, u"0"},
                {INT32_MIN, 10, u"-2147483648"},
                {INT32_MAX, 8, u"17777777777"}};
    for (const Row& r : rows) {
        char16_t buf[13];
        fill(buf);
        EXPECT_EQ(itouca(r.value, buf, r.radix), buf);
        EXPECT_EQ(std::u16string(buf), std::u16string(r.want)) << r.value << " radix " << r.radix;
    }
    char16_t buf[4];
    fill(buf);
    EXPECT_EQ(itouca(5, buf, 2), nullptr);
    EXPECT_EQ(itouca(5, buf, 0), nullptr);
    EXPECT_EQ(buf[0], kFill);
    EXPECT_EQ(itouca(5, static_cast<char16_t*>(nullptr), 10), nullptr);
}

TEST(UcaPrintf, IntoBuffersWithTheStatedResults) {
    char16_t buf[32];
    fill(buf);
    EXPECT_EQ(sucaprintf(buf, u"%s|%S|%d|%x", "8bit", u"w\u00E9", -7, 255u), 13);
    EXPECT_EQ(std::u16string(buf), u"8bit|w\u00E9|-7|ff");
    EXPECT_EQ(buf[14], kFill);

    struct Row {
        size_t size;
        std::u16string want; // what lands in the buffer, terminator included
    } rows[] = {
        {4, std::u16string(u"abc\0", 4)},    {1, std::u16string(1, u'\0')},
        {6, std::u16string(u"abcde\0", 6)},  {7, std::u16string(u"abcdef\0", 7)},
        {9, std::u16string(u"abcdef\0", 7)},
    };
    for (const Row& r : rows) {
        fill(buf);
        EXPECT_EQ(snucaprintf(buf, r.size, u"%S", u"abcdef"), static_cast<int>(r.size));
        EXPECT_EQ(std::u16string(buf, r.want.size()), r.want) << "size " << r.size;
        EXPECT_EQ(buf[r.want.size()], kFill) << "size " << r.size;
    }
    fill(buf);
    EXPECT_EQ(snucaprintf(buf, 0, u"abc"), -1);
    EXPECT_EQ(buf[0], kFill);

    // A format that cannot be made writes nothing.
    EXPECT_EQ(sucaprintf(buf, static_cast<const char16_t*>(nullptr)), -1);
    EXPECT_EQ(buf[0], kFill);

    unsigned short twin[8];
    const unsigned short fmt[] = {'%', 'd', 0};
    EXPECT_EQ(sucaprintf(twin, fmt, 12), 2);
    EXPECT_EQ(twin[0], '1');
    EXPECT_EQ(twin[2], 0);
}

TEST(UcaPrintf, ToAStreamWritesRawUnitsWithoutTerminator) {
    FILE* f = tmpfile();
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(fucaprintf(f, u"%S=%d", u"\u20AC", 5), 3);
    EXPECT_EQ(fucaprintf(f, u""), 0);
    rewind(f);
    char16_t back[8];
    size_t got = fread(back, sizeof(char16_t), 8, f);
    fclose(f);
    ASSERT_EQ(got, 3u);
    EXPECT_EQ(std::u16string(back, 3), u"\u20AC=5");
    EXPECT_EQ(fucaprintf(static_cast<FILE*>(nullptr), u"x"), -1);
}

TEST(UcaScanf, ConvertsToWideAndUsesTheLibraryScanner) {
    int i = 0;
    double d = 0;
    wchar_t word[8] = {};
    EXPECT_EQ(sucascanf(u"42 3.5 h\u00E9llo", u"%d %lf %7ls", &i, &d, word), 3);
    EXPECT_EQ(i, 42);
    EXPECT_DOUBLE_EQ(d, 3.5);
    EXPECT_EQ(std::wstring(word), L"h\u00E9llo");
    unsigned x = 0;
    EXPECT_EQ(sucascanf(u"ff", u"%x", &x), 1);
    EXPECT_EQ(x, 255u);
    EXPECT_EQ(sucascanf(u"abc", u"%d", &i), 0);
    EXPECT_EQ(sucascanf(u"", u"%d", &i), EOF);
    const unsigned short src[] = {'7', 0}, fmt[] = {'%', 'd', 0};
    EXPECT_EQ(sucascanf(src, fmt, &i), 1);
    EXPECT_EQ(i, 7);
}

TEST(UcaWide32, StrictConversionsWithTheirResults) {
    char16_t dst[8];
    fill(dst);
    EXPECT_EQ(WCA32toUCA(L"\U0001F600", dst, 1), targetExhausted);
    EXPECT_EQ(dst[0], kFill);
    EXPECT_EQ(WCA32toUCA(L"a\U0001F600", dst, 2), targetExhausted); // n units for n characters
    EXPECT_EQ(dst[0], u'a');
    EXPECT_EQ(dst[1], kFill);
    fill(dst);
    EXPECT_EQ(WCA32toUCA(L"ab", dst, 2), conversionOK);
    EXPECT_EQ(dst[2], kFill); // no terminator
    EXPECT_EQ(WCA32toUCA(L"ab", dst, 0), 0);
    EXPECT_EQ(WCA32toUCA(L"ab", dst, -3), -3);
    const wchar_t surrogate[] = {0x41, 0xD800, 0};
    EXPECT_EQ(WCA32toUCA(surrogate, dst, 2), sourceIllegal);
    const wchar_t tooBig[] = {0x110000, 0};
    EXPECT_EQ(WCA32toUCA(tooBig, dst, 1), sourceIllegal);

    wchar_t w[4] = {7, 7, 7, 7};
    EXPECT_EQ(UCAtoWCA32(u"\U0001F600", w, 2), conversionOK);
    EXPECT_EQ(w[0], 0x1F600);
    EXPECT_EQ(w[1], 7);
    EXPECT_EQ(UCAtoWCA32(u"\xDC00", w, 1), sourceIllegal);
    EXPECT_EQ(UCAtoWCA32(u"\xD83D", w, 1), sourceExhausted);
    EXPECT_EQ(UCAtoWCA32(u"x", w, 0), 0);

    std::unique_ptr<char16_t[]> u(makeUCAFromWCA32(L"a\u00E9b"));
    EXPECT_EQ(std::u16string(u.get()), u"a\u00E9b");
    // n characters go into at most n units: a pair takes the room of the
    // character after it, which is then cut off.
    std::unique_ptr<char16_t[]> pair(makeUCAFromWCA32(L"a\U0001F600b"));
    EXPECT_EQ(std::u16string(pair.get()), u"a\U0001F600");
    const wchar_t bad[] = {'a', 0xD800, 'b', 0};
    std::unique_ptr<char16_t[]> cut(makeUCAFromWCA32(bad));
    EXPECT_EQ(std::u16string(cut.get()), u"a");
    std::unique_ptr<unsigned short[]> twin(makeUCAFromWCA32<unsigned short>(L"z"));
    EXPECT_EQ(twin[0], 'z');
    EXPECT_EQ(twin[1], 0);
    // Two characters that need four units overflow a block of three: the
    // conversion stops at the full destination, the terminator still fits.
    std::unique_ptr<char16_t[]> full(makeUCAFromWCA32(L"\U0001F600\U0001F601"));
    EXPECT_EQ(std::u16string(full.get()), u"\U0001F600");

    wchar_t* w32 = makeWCA32FromUCA(u"h\u00E9\U0001F600");
    EXPECT_EQ(std::wstring(w32), L"h\u00E9\U0001F600");
    freeWCA32Str(w32);
    w32 = makeWCA32FromUCA(u"a\xDC00z");
    EXPECT_EQ(std::wstring(w32), L"a");
    freeWCA32Str(w32);
    w32 = makeWCA32FromUCA(u"");
    EXPECT_EQ(w32[0], 0);
    freeWCA32Str(w32);
    freeWCA32Str(nullptr);
}

} // namespace

namespace {

// Heap blocks of exactly the stated size, so that asan sees a write one past.
TEST(UcaLimits, DestinationsExactlyAtTheirLimits) {
    std::unique_ptr<char16_t[]> twelve(new char16_t[12]);
    EXPECT_EQ(itouca(INT32_MIN, twelve.get(), 10), twelve.get());
    EXPECT_EQ(std::u16string(twelve.get()), u"-2147483648");
    EXPECT_EQ(itouca(-1, twelve.get(), 8), twelve.get());
    EXPECT_EQ(std::u16string(twelve.get()), u"37777777777");

    std::unique_ptr<char[]> narrow(new char[4]);
    UCAtoCA(u"abc", narrow.get(), 3);
    EXPECT_STREQ(narrow.get(), "abc");

    std::unique_ptr<char16_t[]> wide(new char16_t[3]);
    CAtoUCA("abcdef", wide.get(), 3);
    EXPECT_EQ(std::u16string(wide.get(), 3), u"abc");

    std::unique_ptr<char16_t[]> one(new char16_t[1]);
    EXPECT_EQ(snucaprintf(one.get(), 1, u"%S%d", u"long text", 12345), 1);
    EXPECT_EQ(one[0], 0);
    std::unique_ptr<char16_t[]> exact(new char16_t[4]);
    EXPECT_EQ(sucaprintf(exact.get(), u"%03d", 7), 3);
    EXPECT_EQ(std::u16string(exact.get()), u"007");
    std::unique_ptr<char16_t[]> five(new char16_t[5]);
    EXPECT_EQ(ucancpy(five.get(), u"abcdefgh", 5), five.get());
    EXPECT_EQ(std::u16string(five.get(), 5), u"abcde");
}

TEST(UcaPrintf, ToStandardOutput) {
    fflush(stdout);
    FILE* capture = tmpfile();
    ASSERT_NE(capture, nullptr);
    int saved = dup(fileno(stdout));
    ASSERT_GE(saved, 0);
    ASSERT_GE(dup2(fileno(capture), fileno(stdout)), 0);
    int n = ucaprintf(u"%s-%S", "ab", u"\u00E9");
    fflush(stdout);
    dup2(saved, fileno(stdout));
    close(saved);
    EXPECT_EQ(n, 4);
    rewind(capture);
    char16_t back[8] = {};
    EXPECT_EQ(fread(back, sizeof(char16_t), 8, capture), 4u);
    fclose(capture);
    EXPECT_EQ(std::u16string(back), u"ab-\u00E9");
}

} // namespace
