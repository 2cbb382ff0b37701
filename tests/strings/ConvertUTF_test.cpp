// The six encoding-form conversions: exact results and where both pointers stop for each kind
// of ill-formed input the ICU comparison cannot show, strict and lenient, with a full target; ICU
// as the reference for valid text and for which short byte strings are well-formed; the Pascal
// string builders.
#include "strings/ConvertUTF.h"

#include <gtest/gtest.h>
#include <unicode/ustring.h>

#include <cstring>
#include <random>
#include <string>
#include <tuple>
#include <vector>

namespace {

// What one call did: its result, how many source units it consumed, what it wrote.
template <class To> struct Converted {
    ConversionResult result;
    size_t consumed;
    std::vector<To> out;
    bool operator==(const Converted&) const = default;
};
// One call over src into `room` units followed by sentinels: nothing past what the call
// reports as written may change.
template <class From, class To>
Converted<To> convert(ConversionResult (*fn)(const From**, const From*, To**, To*, ConversionFlags),
                      const std::vector<From>& src, size_t room,
                      ConversionFlags flags = strictConversion) {
    const To sentinel = static_cast<To>(0xDEADBEEF);
    std::vector<To> buf(room + 2, sentinel);
    const From* s = src.data();
    To* t = buf.data();
    const ConversionResult r = fn(&s, src.data() + src.size(), &t, buf.data() + room, flags);
    for (const To* p = t; p < buf.data() + buf.size(); ++p)
        EXPECT_EQ(*p, sentinel) << "wrote at " << (p - buf.data()) << " past what it reports";
    return {r, size_t(s - src.data()), std::vector<To>(buf.data(), t)};
}

TEST(ConvertUTF8, EachKindOfInputGivesTheReferenceResultAndStoppingPlace) {
    struct Row {
        std::vector<UTF8> bytes;
        ConversionResult result;
        size_t consumed;
        std::vector<UTF32> out;
    } rows[] = {
        {{0x41, 0x80}, sourceIllegal, 1, {0x41}},         // the text before an ill-formed byte
        {{0xF1, 0x80, 0x80, 0x7F}, sourceIllegal, 0, {}}, // fourth byte too low
        {{0xF1, 0x80, 0x80, 0xC0}, sourceIllegal, 0, {}}, // fourth byte too high
        {{0x61, 0x62, 0xE2, 0x82}, sourceExhausted, 2, {0x61, 0x62}}, // cut at the end
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::PrintToString(row.bytes));
        EXPECT_EQ(convert(ConvertUTF8toUTF32, row.bytes, 8),
                  (Converted<UTF32>{row.result, row.consumed, row.out}));
        // UTF-16 stops at the same place; lenient mode never decodes ill-formed bytes either.
        const Converted<UTF16> r16 = convert(ConvertUTF8toUTF16, row.bytes, 8, lenientConversion);
        EXPECT_EQ(std::tuple(r16.result, r16.consumed, r16.out.size()),
                  std::tuple(row.result, row.consumed, row.out.size()));
    }
    const UTF8 four[] = {0xF0, 0x9F, 0x98, 0x80};
    EXPECT_EQ(isLegalUTF8(four, 0) + isLegalUTF8(four, 5), 0);
    EXPECT_EQ(isLegalUTF8Sequence(four, four + 4), 1);
    EXPECT_EQ(isLegalUTF8Sequence(four, four + 3), 0);
}

TEST(ConvertUTF, FullTargetsStopBeforeTheCharacter) {
    const std::vector<UTF8> u8 = {0x61, 0xF0, 0x9F, 0x98, 0x80};
    EXPECT_EQ(convert(ConvertUTF8toUTF16, u8, 2), (Converted<UTF16>{targetExhausted, 1, {0x61}}));
    EXPECT_EQ(convert(ConvertUTF8toUTF16, u8, 1), (Converted<UTF16>{targetExhausted, 1, {0x61}}));
    EXPECT_EQ(convert(ConvertUTF8toUTF32, u8, 1), (Converted<UTF32>{targetExhausted, 1, {0x61}}));
    EXPECT_EQ(convert(ConvertUTF8toUTF32, {}, 0), (Converted<UTF32>{conversionOK, 0, {}}));
    const std::vector<UTF32> u32 = {0x41, 0x10348};
    EXPECT_EQ(convert(ConvertUTF32toUTF16, u32, 2), (Converted<UTF16>{targetExhausted, 1, {0x41}}));
    EXPECT_EQ(convert(ConvertUTF32toUTF16, u32, 0), (Converted<UTF16>{targetExhausted, 0, {}}));
    EXPECT_EQ(convert(ConvertUTF32toUTF8, u32, 4), (Converted<UTF8>{targetExhausted, 1, {0x41}}));
    const std::vector<UTF16> u16 = {0x41, 0xD800, 0xDF48};
    EXPECT_EQ(convert(ConvertUTF16toUTF8, u16, 4), (Converted<UTF8>{targetExhausted, 1, {0x41}}));
    EXPECT_EQ(convert(ConvertUTF16toUTF32, u16, 1), (Converted<UTF32>{targetExhausted, 1, {0x41}}));
}

