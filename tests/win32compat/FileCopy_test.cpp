#include "win32compat/FileCopy.h"

#include <sys/xattr.h>

#include <string>

#include <gtest/gtest.h>

#include "FileTestSupport.h"

namespace {

using namespace filetest;

class FileCopyTest : public TempDirTest {
protected:
    void TearDown() override {
        g_copyBufferSize = 0x40000;
        RemoveTree(other_);
        TempDirTest::TearDown();
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
        const std::u16string a = W(from), b = W(to);
        return MoveFile(reinterpret_cast<const unsigned short*>(a.c_str()),
                        reinterpret_cast<const unsigned short*>(b.c_str()));
    }
    std::string other_;
};

// The data goes over in reads of at most the buffer's size; an empty file needs no buffer,
// and without one nothing else is copied and no partial copy stays. A locked source gives
// a locked copy with the same permissions, owner and named forks.
TEST_F(FileCopyTest, CopiesDataInChunksAndKeepsWhatTheSourceCarries) {
    const std::string data = "0123456789" + std::string(1991, 'd');
    const uint64_t rows[][3] = {
        {1000, 2001, TRUE}, {0, 0, TRUE}, {0, 1, FALSE}, {UINT64_MAX, 1, FALSE}};
    for (const auto& r : rows) {
        const std::string name = std::to_string(r[0]) + "_" + std::to_string(r[1]);
        File(name, data.substr(0, r[1]));
        g_copyBufferSize = r[0];
        EXPECT_EQ(Copy(name, name + ".copy", true), BOOL(r[2])) << name;
        EXPECT_EQ(Has(name + ".copy") ? Read(name + ".copy") : "-",
                  r[2] ? data.substr(0, r[1]) : "-");
    }
    g_copyBufferSize = 0x40000;
    File("src", "locked data");
    chmod(P("src").c_str(), 0604);
    if (!IsRoot() || chown(P("src").c_str(), 1234, 5678) != 0 ||
        setxattr(P("src").c_str(), "user.note", "hello", 5, 0) != 0 ||
        !SetImmutable(P("src"), true))
        GTEST_SKIP() << "needs root, named forks and the immutable flag";
    EXPECT_EQ(Copy("src", "dst"), TRUE);
    struct stat st {};
    char value[8] = {};
    stat(P("dst").c_str(), &st);
    getxattr(P("dst").c_str(), "user.note", value, sizeof value);
    EXPECT_EQ(std::to_string(st.st_mode & 07777) + " " + std::to_string(st.st_uid) + ":" +
                  std::to_string(st.st_gid) + " " + Read("dst") + " " + value,
              std::to_string(0604) + " 1234:5678 locked data hello");
    EXPECT_TRUE(IsImmutable(P("dst")));
}

// Refusals change nothing, above all not a second spelling of the source; a replacement
// takes the entry at the name, an empty folder or a link (never what it points to).
TEST_F(FileCopyTest, CopyRefusalsAndReplacements) {
    Make({"src=source", "dst=dest", "other=untouched", "full/", "full/x", "srcdir/", "empty/", "a/",
          "a/f=only copy", "a/soft->a/f", "tolink->other"});
    ASSERT_EQ(link(P("a/f").c_str(), P("a/hard").c_str()), 0);
    const std::string before = Fingerprint(root_);
    const char* refused[][2] = {{"missing", "new"}, {"src", "nodir/new"}, {"srcdir", "new"},
                                {"src", "full"},    {"a/f", "a/./f"},     {"a/f", "a/hard"},
                                {"a/soft", "a/f"}};
    for (const auto& r : refused)
        EXPECT_EQ(Copy(r[0], r[1]), FALSE) << r[0] << " " << r[1];
    EXPECT_EQ(Copy("src", "dst", true) + CopyFile(nullptr, W("src").c_str(), false) +
                  CopyFile(W("src").c_str(), static_cast<const char16_t*>(nullptr), false),
              FALSE);
    EXPECT_EQ(Fingerprint(root_), before);
    for (const char* to : {"dst", "empty", "tolink"}) {
        EXPECT_EQ(Copy("src", to), TRUE) << to;
        EXPECT_EQ(std::to_string(IsLink(P(to))) + Read(to), "0source") << to;
    }
    EXPECT_EQ(Read("other"), "untouched");
}

// Inside one volume a move exchanges the data with a fresh file at the new name, whose
// mode stays with that name; across volumes it copies, then deletes, and into a folder
// (with or without a trailing separator) replaces a file of the same name.
TEST_F(FileCopyTest, MoveFile) {
    Make({"src=payload", "other=other", "folder/", "d1/", "tool=#!", "fresh"});
    chmod(P("tool").c_str(), 0700);
    // From, to, the result, what is gone then and where the payload is.
    const char* rows[][5] = {{"src", "moved", "1", "src", "moved"},
                             {"moved", "moved", "1", "none", "moved"},
                             {"moved", "other", "0", "none", "moved"},
                             {"moved", "newdir/", "0", "newdir", "moved"},
                             {"missing", "x", "0", "x", "moved"},
                             {"moved", "folder", "1", "moved", "folder/moved"},
                             {"folder/moved", "d1/g", "1", "folder/moved", "d1/g"}};
    for (const auto& r : rows) {
        EXPECT_EQ(Move(r[0], r[1]), r[2][0] - '0') << r[0] << " -> " << r[1];
        EXPECT_EQ(std::to_string(Has(r[3])) + Read(r[4]), "0payload") << r[1];
    }
    EXPECT_EQ(Move("tool", "d1/tool2"), TRUE);
    EXPECT_EQ(Read("d1/tool2") + std::to_string(Has("tool")) +
                  std::to_string(ModeOf(P("d1/tool2"))),
              "#!0" + std::to_string(ModeOf(P("fresh"))));
    EXPECT_EQ(MoveFile(nullptr, W("x").c_str()), FALSE);
    if (!Far())
        GTEST_SKIP() << "no second file system";
    Make({"into=into", "far/folder/"});
    EXPECT_EQ(Move("d1/g", "far/dst") + Move("into", "far/folder"), 2);
    EXPECT_EQ(Read("far/folder/into"), "into");
    File("into", "second");
    EXPECT_EQ(Move("into", "far/folder/"), TRUE);
    EXPECT_EQ(Read("far/folder/into") + Read("far/dst"), "secondpayload");
    EXPECT_FALSE(Has("d1/g") || Has("into"));
}

// A move that fails changes nothing: the source cannot leave its locked folder, so the
// copy on the other volume goes again, and inside one volume the exchange is refused; a
// failed emulated exchange is undone, its outputs left as the inputs.
TEST_F(FileCopyTest, FailuresChangeNothing) {
    Make({"stuck/", "stuck/src=precious", "d1/", "d1/a=AAAA"});
    if (!IsRoot() || !Far() || !SetImmutable(P("stuck"), true))
        GTEST_SKIP() << "needs root, a second file system and the immutable flag";
    const std::string before = Fingerprint(root_);
    EXPECT_EQ(Move("stuck/src", "far/dst") + Move("stuck/src", "dst"), FALSE);
    const FSRef a = RefOf(P("d1/a")), b = RefOf(P("stuck/src"));
    FSRef newA, newB;
    EXPECT_EQ(FSExchangeObjectsEmulated(&a, &b, &newA, &newB), permErr);
    EXPECT_TRUE(Same(newA, a) && Same(newB, b));
    EXPECT_EQ(Fingerprint(root_), before);
    EXPECT_FALSE(Has("far/dst"));
}

// Both exchanges swap the data, keep modes with the names, give references to what now
// lies at each name and leave no temporary name behind; the temporary names count up
// from the seed past names taken in either folder.
TEST_F(FileCopyTest, ExchangeSwapsDataAndKeepsMetadataWithTheNames) {
    using Exchange = OSErr (*)(const FSRef*, const FSRef*, FSRef*, FSRef*);
    Make({"d1/", "d2/", "f", "d2/586E717A", "d1/586E717B"});
    const std::string names = Fingerprint(P("d1")) + Fingerprint(P("d2"));
    for (Exchange exchange : {&FSExchangeObjectsCompat, &FSExchangeObjectsEmulated}) {
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
    const FSRef file = RefOf(P("f")), folder = RefOf(P("d1")), d2 = RefOf(P("d2"));
    FSRef x, y;
    uint32_t seed = 0x586E717A;
    HFSUniStr255 name;
    ASSERT_EQ(GenerateUniqueHFSUniStr(&seed, &folder, &d2, &name), noErr);
    EXPECT_EQ(std::u16string(name.unicode, name.length) + U(std::to_string(seed)),
              u"586E717C" + U(std::to_string(0x586E717D)));
    EXPECT_EQ(FSExchangeObjectsEmulated(&file, &folder, &x, &y), notAFileErr);
    EXPECT_EQ(FSExchangeObjectsCompat(&file, &file, nullptr, &y) +
                  FSExchangeObjectsEmulated(&file, &file, &x, nullptr) +
                  GenerateUniqueHFSUniStr(&seed, &folder, nullptr, &name),
              3 * paramErr);
    if (!Far() || !WriteFile(P("far/g"), "g"))
        GTEST_SKIP() << "no second file system";
    const FSRef g = RefOf(P("far/g"));
    EXPECT_EQ(FSExchangeObjectsEmulated(&file, &g, &x, &y) +
                  FSExchangeObjectsCompat(&file, &g, &x, &y),
              2 * diffVolErr);
}

// The exchange asks the volume's parameters by the number the catalog gave it. The table
// answers for every number it gave out and for no other: a file system seen for the first
// time takes the next number, and the number after that is unknown.
TEST_F(FileCopyTest, VolumeParametersOnlyForNumbersGivenOut) {
    Make({"mnt/"});
    const int status = !IsRoot() ? 77 : InPrivateMountNamespace([&] {
        FSRef ref;
        FSCatalogInfo info;
        if (mount("tmpfs", P("mnt").c_str(), "tmpfs", 0, "size=1m") != 0 ||
            FSPathMakeRef(reinterpret_cast<const UInt8*>(P("mnt").c_str()), &ref, nullptr) !=
                noErr ||
            FSGetCatalogInfo(&ref, kFSCatInfoVolume, &info, nullptr, nullptr, nullptr) != noErr)
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
