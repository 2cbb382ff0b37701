// Creating, moving, renaming, deleting and exchanging objects: each acts on the
// object its reference names, replaces nothing, and says exactly why it failed.
#include <sys/stat.h>

#include <tuple>

#include "tests/platform/files/FileManagerTestSupport.h"

namespace {

class FileManagerObjectsTest : public fmtest::TempFolderTest {};

TEST_F(FileManagerObjectsTest, CreateMoveRenameAndDelete) {
    FSRef top, file, folder, moved, renamed, root;
    ASSERT_EQ(Ref("", &top), noErr);
    FSCatalogInfo info{};
    info.permissions.mode = S_IFREG | 0751;
    FSSpec spec;
    ASSERT_EQ(FSCreateFileUnicode(&top, 8, u"new file", kFSCatInfoPermissions, &info, &file, &spec),
              noErr);
    EXPECT_EQ(testsupport::ModeOf(Path("new file")), 0751u); // exact, whatever the umask
    EXPECT_EQ(spec.name[0], 8);
    EXPECT_EQ(FSCreateFileUnicode(&top, 8, u"new file", 0, nullptr, nullptr, nullptr), dupFNErr);
    UInt32 dirID = 0;
    ASSERT_EQ(FSCreateDirectoryUnicode(&top, 3, u"sub", 0, nullptr, &folder, nullptr, &dirID),
              noErr);
    struct stat st;
    ASSERT_EQ(stat(Path("sub").c_str(), &st), 0);
    EXPECT_EQ(dirID, UInt32(st.st_ino));
    const mode_t mask = umask(0);
    umask(mask);
    EXPECT_EQ(testsupport::ModeOf(Path("sub")), 0777u & ~mask);

    ASSERT_EQ(FSMoveObject(&file, &folder, &moved), noErr);
    EXPECT_EQ(fmtest::PathOf(moved), Path("sub/new file"));
    MakeFile("new file");
    ASSERT_EQ(Ref("new file", &file), noErr);
    EXPECT_EQ(FSMoveObject(&file, &folder, nullptr), dupFNErr); // never replaces
    EXPECT_EQ(FSMoveObject(&moved, &folder, nullptr), noErr);   // already there
    ASSERT_EQ(FSPathMakeRef(reinterpret_cast<const UInt8*>("/"), &root, nullptr), noErr);
    EXPECT_EQ(FSMoveObject(&root, &folder, nullptr), paramErr);

    ASSERT_EQ(FSRenameUnicode(&moved, 5, u"other", 0, &renamed), noErr);
    EXPECT_EQ(fmtest::PathOf(renamed), Path("sub/other"));
    EXPECT_FALSE(Exists("sub/new file"));
    EXPECT_EQ(FSRenameUnicode(&renamed, 5, u"other", 0, nullptr), noErr); // its own name
    EXPECT_EQ(FSRenameUnicode(&file, 3, u"sub", 0, nullptr), dupFNErr);
    EXPECT_EQ(FSRenameUnicode(&moved, 1, u"x", 0, nullptr), fnfErr); // "new file" is gone

    EXPECT_EQ(FSDeleteObject(&folder), fBsyErr);
    EXPECT_EQ(FSDeleteObject(&renamed), noErr);
    EXPECT_EQ(FSDeleteObject(&renamed), fnfErr);
    EXPECT_EQ(FSDeleteObject(&folder), noErr);
    EXPECT_FALSE(Exists("sub"));
}

TEST_F(FileManagerObjectsTest, ExchangeSwapsContentsAndKeepsMetadataWithTheNames) {
    MakeFile("a", "contents of a", 0600);
    MakeFile("b", "b", 0644);
    MakeFolder("d");
    struct timespec times[2] = {{1000000000, 0}, {1200000000, 0}}; // access, modification
    ASSERT_EQ(utimensat(AT_FDCWD, Path("a").c_str(), times, 0), 0);
    FSRef a, b, d;
    ASSERT_EQ(Ref("a", &a) | Ref("b", &b) | Ref("d", &d), noErr);
    EXPECT_EQ(FSExchangeObjects(&a, &d), notAFileErr);
    EXPECT_EQ(FSExchangeObjects(&a, &a), noErr);
    const OSErr status = FSExchangeObjects(&a, &b);
    if (status == paramErr)
        GTEST_SKIP() << "this file system refuses RENAME_EXCHANGE";
    ASSERT_EQ(status, noErr);
    // The mode and the access date stay with the name, the modification date goes with the data.
    struct stat st;
    ASSERT_EQ(stat(Path("a").c_str(), &st), 0);
    EXPECT_EQ(std::tuple(st.st_mode & 07777, st.st_atim.tv_sec, st.st_mtim.tv_sec != 1200000000),
              std::tuple(0600u, 1000000000L, true));
    EXPECT_EQ(testsupport::ReadFile(Path("a")) + "|" + testsupport::ReadFile(Path("b")),
              "b|contents of a");
    // The references name the objects they were made for, now at the other name.
    EXPECT_EQ(FSExchangeObjects(&a, &b), fnfErr);
}

} // namespace