TEST(ConvertUTF, IllegalValuesStrictAndLenient) {
    const std::vector<UTF32> high = {0x41, 0x110000, 0x42}, sur = {0x41, 0xDFFF, 0x42};
    // Beyond the last plane: recorded, then skipped (UTF-16) or replaced (UTF-8), not fatal.
    EXPECT_EQ(convert(ConvertUTF32toUTF16, high, 4),
              (Converted<UTF16>{sourceIllegal, 3, {0x41, 0x42}}));
    EXPECT_EQ(convert(ConvertUTF32toUTF16, high, 4, lenientConversion),
              (Converted<UTF16>{conversionOK, 3, {0x41, 0xFFFD, 0x42}}));
    EXPECT_EQ(convert(ConvertUTF32toUTF8, high, 8),
              (Converted<UTF8>{sourceIllegal, 3, {0x41, 0xEF, 0xBF, 0xBD, 0x42}}));
    // A surrogate value stops strict conversion on it; lenient replaces or encodes it.
    EXPECT_EQ(convert(ConvertUTF32toUTF16, sur, 4), (Converted<UTF16>{sourceIllegal, 1, {0x41}}));
    EXPECT_EQ(convert(ConvertUTF32toUTF16, sur, 4, lenientConversion),
              (Converted<UTF16>{conversionOK, 3, {0x41, 0xFFFD, 0x42}}));
    EXPECT_EQ(convert(ConvertUTF32toUTF8, sur, 8), (Converted<UTF8>{sourceIllegal, 1, {0x41}}));
    EXPECT_EQ(convert(ConvertUTF32toUTF8, sur, 8, lenientConversion),
              (Converted<UTF8>{conversionOK, 3, {0x41, 0xED, 0xBF, 0xBF, 0x42}}));
    // Unpaired halves in UTF-16: a high half at the end may still get its pair later.
    struct Row {
        std::vector<UTF16> src;
        ConversionResult result;
        size_t consumed;
    } rows[] = {
        {{0x61, 0xD83D}, sourceExhausted, 1},       {{0x61, 0xD83D, 0x62}, sourceIllegal, 1},
        {{0x61, 0xDBFF, 0xE000}, sourceIllegal, 1}, {{0x61, 0xDC00}, sourceIllegal, 1},
        {{0x61, 0xDFFF}, sourceIllegal, 1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(int(row.src[1]));
        EXPECT_EQ(convert(ConvertUTF16toUTF32, row.src, 4),
                  (Converted<UTF32>{row.result, row.consumed, {0x61}}));
        EXPECT_EQ(convert(ConvertUTF16toUTF8, row.src, 8),
                  (Converted<UTF8>{row.result, row.consumed, {0x61}}));
    }
    EXPECT_EQ(convert(ConvertUTF16toUTF32, {0xDC00, 0x41}, 4, lenientConversion),
              (Converted<UTF32>{conversionOK, 2, {0xDC00, 0x41}}));
    EXPECT_EQ(convert(ConvertUTF16toUTF8, {0xD800, 0x41}, 8, lenientConversion),
              (Converted<UTF8>{conversionOK, 2, {0xED, 0xA0, 0x80, 0x41}}));
}

// One call with exactly the room the whole text needs converts all of it.
template <class From, class To, class Fn>
void ExpectWhole(Fn fn, const std::vector<From>& src, const std::vector<To>& want) {
    ASSERT_EQ(convert(fn, src, want.size()), (Converted<To>{conversionOK, src.size(), want}));
}

// Every route over text from every plane, the boundaries of each UTF-8 length first, each
// with exactly the room ICU needed; UTF-8 to UTF-16 is compared on the short byte strings below.
TEST(ConvertUTF, AgreesWithIcuOnValidText) {
    std::mt19937 rng(20261205);
    std::vector<UTF32> cps = {0x7F, 0x80, 0x7FF, 0x800, 0xD7FF, 0xE000, 0xFFFF, 0x10000, 0x10FFFF};
    for (int round = 0; round < 300; ++round) {
        SCOPED_TRACE(round);
        UErrorCode err = U_ZERO_ERROR;
        UChar icu16[40];
        char icu8[80];
        int32_t len16 = 0, len8 = 0;
        u_strFromUTF32(icu16, 40, &len16, reinterpret_cast<const UChar32*>(cps.data()),
                       int32_t(cps.size()), &err);
        u_strToUTF8(icu8, 80, &len8, icu16, len16, &err);
        ASSERT_TRUE(U_SUCCESS(err));
        const std::vector<UTF16> want16(icu16, icu16 + len16);
        const std::vector<UTF8> want8(icu8, icu8 + len8);
        ExpectWhole(ConvertUTF32toUTF16, cps, want16);
        ExpectWhole(ConvertUTF32toUTF8, cps, want8);
        ExpectWhole(ConvertUTF16toUTF8, want16, want8);
        ExpectWhole(ConvertUTF8toUTF32, want8, cps);
        ExpectWhole(ConvertUTF16toUTF32, want16, cps);
        cps.resize(1 + rng() % 20); // the next round's random text
        for (UTF32& cp : cps) {
            do
                cp = (rng() % 2 ? 0 : UTF32(rng() % 17) << 16) | (rng() & 0xFFFF) >> (rng() % 8);
            while (cp >= 0xD800 && cp <= 0xDFFF);
        }
    }
}

// Which one- to four-byte strings over the bytes at every range boundary are well-formed, and
// what they decode to, as ICU sees it; a source shorter than its first lead byte announces has
// run out rather than gone wrong.
TEST(ConvertUTF8, AgreesWithIcuOnShortByteStrings) {
    const UTF8 edges[] = {0x00, 0x7F, 0x80, 0x8F, 0x90, 0x9F, 0xA0, 0xBF, 0xC0, 0xC1,
                          0xC2, 0xDF, 0xE0, 0xE1, 0xEC, 0xED, 0xEE, 0xEF, 0xF0, 0xF1,
                          0xF3, 0xF4, 0xF5, 0xF7, 0xF8, 0xFB, 0xFC, 0xFE, 0xFF};
    for (UTF8 a : edges) {
        const size_t announced =
            1 + (a >= 0xC0) + (a >= 0xE0) + (a >= 0xF0) + (a >= 0xF8) + (a >= 0xFC);
        for (UTF8 b : edges)
            for (UTF8 c : edges)
                for (size_t n = 1; n <= 4; ++n) {
                    const UTF8 all[] = {a, b, c, 0x80};
                    const std::vector<UTF8> v(all, all + n);
                    const Converted<UTF16> ours = convert(ConvertUTF8toUTF16, v, 8);
                    UErrorCode err = U_ZERO_ERROR;
                    UChar out[8];
                    int32_t len = 0;
                    u_strFromUTF8(out, 8, &len, reinterpret_cast<const char*>(all), int32_t(n),
                                  &err);
                    ASSERT_EQ(ours.result == conversionOK, bool(U_SUCCESS(err)))
                        << testing::PrintToString(v);
                    ASSERT_EQ(ours.result == sourceExhausted && ours.consumed == 0, n < announced)
                        << testing::PrintToString(v);
                    if (U_SUCCESS(err)) {
                        ASSERT_EQ(ours.out, std::vector<UTF16>(out, out + len))
                            << testing::PrintToString(v);
                    }
                }
    }
    // Every byte alone: ASCII converts, a lead byte has run out, any other byte is ill-formed.
    for (int a = 0; a <= 0xFF; ++a) {
        const std::vector<UTF8> alone = {UTF8(a)};
        const ConversionResult expected =
            a < 0x80 ? conversionOK : (a >= 0xC0 ? sourceExhausted : sourceIllegal);
        EXPECT_EQ(convert(ConvertUTF8toUTF16, alone, 8).result, expected) << a;
        EXPECT_EQ(convert(ConvertUTF8toUTF32, alone, 8).result, expected) << a;
    }
}

TEST(PascalStrings, LengthByteThenAtMost255Characters) {
    unsigned char p[257];
    memset(p, 0xAA, sizeof p);
    CToPStr(p, std::string(300, 'x').c_str()); // no terminator
    EXPECT_EQ(0, memcmp(p + 254, "xx\xAA", 3));
    WideToPStr(p, std::u16string(256, u'\u0141').c_str()); // each unit's low byte
    EXPECT_EQ(0, memcmp(p + 254, "AA\xAA", 3));
    EXPECT_EQ(p[0], 255);
    CToPStr(p, nullptr);
    WideToPStr(p + 1, static_cast<const char16_t*>(nullptr));
    EXPECT_EQ(0, memcmp(p, "\0\0A", 3));
}

} // namespace
