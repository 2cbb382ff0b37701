#include "strings/ConvertUTF.h"

#include <gtest/gtest.h>
#include <unicode/ustring.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

// What one conversion call did: its result, how far the source went, what it wrote.
template <class To> struct Converted {
    ConversionResult result;
    size_t consumed;
    std::vector<To> out;
};

// Converts the n units at src in one call into a target of `room` units followed by a
// sentinel; nothing past what the call reports as written may change.
template <class From, class To>
Converted<To> convert(ConversionResult (*fn)(const From**, const From*, To**, To*, ConversionFlags),
                      const From* src, size_t n, size_t room,
                      ConversionFlags flags = strictConversion) {
    const To sentinel = static_cast<To>(0xDEADBEEF);
    std::vector<To> buf(room + 1, sentinel);
    const From* s = src;
    To* t = buf.data();
    const ConversionResult r = fn(&s, src + n, &t, buf.data() + room, flags);
    for (const To* p = t; p <= buf.data() + room; ++p)
        EXPECT_EQ(*p, sentinel) << "wrote at " << (p - buf.data()) << " past what it reports";
    return {r, static_cast<size_t>(s - src), std::vector<To>(buf.data(), t)};
}

template <class From, class To>
Converted<To> convert(ConversionResult (*fn)(const From**, const From*, To**, To*, ConversionFlags),
                      const std::vector<From>& src, size_t room,
                      ConversionFlags flags = strictConversion) {
    return convert(fn, src.data(), src.size(), room, flags);
}

std::u16string u16(const std::vector<UTF16>& units) {
    return std::u16string(units.begin(), units.end());
}

Converted<UTF16> utf8To16(const std::vector<UTF8>& src, size_t room,
                          ConversionFlags flags = strictConversion) {
    return convert(ConvertUTF8toUTF16, src, room, flags);
}

std::string hex(const std::vector<UTF8>& v) {
    std::string s;
    char b[4];
    for (UTF8 c : v) {
        snprintf(b, sizeof b, "%02X ", c);
        s += b;
    }
    return s;
}

// The decoder stress corpus: boundaries, malformed sequences, overlong forms,
// encoded surrogates, impossible bytes, truncations. Each row is converted as
// the whole source; the expected strict result and where the source pointer
// stops follow the reference routines (e.g. a five- or six-byte lead with
// too few bytes after it is "exhausted" before it is "illegal").
struct StressRow {
    std::vector<UTF8> bytes;
    ConversionResult result;
    size_t consumed;
    std::u16string out;
};

