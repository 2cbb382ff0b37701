// Handles: references from paths, creation dispositions and access modes, positions, reads
// and writes.
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "tests/win32compat/FileTestSupport.h"
#include "win32compat/FileHandle.h"

namespace {

using namespace testsupport;
using namespace filetest;

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

} // namespace
