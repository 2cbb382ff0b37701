#include "win32compat/FileSystem.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "FileTestSupport.h"
#include "win32compat/FileHandle.h"

using filetest::Exists;
using filetest::IsDir;
using filetest::IsLink;
using filetest::U;
using testsupport::InChild;

namespace {

class FileSystemTest : public filetest::TempDirTest {
protected:
    // dir/ with files, a subfolder and a nested file.
    void MakeTree(const std::string& rel) {
        filetest::MakeDir(P(rel));
        filetest::WriteFile(P(rel + "/a"), "a");
        filetest::MakeDir(P(rel + "/sub"));
        filetest::WriteFile(P(rel + "/sub/b"), "b");
        filetest::MakeDir(P(rel + "/sub/empty"));
    }
    void MakeCanary() {
        filetest::MakeDir(P("canary"));
        filetest::WriteFile(P("canary/keep"), "keep");
        filetest::MakeDir(P("canary/inner"));
        filetest::WriteFile(P("canary/inner/keep2"), "keep2");
    }
    void ExpectCanary() {
        EXPECT_EQ(filetest::ReadFile(P("canary/keep")), "keep");
        EXPECT_EQ(filetest::ReadFile(P("canary/inner/keep2")), "keep2");
    }
};

// The same, with the test folder in memory (/dev/shm) where there is one: the big trees
// of the safety tests are built and removed many times faster there than on a disk.
class FileSystemSafetyTest : public FileSystemTest {
protected:
    std::string Base() const override { return testsupport::MemoryBase(); }
};

TEST_F(FileSystemTest, DeleteFileRemovesFilesAndWholeTrees) {
    filetest::WriteFile(P("file"), "x");
    EXPECT_TRUE(DeleteFile(W("file").c_str()));
    EXPECT_FALSE(Exists(P("file")));

    MakeTree("tree");
    EXPECT_TRUE(DeleteFile(W("tree").c_str()));
    EXPECT_FALSE(Exists(P("tree")));

    MakeTree("slash");
    EXPECT_TRUE(DeleteFile(W("slash/").c_str()));
    EXPECT_FALSE(Exists(P("slash")));

    EXPECT_FALSE(DeleteFile(W("missing").c_str()));
    EXPECT_FALSE(DeleteFile(W("nodir/file").c_str()));
    EXPECT_FALSE(DeleteFile(static_cast<const char16_t*>(nullptr)));
    EXPECT_EQ(FSDeleteObjects(nullptr), paramErr);

    filetest::WriteFile(P("twin"), "x");
    const std::u16string twin = W("twin");
    EXPECT_TRUE(DeleteFile(reinterpret_cast<const unsigned short*>(twin.c_str())));
    EXPECT_FALSE(Exists(P("twin")));
}

TEST_F(FileSystemTest, BothDeletersDeleteALinkAndNeverItsTarget) {
    MakeCanary();
    using Deleter = BOOL (*)(const char16_t*);
    const Deleter deleters[] = {DeleteFile, DeleteFileDoNotFollowSymlinks};
    for (Deleter del : deleters) {
        ASSERT_EQ(symlink(P("canary").c_str(), P("link").c_str()), 0);
        EXPECT_TRUE(del(W("link").c_str()));
        EXPECT_FALSE(Exists(P("link")));
        ExpectCanary();

        ASSERT_EQ(symlink(P("canary").c_str(), P("link").c_str()), 0);
        EXPECT_TRUE(del(W("link/").c_str())) << "a trailing separator does not follow";
        EXPECT_FALSE(Exists(P("link")));
        ExpectCanary();

        ASSERT_EQ(symlink(P("canary/keep").c_str(), P("flink").c_str()), 0);
        EXPECT_TRUE(del(W("flink").c_str()));
        ExpectCanary();

        // Links inside a tree are entries: deleted, never descended.
        MakeTree("tree");
        ASSERT_EQ(symlink(P("canary").c_str(), P("tree/sub/tolink").c_str()), 0);
        ASSERT_EQ(symlink("../../canary", P("tree/rel").c_str()), 0);
        EXPECT_TRUE(del(W("tree").c_str()));
        EXPECT_FALSE(Exists(P("tree")));
        ExpectCanary();

        // A link in a middle component is followed to reach the entry.
        MakeTree("real");
        ASSERT_EQ(symlink(P("real").c_str(), P("via").c_str()), 0);
        EXPECT_TRUE(del(W("via/sub").c_str()));
        EXPECT_FALSE(Exists(P("real/sub")));
        EXPECT_TRUE(Exists(P("real/a")));
        EXPECT_TRUE(IsLink(P("via")));
        filetest::RemoveTree(P("real"));
        unlink(P("via").c_str());
    }
}

TEST_F(FileSystemTest, DotComponentsAndTheRootAreRefused) {
    MakeCanary();
    MakeTree("a");
    ASSERT_EQ(symlink(P("canary").c_str(), P("link").c_str()), 0);
    using Deleter = BOOL (*)(const char16_t*);
    const Deleter deleters[] = {DeleteFile, DeleteFileDoNotFollowSymlinks};
    for (Deleter del : deleters) {
        for (const char* path : {"link/.", "link/./", "link/..", "a/sub/..", "a/sub/.", "a/."}) {
            EXPECT_FALSE(del(W(path).c_str())) << path;
            ExpectCanary();
            EXPECT_TRUE(Exists(P("a/sub/b"))) << path;
        }
    }
    if (!filetest::IsRoot())
        return;
    // The root itself, seen from a child confined to the test folder.
    const int status = InChild([&] {
        if (chroot(root_.c_str()) != 0 || chdir("/") != 0)
            return 10;
        int result = 0;
        result |= DeleteFile(u"/") ? 1 : 0;
        result |= DeleteFileDoNotFollowSymlinks(u"/") ? 2 : 0;
        result |= DeleteFileDoNotFollowSymlinks(u"//") ? 4 : 0;
        FSRef root;
        if (FSPathMakeRef(reinterpret_cast<const UInt8*>("/"), &root, nullptr) == noErr)
            result |= FSDeleteObjects(&root) == noErr ? 8 : 0;
        return result;
    });
    EXPECT_EQ(status, 0);
    ExpectCanary();
    EXPECT_TRUE(Exists(P("a/sub/b")));
}

TEST_F(FileSystemTest, DoNotFollowNarrowsThePathTo8Bits) {
    MakeTree("tr\xC3\xA9");
    // U+00E9 becomes the single byte 0xE9, which is not UTF-8 and so names nothing.
    EXPECT_FALSE(DeleteFileDoNotFollowSymlinks(W("tr\xC3\xA9").c_str()));
    EXPECT_TRUE(Exists(P("tr\xC3\xA9/sub/b")));
    EXPECT_TRUE(DeleteFile(W("tr\xC3\xA9").c_str()));
    EXPECT_FALSE(Exists(P("tr\xC3\xA9")));
    EXPECT_FALSE(DeleteFileDoNotFollowSymlinks(W("missing").c_str()));
}

TEST_F(FileSystemTest, AnOpenFileIsDeletedEvenInsideAFolder) {
    // Linux deletes open files, so nothing here is ever busy.
    MakeTree("tree");
    const int fd = open(P("tree/sub/b").c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    EXPECT_TRUE(DeleteFile(W("tree").c_str()));
    EXPECT_FALSE(Exists(P("tree")));
    close(fd);
}

TEST_F(FileSystemTest, RemoveDirectoryOnlyTakesEmptyFolders) {
    filetest::WriteFile(P("file"), "x");
    filetest::MakeDir(P("full"));
    filetest::WriteFile(P("full/one"), "1");
    filetest::MakeDir(P("empty"));
    EXPECT_FALSE(RemoveDirectory(W("file").c_str()));
    EXPECT_EQ(filetest::ReadFile(P("file")), "x");
    EXPECT_FALSE(RemoveDirectory(W("full").c_str()));
    EXPECT_TRUE(Exists(P("full/one")));
    EXPECT_FALSE(RemoveDirectory(W("missing").c_str()));
    // A link is not a folder, even when it points to an empty one.
    ASSERT_EQ(symlink(P("empty").c_str(), P("link").c_str()), 0);
    EXPECT_FALSE(RemoveDirectory(W("link").c_str()));
    EXPECT_TRUE(IsDir(P("empty")));
    EXPECT_TRUE(RemoveDirectory(W("empty").c_str()));
    EXPECT_FALSE(Exists(P("empty")));
}

TEST_F(FileSystemTest, CreateDirectoryMakesTheLastComponentOnly) {
    EXPECT_TRUE(CreateDirectory(W("new").c_str(), nullptr));
    EXPECT_TRUE(IsDir(P("new")));
    EXPECT_TRUE(CreateDirectory(W("new").c_str(), nullptr)) << "an existing folder";
    filetest::WriteFile(P("file"), "x");
    EXPECT_TRUE(CreateDirectory(W("file").c_str(), nullptr)) << "an existing file";
    EXPECT_EQ(filetest::ReadFile(P("file")), "x");
    EXPECT_FALSE(CreateDirectory(W("a/b/c").c_str(), nullptr));
    EXPECT_FALSE(Exists(P("a")));
}

TEST_F(FileSystemTest, AttributesFromTheWriteBits) {
    struct Row {
        const char* name;
        bool folder;
        mode_t mode;
        DWORD attributes;
    } rows[] = {{"f444", false, 0444, 0x01}, {"f644", false, 0644, 0x80},
                {"f400", false, 0400, 0x01}, {"f020", false, 0020, 0x80},
                {"f002", false, 0002, 0x80}, {"d555", true, 0555, 0x11},
                {"d755", true, 0755, 0x10},  {"d500", true, 0500, 0x11}};
    for (const Row& r : rows) {
        if (r.folder)
            filetest::MakeDir(P(r.name));
        else
            filetest::WriteFile(P(r.name), "x");
        chmod(P(r.name).c_str(), r.mode);
        EXPECT_EQ(GetFileAttributes(W(r.name).c_str()), r.attributes) << r.name;
    }
    EXPECT_EQ(GetFileAttributes(W("missing").c_str()), 0xFFFFFFFFu);
}

TEST_F(FileSystemTest, SetAttributesChangesOnlyTheWriteBits) {
    struct Row {
        const char* name;
        bool folder;
        mode_t before;
        DWORD attributes;
        mode_t after;
    } rows[] = {
        {"ro", false, 0666, 0x01, 0444},      {"normal", false, 0444, 0x80, 0664},
        {"archive", false, 0444, 0x20, 0444}, {"keep", false, 0644, 0x80, 0644},
        {"rw", false, 0640, 0x01, 0440},      {"dir", true, 0755, 0x80, 0755},
        {"dirro", true, 0755, 0x11, 0555},    {"tofolder", false, 0644, 0x10, 0644},
    };
    for (const Row& r : rows) {
        if (r.folder)
            filetest::MakeDir(P(r.name));
        else
            filetest::WriteFile(P(r.name), "x");
        chmod(P(r.name).c_str(), r.before);
        EXPECT_TRUE(SetFileAttributes(W(r.name).c_str(), r.attributes)) << r.name;
        EXPECT_EQ(filetest::ModeOf(P(r.name)), r.after) << r.name;
        EXPECT_EQ(IsDir(P(r.name)), r.folder) << r.name;
    }
    EXPECT_FALSE(SetFileAttributes(W("missing").c_str(), 0x80));
}

TEST_F(FileSystemTest, TempPathEndsInASlashAndIsCutToTheBuffer) {
    testsupport::ScopedEnv tmpdir("TMPDIR", root_.c_str());
    const std::u16string expected = U(root_) + u"/";

    std::vector<char16_t> buffer(300, u'#');
    EXPECT_EQ(GetTempPath(260, buffer.data()), expected.size());
    EXPECT_EQ(std::u16string(buffer.data()), expected);

    std::fill(buffer.begin(), buffer.end(), u'#');
    EXPECT_EQ(GetTempPath(3, buffer.data()), expected.size());
    EXPECT_EQ(std::u16string(buffer.data(), 3), expected.substr(0, 3));
    EXPECT_EQ(buffer[3], 0);
    EXPECT_EQ(buffer[4], u'#');
    EXPECT_EQ(GetTempPath(0, static_cast<char16_t*>(nullptr)), expected.size());
}

TEST_F(FileSystemTest, TempFileNameTakesTheFirstFreeNumber) {
    filetest::WriteFile(P("abc7"), "");
    std::vector<char16_t> out(300, u'#');
    EXPECT_EQ(GetTempFileName(U(root_).c_str(), u"abcd", 7, out.data()), 8u);
    EXPECT_EQ(std::u16string(out.data()), W("abc8"));
    EXPECT_FALSE(Exists(P("abc8"))) << "the file is not created";
    EXPECT_EQ(GetTempFileName((U(root_) + u"/").c_str(), u"abcd", 7, out.data()), 8u);
    EXPECT_EQ(std::u16string(out.data()), W("abc8"));

    // A dangling link takes its name too; a null prefix adds nothing.
    ASSERT_EQ(symlink(P("nowhere").c_str(), P("8").c_str()), 0);
    filetest::WriteFile(P("7"), "");
    EXPECT_EQ(GetTempFileName(U(root_).c_str(), nullptr, 7, out.data()), 9u);
    EXPECT_EQ(std::u16string(out.data()), W("9"));
    EXPECT_EQ(GetTempFileName(U(root_).c_str(), u"q", 0xFFFFFFFFu, out.data()), 0xFFFFFFFFu);
    EXPECT_EQ(std::u16string(out.data()), W("q4294967295"));
    EXPECT_EQ(GetTempFileName(U(root_).c_str(), u"z", 0, out.data()), 0u);
    EXPECT_EQ(std::u16string(out.data()), W("z0"));
    EXPECT_EQ(GetTempFileName(u"", u"z", 1, out.data()), 0u);
    EXPECT_EQ(GetTempFileName(nullptr, u"z", 1, out.data()), 0u);
}

TEST_F(FileSystemTest, FindFunctionsFindNothing) {
    _WIN32_FIND_DATA record;
    std::memset(&record, 0x5A, sizeof record);
    EXPECT_EQ(FindFirstFile(W("*").c_str(), &record), INVALID_HANDLE_VALUE);
    EXPECT_EQ(record.dwFileAttributes, 0x5A5A5A5Au);
    EXPECT_FALSE(FindNextFile(INVALID_HANDLE_VALUE, &record));
    EXPECT_FALSE(FindNextFile(reinterpret_cast<HANDLE>(0x1234), &record));
    EXPECT_TRUE(FindClose(INVALID_HANDLE_VALUE));
    EXPECT_TRUE(FindClose(nullptr));
}

TEST(FindDataTest, FilledFromCatalogInformation) {
    FSCatalogInfo info{};
    info.nodeFlags = kFSNodeIsDirectoryMask;
    orvik::win32file::ModeOf(info) = 0x4000 | 0555;
    info.createDate = {0x0001, 0x23456789, 0xFFFF};
    info.accessDate = {0x00AB, 0x00000010, 0};
    info.contentModDate = {0xFFFF, 0xFFFFFFFF, 1};
    info.dataPhysicalSize = 0x0000000500001000ULL;
    HFSUniStr255 name;
    name.length = 3;
    name.unicode[0] = u'a';
    name.unicode[1] = u'\u00E9';
    name.unicode[2] = u'z';

    _WIN32_FIND_DATA record;
    std::memset(&record, 0x5A, sizeof record);
    InitW32FindDataFromCatalogInfo(&info, &name, &record);
    EXPECT_EQ(record.dwFileAttributes, 0x11u);
    EXPECT_EQ(record.ftCreationTime.dwHighDateTime, 0x0001u);
    EXPECT_EQ(record.ftCreationTime.dwLowDateTime, 0x23456789u);
    EXPECT_EQ(record.ftLastAccessTime.dwHighDateTime, 0x00ABu);
    EXPECT_EQ(record.ftLastAccessTime.dwLowDateTime, 0x10u);
    EXPECT_EQ(record.ftLastWriteTime.dwHighDateTime, 0xFFFFu);
    EXPECT_EQ(record.ftLastWriteTime.dwLowDateTime, 0xFFFFFFFFu);
    EXPECT_EQ(record.nFileSizeHigh, 5u);
    EXPECT_EQ(record.nFileSizeLow, 0x1000u);
    EXPECT_EQ(std::u16string(record.cFileName), u"a\u00E9z");
    EXPECT_EQ(record.cAlternateFileName[0], 0);
    EXPECT_EQ(record.dwReserved0, 0x5A5A5A5Au);
    EXPECT_EQ(record.dwReserved1, 0x5A5A5A5Au);

    struct Row {
        UInt16 flags;
        UInt16 mode;
        DWORD attributes;
    } rows[] = {{kFSNodeIsDirectoryMask, 0x41ED, 0x10},
                {0, 0x81A4, 0x80},
                {0, 0x8124, 0x01},
                {kFSNodeLockedMask, 0x8180, 0x80}};
    for (const Row& r : rows) {
        info.nodeFlags = r.flags;
        orvik::win32file::ModeOf(info) = r.mode;
        InitW32FindDataFromCatalogInfo(&info, &name, &record);
        EXPECT_EQ(record.dwFileAttributes, r.attributes) << std::hex << r.mode;
    }
}

// ---- Safety: what a deletion run as root must never do ----

TEST_F(FileSystemTest, LockedFilesInsideATreeAreUnlockedAndDeleted) {
    if (!filetest::IsRoot())
        GTEST_SKIP() << "the immutable flag needs root";
    MakeTree("tree");
    filetest::WriteFile(P("tree/sub/locked"), "l");
    filetest::WriteFile(P("tree/locked2"), "l");
    filetest::WriteFile(P("lockedtop"), "l");
    if (!filetest::SetImmutable(P("tree/sub/locked"), true))
        GTEST_SKIP() << "this file system has no immutable flag";
    ASSERT_TRUE(filetest::SetImmutable(P("tree/locked2"), true));
    ASSERT_TRUE(filetest::SetImmutable(P("lockedtop"), true));
    EXPECT_TRUE(DeleteFile(W("tree").c_str()));
    EXPECT_FALSE(Exists(P("tree")));
    EXPECT_TRUE(DeleteFileDoNotFollowSymlinks(W("lockedtop").c_str()));
    EXPECT_FALSE(Exists(P("lockedtop")));

    // A locked folder refuses the deletion of its entries: the walk stops with a failure.
    MakeTree("stuck");
    ASSERT_TRUE(filetest::SetImmutable(P("stuck/sub"), true));
    EXPECT_FALSE(DeleteFile(W("stuck").c_str()));
    EXPECT_TRUE(Exists(P("stuck/sub/b")));
    FSRef stuck;
    ASSERT_EQ(GetFSRefFromFilename(W("stuck").c_str(), &stuck, false, false), noErr);
    EXPECT_EQ(FSDeleteObjects(&stuck), permErr) << "the first failing status comes back";
    EXPECT_TRUE(Exists(P("stuck/sub/b")));
    // An empty locked folder is not removed by RemoveDirectory.
    ASSERT_TRUE(filetest::SetImmutable(P("stuck/sub"), false));
    ASSERT_TRUE(filetest::SetImmutable(P("stuck/sub/empty"), true));
    EXPECT_FALSE(RemoveDirectory(W("stuck/sub/empty").c_str()));
    EXPECT_TRUE(IsDir(P("stuck/sub/empty")));
}

TEST_F(FileSystemTest, PermissionDeniedFailsAndChangesNothing) {
    if (!filetest::IsRoot())
        GTEST_SKIP() << "needs root to act as another user";
    chmod(root_.c_str(), 0755);
    MakeTree("tree");
    filetest::MakeDir(P("emptydir"));
    filetest::WriteFile(P("file"), "x");
    const int status = InChild([&] {
        if (setgid(65534) != 0 || setuid(65534) != 0)
            return 2;
        int failures = 0;
        failures += DeleteFile(W("tree").c_str()) ? 1 : 0;
        failures += DeleteFile(W("file").c_str()) ? 1 : 0;
        failures += RemoveDirectory(W("emptydir").c_str()) ? 1 : 0;
        failures += CreateDirectory(W("made").c_str(), nullptr) ? 1 : 0;
        failures += SetFileAttributes(W("file").c_str(), 0x01) ? 1 : 0;
        // A creation refused in an existing parent passes the file manager's status on.
        FSRef ref;
        const OSErr created = GetFSRefFromFilename(W("made2").c_str(), &ref, true, false);
        failures += created == noErr || created == fnfErr ? 1 : 0;
        return failures == 0 ? 0 : 1;
    });
    EXPECT_EQ(status, 0);
    EXPECT_TRUE(Exists(P("tree/a")));
    EXPECT_TRUE(Exists(P("tree/sub/b")));
    EXPECT_TRUE(Exists(P("file")));
    EXPECT_TRUE(Exists(P("emptydir")));
    EXPECT_FALSE(Exists(P("made")));
    EXPECT_FALSE(Exists(P("made2")));
    EXPECT_EQ(filetest::ModeOf(P("file")) & 0222, 0200u);
}

TEST_F(FileSystemTest, AVanishedObjectReportsNotFound) {
    filetest::WriteFile(P("gone"), "x");
    FSRef ref;
    ASSERT_EQ(GetFSRefFromFilename(W("gone").c_str(), &ref, false, false), noErr);
    unlink(P("gone").c_str());
    EXPECT_EQ(FSDeleteObjects(&ref), fnfErr);
}

// A tree `depth` levels deep with a file at every level and 255-byte names every 100 levels.
bool MakeDeepTree(const std::string& root, int depth) {
    const std::string longName(255, 'L');
    return !testsupport::MakeDeepTree(
                root, depth, [&](int level) { return level % 100 == 0 ? longName : "d"; },
                [&](int level) { return level % 100 == 50 ? longName : "f"; })
                .empty();
}

// Deletes a tree `depth` levels deep under a descriptor limit, on this thread's own stack.
void ExpectDeepTreeDeleted(const std::string& root, int depth, rlim_t descriptors) {
    ASSERT_TRUE(MakeDeepTree(root, depth));
    struct rlimit saved;
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
    struct rlimit limited = saved;
    limited.rlim_cur = std::min<rlim_t>(descriptors, saved.rlim_max);
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &limited), 0);
    const BOOL deleted = DeleteFile(U(root).c_str());
    setrlimit(RLIMIT_NOFILE, &saved);
    EXPECT_TRUE(deleted) << depth << " levels";
    EXPECT_FALSE(Exists(root));
}

