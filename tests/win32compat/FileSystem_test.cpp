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
using FileSystemTest = TempDirTest;

const unsigned short* US(const std::u16string& s) {
    return reinterpret_cast<const unsigned short*>(s.c_str());
}

const std::initializer_list<std::string> kTree = {"tree/", "tree/a", "tree/sub/", "tree/sub/b",
                                                  "tree/sub/empty/"};

// Both deleters delete a link itself and never what it points to, at the top (with or
// without a trailing separator) or inside a tree, and refuse "." and ".." as the last
// component, even behind a link. A link before the last component is followed.
TEST_F(FileSystemTest, DeletersTakeEntriesNeverWhatLinksPointTo) {
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
    EXPECT_EQ(DeleteFileDoNotFollowSymlinks(US(W("canary"))), TRUE);
    EXPECT_FALSE(Has("canary"));
}

// The following deleter turns 16-bit paths into bytes itself: names that are not UTF-8
// arrive as U+DC80..U+DCFF, and a name of three-byte characters (relative, so that it is
// all the path holds) fills its buffer exactly. The other narrows each unit to 8 bits,
// so "é" becomes the byte 0xE9.
TEST_F(FileSystemTest, NamesBeyondAscii) {
    Make({"x\x80", "y\xFF", "z\xF0\x90\x82\x80", "tr\xC3\xA9", "\xE4\xB8\xAD\xE6\x96\x87", "d\x80/",
          "d\x80/f"});
    EXPECT_EQ(DeleteFileDoNotFollowSymlinks((W("tr") + u"\u00E9").c_str()), FALSE);
    EXPECT_EQ(DeleteFile((W("d") + u"\xDC80/..").c_str()), FALSE);
    EXPECT_TRUE(Has("tr\xC3\xA9") && Has("d\x80/f"));
    for (const std::u16string& path :
         {W("x") + u"\xDC80", W("y") + u"\xDCFF", W("z") + u"\U00010080", W("tr") + u"\u00E9",
          W("d") + u"\xDC80/f", W("d") + u"\xDC80"})
        EXPECT_EQ(DeleteFile(US(path)), TRUE);
    char saved[4096];
    ASSERT_NE(getcwd(saved, sizeof saved), nullptr);
    ASSERT_EQ(chdir(root_.c_str()), 0);
    const BOOL relative = DeleteFile(u"\u4E2D\u6587");
    ASSERT_EQ(chdir(saved), 0);
    EXPECT_EQ(relative, TRUE);
    EXPECT_EQ(Fingerprint(root_).find('\n'), Fingerprint(root_).size() - 1) << "all gone";
}

// Locks are this layer's to clear, except on a file with other names: those lie outside
// the deletion and would show the change, so the deletion fails there. RemoveDirectory
// leaves a locked folder as it is.
TEST_F(FileSystemTest, LockedEntriesAreUnlockedUnlessTheyHaveOtherNames) {
    if (!IsRoot())
        GTEST_SKIP() << "needs root";
    Make(kTree);
    Make({"lockedtop", "shared/", "shared/b", "lockedempty/"});
    ASSERT_EQ(link(P("shared/b").c_str(), P("outside").c_str()), 0);
    for (const char* path : {"tree/sub/b", "tree/sub/empty", "lockedtop", "outside", "lockedempty"})
        if (!SetImmutable(P(path), true))
            GTEST_SKIP() << "this file system has no immutable flag";
    EXPECT_EQ(DeleteFile(W("tree").c_str()), TRUE);
    EXPECT_EQ(DeleteFileDoNotFollowSymlinks(W("lockedtop").c_str()), TRUE);
    EXPECT_EQ(DeleteFile(W("shared").c_str()), FALSE);
    EXPECT_EQ(DeleteFileDoNotFollowSymlinks(W("shared").c_str()), FALSE);
    const FSRef shared = RefOf(P("shared"));
    EXPECT_EQ(FSDeleteObjects(&shared), permErr) << "the first failing status";
    EXPECT_EQ(RemoveDirectory(W("lockedempty").c_str()), FALSE);
    EXPECT_TRUE(!Has("tree") && !Has("lockedtop") && Has("shared/b") && IsDir(P("lockedempty")));
    EXPECT_TRUE(IsImmutable(P("outside")));
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
    EXPECT_TRUE(Has("shared/b"));
}

