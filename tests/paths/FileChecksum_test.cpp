#include <sys/stat.h>

#include <random>
#include <string>

#include "paths/Crc32.h"
#include "paths/PathClasses.h"
#include "tests/paths/PathTestSupport.h"

namespace {

class FileChecksumTest : public pathtest::TempDirTest {};

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
