#include "paths/Manipulators.h"

#include <string>
#include <vector>

#include "tests/paths/PathTestSupport.h"

namespace {

using pathtest::MakeDir;
using pathtest::MakeFile;
using pathtest::N;
using pathtest::W;

class ManipulatorTest : public pathtest::TempDirTest {};

// ---- Removing trees ------------------------------------------------------

// Emptying: read-only files, links out of the tree, back up it and to nowhere. The folder
// itself stays, and nothing a link points to goes.
TEST_F(ManipulatorTest, EmptyingATreeNeverReachesThroughALink) {
    for (const char* d : {"outside", "t", "t/a", "t/a/b"})
        MakeDir(Path(d));
    MakeFile(Path("outside/precious"), "keep me", 0444);
    MakeFile(Path("t/a/b/deep"), "d", 0400);
    for (const auto& [link, target] : {std::pair{"t/a/b/out", Path("outside")},
                                       {"t/a/file", Path("outside/precious")},
                                       {"t/a/b/loop", std::string("../..")},
                                       {"t/a/dangling", std::string("nowhere")},
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
TEST_F(ManipulatorTest, RemovingFoldersAndFiles) {
    MakeDir(Path("d"));
    MakeDir(Path("empty"));
    MakeFile(Path("d/a.log"), "x", 0444);
    MakeFile(Path("d/c.txt"));
    ASSERT_EQ(symlink(Path("d").c_str(), Path("link").c_str()), 0);
    EXPECT_EQ(CDirectoryManipulator::RemoveDirectoryAndContents(Dir("link")), TRUE);
    EXPECT_FALSE(Exists("link"));
    EXPECT_TRUE(CDirectoryManipulator::RemoveFilesFromDirectory(Dir("d"), W("*.log")));
    EXPECT_FALSE(Exists("d/a.log"));
    EXPECT_TRUE(Exists("d/c.txt"));
    EXPECT_EQ(CDirectoryManipulator::RemoveDirectory(Dir("d")), FALSE); // not empty
    EXPECT_EQ(CDirectoryManipulator::RemoveDirectory(Dir("empty")), TRUE);
    EXPECT_FALSE(Exists("empty"));
    EXPECT_EQ(CDirectoryManipulator::RemoveDirectory(Dir("empty")), TRUE); // gone already
    EXPECT_EQ(CFileManipulator::DeleteFile(File("d/c.txt")), TRUE);
    EXPECT_FALSE(Exists("d/c.txt"));
    EXPECT_EQ(CFileManipulator::DeleteFile(File("missing")), TRUE);
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

TEST_F(ManipulatorTest, CreateDirectoryMakesMissingParents) {
    EXPECT_TRUE(CDirectoryManipulator::CreateDirectory(Dir("a/b/c")));
    EXPECT_TRUE(testsupport::IsDir(Path("a/b/c")));
    MakeFile(Path("file"));
    EXPECT_TRUE(CDirectoryManipulator::CreateDirectory(Dir("file"))); // something is there
    EXPECT_FALSE(CDirectoryManipulator::CreateDirectory(Dir("file/below")));
    EXPECT_FALSE(CDirectoryManipulator::CreateDirectory(COrvikDirectoryPath()));
}

// ---- Content -------------------------------------------------------------

TEST_F(ManipulatorTest, OpenModesAsFopenHasThem) {
    const struct {
        const char *mode, *before, *after; // null: no file before; no stream
    } rows[] = {{"r", "abc", "abc"},     {"r+", "abc", "Xbc"}, {"w", "abc", "X"},
                {"wx", "abc", nullptr},  {"wx", nullptr, "X"}, {"a+", "abc", "abcX"},
                {"r", nullptr, nullptr}, {"", "abc", nullptr}};
    for (const auto& row : rows) {
        const std::string trace = std::string(row.mode) + (row.before ? " existing" : " new");
        unlink(Path("f").c_str());
        if (row.before)
            MakeFile(Path("f"), row.before);
        FILE* stream = CFileManipulator::OpenFile(File("f"), row.mode);
        EXPECT_EQ(stream != nullptr, row.after != nullptr) << trace;
        if (stream != nullptr) {
            fputs("X", stream);
            fclose(stream);
        }
        EXPECT_EQ(Read("f"), row.after ? row.after : row.before ? row.before : "") << trace;
    }
    EXPECT_EQ(CFileManipulator::OpenFile(File("f"), nullptr), nullptr);
}

TEST_F(ManipulatorTest, WriteAndReadText) {
    MakeDir(Path("dir"));
    ASSERT_EQ(mkfifo(Path("fifo").c_str(), 0644), 0); // refused at once, never waited on
    MakeFile(Path("target"), "keep");
    ASSERT_EQ(symlink(Path("target").c_str(), Path("link").c_str()), 0);
    const struct {
        const char *file, *data;
        unsigned length;
        HRESULT result;
        const char* content;
    } writes[] = {{"w", "abc", 0, E_INVALIDARG, ""},   {"w", nullptr, 3, E_INVALIDARG, ""},
                  {"dir", "abc", 3, E_INVALIDARG, ""}, {"link", "evil", 4, E_INVALIDARG, "keep"},
                  {"w", "long", 4, S_OK, "long"},      {"w", "def", 3, S_OK, "def"}};
    for (const auto& row : writes) {
        EXPECT_EQ(CFileManipulator::WriteAsciiStringToFile(File(row.file), row.data, row.length),
                  row.result)
            << row.file << " " << row.length;
        EXPECT_EQ(Read(row.file), row.content) << row.file << " " << row.length;
    }
    MakeFile(Path("empty"), "");
    const struct {
        const char *file, *prefix;
        HRESULT result;
        const char* text;
    } reads[] = {{"w", "abc", S_OK, "abcdef"},
                 {"w", nullptr, S_OK, "def"},
                 {"empty", "p", S_OK, "p"},
                 {"dir", "pre", E_UNEXPECTED, "pre"},
                 {"fifo", "x", E_INVALIDARG, "old"}};
    for (const auto& row : reads) {
        CAtlStringA text("old");
        EXPECT_EQ(CFileManipulator::ReadAsciiFileIntoAsciiString(File(row.file), text, row.prefix),
                  row.result)
            << row.file;
        EXPECT_STREQ(text.GetString(), row.text) << row.file;
    }
    unsigned char* buffer = nullptr;
    EXPECT_EQ(CFileManipulator::ReadFileIntoBuffer(File("w"), &buffer), 3ul);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 3), "def");
    delete[] buffer;
    for (auto [file, size] :
         {std::pair{"w", 3ul}, {"empty", 0ul}, {"dir", 0xFFFFFFFFul}, {"fifo", 0xFFFFFFFFul}})
        EXPECT_EQ(File(file).GetFileSize(), size) << file;
}

// ---- Shortcuts -----------------------------------------------------------

TEST_F(ManipulatorTest, PlainShortcuts) {
    COrvikFilePath target(W("/Applications\\Some App/t\xe9st.app/"));
    EXPECT_EQ(CFileManipulator::CreateShortcut(File("s.lnk"), target), S_OK);
    EXPECT_EQ(Read("s.lnk"), "/Applications/Some App/t\xc3\xa9st.app");
    EXPECT_TRUE(CFileManipulator::ResolveShortcut(File("s.lnk")).IsEqualPath(target));
    MakeFile(Path("empty.lnk"), "");
    for (const char* none : {"missing.lnk", "empty.lnk"})
        EXPECT_TRUE(CFileManipulator::ResolveShortcut(File(none)).IsEmptyPath()) << none;
}

TEST_F(ManipulatorTest, InternetShortcutIsWrittenOnceInTheSectionForm) {
    MakeFile(Path("existing.url"), "keep");
    MakeDir(Path("dir.url"));
    ASSERT_EQ(symlink(Path("elsewhere").c_str(), Path("dangling.url").c_str()), 0);
    const struct {
        const char *url, *file;
        HRESULT result;
        const char* content;
    } rows[] = {{" www.a.b ", "a.url", S_OK, "[InternetShortcut]\nURL=http://www.a.b\n"},
                {"http://x", "existing.url", S_OK, "keep"},
                {"", "none.url", E_INVALIDARG, ""},
                {"http://x", "dir.url", E_INVALIDARG, ""},
                {"http://x", "dangling.url", E_INVALIDARG, ""}};
    for (const auto& row : rows) {
        EXPECT_EQ(CFileManipulator::CreateURLShortcut(W(row.url), File(row.file)), row.result)
            << row.file;
        EXPECT_EQ(Read(row.file), row.content) << row.file;
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
    EXPECT_EQ(Read("moved/in/a"), "A");
    EXPECT_EQ(Read("moved/in/sub/c"), "C");
    EXPECT_FALSE(Exists("src/sub/c"));
    EXPECT_TRUE(Exists("src/sub")); // folders stay behind

    MakeFile(Path("s"), "S");
    EXPECT_EQ(CFileManipulator::CopyFileTo(File("s"), Dir("copy"), true), TRUE);
    EXPECT_EQ(Read("copy/s"), "S");
    EXPECT_EQ(CFileManipulator::MoveFileTo(File("s"), File("u")), TRUE);
    EXPECT_EQ(CFileManipulator::MoveFileTo(File("s"), File("v")), FALSE);
}

} // namespace
