// CRC-32 over a block of bytes: width 32, polynomial 0x04C11DB7, initial
// register 0, input and output not reflected, nothing XORed at the end.
//   CalculateCRC32("123456789", 9) == 0x89A1897F
//   CalculateCRC32("abc", 3)       == 0x2C17398C
// The file checksum (COrvikFilePath::GetFileChecksum, paths/PathClasses.h)
// maps the file and runs the same function over it, a piece at a time, joining
// the pieces with CombineCRC32.
#pragma once

#include <cstddef>
#include <cstdint>

// crc_table[i]: the register after feeding the byte i into a zero register.
// Zero at start; filled on the first CalculateCRC32 and kept for the process.
extern uint32_t crc_table[256];

// The CRC of `length` bytes at `data`; 0 for a length of 0 or less.
uint32_t CalculateCRC32(char* data, int length);

// The CRC of the bytes A followed by the bytes B, from the CRC of A, the CRC of
// B and the length of B; no table lookups.
//   CombineCRC32(CalculateCRC32("1234", 4), CalculateCRC32("56789", 5), 5) == 0x89A1897F
uint32_t CombineCRC32(uint32_t crcFirst, uint32_t crcSecond, size_t lengthSecond);

// Fills crc_table by the rule CalculateCRC32 uses, without marking it filled.
void gen_crc_table();