const std::vector<StressRow>& stressCorpus() {
    static const std::vector<StressRow> rows = {
        // First and last sequence of each legal length, and other boundaries.
        {{0x00}, conversionOK, 1, std::u16string(1, u'\0')},
        {{0xC2, 0x80}, conversionOK, 2, u"\u0080"},
        {{0xE0, 0xA0, 0x80}, conversionOK, 3, u"\u0800"},
        {{0xF0, 0x90, 0x80, 0x80}, conversionOK, 4, u"\U00010000"},
        {{0x7F}, conversionOK, 1, u"\u007F"},
        {{0xDF, 0xBF}, conversionOK, 2, u"\u07FF"},
        {{0xEF, 0xBF, 0xBF}, conversionOK, 3, u"\uFFFF"},
        {{0xEF, 0xBF, 0xBE}, conversionOK, 3, u"\uFFFE"},
        {{0xED, 0x9F, 0xBF}, conversionOK, 3, u"\uD7FF"},
        {{0xEE, 0x80, 0x80}, conversionOK, 3, u"\uE000"},
        {{0xEF, 0xBF, 0xBD}, conversionOK, 3, u"\uFFFD"},
        {{0xF4, 0x8F, 0xBF, 0xBF}, conversionOK, 4, u"\U0010FFFF"},
        // Beyond U+10FFFF and the obsolete five- and six-byte forms.
        {{0xF4, 0x90, 0x80, 0x80}, sourceIllegal, 0, u""},
        {{0xF7, 0xBF, 0xBF, 0xBF}, sourceIllegal, 0, u""},
        {{0xF8, 0x88, 0x80, 0x80, 0x80}, sourceIllegal, 0, u""},
        {{0xFB, 0xBF, 0xBF, 0xBF, 0xBF}, sourceIllegal, 0, u""},
        {{0xFC, 0x84, 0x80, 0x80, 0x80, 0x80}, sourceIllegal, 0, u""},
        {{0xFD, 0xBF, 0xBF, 0xBF, 0xBF, 0xBF}, sourceIllegal, 0, u""},
        // Unexpected continuation bytes.
        {{0x80}, sourceIllegal, 0, u""},
        {{0xBF}, sourceIllegal, 0, u""},
        {{0x41, 0x80, 0xBF}, sourceIllegal, 1, u"A"},
        // Lonely start bytes followed by a space.
        {{0xC0, 0x20}, sourceIllegal, 0, u""},
        {{0xDF, 0x20}, sourceIllegal, 0, u""},
        {{0xE0, 0x20, 0x20}, sourceIllegal, 0, u""},
        {{0xEF, 0x20, 0x20}, sourceIllegal, 0, u""},
        {{0xF0, 0x20, 0x20, 0x20}, sourceIllegal, 0, u""},
        {{0xE1, 0x80, 0x20}, sourceIllegal, 0, u""},
        // Sequences with their last byte missing, cut at the source end.
        {{0xC0}, sourceExhausted, 0, u""},
        {{0xDF}, sourceExhausted, 0, u""},
        {{0xE0, 0x80}, sourceExhausted, 0, u""},
        {{0xEF, 0xBF}, sourceExhausted, 0, u""},
        {{0xF0, 0x80, 0x80}, sourceExhausted, 0, u""},
        {{0xF4, 0x8F, 0xBF}, sourceExhausted, 0, u""},
        {{0xF8, 0x80, 0x80, 0x80}, sourceExhausted, 0, u""},
        {{0xFC, 0x80, 0x80, 0x80, 0x80}, sourceExhausted, 0, u""},
        {{0x61, 0x62, 0xE2, 0x82}, sourceExhausted, 2, u"ab"},
        {{0x61, 0xF0, 0x9F, 0x98}, sourceExhausted, 1, u"a"},
        // Truncated sequences in the middle: the next lead byte is no trailer.
        {{0xE2, 0x82, 0x41}, sourceIllegal, 0, u""},
        {{0xC3, 0xC3, 0xA9}, sourceIllegal, 0, u""},
        // Impossible bytes: announced as six-byte leads, so short runs are
        // exhausted and long ones illegal.
        {{0xFE}, sourceExhausted, 0, u""},
        {{0xFF}, sourceExhausted, 0, u""},
        {{0xFE, 0xFE, 0xFF, 0xFF}, sourceExhausted, 0, u""},
        {{0x78, 0xFF, 0x80, 0x80, 0x80, 0x80, 0x80}, sourceIllegal, 1, u"x"},
        {{0xFE, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80}, sourceIllegal, 0, u""},
        // Overlong forms of "/" and their maxima, and overlong NUL.
        {{0xC0, 0xAF}, sourceIllegal, 0, u""},
        {{0xE0, 0x80, 0xAF}, sourceIllegal, 0, u""},
        {{0xF0, 0x80, 0x80, 0xAF}, sourceIllegal, 0, u""},
        {{0xF8, 0x80, 0x80, 0x80, 0xAF}, sourceIllegal, 0, u""},
        {{0xFC, 0x80, 0x80, 0x80, 0x80, 0xAF}, sourceIllegal, 0, u""},
        {{0xC1, 0xBF}, sourceIllegal, 0, u""},
        {{0xE0, 0x9F, 0xBF}, sourceIllegal, 0, u""},
        {{0xF0, 0x8F, 0xBF, 0xBF}, sourceIllegal, 0, u""},
        {{0xC0, 0x80}, sourceIllegal, 0, u""},
        {{0xE0, 0x80, 0x80}, sourceIllegal, 0, u""},
        {{0xF0, 0x80, 0x80, 0x80}, sourceIllegal, 0, u""},
        // Encoded surrogates, single and paired.
        {{0xED, 0xA0, 0x80}, sourceIllegal, 0, u""},
        {{0xED, 0xAD, 0xBF}, sourceIllegal, 0, u""},
        {{0xED, 0xAE, 0x80}, sourceIllegal, 0, u""},
        {{0xED, 0xAF, 0xBF}, sourceIllegal, 0, u""},
        {{0xED, 0xB0, 0x80}, sourceIllegal, 0, u""},
        {{0xED, 0xBE, 0x80}, sourceIllegal, 0, u""},
        {{0xED, 0xBF, 0xBF}, sourceIllegal, 0, u""},
        {{0xED, 0xA0, 0x80, 0xED, 0xB0, 0x80}, sourceIllegal, 0, u""},
        {{0x7A, 0xED, 0xAF, 0xBF, 0xED, 0xBF, 0xBF}, sourceIllegal, 1, u"z"},
        // A non-continuation byte second in a sequence whose lead has its own
        // range check must not hide an ASCII character.
        {{0xED, 0x2F, 0x80}, sourceIllegal, 0, u""},
        {{0xF4, 0x2F, 0x80, 0x80}, sourceIllegal, 0, u""},
        {{0xE0, 0x2F, 0x80}, sourceIllegal, 0, u""},
    };
    return rows;
}

