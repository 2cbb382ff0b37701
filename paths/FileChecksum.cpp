// COrvikFilePath::GetFileChecksum: the CRC-32 of a file's content, read
// through a private read-only mapping of the whole file.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "paths/Crc32.h"
#include "paths/PathClasses.h"
#include "strings/Utf8String.h"

uint32_t COrvikFilePath::GetFileChecksum() const {
    CAtlStringA utf8 = MakeUTF8StringFromUnicodeString(m_path);
    int fd = open(utf8.GetString(), O_RDONLY | O_NONBLOCK | O_CLOEXEC); // a FIFO must not block
    if (fd == -1)
        return 0;
    struct stat st;
    if (fstat(fd, &st) != 0) {
        close(fd);
        return 0;
    }
    // The size is a 32-bit count; an empty file can't be mapped and gives 0.
    size_t size = static_cast<uint32_t>(st.st_size);
    // The pages are read in sequence exactly once: fault them in up front.
    void* map = mmap(nullptr, size, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd, 0);
    uint32_t crc = 0;
    if (map != MAP_FAILED) {
        madvise(map, size, MADV_SEQUENTIAL);
        crc = CalculateCRC32(static_cast<char*>(map), static_cast<int>(size));
    }
    close(fd);
    if (map != MAP_FAILED)
        munmap(map, size);
    return crc;
}
