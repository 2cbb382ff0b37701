#include "paths/Crc32.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

// The CRC bit by bit, straight from the polynomial: no table involved.
uint32_t BitwiseCrc(const unsigned char* data, size_t length) {
    uint32_t reg = 0;
    for (size_t i = 0; i < length; ++i) {
        reg ^= uint32_t(data[i]) << 24;
        for (int bit = 0; bit < 8; ++bit)
            reg = (reg & 0x80000000u) ? (reg << 1) ^ 0x04C11DB7u : reg << 1;
    }
    return reg;
}

uint32_t Crc(const std::string& text) {
    std::string copy = text;
    return CalculateCRC32(copy.data(), static_cast<int>(copy.size()));
}

TEST(Crc32Test, CheckValuesAndEmptyInput) {
    EXPECT_EQ(Crc("123456789"), 0x89A1897Fu);
    EXPECT_EQ(Crc("abc"), 0x2C17398Cu);
    EXPECT_EQ(Crc(""), 0u);
    char byte = 'x';
    EXPECT_EQ(CalculateCRC32(&byte, -5), 0u);
    EXPECT_EQ(CalculateCRC32(nullptr, 0), 0u);
}

TEST(Crc32Test, TableFilledAsStatedAndRegeneratedIdentically) {
    Crc("x"); // fills the table
    EXPECT_EQ(crc_table[0], 0u);
    EXPECT_EQ(crc_table[1], 0x04C11DB7u);
    EXPECT_EQ(crc_table[255], 0xB1F740B4u);
    uint32_t saved[256];
    memcpy(saved, crc_table, sizeof(saved));
    memset(crc_table, 0, sizeof(crc_table));
    gen_crc_table();
    EXPECT_EQ(memcmp(saved, crc_table, sizeof(saved)), 0);
}

TEST(Crc32Test, LargeRandomBufferMatchesBitwiseReference) {
    std::mt19937 random(12345);
    std::vector<unsigned char> data(4 << 20);
    for (auto& b : data)
        b = static_cast<unsigned char>(random());
    EXPECT_EQ(CalculateCRC32(reinterpret_cast<char*>(data.data()), static_cast<int>(data.size())),
              BitwiseCrc(data.data(), data.size()));
    // Every short length at every alignment, so the tail and the sliced loop
    // both meet every remainder.
    for (size_t offset = 0; offset < 16; ++offset)
        for (size_t length = 0; length < 80; ++length)
            ASSERT_EQ(CalculateCRC32(reinterpret_cast<char*>(data.data() + offset),
                                     static_cast<int>(length)),
                      BitwiseCrc(data.data() + offset, length))
                << "offset " << offset << " length " << length;
}

// Joining the CRCs of two pieces gives the CRC of the whole, at every kind of
// split: empty pieces, pieces shorter than a slice, and pieces long enough
// for the interleaved streams.
TEST(Crc32Test, CombineJoinsPiecesAtAnySplit) {
    std::mt19937 random(99);
    std::vector<unsigned char> data(300000);
    for (auto& b : data)
        b = static_cast<unsigned char>(random());
    char* bytes = reinterpret_cast<char*>(data.data());
    int total = static_cast<int>(data.size());
    uint32_t whole = CalculateCRC32(bytes, total);
    for (int split : {0, 1, 7, 8, 9, 4096, 65535, 65536, 100003, total - 1, total}) {
        uint32_t first = CalculateCRC32(bytes, split);
        uint32_t second = CalculateCRC32(bytes + split, total - split);
        EXPECT_EQ(CombineCRC32(first, second, size_t(total - split)), whole) << "split " << split;
    }
    EXPECT_EQ(CombineCRC32(Crc("1234"), Crc("56789"), 5), 0x89A1897Fu);
    // Leading zero bytes leave a zero register: the second piece's CRC is the result.
    std::string zeros(4, '\0');
    EXPECT_EQ(CombineCRC32(Crc(zeros), Crc("abc"), 3), Crc(zeros + "abc"));
    EXPECT_EQ(CombineCRC32(Crc("abc"), Crc(zeros), 4), Crc("abc" + zeros));
}

TEST(Crc32Test, HighBytesAreTakenUnsigned) {
    std::vector<unsigned char> data = {0xFF, 0x80, 0x7F, 0x00, 0xC3, 0xA9, 0xFE, 0x01, 0x99};
    EXPECT_EQ(CalculateCRC32(reinterpret_cast<char*>(data.data()), static_cast<int>(data.size())),
              BitwiseCrc(data.data(), data.size()));
}

} // namespace
