#include <algorithm>
#include <string>
#include <vector>

#include "paths/PathClasses.h"
#include "resources/MessageBox.h"
#include "tests/paths/PathTestSupport.h"

namespace {

using pathtest::MakeDir;
using pathtest::MakeFile;
using pathtest::N;
using pathtest::W;
using Names = std::vector<std::string>;

template <class Array> Names NamesOf(Array& list) {
    Names out;
    for (unsigned long i = 0; i < list.m_nSize; ++i)
        out.push_back(N(list[i].GetDirectoryPathString()));
    return out;
}

// A second star directly after the first moves one name unit on before it takes effect,
// so n stars need at least n - 1 units.
TEST(MatchNamePatternTest, GreedyStarWithoutBacktracking) {
    const struct {
        const char *pattern, *name;
        bool matches;
    } rows[] = {{"", "", true},       {"*", "", true},      {"**", "", false},
                {"abc", "ab", false}, {"ab", "abc", false}, {"*.txt", "a.b.txt", false},
                {"*?", "ab", false},  {"*?", "a", true},    {"**", "ab", true}};
    for (const auto& row : rows)
        EXPECT_EQ(MatchNamePattern(W(row.pattern).GetString(), W(row.name).GetString()),
                  row.matches)
            << "pattern '" << row.pattern << "' name '" << row.name << "'";
    EXPECT_TRUE(MatchNamePattern(nullptr, nullptr));
}

class ListingTest : public pathtest::TempDirTest {
protected:
    Names List(const std::string& directory, const char* pattern, bool recursive,
               CDirectoryPathArray&& list = CDirectoryPathArray()) const {
        Dir(directory).ListSubDirectories(W(pattern), list, recursive);
        return NamesOf(list);
    }
    Names Files(const std::string& directory, const char* pattern) const {
        CFilePathArray list;
        Dir(directory).FindFilesInDirectory(W(pattern), list);
        Names out;
        for (unsigned long i = 0; i < list.m_nSize; ++i)
            out.push_back(N(list[i].GetFilePathString()));
        std::sort(out.begin(), out.end());
        return out;
    }
};

// Subdirectories sorted by last component; a recursive listing descends into every
// subdirectory, whatever the pattern, but never through a link. Files are every other entry,
// hidden ones and links included.
TEST_F(ListingTest, SubdirectoriesNeverThroughLinksAndFilesAreTheRest) {
    for (const char* d :
         {"r", "r/z", "r/a", "r/b.app.old", "r/b.app", "r/z/c.app", "elsewhere", "elsewhere/x.app"})
        MakeDir(Path(d));
    MakeFile(Path("r/.hidden"));
    MakeFile(Path("r/f\xe9")); // not UTF-8
    ASSERT_EQ(symlink("a", Path("r/link.app").c_str()), 0);
    ASSERT_EQ(symlink("..", Path("r/a/up").c_str()), 0);
    ASSERT_EQ(symlink(Path("elsewhere").c_str(), Path("r/out").c_str()), 0);
    ASSERT_EQ(mkfifo(Path("r/fifo").c_str(), 0644), 0);
    const std::string r = Path("r/");
    EXPECT_EQ(List("r", "*.app", true), (Names{r + "b.app", r + "z/c.app"}));
    // What the list held is sorted in, by last component, upper case first. A trailing
    // separator belongs to the last component: "/x/b/" sorts as "b/".
    CDirectoryPathArray list;
    list.Add(COrvikDirectoryPath(W("/q/ab")));
    list.Add(COrvikDirectoryPath(W("/x/b//")));
    list.Add(COrvikDirectoryPath(W("/q/B")));
    EXPECT_EQ(List("r", "*", false, std::move(list)),
              (Names{"/q/B", r + "a", "/q/ab", r + "b.app", r + "b.app.old", "/x/b/", r + "z"}));

    EXPECT_EQ(Files("r", "*"),
              (Names{r + ".hidden", r + "fifo", r + "f\xe9", r + "link.app", r + "out"}));
    EXPECT_EQ(Files("missing", "*"), Names{});
    CFilePathArray files; // the byte that is no UTF-8 comes back as its escape, and finds the file
    Dir("r").FindFilesInDirectory(W("f?"), files);
    ASSERT_EQ(files.m_nSize, 1u);
    EXPECT_TRUE(files[0].FileExists());
    EXPECT_EQ(files[0].GetFileName(), CAtlString(u"f\xDCE9"));
}

class TempNameTest : public pathtest::TempDirTest {
protected:
    void TearDown() override {
        COrvikDirectoryPath none;
        COrvikDirectoryPath::SetTempFileDirectoryPath(none);
        CScrivletEditionHelper::SetScrivletStudentMode(false);
        pathtest::TempDirTest::TearDown();
    }
    testsupport::ScopedEnv tmpdir_{"TMPDIR", getenv("TMPDIR")};
};

TEST_F(TempNameTest, FreeNamesAreComputedNeverCreatedAndWellKnownFolders) {
    COrvikDirectoryPath w = Dir("");
    COrvikDirectoryPath::SetTempFileDirectoryPath(w);
    EXPECT_EQ(N(COrvikFilePath::CreateTempFileName(W(".tmp"), CAtlString()).GetFilePathString()),
              Path("SVLTemp.tmp"));
    MakeFile(Path("x.log"));
    const std::string taken =
        N(COrvikFilePath::CreateTempFileName(W(".log"), W("x")).GetFilePathString());
    EXPECT_EQ(taken.substr(0, Path("x(").size()), Path("x(")); // a number in brackets
    EXPECT_FALSE(testsupport::Exists(taken));
    MakeDir(Path("New"));
    MakeFile(Path("New1")); // a file takes the name too
    EXPECT_EQ(
        N(COrvikDirectoryPath::CreateUniqueSubDirectoryPath(w, W("New")).GetDirectoryPathString()),
        Path("New2"));

    tmpdir_.Set(root_.c_str());
    const std::string top = Path("ORVIK Technologies/");
    auto app = [](const char* name) {
        return N(COrvikDirectoryPath::GetApplicationTempFileDirectoryPath(W(name))
                     .GetDirectoryPathString());
    };
    auto scrivlet = [] {
        return N(COrvikDirectoryPath::GetScrivletTempDirectoryPath().GetDirectoryPathString());
    };
    EXPECT_EQ(scrivlet(), top + "ORVIK Scrivlet");
    CScrivletEditionHelper::SetScrivletStudentMode(true);
    EXPECT_EQ(scrivlet(), top + "ORVIK Scrivlet SE");
    EXPECT_EQ(app("orvik scrivlet"), top + "ORVIK Scrivlet SE/TempFiles");
    EXPECT_EQ(app("Viewer"), top + "Viewer/TempFiles");
    EXPECT_FALSE(Exists("ORVIK Technologies"));
}

} // namespace
