// Tree scopes, the guarantee the uninstaller relies on when it deletes as root
// in folders other users may write into: below the scope's folder no text is
// resolved through a link or above the folder, however it is spelt, whatever
// was swapped in meanwhile; what the scope remembers of its walks answers only
// while the folders on the way are unchanged.
#include <vector>

#include "platform/files/FileManagerInternal.h"
#include "tests/platform/files/FileManagerTestSupport.h"

namespace {

class FileManagerTreeTest : public fmtest::TempFolderTest {
protected:
    std::string Base() const override { return testsupport::MemoryBase(); }
};

// Deletes a tree the way the path layer does: by path texts, in a tree scope.
OSErr DeleteText(const std::string& path) {
    FSRef ref;
    Boolean folder = false;
    OSErr status = FSPathMakeRef(reinterpret_cast<const UInt8*>(path.c_str()), &ref, &folder);
    std::vector<std::string> names;
    if (status == noErr && folder)
        status = orvik::fm::ReadFolderNames(
            &ref, [&](std::string_view name, bool) { names.emplace_back(name); });
    for (const std::string& name : names)
        status = status == noErr ? DeleteText(path + "/" + name) : status;
    return status == noErr ? FSDeleteObject(&ref) : status;
}

bool DeleteInTreeScope(const std::string& tree) {
    const std::u16string units = testsupport::Widen(tree);
    orvik::fm::TreeScope scope(units.data(), units.size());
    return DeleteText(tree) == noErr;
}

// Deletes a tree the way the file layer does: an iterator in deleting mode, by references.
bool DeleteByReferences(const std::string& tree) {
    FSRef ref;
    return FSPathMakeRefWithOptions(reinterpret_cast<const UInt8*>(tree.c_str()),
                                    kFSPathMakeRefDoNotFollowLeafSymlink, &ref, nullptr) == noErr &&
           fmtest::DeleteTree(ref) == noErr;
}

TEST_F(FileManagerTreeTest, ADeletionNeverLeavesTheTreeThroughALinkSwappedIn) {
    if (!testsupport::IsRoot())
        GTEST_SKIP() << "needs root";
    for (const auto& [name, remove] :
         {std::pair{"texts", &DeleteInTreeScope}, std::pair{"references", &DeleteByReferences}}) {
        MakeFolder(name);
        EXPECT_GE(testsupport::RaceLinkSwapsAgainst(Path(name), 100, remove), 0) << name;
    }
    // Links inside a tree are deleted as links: the race's trees hold links to
    // folders, this one a link to a file.
    MakeFolder("outside");
    MakeFile("outside/keep", "data");
    MakeFolder("tree");
    ASSERT_EQ(symlink(Path("outside/keep").c_str(), Path("tree/to-file").c_str()), 0);
    EXPECT_TRUE(DeleteInTreeScope(Path("tree")));
    EXPECT_FALSE(Exists("tree"));
    EXPECT_EQ(testsupport::ReadFile(Path("outside/keep")), "data");
}

// However a caller spells the folder of a tree scope and the paths below it
// (relative, with "." names, doubled separators, ".." back into the tree),
// nothing below it is reached through a link, and ".." never leads above it.
TEST_F(FileManagerTreeTest, ATreeScopeHoldsForEverySpellingOfItsFolder) {
    MakeFolder("t");
    MakeFolder("t/real");
    MakeFolder("out");
    MakeFile("out/x", "x");
    MakeFile("above", "a");
    ASSERT_EQ(symlink("../out", Path("t/lnk").c_str()), 0);
    ASSERT_EQ(symlink("out", Path("toplink").c_str()), 0);
    const int saved = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_EQ(chdir(Path("").c_str()), 0);
    for (const std::string& folder : {std::string("./t"), Path("") + "//./t"}) {
        const std::u16string units = testsupport::Widen(folder);
        orvik::fm::TreeScope scope(units.data(), units.size());
        EXPECT_FALSE(scope.FolderIsLink());
        // "": nothing is found.
        const std::pair<const char*, const char*> rows[] = {
            {"//lnk/x", ""}, {"/real/../lnk/x", ""}, {"/../above", ""},
            {"/lnk/", ""},   {"/lnk", "t/lnk"},      {"/real/..", "t"}};
        for (const auto& [below, names] : rows) {
            FSRef ref;
            const std::string text = folder + below;
            EXPECT_EQ(FSPathMakeRef(reinterpret_cast<const UInt8*>(text.c_str()), &ref, nullptr),
                      *names ? noErr : fnfErr)
                << text;
            EXPECT_EQ(ref.node ? fmtest::PathOf(ref) : "", *names ? Path(names) : "") << text;
        }
    }
    // A folder named through a link is the link, and nothing lies beneath it.
    const std::u16string link = testsupport::Widen(Path("toplink"));
    orvik::fm::TreeScope scope(link.data(), link.size());
    EXPECT_TRUE(scope.FolderIsLink());
    FSRef ref;
    EXPECT_EQ(Ref("toplink/x", &ref), fnfErr);
    ASSERT_EQ(Ref("toplink", &ref), noErr);
    EXPECT_EQ(fmtest::PathOf(ref), Path("toplink"));
    EXPECT_EQ(fchdir(saved), 0);
    close(saved);
}

// What a tree scope remembers of the folders it walked through answers only
// while those folders still hold what it found: every change of a name on the
// way is seen.
TEST_F(FileManagerTreeTest, ATreeScopeNeverAnswersFromAFolderThatChanged) {
    auto inode = [&](const char* relative) -> ino_t {
        FSRef ref;
        return Ref(relative, &ref) == noErr ? ref.node->ino : 0;
    };
    auto onDisk = [&](const char* relative) -> ino_t {
        struct stat st;
        return lstat(Path(relative).c_str(), &st) == 0 ? st.st_ino : 0;
    };
    // The first step whose answer is not what the disk holds, or "".
    auto firstStale = [&]() -> std::string {
        for (const char* folder : {"t", "t/a", "t/a/b", "spare", "spare/b", "out"})
            mkdir(Path(folder).c_str(), 0755);
        testsupport::WriteFile(Path("t/a/b/x"), "old");
        testsupport::WriteFile(Path("spare/b/x"), "new");
        const std::u16string units = testsupport::Widen(Path("t"));
        orvik::fm::TreeScope scope(units.data(), units.size());
        if (inode("t/a/b/x") != onDisk("t/a/b/x"))
            return "first walk";
        renameat2(AT_FDCWD, Path("t/a").c_str(), AT_FDCWD, Path("spare").c_str(), RENAME_EXCHANGE);
        if (inode("t/a/b/x") != onDisk("t/a/b/x"))
            return "exchanged folder";
        rename(Path("t/a").c_str(), Path("out/a").c_str());
        symlink(Path("out/a").c_str(), Path("t/a").c_str());
        if (inode("t/a/b/x") != 0)
            return "link on the way";
        unlink(Path("t/a").c_str());
        mkdir(Path("t/a").c_str(), 0755);
        mkdir(Path("t/a/b").c_str(), 0755);
        inode("t/a/b");
        rmdir(Path("t/a/b").c_str());
        if (inode("t/a/b") != 0)
            return "deleted folder";
        mkdir(Path("t/a/b").c_str(), 0755);
        return inode("t/a/b") == onDisk("t/a/b") ? "" : "folder made again";
    };
    EXPECT_EQ(firstStale(), "");
}

} // namespace
