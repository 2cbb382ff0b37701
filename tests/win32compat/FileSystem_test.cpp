#include "win32compat/FileSystem.h"

#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "FileTestSupport.h"
#include "win32compat/FileHandle.h"

namespace {

using namespace filetest;

using Deleter = BOOL (*)(const char16_t*);

class FileSystemTest : public filetest::TempDirTest {
protected:
    void Tree(const std::string& rel) {
        Dir(rel);
        File(rel + "/a");
        Dir(rel + "/sub");
        File(rel + "/sub/b");
        Dir(rel + "/sub/empty");
    }
};

// Both deleters delete a link itself and never what it points to, at the top (with or
// without a trailing separator) or inside a tree, and refuse "." and ".." as the last
// component, even behind a link. A link before the last component is followed.
TEST_F(FileSystemTest, DeletersTakeEntriesNeverWhatLinksPointTo) {
    Tree("canary");
    const std::string before = Fingerprint(P("canary"));
    const Deleter deleters[] = {DeleteFile, DeleteFileDoNotFollowSymlinks};
    for (Deleter del : deleters) {
        Tree("tree");
        Make({".h", "..h", "link->canary", "link2->canary", "flink->canary/a",
              "tree/sub/tolink->canary", "tree/rel->../canary", "via->tree"});
        const std::string how = del == deleters[0] ? " following" : " narrow";
        for (const char* path :
             {"link/.", "link/./", "link/..", "tree/.", "tree/sub/..", "missing", "nodir/f"})
            EXPECT_EQ(del(W(path).c_str()), FALSE) << path << how;
        for (const std::string path :
             {"link", "link2/", "flink", ".h", "..h", "via/sub", "tree", "via"}) {
            EXPECT_EQ(del(W(path).c_str()), TRUE) << path << how;
            EXPECT_FALSE(Has(path.back() == '/' ? path.substr(0, path.size() - 1) : path)) << path;
            EXPECT_EQ(Fingerprint(P("canary")), before) << path << how;
        }
        EXPECT_EQ(del(nullptr), FALSE);
    }
    EXPECT_EQ(FSDeleteObjects(nullptr), paramErr);
    const std::u16string twin = W("canary");
    EXPECT_EQ(DeleteFileDoNotFollowSymlinks(reinterpret_cast<const unsigned short*>(twin.c_str())),
              TRUE);
    EXPECT_FALSE(Has("canary"));
}

// The following deleter turns 16-bit paths into bytes itself: names that are not UTF-8
// arrive as U+DC80..U+DCFF, and a name of three-byte characters fills its buffer exactly.
// The other narrows each unit to 8 bits, so "é" becomes the byte 0xE9.
TEST_F(FileSystemTest, NamesBeyondAscii) {
    File("x\x80");
    File("y\xFF");
    File("z\xF0\x90\x82\x80"); // U+10080, whose second unit is 0xDC80
    File("tr\xC3\xA9");
    File("\xE4\xB8\xAD\xE6\x96\x87");
    EXPECT_EQ(DeleteFile((W("x") + u"\xDC80").c_str()), TRUE);
    EXPECT_EQ(DeleteFile((W("y") + u"\xDCFF").c_str()), TRUE);
    EXPECT_EQ(DeleteFile((W("z") + u"\U00010080").c_str()), TRUE);
    EXPECT_EQ(DeleteFileDoNotFollowSymlinks((W("tr") + u"\u00E9").c_str()), FALSE);
    EXPECT_TRUE(Has("tr\xC3\xA9"));
    EXPECT_EQ(DeleteFile((W("tr") + u"\u00E9").c_str()), TRUE);
    Dir("d\x80");
    File("d\x80/f");
    EXPECT_EQ(DeleteFile((W("d") + u"\xDC80/..").c_str()), FALSE);
    EXPECT_EQ(DeleteFile((W("d") + u"\xDC80/f").c_str()), TRUE);
    EXPECT_EQ(DeleteFile((W("d") + u"\xDC80").c_str()), TRUE);
    char saved[4096];
    ASSERT_NE(getcwd(saved, sizeof saved), nullptr);
    ASSERT_EQ(chdir(root_.c_str()), 0);
    const BOOL relative = DeleteFile(u"\u4E2D\u6587");
    ASSERT_EQ(chdir(saved), 0);
    EXPECT_EQ(relative, TRUE);
    for (const char* name :
         {"x\x80", "y\xFF", "z\xF0\x90\x82\x80", "tr\xC3\xA9", "d\x80", "\xE4\xB8\xAD\xE6\x96\x87"})
        EXPECT_FALSE(Has(name)) << name;
}

// Locks are this layer's to clear, except on a file with other names: those lie outside
// the deletion and would show the change, so the deletion fails there.
TEST_F(FileSystemTest, LockedEntriesAreUnlockedUnlessTheyHaveOtherNames) {
    if (!IsRoot())
        GTEST_SKIP() << "needs root";
    Tree("tree");
    File("lockedtop");
    if (!SetImmutable(P("tree/sub/b"), true))
        GTEST_SKIP() << "this file system has no immutable flag";
    ASSERT_TRUE(SetImmutable(P("tree/sub/empty"), true));
    ASSERT_TRUE(SetImmutable(P("lockedtop"), true));
    EXPECT_EQ(DeleteFile(W("tree").c_str()), TRUE);
    EXPECT_EQ(DeleteFileDoNotFollowSymlinks(W("lockedtop").c_str()), TRUE);
    EXPECT_FALSE(Has("tree"));
    EXPECT_FALSE(Has("lockedtop"));

    Tree("shared");
    ASSERT_EQ(link(P("shared/sub/b").c_str(), P("outside").c_str()), 0);
    ASSERT_TRUE(SetImmutable(P("outside"), true));
    EXPECT_EQ(DeleteFile(W("shared").c_str()), FALSE);
    FSRef shared;
    ASSERT_EQ(GetFSRefFromFilename(W("shared").c_str(), &shared, false, false), noErr);
    EXPECT_EQ(FSDeleteObjects(&shared), permErr) << "the first failing status comes back";
    EXPECT_EQ(DeleteFileDoNotFollowSymlinks(W("shared").c_str()), FALSE);
    EXPECT_TRUE(IsImmutable(P("outside")));
    EXPECT_TRUE(Has("shared/sub/b"));
    ASSERT_TRUE(SetImmutable(P("outside"), false));
    // RemoveDirectory leaves a locked folder as it is.
    Dir("lockedempty");
    ASSERT_TRUE(SetImmutable(P("lockedempty"), true));
    EXPECT_EQ(RemoveDirectory(W("lockedempty").c_str()), FALSE);
    EXPECT_TRUE(IsDir(P("lockedempty")));
}

// The root has no name in a folder: never deleted, seen from a child confined to the
// test folder so that a fault deletes nothing else.
TEST_F(FileSystemTest, TheRootIsRefused) {
    if (!IsRoot())
        GTEST_SKIP() << "needs root";
    File("keep");
    const int status = InChild([&] {
        if (chroot(root_.c_str()) != 0 || chdir("/") != 0)
            return 10;
        FSRef root;
        const OSErr found = FSPathMakeRef(reinterpret_cast<const UInt8*>("/"), &root, nullptr);
        return (DeleteFile(u"/") ? 1 : 0) | (DeleteFileDoNotFollowSymlinks(u"//") ? 2 : 0) |
               (found != noErr || FSDeleteObjects(&root) != paramErr ? 4 : 0);
    });
    EXPECT_EQ(status, 0);
    EXPECT_EQ(Read("keep"), "x");
}

TEST_F(FileSystemTest, RemoveAndCreateDirectory) {
    File("file");
    Dir("full");
    File("full/one");
    Dir("empty");
    symlink(P("empty").c_str(), P("link").c_str());
    struct Row {
        const char* path;
        BOOL removed; // RemoveDirectory, which takes only an empty folder (not a link to one)
    } rows[] = {
        {"file", FALSE}, {"full", FALSE}, {"missing", FALSE}, {"link", FALSE}, {"empty", TRUE}};
    for (const Row& r : rows)
        EXPECT_EQ(RemoveDirectory(W(r.path).c_str()), r.removed) << r.path;
    EXPECT_FALSE(Has("empty"));
    EXPECT_TRUE(Has("full/one") && Has("file") && IsLink(P("link")));

    EXPECT_EQ(CreateDirectory(W("new").c_str(), nullptr), TRUE);
    EXPECT_TRUE(IsDir(P("new")));
    EXPECT_EQ(CreateDirectory(W("new").c_str(), nullptr), TRUE);
    EXPECT_EQ(CreateDirectory(W("file").c_str(), nullptr), TRUE);
    EXPECT_EQ(Read("file"), "x");
    EXPECT_EQ(CreateDirectory(W("a/b").c_str(), nullptr), FALSE);
    EXPECT_EQ(CreateDirectory(static_cast<const char16_t*>(nullptr), nullptr), FALSE);
    EXPECT_FALSE(Has("a"));
}

TEST_F(FileSystemTest, AttributesFromAndToTheWriteBits) {
    struct Row {
        const char* name;
        bool folder;
        mode_t before;
        DWORD got; // GetFileAttributes before the change
        DWORD set; // given to SetFileAttributes
        mode_t after;
    } rows[] = {{"f444", false, 0444, 0x01, 0x80, 0664}, {"f644", false, 0644, 0x80, 0x80, 0644},
                {"f400", false, 0400, 0x01, 0x20, 0400}, {"f020", false, 0020, 0x80, 0x01, 0000},
                {"f002", false, 0002, 0x80, 0x10, 0002}, {"f666", false, 0666, 0x80, 0x01, 0444},
                {"f640", false, 0640, 0x80, 0x21, 0440}, {"d555", true, 0555, 0x11, 0x80, 0775},
                {"d755", true, 0755, 0x10, 0x80, 0755},  {"d500", true, 0500, 0x11, 0x11, 0500},
                {"d700", true, 0700, 0x10, 0x11, 0500}};
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        r.folder ? Dir(r.name) : File(r.name);
        chmod(P(r.name).c_str(), r.before);
        const std::u16string path = W(r.name);
        const auto* twin = reinterpret_cast<const unsigned short*>(path.c_str());
        EXPECT_EQ(GetFileAttributes(twin), r.got);
        EXPECT_EQ(SetFileAttributes(twin, r.set), TRUE);
        EXPECT_EQ(ModeOf(P(r.name)), r.after);
        EXPECT_EQ(IsDir(P(r.name)), r.folder);
    }
    EXPECT_EQ(GetFileAttributes(W("missing").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(SetFileAttributes(W("missing").c_str(), 0x80), FALSE);
}

// On the way to a deletion a link has no attributes of its own and a file with other
// names keeps what those names show; elsewhere the link leads to its target.
TEST_F(FileSystemTest, SetAttributesInAnEntryScopeLeavesLinksAndSharedFiles) {
    File("target");
    File("shared");
    File("plain");
    for (const char* name : {"target", "shared", "plain"})
        chmod(P(name).c_str(), 0444);
    symlink(P("target").c_str(), P("link").c_str());
    link(P("shared").c_str(), P("other").c_str());
    {
        orvik::fm::EntryScope scope;
        for (const char* name : {"link", "shared", "plain"})
            EXPECT_EQ(SetFileAttributes(W(name).c_str(), 0x80), TRUE) << name;
    }
    EXPECT_EQ(ModeOf(P("target")), 0444u);
    EXPECT_EQ(ModeOf(P("shared")), 0444u);
    EXPECT_EQ(ModeOf(P("plain")), 0664u);
    EXPECT_EQ(SetFileAttributes(W("link").c_str(), 0x80), TRUE);
    EXPECT_EQ(ModeOf(P("target")), 0664u);
}

// Every failure of another user's attempt is reported, and nothing changes.
TEST_F(FileSystemTest, PermissionDeniedFailsAndChangesNothing) {
    if (!IsRoot())
        GTEST_SKIP() << "needs root";
    chmod(root_.c_str(), 0755);
    Tree("tree");
    Dir("emptydir");
    File("file");
    const std::string before = Fingerprint(root_);
    const int status = InChild([&] {
        if (setgid(65534) != 0 || setuid(65534) != 0)
            return 64;
        FSRef ref;
        return (DeleteFile(W("tree").c_str()) ? 1 : 0) | (DeleteFile(W("file").c_str()) ? 2 : 0) |
               (RemoveDirectory(W("emptydir").c_str()) ? 4 : 0) |
               (CreateDirectory(W("made").c_str(), nullptr) ? 8 : 0) |
               (SetFileAttributes(W("file").c_str(), 0x01) ? 16 : 0) |
               (GetFSRefFromFilename(W("made").c_str(), &ref, true, false) != afpAccessDenied ? 32
                                                                                              : 0);
    });
    EXPECT_EQ(status, 0);
    EXPECT_EQ(Fingerprint(root_), before);
}

TEST_F(FileSystemTest, TempPathEndsInASlashAndIsCutToTheBuffer) {
    ScopedEnv tmpdir("TMPDIR", root_.c_str());
    const std::u16string expected = U(root_) + u"/";
    for (DWORD length : {DWORD(260), DWORD(expected.size()), DWORD(expected.size() - 1), 3u}) {
        std::vector<char16_t> buffer(300, u'#');
        EXPECT_EQ(GetTempPath(length, reinterpret_cast<unsigned short*>(buffer.data())),
                  expected.size());
        const size_t n = std::min<size_t>(length, expected.size());
        EXPECT_EQ(std::u16string(buffer.data()), expected.substr(0, n)) << length;
        EXPECT_EQ(buffer[n + 1], u'#') << length;
    }
    EXPECT_EQ(GetTempPath(0, static_cast<char16_t*>(nullptr)), expected.size());
}

TEST_F(FileSystemTest, TempFileNameTakesTheFirstFreeNumber) {
    File("abc7");
    File("7");
    symlink(P("nowhere").c_str(), P("8").c_str()); // a dangling link takes its name too
    struct Row {
        std::u16string folder;
        const char16_t* prefix;
        UINT first, result;
        const char* name;
    } rows[] = {{U(root_), u"abcd", 7, 8, "abc8"},
                {U(root_) + u"/", u"abcd", 7, 8, "abc8"},
                {U(root_), nullptr, 7, 9, "9"},
                {U(root_), u"q", 0xFFFFFFFFu, 0xFFFFFFFFu, "q4294967295"},
                {U(root_), u"z", 0, 0, "z0"},
                {U(root_), u"", 1, 1, "1"}};
    for (const Row& r : rows) {
        std::vector<char16_t> out(300, u'#');
        EXPECT_EQ(GetTempFileName(r.folder.c_str(), r.prefix, r.first, out.data()), r.result);
        EXPECT_EQ(std::u16string(out.data()), W(r.name));
        EXPECT_EQ(out[W(r.name).size() + 1], u'#') << r.name;
        EXPECT_FALSE(Has(r.name)) << "nothing is created";
    }
    std::vector<unsigned short> out(300, '#');
    const unsigned short z[] = {'z', 0};
    EXPECT_EQ(GetTempFileName(reinterpret_cast<const unsigned short*>(u""), z, 1, out.data()), 0u);
    EXPECT_EQ(out[0], '#');
    EXPECT_EQ(GetTempFileName(static_cast<const char16_t*>(nullptr), u"z", 1,
                              reinterpret_cast<char16_t*>(out.data())),
              0u);
    EXPECT_EQ(GetTempFileName(U(root_).c_str(), u"z", 1, static_cast<char16_t*>(nullptr)), 0u);
}

TEST(FindData, SearchesFindNothingAndTheRecordComesFromCatalogInformation) {
    _WIN32_FIND_DATA record;
    std::memset(&record, 0x5A, sizeof record);
    EXPECT_EQ(FindFirstFile(u"/tmp/*", &record), INVALID_HANDLE_VALUE);
    EXPECT_EQ(FindFirstFile(reinterpret_cast<const unsigned short*>(u"*"), &record),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(FindNextFile(reinterpret_cast<HANDLE>(0x1234), &record), FALSE);
    EXPECT_EQ(FindClose(nullptr), TRUE);
    InitW32FindDataFromCatalogInfo(nullptr, nullptr, &record);
    EXPECT_EQ(record.dwFileAttributes, 0x5A5A5A5Au) << "the record is left alone";

    FSCatalogInfo info{};
    info.createDate = {0x0001, 0x23456789, 0xFFFF};
    info.accessDate = {0x00AB, 0x00000010, 0};
    info.contentModDate = {0xFFFF, 0xFFFFFFFF, 1};
    info.dataPhysicalSize = 0x0000000500001000ULL;
    HFSUniStr255 name;
    name.length = 3;
    std::copy_n(u"a\u00E9z", 3, name.unicode);
    struct Row {
        UInt16 flags, mode;
        DWORD attributes;
    } rows[] = {{kFSNodeIsDirectoryMask, 0x416D, 0x11},
                {kFSNodeIsDirectoryMask, 0x41ED, 0x10},
                {0, 0x81A4, 0x80},
                {0, 0x8124, 0x01},
                {0, 0x8102, 0x80},
                {kFSNodeLockedMask, 0x8180, 0x80}};
    for (const Row& r : rows) {
        std::memset(&record, 0x5A, sizeof record);
        info.nodeFlags = r.flags;
        orvik::win32file::ModeOf(info) = r.mode;
        InitW32FindDataFromCatalogInfo(&info, &name, &record);
        EXPECT_EQ(record.dwFileAttributes, r.attributes) << std::hex << r.mode;
    }
    const DWORD words[] = {record.ftCreationTime.dwHighDateTime,
                           record.ftCreationTime.dwLowDateTime,
                           record.ftLastAccessTime.dwHighDateTime,
                           record.ftLastAccessTime.dwLowDateTime,
                           record.ftLastWriteTime.dwHighDateTime,
                           record.ftLastWriteTime.dwLowDateTime,
                           record.nFileSizeHigh,
                           record.nFileSizeLow,
                           record.dwReserved0,
                           record.dwReserved1};
    const DWORD expected[] = {1,          0x23456789, 0xAB,   0x10,       0xFFFF,
                              0xFFFFFFFF, 5,          0x1000, 0x5A5A5A5A, 0x5A5A5A5A};
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(words[i], expected[i]) << i;
    EXPECT_EQ(std::u16string(record.cFileName), u"a\u00E9z");
    EXPECT_EQ(record.cAlternateFileName[0], 0);
    EXPECT_EQ(record.dwReserved0, 0x5A5A5A5Au);
    EXPECT_EQ(record.dwReserved1, 0x5A5A5A5Au);
    InitW32FindDataFromCatalogInfo(&info, nullptr, &record);
    EXPECT_EQ(record.cFileName[0], 0);
}

} // namespace