TEST(ConvertUTF8, StressCorpusGivesTheStrictResults) {
    for (const StressRow& row : stressCorpus()) {
        Converted<UTF16> r16 = utf8To16(row.bytes, 16);
        EXPECT_EQ(r16.result, row.result) << hex(row.bytes);
        EXPECT_EQ(r16.consumed, row.consumed) << hex(row.bytes);
        EXPECT_EQ(u16(r16.out), row.out) << hex(row.bytes);

        // UTF-32 stops at the same place with the same characters.
        Converted<UTF32> r32 = convert(ConvertUTF8toUTF32, row.bytes, 16);
        EXPECT_EQ(r32.result, row.result) << hex(row.bytes);
        EXPECT_EQ(r32.consumed, row.consumed) << hex(row.bytes);
        std::u16string back;
        for (UTF32 c : r32.out) {
            if (c > 0xFFFF) {
                back += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
                back += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
            } else {
                back += static_cast<char16_t>(c);
            }
        }
        EXPECT_EQ(back, row.out) << hex(row.bytes);

        // Lenient mode checks legality too: ill-formed UTF-8 is never decoded.
        if (row.result != conversionOK) {
            EXPECT_EQ(utf8To16(row.bytes, 16, lenientConversion).result, row.result)
                << hex(row.bytes);
        }
        // The sequence check agrees with the decoder on the first sequence.
        if (!row.bytes.empty() && row.consumed == 0) {
            EXPECT_EQ(static_cast<bool>(isLegalUTF8Sequence(row.bytes.data(),
                                                            row.bytes.data() + row.bytes.size())),
                      row.result == conversionOK)
                << hex(row.bytes);
        }
    }
}

