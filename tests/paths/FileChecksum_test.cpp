#include "paths/FileChecksum.h"

#include <sys/mman.h>
#include <sys/stat.h>

#include <random>
#include <string>

#include "paths/Crc32.h"
#include "tests/paths/PathTestSupport.h"

namespace {

class FileChecksumTest : public pathtest::TempDirTest {};

TEST_F(FileChecksumTest, EqualsTheCrcOfTheFilesBytesOrZero) {
    // Past one read block, so that the blocks' CRCs are joined.
    std::mt19937 random(7);
    std::string content(kChecksumChunkBytes + 100, '\0');
    for (char& c : content)
        c = static_cast<char>(random());
    pathtest::MakeFile(Path("big"), content, 0444);
    EXPECT_EQ(File("big").GetFileChecksum(),
              CalculateCRC32(content.data(), static_cast<int>(content.size())));

    // A mapping longer than its file, as after the file shrank: false with the result
    // untouched and no SIGBUS.
    const int fd = open(Path("big").c_str(), O_RDONLY);
    ASSERT_NE(fd, -1);
    const size_t mapped = 3 * kChecksumChunkBytes;
    void* map = mmap(nullptr, mapped, PROT_READ, MAP_PRIVATE, fd, 0);
    close(fd);
    ASSERT_NE(map, MAP_FAILED);
    const char* bytes = static_cast<const char*>(map);
    uint32_t crc = 0xA5A5A5A5u;
    EXPECT_FALSE(ChecksumMappedBytes(bytes, mapped, &crc));
    EXPECT_FALSE(ChecksumMappedBytes(bytes, size_t{UINT32_MAX} + 1, &crc)); // never read
    EXPECT_EQ(crc, 0xA5A5A5A5u);
    EXPECT_TRUE(ChecksumMappedBytes(bytes, content.size(), &crc));
    EXPECT_EQ(crc, File("big").GetFileChecksum());
    munmap(map, mapped);
    pathtest::MakeFile(Path("empty"), "");
    pathtest::MakeDir(Path("dir"));
    ASSERT_EQ(mkfifo(Path("fifo").c_str(), 0644), 0);
    for (const char* name : {"empty", "missing", "dir", "fifo"}) // and no waiting for a writer
        EXPECT_EQ(File(name).GetFileChecksum(), 0u) << name;
    EXPECT_EQ(COrvikFilePath().GetFileChecksum(), 0u);
}

} // namespace
