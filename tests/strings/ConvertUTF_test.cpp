#include "strings/ConvertUTF.h"

#include <gtest/gtest.h>
#include <unicode/ustring.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr UTF16 kSentinel16 = 0xBEEF;

// Converts all of src to UTF-16 in one call with the given target room.
struct Utf8To16 {
    ConversionResult result;
    size_t consumed;
    std::u16string out;
};
Utf8To16 utf8To16(const std::vector<UTF8>& src, size_t room,
                  ConversionFlags flags = strictConversion) {
    std::vector<UTF16> buf(room + 1, kSentinel16);
    const UTF8* s = src.data();
    UTF16* t = buf.data();
    ConversionResult r =
        ConvertUTF8toUTF16(&s, src.data() + src.size(), &t, buf.data() + room, flags);
    EXPECT_EQ(buf[room], kSentinel16) << "wrote past the target end";
    return {r, static_cast<size_t>(s - src.data()), std::u16string(buf.data(), t)};
}

struct Utf8To32 {
    ConversionResult result;
    size_t consumed;
    std::vector<UTF32> out;
};
Utf8To32 utf8To32(const std::vector<UTF8>& src, size_t room) {
    std::vector<UTF32> buf(room + 1, 0xDEADBEEF);
    const UTF8* s = src.data();
    UTF32* t = buf.data();
    ConversionResult r =
        ConvertUTF8toUTF32(&s, src.data() + src.size(), &t, buf.data() + room, strictConversion);
    EXPECT_EQ(buf[room], 0xDEADBEEF) << "wrote past the target end";
    return {r, static_cast<size_t>(s - src.data()), std::vector<UTF32>(buf.data(), t)};
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
        Utf8To16 r16 = utf8To16(row.bytes, 16);
        EXPECT_EQ(r16.result, row.result) << hex(row.bytes);
        EXPECT_EQ(r16.consumed, row.consumed) << hex(row.bytes);
        EXPECT_EQ(r16.out, row.out) << hex(row.bytes);

        // UTF-32 stops at the same place with the same characters.
        Utf8To32 r32 = utf8To32(row.bytes, 16);
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
    EXPECT_EQ(trailingBytesForUTF8[0x7F], 0);
    EXPECT_EQ(trailingBytesForUTF8[0xBF], 0);
    EXPECT_EQ(trailingBytesForUTF8[0xC0], 1);
    EXPECT_EQ(trailingBytesForUTF8[0xDF], 1);
    EXPECT_EQ(trailingBytesForUTF8[0xE0], 2);
    EXPECT_EQ(trailingBytesForUTF8[0xEF], 2);
    EXPECT_EQ(trailingBytesForUTF8[0xF0], 3);
    EXPECT_EQ(trailingBytesForUTF8[0xF7], 3);
    EXPECT_EQ(trailingBytesForUTF8[0xF8], 4);
    EXPECT_EQ(trailingBytesForUTF8[0xFB], 4);
    EXPECT_EQ(trailingBytesForUTF8[0xFC], 5);
    EXPECT_EQ(trailingBytesForUTF8[0xFF], 5);
    const UTF32 offsets[6] = {0x0, 0x3080, 0xE2080, 0x3C82080, 0xFA082080, 0x82082080};
    const UTF8 marks[7] = {0x00, 0x00, 0xC0, 0xE0, 0xF0, 0xF8, 0xFC};
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(offsetsFromUTF8[i], offsets[i]) << i;
    for (int i = 0; i < 7; ++i)
        EXPECT_EQ(firstByteMark[i], marks[i]) << i;
}

