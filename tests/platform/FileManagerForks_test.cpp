// Forks (the data fork as content, named forks as user.* attributes), fork
// copies in bounded chunks, the exchange of two files and volume parameters.
#include <sys/statfs.h>
#include <sys/xattr.h>

#include <vector>

#include "tests/platform/FileManagerTestSupport.h"

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

// A copy in chunks of the copy buffer's size: 600,000 bytes move as 262,144,
// 262,144 and 75,712, on one device (copy_file_range) and across devices.
TEST_F(FileManagerForksTest, ForkCopyMovesBoundedChunks) {
    std::string data(600000, '\0');
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = char(i * 7 + i / 1000);
    MakeFile("source", data);
    std::vector<std::string> targets = {Path("copy")};
    char pattern[] = "/dev/shm/orvik-fm-XXXXXX";
    bool shm = access("/dev/shm", W_OK) == 0 && mkdtemp(pattern);
    if (shm)
        targets.push_back(std::string(pattern) + "/copy");
    for (const std::string& target : targets) {
        int fd = open(target.c_str(), O_CREAT | O_WRONLY, 0644);
        ASSERT_GE(fd, 0);
        close(fd);
        FSRef from, to;
        ASSERT_EQ(Ref("source", &from), noErr);
        ASSERT_EQ(FSPathMakeRef(reinterpret_cast<const UInt8*>(target.c_str()), &to, nullptr),
                  noErr);
        FSIORefNum in, out;
        ASSERT_EQ(FSOpenFork(&from, 0, nullptr, fsRdPerm, &in), noErr);
        ASSERT_EQ(FSOpenFork(&to, 0, nullptr, fsWrPerm, &out), noErr);
        // A reservation the device cannot hold fails; one it can, succeeds.
        UInt64 reserved = 1;
        EXPECT_EQ(
            FSAllocateFork(out, kFSAllocNoRoundUpMask, fsFromStart, 0, UInt64(1) << 60, &reserved),
            dskFulErr)
            << target;
        EXPECT_EQ(reserved, 0u);
        EXPECT_EQ(
            FSAllocateFork(out, kFSAllocNoRoundUpMask, fsFromStart, 0, data.size(), &reserved),
            noErr)
            << target;
        EXPECT_EQ(reserved, data.size());
        std::vector<char> scratch(262144);
        std::vector<ByteCount> moved;
        OSErr status;
        do {
            ByteCount n = 0;
            status = FSCopyForkChunk(in, out, scratch.size(), scratch.data(), &n);
            moved.push_back(n);
        } while (status == noErr);
        EXPECT_EQ(status, eofErr);
        EXPECT_EQ(moved, (std::vector<ByteCount>{262144, 262144, 75712})) << target;
        SInt64 position = 0;
        EXPECT_EQ(FSGetForkPosition(out, &position), noErr);
        EXPECT_EQ(position, 600000);
        EXPECT_EQ(FSCloseFork(in), noErr);
        EXPECT_EQ(FSCloseFork(out), noErr);
        EXPECT_TRUE(testsupport::ReadFile(target) == data) << target;
    }
    if (shm) {
        unlink((std::string(pattern) + "/copy").c_str());
        rmdir(pattern);
    }
}

TEST_F(FileManagerForksTest, ExchangeSwapsContentsAndKeepsMetadataWithTheNames) {
    MakeFile("a", "contents of a", 0600);
    MakeFile("b", "b", 0644);
    struct timespec times[2] = {{1000000000, 0}, {1200000000, 0}}; // access, modification
    ASSERT_EQ(utimensat(AT_FDCWD, Path("a").c_str(), times, 0), 0);
    FSRef a, b;
    ASSERT_EQ(Ref("a", &a), noErr);
    ASSERT_EQ(Ref("b", &b), noErr);
    FSCatalogInfo info;
    ASSERT_EQ(FSGetCatalogInfo(&a, kFSCatInfoVolume, &info, nullptr, nullptr, nullptr), noErr);
    GetVolParmsInfoBuffer parms{};
    ByteCount size = 0;
    ASSERT_EQ(FSGetVolParms(info.volume, sizeof parms, &parms, &size), noErr);
    EXPECT_EQ(size, sizeof parms);
    EXPECT_GE(parms.vMVersion, 3);
    EXPECT_EQ(FSGetVolParms(FSVolumeRefNum(1), sizeof parms, &parms, &size), nsvErr);
    struct statfs fs;
    ASSERT_EQ(statfs(root_.c_str(), &fs), 0);
    OSErr status = FSExchangeObjects(&a, &b);
    if (status == paramErr) {
        EXPECT_EQ(parms.vMExtendedAttributes & (1 << bSupportsFSExchangeObjects), 0)
            << "refused, yet reported as native";
        GTEST_SKIP() << "this file system refuses RENAME_EXCHANGE";
    }
    ASSERT_EQ(status, noErr);
    EXPECT_NE(parms.vMExtendedAttributes & (1 << bSupportsFSExchangeObjects), 0);
    struct stat st;
    ASSERT_EQ(stat(Path("a").c_str(), &st), 0);
    // The access date stays with the name; the modification date is the data's own.
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    EXPECT_EQ(st.st_atim.tv_sec, 1000000000);
    EXPECT_NE(st.st_mtim.tv_sec, 1200000000);
    ASSERT_EQ(stat(Path("b").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0644u);
    EXPECT_EQ(st.st_mtim.tv_sec, 1200000000);
    EXPECT_EQ(Content("a"), "b");
    EXPECT_EQ(Content("b"), "contents of a");

    // The references name the objects they were made for, which now lie at the other
    // name: an exchange through them is refused.
    EXPECT_EQ(FSExchangeObjects(&a, &b), fnfErr);
    EXPECT_EQ(Content("a"), "b");
    MakeFolder("d");
    FSRef d;
    ASSERT_EQ(Ref("d", &d), noErr);
    ASSERT_EQ(Ref("a", &a), noErr);
    EXPECT_EQ(FSExchangeObjects(&a, &d), notAFileErr);
    EXPECT_EQ(FSExchangeObjects(&a, nullptr), paramErr);
}

} // namespace