TEST(ConvertUTF8, LegalityChecksEveryLength) {
    const UTF8 ok4[] = {0xF0, 0x9F, 0x98, 0x80};
    EXPECT_TRUE(isLegalUTF8(ok4, 4));
    EXPECT_FALSE(isLegalUTF8(ok4, 0));
    EXPECT_FALSE(isLegalUTF8(ok4, 5));
    const UTF8 six[] = {0xFC, 0x84, 0x80, 0x80, 0x80, 0x80};
    EXPECT_FALSE(isLegalUTF8(six, 6));
    // A sequence that does not end within the source is not legal.
    EXPECT_FALSE(isLegalUTF8Sequence(ok4, ok4 + 3));
    EXPECT_TRUE(isLegalUTF8Sequence(ok4, ok4 + 4));
    // Every single byte: ASCII and 0xC2..0xF4 lead bytes are legal alone only
    // when they are ASCII.
    for (int b = 0; b < 256; ++b) {
        UTF8 c = static_cast<UTF8>(b);
        EXPECT_EQ(static_cast<bool>(isLegalUTF8(&c, 1)), b < 0x80 || (b >= 0xC2 && b <= 0xF4)) << b;
    }
}

TEST(ConvertUTFTables, HoldTheReferenceValues) {
    // Each range's first and last byte.
    const std::pair<int, int> trailing[] = {{0x7F, 0}, {0xBF, 0}, {0xC0, 1}, {0xDF, 1},
                                            {0xE0, 2}, {0xEF, 2}, {0xF0, 3}, {0xF7, 3},
                                            {0xF8, 4}, {0xFB, 4}, {0xFC, 5}, {0xFF, 5}};
    for (const auto& [byte, count] : trailing)
        EXPECT_EQ(trailingBytesForUTF8[byte], count) << byte;
    const UTF32 offsets[6] = {0x0, 0x3080, 0xE2080, 0x3C82080, 0xFA082080, 0x82082080};
    const UTF8 marks[7] = {0x00, 0x00, 0xC0, 0xE0, 0xF0, 0xF8, 0xFC};
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(offsetsFromUTF8[i], offsets[i]) << i;
    for (int i = 0; i < 7; ++i)
        EXPECT_EQ(firstByteMark[i], marks[i]) << i;
}

TEST(ConvertUTF8, TargetExhaustedLeavesTheSourceOnTheCharacter) {
    // A supplementary character needs two units; room for one is not enough.
    Converted<UTF16> r = utf8To16({0x61, 0xF0, 0x9F, 0x98, 0x80}, 2);
    EXPECT_EQ(r.result, targetExhausted);
    EXPECT_EQ(r.consumed, 1u);
    EXPECT_EQ(u16(r.out), u"a");
    r = utf8To16({0x61, 0x62}, 1);
    EXPECT_EQ(r.result, targetExhausted);
    EXPECT_EQ(r.consumed, 1u);
    // Exactly enough room is not exhaustion.
    r = utf8To16({0x61, 0xF0, 0x9F, 0x98, 0x80}, 3);
    EXPECT_EQ(r.result, conversionOK);
    EXPECT_EQ(u16(r.out), u"a\U0001F600");
    Converted<UTF32> r32 = convert(ConvertUTF8toUTF32, std::vector<UTF8>{0xC3, 0xA9, 0x41}, 1);
    EXPECT_EQ(r32.result, targetExhausted);
    EXPECT_EQ(r32.consumed, 2u);
    // An empty source converts nothing and succeeds, even with no target.
    r = utf8To16({}, 0);
    EXPECT_EQ(r.result, conversionOK);
}

TEST(ConvertUTF32, ToUTF16FollowsTheReferenceOnBoundsAndIllegalValues) {
    struct Row {
        std::vector<UTF32> src;
        size_t room;
        ConversionFlags flags;
        ConversionResult result;
        size_t consumed;
        std::u16string out;
    } rows[] = {
        {{0x1F600}, 1, strictConversion, targetExhausted, 0, u""},
        {{0x1F600}, 2, strictConversion, conversionOK, 1, u"\U0001F600"},
        {{0x41, 0x42}, 1, strictConversion, targetExhausted, 1, u"A"},
        {{0x41, 0xD800, 0x42}, 4, strictConversion, sourceIllegal, 1, u"A"},
        {{0xDFFF}, 4, strictConversion, sourceIllegal, 0, u""},
        // Above the last plane: recorded as illegal, skipped, conversion goes on.
        {{0x41, 0x110000, 0x42}, 4, strictConversion, sourceIllegal, 3, u"AB"},
        {{0x41, 0xD800, 0x110000}, 4, lenientConversion, conversionOK, 3, u"A\uFFFD\uFFFD"},
        {{}, 0, strictConversion, conversionOK, 0, u""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message()
                     << "first=" << (row.src.empty() ? 0 : row.src[0]) << " room=" << row.room);
        Converted<UTF16> r = convert(ConvertUTF32toUTF16, row.src, row.room, row.flags);
        EXPECT_EQ(r.result, row.result);
        EXPECT_EQ(r.consumed, row.consumed);
        EXPECT_EQ(u16(r.out), row.out);
    }
}