TEST(ConvertUTF8, TargetExhaustedLeavesTheSourceOnTheCharacter) {
    // A supplementary character needs two units; room for one is not enough.
    Utf8To16 r = utf8To16({0x61, 0xF0, 0x9F, 0x98, 0x80}, 2);
    EXPECT_EQ(r.result, targetExhausted);
    EXPECT_EQ(r.consumed, 1u);
    EXPECT_EQ(r.out, u"a");
    r = utf8To16({0x61, 0x62}, 1);
    EXPECT_EQ(r.result, targetExhausted);
    EXPECT_EQ(r.consumed, 1u);
    // Exactly enough room is not exhaustion.
    r = utf8To16({0x61, 0xF0, 0x9F, 0x98, 0x80}, 3);
    EXPECT_EQ(r.result, conversionOK);
    EXPECT_EQ(r.out, u"a\U0001F600");
    Utf8To32 r32 = utf8To32({0xC3, 0xA9, 0x41}, 1);
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
        std::vector<UTF16> buf(row.room + 1, kSentinel16);
        const UTF32* s = row.src.data();
        UTF16* t = buf.data();
        ConversionResult r = ConvertUTF32toUTF16(&s, row.src.data() + row.src.size(), &t,
                                                 buf.data() + row.room, row.flags);
        SCOPED_TRACE(testing::Message()
                     << "first=" << (row.src.empty() ? 0 : row.src[0]) << " room=" << row.room);
        EXPECT_EQ(r, row.result);
        EXPECT_EQ(static_cast<size_t>(s - row.src.data()), row.consumed);
        EXPECT_EQ(std::u16string(buf.data(), t), row.out);
        EXPECT_EQ(buf[row.room], kSentinel16);
    }
}

