#include "paths/Manipulators.h"

#include <sys/mount.h>

#include <string>
#include <vector>

#include "tests/paths/PathTestSupport.h"

namespace {

using pathtest::Exists;
using pathtest::MakeDir;
using pathtest::MakeFile;
using pathtest::N;
using pathtest::ReadAll;
using pathtest::W;

template <size_t n> std::string Bytes(const char (&literal)[n]) {
    return std::string(literal, n - 1);
}

class ManipulatorTest : public pathtest::TempDirTest {
protected:
    COrvikFilePath File(const std::string& relative) const {
        return COrvikFilePath(WPath(relative));
    }
    COrvikDirectoryPath Dir(const std::string& relative) const {
        return COrvikDirectoryPath(WPath(relative));
    }

    // A tree of nested directories with ordinary and read-only files, read-only
    // directories, a link to an outside folder and a link back up the tree.
    void BuildMixedTree(const std::string& top) {
        MakeDir(Path(top));
        MakeDir(Path(top + "/a"));
        MakeDir(Path(top + "/a/b"));
        MakeDir(Path(top + "/a/b/c"));
        MakeDir(Path(top + "/z"));
        MakeFile(Path(top + "/top.txt"));
        MakeFile(Path(top + "/a/ro.txt"), "r", 0444);
        MakeFile(Path(top + "/a/b/c/deep.bin"), std::string(10000, 'd'), 0400);
        MakeFile(Path(top + "/z/.hidden"));
        ASSERT_EQ(symlink(Path("outside").c_str(), Path(top + "/a/b/outlink").c_str()), 0);
        ASSERT_EQ(symlink("../..", Path(top + "/a/b/loop").c_str()), 0);
        // Only root may delete inside a read-only directory.
        if (geteuid() == 0) {
            ASSERT_EQ(chmod(Path(top + "/a/b/c").c_str(), 0555), 0);
        }
    }
    // The mixed tree "t" beside "outside", with one more folder t/a/<folder> holding a file.
    void BuildTreeWithResistingFolder(const std::string& folder) {
        MakeDir(Path("outside"));
        BuildMixedTree("t");
        MakeDir(Path("t/a/" + folder));
        MakeFile(Path("t/a/" + folder + "/kept"), "k", 0444);
    }
    // After that folder resisted the removal of "t": "" when the removal reported failure
    // and only the folder's file and the folders holding it remain, else what is wrong.
    std::string AfterResisting(bool removed, const std::string& folder) const {
        if (removed)
            return "reported success";
        if (!Exists(Path("t/a/" + folder + "/kept")))
            return "the resisting folder's file is gone";
        for (const char* gone : {"t/top.txt", "t/z", "t/a/ro.txt", "t/a/b"})
            if (Exists(Path(gone)))
                return std::string(gone) + " was left";
        return Exists(Path("outside")) ? "" : "outside was lost";
    }
};

// ---- Removing trees ------------------------------------------------------

TEST_F(ManipulatorTest, RemovingAMissingDirectorySucceedsAndTouchesNothing) {
    MakeFile(Path("keep"));
    EXPECT_TRUE(CDirectoryManipulator::RemoveDirectoryAndContents(Dir("missing")));
    EXPECT_TRUE(CDirectoryManipulator::RemoveDirectory(Dir("missing")));
    EXPECT_TRUE(Exists(Path("keep")));
}

TEST_F(ManipulatorTest, RemovesMixedTreeButNeverFollowsLinks) {
    MakeDir(Path("outside"));
    MakeFile(Path("outside/precious"), "keep me", 0444);
    BuildMixedTree("t");
    EXPECT_TRUE(CDirectoryManipulator::RemoveDirectoryAndContents(Dir("t")));
    EXPECT_FALSE(Exists(Path("t")));
    EXPECT_EQ(ReadAll(Path("outside/precious")), "keep me");
    struct stat st;
    ASSERT_EQ(stat(Path("outside/precious").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0444u);
}

TEST_F(ManipulatorTest, EmptyingKeepsTheDirectoryItself) {
    MakeDir(Path("outside"));
    BuildMixedTree("t");
    EXPECT_TRUE(CDirectoryManipulator::RemoveAllFilesAndSubDirectories(Dir("t")));
    EXPECT_TRUE(Exists(Path("t")));
    DIR* dir = opendir(Path("t").c_str());
    ASSERT_NE(dir, nullptr);
    int entries = 0;
    while (struct dirent* e = readdir(dir))
        if (strcmp(e->d_name, ".") && strcmp(e->d_name, ".."))
            ++entries;
    closedir(dir);
    EXPECT_EQ(entries, 0);
    EXPECT_TRUE(Exists(Path("outside")));
}

TEST_F(ManipulatorTest, LockedFilesAreRemovedAsRoot) {
    if (geteuid() != 0)
        GTEST_SKIP() << "setting the immutable flag needs root";
    MakeDir(Path("t"));
    MakeDir(Path("t/sub"));
    MakeFile(Path("t/locked"), "l", 0644);
    MakeFile(Path("t/sub/locked2"), "l", 0600);
    MakeFile(Path("t/sub/locked-read-only"), "l", 0444);
    if (!pathtest::SetImmutable(Path("t/locked"), true))
        GTEST_SKIP() << "no immutable flag on this file system";
    ASSERT_TRUE(pathtest::SetImmutable(Path("t/sub/locked2"), true));
    ASSERT_TRUE(pathtest::SetImmutable(Path("t/sub/locked-read-only"), true));
    EXPECT_TRUE(CDirectoryManipulator::RemoveDirectoryAndContents(Dir("t")));
    EXPECT_FALSE(Exists(Path("t")));
}

TEST_F(ManipulatorTest, TwentyThousandFiles) {
    MakeDir(Path("big"));
    for (int d = 0; d < 20; ++d) {
        std::string dir = Path("big/d" + std::to_string(d));
        MakeDir(dir);
        for (int f = 0; f < 1000; ++f) {
            int fd = open((dir + "/f" + std::to_string(f)).c_str(), O_WRONLY | O_CREAT, 0644);
            ASSERT_NE(fd, -1);
            close(fd);
        }
    }
    EXPECT_TRUE(CDirectoryManipulator::RemoveDirectoryAndContents(Dir("big")));
    EXPECT_FALSE(Exists(Path("big")));
}

TEST_F(ManipulatorTest, LockedDirectoryResistsAndEverythingElseGoes) {
    if (geteuid() != 0)
        GTEST_SKIP() << "setting the immutable flag needs root";
    BuildTreeWithResistingFolder("stuck");
    // A locked folder refuses the deletion of its entries.
    if (!pathtest::SetImmutable(Path("t/a/stuck"), true))
        GTEST_SKIP() << "no immutable flag here";
    EXPECT_EQ(AfterResisting(CDirectoryManipulator::RemoveDirectoryAndContents(Dir("t")), "stuck"),
              "");
}

TEST_F(ManipulatorTest, ReadOnlyBindMountResistsAndEverythingElseGoes) {
    if (geteuid() != 0)
        GTEST_SKIP() << "bind mounts need root";
    BuildTreeWithResistingFolder("mnt");
    int status = testsupport::InPrivateMountNamespace([&]() {
        const std::string mnt = Path("t/a/mnt");
        if (mount(mnt.c_str(), mnt.c_str(), nullptr, MS_BIND, nullptr) != 0 ||
            mount(nullptr, mnt.c_str(), nullptr, MS_BIND | MS_REMOUNT | MS_RDONLY, nullptr) != 0)
            return 77;
        const std::string fault =
            AfterResisting(CDirectoryManipulator::RemoveDirectoryAndContents(Dir("t")), "mnt");
        if (!fault.empty())
            fprintf(stderr, "%s\n", fault.c_str());
        return fault.empty() ? 0 : 1;
    });
    if (status == 77)
        GTEST_SKIP() << "no private mount namespace here";
    EXPECT_EQ(status, 0) << "what went wrong is printed above";
}

TEST_F(ManipulatorTest, DanglingAndLoopingLinksAreDeletedThemselves) {
    MakeDir(Path("t"));
    MakeDir(Path("t/sub"));
    ASSERT_EQ(symlink("nowhere", Path("t/sub/dangling").c_str()), 0);
    ASSERT_EQ(symlink("loop", Path("t/sub/loop").c_str()), 0);
    EXPECT_TRUE(CDirectoryManipulator::RemoveDirectoryAndContents(Dir("t")));
    EXPECT_FALSE(Exists(Path("t")));
}

TEST_F(ManipulatorTest, NothingOutsideTheTreeIsReachedThroughALinkOrABackslashName) {
    MakeDir(Path("outside"));
    MakeFile(Path("outside/secret"), "s", 0440);
    MakeFile(Path("outside/shared"), "h", 0444);
    MakeDir(Path("outside/ro"));
    MakeFile(Path("outside/ro/file"), "f", 0444);
    ASSERT_EQ(chmod(Path("outside/ro").c_str(), 0555), 0);
    MakeDir(Path("t"));
    MakeFile(Path("t/canary"), "c");
    MakeDir(Path("t/sub"));
    MakeDir(Path("t/sub/x"));
    MakeDir(Path("t/sub/deep"));
    // Backslashes become separators in the normal form: these names spell "t" and "t/canary".
    MakeDir(Path("t/sub/x\\..\\.."));
    MakeFile(Path("t/sub/x\\..\\..\\canary"));
    for (const auto& [link, target] : {std::pair{"t/sub/deep/secret", Path("outside/secret")},
                                       {"t/sub/deep/ro", Path("outside/ro")},
                                       {"t/sub/deep/file", Path("outside/ro/file")},
                                       {"toplink", Path("outside/ro")},
                                       {"filelink", Path("outside/secret")}})
        ASSERT_EQ(symlink(target.c_str(), Path(link).c_str()), 0) << link;
    ASSERT_EQ(link(Path("outside/shared").c_str(), Path("t/sub/deep/hard").c_str()), 0);
    const std::string outside = testsupport::Fingerprint(Path("outside"));

    // The backslash names can't be named by a path, so they stay, and "t/sub" with them.
    EXPECT_FALSE(CDirectoryManipulator::RemoveDirectoryAndContents(Dir("t/sub")));
    EXPECT_FALSE(Exists(Path("t/sub/deep")));
    EXPECT_EQ(ReadAll(Path("t/canary")), "c");
    // A link named for removal goes as a link; emptying one changes nothing.
    ASSERT_EQ(symlink(Path("outside/ro").c_str(), Path("emptied").c_str()), 0);
    EXPECT_TRUE(CDirectoryManipulator::RemoveAllFilesAndSubDirectories(Dir("emptied")));
    EXPECT_TRUE(testsupport::IsLink(Path("emptied")));
    EXPECT_TRUE(CDirectoryManipulator::RemoveDirectoryAndContents(Dir("toplink")));
    EXPECT_FALSE(Exists(Path("toplink")));
    EXPECT_TRUE(CFileManipulator::DeleteFile(File("filelink")));
    EXPECT_FALSE(Exists(Path("filelink")));
    EXPECT_EQ(testsupport::Fingerprint(Path("outside")), outside);
}

// In memory, where a rename takes microseconds: the swaps come thick and fast.
class ManipulatorRaceTest : public ManipulatorTest {
protected:
    std::string Base() const override { return testsupport::MemoryBase(); }
};

TEST_F(ManipulatorRaceTest, FoldersSwappedForLinksDuringRemovalNeverLeadOutside) {
    using Removal = bool (*)(const COrvikDirectoryPath&);
    const std::pair<const char*, Removal> removals[] = {
        {"removing", [](const COrvikDirectoryPath& d) {
             return CDirectoryManipulator::RemoveDirectoryAndContents(d) != FALSE;
         }},
        {"emptying", CDirectoryManipulator::RemoveAllFilesAndSubDirectories}};
    for (const auto& [name, removal] : removals) {
        MakeDir(Path(name));
        const int removed = testsupport::RaceLinkSwapsAgainst(
            Path(name), 300,
            [&](const std::string& tree) { return removal(COrvikDirectoryPath(W(tree))); });
        EXPECT_GE(removed, 0) << name;
        RecordProperty(std::string(name) + "_reported_success", removed);
    }
}

TEST_F(ManipulatorTest, NamesWithEveryForbiddenCharacter) {
    // Legal on disk here, illegal elsewhere: listed, matched by "*" and removed.
    MakeDir(Path("t"));
    MakeDir(Path("t/dir |><?*\":"));
    MakeFile(Path("t/dir |><?*\":/file |><?*\":"));
    MakeFile(Path("t/?"));
    MakeFile(Path("t/*"));
    EXPECT_TRUE(CDirectoryManipulator::RemoveDirectoryAndContents(Dir("t")));
    EXPECT_FALSE(Exists(Path("t")));

    // A backslash in a name becomes a separator in the normal form, so the
    // listed path names something else: that entry stays, the rest goes.
    MakeDir(Path("u"));
    MakeFile(Path("u/back\\slash"));
    MakeFile(Path("u/plain"));
    EXPECT_FALSE(CDirectoryManipulator::RemoveDirectoryAndContents(Dir("u")));
    EXPECT_TRUE(Exists(Path("u/back\\slash")));
    EXPECT_FALSE(Exists(Path("u/plain")));
}

TEST_F(ManipulatorTest, RemoveFilesByPatternOnlyInThatDirectory) {
    MakeDir(Path("d"));
    MakeDir(Path("d/sub"));
    MakeFile(Path("d/a.log"));
    MakeFile(Path("d/b.log"), "x", 0444);
    MakeFile(Path("d/c.txt"));
    MakeFile(Path("d/sub/d.log"));
    EXPECT_TRUE(CDirectoryManipulator::RemoveFilesFromDirectory(Dir("d"), W("*.log")));
    EXPECT_FALSE(Exists(Path("d/a.log")));
    EXPECT_FALSE(Exists(Path("d/b.log")));
    EXPECT_TRUE(Exists(Path("d/c.txt")));
    EXPECT_TRUE(Exists(Path("d/sub/d.log")));
    EXPECT_TRUE(CDirectoryManipulator::RemoveFilesFromDirectory(Dir("missing"), W("*")));
}

TEST_F(ManipulatorTest, RemoveDirectoryNeedsAnEmptyDirectory) {
    MakeDir(Path("full"));
    MakeFile(Path("full/f"));
    MakeDir(Path("empty"));
    EXPECT_FALSE(CDirectoryManipulator::RemoveDirectory(Dir("full")));
    EXPECT_TRUE(Exists(Path("full/f")));
    EXPECT_TRUE(CDirectoryManipulator::RemoveDirectory(Dir("empty")));
    EXPECT_FALSE(Exists(Path("empty")));
}

// ---- Creating directories, deleting files --------------------------------

TEST_F(ManipulatorTest, CreateDirectoryMakesMissingParents) {
    EXPECT_TRUE(CDirectoryManipulator::CreateDirectory(Dir("a/b/c")));
    struct stat st;
    ASSERT_EQ(stat(Path("a/b/c").c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    MakeFile(Path("file"));
    EXPECT_TRUE(CDirectoryManipulator::CreateDirectory(Dir("file")));
    ASSERT_EQ(stat(Path("file").c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_FALSE(CDirectoryManipulator::CreateDirectory(Dir("file/below")));
    EXPECT_FALSE(CDirectoryManipulator::CreateDirectory(COrvikDirectoryPath()));
}

TEST_F(ManipulatorTest, DeleteFileClearsReadOnlyAndDeletesLinksNotTargets) {
    MakeFile(Path("ro"), "x", 0444);
    MakeDir(Path("target"));
    MakeFile(Path("target/inside"));
    ASSERT_EQ(symlink(Path("target").c_str(), Path("link").c_str()), 0);
    EXPECT_TRUE(CFileManipulator::DeleteFile(File("ro")));
    EXPECT_FALSE(Exists(Path("ro")));
    EXPECT_TRUE(CFileManipulator::DeleteFile(File("link")));
    EXPECT_FALSE(Exists(Path("link")));
    EXPECT_TRUE(Exists(Path("target/inside")));
    EXPECT_TRUE(CFileManipulator::DeleteFile(File("missing")));
    EXPECT_TRUE(CFileManipulator::DeleteFile(COrvikFilePath()));
}

// ---- Content -------------------------------------------------------------

TEST_F(ManipulatorTest, WriteAndReadText) {
    EXPECT_EQ(CFileManipulator::WriteAsciiStringToFile(File("w"), "abc", 0), E_INVALIDARG);
    EXPECT_FALSE(Exists(Path("w")));
    EXPECT_EQ(CFileManipulator::WriteAsciiStringToFile(File("w"), nullptr, 3), E_INVALIDARG);
    EXPECT_EQ(CFileManipulator::WriteAsciiStringToFile(COrvikFilePath(), "abc", 3), E_INVALIDARG);
    EXPECT_EQ(CFileManipulator::WriteAsciiStringToFile(File("nodir/w"), "abc", 3), E_INVALIDARG);
    EXPECT_EQ(CFileManipulator::WriteAsciiStringToFile(File("w"), "def", 3), S_OK);
    EXPECT_EQ(ReadAll(Path("w")), "def");

    CAtlStringA text("old");
    EXPECT_EQ(CFileManipulator::ReadAsciiFileIntoAsciiString(File("w"), text, "abc"), S_OK);
    EXPECT_STREQ(text.GetString(), "abcdef");
    EXPECT_EQ(CFileManipulator::ReadAsciiFileIntoAsciiString(File("w"), text, nullptr), S_OK);
    EXPECT_STREQ(text.GetString(), "def");
    EXPECT_EQ(text.GetLength(), 3);

    MakeFile(Path("zero"), std::string("ab\0cd", 5));
    EXPECT_EQ(CFileManipulator::ReadAsciiFileIntoAsciiString(File("zero"), text, nullptr), S_OK);
    EXPECT_EQ(text.GetLength(), 2);

    MakeFile(Path("empty"), "");
    EXPECT_EQ(CFileManipulator::ReadAsciiFileIntoAsciiString(File("empty"), text, "p"), S_OK);
    EXPECT_STREQ(text.GetString(), "p");

    MakeDir(Path("dir"));
    EXPECT_EQ(CFileManipulator::ReadAsciiFileIntoAsciiString(File("dir"), text, "pre"),
              E_UNEXPECTED);
    EXPECT_STREQ(text.GetString(), "pre");
    EXPECT_EQ(CFileManipulator::ReadAsciiFileIntoAsciiString(File("missing"), text, "x"),
              E_INVALIDARG);
    EXPECT_EQ(CFileManipulator::ReadAsciiFileIntoAsciiString(COrvikFilePath(), text, "x"),
              E_INVALIDARG);
}

TEST_F(ManipulatorTest, ReadWholeFileAndSizes) {
    MakeFile(Path("f"), "hello");
    unsigned char* buffer = reinterpret_cast<unsigned char*>(0x1);
    EXPECT_EQ(CFileManipulator::ReadFileIntoBuffer(File("f"), &buffer), 5ul);
    ASSERT_NE(buffer, nullptr);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 5), "hello");
    delete[] buffer;
    MakeFile(Path("empty"), "");
    buffer = reinterpret_cast<unsigned char*>(0x1);
    EXPECT_EQ(CFileManipulator::ReadFileIntoBuffer(File("empty"), &buffer), 0ul);
    EXPECT_EQ(buffer, nullptr);
    buffer = reinterpret_cast<unsigned char*>(0x1);
    EXPECT_EQ(CFileManipulator::ReadFileIntoBuffer(File("missing"), &buffer), 0ul);
    EXPECT_EQ(buffer, nullptr);

    EXPECT_EQ(File("f").GetFileSize(), 5ul);
    EXPECT_EQ(File("empty").GetFileSize(), 0ul);
    EXPECT_EQ(File("missing").GetFileSize(), 0xFFFFFFFFul);
    MakeDir(Path("dir"));
    EXPECT_EQ(File("dir").GetFileSize(), 0xFFFFFFFFul);
    EXPECT_EQ(CFileManipulator::OpenFile(File("missing"), "rb"), nullptr);
}

// A FIFO named like a shortcut would block a reader until someone writes to it; every
// content helper refuses it at once. Run in a child that an alarm ends if one blocks.
TEST_F(ManipulatorTest, ContentHelpersRefuseAFifoAtOnce) {
    ASSERT_EQ(mkfifo(Path("x.lnk").c_str(), 0666), 0);
    ASSERT_EQ(mkfifo(Path("x.url").c_str(), 0666), 0);
    fflush(nullptr);
    const int failed = testsupport::InChild([&] {
        alarm(10);
        int result = 0;
        if (!CFileManipulator::ResolveShortcut(File("x.lnk")).IsEmptyPath())
            result |= 1;
        if (!CFileManipulator::ResolveURLShortcut(File("x.url")).IsEmpty())
            result |= 2;
        unsigned char* buffer = nullptr;
        if (CFileManipulator::ReadFileIntoBuffer(File("x.lnk"), &buffer) != 0 || buffer)
            result |= 4;
        CAtlStringA text;
        if (CFileManipulator::ReadAsciiFileIntoAsciiString(File("x.url"), text, "p") !=
            E_INVALIDARG)
            result |= 8;
        if (File("x.lnk").GetFileSize() != 0xFFFFFFFFul)
            result |= 16;
        if (CFileManipulator::WriteAsciiStringToFile(File("x.lnk"), "a", 1) != E_INVALIDARG)
            result |= 32;
        return result;
    });
    EXPECT_EQ(failed, 0) << "the bits say which helper failed; -1: one blocked";
}

TEST_F(ManipulatorTest, WritersNeverFollowAFinalLink) {
    MakeDir(Path("outside"));
    MakeFile(Path("outside/target"), "keep");
    ASSERT_EQ(symlink(Path("outside/target").c_str(), Path("link").c_str()), 0);
    EXPECT_EQ(CFileManipulator::WriteAsciiStringToFile(File("link"), "evil", 4), E_INVALIDARG);
    EXPECT_EQ(CFileManipulator::OpenFile(File("link"), "ab"), nullptr);
    EXPECT_EQ(ReadAll(Path("outside/target")), "keep");
    // Reading still follows it.
    CAtlStringA text;
    EXPECT_EQ(CFileManipulator::ReadAsciiFileIntoAsciiString(File("link"), text, nullptr), S_OK);
    EXPECT_STREQ(text.GetString(), "keep");
}

// ---- Shortcuts -----------------------------------------------------------

TEST_F(ManipulatorTest, PlainShortcutRoundTrip) {
    COrvikFilePath target(W("/Applications\\Some App/t\xe9st.app/"));
    EXPECT_EQ(CFileManipulator::CreateShortcut(File("s.lnk"), target), S_OK);
    EXPECT_EQ(ReadAll(Path("s.lnk")), "/Applications/Some App/t\xc3\xa9st.app");
    EXPECT_TRUE(CFileManipulator::ResolveShortcut(File("s.lnk")).IsEqualPath(target));
    EXPECT_EQ(CFileManipulator::CreateShortcut(File("e.lnk"), COrvikFilePath()), E_INVALIDARG);
    EXPECT_FALSE(Exists(Path("e.lnk")));
    EXPECT_TRUE(CFileManipulator::ResolveShortcut(File("missing.lnk")).IsEmptyPath());
    MakeFile(Path("trailing.lnk"), "/a/b/");
    EXPECT_EQ(N(CFileManipulator::ResolveShortcut(File("trailing.lnk")).GetFilePathString()),
              "/a/b");
}

TEST_F(ManipulatorTest, PlainShortcutBadContent) {
    MakeFile(Path("empty.lnk"), "");
    EXPECT_TRUE(CFileManipulator::ResolveShortcut(File("empty.lnk")).IsEmptyPath());
    MakeFile(Path("binary.lnk"), std::string("\x00\xff\xfe\x80\x01", 5));
    CFileManipulator::ResolveShortcut(File("binary.lnk")); // any text, no crash
    MakeFile(Path("huge.lnk"), std::string(4 << 20, 'a'));
    EXPECT_EQ(CFileManipulator::ResolveShortcut(File("huge.lnk")).GetFileName().GetLength(),
              4 << 20);
    MakeDir(Path("dir.lnk"));
    EXPECT_TRUE(CFileManipulator::ResolveShortcut(File("dir.lnk")).IsEmptyPath());
}

TEST_F(ManipulatorTest, InternetShortcutIsWrittenOnceInTheSectionForm) {
    EXPECT_EQ(CFileManipulator::CreateURLShortcut(W(" www.a.b "), File("a.url")), S_OK);
    EXPECT_EQ(ReadAll(Path("a.url")), "[InternetShortcut]\nURL=http://www.a.b\n");
    EXPECT_EQ(CFileManipulator::CreateURLShortcut(W("  ftp://h/x  "), File("b.url")), S_OK);
    EXPECT_EQ(ReadAll(Path("b.url")), "[InternetShortcut]\nURL=ftp://h/x\n");
    EXPECT_EQ(CFileManipulator::CreateURLShortcut(W("a.b"), File("c.url")),
              S_OK); // not repaired, still written
    EXPECT_EQ(ReadAll(Path("c.url")), "[InternetShortcut]\nURL=a.b\n");

    MakeFile(Path("existing.url"), "keep");
    EXPECT_EQ(CFileManipulator::CreateURLShortcut(W("http://x"), File("existing.url")), S_OK);
    EXPECT_EQ(ReadAll(Path("existing.url")), "keep");

    EXPECT_EQ(CFileManipulator::CreateURLShortcut(CAtlString(), File("none.url")), E_INVALIDARG);
    EXPECT_FALSE(Exists(Path("none.url")));
    EXPECT_EQ(CFileManipulator::CreateURLShortcut(W("http://x"), COrvikFilePath()), E_INVALIDARG);
    MakeDir(Path("dir.url"));
    EXPECT_EQ(CFileManipulator::CreateURLShortcut(W("http://x"), File("dir.url")), E_INVALIDARG);
    EXPECT_EQ(CFileManipulator::CreateURLShortcut(W("http://x"), File("nodir/x.url")),
              E_INVALIDARG);
    ASSERT_EQ(symlink(Path("elsewhere").c_str(), Path("dangling.url").c_str()), 0);
    EXPECT_EQ(CFileManipulator::CreateURLShortcut(W("http://x"), File("dangling.url")),
              E_INVALIDARG);
    EXPECT_FALSE(Exists(Path("elsewhere"))); // never written through a link

    EXPECT_EQ(N(CFileManipulator::ResolveURLShortcut(File("a.url"))), "http://www.a.b");
}

TEST_F(ManipulatorTest, InternetShortcutReading) {
    struct Row {
        const char* name;
        std::string content;
        const char* url;
    } rows[] = {
        {"section", "[InternetShortcut]\r\nURL=\"http://a/b\"\r\n", "http://a/b"},
        {"leading-space", " [InternetShortcut]\r\nURL=\"http://a/b\"\r\n", ""},
        {"bom", "\xef\xbb\xbf[InternetShortcut]\nURL=http://a\n", ""},
        {"plist", "<dict>\n<key>URL</key>\n\t<string>http://a/b</string>\n</dict>", "http://a/b"},
        {"plist-spaces", "<key>URL</key>\n    <string>http://a/b</string>\n", ""},
        {"plist-unterminated", "<key>URL</key>\n\t<string>http://a/b</string>", ""},
        {"plist-entities", "<key>URL</key>\n\t<string> a&amp;b </string>\n", " a&amp;b "},
        {"plist-empty", "<key>URL</key>\n\t<string></string>\n", ""},
        {"empty", "", ""},
        {"no-url", "[InternetShortcut]\nIconIndex=0\n", ""},
        {"only-separators", "[InternetShortcut]\nURL= \t\"\r\n", ""},
        {"url-at-end", "[InternetShortcut]\nURL=x", "x"},
        {"url-anywhere", "[InternetShortcut]\nIconFile=a\nBaseURL=http://base\n", "http://base"},
        {"truncated-marker", "<key>URL</key>\n\t<str", ""},
        {"truncated-header", "[InternetShort", ""},
        {"truncated-url-key", "[InternetShortcut]\nUR", ""},
        {"zero-first", Bytes("\0[InternetShortcut]\nURL=x\n"), ""},
    };
    for (const Row& row : rows) {
        std::string file = Path(std::string(row.name) + ".url");
        MakeFile(file, row.content);
        EXPECT_EQ(N(CFileManipulator::ResolveURLShortcut(COrvikFilePath(W(file)))), row.url)
            << row.name;
    }
    EXPECT_TRUE(CFileManipulator::ResolveURLShortcut(File("missing.url")).IsEmpty());
    MakeDir(Path("dir.url"));
    EXPECT_TRUE(CFileManipulator::ResolveURLShortcut(File("dir.url")).IsEmpty());
}

TEST_F(ManipulatorTest, BinaryInternetShortcut) {
    MakeFile(Path("binary.url"), Bytes("[InternetShortcut]\nURL=\xff\xfe\x01z\0tail\n"));
    std::string url = N(CFileManipulator::ResolveURLShortcut(File("binary.url")));
    EXPECT_EQ(url.substr(0, 4), "\xff\xfe\x01z");
    MakeFile(Path("noise.url"), Bytes("\x89PNG\r\n\x1a\n\0\0\0\rIHDR<key>URL</key>"));
    EXPECT_TRUE(CFileManipulator::ResolveURLShortcut(File("noise.url")).IsEmpty());
}

TEST_F(ManipulatorTest, HugeInternetShortcut) {
    std::string content = "[InternetShortcut]\nURL=http://" + std::string(4 << 20, 'h') + "\n";
    MakeFile(Path("huge.url"), content);
    EXPECT_EQ(CFileManipulator::ResolveURLShortcut(File("huge.url")).GetLength(), 7 + (4 << 20));
}

// ---- Copying trees -------------------------------------------------------

TEST_F(ManipulatorTest, RecursiveCopyAndMove) {
    EXPECT_EQ(CDirectoryManipulator::RecursivelyCopyDirectory(Dir("missing"), Dir("copy"), false),
              E_FAIL);
    EXPECT_FALSE(Exists(Path("copy")));

    MakeDir(Path("src"));
    MakeDir(Path("src/sub"));
    MakeDir(Path("src/sub/deeper"));
    MakeFile(Path("src/a"), "A");
    MakeFile(Path("src/sub/b"), "B");
    MakeFile(Path("src/sub/deeper/c"), "C");
    EXPECT_EQ(
        CDirectoryManipulator::RecursivelyCopyDirectory(Dir("src"), Dir("copy/nested"), false),
        S_OK);
    EXPECT_EQ(ReadAll(Path("copy/nested/a")), "A");
    EXPECT_EQ(ReadAll(Path("copy/nested/sub/b")), "B");
    EXPECT_EQ(ReadAll(Path("copy/nested/sub/deeper/c")), "C");
    EXPECT_EQ(ReadAll(Path("src/sub/deeper/c")), "C");

    MakeFile(Path("copy/nested/a"), "old");
    EXPECT_EQ(
        CDirectoryManipulator::RecursivelyCopyDirectory(Dir("src"), Dir("copy/nested"), false),
        S_OK);
    EXPECT_EQ(ReadAll(Path("copy/nested/a")), "A"); // existing files are replaced

    EXPECT_EQ(CDirectoryManipulator::RecursivelyCopyDirectory(Dir("src"), Dir("moved"), true),
              S_OK);
    EXPECT_EQ(ReadAll(Path("moved/sub/deeper/c")), "C");
    EXPECT_FALSE(Exists(Path("src/a")));
    EXPECT_FALSE(Exists(Path("src/sub/deeper/c")));
    EXPECT_TRUE(Exists(Path("src/sub/deeper"))); // directories stay behind
}

TEST_F(ManipulatorTest, CopyAndMoveSingleFiles) {
    MakeFile(Path("s"), "S");
    MakeDir(Path("d"));
    EXPECT_TRUE(CFileManipulator::CopyFileTo(File("s"), Dir("d"), true));
    EXPECT_EQ(ReadAll(Path("d/s")), "S");
    EXPECT_FALSE(CFileManipulator::CopyFileTo(File("s"), Dir("d"), true));
    EXPECT_TRUE(CFileManipulator::CopyFileTo(File("s"), File("t"), false));
    EXPECT_TRUE(CFileManipulator::MoveFileTo(File("t"), File("u")));
    EXPECT_FALSE(Exists(Path("t")));
    EXPECT_EQ(ReadAll(Path("u")), "S");
}

} // namespace
