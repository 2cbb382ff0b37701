#include "paths/PathClasses.h"

#include <sys/time.h>

#include <ctime>
#include <string>
#include <tuple>

#include "tests/paths/PathTestSupport.h"

namespace {

using pathtest::N;
using pathtest::W;

std::string DirText(const COrvikDirectoryPath& path) {
    return N(path.GetDirectoryPathString());
}

TEST(PathClassesTest, NormalFormEditingEqualityAndSubdirectories) {
    for (auto [input, expected] :
         {std::pair{"C:\\dir\\sub\\", "C:/dir/sub"}, {"/a//", "/a/"}, {"", ""}, {"a", "a"}})
        EXPECT_EQ(N(FixFilePathForPlatform(W(input))), expected) << input;
    COrvikDirectoryPath path;
    path.AddDirectoryToPath(W("Library"));
    path.AddDirectoryToPath(CAtlString());
    path.AddDirectoryToPath(W("a\\b\\"));
    EXPECT_EQ(DirText(path), "/Library/a/b");
    EXPECT_EQ(N(path.CreateFilePath(W("s\\f")).GetFilePathString()), "/Library/a/b/s/f");
    EXPECT_TRUE(path.RemoveLastSubdirectoryFromPath());
    EXPECT_EQ(DirText(path), "/Library/a");
    EXPECT_FALSE(COrvikDirectoryPath(W("abc")).RemoveLastSubdirectoryFromPath());
    const COrvikDirectoryPath ab(W("/a/b"));
    EXPECT_TRUE(ab.IsEqualPath(COrvikDirectoryPath(W("/A/B"))));
    EXPECT_TRUE(ab.IsEqualPath(COrvikFilePath(W("/A/b"))));
    EXPECT_TRUE(COrvikFilePath(W("/a/B")).IsEqualPath(ab));
    for (auto [child, parent, below] : {std::tuple{"/a/bc", "/a/b", true},
                                        {"/a/b", "/a/b", true},
                                        {"/a", "/a/b", false},
                                        {"", "/a/b", false},
                                        {"/x/b", "/a/b", false}})
        EXPECT_EQ(COrvikDirectoryPath(W(child)).IsSubdirectoryOf(W(parent)), below)
            << child << " below " << parent;
}

TEST(PathClassesTest, FileNamePartsExtensionsAndFileUrls) {
    // Path, name, base name, extension, folder.
    for (auto [path, name, base, extension, folder] :
         {std::tuple{"abc", "abc", "abc", "", ""},
          {"/x/archive.tar.gz", "archive.tar.gz", "archive.tar", ".gz", "/x"},
          {"/a.b/c", "c", "c", "", "/a.b"},
          {"/f.", "f.", "f", ".", ""}}) {
        COrvikFilePath file(W(path));
        EXPECT_EQ(N(file.GetFileName()), name) << path;
        EXPECT_EQ(N(file.GetBaseFileName()), base) << path;
        EXPECT_EQ(N(file.GetFileExtension()), extension) << path;
        EXPECT_EQ(DirText(file.GetDirectoryPath()), folder) << path;
        file.RenameFileExtension(W(".doc"));
        EXPECT_EQ(N(file.GetFileName()), base + std::string(".doc")) << path;
    }
    EXPECT_TRUE(COrvikFilePath(W("/d/L.LNK")).IsShortCut());
    EXPECT_TRUE(COrvikFilePath(W("/d/S.Url")).IsURLShortCut());
    EXPECT_FALSE(COrvikFilePath(W("/d/L.lnk")).IsURLShortCut());
    for (auto [url, path] : {std::pair{"file:", ""}, {"xfile:///a%20b/", "/a%20b"}}) {
        COrvikFilePath file(W("/keep"));
        EXPECT_TRUE(file.createFromFileURL(W(url))) << url;
        EXPECT_EQ(N(file.GetFilePathString()), path) << url;
    }
    COrvikFilePath kept(W("/keep"));
    EXPECT_FALSE(kept.createFromFileURL(W("FILE:///a")));
    EXPECT_EQ(N(kept.GetFilePathString()), "/keep");
}

TEST(PathClassesTest, CrossPlatformChecksAndFixes) {
    // Only a drive's colon is allowed in a path; names take none. Path, valid, fixed.
    for (auto [input, valid, fixed] : {std::tuple{"C:\\a\\b", true, "C:\\a\\b"},
                                       {"C:\\a:b", false, "C:\\ab"},
                                       {"ab:\\y", false, "ab\\y"},
                                       {"a|b>c<d?e*f\"g", false, "abcdefg"}}) {
        EXPECT_EQ(FilePathIsValidForAllPlatforms(W(input)), valid) << input;
        CAtlString path = W(input);
        FixFilePathInvalidCharacters(path);
        EXPECT_EQ(N(path), fixed) << input;
    }
    EXPECT_EQ(N(COrvikFilePath::MakeNameLegal(W("a<b>:c/d\\e|f?g*h\"i"))), "abcdefghi");
    COrvikDirectoryPath directory(W("/d:x/a?b"));
    directory.MakeValidForCrossPlatform();
    EXPECT_EQ(DirText(directory), "/dx/ab");
    EXPECT_TRUE(COrvikFilePath(W("/d:x/ok.txt")).IsValidForCrossPlatform());
    EXPECT_FALSE(COrvikFilePath(W("/d/no:.txt")).IsValidForCrossPlatform());
    for (auto [input, expected] : {std::pair{"/d/?*", "/d/untitled"},
                                   {"/d/a:b|c", "/d/abc"},
                                   {"/d/.x", "/d/untitled.x"},
                                   {"name", "/name"}}) {
        COrvikFilePath path(W(input));
        path.MakeValidForCrossPlatform(W("untitled"));
        EXPECT_EQ(N(path.GetFilePathString()), expected) << input;
    }
    // Keeps from the drive letter of the last colon when it lies past index 3.
    for (auto [input, expected] :
         {std::pair{"abc:\\x", "abc:\\x"}, {"abcd:\\x", "d:\\x"}, {"abcd:", "abcd:"}}) {
        CAtlString path = W(input);
        CleanupPathNameBecauseWindowsHasBugs(path);
        EXPECT_EQ(N(path), expected) << input;
    }
}

class PathFileSystemTest : public pathtest::TempDirTest {};

TEST_F(PathFileSystemTest, QuestionsToTheFileSystem) {
    // What this layer adds to the file system's answers. The registry can't be asked about a
    // missing item (-1), which counts as executable; a folder never does.
    pathtest::MakeFile(Path("ro"), "x", 0444);
    pathtest::MakeDir(Path("dir"));
    EXPECT_FALSE(File("dir").IsExecutable());
    EXPECT_TRUE(File("missing").IsExecutable());
    EXPECT_FALSE(File("ro").CanFileBeWrittenTo());
    EXPECT_TRUE(File("missing").CanFileBeWrittenTo());
    EXPECT_FALSE(COrvikFilePath().FileExists());
    EXPECT_FALSE(COrvikDirectoryPath(W("/")).DirectoryExists()); // the empty path
    const time_t old = time(nullptr) - 3 * 86400 - 3600;         // three days and an hour
    struct timeval times[2] = {{old, 0}, {old, 0}};
    ASSERT_EQ(utimes(Path("dir").c_str(), times), 0);
    EXPECT_EQ(File("dir").GetNumberOfDaysOld(), 3);
    EXPECT_EQ(File("missing").GetNumberOfDaysOld(), 0);
}

} // namespace
