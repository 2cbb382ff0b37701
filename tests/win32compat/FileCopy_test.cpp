// Copying, moving and exchanging files, and the volume table.
#include <sys/xattr.h>

#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "tests/win32compat/FileTestSupport.h"
#include "win32compat/FileCopy.h"

namespace {

using namespace testsupport;
using namespace filetest;

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
    // A source that cannot go: nothing moves, and the fresh file made at the new name goes.
    Make({"locked/", "locked/s=only"});
    if (SetImmutable(P("locked"), true)) {
        EXPECT_EQ(Move("locked/s", "t"), FALSE);
        EXPECT_EQ(std::to_string(Has("t")) + Read("locked/s"), "0only");
        SetImmutable(P("locked"), false);
    }
    if (!Far())
        GTEST_SKIP() << "no second file system";
    Make({"into=into", "far/folder/"});
    EXPECT_EQ(Move("d1/g", "far/dst") + Move("into", "far/folder"), 2);
    EXPECT_EQ(Read("far/folder/into") + Read("far/dst"), "intopayload");
    WriteFile(P("into"), "second");
    EXPECT_EQ(Move("into", "far/folder/"), TRUE);
    EXPECT_EQ(Read("far/folder/into"), "second");
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

} // namespace