// RemoveDirectory takes only an empty folder, not a link to one; CreateDirectory is
// content with anything already there.
TEST_F(FileSystemTest, RemoveAndCreateDirectory) {
    Make({"file", "full/", "full/one", "empty/", "link->empty"});
    for (const char* path : {"file", "full", "missing", "link"})
        EXPECT_EQ(RemoveDirectory(W(path).c_str()), FALSE) << path;
    EXPECT_EQ(RemoveDirectory(US(W("empty"))), TRUE);
    EXPECT_EQ(CreateDirectory(US(W("new")), nullptr) + CreateDirectory(W("file").c_str(), nullptr),
              2);
    EXPECT_EQ(CreateDirectory(W("a/b").c_str(), nullptr) +
                  CreateDirectory(static_cast<const char16_t*>(nullptr), nullptr),
              FALSE);
    EXPECT_TRUE(!Has("empty") && Has("full/one") && IsLink(P("link")) && IsDir(P("new")) &&
                Read("file") == "x" && !Has("a"));
}

// GetFileAttributes before, SetFileAttributes with `set`, the mode after. On the way to a
// deletion a link has no attributes of its own and a file with other names keeps what
// those names show; elsewhere the link leads to its target.
TEST_F(FileSystemTest, AttributesFromAndToTheWriteBits) {
    const struct {
        const char* name;
        mode_t before;
        DWORD got, set;
        mode_t after;
    } rows[] = {{"f444", 0444, 0x01, 0x80, 0664},  {"f002", 0002, 0x80, 0x10, 0002},
                {"f666", 0666, 0x80, 0x01, 0444},  {"f640", 0640, 0x80, 0x21, 0440},
                {"d555/", 0555, 0x11, 0x80, 0775}, {"d755/", 0755, 0x10, 0x80, 0755},
                {"d700/", 0700, 0x10, 0x11, 0500}};
    for (const auto& r : rows) {
        Make({r.name});
        chmod(P(r.name).c_str(), r.before);
        EXPECT_EQ(GetFileAttributes(US(W(r.name))), r.got) << r.name;
        EXPECT_EQ(SetFileAttributes(US(W(r.name)), r.set), TRUE) << r.name;
        EXPECT_EQ(ModeOf(P(r.name)) + 01000 * IsDir(P(r.name)),
                  r.after + 01000 * (r.name[0] == 'd'));
    }
    EXPECT_EQ(GetFileAttributes(W("missing").c_str()) +
                  SetFileAttributes(W("missing").c_str(), 0x80),
              INVALID_FILE_ATTRIBUTES);
    Make({"target", "shared", "plain", "link->target"});
    link(P("shared").c_str(), P("other").c_str());
    for (const char* name : {"target", "shared", "plain"})
        chmod(P(name).c_str(), 0444);
    {
        orvik::fm::EntryScope scope;
        for (const char* name : {"link", "shared", "plain"})
            EXPECT_EQ(SetFileAttributes(W(name).c_str(), 0x80), TRUE) << name;
    }
    EXPECT_EQ(ModeOf(P("target")) * 01000000 + ModeOf(P("shared")) * 01000 + ModeOf(P("plain")),
              0444444664u);
    EXPECT_EQ(SetFileAttributes(W("link").c_str(), 0x80), TRUE);
    EXPECT_EQ(ModeOf(P("target")), 0664u);
}