TEST(ConvertUTF32, ToUTF8ReplacesValuesBeyondTheLastPlane) {
    Converted<UTF8> r = convert(ConvertUTF32toUTF8, std::vector<UTF32>{0x41, 0x7FFFFFFF, 0x42}, 8);
    EXPECT_EQ(r.result, sourceIllegal);
    EXPECT_EQ(r.out, (std::vector<UTF8>{'A', 0xEF, 0xBF, 0xBD, 'B'}));
    // A surrogate stops strict conversion on it.
    r = convert(ConvertUTF32toUTF8, std::vector<UTF32>{0x41, 0xDC00}, 8);
    EXPECT_EQ(r.result, sourceIllegal);
    EXPECT_EQ(r.consumed, 1u);
    // Room for three of four bytes: nothing of the character is written.
    r = convert(ConvertUTF32toUTF8, std::vector<UTF32>{0x10348}, 3);
    EXPECT_EQ(r.result, targetExhausted);
    EXPECT_EQ(r.consumed, 0u);
    EXPECT_TRUE(r.out.empty());
}

TEST(ConvertUTF16, UnpairedSurrogatesAndCutPairs) {
    struct Row {
        std::u16string src;
        ConversionResult result;
        size_t consumed;
        std::vector<UTF32> out;
    } rows[] = {
        {u"a\xD83D", sourceExhausted, 1, {0x61}}, // pair cut at the source end
        {u"a\xD83D"
         u"b",
         sourceIllegal,
         1,
         {0x61}},
        {u"a\xDE00", sourceIllegal, 1, {0x61}},
        {u"\xD83D\xDE00", conversionOK, 2, {0x1F600}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.src.size());
        const UTF16* src = row.src.data();
        Converted<UTF32> r32 = convert(ConvertUTF16toUTF32, src, row.src.size(), 8);
        EXPECT_EQ(r32.result, row.result);
        EXPECT_EQ(r32.consumed, row.consumed);
        EXPECT_EQ(r32.out, row.out);
        Converted<UTF8> r8 = convert(ConvertUTF16toUTF8, src, row.src.size(), 16);
        EXPECT_EQ(r8.result, row.result);
        EXPECT_EQ(r8.consumed, row.consumed);
    }
    // Lenient mode passes an unpaired surrogate through unchanged.
    Converted<UTF32> r32 =
        convert(ConvertUTF16toUTF32, std::vector<UTF16>{0xDC00, 0x41}, 4, lenientConversion);
    EXPECT_EQ(r32.result, conversionOK);
    EXPECT_EQ(r32.out, (std::vector<UTF32>{0xDC00, 0x41}));
    // Target full before a pair: the source backs up to the high half.
    Converted<UTF8> r8 = convert(ConvertUTF16toUTF8, std::vector<UTF16>{0x41, 0xD83D, 0xDE00}, 4);
    EXPECT_EQ(r8.result, targetExhausted);
    EXPECT_EQ(r8.consumed, 1u);
    EXPECT_EQ(r8.out, std::vector<UTF8>{0x41});
}

