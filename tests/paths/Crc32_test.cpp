#include "paths/Crc32.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>

namespace {

uint32_t Crc(std::string text, int length) {
    return CalculateCRC32(text.data(), length);
}

TEST(Crc32Test, CheckValuesAndEveryLengthAroundTheSliceAndStreamEdges) {
    EXPECT_EQ(Crc("123456789", 9), 0x89A1897Fu);
    EXPECT_EQ(Crc("abc", 0), 0u);
    EXPECT_EQ(Crc("abc", -1), 0u);
    EXPECT_EQ(CalculateCRC32(nullptr, 5), 0u);
    memset(crc_table, 0, sizeof(crc_table));
    gen_crc_table();
    EXPECT_EQ(crc_table[255], 0xB1F740B4u);
    // Lengths on both sides of the eight-byte slices and of the three interleaved streams
    // (from 64 KiB on, cut in parts that are whole slices), over bytes of every value. The
    // values were worked out bit by bit from the polynomial, with no table.
    std::mt19937 random(12345);
    std::string data(65536 + 3 * 8 + 5, '\0');
    for (char& c : data)
        c = static_cast<char>(random());
    for (auto [length, crc] : {std::pair{7, 0xCB76B740u},
                               {8, 0xDC4CA615u},
                               {17, 0x68468A0Fu},
                               {65535, 0xB3640C7Cu},
                               {65536, 0xDEE63AEFu},
                               {65536 + 3 * 8 + 5, 0x56F1F452u}})
        EXPECT_EQ(CalculateCRC32(data.data(), length), crc) << "length " << length;
}

} // namespace
