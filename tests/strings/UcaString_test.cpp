#include "strings/UcaString.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

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
