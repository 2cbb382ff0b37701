#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "paths/PathClasses.h"
#include "resources/MessageBox.h"
#include "tests/paths/PathTestSupport.h"

namespace {

using pathtest::N;
using pathtest::W;

struct MatchRow {
    const char* pattern;
    const char* name;
    bool matches;
};

TEST(MatchNamePatternTest, GreedyStarWithoutBacktracking) {
    const MatchRow rows[] = {
        {"*", "anything", true},
        {"*", "a", true},
        {"a*", "abc", true},
        {"a*", "a", true},
        {"a*", "ba", false},
        {"*.txt", "a.txt", true},
        {"*.txt", "a.b.txt", false},
        {"*a", "ba", true},
        {"*a", "aba", false},
        {"?", "a", true},
        {"?", "ab", false},
        {"?", "", false},
        {"abc", "abc", true},
        {"abc", "abC", false},
        {"abc", "ab", false},
        {"ab", "abc", false},
        {"*.app", "Tool.app", true},
        {"*.app", "Tool.app.old", false},
        {"*.app", "My.Tool.app", false},
        {"T*", "Tool.app", true},
        {"a?c", "abc", true},
        {"a?c", "ac", false},
        {"*?", "ab", false},
        {"*?", "a", true},
        {"", "", true},
        {"", "a", false},
        {"*b*", "abc", true},
        {"x*", "", false},
        {"a\\*", "a\\b", true},
    };
    for (const MatchRow& row : rows)
        EXPECT_EQ(MatchNamePattern(W(row.pattern).GetString(), W(row.name).GetString()),
                  row.matches)
            << "pattern '" << row.pattern << "' name '" << row.name << "'";
}

TEST(MatchNamePatternTest, PatternsOfOnlyStars) {
    // A second star directly after the first moves one name unit on before it
    // takes effect, so n stars need at least n - 1 units.
    const MatchRow rows[] = {
        {"*", "", true},       {"**", "", false},   {"**", "a", true},    {"**", "ab", true},
        {"***", "a", false},   {"***", "ab", true}, {"***", "abc", true}, {"****", "ab", false},
        {"****", "abc", true}, {"**", "*", true},   {"*", "***", true},
    };
    for (const MatchRow& row : rows)
        EXPECT_EQ(MatchNamePattern(W(row.pattern).GetString(), W(row.name).GetString()),
                  row.matches)
            << "pattern '" << row.pattern << "' name '" << row.name << "'";
    std::string stars(5000, '*');
    EXPECT_TRUE(MatchNamePattern(W(stars).GetString(), W(std::string(4999, 'n')).GetString()));
    EXPECT_FALSE(MatchNamePattern(W(stars).GetString(), W(std::string(4998, 'n')).GetString()));
}

TEST(MatchNamePatternTest, NullPointersAreEmpty) {
    EXPECT_TRUE(MatchNamePattern(nullptr, nullptr));
    EXPECT_FALSE(MatchNamePattern(nullptr, u"a"));
    EXPECT_TRUE(MatchNamePattern(u"*", nullptr));
}

class ListingTest : public pathtest::TempDirTest {
protected:
    static std::vector<std::string> Names(const CDirectoryPathArray& list) {
        std::vector<std::string> out;
        for (unsigned long i = 0; i < list.m_nSize; ++i)
            out.push_back(N(list.m_pData[i].GetDirectoryPathString()));
        return out;
    }
    static std::vector<std::string> SortedNames(const CFilePathArray& list) {
        std::vector<std::string> out;
        for (unsigned long i = 0; i < list.m_nSize; ++i)
            out.push_back(N(list.m_pData[i].GetFilePathString()));
        std::sort(out.begin(), out.end());
        return out;
    }
};

TEST_F(ListingTest, SubdirectoriesSortedWithoutFiles) {
    pathtest::MakeDir(Path("r"));
    for (const char* d : {"c", "a", "b"})
        pathtest::MakeDir(Path("r/") + d);
    pathtest::MakeFile(Path("r/file"));
    ASSERT_EQ(symlink("a", Path("r/link-to-a").c_str()), 0);
    CDirectoryPathArray list;
    COrvikDirectoryPath(WPath("r")).ListSubDirectories(W("*"), list, false);
    EXPECT_EQ(Names(list), (std::vector<std::string>{Path("r/a"), Path("r/b"), Path("r/c")}));
}

TEST_F(ListingTest, RecursiveListingOrderedByLastComponent) {
    pathtest::MakeDir(Path("r"));
    pathtest::MakeDir(Path("r/z"));
    pathtest::MakeDir(Path("r/z/a"));
    pathtest::MakeDir(Path("r/b"));
    CDirectoryPathArray list;
    COrvikDirectoryPath(WPath("r")).ListSubDirectories(W("*"), list, true);
    EXPECT_EQ(Names(list), (std::vector<std::string>{Path("r/z/a"), Path("r/b"), Path("r/z")}));
}

TEST_F(ListingTest, PatternFiltersWhatIsReportedNotWhereItDescends) {
    pathtest::MakeDir(Path("r"));
    pathtest::MakeDir(Path("r/Tool.app"));
    pathtest::MakeDir(Path("r/Tool.app.old"));
    pathtest::MakeDir(Path("r/My.Tool.app"));
    pathtest::MakeDir(Path("r/other"));
    pathtest::MakeDir(Path("r/other/Deep.app"));
    CDirectoryPathArray apps;
    COrvikDirectoryPath(WPath("r")).ListSubDirectories(W("*.app"), apps, true);
    EXPECT_EQ(Names(apps),
              (std::vector<std::string>{Path("r/other/Deep.app"), Path("r/Tool.app")}));
    CDirectoryPathArray t;
    COrvikDirectoryPath(WPath("r")).ListSubDirectories(W("T*"), t, false);
    EXPECT_EQ(Names(t), (std::vector<std::string>{Path("r/Tool.app"), Path("r/Tool.app.old")}));
}

TEST_F(ListingTest, ExistingEntriesAreSortedInAndMissingDirectoryAddsNothing) {
    pathtest::MakeDir(Path("r"));
    pathtest::MakeDir(Path("r/x"));
    pathtest::MakeDir(Path("r/z"));
    CDirectoryPathArray list;
    list.Add(COrvikDirectoryPath(W("/q/y")));
    COrvikDirectoryPath(WPath("r")).ListSubDirectories(W("*"), list, false);
    EXPECT_EQ(Names(list), (std::vector<std::string>{Path("r/x"), "/q/y", Path("r/z")}));

    // Nothing to list: the list is neither changed nor sorted.
    CDirectoryPathArray unsorted;
    unsorted.Add(COrvikDirectoryPath(W("/b")));
    unsorted.Add(COrvikDirectoryPath(W("/a")));
    COrvikDirectoryPath(WPath("missing")).ListSubDirectories(W("*"), unsorted, true);
    pathtest::MakeFile(Path("plain"));
    COrvikDirectoryPath(WPath("plain")).ListSubDirectories(W("*"), unsorted, true);
    EXPECT_EQ(Names(unsorted), (std::vector<std::string>{"/b", "/a"}));
    CFilePathArray files;
    COrvikDirectoryPath(WPath("missing")).FindFilesInDirectory(W("*"), files);
    COrvikDirectoryPath().FindFilesInDirectory(W("*"), files);
    EXPECT_EQ(files.m_nSize, 0u);
}

TEST_F(ListingTest, FilesIncludeHiddenNamesAndLinksButNoDirectories) {
    pathtest::MakeDir(Path("r"));
    pathtest::MakeDir(Path("r/sub"));
    pathtest::MakeDir(Path("outside"));
    pathtest::MakeFile(Path("r/.hidden"));
    pathtest::MakeFile(Path("r/a.txt"));
    pathtest::MakeFile(Path("r/sub/deep.txt"));
    ASSERT_EQ(symlink(Path("outside").c_str(), Path("r/dirlink").c_str()), 0);
    ASSERT_EQ(symlink("nowhere", Path("r/dangling").c_str()), 0);
    ASSERT_EQ(mkfifo(Path("r/fifo").c_str(), 0644), 0);
    CFilePathArray files;
    COrvikDirectoryPath(WPath("r")).FindFilesInDirectory(W("*"), files);
    EXPECT_EQ(SortedNames(files),
              (std::vector<std::string>{Path("r/.hidden"), Path("r/a.txt"), Path("r/dangling"),
                                        Path("r/dirlink"), Path("r/fifo")}));
    CFilePathArray txt;
    COrvikDirectoryPath(WPath("r")).FindFilesInDirectory(W("*.txt"), txt);
    EXPECT_EQ(SortedNames(txt), (std::vector<std::string>{Path("r/a.txt")}));
}

TEST_F(ListingTest, RecursiveListingNeverDescendsThroughLinks) {
    pathtest::MakeDir(Path("r"));
    pathtest::MakeDir(Path("r/a"));
    ASSERT_EQ(symlink("..", Path("r/a/up").c_str()), 0); // a loop back to r
    pathtest::MakeDir(Path("elsewhere"));
    pathtest::MakeDir(Path("elsewhere/hidden"));
    ASSERT_EQ(symlink(Path("elsewhere").c_str(), Path("r/out").c_str()), 0);
    CDirectoryPathArray list;
    COrvikDirectoryPath(WPath("r")).ListSubDirectories(W("*"), list, true);
    EXPECT_EQ(Names(list), (std::vector<std::string>{Path("r/a")}));
}

TEST_F(ListingTest, NamesThatAreNotUtf8RoundTrip) {
    pathtest::MakeDir(Path("r"));
    std::string odd = "bad\xff\xfe name";
    pathtest::MakeDir(Path("r/") + odd);
    pathtest::MakeFile(Path("r/") + odd + "/f\xe9");
    CDirectoryPathArray list;
    COrvikDirectoryPath(WPath("r")).ListSubDirectories(W("*"), list, false);
    ASSERT_EQ(list.m_nSize, 1u);
    CFilePathArray files;
    list[0].FindFilesInDirectory(W("*"), files);
    ASSERT_EQ(files.m_nSize, 1u);
    EXPECT_TRUE(files[0].FileExists());
    CAtlString name = files[0].GetFileName();
    ASSERT_EQ(name.GetLength(), 2);
    EXPECT_EQ(name.GetAt(1), 0xDCE9); // the lone byte kept as its escape
}

TEST_F(ListingTest, DeepTreeBeyondOnePathBuffer) {
    // 180 levels of 30-byte names: longer than one system path.
    ASSERT_NE(testsupport::MakeDeepTree(
                  Path("deep"), 180, [](int) { return std::string(30, 'd'); },
                  [](int) { return std::string(); }),
              "");
    CDirectoryPathArray list;
    COrvikDirectoryPath(WPath("deep")).ListSubDirectories(W("*"), list, true);
    EXPECT_EQ(list.m_nSize, 180u);
}

TEST_F(ListingTest, SortPathsAndCompareByLastComponent) {
    CDirectoryPathArray list;
    for (const char* p : {"/z/b", "/a/c", "/y/B", "/x/a"})
        list.Add(COrvikDirectoryPath(W(p)));
    COrvikDirectoryPath().SortPaths(list);
    EXPECT_EQ(Names(list), (std::vector<std::string>{"/y/B", "/x/a", "/z/b", "/a/c"}));
    COrvikDirectoryPath a(W("/q/a")), b(W("/a/b"));
    EXPECT_LT(compareDirfunc(&a, &b), 0);
    EXPECT_GT(compareDirfunc(&b, &a), 0);
    EXPECT_EQ(compareDirfunc(&a, &a), 0);
    // Read in place, the order is the one of the names taken out and compared.
    const char16_t* paths[] = {u"/r/ab", u"/r/a", u"/ab",  u"a",    u"",       u"/",     u"/r/é",
                               u"/r/e",  u"/r/😀", u"/r/�", u"/r/A", u"/r/a.b", u"/r/a-b"};
    for (const char16_t* x : paths) {
        for (const char16_t* y : paths) {
            COrvikDirectoryPath left{CAtlString(x)}, right{CAtlString(y)};
            const int expected = left.GetLastDirectoryName().Compare(right.GetLastDirectoryName());
            EXPECT_EQ(compareDirfunc(&left, &right), expected)
                << left.GetDirectoryPathStringA().GetString() << " vs "
                << right.GetDirectoryPathStringA().GetString();
        }
    }
}

class TempNameTest : public pathtest::TempDirTest {
protected:
    void TearDown() override {
        COrvikDirectoryPath none;
        COrvikDirectoryPath::SetTempFileDirectoryPath(none);
        CScrivletEditionHelper::SetScrivletStudentMode(false);
        pathtest::TempDirTest::TearDown();
    }
    void UseTmpDir(const std::string& dir) { tmpdir_.Set(dir.c_str()); }
    testsupport::ScopedEnv tmpdir_{"TMPDIR", getenv("TMPDIR")};
};

TEST_F(TempNameTest, TemporaryFileNamesInTheOverrideDirectory) {
    pathtest::MakeDir(Path("w"));
    COrvikDirectoryPath w(WPath("w"));
    COrvikDirectoryPath::SetTempFileDirectoryPath(w);
    EXPECT_EQ(N(COrvikDirectoryPath::GetTempFileDirectoryPath().GetDirectoryPathString()),
              Path("w"));
    COrvikFilePath first = COrvikFilePath::CreateTempFileName(W(".tmp"), CAtlString());
    EXPECT_EQ(N(first.GetFilePathString()), Path("w/SVLTemp.tmp"));
    EXPECT_FALSE(first.FileExists()); // nothing is created

    pathtest::MakeFile(Path("w/SVLTemp.tmp"));
    std::string second =
        N(COrvikFilePath::CreateTempFileName(W(".tmp"), CAtlString()).GetFilePathString());
    std::string prefix = Path("w/SVLTemp(");
    ASSERT_EQ(second.compare(0, prefix.size(), prefix), 0) << second;
    ASSERT_GE(second.size(), prefix.size() + 6);
    EXPECT_EQ(second.substr(second.size() - 5), ").tmp");
    std::string number = second.substr(prefix.size(), second.size() - prefix.size() - 5);
    EXPECT_EQ(number.find_first_not_of("0123456789"), std::string::npos) << number;
    EXPECT_FALSE(pathtest::Exists(second));

    COrvikFilePath named = COrvikFilePath::CreateTempFileName(W(".log"), W("Base"));
    EXPECT_EQ(N(named.GetFilePathString()), Path("w/Base.log"));
    EXPECT_EQ(N(w.CreateTempFileNameInDirectory(W("x"), W("")).GetFilePathString()), Path("w/x"));
}

TEST_F(TempNameTest, UniqueSubdirectoryNames) {
    pathtest::MakeDir(Path("d"));
    COrvikDirectoryPath d(WPath("d"));
    EXPECT_EQ(
        N(COrvikDirectoryPath::CreateUniqueSubDirectoryPath(d, W("New")).GetDirectoryPathString()),
        Path("d/New"));
    pathtest::MakeDir(Path("d/New"));
    pathtest::MakeFile(Path("d/New1")); // a file takes the name too
    EXPECT_EQ(
        N(COrvikDirectoryPath::CreateUniqueSubDirectoryPath(d, W("New")).GetDirectoryPathString()),
        Path("d/New2"));
    EXPECT_FALSE(pathtest::Exists(Path("d/New2")));
}

TEST_F(TempNameTest, WellKnownFoldersBelowTheTemporaryDirectory) {
    pathtest::MakeDir(Path("u"));
    UseTmpDir(Path("u"));
    EXPECT_EQ(N(COrvikDirectoryPath::GetTempDirectoryPath().GetDirectoryPathString()), Path("u"));
    EXPECT_EQ(N(COrvikDirectoryPath::GetTempFileDirectoryPath().GetDirectoryPathString()),
              Path("u"));
    EXPECT_EQ(N(COrvikDirectoryPath::GetORVIKDirectoryPath().GetDirectoryPathString()),
              Path("u/ORVIK Technologies"));
    EXPECT_EQ(N(COrvikDirectoryPath::GetScrivletTempDirectoryPath().GetDirectoryPathString()),
              Path("u/ORVIK Technologies/ORVIK Scrivlet"));
    EXPECT_EQ(N(COrvikDirectoryPath::GetApplicationTempFileDirectoryPath(W("Viewer"))
                    .GetDirectoryPathString()),
              Path("u/ORVIK Technologies/Viewer/TempFiles"));
    EXPECT_EQ(N(COrvikDirectoryPath::GetApplicationTempFileDirectoryPath(W("orvik scrivlet"))
                    .GetDirectoryPathString()),
              Path("u/ORVIK Technologies/orvik scrivlet/TempFiles"));
    EXPECT_EQ(N(COrvikDirectoryPath::GetApplicationTempFileDirectoryPath(CAtlString())
                    .GetDirectoryPathString()),
              Path("u/ORVIK Technologies/TempFiles"));

    CScrivletEditionHelper::SetScrivletStudentMode(true);
    EXPECT_EQ(N(COrvikDirectoryPath::GetScrivletTempDirectoryPath().GetDirectoryPathString()),
              Path("u/ORVIK Technologies/ORVIK Scrivlet SE"));
    EXPECT_EQ(N(COrvikDirectoryPath::GetApplicationTempFileDirectoryPath(W("orvik scrivlet"))
                    .GetDirectoryPathString()),
              Path("u/ORVIK Technologies/ORVIK Scrivlet SE/TempFiles"));
    EXPECT_EQ(N(COrvikDirectoryPath::GetApplicationTempFileDirectoryPath(W("Viewer"))
                    .GetDirectoryPathString()),
              Path("u/ORVIK Technologies/Viewer/TempFiles"));
    EXPECT_FALSE(pathtest::Exists(Path("u/ORVIK Technologies"))); // computed, never created
}

} // namespace