// Random code points from every plane (surrogates excluded), converted by
// every route and compared with ICU's converters.
TEST(ConvertUTF, AgreesWithIcuOnRandomValidText) {
    std::mt19937 rng(20261205);
    std::uniform_int_distribution<int> plane(0, 16);
    std::uniform_int_distribution<int> len(1, 40);
    for (int round = 0; round < 2000; ++round) {
        std::vector<UTF32> cps(len(rng));
        for (UTF32& cp : cps) {
            do {
                int p = plane(rng);
                // Half the picks come from the BMP, where most text lives.
                if (rng() % 2)
                    p = 0;
                cp = (static_cast<UTF32>(p) << 16) | (rng() & 0xFFFF);
                if (rng() % 8 == 0)
                    cp &= 0x7FF; // plenty of one- and two-byte forms
            } while (cp >= 0xD800 && cp <= 0xDFFF);
        }
        SCOPED_TRACE(testing::Message() << "round " << round << " first " << std::hex << cps[0]);
        const int32_t n32 = static_cast<int32_t>(cps.size());

        // ICU's results.
        UErrorCode err = U_ZERO_ERROR;
        std::vector<UChar> icu16(n32 * 2 + 1);
        int32_t icu16Len = 0;
        u_strFromUTF32(icu16.data(), static_cast<int32_t>(icu16.size()), &icu16Len,
                       reinterpret_cast<const UChar32*>(cps.data()), n32, &err);
        ASSERT_TRUE(U_SUCCESS(err));
        std::vector<char> icu8(n32 * 4 + 1);
        int32_t icu8Len = 0;
        u_strToUTF8(icu8.data(), static_cast<int32_t>(icu8.size()), &icu8Len, icu16.data(),
                    icu16Len, &err);
        ASSERT_TRUE(U_SUCCESS(err));

        // Every route, each with exactly the room ICU needed.
        const std::vector<UTF16> want16(icu16.begin(), icu16.begin() + icu16Len);
        const std::vector<UTF8> want8(icu8.begin(), icu8.begin() + icu8Len);
        const Converted<UTF16> our16 = convert(ConvertUTF32toUTF16, cps, want16.size());
        const Converted<UTF8> our8 = convert(ConvertUTF32toUTF8, cps, want8.size());
        const Converted<UTF8> our8b = convert(ConvertUTF16toUTF8, want16, want8.size());
        const Converted<UTF16> our16b = convert(ConvertUTF8toUTF16, want8, want16.size());
        const Converted<UTF32> our32 = convert(ConvertUTF8toUTF32, want8, cps.size());
        const Converted<UTF32> our32b = convert(ConvertUTF16toUTF32, want16, cps.size());
        for (ConversionResult r :
             {our16.result, our8.result, our8b.result, our16b.result, our32.result, our32b.result})
            ASSERT_EQ(r, conversionOK);
        ASSERT_EQ(our16.out, want16);
        ASSERT_EQ(our8.out, want8);
        ASSERT_EQ(our8b.out, want8);
        ASSERT_EQ(our16b.out, want16);
        ASSERT_EQ(our32.out, cps);
        ASSERT_EQ(our32b.out, cps);

        // ICU agrees that our UTF-8 is valid and decodes to the same UTF-16.
        std::vector<UChar> check(icu16Len + 1);
        int32_t checkLen = 0;
        u_strFromUTF8(check.data(), static_cast<int32_t>(check.size()), &checkLen,
                      reinterpret_cast<const char*>(our8.out.data()), icu8Len, &err);
        ASSERT_TRUE(U_SUCCESS(err));
        ASSERT_EQ(checkLen, icu16Len);
    }
}

