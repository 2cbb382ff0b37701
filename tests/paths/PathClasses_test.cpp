#include "paths/PathClasses.h"

#include <sys/stat.h>
#include <sys/time.h>

#include <ctime>
#include <string>
#include <vector>

#include "tests/paths/PathTestSupport.h"

namespace {

using pathtest::N;
using pathtest::W;

struct NormalRow {
    const char* input;
    const char* expected;
};

TEST(PathClassesTest, NormalFormReplacesBackslashesAndDropsOneTrailingSlash) {
    const NormalRow rows[] = {
        {"C:\\dir\\sub\\", "C:/dir/sub"},
        {"/", ""},
        {"/a//", "/a/"},
        {"", ""},
        {"/a/./../b", "/a/./../b"},
        {"a\\\\b", "a//b"},
        {"\\", ""},
        {"/Users/A", "/Users/A"},
    };
    for (const NormalRow& row : rows) {
        EXPECT_EQ(N(FixFolderPathForPlatform(W(row.input))), row.expected) << "input " << row.input;
        EXPECT_EQ(N(FixFilePathForPlatform(W(row.input))), row.expected) << "input " << row.input;
        EXPECT_EQ(N(COrvikDirectoryPath(W(row.input)).GetDirectoryPathString()), row.expected)
            << row.input;
        EXPECT_EQ(
            N(COrvikDirectoryPath::CreateDirectoryPath(W(row.input)).GetDirectoryPathString()),
            row.expected);
        EXPECT_EQ(N(COrvikFilePath(W(row.input)).GetFilePathString()), row.expected)
            << "input " << row.input;
    }
    EXPECT_TRUE(COrvikDirectoryPath(W("/")).IsEmptyPath());
    EXPECT_FALSE(COrvikDirectoryPath(W("/")).DirectoryExists());
}

TEST(PathClassesTest, DirectoryEditing) {
    COrvikDirectoryPath empty;
    empty.AddDirectoryToPath(W("Library"));
    EXPECT_EQ(N(empty.GetDirectoryPathString()), "/Library");

    COrvikDirectoryPath root(W("/"));
    root.AddDirectoryToPath(W("Applications"));
    EXPECT_EQ(N(root.GetDirectoryPathString()), "/Applications");

    COrvikDirectoryPath x(W("/x"));
    x.AddDirectoryToPath(CAtlString());
    EXPECT_EQ(N(x.GetDirectoryPathString()), "/x");
    x.AddDirectoryToPath(W("a\\b\\"));
    EXPECT_EQ(N(x.GetDirectoryPathString()), "/x/a/b");
    EXPECT_EQ(N(x.GetLastDirectoryName()), "b");

    COrvikDirectoryPath a(W("/a"));
    EXPECT_TRUE(a.RemoveLastSubdirectoryFromPath());
    EXPECT_TRUE(a.IsEmptyPath());
    EXPECT_FALSE(a.RemoveLastSubdirectoryFromPath());
    COrvikDirectoryPath abc(W("abc"));
    EXPECT_FALSE(abc.RemoveLastSubdirectoryFromPath());
    EXPECT_EQ(N(abc.GetDirectoryPathString()), "abc");
    EXPECT_EQ(N(abc.GetLastDirectoryName()), "abc");

    COrvikFilePath file = COrvikDirectoryPath(W("/d")).CreateFilePath(W("sub\\f.txt"));
    EXPECT_EQ(N(file.GetFilePathString()), "/d/sub/f.txt");
    EXPECT_EQ(N(COrvikDirectoryPath().CreateFilePath(W("f")).GetFilePathString()), "/f");

    abc.Empty();
    EXPECT_TRUE(abc.IsEmptyPath());
}

struct FileNameRow {
    const char* path;
    const char* name;
    const char* base;
    const char* extension;
    const char* directory;
};

TEST(PathClassesTest, FileNamePartsAndExtensions) {
    const FileNameRow rows[] = {
        {"abc", "abc", "abc", "", ""},
        {"/x/archive.tar.gz", "archive.tar.gz", "archive.tar", ".gz", "/x"},
        {"/a.b/c", "c", "c", "", "/a.b"},
        {"/d/.profile", ".profile", "", ".profile", "/d"},
        {"/f", "f", "f", "", ""},
        {"/d/file.", "file.", "file", ".", "/d"},
        {"", "", "", "", ""},
    };
    for (const FileNameRow& row : rows) {
        COrvikFilePath path(W(row.path));
        EXPECT_EQ(N(path.GetFileName()), row.name) << row.path;
        EXPECT_EQ(N(path.GetBaseFileName()), row.base) << row.path;
        EXPECT_EQ(N(path.GetFileExtension()), row.extension) << row.path;
        EXPECT_EQ(N(path.GetDirectoryPath().GetDirectoryPathString()), row.directory) << row.path;
    }
    EXPECT_TRUE(COrvikFilePath(W("abc")).GetDirectoryPath().IsEmptyPath());
    EXPECT_EQ(N(CAtlString(COrvikFilePath(W("/d/n.txt")).GetFileNameA())), "n.txt");
    EXPECT_EQ(N(CAtlString(COrvikFilePath(W("/d/n.txt")).GetFilePathStringA())), "/d/n.txt");
    EXPECT_EQ(N(CAtlString(COrvikDirectoryPath(W("/d/e")).GetDirectoryPathStringA())), "/d/e");
}

TEST(PathClassesTest, ShortcutExtensionsIgnoreCase) {
    EXPECT_TRUE(COrvikFilePath(W("/d/Link.LNK")).IsShortCut());
    EXPECT_FALSE(COrvikFilePath(W("/d/Link.LNK")).IsURLShortCut());
    EXPECT_TRUE(COrvikFilePath(W("/d/Site.Url")).IsURLShortCut());
    EXPECT_FALSE(COrvikFilePath(W("/d.lnk/Site")).IsShortCut());
    EXPECT_FALSE(COrvikFilePath(W("/d/Site.urlx")).IsURLShortCut());
}

TEST(PathClassesTest, RenameExtensionAndFileUrls) {
    COrvikFilePath a(W("/d/file.txt"));
    a.RenameFileExtension(W(".doc"));
    EXPECT_EQ(N(a.GetFilePathString()), "/d/file.doc");
    COrvikFilePath b(W("/d.x/file"));
    b.RenameFileExtension(W(".doc"));
    EXPECT_EQ(N(b.GetFilePathString()), "/d.x/file.doc");

    struct Row {
        const char* url;
        bool result;
        const char* path;
    } rows[] = {
        {"file:///Users/a/b.txt", true, "/Users/a/b.txt"},
        {"file://server/x", true, "server/x"},
        {"file:", true, ""},
        {"file:/", true, ""},
        {"xfile:///a%20b/", true, "/a%20b"},
        {"FILE:///a", false, "/keep"},
        {"http://a/b", false, "/keep"},
    };
    for (const Row& row : rows) {
        COrvikFilePath path(W("/keep"));
        EXPECT_EQ(path.createFromFileURL(W(row.url)), row.result) << row.url;
        EXPECT_EQ(N(path.GetFilePathString()), row.path) << row.url;
    }
}

TEST(PathClassesTest, EqualityAndSubdirectoryIgnoreCaseWithoutSeparatorCheck) {
    COrvikDirectoryPath ab(W("/a/b"));
    EXPECT_TRUE(ab.IsEqualPath(COrvikDirectoryPath(W("/A/B"))));
    EXPECT_TRUE(ab.IsEqualPath(COrvikFilePath(W("/A/b"))));
    EXPECT_TRUE(COrvikFilePath(W("/a/B")).IsEqualPath(ab));
    EXPECT_TRUE(COrvikFilePath(W("/a/B")).IsEqualPath(COrvikFilePath(W("/A/b"))));
    EXPECT_FALSE(ab.IsEqualPath(COrvikDirectoryPath(W("/a/bc"))));

    EXPECT_TRUE(COrvikDirectoryPath(W("/a/bc")).IsSubdirectoryOf(ab));
    EXPECT_TRUE(COrvikDirectoryPath(W("/A/B/c")).IsSubdirectoryOf(ab));
    EXPECT_TRUE(ab.IsSubdirectoryOf(ab));
    EXPECT_FALSE(COrvikDirectoryPath(W("/a")).IsSubdirectoryOf(ab));
    EXPECT_FALSE(COrvikDirectoryPath().IsSubdirectoryOf(ab));
    EXPECT_FALSE(ab.IsSubdirectoryOf(COrvikDirectoryPath()));
    EXPECT_FALSE(COrvikDirectoryPath(W("/x/b")).IsSubdirectoryOf(ab));
}

struct ValidityRow {
    const char* path;
    bool pathValid;
    const char* pathFixed;
    bool nameValid;
    const char* nameFixed;
};

TEST(PathClassesTest, CrossPlatformChecksAndFixes) {
    const ValidityRow rows[] = {
        {"C:\\a\\b", true, "C:\\a\\b", false, "C\\a\\b"},
        {"C:\\a:b", false, "C:\\ab", false, "C\\ab"},
        {"a:b", false, "ab", false, "ab"},
        {"/a/b", true, "/a/b", true, "/a/b"},
        {"x:\\y", true, "x:\\y", false, "x\\y"},
        {"ab:\\y", false, "ab\\y", false, "ab\\y"},
        {"C:\\", true, "C:\\", false, "C\\"},
        {"a|b>c<d?e*f\"g", false, "abcdefg", false, "abcdefg"},
        {"", true, "", true, ""},
        {"|><?*\":", false, "", false, ""},
        {"C:\\|x:y*", false, "C:\\xy", false, "C\\xy"},
    };
    for (const ValidityRow& row : rows) {
        EXPECT_EQ(FilePathIsValidForAllPlatforms(W(row.path)), row.pathValid) << row.path;
        EXPECT_EQ(FileNameIsValidForAllPlatforms(W(row.path)), row.nameValid) << row.path;
        CAtlString path = W(row.path);
        FixFilePathInvalidCharacters(path);
        EXPECT_EQ(N(path), row.pathFixed) << row.path;
        CAtlString name = W(row.path);
        FixFileNameInvalidCharacters(name);
        EXPECT_EQ(N(name), row.nameFixed) << row.path;
        EXPECT_TRUE(FilePathIsValidForAllPlatforms(path)) << row.path;
        EXPECT_TRUE(FileNameIsValidForAllPlatforms(name)) << row.path;
    }
    EXPECT_EQ(N(COrvikFilePath::MakeNameLegal(W("a<b>:c/d"))), "abcd");
    EXPECT_EQ(N(COrvikFilePath::MakeNameLegal(W("<>:\"/\\|?*"))), "");
    EXPECT_EQ(N(COrvikFilePath::MakeNameLegal(W("plain name.txt"))), "plain name.txt");

    COrvikDirectoryPath directory(W("/d:x/a?b"));
    EXPECT_FALSE(directory.IsValidForCrossPlatform());
    directory.MakeValidForCrossPlatform();
    EXPECT_EQ(N(directory.GetDirectoryPathString()), "/dx/ab");
    EXPECT_TRUE(directory.IsValidForCrossPlatform());

    EXPECT_TRUE(COrvikFilePath(W("/d:x/ok.txt")).IsValidForCrossPlatform());
    EXPECT_FALSE(COrvikFilePath(W("/d/no:.txt")).IsValidForCrossPlatform());
}

TEST(PathClassesTest, MakeFileValidForCrossPlatform) {
    struct Row {
        const char* path;
        const char* expected;
    } rows[] = {
        {"/d/?*", "/d/untitled"}, {"/d/.x", "/d/untitled.x"}, {"name", "/name"},
        {"/d/a:b|c", "/d/abc"},   {"/d/\"", "/d/untitled"},   {":*", "/untitled"},
        {"/d:e/f", "/d:e/f"},     {"/d/ok.txt", "/d/ok.txt"},
    };
    for (const Row& row : rows) {
        COrvikFilePath path(W(row.path));
        path.MakeValidForCrossPlatform(W("untitled"));
        EXPECT_EQ(N(path.GetFilePathString()), row.expected) << row.path;
    }
}

TEST(PathClassesTest, WindowsDrivePrefixCleanup) {
    struct Row {
        const char* input;
        const char* expected;
    } rows[] = {
        {"\\\\?\\C:\\x", "C:\\x"}, {"C:\\x", "C:\\x"}, {"abcd:", "abcd:"},
        {"abcde:x", "abcde:x"},    {"", ""},           {"\\\\?\\D:\\a\\\\?\\E:\\b", "E:\\b"},
    };
    for (const Row& row : rows) {
        CAtlString path = W(row.input);
        CleanupPathNameBecauseWindowsHasBugs(path);
        EXPECT_EQ(N(path), row.expected) << row.input;
    }
}

TEST(PathClassesTest, ConstantsAndTraces) {
    EXPECT_EQ(N(COrvikFilePath::CS_TEMP_FILE_NAME_PREFIX), "SVLImageTemp");
    EXPECT_TRUE(COrvikDirectoryPath(W("/nonexistent/for/sure")).CanDirectoryBeWrittenTo());
}

class PathFileSystemTest : public pathtest::TempDirTest {};

TEST_F(PathFileSystemTest, ExistenceQuestions) {
    pathtest::MakeFile(Path("file.txt"));
    pathtest::MakeDir(Path("dir"));
    ASSERT_EQ(symlink("dir", Path("link").c_str()), 0);

    EXPECT_TRUE(COrvikDirectoryPath(WPath("dir")).DirectoryExists());
    EXPECT_TRUE(COrvikDirectoryPath(WPath("file.txt")).DirectoryExists()); // any item counts
    EXPECT_FALSE(COrvikDirectoryPath(WPath("missing")).DirectoryExists());
    EXPECT_TRUE(COrvikFilePath(WPath("file.txt")).FileExists());
    EXPECT_TRUE(COrvikFilePath(WPath("dir")).FileExists());
    EXPECT_FALSE(COrvikFilePath(WPath("missing")).FileExists());
    EXPECT_FALSE(COrvikFilePath(CAtlString()).FileExists());

    EXPECT_TRUE(COrvikFilePath(WPath("dir")).IsDirectory());
    EXPECT_TRUE(COrvikFilePath(WPath("link")).IsDirectory());
    EXPECT_FALSE(COrvikFilePath(WPath("file.txt")).IsDirectory());
    EXPECT_FALSE(COrvikFilePath(WPath("missing")).IsDirectory());
    EXPECT_FALSE(COrvikFilePath(WPath("dir")).IsExecutable());
    pathtest::MakeFile(Path("tool"), "#!/bin/sh\n", 0755);
    EXPECT_TRUE(COrvikFilePath(WPath("tool")).IsExecutable());
    EXPECT_FALSE(COrvikFilePath(WPath("file.txt")).IsExecutable());
    // The registry can't be asked about a missing item (-1), which counts as true.
    EXPECT_TRUE(COrvikFilePath(WPath("missing")).IsExecutable());
}

TEST_F(PathFileSystemTest, WritableFollowsTheReadOnlyAttribute) {
    pathtest::MakeFile(Path("rw"), "x", 0644);
    pathtest::MakeFile(Path("ro"), "x", 0444);
    EXPECT_TRUE(COrvikFilePath(WPath("rw")).CanFileBeWrittenTo());
    EXPECT_FALSE(COrvikFilePath(WPath("ro")).CanFileBeWrittenTo());
    EXPECT_TRUE(COrvikFilePath(WPath("missing")).CanFileBeWrittenTo());
}

TEST_F(PathFileSystemTest, DaysOldTruncatesAndTreatsFailureAsZero) {
    pathtest::MakeFile(Path("old"));
    pathtest::MakeFile(Path("future"));
    pathtest::MakeDir(Path("dir"));
    time_t now = time(nullptr);
    auto setMtime = [&](const std::string& p, time_t when) {
        struct timeval times[2] = {{when, 0}, {when, 0}};
        ASSERT_EQ(utimes(p.c_str(), times), 0);
    };
    setMtime(Path("old"), now - 3 * 86400 - 3600); // three days and an hour
    setMtime(Path("future"), now + 5 * 86400);
    setMtime(Path("dir"), now - 10 * 86400 - 60);
    EXPECT_EQ(COrvikFilePath(WPath("old")).GetNumberOfDaysOld(), 3);
    EXPECT_LE(COrvikFilePath(WPath("future")).GetNumberOfDaysOld(), -4);
    EXPECT_EQ(COrvikDirectoryPath(WPath("dir")).GetNumberOfDaysOld(), 10);
    EXPECT_EQ(COrvikFilePath(WPath("missing")).GetNumberOfDaysOld(), 0);
    EXPECT_EQ(COrvikDirectoryPath().GetNumberOfDaysOld(), 0);
}

TEST_F(PathFileSystemTest, FsRefFromString) {
    pathtest::MakeFile(Path("f"));
    FSRef ref;
    EXPECT_TRUE(GetFsRefFromString(WPath("f"), &ref));
    EXPECT_FALSE(GetFsRefFromString(WPath("missing"), &ref));
}

} // namespace