// The temporary folder ends in '/' and is cut to the buffer. A temporary name takes the
// first number from `first` on whose name is free (a dangling link takes its name too);
// nothing is created. 0 on failure, and for a free name numbered 0.
TEST_F(FileSystemTest, TempPathAndTempFileNames) {
    ScopedEnv tmpdir("TMPDIR", root_.c_str());
    const std::u16string expected = U(root_) + u"/";
    for (DWORD length : {DWORD(expected.size()), DWORD(expected.size() - 1)}) {
        std::u16string buffer(300, u'#');
        EXPECT_EQ(GetTempPath(length, reinterpret_cast<unsigned short*>(buffer.data())),
                  expected.size());
        EXPECT_EQ(buffer.substr(0, length + 2), expected.substr(0, length) + u'\0' + u'#');
    }
    EXPECT_EQ(GetTempPath(0, static_cast<char16_t*>(nullptr)), expected.size());
    Make({"abc7", "7", "8->nowhere"});
    const struct {
        const char16_t* prefix;
        UINT first, result;
        const char* name;
    } rows[] = {{u"abcd", 7, 8, "abc8"}, {nullptr, 7, 9, "9"}, {u"z", 0, 0, "z0"}};
    for (const auto& r : rows) {
        std::u16string out(300, u'#');
        EXPECT_EQ(GetTempFileName(U(root_).c_str(), r.prefix, r.first, out.data()), r.result);
        EXPECT_EQ(out.substr(0, W(r.name).size() + 2), W(r.name) + u'\0' + u'#');
    }
    EXPECT_FALSE(Has("abc8") || Has("9")) << "nothing is created";
    std::u16string out(300, u'#');
    EXPECT_EQ(GetTempFileName(US(u""), US(u"z"), 1, reinterpret_cast<unsigned short*>(out.data())) +
                  GetTempFileName(nullptr, u"z", 1, out.data()) +
                  GetTempFileName(U(root_).c_str(), u"z", 1, nullptr),
              0u);
    EXPECT_EQ(out[0], u'#');
}

TEST(FindData, SearchesFindNothingAndTheRecordComesFromCatalogInformation) {
    _WIN32_FIND_DATA record;
    std::memset(&record, 0x5A, sizeof record);
    EXPECT_EQ(FindFirstFile(u"/tmp/*", &record), INVALID_HANDLE_VALUE);
    EXPECT_EQ(FindFirstFile(US(u"*"), &record), INVALID_HANDLE_VALUE);
    EXPECT_EQ(FindNextFile(nullptr, &record) * 2 + FindClose(nullptr), TRUE);
    InitW32FindDataFromCatalogInfo(nullptr, nullptr, &record);
    EXPECT_EQ(record.dwFileAttributes, 0x5A5A5A5Au) << "the record is left alone";
    FSCatalogInfo info{};
    info.createDate = {0x0001, 0x23456789, 0xFFFF};
    info.accessDate = {0x00AB, 0x00000010, 0};
    info.contentModDate = {0xFFFF, 0xFFFFFFFF, 1};
    info.dataPhysicalSize = 0x0000000500001000ULL;
    HFSUniStr255 name{3, {u'a', u'\u00E9', u'z'}};
    std::string attributes; // of a folder, a read-only file, a file only others may write
    for (UInt16 mode : {0x416D, 0x41ED, 0x8124, 0x8102}) {
        info.nodeFlags = (mode & 0x4000) != 0 ? kFSNodeIsDirectoryMask : 0;
        orvik::win32file::ModeOf(info) = mode;
        InitW32FindDataFromCatalogInfo(&info, &name, &record);
        attributes += std::to_string(record.dwFileAttributes) + " ";
    }
    EXPECT_EQ(attributes, "17 16 1 128 ");
    // The record's words in order: attributes, three dates (low, high), size (high, low),
    // the two reserved words, which keep the fill.
    std::vector<DWORD> words(11);
    std::memcpy(words.data(), &record, 11 * sizeof(DWORD));
    EXPECT_EQ(words, (std::vector<DWORD>{0x80, 0x23456789, 1, 0x10, 0xAB, 0xFFFFFFFF, 0xFFFF, 5,
                                         0x1000, 0x5A5A5A5A, 0x5A5A5A5A}));
    EXPECT_EQ(std::u16string(record.cFileName, 4) + record.cAlternateFileName[0],
              std::u16string(u"a\u00E9z\0\0", 5));
    InitW32FindDataFromCatalogInfo(&info, nullptr, &record);
    EXPECT_EQ(record.cFileName[0], 0);
}

} // namespace