// Every byte string ICU rejects, our strict decoder rejects too (and the
// converse): two- to four-byte strings over the interesting byte values.
TEST(ConvertUTF8, AgreesWithIcuOnValidityOfShortSequences) {
    const UTF8 interesting[] = {0x00, 0x41, 0x7F, 0x80, 0x8F, 0x90, 0x9F, 0xA0, 0xBF, 0xC0, 0xC1,
                                0xC2, 0xDF, 0xE0, 0xE1, 0xEC, 0xED, 0xEE, 0xEF, 0xF0, 0xF1, 0xF3,
                                0xF4, 0xF5, 0xF7, 0xF8, 0xFB, 0xFC, 0xFD, 0xFE, 0xFF};
    const size_t k = sizeof interesting;
    int checked = 0;
    for (size_t a = 0; a < k; ++a)
        for (size_t b = 0; b < k; ++b)
            for (size_t c = 0; c < k; ++c) {
                std::vector<UTF8> bytes = {interesting[a], interesting[b], interesting[c], 0x80};
                for (size_t n = 2; n <= 4; ++n) {
                    std::vector<UTF8> v(bytes.begin(), bytes.begin() + n);
                    Converted<UTF16> ours = utf8To16(v, 8);
                    UErrorCode err = U_ZERO_ERROR;
                    UChar out[8];
                    int32_t outLen = 0;
                    u_strFromUTF8(out, 8, &outLen, reinterpret_cast<const char*>(v.data()),
                                  static_cast<int32_t>(n), &err);
                    ASSERT_EQ(ours.result == conversionOK, static_cast<bool>(U_SUCCESS(err)))
                        << hex(v);
                    if (ours.result == conversionOK) {
                        ASSERT_EQ(u16(ours.out),
                                  std::u16string(reinterpret_cast<char16_t*>(out), outLen))
                            << hex(v);
                    }
                    ++checked;
                }
            }
    EXPECT_GT(checked, 80000);
}

TEST(PascalStrings, LengthByteThenCharacters) {
    unsigned char p[256];
    memset(p, 0xAA, sizeof p);
    CToPStr(p, "Yes");
    EXPECT_EQ(0, memcmp(p, "\x03Yes\xAA", 5));
    memset(p, 0xAA, sizeof p);
    CToPStr(p, "");
    EXPECT_EQ(p[0], 0);
    EXPECT_EQ(p[1], 0xAA);
    CToPStr(p, nullptr);
    EXPECT_EQ(p[0], 0);

    memset(p, 0xAA, sizeof p);
    WideToPStr(p, u"\u0141\u00E9Z");
    EXPECT_EQ(0, memcmp(p, "\x03\x41\xE9Z\xAA", 5));
    const unsigned short twin[] = {0x1FF, 0};
    WideToPStr(p, twin);
    EXPECT_EQ(p[0], 1);
    EXPECT_EQ(p[1], 0xFF);

    // The Pascal form keeps at most 255 characters, never overrunning 256 bytes.
    std::string longText(300, 'x');
    std::vector<unsigned char> exact(256);
    CToPStr(exact.data(), longText.c_str());
    EXPECT_EQ(exact[0], 255);
    EXPECT_EQ(exact[255], 'x');
    std::u16string longWide(300, u'y');
    WideToPStr(exact.data(), longWide.c_str());
    EXPECT_EQ(exact[0], 255);
}

} // namespace

namespace {

// Lenient mode keeps an unpaired surrogate as its own value, as the
// reference does: in UTF-8 it comes out as the three-byte form.
TEST(ConvertUTF16, LenientModeEncodesALoneSurrogate) {
    const std::vector<UTF16> src = {0xD800, 0x41};
    Converted<UTF8> r = convert(ConvertUTF16toUTF8, src, 8, lenientConversion);
    EXPECT_EQ(r.result, conversionOK);
    EXPECT_EQ(r.out, (std::vector<UTF8>{0xED, 0xA0, 0x80, 'A'}));
    // Strict mode stops on it and writes nothing.
    r = convert(ConvertUTF16toUTF8, src, 8);
    EXPECT_EQ(r.result, sourceIllegal);
    EXPECT_EQ(r.consumed, 0u);
    EXPECT_TRUE(r.out.empty());
}

} // namespace
