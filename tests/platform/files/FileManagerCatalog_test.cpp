// Catalog information: what a read fills (and leaves alone), what a write
// changes, the locked flag as the inode's immutable flag (lifted for a change
// and always put back), writes racing a swap of names, and volumes.
#include <linux/capability.h>
#include <sys/syscall.h>

#include <thread>
#include <tuple>

#include "platform/files/FileManagerInternal.h"
#include "tests/platform/files/FileManagerTestSupport.h"

namespace {

using orvik::fm::ToUTCDateTime;

class FileManagerCatalogTest : public fmtest::TempFolderTest {
protected:
    OSErr Change(const std::string& relative, FSCatalogInfoBitmap which, UInt16 flags,
                 UInt16 mode = 0, UInt32 uid = 0) {
        FSRef ref;
        FSCatalogInfo info;
        if (OSErr status = Ref(relative, &ref, false))
            return status;
        EXPECT_EQ(Info(relative, &info), noErr);
        info.nodeFlags = flags;
        info.permissions.mode = mode ? mode : info.permissions.mode;
        info.permissions.userID = uid ? uid : info.permissions.userID;
        info.contentModDate = ToUTCDateTime(1000000000, 0);
        return FSSetCatalogInfo(&ref, which, &info);
    }
    struct stat Stat(const std::string& relative) {
        struct stat st {};
        EXPECT_EQ(lstat(Path(relative).c_str(), &st), 0) << relative;
        return st;
    }
};

class FileManagerLockedTest : public FileManagerCatalogTest {
protected:
    void SetUp() override {
        if (!testsupport::IsRoot())
            GTEST_SKIP() << "needs root";
        FileManagerCatalogTest::SetUp();
        MakeFile("probe");
        if (!testsupport::SetImmutable(Path("probe"), true) &&
            !testsupport::IsImmutable(Path("probe")))
            GTEST_SKIP() << "this file system has no immutable flag";
    }
};

TEST_F(FileManagerCatalogTest, AReadFillsExactlyTheFieldsAskedFor) {
    MakeFile("f", "hello", 0640);
    ASSERT_EQ(link(Path("f").c_str(), Path("hard").c_str()), 0);
    FSRef ref, parent;
    ASSERT_EQ(Ref("f", &ref), noErr);
    FSCatalogInfo info;
    memset(&info, 0xA5, sizeof info);
    ASSERT_EQ(FSGetCatalogInfo(&ref, kFSCatInfoPermissions, &info, nullptr, nullptr, &parent),
              noErr);
    EXPECT_EQ(info.permissions.mode, S_IFREG | 0640);
    EXPECT_EQ(info.nodeFlags, 0xA5A5); // not asked for, not written
    EXPECT_EQ(info.accessDate.lowSeconds, 0xA5A5A5A5u);
    EXPECT_EQ(fmtest::PathOf(parent), root_);
    EXPECT_EQ(FSGetCatalogInfo(&ref, kFSCatInfoNodeFlags, nullptr, nullptr, nullptr, nullptr),
              paramErr);
    const struct timespec times[2] = {{1000000000, 0}, {UTIME_OMIT, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, Path("f").c_str(), times, 0), 0);
    ASSERT_EQ(Info("f", &info), noErr);
    EXPECT_EQ(info.accessDate.highSeconds, 0u); // 1904 to 1970 is 2,082,844,800 seconds
    EXPECT_EQ(info.accessDate.lowSeconds, 1000000000u + 2082844800u);
    EXPECT_EQ(std::tuple(info.nodeFlags, info.parentDirID, info.dataLogicalSize),
              std::tuple(kFSNodeHardLinkMask, UInt32(Stat("").st_ino), 5u));
    ASSERT_EQ(Info("", &info), noErr); // holding "f" and "hard"
    EXPECT_EQ(std::tuple(info.nodeFlags, info.valence), std::tuple(kFSNodeIsDirectoryMask, 2u));
}

TEST_F(FileManagerCatalogTest, AWriteChangesOnlyTheNamedFields) {
    MakeFile("f", "", 0640);
    MakeFile("tool", "", 06755);
    const struct stat before = Stat("f");
    ASSERT_EQ(Change("f", kFSCatInfoPermissions, 0, S_IFREG | 0604), noErr);
    EXPECT_EQ(Stat("f").st_mtim.tv_sec, before.st_mtim.tv_sec);
    ASSERT_EQ(Change("f", kFSCatInfoContentMod, 0, S_IFREG | 0600), noErr);
    EXPECT_EQ(Stat("f").st_mtim.tv_sec, 1000000000);
    EXPECT_EQ(Stat("f").st_mode & 07777, 0604u);
    if (!testsupport::IsRoot())
        return;
    // A new owner clears the set-id bits: the mode asked for is written after it.
    ASSERT_EQ(Change("tool", kFSCatInfoPermissions, 0, 0, 4321), noErr);
    EXPECT_EQ(Stat("tool").st_uid, 4321u);
    EXPECT_EQ(Stat("tool").st_mode & 07777, 06755u);
}

TEST_F(FileManagerLockedTest, TheLockIsLiftedForAChangeAndPutBack) {
    MakeFile("f", "data", 0644);
    ASSERT_EQ(mkfifo(Path("fifo").c_str(), 0600), 0);
    ASSERT_EQ(Change("f", kFSCatInfoNodeFlags, kFSNodeLockedMask), noErr);
    FSRef ref;
    FSCatalogInfo info;
    ASSERT_EQ(Info("f", &info, kFSCatInfoNodeFlags), noErr);
    EXPECT_EQ(info.nodeFlags, kFSNodeLockedMask);
    ASSERT_EQ(Ref("f", &ref), noErr);
    EXPECT_EQ(FSDeleteObject(&ref), permErr);
    // Locked and staying locked, or only other fields named: the lock stays.
    ASSERT_EQ(
        Change("f", kFSCatInfoNodeFlags | kFSCatInfoPermissions, kFSNodeLockedMask, S_IFREG | 0600),
        noErr);
    ASSERT_EQ(Change("f", kFSCatInfoContentMod, 0), noErr);
    EXPECT_EQ(Stat("f").st_mode & 07777, 0600u);
    EXPECT_EQ(Stat("f").st_mtim.tv_sec, 1000000000);
    EXPECT_TRUE(testsupport::IsImmutable(Path("f")));
    ASSERT_EQ(Change("f", kFSCatInfoNodeFlags, 0), noErr);
    EXPECT_EQ(FSDeleteObject(&ref), noErr);
    // Only files and folders can be locked.
    EXPECT_EQ(Change("fifo", kFSCatInfoNodeFlags, kFSNodeLockedMask), paramErr);
}

// Without the right to give files away, an owner change that must succeed
// fails after the lock was lifted: the object is locked again, and the mode
// and date named with it are not written.
TEST_F(FileManagerLockedTest, AChangeRefusedAfterTheLockWasLiftedLeavesTheObjectLocked) {
    MakeFile("f", "data", 0640);
    ASSERT_TRUE(testsupport::SetImmutable(Path("f"), true));
    const struct stat before = Stat("f");
    struct Row {
        UInt16 flags;
        FSCatalogInfoBitmap ownership;
        int exit; // the status, negated
        bool locked;
        mode_t mode;
        time_t modified;
    } rows[] = {
        {kFSNodeLockedMask, kFSCatInfoSetOwnership, -permErr, true, 0640, before.st_mtim.tv_sec},
        {0, kFSCatInfoSetOwnership, -permErr, true, 0640, before.st_mtim.tv_sec},
        {0, 0, 0, false, 0600, 1000000000}, // a refused owner is no error unless asked for
    };
    for (const Row& row : rows) {
        fflush(nullptr);
        const int exit = testsupport::InChild([&] {
            __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
            __user_cap_data_struct data[2];
            if (syscall(SYS_capget, &header, data) != 0)
                return 100;
            data[0].effective &= ~(1u << CAP_CHOWN);
            if (syscall(SYS_capset, &header, data) != 0)
                return 101;
            return -Change("f",
                           kFSCatInfoNodeFlags | kFSCatInfoPermissions | kFSCatInfoContentMod |
                               row.ownership,
                           row.flags, S_IFREG | 0600, 4321);
        });
        EXPECT_EQ(exit, row.exit) << row.flags << " " << row.ownership;
        EXPECT_EQ(testsupport::IsImmutable(Path("f")), row.locked) << row.flags;
        const struct stat after = Stat("f");
        EXPECT_EQ(after.st_uid, before.st_uid);
        EXPECT_EQ(after.st_mode & 07777, row.mode);
        EXPECT_EQ(after.st_mtim.tv_sec, row.modified);
    }
}

// The attack a catalog write must withstand as root: a user swaps their own
// file with a set-user-id tool of root's while root changes the user's file.
TEST_F(FileManagerCatalogTest, ACatalogWriteRacingASwapNeverLandsOnTheOtherFile) {
    if (!testsupport::IsRoot())
        GTEST_SKIP() << "needs root";
    MakeFile("mine", "mine", 0600);
    ASSERT_EQ(chown(Path("mine").c_str(), 4321, 4321), 0);
    MakeFile("tool", "root's tool", 04755);
    const ino_t tool = Stat("tool").st_ino;
    FSRef folder, mine;
    ASSERT_EQ(Ref("", &folder), noErr);
    ASSERT_EQ(FSMakeFSRefUnicode(&folder, 4, u"mine", kTextEncodingUnknown, &mine), noErr);
    std::atomic<bool> stop{false};
    std::atomic<int> swaps{0};
    std::thread swapper([&, a = Path("mine"), b = Path("tool")] {
        while (!stop.load(std::memory_order_relaxed))
            swaps += renameat2(AT_FDCWD, a.c_str(), AT_FDCWD, b.c_str(), RENAME_EXCHANGE) == 0;
    });
    while (swaps.load() == 0)
        std::this_thread::yield();
    FSCatalogInfo info{};
    info.permissions.userID = info.permissions.groupID = 4321;
    for (int round = 0; round < 100; ++round) {
        info.permissions.mode = S_IFREG | (round % 2 ? 0644 : 0600);
        FSSetCatalogInfo(&mine, kFSCatInfoPermissions, &info);
        std::this_thread::yield(); // so that the two threads do not fall into step
    }
    stop = true;
    swapper.join();
    const struct stat now = Stat(Stat("tool").st_ino == tool ? "tool" : "mine");
    ASSERT_EQ(now.st_ino, tool);
    EXPECT_EQ(now.st_uid, 0u);
    EXPECT_EQ(now.st_mode & 07777, 04755u);
}

TEST_F(FileManagerCatalogTest, VolumesAreNumberedFromMinus100) {
    FSCatalogInfo info;
    ASSERT_EQ(Info("", &info, kFSCatInfoVolume), noErr);
    EXPECT_LE(info.volume, -100);
    GetVolParmsInfoBuffer parms;
    memset(&parms, 0x5A, sizeof parms);
    ByteCount size = 0;
    ASSERT_EQ(FSGetVolParms(info.volume, 2, &parms, &size), noErr);
    EXPECT_EQ(size, 2u);
    EXPECT_EQ(parms.vMVersion, 4);
    EXPECT_EQ(parms.vMAttrib, 0x5A5A5A5A); // past the two bytes asked for
    EXPECT_EQ(FSGetVolParms(-99, sizeof parms, &parms, &size), nsvErr);
}

} // namespace
