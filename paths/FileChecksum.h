// How COrvikFilePath::GetFileChecksum (paths/PathClasses.h) reads the mapping
// of a file: in chunks of kChecksumChunkBytes, in order. Each chunk's pages
// are first made present (the kernel maps them, then one read per page), then
// the chunk's CRC joins the running one (CombineCRC32, paths/Crc32.h), so the
// result is CalculateCRC32 over the whole mapping.
//
// Why the separate pass: on a virtual machine with shadow paging the first
// user-mode read of each page of a fresh mapping traps to the host, and those
// traps cost far less taken one page after another than scattered over the
// CRC's interleaved streams. From g_checksumHelperMinimum bytes on, a helper
// thread makes chunks present ahead of the CRC while the caller runs it,
// helping whenever its next chunk is not ready; the helper is joined before
// the call returns. Small files never start a thread.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr size_t kChecksumChunkBytes = size_t{4} << 20;

// Files of at least this many bytes get the helper thread (64 MiB; tests
// lower it to cover the threaded path with small files).
extern size_t g_checksumHelperMinimum;

// The CRC of the `size` bytes mapped at the page-aligned `map` into *crc.
// False, with *crc unchanged, when a page can't be made present (the file no
// longer reaches that far), where reading it would raise SIGBUS.
bool ChecksumMappedBytes(const char* map, size_t size, uint32_t* crc);
