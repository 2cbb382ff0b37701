#include "win32compat/FileHandle.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "FileTestSupport.h"

using filetest::U;

namespace {

class FileHandleTest : public filetest::TempDirTest {
protected:
    static bool Same(const FSRef& a, const FSRef& b) { return FSCompareFSRefs(&a, &b) == noErr; }
};

// Descriptors this process holds open on `path` itself. The file manager keeps
// a bounded pool of folder descriptors, so only the file's own count says
// whether a handle's fork was released.
int DescriptorsOpenOn(const std::string& path) {
    int count = 0;
    if (DIR* d = opendir("/proc/self/fd")) {
        while (const dirent* entry = readdir(d)) {
            char target[4096];
            const std::string link = std::string("/proc/self/fd/") + entry->d_name;
            const ssize_t n = readlink(link.c_str(), target, sizeof target - 1);
            if (n > 0 && std::string(target, static_cast<size_t>(n)) == path)
                ++count;
        }
        closedir(d);
    }
    return count;
}

TEST_F(FileHandleTest, ResolvesFollowingLinksAndReportsMissingAsNotFound) {
    filetest::WriteFile(P("file"), "abc");
    ASSERT_EQ(symlink(P("file").c_str(), P("link").c_str()), 0);
    FSRef ref;
    EXPECT_EQ(GetFSRefFromFilename(W("file").c_str(), &ref, false, false), noErr);
    EXPECT_TRUE(Same(ref, RefOf(P("file"))));
    EXPECT_EQ(GetFSRefFromFilename(W("link").c_str(), &ref, false, false), noErr);
    EXPECT_TRUE(Same(ref, RefOf(P("file")))) << "the last component's link is followed";
    EXPECT_EQ(GetFSRefFromFilename(W("missing").c_str(), &ref, false, false), fnfErr);
    EXPECT_EQ(GetFSRefFromFilename(u"", &ref, false, false), fnfErr);
    EXPECT_EQ(GetFSRefFromFilename(static_cast<const char16_t*>(nullptr), &ref, false, false),
              fnfErr);
}

TEST_F(FileHandleTest, CreatesTheLastComponentOnly) {
    FSRef ref;
    EXPECT_EQ(GetFSRefFromFilename(W("nodir/new").c_str(), &ref, true, false), fnfErr);
    EXPECT_FALSE(filetest::Exists(P("nodir")));

    EXPECT_EQ(GetFSRefFromFilename(W("newfile").c_str(), &ref, true, false), noErr);
    EXPECT_TRUE(filetest::Exists(P("newfile")));
    EXPECT_FALSE(filetest::IsDir(P("newfile")));
    EXPECT_EQ(filetest::ReadFile(P("newfile")), "");
    EXPECT_TRUE(Same(ref, RefOf(P("newfile"))));

    EXPECT_EQ(GetFSRefFromFilename(W("newdir").c_str(), &ref, true, true), noErr);
    EXPECT_TRUE(filetest::IsDir(P("newdir")));

    // An existing object is found as it is, whatever `folder` says.
    filetest::WriteFile(P("existing"), "keep");
    EXPECT_EQ(GetFSRefFromFilename(W("existing").c_str(), &ref, true, true), noErr);
    EXPECT_FALSE(filetest::IsDir(P("existing")));
    EXPECT_EQ(filetest::ReadFile(P("existing")), "keep");
    EXPECT_TRUE(Same(ref, RefOf(P("existing"))));

    // A link in the last place is an existing entry: nothing is created through it.
    ASSERT_EQ(symlink(P("target").c_str(), P("dangling").c_str()), 0);
    EXPECT_EQ(GetFSRefFromFilename(W("dangling").c_str(), &ref, true, false), noErr);
    EXPECT_FALSE(filetest::Exists(P("target")));
}

TEST_F(FileHandleTest, RelativePathsStartAtTheWorkingFolder) {
    char saved[4096];
    ASSERT_NE(getcwd(saved, sizeof saved), nullptr);
    ASSERT_EQ(chdir(root_.c_str()), 0);
    filetest::MakeDir(P("sub"));
    filetest::WriteFile(P("sub/f"), "x");
    FSRef ref;
    const OSErr found = GetFSRefFromFilename(u"sub/f", &ref, false, false);
    const OSErr created = GetFSRefFromFilename(u"made", &ref, true, false);
    const OSErr createdInSub = GetFSRefFromFilename(u"sub/made2", &ref, true, true);
    FSRef parent;
    HFSUniStr255 name;
    const OSErr split = GetParentFSRAndNameFromFilePath(u"plain", &parent, &name);
    ASSERT_EQ(chdir(saved), 0);
    EXPECT_EQ(found, noErr);
    EXPECT_EQ(created, noErr);
    EXPECT_TRUE(filetest::Exists(P("made")));
    EXPECT_EQ(createdInSub, noErr);
    EXPECT_TRUE(filetest::IsDir(P("sub/made2")));
    EXPECT_EQ(split, noErr);
    if (split == noErr) {
        EXPECT_TRUE(Same(parent, RefOf(P("."))));
        EXPECT_EQ(std::u16string(name.unicode, name.unicode + name.length), u"plain");
    }
}

TEST_F(FileHandleTest, ParentAndNameSplitsThePath) {
    filetest::MakeDir(P("dir"));
    FSRef parent;
    HFSUniStr255 name;
    name.length = 0x7777;
    EXPECT_EQ(GetParentFSRAndNameFromFilePath(W("dir/child").c_str(), &parent, &name), noErr);
    EXPECT_TRUE(Same(parent, RefOf(P("dir"))));
    ASSERT_EQ(name.length, 5);
    EXPECT_EQ(std::u16string(name.unicode, name.unicode + 5), u"child");

    name.length = 0x7777;
    EXPECT_EQ(GetParentFSRAndNameFromFilePath(W("nodir/child").c_str(), &parent, &name), fnfErr);
    EXPECT_EQ(name.length, 0x7777) << "the name is written only on success";

    // 256 units do not fit the record: refused, not overflowed.
    const std::u16string tooLong = W("dir/") + std::u16string(256, u'n');
    EXPECT_EQ(GetParentFSRAndNameFromFilePath(tooLong.c_str(), &parent, &name), fnfErr);
    EXPECT_EQ(name.length, 0x7777);
    const std::u16string longest = W("dir/") + std::u16string(255, u'n');
    EXPECT_EQ(GetParentFSRAndNameFromFilePath(longest.c_str(), &parent, &name), noErr);
    EXPECT_EQ(name.length, 255);
}

TEST_F(FileHandleTest, CreateFileDispositions) {
    filetest::WriteFile(P("ten"), "0123456789");
    struct Row {
        const char* name;
        DWORD disposition;
        bool opens;
        bool existsAfter;
    } rows[] = {
        {"ten", 1, false, true},       // CREATE_NEW on an existing file
        {"new1", 1, true, true},       // CREATE_NEW creates
        {"ten", 2, true, true},        // CREATE_ALWAYS opens without truncating
        {"new2", 2, true, true},       // CREATE_ALWAYS creates
        {"new0", 0, true, true},       // 0 creates like 2
        {"missing3", 3, false, false}, // OPEN_EXISTING never creates
        {"missing4", 4, false, false}, // any other value opens existing files only
        {"ten", 3, true, true},
    };
    for (const Row& r : rows) {
        HANDLE h =
            CreateFile(W(r.name).c_str(), 0xC0000000u, 0, nullptr, r.disposition, 0, nullptr);
        EXPECT_EQ(h != INVALID_HANDLE_VALUE, r.opens) << r.name << " " << r.disposition;
        EXPECT_EQ(filetest::Exists(P(r.name)), r.existsAfter) << r.name << " " << r.disposition;
        if (h != INVALID_HANDLE_VALUE) {
            EXPECT_EQ(static_cast<FileHandleRecord*>(h)->kind, 3u);
            EXPECT_EQ(SetFilePointer(h, 0, nullptr, 1), 0u) << "a new handle starts at 0";
            EXPECT_TRUE(CloseHandle(h));
        }
    }
    EXPECT_EQ(filetest::ReadFile(P("ten")), "0123456789");
    EXPECT_EQ(CreateFile(W("nodir/x").c_str(), 0, 0, nullptr, 2, 0, nullptr), INVALID_HANDLE_VALUE);
    filetest::MakeDir(P("folder"));
    EXPECT_EQ(CreateFile(W("folder").c_str(), 0, 0, nullptr, 3, 0, nullptr), INVALID_HANDLE_VALUE);
}

TEST_F(FileHandleTest, PositionsReadsAndWrites) {
    filetest::WriteFile(P("ten"), "0123456789");
    HANDLE h = CreateFile(W("ten").c_str(), 0, 1, nullptr, 3, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    LONG high = 0x5555;
    EXPECT_EQ(SetFilePointer(h, -4, &high, 2), 6u);
    EXPECT_EQ(high, 0x5555);
    EXPECT_EQ(SetFilePointer(h, 0, nullptr, 7), 6u) << "an unknown method moves nothing";
    EXPECT_EQ(SetFilePointer(h, -2, nullptr, 1), 4u);
    EXPECT_EQ(SetFilePointer(h, -1, nullptr, 0), INVALID_SET_FILE_POINTER);

    char buffer[100];
    std::memset(buffer, '#', sizeof buffer);
    DWORD done = 12345;
    EXPECT_EQ(SetFilePointer(h, 3, nullptr, 0), 3u);
    EXPECT_TRUE(ReadFile(h, buffer, 4, &done, nullptr));
    EXPECT_EQ(done, 4u);
    EXPECT_EQ(std::string(buffer, 4), "3456");
    EXPECT_EQ(buffer[4], '#');
    EXPECT_TRUE(WriteFile(h, "AB", 2, &done, nullptr));
    EXPECT_EQ(done, 2u);
    EXPECT_EQ(GetFileSize(h, nullptr), 10u);
    EXPECT_TRUE(WriteFile(h, "XYZW", 4, nullptr, nullptr));
    EXPECT_EQ(GetFileSize(h, nullptr), 13u);
    EXPECT_TRUE(CloseHandle(h));
    EXPECT_EQ(filetest::ReadFile(P("ten")), "0123456ABXYZW");

    // 100 bytes asked 40 before the end: FALSE, with the 40 reported.
    filetest::WriteFile(P("big"), std::string(1000, 'b'));
    h = CreateFile(W("big").c_str(), 8, 1, nullptr, 3, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(SetFilePointer(h, -40, nullptr, 2), 960u);
    done = 0;
    EXPECT_FALSE(ReadFile(h, buffer, 100, &done, nullptr));
    EXPECT_EQ(done, 40u);
    EXPECT_FALSE(ReadFile(h, buffer, 1, nullptr, nullptr)) << "at the end";
    EXPECT_FALSE(WriteFile(h, "x", 1, &done, nullptr)) << "opened for reading only";
    EXPECT_TRUE(CloseHandle(h));
    EXPECT_EQ(filetest::ReadFile(P("big")), std::string(1000, 'b'));
}

TEST_F(FileHandleTest, SizeOfAFileBeyond4GiBIsTakenModulo2To32) {
    const std::string path = P("huge");
    const int fd = open(path.c_str(), O_CREAT | O_WRONLY, 0644);
    ASSERT_GE(fd, 0);
    const off_t size = 5LL << 30; // sparse: 5 GiB
    if (ftruncate(fd, size) != 0) {
        close(fd);
        GTEST_SKIP() << "the file system refuses a 5 GiB sparse file";
    }
    EXPECT_EQ(filelength(fd), static_cast<int32_t>(1u << 30));
    close(fd);
    HANDLE h = CreateFile(U(path).c_str(), 8, 1, nullptr, 3, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    DWORD high = 0xABCD;
    EXPECT_EQ(GetFileSize(h, &high), 1u << 30);
    EXPECT_EQ(high, 0xABCDu);
    EXPECT_TRUE(CloseHandle(h));
    EXPECT_EQ(filelength(-1), -1);
}

TEST_F(FileHandleTest, NullAndInvalidHandles) {
    char buffer[4];
    DWORD done = 7;
    EXPECT_FALSE(ReadFile(nullptr, buffer, 4, &done, nullptr));
    EXPECT_FALSE(WriteFile(nullptr, buffer, 4, &done, nullptr));
    EXPECT_EQ(done, 7u);
    EXPECT_EQ(GetFileSize(nullptr, nullptr), 0u);
    EXPECT_EQ(SetFilePointer(nullptr, 1, nullptr, 0), 0u);
    EXPECT_FALSE(CloseHandle(nullptr));
    EXPECT_FALSE(ReadFile(INVALID_HANDLE_VALUE, buffer, 4, &done, nullptr));
    EXPECT_EQ(GetFileSize(INVALID_HANDLE_VALUE, nullptr), 0u);
    EXPECT_EQ(SetFilePointer(INVALID_HANDLE_VALUE, 1, nullptr, 0), INVALID_SET_FILE_POINTER);
    EXPECT_FALSE(CloseHandle(INVALID_HANDLE_VALUE));
}

TEST_F(FileHandleTest, CloseReleasesTheFork) {
    filetest::WriteFile(P("f"), "x");
    for (int i = 0; i < 50; ++i) {
        HANDLE h = CreateFile(W("f").c_str(), 0, 0, nullptr, 3, 0, nullptr);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        ASSERT_EQ(DescriptorsOpenOn(P("f")), 1);
        ASSERT_TRUE(CloseHandle(h));
    }
    EXPECT_EQ(DescriptorsOpenOn(P("f")), 0);
}

TEST_F(FileHandleTest, OneHandleSharedByThreadsNeverInterleavesRecords) {
    HANDLE h = CreateFile(W("log").c_str(), 0, 1, nullptr, 2, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    constexpr int kRecords = 2000;
    auto writer = [h](char tag) {
        const std::string record(16, tag);
        for (int i = 0; i < kRecords; ++i)
            WriteFile(h, record.data(), static_cast<DWORD>(record.size()), nullptr, nullptr);
    };
    std::thread a(writer, 'a');
    std::thread b(writer, 'b');
    a.join();
    b.join();
    EXPECT_EQ(GetFileSize(h, nullptr), 2u * kRecords * 16);
    EXPECT_TRUE(CloseHandle(h));
    const std::string content = filetest::ReadFile(P("log"));
    ASSERT_EQ(content.size(), 2u * kRecords * 16);
    for (size_t i = 0; i < content.size(); i += 16)
        ASSERT_EQ(content.substr(i, 16), std::string(16, content[i])) << "record at " << i;
}

} // namespace
