// The table-driven CRC reads one table entry per input byte, as the plain
// loop does, but keeps more lookups in flight:
//  - slicing: eight bytes at a time go through eight tables, table k holding
//    the register after the byte i followed by k zero bytes, so the eight
//    lookups of one step XOR together to the register the byte loop reaches;
//  - three streams: a large block is cut into three equal parts whose CRCs
//    run interleaved and are joined afterwards. The CRC is linear with a zero
//    start, so CRC(A B) = CRC(A) * x^(8 |B|) + CRC(B) in GF(2)[x] mod the
//    polynomial; the join costs a few dozen carry-less products, no lookups.
#include "paths/Crc32.h"

#include <cstddef>
#include <cstring>

uint32_t crc_table[256];

namespace {

constexpr uint32_t kPolynomial = 0x04C11DB7u;
constexpr size_t kStreamMinimum = 1 << 16; // below this one stream is as fast

// g_slice[0] mirrors crc_table; g_slice[k][i] = g_slice[k-1][i] followed by
// one zero byte.
uint32_t g_slice[8][256];

void FillCrcTable(uint32_t* table) {
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t reg = i << 24;
        for (int bit = 0; bit < 8; ++bit)
            reg = (reg & 0x80000000u) ? (reg << 1) ^ kPolynomial : reg << 1;
        table[i] = reg;
    }
}

void FillSliceTables() {
    memcpy(g_slice[0], crc_table, sizeof(crc_table));
    for (int k = 1; k < 8; ++k)
        for (int i = 0; i < 256; ++i) {
            uint32_t prev = g_slice[k - 1][i];
            g_slice[k][i] = (prev << 8) ^ crc_table[prev >> 24];
        }
}

inline uint64_t LoadBigEndian64(const unsigned char* p) {
    uint64_t v;
    memcpy(&v, p, sizeof(v));
    return __builtin_bswap64(v);
}

// The register after the eight bytes at p.
inline uint32_t Step8(uint32_t reg, const unsigned char* p) {
    uint64_t word = LoadBigEndian64(p);
    uint32_t hi = reg ^ static_cast<uint32_t>(word >> 32);
    uint32_t lo = static_cast<uint32_t>(word);
    return g_slice[7][hi >> 24] ^ g_slice[6][(hi >> 16) & 0xFF] ^ g_slice[5][(hi >> 8) & 0xFF] ^
           g_slice[4][hi & 0xFF] ^ g_slice[3][lo >> 24] ^ g_slice[2][(lo >> 16) & 0xFF] ^
           g_slice[1][(lo >> 8) & 0xFF] ^ g_slice[0][lo & 0xFF];
}

uint32_t UpdateSliced(uint32_t reg, const unsigned char* p, size_t n) {
    for (; n >= 8; p += 8, n -= 8)
        reg = Step8(reg, p);
    for (; n > 0; --n)
        reg = (reg << 8) ^ crc_table[(reg >> 24) ^ *p++];
    return reg;
}

// a * b mod the polynomial, both of degree below 32.
uint32_t MultiplyModulo(uint32_t a, uint32_t b) {
    uint32_t product = 0;
    for (int bit = 31; bit >= 0; --bit) {
        product = (product & 0x80000000u) ? (product << 1) ^ kPolynomial : product << 1;
        if ((b >> bit) & 1)
            product ^= a;
    }
    return product;
}

// x^(8 n) mod the polynomial: what appending n zero bytes multiplies by.
uint32_t ZeroBytesFactor(size_t n) {
    uint32_t factor = 1, square = 0x100; // x^0, x^8
    for (; n != 0; n >>= 1) {
        if (n & 1)
            factor = MultiplyModulo(factor, square);
        square = MultiplyModulo(square, square);
    }
    return factor;
}

uint32_t UpdateThreeStreams(const unsigned char* p, size_t n) {
    size_t part = (n / 3) & ~size_t{7};
    const unsigned char* a = p;
    const unsigned char* b = p + part;
    const unsigned char* c = p + 2 * part;
    uint32_t ra = 0, rb = 0, rc = 0;
    for (size_t i = 0; i < part; i += 8) {
        ra = Step8(ra, a + i);
        rb = Step8(rb, b + i);
        rc = Step8(rc, c + i);
    }
    uint32_t factor = ZeroBytesFactor(part);
    uint32_t reg = MultiplyModulo(MultiplyModulo(ra, factor) ^ rb, factor) ^ rc;
    return UpdateSliced(reg, p + 3 * part, n - 3 * part);
}

} // namespace

uint32_t CombineCRC32(uint32_t crcFirst, uint32_t crcSecond, size_t lengthSecond) {
    if (crcFirst == 0)
        return crcSecond; // zero times anything: spare the factor
    return MultiplyModulo(crcFirst, ZeroBytesFactor(lengthSecond)) ^ crcSecond;
}

void gen_crc_table() {
    FillCrcTable(crc_table);
}

uint32_t CalculateCRC32(char* data, int length) {
    static int calculated_table = 0;
    if (calculated_table == 0) {
        FillCrcTable(crc_table);
        FillSliceTables();
        calculated_table = 1;
    }
    if (length <= 0 || data == nullptr)
        return 0;
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(data);
    size_t n = static_cast<size_t>(length);
    return n >= kStreamMinimum ? UpdateThreeStreams(bytes, n) : UpdateSliced(0, bytes, n);
}
