// Forks: the data fork is the content, a named fork a user.* attribute; a fork
// copy moves bounded chunks, in the kernel on one device and through memory
// across devices or to a named fork.
#include <sys/xattr.h>

#include <vector>

#include "tests/platform/files/FileManagerTestSupport.h"

namespace {

class FileManagerForksTest : public fmtest::TempFolderTest {
protected:
    std::string Content(const std::string& relative) {
        return Exists(relative) ? testsupport::ReadFile(Path(relative)) : "<missing>";
    }
    bool HasUserAttributes() {
        MakeFile("probe");
        bool ok = setxattr(Path("probe").c_str(), "user.probe", "1", 1, 0) == 0;
        unlink(Path("probe").c_str());
        return ok;
    }
};

TEST_F(FileManagerForksTest, DataForkReadWriteAndPositions) {
    MakeFile("f", "0123456789");
    FSRef ref;
    ASSERT_EQ(Ref("f", &ref), noErr);
    HFSUniStr255 data;
    data.length = 99;
    ASSERT_EQ(FSGetDataForkName(&data), noErr);
    EXPECT_EQ(data.length, 0);
    FSIORefNum fork = 0;
    ASSERT_EQ(FSOpenFork(&ref, data.length, data.unicode, fsRdWrPerm, &fork), noErr);
    SInt64 position = -1, size = -1;
    EXPECT_EQ(FSGetForkPosition(fork, &position), noErr);
    EXPECT_EQ(position, 0);
    EXPECT_EQ(FSGetForkSize(fork, &size), noErr);
    EXPECT_EQ(size, 10);
    EXPECT_EQ(FSSetForkPosition(fork, fsFromLEOF, -4), noErr);
    EXPECT_EQ(FSGetForkPosition(fork, &position), noErr);
    EXPECT_EQ(position, 6);
    EXPECT_EQ(FSSetForkPosition(fork, fsFromStart, 11), eofErr);
    EXPECT_EQ(FSSetForkPosition(fork, fsFromMark, -7), posErr);
    EXPECT_EQ(FSGetForkPosition(fork, &position), noErr);
    EXPECT_EQ(position, 6); // unchanged by the failures

    // Reading past the end: end-of-file with the bytes that were there.
    char buffer[100];
    memset(buffer, '#', sizeof buffer);
    ByteCount actual = 0;
    EXPECT_EQ(FSReadFork(fork, fsFromLEOF | noCacheMask, -4, 100, buffer, &actual), eofErr);
    EXPECT_EQ(actual, 4u);
    EXPECT_EQ(std::string(buffer, 5), "6789#");
    EXPECT_EQ(FSReadFork(fork, fsAtMark, 0, 1, buffer, &actual), eofErr);
    EXPECT_EQ(actual, 0u);

    ASSERT_EQ(FSWriteFork(fork, fsFromStart, 2, 3, "abc", &actual), noErr);
    EXPECT_EQ(actual, 3u);
    EXPECT_EQ(FSGetForkPosition(fork, &position), noErr);
    EXPECT_EQ(position, 5);
    ASSERT_EQ(FSWriteFork(fork, fsAtMark, 0, 2, "XY", nullptr), noErr);
    EXPECT_EQ(Content("f"), "01abcXY789");
    ASSERT_EQ(FSSetForkSize(fork, fsFromStart, 4), noErr);
    EXPECT_EQ(FSGetForkPosition(fork, &position), noErr);
    EXPECT_EQ(position, 4); // the mark follows the end back
    UInt64 allocated = 0;
    EXPECT_EQ(FSAllocateFork(fork, kFSAllocNoRoundUpMask, fsFromStart, 0, 1 << 20, &allocated),
              noErr);
    EXPECT_EQ(allocated, UInt64(1) << 20);
    // More than any disk here: refused, and nothing reported as reserved.
    allocated = 7;
    EXPECT_EQ(
        FSAllocateFork(fork, kFSAllocNoRoundUpMask, fsFromStart, 0, UInt64(1) << 60, &allocated),
        dskFulErr);
    EXPECT_EQ(allocated, 0u);
    EXPECT_EQ(FSGetForkSize(fork, &size), noErr);
    EXPECT_EQ(size, 4); // reserving space keeps the size
    EXPECT_EQ(FSCloseFork(fork), noErr);
    EXPECT_EQ(Content("f"), "01ab");
    EXPECT_EQ(FSCloseFork(fork), rfNumErr);
    EXPECT_EQ(FSReadFork(fork, fsAtMark, 0, 1, buffer, &actual), rfNumErr);

    // Permissions: a read-only fork refuses writes, a write-only fork reads.
    ASSERT_EQ(FSOpenFork(&ref, 0, nullptr, fsRdPerm, &fork), noErr);
    EXPECT_EQ(FSWriteFork(fork, fsAtMark, 0, 1, "z", &actual), wrPermErr);
    EXPECT_EQ(FSSetForkSize(fork, fsFromStart, 0), wrPermErr);
    EXPECT_EQ(FSCloseFork(fork), noErr);
    FSRef folder;
    ASSERT_EQ(Ref("", &folder), noErr);
    EXPECT_EQ(FSOpenFork(&folder, 0, nullptr, fsRdPerm, &fork), notAFileErr);
}

TEST_F(FileManagerForksTest, NamedForksAreUserAttributes) {
    if (!HasUserAttributes())
        GTEST_SKIP() << "no user attributes on this file system";
    MakeFile("f", "content");
    FSRef ref;
    ASSERT_EQ(Ref("f", &ref), noErr);
    HFSUniStr255 resource;
    ASSERT_EQ(FSGetResourceForkName(&resource), noErr);
    ASSERT_EQ(FSCreateFork(&ref, resource.length, resource.unicode), noErr);
    EXPECT_EQ(FSCreateFork(&ref, resource.length, resource.unicode), errFSForkExists);
    EXPECT_EQ(FSCreateFork(&ref, 0, nullptr), errFSForkExists); // the data fork
    char value[16];
    EXPECT_EQ(getxattr(Path("f").c_str(), "user.RESOURCE_FORK", value, sizeof value), 0);

    FSIORefNum fork;
    ASSERT_EQ(FSOpenFork(&ref, resource.length, resource.unicode, fsRdWrPerm, &fork), noErr);
    ASSERT_EQ(FSWriteFork(fork, fsFromStart, 0, 5, "rsrc!", nullptr), noErr);
    ASSERT_EQ(FSCloseFork(fork), noErr);
    ASSERT_EQ(getxattr(Path("f").c_str(), "user.RESOURCE_FORK", value, sizeof value), 5);
    EXPECT_EQ(std::string(value, 5), "rsrc!");
    ASSERT_EQ(setxattr(Path("f").c_str(), "trusted.hidden", "x", 1, 0), 0); // not a fork

    // The data fork first, then the named forks; nothing else.
    CatPositionRec iterator{};
    HFSUniStr255 name;
    SInt64 size = 0;
    std::vector<std::pair<std::string, SInt64>> forks;
    while (FSIterateForks(&ref, &iterator, &name, &size, nullptr) == noErr)
        forks.emplace_back(fmtest::NameOf(name), size);
    ASSERT_EQ(forks.size(), 2u);
    EXPECT_EQ(forks[0], std::make_pair(std::string(), SInt64(7)));
    EXPECT_EQ(forks[1], std::make_pair(std::string("RESOURCE_FORK"), SInt64(5)));

    FSCatalogInfo info;
    ASSERT_EQ(FSGetCatalogInfo(&ref, kFSCatInfoRsrcSizes, &info, nullptr, nullptr, nullptr), noErr);
    EXPECT_EQ(info.rsrcLogicalSize, 5u);

    ASSERT_EQ(FSOpenFork(&ref, resource.length, resource.unicode, fsRdPerm, &fork), noErr);
    ByteCount actual = 0;
    EXPECT_EQ(FSReadFork(fork, fsFromStart, 1, 10, value, &actual), eofErr);
    EXPECT_EQ(std::string(value, actual), "src!");
    EXPECT_EQ(FSCloseFork(fork), noErr);

    // A named fork copies through memory; attributes hold at most 64 KiB.
    ASSERT_EQ(FSOpenFork(&ref, resource.length, resource.unicode, fsRdWrPerm, &fork), noErr);
    FSIORefNum dataFork;
    ASSERT_EQ(FSOpenFork(&ref, 0, nullptr, fsRdPerm, &dataFork), noErr);
    char scratch[16];
    ASSERT_EQ(FSSetForkPosition(fork, fsFromLEOF, 0), noErr);
    EXPECT_EQ(FSCopyForkChunk(dataFork, fork, sizeof scratch, scratch, &actual), eofErr);
    EXPECT_EQ(actual, 7u);
    EXPECT_EQ(FSWriteFork(fork, fsFromStart, 65530, 10, "0123456789", &actual), dskFulErr);
    EXPECT_EQ(FSCloseFork(dataFork), noErr);
    EXPECT_EQ(FSCloseFork(fork), noErr);
    ASSERT_EQ(getxattr(Path("f").c_str(), "user.RESOURCE_FORK", value, sizeof value), 12);
    EXPECT_EQ(std::string(value, 12), "rsrc!content");

    EXPECT_EQ(FSDeleteFork(&ref, resource.length, resource.unicode), noErr);
    EXPECT_EQ(FSOpenFork(&ref, resource.length, resource.unicode, fsRdPerm, &fork),
              errFSForkNotFound);
}

// 10,000 bytes in chunks of 4,096: 4,096, 4,096 and 1,808, on one device and
// across devices.
TEST_F(FileManagerForksTest, ForkCopyMovesBoundedChunks) {
    std::string data(10000, '\0');
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = char(i * 7 + i / 1000);
    MakeFile("source", data);
    std::vector<std::string> targets = {Path("copy")};
    char pattern[] = "/dev/shm/orvik-fm-XXXXXX";
    const bool shm = access("/dev/shm", W_OK) == 0 && mkdtemp(pattern);
    if (shm)
        targets.push_back(std::string(pattern) + "/copy");
    for (const std::string& target : targets) {
        ASSERT_TRUE(testsupport::WriteFile(target, ""));
        FSRef from, to;
        ASSERT_EQ(Ref("source", &from), noErr);
        ASSERT_EQ(FSPathMakeRef(reinterpret_cast<const UInt8*>(target.c_str()), &to, nullptr),
                  noErr);
        FSIORefNum in, out;
        ASSERT_EQ(FSOpenFork(&from, 0, nullptr, fsRdPerm, &in), noErr);
        ASSERT_EQ(FSOpenFork(&to, 0, nullptr, fsWrPerm, &out), noErr);
        std::vector<char> scratch(4096);
        std::vector<ByteCount> moved;
        OSErr status;
        do {
            ByteCount n = 0;
            status = FSCopyForkChunk(in, out, scratch.size(), scratch.data(), &n);
            moved.push_back(n);
        } while (status == noErr);
        EXPECT_EQ(status, eofErr);
        EXPECT_EQ(moved, (std::vector<ByteCount>{4096, 4096, 1808})) << target;
        SInt64 position = 0;
        EXPECT_EQ(FSGetForkPosition(out, &position), noErr);
        EXPECT_EQ(position, 10000);
        EXPECT_EQ(FSCopyForkChunk(out, in, 1, scratch.data(), nullptr), afpAccessDenied);
        EXPECT_EQ(FSCopyForkChunk(in, in, 1, scratch.data(), nullptr), wrPermErr);
        EXPECT_EQ(FSCopyForkChunk(in, 0, 1, scratch.data(), nullptr), rfNumErr);
        EXPECT_EQ(FSCloseFork(in), noErr);
        EXPECT_EQ(FSCloseFork(out), noErr);
        EXPECT_TRUE(testsupport::ReadFile(target) == data) << target;
    }
    if (shm) {
        unlink((std::string(pattern) + "/copy").c_str());
        rmdir(pattern);
    }
}

} // namespace
