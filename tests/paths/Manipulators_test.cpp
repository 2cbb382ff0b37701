#include "paths/Manipulators.h"

#include <string>

#include "tests/paths/PathTestSupport.h"

namespace {

using pathtest::MakeDir;
using pathtest::MakeFile;
using pathtest::N;
using pathtest::W;

class ManipulatorTest : public pathtest::TempDirTest {};

// ---- Removing trees ------------------------------------------------------

// Emptying: read-only files, links out of the tree and back up it (links to files and to
// nowhere show end to end). The folder itself stays, and nothing a link points to goes.
TEST_F(ManipulatorTest, EmptyingATreeNeverReachesThroughALink) {
    for (const char* d : {"outside", "t", "t/a", "t/a/b"})
        MakeDir(Path(d));
    MakeFile(Path("outside/precious"), "keep me", 0444);
    MakeFile(Path("t/a/b/deep"), "d", 0400);
    for (const auto& [link, target] : {std::pair{"t/a/b/out", Path("outside")},
                                       {"t/a/b/loop", std::string("../..")},
                                       {"link", Path("outside")}})
        ASSERT_EQ(symlink(target.c_str(), Path(link).c_str()), 0) << link;
    const std::string outside = testsupport::Fingerprint(Path("outside"));
    EXPECT_TRUE(CDirectoryManipulator::RemoveAllFilesAndSubDirectories(Dir("t")));
    EXPECT_EQ(rmdir(Path("t").c_str()), 0) << "t is missing or was not emptied";
    EXPECT_TRUE(CDirectoryManipulator::RemoveAllFilesAndSubDirectories(Dir("link")));
    EXPECT_TRUE(testsupport::IsLink(Path("link")));
    EXPECT_EQ(testsupport::Fingerprint(Path("outside")), outside);
}

// A link named for removal goes as a link; a pattern removes only the files it matches.
TEST_F(ManipulatorTest, RemovingAndCreatingFoldersAndFiles) {
    MakeDir(Path("d"));
    MakeFile(Path("d/a.log"), "x", 0444);
    MakeFile(Path("d/c.txt"));
    ASSERT_EQ(symlink(Path("d").c_str(), Path("link").c_str()), 0);
    EXPECT_EQ(CDirectoryManipulator::RemoveDirectoryAndContents(Dir("link")), TRUE);
    EXPECT_FALSE(Exists("link"));
    EXPECT_TRUE(CDirectoryManipulator::RemoveFilesFromDirectory(Dir("d"), W("*.log")));
    EXPECT_FALSE(Exists("d/a.log"));
    EXPECT_TRUE(Exists("d/c.txt"));
    EXPECT_EQ(CDirectoryManipulator::RemoveDirectory(Dir("missing")), TRUE);
    EXPECT_EQ(CFileManipulator::DeleteFile(File("missing")), TRUE);
    EXPECT_TRUE(CDirectoryManipulator::CreateDirectory(Dir("a/b/c")));
    EXPECT_TRUE(testsupport::IsDir(Path("a/b/c")));
    MakeFile(Path("file"));
    EXPECT_TRUE(CDirectoryManipulator::CreateDirectory(Dir("file"))); // something is there
    EXPECT_FALSE(CDirectoryManipulator::CreateDirectory(Dir("file/below")));
    EXPECT_FALSE(CDirectoryManipulator::CreateDirectory(COrvikDirectoryPath()));
}

// Names the normal form can't reach (a backslash becomes a separator) stay, and so does
// the folder holding them: a failure. "x\..\.." spells a path two levels up, which must
// never be what goes instead.
TEST_F(ManipulatorTest, EntriesItCannotNameStayAndTheRemovalFails) {
    for (const char* d : {"t", "t/sub", "t/sub/deep", "t/sub/x\\..\\.."})
        MakeDir(Path(d));
    MakeFile(Path("t/canary"), "c");
    MakeFile(Path("t/sub/x\\..\\..\\canary"));
    MakeFile(Path("t/sub/deep/plain"));
    EXPECT_EQ(CDirectoryManipulator::RemoveDirectoryAndContents(Dir("t/sub")), FALSE);
    EXPECT_TRUE(Exists("t/sub/x\\..\\..\\canary"));
    EXPECT_FALSE(Exists("t/sub/deep"));
    EXPECT_EQ(Read("t/canary"), "c");
}

// ---- Content -------------------------------------------------------------

// Each row one distinct outcome on an existing "abc": in place, truncated, appended, refused.
TEST_F(ManipulatorTest, OpenModesAsFopenHasThem) {
    for (auto [mode, after] : {std::pair{"r+", "Xbc"}, {"w", "X"}, {"a+", "abcX"}, {"wx", "abc"}}) {
        MakeFile(Path("f"), "abc");
        FILE* stream = CFileManipulator::OpenFile(File("f"), mode);
        EXPECT_EQ(stream != nullptr, mode != std::string("wx")) << mode;
        if (stream != nullptr) {
            fputs("X", stream);
            fclose(stream);
        }
        EXPECT_EQ(Read("f"), after) << mode;
    }
    EXPECT_EQ(CFileManipulator::OpenFile(File("f"), ""), nullptr);
}

TEST_F(ManipulatorTest, ReadTextAfterAPrefix) {
    MakeDir(Path("dir"));
    ASSERT_EQ(mkfifo(Path("fifo").c_str(), 0644), 0); // refused at once, never waited on
    MakeFile(Path("w"), "def");
    for (auto [file, result, read] : {std::tuple{"w", S_OK, "abcdef"},
                                      {"dir", E_UNEXPECTED, "abc"},
                                      {"fifo", E_INVALIDARG, "old"}}) {
        CAtlStringA text("old");
        EXPECT_EQ(CFileManipulator::ReadAsciiFileIntoAsciiString(File(file), text, "abc"), result)
            << file;
        EXPECT_STREQ(text.GetString(), read) << file;
    }
    for (auto [file, size] : {std::pair{"w", 3ul}, {"dir", 0xFFFFFFFFul}, {"fifo", 0xFFFFFFFFul}})
        EXPECT_EQ(File(file).GetFileSize(), size) << file;
}

// ---- Shortcuts -----------------------------------------------------------

// Written over a longer file, never into a folder or through a link.
TEST_F(ManipulatorTest, PlainShortcuts) {
    COrvikFilePath target(W("/Applications\\Some App/t\xe9st.app/"));
    MakeFile(Path("s.lnk"), "a longer earlier content");
    MakeFile(Path("kept"), "keep");
    ASSERT_EQ(symlink(Path("kept").c_str(), Path("link.lnk").c_str()), 0);
    MakeDir(Path("dir.lnk"));
    EXPECT_EQ(CFileManipulator::CreateShortcut(File("s.lnk"), target), S_OK);
    EXPECT_EQ(Read("s.lnk"), "/Applications/Some App/t\xc3\xa9st.app");
    EXPECT_TRUE(CFileManipulator::ResolveShortcut(File("s.lnk")).IsEqualPath(target));
    for (const char* refused : {"link.lnk", "dir.lnk"})
        EXPECT_EQ(CFileManipulator::CreateShortcut(File(refused), target), E_INVALIDARG) << refused;
    EXPECT_EQ(Read("kept"), "keep");
    EXPECT_EQ(CFileManipulator::WriteAsciiStringToFile(File("w"), "abc", 0), E_INVALIDARG);
    EXPECT_EQ(CFileManipulator::WriteAsciiStringToFile(File("w"), nullptr, 3), E_INVALIDARG);
    EXPECT_FALSE(Exists("w"));
    MakeFile(Path("empty.lnk"), "");
    for (const char* none : {"missing.lnk", "empty.lnk"})
        EXPECT_TRUE(CFileManipulator::ResolveShortcut(File(none)).IsEmptyPath()) << none;
}

TEST_F(ManipulatorTest, InternetShortcutIsWrittenOnceInTheSectionForm) {
    MakeFile(Path("existing.url"), "keep");
    ASSERT_EQ(symlink(Path("elsewhere").c_str(), Path("dangling.url").c_str()), 0);
    for (auto [url, file, result, content] :
         {std::tuple{" www.a.b ", "a.url", S_OK, "[InternetShortcut]\nURL=http://www.a.b\n"},
          {"http://x", "existing.url", S_OK, "keep"},
          {"", "none.url", E_INVALIDARG, ""},
          {"http://x", "dangling.url", E_INVALIDARG, ""}}) {
        EXPECT_EQ(CFileManipulator::CreateURLShortcut(W(url), File(file)), result) << file;
        EXPECT_EQ(Read(file), content) << file;
    }
    EXPECT_FALSE(Exists("elsewhere")); // never written through a link
}

TEST_F(ManipulatorTest, InternetShortcutReading) {
    for (auto [content, url] :
         {std::pair{"[InternetShortcut]\r\nURL=\"http://a/b\"\r\n", "http://a/b"},
          {" [InternetShortcut]\r\nURL=\"http://a/b\"\r\n", ""},
          {"<dict>\n<key>URL</key>\n\t<string>http://a/b</string>\n</dict>", "http://a/b"},
          {"<key>URL</key>\n\t<string>http://a/b</string>", ""},
          {"[InternetShortcut]\nIconIndex=0\n", ""}}) {
        MakeFile(Path("r.url"), content);
        EXPECT_EQ(N(CFileManipulator::ResolveURLShortcut(File("r.url"))), url) << content;
    }
    EXPECT_TRUE(CFileManipulator::ResolveURLShortcut(File("missing.url")).IsEmpty());
}

// ---- Copying -------------------------------------------------------------

TEST_F(ManipulatorTest, RecursiveCopyAndMove) {
    EXPECT_EQ(CDirectoryManipulator::RecursivelyCopyDirectory(Dir("missing"), Dir("copy"), false),
              E_FAIL);
    for (const char* d : {"src", "src/sub"})
        MakeDir(Path(d));
    MakeFile(Path("src/a"), "A");
    MakeFile(Path("src/sub/c"), "C");
    MakeDir(Path("copy"));
    MakeFile(Path("copy/a"), "old");
    EXPECT_EQ(CDirectoryManipulator::RecursivelyCopyDirectory(Dir("src"), Dir("copy"), false),
              S_OK);
    EXPECT_EQ(Read("copy/a"), "A"); // replaced
    EXPECT_EQ(Read("copy/sub/c"), "C");

    EXPECT_EQ(CDirectoryManipulator::RecursivelyCopyDirectory(Dir("src"), Dir("moved/in"), true),
              S_OK);
    EXPECT_EQ(Read("moved/in/sub/c"), "C");
    EXPECT_FALSE(Exists("src/sub/c"));
    EXPECT_TRUE(Exists("src/sub")); // folders stay behind
    EXPECT_EQ(CFileManipulator::CopyFileTo(File("copy/a"), Dir("moved"), true), TRUE);
    EXPECT_EQ(Read("moved/a"), "A");
}

} // namespace
