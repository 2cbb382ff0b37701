// Whole-file operations: deleting (never through a link), names beyond ASCII, locks,
// folders, attributes and the find record.
#include <sys/xattr.h>

#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "tests/win32compat/FileTestSupport.h"
#include "win32compat/FileSystem.h"

namespace {

using namespace testsupport;
using namespace filetest;

using Deleter = BOOL (*)(const char16_t*);

const std::initializer_list<std::string> kTree = {"tree/", "tree/a", "tree/sub/", "tree/sub/b",
                                                  "tree/sub/empty/"};

// Both deleters delete a link itself and never what it points to, at the top (with or
// without a trailing separator) or inside a tree, and refuse "." and ".." as the last
// component, even behind a link. A link before the last component is followed.
TEST_F(FileTest, DeletersTakeEntriesNeverWhatLinksPointTo) {
    Make({"canary/", "canary/a", "canary/sub/"});
    const std::string before = Fingerprint(P("canary"));
    for (Deleter del : {Deleter(DeleteFile), Deleter(DeleteFileDoNotFollowSymlinks)}) {
        Make(kTree);
        Make({".h", "..h", "link->canary", "link2->canary", "flink->canary/a",
              "tree/sub/tolink->canary", "tree/rel->../canary", "via->tree"});
        for (const char* path :
             {"link/.", "link/./", "link/..", "tree/.", "tree/sub/..", "missing", "nodir/f"})
            EXPECT_EQ(del(W(path).c_str()), FALSE) << path;
        for (const std::string path :
             {"link", "link2/", "flink", ".h", "..h", "via/sub", "tree", "via"}) {
            EXPECT_EQ(del(W(path).c_str()), TRUE) << path;
            EXPECT_FALSE(Has(path.back() == '/' ? path.substr(0, path.size() - 1) : path)) << path;
            EXPECT_EQ(Fingerprint(P("canary")), before) << path;
        }
        EXPECT_EQ(del(nullptr), FALSE);
    }
    EXPECT_EQ(FSDeleteObjects(nullptr), paramErr);
    EXPECT_EQ(DeleteFileDoNotFollowSymlinks(US(W("canary").c_str())), TRUE);
    EXPECT_FALSE(Has("canary"));
}

// The following deleter turns 16-bit paths into bytes itself: names that are not UTF-8
// arrive as U+DC80..U+DCFF, and a name of three-byte characters (relative, so that it is
// all the path holds) fills its buffer exactly. The other narrows each unit to 8 bits,
// so "é" becomes the byte 0xE9.
TEST_F(FileTest, NamesBeyondAscii) {
    Make({"x\x80", "y\xFF", "z\xF0\x90\x82\x80", "tr\xC3\xA9", "\xE4\xB8\xAD\xE6\x96\x87", "d\x80/",
          "d\x80/f"});
    EXPECT_EQ(DeleteFileDoNotFollowSymlinks((W("tr") + u"\u00E9").c_str()), FALSE);
    EXPECT_EQ(DeleteFile((W("d") + u"\xDC80/..").c_str()), FALSE);
    EXPECT_TRUE(Has("tr\xC3\xA9") && Has("d\x80/f"));
    for (const std::u16string& path :
         {W("x") + u"\xDC80", W("y") + u"\xDCFF", W("z") + u"\U00010080", W("tr") + u"\u00E9",
          W("d") + u"\xDC80/f", W("d") + u"\xDC80"})
        EXPECT_EQ(DeleteFile(US(path.c_str())), TRUE);
    ASSERT_EQ(chdir(root_.c_str()), 0);
    EXPECT_EQ(DeleteFile(u"\u4E2D\u6587"), TRUE);
    ASSERT_EQ(chdir("/"), 0);
}

// Locks are this layer's to clear, except on a file with other names: those lie outside
// the deletion and would show the change, so the deletion fails there.
TEST_F(FileTest, LockedEntriesAreUnlockedUnlessTheyHaveOtherNames) {
    if (!IsRoot())
        GTEST_SKIP() << "needs root";
    Make(kTree);
    Make({"lockedtop", "shared/", "shared/b"});
    ASSERT_EQ(link(P("shared/b").c_str(), P("outside").c_str()), 0);
    for (const char* path : {"tree/sub/b", "tree/sub/empty", "lockedtop", "outside"})
        if (!SetImmutable(P(path), true))
            GTEST_SKIP() << "this file system has no immutable flag";
    EXPECT_EQ(DeleteFile(W("tree").c_str()), TRUE);
    EXPECT_EQ(DeleteFileDoNotFollowSymlinks(W("lockedtop").c_str()), TRUE);
    EXPECT_EQ(DeleteFile(W("shared").c_str()), FALSE);
    const FSRef shared = RefOf(P("shared"));
    EXPECT_EQ(FSDeleteObjects(&shared), permErr) << "the first failing status";
    EXPECT_TRUE(!Has("tree") && !Has("lockedtop") && Has("shared/b") && IsImmutable(P("outside")));
    // The root has no name in a folder: never deleted, seen from a child confined to the
    // test folder so that a fault deletes nothing else.
    EXPECT_EQ(InChild([&] {
                  FSRef root;
                  if (chroot(root_.c_str()) != 0 || chdir("/") != 0 ||
                      FSPathMakeRef(reinterpret_cast<const UInt8*>("/"), &root, nullptr) != noErr)
                      return 10;
                  return DeleteFile(u"/") + 2 * DeleteFileDoNotFollowSymlinks(u"//") +
                         4 * (FSDeleteObjects(&root) != paramErr);
              }),
              0);
}

// RemoveDirectory takes only an empty folder, not a link to one; CreateDirectory is
// content with anything already there.
TEST_F(FileTest, RemoveAndCreateDirectory) {
    Make({"file", "full/", "full/one", "empty/", "link->empty"});
    for (const char* path : {"file", "full", "missing", "link"})
        EXPECT_EQ(RemoveDirectory(W(path).c_str()), FALSE) << path;
    EXPECT_EQ(RemoveDirectory(US(W("empty").c_str())), TRUE);
    EXPECT_EQ(CreateDirectory(US(W("new").c_str()), nullptr) +
                  CreateDirectory(W("file").c_str(), nullptr),
              2);
    EXPECT_EQ(CreateDirectory(W("a/b").c_str(), nullptr) +
                  CreateDirectory(static_cast<const char16_t*>(nullptr), nullptr),
              FALSE);
    EXPECT_TRUE(!Has("empty") && Has("full/one") && IsLink(P("link")) && IsDir(P("new")) &&
                Read("file") == "x" && !Has("a"));
}

// GetFileAttributes before, SetFileAttributes with `set`, the mode after.
TEST_F(FileTest, AttributesFromAndToTheWriteBits) {
    const std::tuple<const char*, mode_t, DWORD, DWORD, mode_t> rows[] = {
        {"f444", 0444, 0x01, 0x80, 0664},  {"f002", 0002, 0x80, 0x10, 0002},
        {"f640", 0640, 0x80, 0x21, 0440},  {"d555/", 0555, 0x11, 0x80, 0775},
        {"d755/", 0755, 0x10, 0x80, 0755}, {"d700/", 0700, 0x10, 0x11, 0500}};
    for (const auto& [name, before, got, set, after] : rows) {
        Make({name});
        chmod(P(name).c_str(), before);
        const std::u16string path = W(name);
        EXPECT_EQ(GetFileAttributes(US(path.c_str())), got) << name;
        EXPECT_EQ(SetFileAttributes(US(path.c_str()), set), TRUE) << name;
        EXPECT_EQ(ModeOf(P(name)) + 01000 * IsDir(P(name)), after + 01000 * (name[0] == 'd'))
            << name;
    }
    EXPECT_EQ(GetFileAttributes(W("missing").c_str()) +
                  SetFileAttributes(W("missing").c_str(), 0x80),
              INVALID_FILE_ATTRIBUTES);
}

// Folder searches are not supported. The record comes from catalog information, dates
// copied without conversion (high 16 bits of the seconds, then the low 32).
TEST(FindData, SearchesFindNothingAndTheRecordComesFromCatalogInformation) {
    _WIN32_FIND_DATA record;
    std::memset(&record, 0x5A, sizeof record);
    EXPECT_EQ(FindFirstFile(u"*", &record), INVALID_HANDLE_VALUE);
    EXPECT_EQ(FindNextFile(nullptr, &record) * 2 + FindClose(nullptr), TRUE);
    FSCatalogInfo info{};
    info.nodeFlags = kFSNodeIsDirectoryMask;
    info.createDate = {0x0001, 0x23456789, 0xFFFF};
    info.dataPhysicalSize = 0x0000000500001000ULL;
    orvik::win32file::ModeOf(info) = 0x416D; // a folder nobody may write
    HFSUniStr255 name{3, {u'a', u'\u00E9', u'z'}};
    InitW32FindDataFromCatalogInfo(&info, &name, &record);
    std::vector<DWORD> words(11); // attributes, three dates, size, the two reserved words
    std::memcpy(words.data(), &record, 11 * sizeof(DWORD));
    EXPECT_EQ(words, (std::vector<DWORD>{0x11, 0x23456789, 1, 0, 0, 0, 0, 5, 0x1000, 0x5A5A5A5A,
                                         0x5A5A5A5A}));
    EXPECT_EQ(std::u16string(record.cFileName, 4) + record.cAlternateFileName[0],
              std::u16string(u"a\u00E9z\0\0", 5));
}

} // namespace
