#include "paths/FileChecksum.h"

#include <dirent.h>
#include <sys/mman.h>
#include <sys/stat.h>

#include <random>
#include <string>

#include "paths/Crc32.h"
#include "paths/PathClasses.h"
#include "tests/paths/PathTestSupport.h"

namespace {

class FileChecksumTest : public pathtest::TempDirTest {
protected:
    void TearDown() override {
        g_checksumHelperMinimum = savedMinimum_;
        pathtest::TempDirTest::TearDown();
    }

    // A file of `size` random bytes; returns its content.
    std::string MakeRandomFile(const std::string& name, size_t size) {
        std::mt19937 random(static_cast<unsigned>(size));
        std::string content(size, '\0');
        for (auto& c : content)
            c = static_cast<char>(random());
        pathtest::MakeFile(Path(name), content, 0444);
        return content;
    }

    size_t savedMinimum_ = g_checksumHelperMinimum;
};

int ThreadCount() {
    int count = 0;
    if (DIR* dir = opendir("/proc/self/task")) {
        while (struct dirent* entry = readdir(dir))
            count += entry->d_name[0] != '.';
        closedir(dir);
    }
    return count;
}

TEST_F(FileChecksumTest, EqualsTheCrcOfTheSameBytes) {
    std::mt19937 random(7);
    for (size_t size :
         {size_t{1}, size_t{9}, size_t{4095}, size_t{4096}, size_t{65537}, size_t{3 << 20}}) {
        std::string content(size, '\0');
        for (auto& c : content)
            c = static_cast<char>(random());
        std::string name = "f" + std::to_string(size);
        pathtest::MakeFile(Path(name), content, 0444);
        EXPECT_EQ(COrvikFilePath(WPath(name)).GetFileChecksum(),
                  CalculateCRC32(content.data(), static_cast<int>(content.size())))
            << "size " << size;
    }
    pathtest::MakeFile(Path("check"), "123456789");
    EXPECT_EQ(COrvikFilePath(WPath("check")).GetFileChecksum(), 0x89A1897Fu);
}

// Chunk edges and sizes that are no multiple of a page, with and without the
// helper thread: both give the CRC of the whole content, and the helper is
// gone when the call returns.
TEST_F(FileChecksumTest, HelperThreadGivesTheSameResultAndEnds) {
    const size_t chunk = kChecksumChunkBytes;
    for (size_t size : {chunk - 1, chunk, chunk + 1, 3 * chunk + 4095}) {
        std::string name = "f" + std::to_string(size);
        std::string content = MakeRandomFile(name, size);
        uint32_t expected = CalculateCRC32(content.data(), static_cast<int>(content.size()));
        g_checksumHelperMinimum = SIZE_MAX;
        EXPECT_EQ(COrvikFilePath(WPath(name)).GetFileChecksum(), expected) << "alone, " << size;
        g_checksumHelperMinimum = 0;
        int threads = ThreadCount();
        EXPECT_EQ(COrvikFilePath(WPath(name)).GetFileChecksum(), expected) << "helped, " << size;
        EXPECT_EQ(ThreadCount(), threads) << "a helper outlived the call, " << size;
    }
}

// A mapping that reaches past the end of its file, as after the file shrank:
// a clean failure, no SIGBUS, whether the missing pages are met by the caller
// or by the helper.
TEST_F(FileChecksumTest, MappingPastTheEndFailsWithoutSignal) {
    const size_t chunk = kChecksumChunkBytes;
    MakeRandomFile("short", 2 * chunk + 100);
    int fd = open(Path("short").c_str(), O_RDONLY);
    ASSERT_NE(fd, -1);
    size_t mapped = 5 * chunk;
    void* map = mmap(nullptr, mapped, PROT_READ, MAP_PRIVATE, fd, 0);
    close(fd);
    ASSERT_NE(map, MAP_FAILED);
    for (size_t minimum : {SIZE_MAX, size_t{0}}) {
        g_checksumHelperMinimum = minimum;
        uint32_t crc = 0xA5A5A5A5u;
        EXPECT_FALSE(ChecksumMappedBytes(static_cast<const char*>(map), mapped, &crc))
            << "minimum " << minimum;
        EXPECT_EQ(crc, 0xA5A5A5A5u) << "minimum " << minimum;
        // The part inside the file still reads.
        EXPECT_TRUE(ChecksumMappedBytes(static_cast<const char*>(map), 2 * chunk + 100, &crc));
        EXPECT_EQ(crc, CalculateCRC32(static_cast<char*>(map), static_cast<int>(2 * chunk + 100)));
    }
    munmap(map, mapped);
}

TEST_F(FileChecksumTest, UnreadableGivesZero) {
    pathtest::MakeFile(Path("empty"), "");
    pathtest::MakeDir(Path("dir"));
    ASSERT_EQ(mkfifo(Path("fifo").c_str(), 0644), 0);
    EXPECT_EQ(COrvikFilePath(WPath("empty")).GetFileChecksum(), 0u);
    EXPECT_EQ(COrvikFilePath(WPath("missing")).GetFileChecksum(), 0u);
    EXPECT_EQ(COrvikFilePath(WPath("dir")).GetFileChecksum(), 0u);
    EXPECT_EQ(COrvikFilePath(WPath("fifo")).GetFileChecksum(), 0u); // and no waiting for a writer
    EXPECT_EQ(COrvikFilePath().GetFileChecksum(), 0u);
}

} // namespace
