// The locked flag is the inode's immutable flag. Changing it needs root
// (CAP_LINUX_IMMUTABLE), so these tests skip otherwise. On overlayfs the
// ioctl may report an error and still apply the flag; the file manager reads
// the flag back, so the tests check the state, not the call alone.
#include <sys/stat.h>

#include "tests/platform/FileManagerTestSupport.h"

namespace {

class FileManagerLockedTest : public fmtest::TempFolderTest {
protected:
    void SetUp() override {
        if (geteuid() != 0)
            GTEST_SKIP() << "the immutable flag needs root";
        TempFolderTest::SetUp();
    }
    bool Immutable(const std::string& relative) {
        return testsupport::IsImmutable(Path(relative));
    }
    OSErr SetLocked(const FSRef& ref, bool locked, FSCatalogInfoBitmap more = 0, UInt16 mode = 0) {
        FSCatalogInfo info;
        EXPECT_EQ(FSGetCatalogInfo(&ref, kFSCatInfoNodeFlags | kFSCatInfoPermissions, &info,
                                   nullptr, nullptr, nullptr),
                  noErr);
        info.nodeFlags =
            locked ? (info.nodeFlags | kFSNodeLockedMask) : (info.nodeFlags & ~kFSNodeLockedMask);
        if (mode)
            info.permissions.mode = mode;
        return FSSetCatalogInfo(&ref, kFSCatInfoNodeFlags | more, &info);
    }
    mode_t Mode(const std::string& relative) { return testsupport::ModeOf(Path(relative)); }
};

TEST_F(FileManagerLockedTest, LockReadsAndWritesTheImmutableFlag) {
    MakeFile("f", "data", 0644);
    FSRef ref;
    ASSERT_EQ(Ref("f", &ref), noErr);
    OSErr status = SetLocked(ref, true);
    if (status != noErr && !Immutable("f"))
        GTEST_SKIP() << "this file system has no immutable flag (status " << status << ")";
    ASSERT_EQ(status, noErr);
    EXPECT_TRUE(Immutable("f"));
    FSCatalogInfo info;
    ASSERT_EQ(FSGetCatalogInfo(&ref, kFSCatInfoNodeFlags, &info, nullptr, nullptr, nullptr), noErr);
    EXPECT_EQ(info.nodeFlags, kFSNodeLockedMask);

    // Locked: neither deleted nor opened for writing.
    EXPECT_NE(FSDeleteObject(&ref), noErr);
    EXPECT_TRUE(Exists("f"));
    FSIORefNum fork;
    EXPECT_NE(FSOpenFork(&ref, 0, nullptr, fsWrPerm, &fork), noErr);

    // Permissions of a locked object that stays locked: the flag is lifted
    // for the change and set again.
    ASSERT_EQ(SetLocked(ref, true, kFSCatInfoPermissions, S_IFREG | 0600), noErr);
    EXPECT_EQ(Mode("f"), 0600u);
    EXPECT_TRUE(Immutable("f"));

    // Unlock and change permissions in one call: flag first, then the mode.
    ASSERT_EQ(SetLocked(ref, false, kFSCatInfoPermissions, S_IFREG | 0640), noErr);
    EXPECT_EQ(Mode("f"), 0640u);
    EXPECT_FALSE(Immutable("f"));
    EXPECT_EQ(FSDeleteObject(&ref), noErr);
}

TEST_F(FileManagerLockedTest, CreationWritesPermissionsBeforeTheLock) {
    FSRef top, created;
    ASSERT_EQ(Ref("", &top), noErr);
    FSCatalogInfo info{};
    info.nodeFlags = kFSNodeLockedMask;
    info.permissions.mode = S_IFREG | 0444;
    std::u16string name = fmtest::U16("locked");
    OSErr status =
        FSCreateFileUnicode(&top, name.size(), name.data(),
                            kFSCatInfoNodeFlags | kFSCatInfoPermissions, &info, &created, nullptr);
    if (status != noErr && !Exists("locked"))
        GTEST_SKIP() << "no immutable flag here";
    ASSERT_EQ(status, noErr);
    EXPECT_TRUE(Immutable("locked"));
    EXPECT_EQ(Mode("locked"), 0444u);
}

TEST_F(FileManagerLockedTest, TreeWithLockedFilesIsDeletedAfterEachLockIsCleared) {
    MakeFolder("tree");
    MakeFolder("tree/sub");
    for (const char* file : {"tree/a", "tree/sub/b", "tree/sub/c"}) {
        MakeFile(file, "x");
        FSRef ref;
        ASSERT_EQ(Ref(file, &ref), noErr);
        if (SetLocked(ref, true) != noErr && !Immutable(file))
            GTEST_SKIP() << "no immutable flag";
    }
    // A locked folder refuses the deletion of its entries.
    FSRef sub, tree;
    ASSERT_EQ(Ref("tree/sub", &sub), noErr);
    ASSERT_EQ(SetLocked(sub, true), noErr);
    ASSERT_EQ(Ref("tree", &tree), noErr);
    EXPECT_NE(fmtest::DeleteTree(tree), noErr);
    EXPECT_TRUE(Exists("tree/sub/b"));
    ASSERT_EQ(SetLocked(sub, false), noErr);
    EXPECT_EQ(fmtest::DeleteTree(tree), noErr);
    EXPECT_FALSE(Exists("tree"));
}

} // namespace
