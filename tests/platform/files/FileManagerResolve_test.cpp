// Path resolution: links are followed only where the caller asks, and what an
// earlier resolution remembered (the folder of the last leaf) is used only while
// the same text still leads to that very folder.
#include "platform/files/FileManagerInternal.h"
#include "tests/platform/files/FileManagerTestSupport.h"

namespace {

class FileManagerResolveTest : public fmtest::TempFolderTest {};

OSErr NodeID(const FSRef& ref, UInt32* id) {
    FSCatalogInfo info{};
    const OSErr status = FSGetCatalogInfo(&ref, kFSCatInfoNodeID, &info, nullptr, nullptr, nullptr);
    *id = info.nodeID;
    return status;
}

TEST(FileManagerText, PlainParentTextOnlyForPlainAbsolutePaths) {
    struct Row {
        const char* path;
        const char* parent;
    } rows[] = {{"/a/b/c", "/a/b"}, {"/a", ""},     {"a/b", ""},     {"/a/b/", ""},
                {"/a//b", ""},      {"/a/./b", ""}, {"/a/b/..", ""}, {"/a/..b/c", "/a/..b"}};
    for (const Row& row : rows)
        EXPECT_EQ(orvik::fm::PlainParentText(row.path), row.parent) << row.path;
}

TEST_F(FileManagerResolveTest, LinksAreFollowedOnlyWhereAsked) {
    MakeFolder("target");
    MakeFile("target/inside", "12345");
    MakeFile("file");
    ASSERT_EQ(symlink(Path("target").c_str(), Path("link").c_str()), 0);
    ASSERT_EQ(symlink("nowhere", Path("dangling").c_str()), 0);
    ASSERT_EQ(symlink("target/", Path("slash").c_str()), 0);
    ASSERT_EQ(symlink("file/", Path("fileslash").c_str()), 0);
    // A chain of 40 links resolves; one more is a loop.
    ASSERT_EQ(symlink("target", Path("l0").c_str()), 0);
    for (int i = 1; i <= 40; ++i)
        ASSERT_EQ(
            symlink(("l" + std::to_string(i - 1)).c_str(), Path("l" + std::to_string(i)).c_str()),
            0);
    struct Row {
        const char* path;
        bool follow;
        OSErr expected;
        const char* names; // relative to the folder
        Boolean isDirectory;
    } rows[] = {
        {"link", true, noErr, "target", 1},
        {"link", false, noErr, "link", 0},
        {"link/", false, noErr, "target", 1}, // a trailing slash follows even a final link
        {"link/inside", false, noErr, "target/inside", 0},
        {"dangling", true, fnfErr, "", 0},
        {"dangling", false, noErr, "dangling", 0},
        {"slash", true, noErr, "target", 1},
        {"fileslash", true, fnfErr, "", 0},
        {"file/x", true, fnfErr, "", 0},
        {"target/../file", true, noErr, "file", 0},
        {"l39", true, noErr, "target", 1},
        {"l40", true, fnfErr, "", 0},
    };
    for (const Row& row : rows) {
        FSRef ref;
        Boolean isDirectory = 7;
        EXPECT_EQ(FSPathMakeRefWithOptions(reinterpret_cast<const UInt8*>(Path(row.path).c_str()),
                                           row.follow ? 0u : kFSPathMakeRefDoNotFollowLeafSymlink,
                                           &ref, &isDirectory),
                  row.expected)
            << row.path;
        EXPECT_EQ(ref.node ? fmtest::PathOf(ref) : "", *row.names ? Path(row.names) : "")
            << row.path;
        EXPECT_EQ(isDirectory, row.expected == noErr ? row.isDirectory : 7) << row.path;
    }
}

// A leaf found by one look at its whole text names that object in that folder:
// it still reaches it when the folder moves, and fails once the name holds
// something else; deleting it never deletes what its text names now.
TEST_F(FileManagerResolveTest, ALeafFoundByItsWholeTextIsCheckedInItsFolderBeforeUse) {
    MakeFolder("a");
    for (const char* name : {"a/f", "a/g", "a/h"})
        MakeFile(name, name);
    FSRef walked, f, h, missing;
    ASSERT_EQ(Ref("a/f", &walked), noErr);
    ASSERT_EQ(Ref("a/f", &f), noErr);
    ASSERT_EQ(Ref("a/h", &h), noErr);
    ASSERT_TRUE(f.node->parentUnchecked && h.node->parentUnchecked); // the case under test
    EXPECT_EQ(Ref("a/missing", &missing), fnfErr);
    UInt32 id = 0, walkedID = 1;
    EXPECT_EQ(NodeID(walked, &walkedID), noErr); // its folder's descriptor is kept
    ASSERT_EQ(rename(Path("a").c_str(), Path("moved").c_str()), 0);
    EXPECT_EQ(NodeID(f, &id), noErr);
    EXPECT_EQ(id, walkedID);
    EXPECT_EQ(fmtest::PathOf(f), Path("a/f")); // the text it was made from
    ASSERT_EQ(rename(Path("moved/g").c_str(), Path("moved/f").c_str()), 0);
    EXPECT_EQ(NodeID(f, &id), fnfErr);
    EXPECT_EQ(FSDeleteObject(&f), fnfErr);
    EXPECT_TRUE(Exists("moved/f"));
    MakeFolder("a");
    MakeFile("a/h", "new");
    EXPECT_EQ(FSDeleteObject(&h), noErr);
    EXPECT_TRUE(Exists("a/h"));
    EXPECT_FALSE(Exists("moved/h"));
}

} // namespace