TEST_F(FileSystemSafetyTest, DeepTreesWithLongNamesUnderTheDescriptorLimit) {
    ExpectDeepTreeDeleted(P("deep"), 100000, 1024);
    ExpectDeepTreeDeleted(P("narrow"), 5000, 64);
    ASSERT_TRUE(MakeDeepTree(P("deep2"), 1200));
    EXPECT_TRUE(DeleteFileDoNotFollowSymlinks(U(P("deep2")).c_str()));
    EXPECT_FALSE(Exists(P("deep2")));
}

TEST_F(FileSystemSafetyTest, FoldersSwappedForLinksDuringDeletionNeverLeadOutside) {
    using Deleter = BOOL (*)(const char16_t*);
    const std::pair<const char*, Deleter> deleters[] = {
        {"DeleteFile", DeleteFile},
        {"DeleteFileDoNotFollowSymlinks", DeleteFileDoNotFollowSymlinks}};
    for (const auto& [name, del] : deleters) {
        filetest::MakeDir(P(name));
        const int deleted = testsupport::RaceLinkSwapsAgainst(
            P(name), 200, [&](const std::string& tree) { return del(U(tree).c_str()) != FALSE; });
        EXPECT_GE(deleted, 0) << name;
        RecordProperty(std::string(name) + "_reported_success", deleted);
    }
}

} // namespace
