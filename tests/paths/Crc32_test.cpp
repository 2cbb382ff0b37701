#include "paths/Crc32.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>

namespace {

// The CRC bit by bit, straight from the polynomial: no table involved.
uint32_t BitwiseCrc(const std::string& data) {
    uint32_t reg = 0;
    for (unsigned char byte : data) {
        reg ^= uint32_t(byte) << 24;
        for (int bit = 0; bit < 8; ++bit)
            reg = (reg & 0x80000000u) ? (reg << 1) ^ 0x04C11DB7u : reg << 1;
    }
    return reg;
}

uint32_t Crc(std::string text, int length) {
    return CalculateCRC32(text.data(), length);
}

TEST(Crc32Test, CheckValuesEmptyInputAndTable) {
    EXPECT_EQ(Crc("123456789", 9), 0x89A1897Fu);
    EXPECT_EQ(Crc("abc", 0), 0u);
    EXPECT_EQ(Crc("abc", -1), 0u);
    EXPECT_EQ(CalculateCRC32(nullptr, 5), 0u);
    memset(crc_table, 0, sizeof(crc_table));
    gen_crc_table();
    EXPECT_EQ(crc_table[255], 0xB1F740B4u);
}

// Lengths on both sides of the eight-byte slices and of the three interleaved streams
// (from 64 KiB on, cut in parts that are whole slices), over bytes of every value.
TEST(Crc32Test, EveryLengthAroundTheSliceAndStreamEdgesMatchesTheBitwiseCrc) {
    std::mt19937 random(12345);
    std::string data(65536 + 3 * 8 + 5, '\0');
    for (char& c : data)
        c = static_cast<char>(random());
    for (size_t length : {7, 8, 17, 65535, 65536, 65536 + 3 * 8 + 5}) {
        const std::string bytes = data.substr(0, length);
        EXPECT_EQ(Crc(bytes, static_cast<int>(length)), BitwiseCrc(bytes)) << "length " << length;
    }
}

} // namespace