TEST(ConvertUTF32, ToUTF8ReplacesValuesBeyondTheLastPlane) {
    const UTF32 src[] = {0x41, 0x7FFFFFFF, 0x42};
    UTF8 buf[8];
    memset(buf, 0xAA, sizeof buf);
    const UTF32* s = src;
    UTF8* t = buf;
    EXPECT_EQ(ConvertUTF32toUTF8(&s, src + 3, &t, buf + 8, strictConversion), sourceIllegal);
    EXPECT_EQ(t - buf, 5);
    EXPECT_EQ(0, memcmp(buf,
                        "A\xEF\xBF\xBD"
                        "B",
                        5));
    // A surrogate stops strict conversion on it.
    const UTF32 sur[] = {0x41, 0xDC00};
    s = sur;
    t = buf;
    EXPECT_EQ(ConvertUTF32toUTF8(&s, sur + 2, &t, buf + 8, strictConversion), sourceIllegal);
    EXPECT_EQ(s, sur + 1);
    // Room for three of four bytes: nothing of the character is written.
    const UTF32 big[] = {0x10348};
    memset(buf, 0xAA, sizeof buf);
    s = big;
    t = buf;
    EXPECT_EQ(ConvertUTF32toUTF8(&s, big + 1, &t, buf + 3, strictConversion), targetExhausted);
    EXPECT_EQ(s, big);
    EXPECT_EQ(t, buf);
    EXPECT_EQ(buf[0], 0xAA);
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
        UTF32 buf[8];
        const UTF16* s = row.src.data();
        UTF32* t = buf;
        EXPECT_EQ(ConvertUTF16toUTF32(&s, s + row.src.size(), &t, buf + 8, strictConversion),
                  row.result)
            << row.src.size();
        EXPECT_EQ(static_cast<size_t>(s - row.src.data()), row.consumed);
        EXPECT_EQ(std::vector<UTF32>(buf, t), row.out);

        UTF8 b8[16];
        s = row.src.data();
        UTF8* t8 = b8;
        EXPECT_EQ(ConvertUTF16toUTF8(&s, s + row.src.size(), &t8, b8 + 16, strictConversion),
                  row.result);
        EXPECT_EQ(static_cast<size_t>(s - row.src.data()), row.consumed);
    }
    // Lenient mode passes an unpaired surrogate through unchanged.
    const UTF16 lone[] = {0xDC00, 0x41};
    const UTF16* s = lone;
    UTF32 buf[4];
    UTF32* t = buf;
    EXPECT_EQ(ConvertUTF16toUTF32(&s, lone + 2, &t, buf + 4, lenientConversion), conversionOK);
    EXPECT_EQ(buf[0], 0xDC00u);
    // Target full before a pair: the source backs up to the high half.
    const UTF16 pair[] = {0x41, 0xD83D, 0xDE00};
    s = pair;
    UTF8 b8[6];
    UTF8* t8 = b8;
    EXPECT_EQ(ConvertUTF16toUTF8(&s, pair + 3, &t8, b8 + 4, strictConversion), targetExhausted);
    EXPECT_EQ(s, pair + 1);
    EXPECT_EQ(t8, b8 + 1);
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

        // UTF-32 -> UTF-16, with exactly the room ICU needed.
        std::vector<UTF16> our16(icu16Len);
        const UTF32* s32 = cps.data();
        UTF16* t16 = our16.data();
        ASSERT_EQ(ConvertUTF32toUTF16(&s32, cps.data() + n32, &t16, our16.data() + icu16Len,
                                      strictConversion),
                  conversionOK);
        ASSERT_EQ(t16, our16.data() + icu16Len);
        ASSERT_EQ(0, memcmp(our16.data(), icu16.data(), icu16Len * 2));

        // UTF-32 -> UTF-8.
        std::vector<UTF8> our8(icu8Len);
        s32 = cps.data();
        UTF8* t8 = our8.data();
        ASSERT_EQ(ConvertUTF32toUTF8(&s32, cps.data() + n32, &t8, our8.data() + icu8Len,
                                     strictConversion),
                  conversionOK);
        ASSERT_EQ(t8, our8.data() + icu8Len);
        ASSERT_EQ(0, memcmp(our8.data(), icu8.data(), icu8Len));

        // UTF-16 -> UTF-8 and UTF-8 -> UTF-16.
        std::vector<UTF8> our8b(icu8Len);
        const UTF16* s16 = reinterpret_cast<const UTF16*>(icu16.data());
        t8 = our8b.data();
        ASSERT_EQ(
            ConvertUTF16toUTF8(&s16, s16 + icu16Len, &t8, our8b.data() + icu8Len, strictConversion),
            conversionOK);
        ASSERT_EQ(our8b, our8);
        std::vector<UTF16> our16b(icu16Len);
        const UTF8* s8 = reinterpret_cast<const UTF8*>(icu8.data());
        t16 = our16b.data();
        ASSERT_EQ(
            ConvertUTF8toUTF16(&s8, s8 + icu8Len, &t16, our16b.data() + icu16Len, strictConversion),
            conversionOK);
        ASSERT_EQ(our16b, our16);

        // UTF-8 -> UTF-32 and UTF-16 -> UTF-32 come back to the code points.
        std::vector<UTF32> our32(n32);
        s8 = reinterpret_cast<const UTF8*>(icu8.data());
        UTF32* t32 = our32.data();
        ASSERT_EQ(ConvertUTF8toUTF32(&s8, s8 + icu8Len, &t32, our32.data() + n32, strictConversion),
                  conversionOK);
        ASSERT_EQ(our32, cps);
        s16 = reinterpret_cast<const UTF16*>(icu16.data());
        t32 = our32.data();
        std::fill(our32.begin(), our32.end(), 0);
        ASSERT_EQ(
            ConvertUTF16toUTF32(&s16, s16 + icu16Len, &t32, our32.data() + n32, strictConversion),
            conversionOK);
        ASSERT_EQ(our32, cps);

        // ICU agrees that our UTF-8 is valid and decodes to the same UTF-16.
        std::vector<UChar> check(icu16Len + 1);
        int32_t checkLen = 0;
        u_strFromUTF8(check.data(), static_cast<int32_t>(check.size()), &checkLen,
                      reinterpret_cast<const char*>(our8.data()), icu8Len, &err);
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
                    Utf8To16 ours = utf8To16(v, 8);
                    UErrorCode err = U_ZERO_ERROR;
                    UChar out[8];
                    int32_t outLen = 0;
                    u_strFromUTF8(out, 8, &outLen, reinterpret_cast<const char*>(v.data()),
                                  static_cast<int32_t>(n), &err);
                    ASSERT_EQ(ours.result == conversionOK, static_cast<bool>(U_SUCCESS(err)))
                        << hex(v);
                    if (ours.result == conversionOK) {
                        ASSERT_EQ(ours.out,
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
    const UTF16 src[] = {0xD800, 0x41};
    UTF8 out[8];
    const UTF16* s = src;
    UTF8* t = out;
    EXPECT_EQ(ConvertUTF16toUTF8(&s, src + 2, &t, out + 8, lenientConversion), conversionOK);
    ASSERT_EQ(t - out, 4);
    EXPECT_EQ(0, memcmp(out,
                        "\xED\xA0\x80"
                        "A",
                        4));
    // Strict mode stops on it and writes nothing.
    s = src;
    t = out;
    EXPECT_EQ(ConvertUTF16toUTF8(&s, src + 2, &t, out + 8, strictConversion), sourceIllegal);
    EXPECT_EQ(s, src);
    EXPECT_EQ(t, out);
}

} // namespace
