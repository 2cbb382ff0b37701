#include "win32compat/FileHandle.h"

#include <dirent.h>

#include <cstring>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "FileTestSupport.h"

namespace {

using namespace filetest;

class FileHandleTest : public filetest::TempDirTest {};

// Descriptors this process holds open on `path` itself (the file manager's folder pool
// aside), so that a handle's fork is seen to be released.
int DescriptorsOpenOn(const std::string& path) {
    int count = 0;
    DIR* d = opendir("/proc/self/fd");
    while (const dirent* entry = d != nullptr ? readdir(d) : nullptr) {
        char target[4096];
        const std::string link = std::string("/proc/self/fd/") + entry->d_name;
        const ssize_t n = readlink(link.c_str(), target, sizeof target - 1);
        count += n > 0 && std::string(target, static_cast<size_t>(n)) == path ? 1 : 0;
    }
    if (d != nullptr)
        closedir(d);
    return count;
}

TEST_F(FileHandleTest, ResolutionAndCreationOfTheLastComponent) {
    File("file", "keep");
    symlink(P("file").c_str(), P("link").c_str());
    symlink(P("target").c_str(), P("dangling").c_str());
    struct Row {
        const char* path;
        bool create, folder;
        OSErr status;
        const char* refersTo; // what the reference names afterwards; null: not checked
    } rows[] = {{"file", false, false, noErr, "file"},
                {"link", false, false, noErr, "file"}, // the last link is followed
                {"missing", false, false, fnfErr, nullptr},
                {"nodir/new", true, false, fnfErr, nullptr},
                {"newfile", true, false, noErr, "newfile"},
                {"newdir", true, true, noErr, "newdir"},
                {"file", true, true, noErr, "file"}, // found as it is, whatever `folder` says
                {"dangling", true, false, noErr, nullptr}}; // a link in the last place exists
    for (const Row& r : rows) {
        SCOPED_TRACE(r.path);
        FSRef ref{};
        const std::u16string path = W(r.path);
        EXPECT_EQ(GetFSRefFromFilename(reinterpret_cast<const unsigned short*>(path.c_str()), &ref,
                                       r.create, r.folder),
                  r.status);
        if (r.refersTo != nullptr) {
            EXPECT_TRUE(Same(ref, RefOf(P(r.refersTo))));
        }
    }
    EXPECT_EQ(Read("file"), "keep");
    EXPECT_EQ(Read("newfile"), "");
    EXPECT_TRUE(filetest::IsDir(P("newdir")));
    EXPECT_FALSE(Has("nodir"));
    EXPECT_FALSE(Has("target"));
    FSRef ref;
    EXPECT_EQ(GetFSRefFromFilename(u"", &ref, false, false), fnfErr);
    EXPECT_EQ(GetFSRefFromFilename(static_cast<const char16_t*>(nullptr), &ref, true, false),
              fnfErr);
    EXPECT_EQ(GetFSRefFromFilename(u"/", nullptr, false, false), fnfErr);
}

TEST_F(FileHandleTest, RelativePathsStartAtTheWorkingFolder) {
    char saved[4096];
    ASSERT_NE(getcwd(saved, sizeof saved), nullptr);
    ASSERT_EQ(chdir(root_.c_str()), 0);
    Dir("sub");
    FSRef ref, parent;
    HFSUniStr255 name;
    const OSErr created = GetFSRefFromFilename(u"sub/made", &ref, true, true);
    const OSErr found = GetFSRefFromFilename(u"sub/made", &ref, false, false);
    const OSErr split = GetParentFSRAndNameFromFilePath(u"plain", &parent, &name);
    ASSERT_EQ(chdir(saved), 0);
    EXPECT_EQ(created, noErr);
    EXPECT_EQ(found, noErr);
    EXPECT_TRUE(Same(ref, RefOf(P("sub/made"))));
    ASSERT_EQ(split, noErr);
    EXPECT_TRUE(Same(parent, RefOf(root_)));
    EXPECT_EQ(std::u16string(name.unicode, name.unicode + name.length), u"plain");
}

TEST_F(FileHandleTest, ParentAndNameSplitsThePathUpTo255Units) {
    Dir("dir");
    const std::u16string longest = std::u16string(255, u'n');
    struct Row {
        std::u16string path;
        OSErr status;
        std::u16string name;
    } rows[] = {{W("dir/child"), noErr, u"child"},
                {W("dir/") + longest, noErr, longest},
                {W("dir/") + longest + u"n", fnfErr, u""}, // not overflowed
                {W("nodir/child"), fnfErr, u""}};
    for (const Row& r : rows) {
        FSRef parent{};
        HFSUniStr255 name;
        name.length = 0x7777;
        EXPECT_EQ(GetParentFSRAndNameFromFilePath(
                      reinterpret_cast<const unsigned short*>(r.path.c_str()), &parent, &name),
                  r.status);
        if (r.status != noErr) {
            EXPECT_EQ(name.length, 0x7777) << "the name is written only on success";
            continue;
        }
        EXPECT_TRUE(Same(parent, RefOf(P("dir"))));
        EXPECT_EQ(std::u16string(name.unicode, name.unicode + name.length), r.name);
    }
    FSRef parent;
    HFSUniStr255 name;
    EXPECT_EQ(
        GetParentFSRAndNameFromFilePath(static_cast<const char16_t*>(nullptr), &parent, &name),
        fnfErr);
    EXPECT_EQ(GetParentFSRAndNameFromFilePath(W("dir/x").c_str(), nullptr, &name), fnfErr);
    EXPECT_EQ(GetParentFSRAndNameFromFilePath(W("dir/x").c_str(), &parent, nullptr), fnfErr);
}

TEST_F(FileHandleTest, DispositionsAndAccessModes) {
    File("ten", "0123456789");
    Dir("folder");
    struct Row {
        const char* name;
        DWORD access, share, disposition;
        bool opens, existsAfter, reads, writes;
    } rows[] = {{"ten", 0, 1, 1, false, true, false, false}, // CREATE_NEW on an existing file
                {"new1", 0, 1, 1, true, true, false, true},  // created empty: nothing to read
                {"ten", 8, 1, 2, true, true, true, false},   // CREATE_ALWAYS opens, no truncation
                {"new2", 0x13, 1, 2, true, true, false, false},
                {"new0", 0x14, 1, 0, true, true, false, true},     // 0 creates like 2
                {"missing3", 0, 1, 3, false, false, false, false}, // OPEN_EXISTING never creates
                {"missing4", 0, 1, 4, false, false, false, false}, // nor does any other value
                {"ten", 0x13, 1, 3, true, true, true, false},
                // A share mode of 0 adds a deny mode, which leaves reading and writing open.
                {"ten", 8, 0, 3, true, true, true, true},
                {"ten", 0x14, 0, 3, true, true, true, true},
                {"ten", 0x14, 1, 3, true, true, false, true},
                {"ten", 0xC0000000u, 0, 3, true, true, true, true},
                {"nodir/x", 0, 1, 2, false, false, false, false},
                {"folder", 0, 1, 3, false, true, false, false}};
    for (const Row& r : rows) {
        SCOPED_TRACE(std::string(r.name) + " " + std::to_string(r.access) + " " +
                     std::to_string(r.share) + " " + std::to_string(r.disposition));
        HANDLE h =
            CreateFile(W(r.name).c_str(), r.access, r.share, nullptr, r.disposition, 0, nullptr);
        EXPECT_EQ(h != INVALID_HANDLE_VALUE, r.opens);
        EXPECT_EQ(Has(r.name), r.existsAfter);
        if (h == INVALID_HANDLE_VALUE)
            continue;
        EXPECT_EQ(static_cast<FileHandleRecord*>(h)->kind, kFileHandleKindFile);
        char byte = '#';
        EXPECT_EQ(ReadFile(h, &byte, 1, nullptr, nullptr), r.reads ? TRUE : FALSE);
        EXPECT_EQ(byte, r.reads ? '0' : '#') << "a new handle starts at 0";
        EXPECT_EQ(WriteFile(h, "A", 1, nullptr, nullptr), r.writes ? TRUE : FALSE);
        EXPECT_EQ(CloseHandle(h), TRUE);
        File("ten", "0123456789");
    }
}

TEST_F(FileHandleTest, PositionsReadsAndWrites) {
    File("ten", "0123456789");
    HANDLE h = CreateFile(W("ten").c_str(), 0, 1, nullptr, 3, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    LONG high = 0x5555;
    EXPECT_EQ(SetFilePointer(h, -4, &high, 2), 6u);
    EXPECT_EQ(high, 0x5555);
    EXPECT_EQ(SetFilePointer(h, 0, nullptr, 3), 6u) << "an unknown method moves nothing";
    EXPECT_EQ(SetFilePointer(h, -2, nullptr, 1), 4u);
    EXPECT_EQ(SetFilePointer(h, -1, nullptr, 0), INVALID_SET_FILE_POINTER);
    EXPECT_EQ(SetFilePointer(h, 3, nullptr, 0), 3u);

    char buffer[100];
    std::memset(buffer, '#', sizeof buffer);
    DWORD done = 12345;
    EXPECT_EQ(ReadFile(h, buffer, 4, &done, nullptr), TRUE);
    EXPECT_EQ(done, 4u);
    EXPECT_EQ(std::string(buffer, 5), "3456#");
    EXPECT_EQ(ReadFile(h, nullptr, 0, &done, nullptr), TRUE) << "nothing asked, nothing needed";
    EXPECT_EQ(done, 0u);
    done = 7;
    EXPECT_EQ(ReadFile(h, nullptr, 4, &done, nullptr), FALSE);
    EXPECT_EQ(done, 0u);
    done = 7;
    EXPECT_EQ(WriteFile(h, nullptr, 1, &done, nullptr), FALSE);
    EXPECT_EQ(done, 0u);
    EXPECT_EQ(WriteFile(h, "AB", 2, &done, nullptr), TRUE);
    EXPECT_EQ(done, 2u);
    EXPECT_EQ(GetFileSize(h, nullptr), 10u);
    EXPECT_EQ(WriteFile(h, "XYZW", 4, nullptr, nullptr), TRUE);
    EXPECT_EQ(GetFileSize(h, nullptr), 13u);
    // 100 bytes asked 3 before the end: FALSE, with the 3 reported.
    EXPECT_EQ(SetFilePointer(h, 10, nullptr, 0), 10u);
    EXPECT_EQ(ReadFile(h, buffer, 100, &done, nullptr), FALSE);
    EXPECT_EQ(done, 3u);
    EXPECT_EQ(std::string(buffer, 4), "YZW6");
    EXPECT_EQ(CloseHandle(h), TRUE);
    EXPECT_EQ(Read("ten"), "0123456ABXYZW");
}

TEST_F(FileHandleTest, SizesBeyond4GiBAreTakenModulo2To32) {
    const int fd = open(P("huge").c_str(), O_CREAT | O_WRONLY, 0644);
    ASSERT_GE(fd, 0);
    if (ftruncate(fd, (5LL << 30) + 7) != 0) { // sparse
        close(fd);
        GTEST_SKIP() << "the file system refuses a 5 GiB sparse file";
    }
    EXPECT_EQ(filelength(fd), (1 << 30) + 7);
    close(fd);
    EXPECT_EQ(filelength(-1), -1);
    HANDLE h = CreateFile(W("huge").c_str(), 8, 1, nullptr, 3, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    DWORD high = 0xABCD;
    EXPECT_EQ(GetFileSize(h, &high), (1u << 30) + 7);
    EXPECT_EQ(high, 0xABCDu);
    EXPECT_EQ(SetFilePointer(h, 0, nullptr, 2), (1u << 30) + 7);
    EXPECT_EQ(CloseHandle(h), TRUE);
}

TEST_F(FileHandleTest, NullAndInvalidHandlesAndTheForkRelease) {
    char buffer[4];
    DWORD done = 7;
    for (HANDLE bad : {static_cast<HANDLE>(nullptr), INVALID_HANDLE_VALUE}) {
        EXPECT_EQ(ReadFile(bad, buffer, 4, &done, nullptr), FALSE);
        EXPECT_EQ(WriteFile(bad, buffer, 4, &done, nullptr), FALSE);
        EXPECT_EQ(done, 7u);
        EXPECT_EQ(GetFileSize(bad, nullptr), 0u);
        EXPECT_EQ(CloseHandle(bad), FALSE);
    }
    EXPECT_EQ(SetFilePointer(nullptr, 1, nullptr, 0), 0u);
    EXPECT_EQ(SetFilePointer(INVALID_HANDLE_VALUE, 1, nullptr, 0), INVALID_SET_FILE_POINTER);
    EXPECT_EQ(CreateFile(static_cast<const char16_t*>(nullptr), 0, 1, nullptr, 2, 0, nullptr),
              INVALID_HANDLE_VALUE);

    File("f");
    const std::u16string path = W("f");
    HANDLE h = CreateFile(reinterpret_cast<const unsigned short*>(path.c_str()), 0, 0, nullptr, 3,
                          0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(DescriptorsOpenOn(P("f")), 1);
    EXPECT_EQ(CloseHandle(h), TRUE);
    EXPECT_EQ(DescriptorsOpenOn(P("f")), 0);
}

TEST_F(FileHandleTest, OneHandleSharedByThreadsNeverInterleavesRecords) {
    HANDLE h = CreateFile(W("log").c_str(), 0, 1, nullptr, 2, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    constexpr int kRecords = 500;
    auto writer = [h](char tag) {
        const std::string record(16, tag);
        for (int i = 0; i < kRecords; ++i)
            WriteFile(h, record.data(), static_cast<DWORD>(record.size()), nullptr, nullptr);
    };
    std::thread a(writer, 'a'), b(writer, 'b');
    a.join();
    b.join();
    EXPECT_EQ(GetFileSize(h, nullptr), 2u * kRecords * 16);
    EXPECT_EQ(CloseHandle(h), TRUE);
    const std::string content = Read("log");
    ASSERT_EQ(content.size(), 2u * kRecords * 16);
    for (size_t i = 0; i < content.size(); i += 16)
        ASSERT_EQ(content.substr(i, 16), std::string(16, content[i])) << "record at " << i;
}

} // namespace
