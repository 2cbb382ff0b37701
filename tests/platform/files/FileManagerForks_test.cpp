// Forks: the data fork is the content, a named fork a user.* attribute; marks,
// ends of file and permissions; a fork copy moves bounded chunks, in the kernel
// on one device and through memory across devices or into a named fork.
#include <sys/xattr.h>

#include <vector>

#include "tests/platform/files/FileManagerTestSupport.h"

namespace {

class FileManagerForksTest : public fmtest::TempFolderTest {};

SInt64 Mark(FSIORefNum fork) {
    SInt64 position = -1;
    EXPECT_EQ(FSGetForkPosition(fork, &position), noErr);
    return position;
}

TEST_F(FileManagerForksTest, DataForkReadWriteAndPositions) {
    MakeFile("f", "0123456789");
    FSRef ref, folder;
    ASSERT_EQ(Ref("f", &ref), noErr);
    FSIORefNum fork = 0;
    ASSERT_EQ(FSOpenFork(&ref, 0, nullptr, fsRdWrPerm, &fork), noErr);
    SInt64 size = -1;
    EXPECT_EQ(FSGetForkSize(fork, &size), noErr);
    EXPECT_EQ(size, 10);
    EXPECT_EQ(FSSetForkPosition(fork, fsFromLEOF, -4), noErr);
    EXPECT_EQ(Mark(fork), 6);
    EXPECT_EQ(FSSetForkPosition(fork, fsFromStart, 11), eofErr);
    EXPECT_EQ(FSSetForkPosition(fork, fsFromMark, -7), posErr);
    EXPECT_EQ(Mark(fork), 6);                                 // unchanged by the failures
    EXPECT_EQ(FSSetForkPosition(fork, fsFromMark, 4), noErr); // the end itself
    EXPECT_EQ(Mark(fork), 10);
    // Reading past the end: end-of-file with the bytes that were there.
    char buffer[16];
    memset(buffer, '#', sizeof buffer);
    ByteCount actual = 99;
    EXPECT_EQ(FSReadFork(fork, fsFromLEOF | noCacheMask, -4, 16, buffer, &actual), eofErr);
    EXPECT_EQ(actual, 4u);
    EXPECT_EQ(std::string(buffer, 5), "6789#");
    EXPECT_EQ(FSReadFork(fork, fsFromStart, 0, 1, nullptr, &actual), paramErr);
    ASSERT_EQ(FSWriteFork(fork, fsFromStart, 2, 3, "abc", &actual), noErr);
    EXPECT_EQ(actual, 3u);
    // A single byte is a whole transfer both ways.
    ASSERT_EQ(FSWriteFork(fork, fsAtMark, 0, 1, "X", &actual), noErr);
    EXPECT_EQ(actual, 1u);
    ASSERT_EQ(FSReadFork(fork, fsFromStart, 5, 1, buffer, &actual), noErr);
    EXPECT_EQ(actual, 1u);
    EXPECT_EQ(buffer[0], 'X');
    EXPECT_EQ(testsupport::ReadFile(Path("f")), "01abcX6789");
    ASSERT_EQ(FSSetForkSize(fork, fsFromStart, 4), noErr);
    EXPECT_EQ(Mark(fork), 4); // the mark follows the end back
    UInt64 allocated = 7;
    EXPECT_EQ(FSAllocateFork(fork, 0, fsFromStart, 0, UInt64(1) << 60, &allocated), dskFulErr);
    EXPECT_EQ(allocated, 0u);
    EXPECT_EQ(FSAllocateFork(fork, 0, fsFromStart, 0, 1 << 20, &allocated), noErr);
    EXPECT_EQ(allocated, UInt64(1) << 20); // and the size stays: the file reads back whole
    EXPECT_EQ(FSCloseFork(fork), noErr);
    EXPECT_EQ(testsupport::ReadFile(Path("f")), "01ab");
    EXPECT_EQ(FSCloseFork(fork), rfNumErr);
    ASSERT_EQ(Ref("", &folder), noErr);
    EXPECT_EQ(FSOpenFork(&folder, 0, nullptr, fsRdPerm, &fork), notAFileErr);
}

TEST_F(FileManagerForksTest, NamedForksAreUserAttributes) {
    MakeFile("f", "content");
    if (setxattr(Path("f").c_str(), "user.probe", "", 0, 0) != 0)
        GTEST_SKIP() << "no user attributes on this file system";
    ASSERT_EQ(removexattr(Path("f").c_str(), "user.probe"), 0);
    setxattr(Path("f").c_str(), "trusted.hidden", "x", 1, 0); // not a fork (root only)
    FSRef ref;
    ASSERT_EQ(Ref("f", &ref), noErr);
    HFSUniStr255 resource;
    ASSERT_EQ(FSGetResourceForkName(&resource), noErr);
    EXPECT_EQ(FSCreateFork(&ref, 0, nullptr), errFSForkExists); // the data fork always does
    ASSERT_EQ(FSCreateFork(&ref, resource.length, resource.unicode), noErr);
    EXPECT_EQ(FSCreateFork(&ref, resource.length, resource.unicode), errFSForkExists);
    FSIORefNum fork, data;
    ASSERT_EQ(FSOpenFork(&ref, resource.length, resource.unicode, fsRdWrPerm, &fork), noErr);
    ASSERT_EQ(FSWriteFork(fork, fsFromStart, 0, 5, "rsrc!", nullptr), noErr);
    // Copied through memory; an attribute holds at most 64 KiB.
    ASSERT_EQ(FSOpenFork(&ref, 0, nullptr, fsRdPerm, &data), noErr);
    char scratch[16];
    ByteCount actual = 0;
    EXPECT_EQ(FSCopyForkChunk(data, fork, sizeof scratch, scratch, &actual), eofErr);
    EXPECT_EQ(actual, 7u);
    EXPECT_EQ(FSWriteFork(fork, fsFromStart, 65530, 7, "0123456", &actual), dskFulErr);
    EXPECT_EQ(FSWriteFork(fork, fsFromStart, 65530, 6, "012345", &actual), noErr);
    ASSERT_EQ(FSSetForkSize(fork, fsFromStart, 12), noErr);
    EXPECT_EQ(FSCloseFork(data), noErr);
    EXPECT_EQ(FSCloseFork(fork), noErr);
    char value[16];
    ASSERT_EQ(getxattr(Path("f").c_str(), "user.RESOURCE_FORK", value, sizeof value), 12);
    EXPECT_EQ(std::string(value, 12), "rsrc!content");

    // The data fork first, then the named forks; nothing else.
    CatPositionRec iterator{};
    HFSUniStr255 name;
    SInt64 size = 0;
    std::vector<std::pair<std::string, SInt64>> forks;
    while (FSIterateForks(&ref, &iterator, &name, &size, nullptr) == noErr)
        forks.emplace_back(fmtest::NameOf(name), size);
    EXPECT_EQ(forks, (std::vector<std::pair<std::string, SInt64>>{{"", 7}, {"RESOURCE_FORK", 12}}));
    FSCatalogInfo info;
    ASSERT_EQ(FSGetCatalogInfo(&ref, kFSCatInfoRsrcSizes, &info, nullptr, nullptr, nullptr), noErr);
    EXPECT_EQ(info.rsrcLogicalSize, 12u);
    EXPECT_EQ(FSDeleteFork(&ref, resource.length, resource.unicode), noErr);
    EXPECT_EQ(FSDeleteFork(&ref, resource.length, resource.unicode), errFSForkNotFound);
}

// 10,000 bytes in chunks of 4,096: 4,096, 4,096 and 1,808.
TEST_F(FileManagerForksTest, ForkCopyMovesBoundedChunks) {
    std::string data(10000, '\0');
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = char(i * 7 + i / 1000);
    MakeFile("source", data);
    MakeFile("copy");
    FSRef from, to;
    FSIORefNum in, out;
    ASSERT_EQ(Ref("source", &from), noErr);
    ASSERT_EQ(Ref("copy", &to), noErr);
    ASSERT_EQ(FSOpenFork(&from, 0, nullptr, fsRdPerm, &in), noErr);
    ASSERT_EQ(FSOpenFork(&to, 0, nullptr, fsWrPerm, &out), noErr);
    char scratch[4096];
    std::vector<ByteCount> moved;
    OSErr status;
    do {
        ByteCount n = 0;
        status = FSCopyForkChunk(in, out, sizeof scratch, scratch, &n);
        moved.push_back(n);
    } while (status == noErr);
    EXPECT_EQ(status, eofErr);
    EXPECT_EQ(moved, (std::vector<ByteCount>{4096, 4096, 1808}));
    EXPECT_EQ(Mark(out), 10000);
    EXPECT_EQ(FSCopyForkChunk(out, in, 1, scratch, nullptr), afpAccessDenied);
    EXPECT_EQ(FSCopyForkChunk(in, in, 1, scratch, nullptr), wrPermErr);
    // Plain transfers too: a read-only fork refuses writes, a write-only one reads nothing.
    EXPECT_EQ(FSWriteFork(in, fsAtMark, 0, 1, "z", nullptr), wrPermErr);
    EXPECT_EQ(FSReadFork(out, fsAtMark, 0, 1, scratch, nullptr), afpAccessDenied);
    EXPECT_EQ(FSCopyForkChunk(in, 0, 1, scratch, nullptr), rfNumErr);
    EXPECT_EQ(FSCloseFork(in), noErr);
    EXPECT_EQ(FSCloseFork(out), noErr);
    EXPECT_TRUE(testsupport::ReadFile(Path("copy")) == data);
}

} // namespace
