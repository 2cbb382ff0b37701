#include "win32compat/FileHandle.h"

#include <cstring>
#include <filesystem>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "FileTestSupport.h"

namespace {

using namespace filetest;
using FileHandleTest = TempDirTest;

const unsigned short* US(const std::u16string& s) {
    return reinterpret_cast<const unsigned short*>(s.c_str());
}

// Relative paths start at the working folder, so the rows run from inside the test folder.
TEST_F(FileHandleTest, ResolutionCreationAndSplitting) {
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
    char saved[4096];
    ASSERT_NE(getcwd(saved, sizeof saved), nullptr);
    ASSERT_EQ(chdir(root_.c_str()), 0);
    for (const auto& r : rows) {
        FSRef ref{};
        EXPECT_EQ(GetFSRefFromFilename(US(r.path), &ref, r.create, r.folder), r.status);
        EXPECT_TRUE(r.refersTo == nullptr || Same(ref, RefOf(P(r.refersTo)))) << r.refersTo;
    }
    // The parent is always "dir"; the name is written only on success.
    const auto split = [&](const std::u16string& path, OSErr status) {
        FSRef parent{};
        HFSUniStr255 name;
        name.length = 0x7777;
        EXPECT_EQ(GetParentFSRAndNameFromFilePath(US(path), &parent, &name), status);
        EXPECT_TRUE(status != noErr || Same(parent, RefOf(P("dir"))));
        return name.length == 0x7777 ? u"-" : std::u16string(name.unicode, name.length);
    };
    EXPECT_EQ(split(u"dir/child", noErr), u"child");
    EXPECT_EQ(split(W("dir/") + longest, noErr), longest);
    EXPECT_EQ(split(W("dir/") + longest + u"n", fnfErr), u"-");
    ASSERT_EQ(chdir(saved), 0);
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
TEST_F(FileHandleTest, DispositionsAndAccessModes) {
    Make({"folder/"});
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
                {"ten", 0x14, 0, 3, "open there 0 written"},
                {"nodir/x", 0, 1, 2, "shut gone"},
                {"folder", 0, 1, 3, "shut there"}};
    for (const auto& r : rows) {
        File("ten", "0123456789");
        HANDLE h =
            CreateFile(W(r.name).c_str(), r.access, r.share, nullptr, r.disposition, 0, nullptr);
        std::string outcome = h != INVALID_HANDLE_VALUE ? "open" : "shut";
        outcome += Has(r.name) ? " there" : " gone";
        char byte = '-';
        if (h != INVALID_HANDLE_VALUE) {
            outcome += ReadFile(h, &byte, 1, nullptr, nullptr) ? std::string(" ") + byte : " -";
            outcome += WriteFile(h, "A", 1, nullptr, nullptr) ? " written" : " -";
            EXPECT_EQ(CloseHandle(h), TRUE);
        }
        EXPECT_EQ(outcome, r.outcome) << r.name << " " << r.access << " " << r.share;
    }
}

TEST_F(FileHandleTest, PositionsReadsAndWrites) {
    File("ten", "0123456789");
    HANDLE h = CreateFile(US(W("ten")), 0, 1, nullptr, 3, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    LONG high = 0x5555;
    DWORD sizeHigh = 0xABCD;
    EXPECT_EQ(SetFilePointer(h, -4, &high, 2), 6u);
    EXPECT_EQ(SetFilePointer(h, 0, nullptr, 3), 6u) << "an unknown method moves nothing";
    EXPECT_EQ(SetFilePointer(h, -2, nullptr, 1), 4u);
    EXPECT_EQ(SetFilePointer(h, -1, nullptr, 0), INVALID_SET_FILE_POINTER);
    EXPECT_EQ(SetFilePointer(h, 3, nullptr, 0), 3u);
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
    EXPECT_EQ(GetFileSize(h, &sizeHigh), 13u);
    // 100 bytes asked 3 before the end: FALSE, with the 3 reported.
    EXPECT_EQ(SetFilePointer(h, 10, nullptr, 0), 10u);
    const std::string last = transfer(::ReadFile, buffer, 100);
    EXPECT_EQ(last + std::string(buffer, 4), "0/3 YZW6");
    EXPECT_EQ(high + sizeHigh, 0x5555 + 0xABCD) << "the high words are never written";
    EXPECT_EQ(CloseHandle(h), TRUE);
    EXPECT_EQ(Read("ten"), "0123456ABXYZW");
}

// A null handle does nothing and gives 0; INVALID_HANDLE_VALUE gives the failure value.
TEST_F(FileHandleTest, BadHandlesAndDescriptors) {
    char buffer[4];
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
    File("ten", "0123456789");
    const int fd = open(P("ten").c_str(), O_RDONLY);
    EXPECT_EQ(filelength(fd) + filelength(-1), 9);
    close(fd);
}

TEST_F(FileHandleTest, OneHandleSharedByThreadsNeverInterleavesRecords) {
    HANDLE h = CreateFile(W("log").c_str(), 0, 1, nullptr, 2, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
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

} // namespace
