#include "win32compat/FileCopy.h"

#include <grp.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "FileTestSupport.h"
#include "win32compat/FileHandle.h"

using filetest::Exists;
using filetest::IsDir;
using filetest::U;
using testsupport::InChild;

namespace {

std::string Pattern(size_t size) {
    std::string s(size, '\0');
    for (size_t i = 0; i < size; ++i)
        s[i] = static_cast<char>((i * 131 + i / 7) & 0xFF);
    return s;
}

dev_t DeviceOf(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? st.st_dev : 0;
}

class FileCopyTest : public filetest::TempDirTest {
protected:
    void TearDown() override {
        g_copyBufferSize = 0x40000;
        TempDirTest::TearDown();
    }
    // A folder on another file system, or empty when there is none to use.
    std::string OtherVolumeDir() {
        if (!IsDir("/dev/shm") || DeviceOf("/dev/shm") == DeviceOf(root_))
            return "";
        return MakeTempDir("/dev/shm");
    }
};

TEST_F(FileCopyTest, CopiesContentOfEverySizeWhateverTheBuffer) {
    const size_t sizes[] = {0, 1, 511, 512, 513, 262144, 600000};
    const uint64_t buffers[] = {0x40000, 1000, 1};
    for (uint64_t buffer : buffers) {
        g_copyBufferSize = buffer;
        for (size_t size : sizes) {
            if (buffer == 1 && size > 5000)
                continue;
            const std::string name = std::to_string(buffer) + "_" + std::to_string(size);
            filetest::WriteFile(P(name), Pattern(size));
            EXPECT_TRUE(CopyFile(W(name).c_str(), W(name + ".copy").c_str(), true)) << name;
            EXPECT_EQ(filetest::ReadFile(P(name + ".copy")), Pattern(size)) << name;
        }
    }
}

TEST_F(FileCopyTest, CopyKeepsPermissionsAndNamedForks) {
    filetest::WriteFile(P("src"), "data");
    chmod(P("src").c_str(), 0640);
    const bool xattrs = setxattr(P("src").c_str(), "user.note", "hello", 5, 0) == 0;
    ASSERT_TRUE(CopyFile(W("src").c_str(), W("dst").c_str(), false));
    EXPECT_EQ(filetest::ModeOf(P("dst")), 0640u) << "owner rwx added for the copy is taken back";
    EXPECT_EQ(filetest::ReadFile(P("dst")), "data");
    if (xattrs) {
        char value[16] = {};
        EXPECT_EQ(getxattr(P("dst").c_str(), "user.note", value, sizeof value), 5);
        EXPECT_STREQ(value, "hello");
    }
}

TEST_F(FileCopyTest, CopyRefusals) {
    filetest::WriteFile(P("src"), "source");
    filetest::WriteFile(P("dst"), "dest");
    filetest::MakeDir(P("full"));
    filetest::WriteFile(P("full/x"), "x");
    filetest::MakeDir(P("srcdir"));
    const std::u16string src = W("src");
    EXPECT_FALSE(CopyFile(src.c_str(), src.c_str(), false)) << "same pointer";
    EXPECT_FALSE(CopyFile(src.c_str(), W("src").c_str(), false)) << "same text";
    EXPECT_FALSE(CopyFile(nullptr, src.c_str(), false));
    EXPECT_FALSE(CopyFile(src.c_str(), static_cast<const char16_t*>(nullptr), false));
    EXPECT_FALSE(CopyFile(W("missing").c_str(), W("new").c_str(), false));
    EXPECT_FALSE(CopyFile(src.c_str(), W("nodir/new").c_str(), false));
    EXPECT_FALSE(CopyFile(W("srcdir").c_str(), W("new").c_str(), false)) << "a folder";
    EXPECT_FALSE(Exists(P("new")));
    EXPECT_FALSE(CopyFile(src.c_str(), W("dst").c_str(), true)) << "fail if exists";
    EXPECT_EQ(filetest::ReadFile(P("dst")), "dest");
    EXPECT_FALSE(CopyFile(src.c_str(), W("full").c_str(), false)) << "a folder that is not empty";
    EXPECT_EQ(filetest::ReadFile(P("full/x")), "x");
    EXPECT_EQ(filetest::ReadFile(P("src")), "source");

    EXPECT_TRUE(CopyFile(src.c_str(), W("dst").c_str(), false)) << "replaced";
    EXPECT_EQ(filetest::ReadFile(P("dst")), "source");
    filetest::MakeDir(P("emptydir"));
    EXPECT_TRUE(CopyFile(src.c_str(), W("emptydir").c_str(), false)) << "an empty folder goes";
    EXPECT_EQ(filetest::ReadFile(P("emptydir")), "source");

    g_copyBufferSize = 0;
    EXPECT_FALSE(CopyFile(src.c_str(), W("nobuffer").c_str(), false));
    EXPECT_FALSE(Exists(P("nobuffer"))) << "the partial copy is removed";
    g_copyBufferSize = 0x40000;
    EXPECT_TRUE(CopyFile(W("emptydir").c_str(), W("fromempty").c_str(), false));
}

TEST_F(FileCopyTest, TwoSpellingsOfOneFileNeverLoseTheSource) {
    filetest::MakeDir(P("a"));
    filetest::WriteFile(P("a/f"), "only copy");
    ASSERT_EQ(link(P("a/f").c_str(), P("a/hard").c_str()), 0);
    ASSERT_EQ(symlink(P("a/f").c_str(), P("a/soft").c_str()), 0);
    const char* spellings[] = {"a/./f", "a//f", "a/../a/f", "a/hard", "a/soft"};
    for (const char* other : spellings) {
        EXPECT_FALSE(CopyFile(W("a/f").c_str(), W(other).c_str(), false)) << other;
        EXPECT_FALSE(CopyFile(W(other).c_str(), W("a/f").c_str(), false)) << other;
        EXPECT_EQ(filetest::ReadFile(P("a/f")), "only copy") << other;
    }
    EXPECT_FALSE(MoveFile(W("a/f").c_str(), W("a/hard").c_str()));
    EXPECT_FALSE(MoveFile(W("a/./f").c_str(), W("a/f").c_str()));
    EXPECT_EQ(filetest::ReadFile(P("a/f")), "only copy");
}

TEST_F(FileCopyTest, ALinkAtTheDestinationIsReplacedNotFollowed) {
    filetest::WriteFile(P("src"), "new");
    filetest::WriteFile(P("other"), "untouched");
    ASSERT_EQ(symlink(P("other").c_str(), P("dst").c_str()), 0);
    EXPECT_TRUE(CopyFile(W("src").c_str(), W("dst").c_str(), false));
    EXPECT_FALSE(filetest::IsLink(P("dst")));
    EXPECT_EQ(filetest::ReadFile(P("dst")), "new");
    EXPECT_EQ(filetest::ReadFile(P("other")), "untouched");
}

TEST_F(FileCopyTest, LockedSourceGivesALockedCopyWithTheSamePermissions) {
    if (!filetest::IsRoot())
        GTEST_SKIP() << "the immutable flag and ownership need root";
    filetest::WriteFile(P("src"), "locked data");
    chmod(P("src").c_str(), 0604);
    ASSERT_EQ(chown(P("src").c_str(), 1234, 5678), 0);
    if (!filetest::SetImmutable(P("src"), true))
        GTEST_SKIP() << "this file system has no immutable flag";
    EXPECT_TRUE(CopyFile(W("src").c_str(), W("dst").c_str(), false));
    EXPECT_TRUE(filetest::IsImmutable(P("dst")));
    struct stat st;
    ASSERT_EQ(stat(P("dst").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0604u);
    EXPECT_EQ(st.st_uid, 1234u);
    EXPECT_EQ(st.st_gid, 5678u);
    EXPECT_EQ(filetest::ReadFile(P("dst")), "locked data");
}

// The copy fails part way through: the destination file system fills up. Runs in a child
// with its own mount namespace so that the small file system is seen by nobody else.
TEST_F(FileCopyTest, ACopyThatFailsMidwayLeavesNoDestination) {
    if (!filetest::IsRoot())
        GTEST_SKIP() << "mounting a small tmpfs needs root";
    filetest::WriteFile(P("big"), Pattern(3 << 20));
    filetest::WriteFile(P("small"), Pattern(100000));
    filetest::MakeDir(P("mnt"));
    const int status = testsupport::InPrivateMountNamespace([&] {
        if (mount("tmpfs", P("mnt").c_str(), "tmpfs", 0, "size=1m") != 0)
            return 77;
        int result = 0;
        if (CopyFile(W("big").c_str(), W("mnt/big").c_str(), false))
            result |= 1;
        if (Exists(P("mnt/big")))
            result |= 2;
        // Replacing a file that fits by one that does not: the old file is gone (it is
        // not restored) and the failed copy leaves nothing.
        if (!CopyFile(W("small").c_str(), W("mnt/small").c_str(), false))
            result |= 4;
        if (CopyFile(W("big").c_str(), W("mnt/small").c_str(), false))
            result |= 8;
        if (Exists(P("mnt/small")))
            result |= 16;
        return result;
    });
    if (status == 77)
        GTEST_SKIP() << "cannot mount a private tmpfs here";
    EXPECT_EQ(status, 0);
}

// The file grows beyond what the process may write after the space was reserved: the
// failure comes from the data copy itself, not from the reservation.
TEST_F(FileCopyTest, AWriteFailureDuringTheDataLeavesNoDestination) {
    filetest::WriteFile(P("big"), Pattern(3 << 20));
    const int status = InChild([&] {
        signal(SIGXFSZ, SIG_IGN);
        struct rlimit limit = {1 << 20, 1 << 20};
        if (setrlimit(RLIMIT_FSIZE, &limit) != 0)
            return 10;
        g_copyBufferSize = 0x40000;
        int result = 0;
        if (CopyFile(W("big").c_str(), W("copy").c_str(), false))
            result |= 1;
        if (Exists(P("copy")))
            result |= 2;
        return result;
    });
    EXPECT_EQ(status, 0);
    EXPECT_EQ(filetest::ReadFile(P("big")), Pattern(3 << 20));
}

TEST_F(FileCopyTest, MoveRenamesInsideOneVolume) {
    filetest::WriteFile(P("src"), "payload");
    EXPECT_TRUE(MoveFile(W("src").c_str(), W("moved").c_str()));
    EXPECT_FALSE(Exists(P("src")));
    EXPECT_EQ(filetest::ReadFile(P("moved")), "payload");

    const std::u16string same = W("moved");
    EXPECT_TRUE(MoveFile(same.c_str(), same.c_str()));
    EXPECT_TRUE(MoveFile(same.c_str(), W("moved").c_str()));
    EXPECT_EQ(filetest::ReadFile(P("moved")), "payload");

    filetest::WriteFile(P("other"), "other");
    EXPECT_FALSE(MoveFile(W("moved").c_str(), W("other").c_str())) << "onto an existing file";
    EXPECT_EQ(filetest::ReadFile(P("moved")), "payload");
    EXPECT_EQ(filetest::ReadFile(P("other")), "other");
    EXPECT_FALSE(MoveFile(W("moved").c_str(), W("newdir/").c_str()));
    EXPECT_FALSE(Exists(P("newdir")));
    EXPECT_FALSE(MoveFile(W("missing").c_str(), W("x").c_str()));
    EXPECT_FALSE(Exists(P("x"))) << "no placeholder is left behind";
    EXPECT_FALSE(MoveFile(nullptr, W("x").c_str()));

    filetest::MakeDir(P("folder"));
    EXPECT_TRUE(MoveFile(W("moved").c_str(), W("folder").c_str()));
    EXPECT_EQ(filetest::ReadFile(P("folder/moved")), "payload");
    EXPECT_FALSE(Exists(P("moved")));

    // The data changes place while the catalog information stays with the names: the new
    // name keeps what its placeholder was made with, not the source's mode.
    filetest::WriteFile(P("tool"), "#!/bin/sh\n");
    chmod(P("tool").c_str(), 0700);
    FSRef fresh;
    ASSERT_EQ(GetFSRefFromFilename(W("fresh").c_str(), &fresh, true, false), noErr);
    EXPECT_TRUE(MoveFile(W("tool").c_str(), W("tool2").c_str()));
    EXPECT_EQ(filetest::ReadFile(P("tool2")), "#!/bin/sh\n");
    EXPECT_EQ(filetest::ModeOf(P("tool2")), filetest::ModeOf(P("fresh")));

    filetest::MakeDir(P("d1"));
    filetest::WriteFile(P("d1/f"), "in d1");
    filetest::MakeDir(P("d2"));
    EXPECT_TRUE(MoveFile(W("d1/f").c_str(), W("d2/g").c_str()));
    EXPECT_EQ(filetest::ReadFile(P("d2/g")), "in d1");
    EXPECT_FALSE(Exists(P("d1/f")));
}

TEST_F(FileCopyTest, MoveAcrossVolumesCopiesThenDeletes) {
    const std::string other = OtherVolumeDir();
    if (other.empty())
        GTEST_SKIP() << "no second file system";
    filetest::WriteFile(P("src"), Pattern(700000));
    EXPECT_TRUE(MoveFile(W("src").c_str(), U(other + "/dst").c_str()));
    EXPECT_FALSE(Exists(P("src")));
    EXPECT_EQ(filetest::ReadFile(other + "/dst"), Pattern(700000));

    filetest::WriteFile(P("into"), "into");
    filetest::MakeDir(other + "/folder");
    EXPECT_TRUE(MoveFile(W("into").c_str(), U(other + "/folder").c_str()));
    EXPECT_EQ(filetest::ReadFile(other + "/folder/into"), "into");
    EXPECT_FALSE(Exists(P("into")));

    // Into a folder that already holds the name: replaced, as a copy that may replace.
    filetest::WriteFile(P("into"), "second");
    EXPECT_TRUE(MoveFile(W("into").c_str(), U(other + "/folder/").c_str()));
    EXPECT_EQ(filetest::ReadFile(other + "/folder/into"), "second");
    EXPECT_FALSE(Exists(P("into")));
}

TEST_F(FileCopyTest, MoveNeverDestroysTheOnlyCopy) {
    if (!filetest::IsRoot())
        GTEST_SKIP() << "the immutable flag needs root";
    const std::string other = OtherVolumeDir();
    if (other.empty())
        GTEST_SKIP() << "no second file system";
    filetest::MakeDir(P("stuck"));
    filetest::WriteFile(P("stuck/src"), "precious");
    if (!filetest::SetImmutable(P("stuck"), true))
        GTEST_SKIP() << "this file system has no immutable flag";
    // The source cannot be deleted from its locked folder: the copy goes again.
    EXPECT_FALSE(MoveFile(W("stuck/src").c_str(), U(other + "/dst").c_str()));
    EXPECT_EQ(filetest::ReadFile(P("stuck/src")), "precious");
    EXPECT_FALSE(Exists(other + "/dst"));
    // Inside one volume the exchange itself is refused and nothing changes.
    EXPECT_FALSE(MoveFile(W("stuck/src").c_str(), W("dst").c_str()));
    EXPECT_EQ(filetest::ReadFile(P("stuck/src")), "precious");
    EXPECT_FALSE(Exists(P("dst")));
    filetest::SetImmutable(P("stuck"), false);
}

// The exchange succeeds, then the new name's permissions cannot be given to the source's
// data: a user may move a file of another owner in their own folder, but not change its
// mode. The move fails and leaves both names as they were.
TEST_F(FileCopyTest, AMoveWhoseMetadataCannotFollowChangesNothing) {
    if (!filetest::IsRoot())
        GTEST_SKIP() << "files of other owners need root";
    filetest::MakeDir(P("d"));
    filetest::WriteFile(P("d/src"), "payload");
    ASSERT_EQ(chmod(P("d/src").c_str(), 0640), 0);
    ASSERT_EQ(chown(P("d/src").c_str(), 4321, 4321), 0);
    ASSERT_EQ(chown(P("d").c_str(), 65534, 65534), 0);
    ASSERT_EQ(chmod(root_.c_str(), 0755), 0);
    fflush(nullptr);
    const int moved = InChild([&] {
        if (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0)
            return 10;
        umask(022);
        return MoveFile(W("d/src").c_str(), W("d/dst").c_str()) ? 1 : 0;
    });
    EXPECT_EQ(moved, 0);
    EXPECT_EQ(filetest::ReadFile(P("d/src")), "payload");
    struct stat st;
    ASSERT_EQ(stat(P("d/src").c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 4321u);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_FALSE(Exists(P("d/dst")));
}

TEST_F(FileCopyTest, ExchangeSwapsDataAndKeepsMetadataWithTheNames) {
    using Exchange = OSErr (*)(const FSRef*, const FSRef*, FSRef*, FSRef*);
    const Exchange exchanges[] = {FSExchangeObjectsCompat, FSExchangeObjectsEmulated};
    filetest::MakeDir(P("d1"));
    filetest::MakeDir(P("d2"));
    for (Exchange exchange : exchanges) {
        for (const char* second : {"d1/b", "d2/b"}) {
            filetest::WriteFile(P("d1/a"), "AAAA");
            filetest::WriteFile(P(second), "bb");
            chmod(P("d1/a").c_str(), 0600);
            chmod(P(second).c_str(), 0644);
            const FSRef a = RefOf(P("d1/a"));
            const FSRef b = RefOf(P(second));
            FSRef newA;
            FSRef newB;
            ASSERT_EQ(exchange(&a, &b, &newA, &newB), noErr) << second;
            EXPECT_EQ(filetest::ReadFile(P("d1/a")), "bb") << second;
            EXPECT_EQ(filetest::ReadFile(P(second)), "AAAA") << second;
            EXPECT_EQ(filetest::ModeOf(P("d1/a")), 0600u) << second;
            EXPECT_EQ(filetest::ModeOf(P(second)), 0644u) << second;
            const FSRef atA = RefOf(P("d1/a"));
            const FSRef atB = RefOf(P(second));
            EXPECT_EQ(FSCompareFSRefs(&newA, &atA), noErr) << second;
            EXPECT_EQ(FSCompareFSRefs(&newB, &atB), noErr) << second;
            // Nothing else is left in either folder: the temporary names are gone.
            EXPECT_FALSE(Exists(P("d1/586E717A")));
            EXPECT_FALSE(Exists(P("d2/586E717B")));
            unlink(P("d1/a").c_str());
            unlink(P(second).c_str());
        }
    }
    filetest::WriteFile(P("f"), "f");
    const FSRef file = RefOf(P("f"));
    const FSRef folder = RefOf(P("d1"));
    FSRef x;
    FSRef y;
    EXPECT_EQ(FSExchangeObjectsEmulated(&file, &folder, &x, &y), notAFileErr);
    EXPECT_EQ(FSExchangeObjectsCompat(&file, &file, nullptr, &y), paramErr);
    EXPECT_EQ(filetest::ReadFile(P("f")), "f");

    const std::string other = OtherVolumeDir();
    if (!other.empty()) {
        filetest::WriteFile(other + "/g", "g");
        const FSRef far = RefOf(other + "/g");
        EXPECT_EQ(FSExchangeObjectsEmulated(&file, &far, &x, &y), diffVolErr);
        EXPECT_EQ(FSExchangeObjectsCompat(&file, &far, &x, &y), diffVolErr);
    }
}

TEST_F(FileCopyTest, AFailedEmulatedExchangeIsUndone) {
    if (!filetest::IsRoot())
        GTEST_SKIP() << "the immutable flag needs root";
    filetest::MakeDir(P("d1"));
    filetest::MakeDir(P("d2"));
    filetest::WriteFile(P("d1/a"), "AAAA");
    filetest::WriteFile(P("d2/b"), "bb");
    if (!filetest::SetImmutable(P("d2"), true))
        GTEST_SKIP() << "this file system has no immutable flag";
    // The source is renamed first; renaming the destination in its locked folder fails,
    // and the source gets its name back.
    const FSRef a = RefOf(P("d1/a"));
    const FSRef b = RefOf(P("d2/b"));
    FSRef newA;
    FSRef newB;
    EXPECT_NE(FSExchangeObjectsEmulated(&a, &b, &newA, &newB), noErr);
    filetest::SetImmutable(P("d2"), false);
    EXPECT_EQ(filetest::ReadFile(P("d1/a")), "AAAA");
    EXPECT_EQ(filetest::ReadFile(P("d2/b")), "bb");
    EXPECT_FALSE(Exists(P("d1/586E717A")));
    EXPECT_EQ(FSCompareFSRefs(&newA, &a), noErr) << "the outputs stay the inputs";
}

TEST_F(FileCopyTest, UniqueNamesCountUpFromTheSeed) {
    filetest::MakeDir(P("d1"));
    filetest::MakeDir(P("d2"));
    filetest::WriteFile(P("d2/586E717A"), "");
    filetest::WriteFile(P("d1/586E717B"), "");
    const FSRef d1 = RefOf(P("d1"));
    const FSRef d2 = RefOf(P("d2"));
    uint32_t seed = 0x586E717A;
    HFSUniStr255 name;
    ASSERT_EQ(GenerateUniqueHFSUniStr(&seed, &d1, &d2, &name), noErr);
    EXPECT_EQ(std::u16string(name.unicode, name.unicode + name.length), u"586E717C");
    EXPECT_EQ(seed, 0x586E717Du);
    ASSERT_EQ(GenerateUniqueHFSUniStr(&seed, &d1, &d2, &name), noErr);
    EXPECT_EQ(std::u16string(name.unicode, name.unicode + name.length), u"586E717D");
    seed = 0xFFFFFFFF;
    ASSERT_EQ(GenerateUniqueHFSUniStr(&seed, &d1, &d2, &name), noErr);
    EXPECT_EQ(std::u16string(name.unicode, name.unicode + name.length), u"FFFFFFFF");
    EXPECT_EQ(seed, 0u);
}

} // namespace
