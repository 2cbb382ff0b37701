// The file layer: path strings, references from paths, handles, whole-file operations,
// copying and moving. Each test gets a fresh temporary folder; paths in it as the functions under
// test take them (W) and as POSIX takes them (P); set-up and checks are plain POSIX, so that a
// fault in the code under test cannot hide behind a helper.
#include <sys/xattr.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tests/TestSupport.h"
#include "win32compat/FileCopy.h"
#include "win32compat/FileHandle.h"
#include "win32compat/FileSystem.h"
#include "win32compat/PathString.h"

namespace {

using namespace testsupport;

// Test paths are ASCII; a test spells any other character in 16 bits itself.
inline std::u16string U(const std::string& s) {
    return std::u16string(s.begin(), s.end());
}
// The 16-bit twin's view of a path.
inline const unsigned short* US(const char16_t* s) {
    return reinterpret_cast<const unsigned short*>(s);
}

class FileTest : public TempFolderTest {
protected:
    void TearDown() override {
        RemoveTree(other_);
        TempFolderTest::TearDown();
    }
    // Links "far" to a folder on another file system; false when there is none to use.
    bool Far() {
        struct stat shm, tmp;
        if (stat("/dev/shm", &shm) != 0 || stat(root_.c_str(), &tmp) != 0 ||
            shm.st_dev == tmp.st_dev)
            return false;
        other_ = MakeTempFolder("/dev/shm");
        return symlink(other_.c_str(), P("far").c_str()) == 0;
    }
    BOOL Copy(const std::string& from, const std::string& to, bool failIfExists = false) {
        return CopyFile(W(from).c_str(), W(to).c_str(), failIfExists);
    }
    BOOL Move(const std::string& from, const std::string& to) {
        return MoveFile(US(W(from).c_str()), US(W(to).c_str()));
    }
    std::string P(const std::string& rel) const { return Path(rel); }
    std::u16string W(const std::string& rel) const { return U(Path(rel)); }
    // Entries in order: "d/" a folder, "f=text" a file ("f" alone holds "x"), "l->t" a link
    // to t, taken as it is when it starts with '.' or '/', else inside the test folder.
    void Make(std::initializer_list<std::string> entries) const {
        for (const std::string& e : entries) {
            const size_t arrow = e.find("->"), eq = e.find('=');
            if (arrow != std::string::npos) {
                const std::string to = e.substr(arrow + 2);
                symlink((to[0] == '.' || to[0] == '/' ? to : P(to)).c_str(),
                        P(e.substr(0, arrow)).c_str());
            } else if (e.back() == '/') {
                mkdir(P(e).c_str(), 0755);
            } else {
                WriteFile(P(e.substr(0, eq)), eq == std::string::npos ? "x" : e.substr(eq + 1));
            }
        }
    }
    std::string Read(const std::string& rel) const { return ReadFile(Path(rel)); }
    bool Has(const std::string& rel) const { return Exists(Path(rel)); }
    // The reference of what the path names, its last link kept as itself.
    static FSRef RefOf(const std::string& path) {
        FSRef ref{};
        FSPathMakeRefWithOptions(reinterpret_cast<const UInt8*>(path.c_str()),
                                 kFSPathMakeRefDoNotFollowLeafSymlink, &ref, nullptr);
        return ref;
    }
    static bool Same(const FSRef& a, const FSRef& b) { return FSCompareFSRefs(&a, &b) == noErr; }
    std::string other_;
};

// Relative paths start at the working folder, so the rows run from inside the test folder.
TEST_F(FileTest, ResolutionCreationAndSplitting) {
    Make({"file=keep", "link->file", "dangling->target", "dir/"});
    const std::u16string longest(255, u'n');
    const struct {
        std::u16string path;
        bool create, folder;
        OSErr status;
        const char* refersTo; // what the reference names afterwards; null: not checked
    } rows[] = {{W("link"), false, false, noErr, "file"}, // the last link is followed
                {W("missing"), false, false, fnfErr, nullptr},
                {u"file", false, false, noErr, "file"},
                {W("nodir/new"), true, false, fnfErr, nullptr},
                {u"dir/new", true, false, noErr, "dir/new"},
                {W("newdir"), true, true, noErr, "newdir"},
                {W("file"), true, true, noErr, "file"}, // found as it is, whatever `folder` says
                {W("dangling"), true, false, noErr, nullptr}}; // a link in the last place exists
    ASSERT_EQ(chdir(root_.c_str()), 0);
    for (const auto& r : rows) {
        FSRef ref{};
        EXPECT_EQ(GetFSRefFromFilename(US(r.path.c_str()), &ref, r.create, r.folder), r.status);
        EXPECT_TRUE(r.refersTo == nullptr || Same(ref, RefOf(P(r.refersTo)))) << r.refersTo;
    }
    // The parent is always "dir"; the name is written only on success.
    const auto split = [&](const std::u16string& path, OSErr status) {
        FSRef parent{};
        HFSUniStr255 name;
        name.length = 0x7777;
        EXPECT_EQ(GetParentFSRAndNameFromFilePath(US(path.c_str()), &parent, &name), status);
        EXPECT_TRUE(status != noErr || Same(parent, RefOf(P("dir"))));
        return name.length == 0x7777 ? u"-" : std::u16string(name.unicode, name.length);
    };
    EXPECT_EQ(split(u"dir/child", noErr), u"child");
    EXPECT_EQ(split(W("dir/") + longest, noErr), longest);
    EXPECT_EQ(split(W("dir/") + longest + u"n", fnfErr), u"-");
    ASSERT_EQ(chdir("/"), 0);
    EXPECT_EQ(Read("file") + Read("dir/new"), "keep");
    EXPECT_TRUE(IsDir(P("newdir")) && !Has("nodir") && !Has("target"));
    FSRef ref;
    HFSUniStr255 name;
    const char16_t* none = nullptr;
    EXPECT_EQ(GetFSRefFromFilename(none, &ref, true, false) +
                  GetParentFSRAndNameFromFilePath(none, &ref, &name) +
                  GetParentFSRAndNameFromFilePath(u"dir/x", &ref, nullptr),
              3 * fnfErr);
}

// One row per outcome: opened or not, there afterwards, the first byte read ('-': the
// read failed), written or not. A share mode of 0 adds a deny mode, which leaves reading
// and writing open; no disposition truncates.
TEST_F(FileTest, DispositionsAndAccessModes) {
    const struct {
        const char* name;
        DWORD access, share, disposition;
        const char* outcome;
    } rows[] = {{"ten", 0, 1, 1, "shut there"}, // CREATE_NEW on an existing file
                {"new1", 0, 1, 1, "open there - written"},
                {"ten", 8, 1, 2, "open there 0 -"}, // CREATE_ALWAYS opens what is there
                {"new0", 0x14, 1, 0, "open there - written"},
                {"missing", 0, 1, 3, "shut gone"}, // OPEN_EXISTING never creates
                {"ten", 8, 0, 3, "open there 0 written"},
                {"ten", 0x14, 0, 3, "open there 0 written"}};
    for (const auto& r : rows) {
        WriteFile(P("ten"), "0123456789");
        HANDLE h =
            CreateFile(W(r.name).c_str(), r.access, r.share, nullptr, r.disposition, 0, nullptr);
        std::string outcome = std::string(h != INVALID_HANDLE_VALUE ? "open" : "shut") +
                              (Has(r.name) ? " there" : " gone");
        char byte = '-';
        if (h != INVALID_HANDLE_VALUE) {
            outcome += ReadFile(h, &byte, 1, nullptr, nullptr) ? std::string(" ") + byte : " -";
            outcome += WriteFile(h, "A", 1, nullptr, nullptr) ? " written" : " -";
            EXPECT_EQ(CloseHandle(h), TRUE);
        }
        EXPECT_EQ(outcome, r.outcome) << r.name << " " << r.access << " " << r.share;
    }
}

TEST_F(FileTest, PositionsReadsAndWrites) {
    WriteFile(P("ten"), "0123456789");
    HANDLE h = CreateFile(US(W("ten").c_str()), 0, 1, nullptr, 3, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    // From the end, by an unknown method (nothing moves), from here, from the start.
    const LONG moves[][2] = {{-4, 2}, {0, 3}, {-2, 1}, {-1, 0}, {3, 0}};
    std::string at;
    for (const auto& m : moves)
        at += std::to_string(SetFilePointer(h, m[0], nullptr, DWORD(m[1]))) + " ";
    EXPECT_EQ(at, "6 6 4 4294967295 3 ");
    // "result/count moved" of one transfer.
    const auto transfer = [h](auto function, auto data, DWORD count) {
        DWORD done = 7;
        const BOOL ok = function(h, data, count, &done, nullptr);
        return std::to_string(ok) + "/" + std::to_string(done) + " ";
    };
    char buffer[100];
    std::memset(buffer, '#', sizeof buffer);
    const std::string first = transfer(::ReadFile, buffer, 4);
    EXPECT_EQ(first + std::string(buffer, 5), "1/4 3456#");
    // Nothing asked needs no buffer; without one nothing moves.
    EXPECT_EQ(transfer(::ReadFile, nullptr, 0) + transfer(::ReadFile, nullptr, 4) +
                  transfer(::WriteFile, nullptr, 1) + transfer(::WriteFile, "ABXYZW", 6),
              "1/0 0/0 0/0 1/6 ");
    EXPECT_EQ(GetFileSize(h, nullptr), 13u);
    // 100 bytes asked 3 before the end: FALSE, with the 3 reported.
    EXPECT_EQ(SetFilePointer(h, 10, nullptr, 0), 10u);
    const std::string last = transfer(::ReadFile, buffer, 100);
    EXPECT_EQ(last + std::string(buffer, 4), "0/3 YZW6");
    EXPECT_EQ(CloseHandle(h), TRUE);
    EXPECT_EQ(Read("ten"), "0123456ABXYZW");
    // A null handle does nothing and gives 0; INVALID_HANDLE_VALUE gives the failure value.
    DWORD done = 7;
    for (HANDLE bad : {static_cast<HANDLE>(nullptr), INVALID_HANDLE_VALUE})
        EXPECT_EQ(ReadFile(bad, buffer, 4, &done, nullptr) +
                      WriteFile(bad, buffer, 4, &done, nullptr) + GetFileSize(bad, nullptr) +
                      CloseHandle(bad) + done,
                  7u);
    EXPECT_EQ(SetFilePointer(nullptr, 1, nullptr, 0), 0u);
    EXPECT_EQ(SetFilePointer(INVALID_HANDLE_VALUE, 1, nullptr, 0), INVALID_SET_FILE_POINTER);
    EXPECT_EQ(CreateFile(static_cast<const char16_t*>(nullptr), 0, 1, nullptr, 2, 0, nullptr),
              INVALID_HANDLE_VALUE);
    const int fd = open(P("ten").c_str(), O_RDONLY);
    EXPECT_EQ(filelength(fd) + filelength(-1), 12);
    close(fd);
}

TEST_F(FileTest, OneHandleSharedByThreadsNeverInterleavesRecords) {
    HANDLE h = CreateFile(W("log").c_str(), 0, 1, nullptr, 2, 0, nullptr);
    auto writer = [h](char tag) {
        for (int i = 0; i < 200; ++i)
            WriteFile(h, std::string(16, tag).data(), 16, nullptr, nullptr);
    };
    std::thread a(writer, 'a'), b(writer, 'b');
    a.join();
    b.join();
    EXPECT_EQ(CloseHandle(h), TRUE);
    const std::string content = Read("log");
    ASSERT_EQ(content.size(), 2u * 200 * 16);
    for (size_t i = 0; i < content.size(); i += 16)
        ASSERT_EQ(content.substr(i, 16), std::string(16, content[i])) << "record at " << i;
}

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
        {"f666", 0666, 0x80, 0x01, 0444},  {"f640", 0640, 0x80, 0x21, 0440},
        {"d555/", 0555, 0x11, 0x80, 0775}, {"d755/", 0755, 0x10, 0x80, 0755},
        {"d700/", 0700, 0x10, 0x11, 0500}};
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
    EXPECT_EQ(FindFirstFile(US(u"*"), &record), FindFirstFile(u"*", &record));
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

// The data goes over in reads of at most the buffer's size; an empty file needs no buffer,
// and without one nothing else is copied and no partial copy stays. The copy keeps the
// source's permissions and named forks.
TEST_F(FileTest, CopiesDataInChunksAndKeepsWhatTheSourceCarries) {
    const std::string data = "0123456789" + std::string(1991, 'd');
    const uint64_t rows[][3] = {{1000, 2001, 1}, {0, 0, 1}, {0, 1, 0}, {UINT64_MAX, 1, 0}};
    for (const auto& [buffer, size, result] : rows) {
        const std::string name = std::to_string(buffer) + "_" + std::to_string(size);
        WriteFile(P(name), data.substr(0, size), 0604);
        g_copyBufferSize = buffer;
        const BOOL copied = Copy(name, "c" + name, true);
        EXPECT_EQ(std::to_string(copied) + (Has("c" + name) ? Read("c" + name) : "-"),
                  result ? "1" + data.substr(0, size) : "0-");
    }
    g_copyBufferSize = 0x40000;
    char value[8] = {};
    if (setxattr(P("1000_2001").c_str(), "user.note", "hello", 5, 0) != 0)
        GTEST_SKIP() << "no named forks here";
    EXPECT_EQ(Copy("1000_2001", "dst"), TRUE);
    EXPECT_EQ(getxattr(P("dst").c_str(), "user.note", value, 8), 5);
    EXPECT_EQ(value + std::to_string(ModeOf(P("dst"))), "hello" + std::to_string(0604));
}

// Refusals change nothing, above all not a second spelling of the source; a replacement
// takes the entry at the name, an empty folder or a link (never what it points to).
TEST_F(FileTest, CopyRefusalsAndReplacements) {
    Make({"src=source", "dst=dest", "other=untouched", "full/", "full/x", "srcdir/", "empty/", "a/",
          "a/f=only copy", "a/soft->a/f", "tolink->other"});
    ASSERT_EQ(link(P("a/f").c_str(), P("a/hard").c_str()), 0);
    const std::string before = Fingerprint(root_);
    for (const auto& [from, to] : {std::pair{"missing", "new"},
                                   {"src", "nodir/new"},
                                   {"srcdir", "new"},
                                   {"src", "full"},
                                   {"a/f", "a/./f"},
                                   {"a/f", "a/hard"},
                                   {"a/soft", "a/f"}})
        EXPECT_EQ(Copy(from, to), FALSE) << from << " " << to;
    EXPECT_EQ(Copy("src", "dst", true) + CopyFile(nullptr, W("src").c_str(), false) +
                  CopyFile(W("src").c_str(), static_cast<const char16_t*>(nullptr), false),
              FALSE);
    EXPECT_EQ(Fingerprint(root_), before);
    for (const char* to : {"dst", "empty", "tolink"}) {
        EXPECT_EQ(Copy("src", to), TRUE) << to;
        EXPECT_EQ(std::to_string(IsLink(P(to))) + Read(to), "0source") << to;
    }
}

// Inside one volume a move exchanges the data with a fresh file at the new name; across
// volumes it copies, then deletes, and into a folder (with or without a trailing
// separator) replaces a file of the same name.
TEST_F(FileTest, MoveFile) {
    Make({"src=payload", "other=other", "folder/", "d1/"});
    // From, to, the result, what is gone then and where the payload is.
    const char* rows[][5] = {{"src", "moved", "1", "src", "moved"},
                             {"moved", "moved", "1", "none", "moved"},
                             {"moved", "other", "0", "none", "moved"},
                             {"moved", "newdir/", "0", "newdir", "moved"},
                             {"moved", "folder", "1", "moved", "folder/moved"},
                             {"folder/moved", "d1/g", "1", "folder/moved", "d1/g"}};
    for (const auto& r : rows) {
        EXPECT_EQ(Move(r[0], r[1]), r[2][0] - '0') << r[0] << " -> " << r[1];
        EXPECT_EQ(std::to_string(Has(r[3])) + Read(r[4]), "0payload") << r[1];
    }
    EXPECT_EQ(MoveFile(nullptr, W("x").c_str()), FALSE);
    if (!Far())
        GTEST_SKIP() << "no second file system";
    Make({"into=into", "far/folder/"});
    EXPECT_EQ(Move("d1/g", "far/dst") + Move("into", "far/folder"), 2);
    WriteFile(P("into"), "second");
    EXPECT_EQ(Move("into", "far/folder/"), TRUE);
    EXPECT_EQ(Read("far/folder/into") + Read("far/dst"), "secondpayload");
    EXPECT_FALSE(Has("d1/g") || Has("into"));
}

// Both exchanges swap the data, keep modes with the names, give references to what now
// lies at each name and leave no temporary name behind, their temporary names counting
// past names taken in either folder.
TEST_F(FileTest, ExchangeSwapsDataAndKeepsMetadataWithTheNames) {
    Make({"d1/", "d2/", "f", "d2/586E717A", "d1/586E717B"});
    const std::string names = Fingerprint(P("d1")) + Fingerprint(P("d2"));
    for (auto exchange : {&FSExchangeObjectsCompat, &FSExchangeObjectsEmulated}) {
        for (const std::string second : {"d1/b", "d2/b"}) {
            Make({"d1/a=AAAA", second + "=bb"});
            chmod(P("d1/a").c_str(), 0600);
            const FSRef a = RefOf(P("d1/a")), b = RefOf(P(second));
            FSRef newA, newB;
            ASSERT_EQ(exchange(&a, &b, &newA, &newB), noErr);
            EXPECT_EQ(Read("d1/a") + Read(second) + std::to_string(ModeOf(P("d1/a"))) + " " +
                          std::to_string(ModeOf(P(second))),
                      "bbAAAA" + std::to_string(0600) + " " + std::to_string(0644));
            EXPECT_TRUE(Same(newA, RefOf(P("d1/a"))) && Same(newB, RefOf(P(second)))) << second;
            unlink(P("d1/a").c_str());
            unlink(P(second).c_str());
            EXPECT_EQ(Fingerprint(P("d1")) + Fingerprint(P("d2")), names);
        }
    }
    const FSRef file = RefOf(P("f")), folder = RefOf(P("d1"));
    FSRef x, y;
    uint32_t seed = 0;
    HFSUniStr255 name;
    EXPECT_EQ(FSExchangeObjectsEmulated(&file, &folder, &x, &y), notAFileErr);
    EXPECT_EQ(FSExchangeObjectsCompat(&file, &file, nullptr, &y) +
                  FSExchangeObjectsEmulated(&file, &file, &x, nullptr) +
                  GenerateUniqueHFSUniStr(&seed, &folder, nullptr, &name),
              3 * paramErr);
}

// The exchange asks the volume's parameters by the number the catalog gave it. The table
// answers for every number it gave out and for no other: a file system seen for the first
// time takes the next number, and the number after that is unknown.
TEST_F(FileTest, VolumeParametersOnlyForNumbersGivenOut) {
    Make({"mnt/"});
    const int status = !IsRoot() ? 77 : InPrivateMountNamespace([&] {
        FSCatalogInfo info;
        FSRef ref;
        if (mount("tmpfs", P("mnt").c_str(), "tmpfs", 0, "size=1m") != 0 ||
            (ref = RefOf(P("mnt")),
             FSGetCatalogInfo(&ref, kFSCatInfoVolume, &info, nullptr, nullptr, nullptr)) != noErr)
            return 77;
        const auto at = [&](int volume) {
            GetVolParmsInfoBuffer parms;
            ByteCount size = 0;
            return FSGetVolParms(FSVolumeRefNum(volume), sizeof parms, &parms, &size);
        };
        return (at(info.volume) != noErr) + 2 * (at(info.volume - 1) != nsvErr) +
               4 * (at(-100) != noErr) + 8 * (at(-99) != nsvErr);
    });
    if (status == 77)
        GTEST_SKIP() << "needs root and a private tmpfs";
    EXPECT_EQ(status, 0);
}

// The 16-bit twins forward to the char16_t functions, so the tables go through the twins
// and reach both; the helpers the twins do not share are called once each.
// A 300-unit buffer filled with a sentinel beyond the text, to see what a call writes.
struct Buffer {
    explicit Buffer(const std::u16string& text) : units(text + u'\0') { units.resize(300, u'#'); }
    unsigned short* us() { return reinterpret_cast<unsigned short*>(units.data()); }
    std::u16string str() const { return units.c_str(); }
    std::u16string units;
};

// PathRenameExtension writes `ext` after the dot; `renamed` empty: FALSE, the path
// untouched. With the dot at index 240, 240 + 18 + 2 = 260 fits, one unit more does not.
TEST(PathString, Extensions) {
    const std::u16string base = std::u16string(240, u'a') + u".x", e18(18, u'e');
    const struct {
        std::u16string path, ext, renamed;
        int index;
    } rows[] = {{u"a.b/c", u"doc", u"", -1},         {u"a/b.c.d", u"doc", u"a/b.c.doc", 5},
                {u".profile", u"doc", u".doc", 0},   {u"noext", u"doc", u"", -1},
                {u"a\\b.c", u"doc", u"a\\b.doc", 3}, {base, e18, base.substr(0, 241) + e18, 240},
                {base, e18 + u"e", u"", 240}};
    for (const auto& r : rows) {
        Buffer b(r.path), renamed(r.path);
        EXPECT_EQ(GetExtensionIndex(r.path.c_str()), r.index) << r.index;
        EXPECT_EQ(PathFindExtension(b.us()), r.index < 0 ? nullptr : b.us() + r.index);
        PathRemoveExtension(b.units.data());
        EXPECT_EQ(b.str(), r.path.substr(0, r.index < 0 ? 999 : r.index));
        EXPECT_EQ(PathRenameExtension(renamed.us(), US(r.ext.c_str())),
                  r.renamed.empty() ? FALSE : TRUE);
        EXPECT_EQ(renamed.str(), r.renamed.empty() ? r.path : r.renamed);
    }
    Buffer twin(u"a/b.c");
    PathRemoveExtension(twin.us());
    char narrow[] = "a/b.c";
    PathRemoveExtensionA(narrow);
    EXPECT_EQ(twin.str() + u" " + U(narrow), u"a/b a/b");
    EXPECT_EQ(GetExtensionIndex(US(u"x.y")) * 10 + GetExtensionIndexA("x/y.z"), 13);
    EXPECT_EQ(PathRenameExtension(twin.us(), US(u"d")), FALSE);
    EXPECT_EQ(PathRenameExtension(Buffer(u"f.txt").units.data(), nullptr), TRUE);
}

TEST(PathString, SeparatorsAndLastComponent) {
    // PathAddBackslash, PathRemoveBackslash (its end at trimmedEnd), PathFindFileName's
    // offset, PathRemoveFileSpec (null: FALSE).
    const std::tuple<const char16_t*, const char16_t*, const char16_t*, int, int, const char16_t*>
        rows[] = {{u"a//", u"a//", u"a", 1, 0, u"a"},
                  {u"/", u"/", u"/", 1, 1, u"/"},
                  {u"", u"/", u"", 0, 0, nullptr},
                  {u"abc", u"abc/", u"abc", 3, 0, u""},
                  {u"a/b/", u"a/b/", u"a/b", 3, 2, u"a/b"},
                  {u"/abc", u"/abc/", u"/abc", 4, 1, u""},
                  {u"a/b/c", u"a/b/c/", u"a/b/c", 5, 4, u"a/b"}};
    for (const auto& [in, added, trimmed, trimmedEnd, fileName, parent] : rows) {
        Buffer add(in), trim(in), cut(in);
        EXPECT_EQ(PathAddBackslash(add.us()), add.us());
        EXPECT_EQ(add.units.substr(0, add.str().size() + 2), added + std::u16string(u"\0#", 2));
        EXPECT_EQ(PathRemoveBackslash(trim.us()), trim.us() + trimmedEnd);
        EXPECT_EQ(trim.str(), trimmed);
        EXPECT_EQ(PathFindFileName(US(in)), US(in) + fileName);
        EXPECT_EQ(PathRemoveFileSpec(cut.us()), parent != nullptr ? TRUE : FALSE);
        EXPECT_EQ(cut.str(), parent != nullptr ? parent : in);
    }
}

TEST(PathString, AppendJoinsWithOneSeparatorAndStopsAt260) {
    // Path, what is appended, the result (empty: refused, the path unchanged).
    const std::tuple<std::u16string, std::u16string, std::u16string> rows[] = {
        {u"dir", u"sub", u"dir/sub"},
        {u"dir/", u"sub", u"dir/sub"},
        {u"dir", u"/sub", u"dir/sub"},
        {u"", u"sub", u"sub"},
        {std::u16string(260, u'p'), u"x", u""},
        // 259 units: the separator takes index 259, the zero index 260, nothing of `more`.
        {std::u16string(259, u'p'), u"xyz", std::u16string(259, u'p') + u"/"},
        {std::u16string(250, u'p'), std::u16string(40, u'm'),
         std::u16string(250, u'p') + u"/" + std::u16string(9, u'm')}};
    for (const auto& [path, more, out] : rows) {
        Buffer b(path);
        EXPECT_EQ(PathAppend(b.us(), US(more.c_str())), out.empty() ? FALSE : TRUE);
        EXPECT_EQ(b.str(), out.empty() ? path : out) << path.size();
        EXPECT_EQ(b.units[261], u'#');
    }
    Buffer b(u"dir");
    EXPECT_EQ(PathAppend(b.us(), nullptr), TRUE);
    EXPECT_EQ(b.str(), u"dir/");
}

// Folded in place, as callers may do; the scratch never reaches beyond the input's zero.
TEST(PathString, CanonicalizeFoldsDotsAndNullPathsAreRefused) {
    const char16_t* rows[][2] = {
        {u"a/./b", u"a/b"},   {u"a/b/..", u"a"},    {u"a/../b", u"b"},
        {u"a//../b", u"a/b"}, {u"a/b/", u"a/b/"},   {u"../a", u"../a"},
        {u"a/..", u""},       {u"a./.b", u"a./.b"}, {u"/a/b/./../c/", u"/a/c/"}};
    for (const auto& [in, out] : rows) {
        Buffer b(in);
        EXPECT_EQ(PathCanonicalize(b.us(), b.us()), TRUE);
        EXPECT_EQ(b.str(), out);
        EXPECT_EQ(b.units[std::u16string(in).size() + 1], u'#');
    }
    // Empty and null paths are refused, and nothing is written.
    const char16_t* none = nullptr;
    char16_t* out = nullptr;
    Buffer b(u"keep");
    EXPECT_EQ(GetExtensionIndex(none) + GetExtensionIndexA(nullptr) + PathIsExe(none), -3);
    EXPECT_EQ(PathRenameExtension(out, u"x") + PathRemoveFileSpec(out) + PathAppend(out, u"x") +
                  PathCanonicalize(out, u"x") + PathCanonicalize(b.us(), nullptr) +
                  PathCanonicalize(b.us(), US(u"")) + PathFileExists(none) + PathIsDirectory(none),
              FALSE);
    EXPECT_EQ(b.str(), u"keep");
}

} // namespace
