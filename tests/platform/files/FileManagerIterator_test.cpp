// Folder iteration: every entry exactly once, with its catalog information, a
// link as an entry of its own; an iterator whose descriptor the pool gave back
// goes on where it stopped.
#include <map>
#include <set>
#include <vector>

#include "tests/platform/files/FileManagerTestSupport.h"

namespace {

class FileManagerIteratorTest : public fmtest::TempFolderTest {};

TEST_F(FileManagerIteratorTest, ListsEveryEntryOnceWithItsCatalogInformation) {
    // Names beginning with a dot are entries too, only "." and ".." are not.
    MakeFolder("..x");
    MakeFile(".h");
    MakeFile("f");
    ASSERT_EQ(symlink("..x", Path("link").c_str()), 0);
    const std::map<std::string, UInt16> expected = {
        {"..x", kFSNodeIsDirectoryMask}, {".h", 0}, {"f", 0}, {"link", 0}};
    FSRef top, file;
    ASSERT_EQ(Ref("", &top), noErr);
    FSIterator iterator;
    ASSERT_EQ(FSOpenIterator(&top, kFSIterateFlat, &iterator), noErr);
    std::map<std::string, UInt16> seen;
    OSErr status;
    ItemCount count = 0;
    do {
        FSCatalogInfo infos[3];
        HFSUniStr255 names[3];
        FSRef refs[3];
        Boolean changed = 7;
        status = FSGetCatalogInfoBulk(iterator, 3, &count, &changed, kFSCatInfoNodeFlags, infos,
                                      refs, nullptr, names);
        EXPECT_EQ(changed, false);
        EXPECT_EQ(status == noErr, count > 0);
        for (ItemCount i = 0; i < count; ++i) {
            const std::string name = fmtest::NameOf(names[i]);
            EXPECT_TRUE(seen.emplace(name, infos[i].nodeFlags).second) << "twice: " << name;
            EXPECT_EQ(fmtest::PathOf(refs[i]), Path(name));
        }
    } while (status == noErr);
    EXPECT_EQ(status, errFSNoMoreItems);
    EXPECT_EQ(seen, expected);
    EXPECT_EQ(
        FSGetCatalogInfoBulk(iterator, 0, &count, nullptr, 0, nullptr, nullptr, nullptr, nullptr),
        errFSBadItemCount);
    EXPECT_EQ(FSGetCatalogInfoBulk(iterator, 1, &count, nullptr, kFSCatInfoNodeFlags, nullptr,
                                   nullptr, nullptr, nullptr),
              paramErr);
    EXPECT_EQ(FSCloseIterator(iterator), noErr);

    ASSERT_EQ(Ref("f", &file), noErr);
    EXPECT_EQ(FSOpenIterator(&file, kFSIterateFlat, &iterator), dirNFErr);
    EXPECT_EQ(FSOpenIterator(&top, kFSIterateSubtree, &iterator), errFSIteratorNotSupported);
    EXPECT_EQ(FSOpenIterator(&top, 4, &iterator), errFSBadIteratorFlags);
}

// More iterators open at once than the pool has descriptors: each one whose
// descriptor was given back reopens its folder and goes on after its last entry.
TEST_F(FileManagerIteratorTest, AnIteratorGoesOnAfterItsDescriptorWasGivenBack) {
    constexpr int kFolders = 65, kEntries = 2; // the pool holds 64
    std::vector<FSIterator> iterators(kFolders);
    std::vector<std::set<std::string>> seen(kFolders);
    for (int f = 0; f < kFolders; ++f) {
        MakeFolder(std::to_string(f));
        for (int e = 0; e < kEntries; ++e)
            MakeFile(std::to_string(f) + "/" + std::to_string(e));
        FSRef folder;
        ASSERT_EQ(Ref(std::to_string(f), &folder), noErr);
        ASSERT_EQ(FSOpenIterator(&folder, kFSIterateFlat, &iterators[size_t(f)]), noErr);
    }
    for (int round = 0; round < kEntries + 1; ++round) {
        for (int f = 0; f < kFolders; ++f) {
            ItemCount count = 0;
            HFSUniStr255 name;
            const OSErr status = FSGetCatalogInfoBulk(iterators[size_t(f)], 1, &count, nullptr, 0,
                                                      nullptr, nullptr, nullptr, &name);
            EXPECT_EQ(status, round < kEntries ? noErr : errFSNoMoreItems) << f;
            if (count == 1) {
                EXPECT_TRUE(seen[size_t(f)].insert(fmtest::NameOf(name)).second) << f;
            }
        }
    }
    for (int f = 0; f < kFolders; ++f) {
        EXPECT_EQ(seen[size_t(f)].size(), size_t(kEntries)) << f;
        FSCloseIterator(iterators[size_t(f)]);
    }
}

} // namespace
