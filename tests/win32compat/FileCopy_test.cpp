#include "win32compat/FileCopy.h"

#include <sys/xattr.h>

#include <cstdint>
#include <string>

#include <gtest/gtest.h>

#include "FileTestSupport.h"
#include "win32compat/FileHandle.h"

namespace {

using namespace filetest;

std::string Pattern(size_t size) {
    std::string s(size, '\0');
    for (size_t i = 0; i < size; ++i)
        s[i] = static_cast<char>((i * 131 + i / 7) & 0xFF);
    return s;
}

class FileCopyTest : public TempDirTest {
protected:
    void TearDown() override {
        g_copyBufferSize = 0x40000;
        RemoveTree(other_);
        TempDirTest::TearDown();
    }
    // A folder on another file system, or empty when there is none to use.
    std::string OtherVolumeDir() {
        struct stat shm, tmp;
        if (stat("/dev/shm", &shm) == 0 && stat(root_.c_str(), &tmp) == 0 &&
            shm.st_dev != tmp.st_dev)
            other_ = MakeTempFolder("/dev/shm");
        return other_;
    }
    BOOL Copy(const std::string& from, const std::string& to, bool failIfExists = false) {
        return CopyFile(W(from).c_str(), W(to).c_str(), failIfExists);
    }
    // Paths starting with '/' are taken as they are.
    BOOL Move(const std::string& from, const std::string& to) {
        const std::u16string a = U(from[0] == '/' ? from : P(from));
        const std::u16string b = U(to[0] == '/' ? to : P(to));
        return MoveFile(reinterpret_cast<const unsigned short*>(a.c_str()),
                        reinterpret_cast<const unsigned short*>(b.c_str()));
    }
    std::string other_;
};

// The data goes over in reads of at most the buffer's size; an empty file needs no buffer,
// and without one nothing else can be copied and no partial copy stays.
TEST_F(FileCopyTest, CopiesEverySizeInChunksOfTheBuffer) {
    const struct {
        uint64_t buffer;
        size_t size;
        BOOL result;
    } rows[] = {{1000, 0, TRUE},          {1000, 511, TRUE}, {1000, 1000, TRUE},
                {1000, 2001, TRUE},       {1, 3, TRUE},      {0, 0, TRUE},
                {0x40000, 0x40001, TRUE}, {0, 1, FALSE},     {UINT64_MAX, 1, FALSE}};
    for (const auto& r : rows) {
        const std::string name = std::to_string(r.buffer) + "_" + std::to_string(r.size);
        File(name, Pattern(r.size));
        g_copyBufferSize = r.buffer;
        EXPECT_EQ(Copy(name, name + ".copy", true), r.result) << name;
        EXPECT_EQ(Has(name + ".copy") ? Read(name + ".copy") : "-",
                  r.result ? Pattern(r.size) : "-");
    }
}

// A locked source gives a locked copy with the same permissions, owner and named forks.
TEST_F(FileCopyTest, CopyKeepsLockPermissionsOwnerAndNamedForks) {
    File("src", "locked data");
    chmod(P("src").c_str(), 0604);
    if (!IsRoot() || chown(P("src").c_str(), 1234, 5678) != 0 ||
        setxattr(P("src").c_str(), "user.note", "hello", 5, 0) != 0 ||
        !SetImmutable(P("src"), true))
        GTEST_SKIP() << "needs root, named forks and the immutable flag";
    EXPECT_EQ(Copy("src", "dst"), TRUE);
    EXPECT_TRUE(IsImmutable(P("dst")));
    struct stat st;
    ASSERT_EQ(stat(P("dst").c_str(), &st), 0);
    EXPECT_EQ(std::to_string(st.st_mode & 07777) + " " + std::to_string(st.st_uid) + ":" +
                  std::to_string(st.st_gid) + " " + Read("dst"),
              std::to_string(0604) + " 1234:5678 locked data");
    char value[8] = {};
    EXPECT_EQ(getxattr(P("dst").c_str(), "user.note", value, sizeof value), 5);
    EXPECT_STREQ(value, "hello");
}

// Refusals change nothing, above all not a second spelling of the source; a replacement
// takes the entry at the name, an empty folder or a link (never what it points to).
TEST_F(FileCopyTest, CopyRefusalsAndReplacements) {
    Make({"src=source", "dst=dest", "other=untouched", "full/", "full/x", "srcdir/", "empty/", "a/",
          "a/f=only copy", "a/soft->a/f", "tolink->other"});
    ASSERT_EQ(link(P("a/f").c_str(), P("a/hard").c_str()), 0);
    const std::string before = Fingerprint(root_);
    const struct {
        const char *from, *to;
        bool failIfExists;
    } refused[] = {{"src", "src", false},    {"missing", "new", false}, {"src", "nodir/new", false},
                   {"srcdir", "new", false}, {"src", "dst", true},      {"src", "full", false},
                   {"a/f", "a/./f", false},  {"a//f", "a/f", false},    {"a/f", "a/../a/f", false},
                   {"a/f", "a/hard", false}, {"a/hard", "a/f", false},  {"a/f", "a/soft", false},
                   {"a/soft", "a/f", false}};
    for (const auto& r : refused)
        EXPECT_EQ(Copy(r.from, r.to, r.failIfExists), FALSE) << r.from << " " << r.to;
    const std::u16string src = W("src");
    EXPECT_EQ(CopyFile(src.c_str(), src.c_str(), false), FALSE);
    EXPECT_EQ(CopyFile(nullptr, src.c_str(), false), FALSE);
    EXPECT_EQ(CopyFile(src.c_str(), static_cast<const char16_t*>(nullptr), false), FALSE);
    EXPECT_EQ(Fingerprint(root_), before);
    for (const char* to : {"dst", "empty", "tolink"}) {
        EXPECT_EQ(Copy("src", to), TRUE) << to;
        EXPECT_EQ(std::to_string(IsLink(P(to))) + Read(to), "0source") << to;
    }
    EXPECT_EQ(Read("other"), "untouched");
}

// Inside one volume a move exchanges the data with a fresh file at the new name, whose
// catalog information (its mode) stays with that name.
TEST_F(FileCopyTest, MoveInsideOneVolume) {
    Make({"src=payload", "other=other", "folder/", "d1/", "tool=#!", "d2/"});
    chmod(P("tool").c_str(), 0700);
    FSRef fresh;
    ASSERT_EQ(GetFSRefFromFilename(W("fresh").c_str(), &fresh, true, false), noErr);
    const struct {
        const char *from, *to;
        BOOL result;
        const char *gone, *arrived;
    } rows[] = {{"src", "moved", TRUE, "src", "moved"},
                {"moved", "moved", TRUE, "none", "moved"},
                {"moved", "other", FALSE, "none", "moved"},
                {"moved", "newdir/", FALSE, "newdir", "moved"},
                {"missing", "x", FALSE, "x", "moved"}, // no placeholder is left behind
                {"moved", "folder", TRUE, "moved", "folder/moved"},
                {"folder/moved", "d2/g", TRUE, "folder/moved", "d2/g"}};
    for (const auto& r : rows) {
        EXPECT_EQ(Move(r.from, r.to), r.result) << r.from << " -> " << r.to;
        EXPECT_EQ(std::to_string(Has(r.gone)) + Read(r.arrived), "0payload") << r.to;
    }
    EXPECT_EQ(Move("tool", "d1/tool2"), TRUE);
    EXPECT_EQ(Read("d1/tool2") + std::to_string(Has("tool")) +
                  std::to_string(ModeOf(P("d1/tool2"))),
              "#!0" + std::to_string(ModeOf(P("fresh"))));
    EXPECT_EQ(Read("other"), "other");
    EXPECT_EQ(MoveFile(nullptr, W("x").c_str()), FALSE);
    EXPECT_EQ(MoveFile(W("x").c_str(), static_cast<const char16_t*>(nullptr)), FALSE);
}

// Across volumes a move copies, then deletes; into a folder (with or without a trailing
// separator) it replaces a file of the same name, as a copy that may replace does.
TEST_F(FileCopyTest, MoveAcrossVolumesCopiesThenDeletes) {
    const std::string other = OtherVolumeDir();
    if (other.empty())
        GTEST_SKIP() << "no second file system";
    Make({"src=" + Pattern(3000), "into=into"});
    mkdir((other + "/folder").c_str(), 0755);
    EXPECT_EQ(Move("src", other + "/dst"), TRUE);
    EXPECT_EQ(Move("into", other + "/folder"), TRUE);
    EXPECT_EQ(ReadFile(other + "/folder/into"), "into");
    File("into", "second");
    EXPECT_EQ(Move("into", other + "/folder/"), TRUE);
    EXPECT_EQ(ReadFile(other + "/folder/into") + ReadFile(other + "/dst"),
              "second" + Pattern(3000));
    EXPECT_FALSE(Has("src") || Has("into"));
}

// A move that fails changes nothing: the source cannot leave its locked folder, so the
// copy on the other volume goes again, and inside one volume the exchange is refused.
TEST_F(FileCopyTest, MoveNeverDestroysTheOnlyCopy) {
    const std::string other = OtherVolumeDir();
    Make({"stuck/", "stuck/src=precious"});
    if (!IsRoot() || other.empty() || !SetImmutable(P("stuck"), true))
        GTEST_SKIP() << "needs root, a second file system and the immutable flag";
    EXPECT_EQ(Move("stuck/src", other + "/dst"), FALSE);
    EXPECT_EQ(Move("stuck/src", "dst"), FALSE);
    SetImmutable(P("stuck"), false);
    EXPECT_EQ(Read("stuck/src"), "precious");
    EXPECT_FALSE(Exists(other + "/dst") || Has("dst"));
}

// Both exchanges swap the data, keep modes with the names, give references to what now
// lies at each name and leave no temporary name behind.
TEST_F(FileCopyTest, ExchangeSwapsDataAndKeepsMetadataWithTheNames) {
    using Exchange = OSErr (*)(const FSRef*, const FSRef*, FSRef*, FSRef*);
    Make({"d1/", "d2/", "f"});
    for (Exchange exchange : {&FSExchangeObjectsCompat, &FSExchangeObjectsEmulated}) {
        for (const std::string second : {"d1/b", "d2/b"}) {
            Make({"d1/a=AAAA", second + "=bb"});
            chmod(P("d1/a").c_str(), 0600);
            const FSRef a = RefOf(P("d1/a")), b = RefOf(P(second));
            FSRef newA, newB;
            ASSERT_EQ(exchange(&a, &b, &newA, &newB), noErr);
            EXPECT_EQ(Read("d1/a") + Read(second), "bbAAAA");
            EXPECT_EQ(std::to_string(ModeOf(P("d1/a"))) + std::to_string(ModeOf(P(second))),
                      std::to_string(0600) + std::to_string(0644));
            EXPECT_TRUE(Same(newA, RefOf(P("d1/a"))) && Same(newB, RefOf(P(second)))) << second;
            EXPECT_EQ(Fingerprint(P("d1")).find("586E717"), std::string::npos);
            EXPECT_EQ(Fingerprint(P("d2")).find("586E717"), std::string::npos);
            unlink(P("d1/a").c_str());
            unlink(P(second).c_str());
        }
    }
    const FSRef file = RefOf(P("f")), folder = RefOf(P("d1"));
    FSRef x, y;
    EXPECT_EQ(FSExchangeObjectsEmulated(&file, &folder, &x, &y), notAFileErr);
    EXPECT_EQ(FSExchangeObjectsEmulated(&folder, &file, &x, &y), notAFileErr);
    EXPECT_EQ(FSExchangeObjectsCompat(&file, &file, nullptr, &y), paramErr);
    EXPECT_EQ(FSExchangeObjectsEmulated(&file, &file, &x, nullptr), paramErr);
    const std::string other = OtherVolumeDir();
    if (!other.empty() && WriteFile(other + "/g", "g")) {
        const FSRef far = RefOf(other + "/g");
        EXPECT_EQ(FSExchangeObjectsEmulated(&file, &far, &x, &y), diffVolErr);
        EXPECT_EQ(FSExchangeObjectsCompat(&file, &far, &x, &y), diffVolErr);
    }
}

// The source is renamed first; renaming the destination in its locked folder fails, and
// the source gets its name back. The outputs stay the inputs.
TEST_F(FileCopyTest, AFailedEmulatedExchangeIsUndone) {
    Make({"d1/", "d2/", "d1/a=AAAA", "d2/b=bb"});
    if (!IsRoot() || !SetImmutable(P("d2"), true))
        GTEST_SKIP() << "needs root and the immutable flag";
    const std::string before = Fingerprint(root_);
    const FSRef a = RefOf(P("d1/a")), b = RefOf(P("d2/b"));
    FSRef newA, newB;
    EXPECT_EQ(FSExchangeObjectsEmulated(&a, &b, &newA, &newB), permErr);
    EXPECT_EQ(Fingerprint(root_), before);
    EXPECT_TRUE(Same(newA, a) && Same(newB, b));
    SetImmutable(P("d2"), false);
}

TEST_F(FileCopyTest, UniqueNamesCountUpFromTheSeedPastNamesInEitherFolder) {
    Make({"d1/", "d2/", "d2/586E717A", "d1/586E717B"});
    const FSRef d1 = RefOf(P("d1")), d2 = RefOf(P("d2"));
    const struct {
        uint32_t seed;
        const char16_t* name;
        uint32_t after;
    } rows[] = {{0x586E717A, u"586E717C", 0x586E717D},
                {0xFFFFFFFF, u"FFFFFFFF", 0},
                {0x0A0B0C0D, u"0A0B0C0D", 0x0A0B0C0E}};
    for (const auto& r : rows) {
        uint32_t seed = r.seed;
        HFSUniStr255 name;
        ASSERT_EQ(GenerateUniqueHFSUniStr(&seed, &d1, &d2, &name), noErr);
        EXPECT_EQ(std::u16string(name.unicode, name.unicode + name.length), r.name);
        EXPECT_EQ(seed, r.after);
    }
    uint32_t seed = 0;
    HFSUniStr255 name;
    EXPECT_EQ(GenerateUniqueHFSUniStr(&seed, &d1, nullptr, &name), paramErr);
}

// The exchange asks the volume's parameters by the number the catalog gave it. The table
// answers for every number it gave out and for no other: a file system seen for the first
// time takes the next number, and the number after that is unknown.
TEST_F(FileCopyTest, VolumeParametersOnlyForNumbersGivenOut) {
    Dir("mnt");
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
        return (at(info.volume) != noErr ? 1 : 0) | (at(info.volume - 1) != nsvErr ? 2 : 0) |
               (at(-100) != noErr ? 4 : 0) | (at(-99) != nsvErr ? 8 : 0);
    });
    if (status == 77)
        GTEST_SKIP() << "needs root and a private tmpfs";
    EXPECT_EQ(status, 0);
}

} // namespace
