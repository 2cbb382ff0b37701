// References: made from paths and names, printed back into a buffer of exactly
// the size given, and compared by the object their names hold now.
#include "platform/FileManager.h"

#include "tests/platform/files/FileManagerTestSupport.h"

namespace {

class FileManagerTest : public fmtest::TempFolderTest {};

TEST_F(FileManagerTest, PathsMakeReferencesThatPrintBack) {
    MakeFolder("dir");
    MakeFile("dir/file", "abc");
    MakeFile("caf\xE9");
    FSRef ref, other;
    const std::string path = Path("dir/./file");
    ASSERT_EQ(FSPathMakeRef(reinterpret_cast<const UInt8*>(path.c_str()), &ref, nullptr), noErr);
    const std::string printed = Path("dir/file");
    EXPECT_EQ(fmtest::PathOf(ref), printed);
    // The buffer must hold the text and its zero; a failure writes nothing.
    std::string buffer(printed.size() + 2, '#');
    auto* bytes = reinterpret_cast<UInt8*>(buffer.data());
    EXPECT_EQ(FSRefMakePath(&ref, bytes, UInt32(printed.size())), pathTooLongErr);
    EXPECT_EQ(buffer, std::string(printed.size() + 2, '#'));
    EXPECT_EQ(FSRefMakePath(&ref, bytes, UInt32(printed.size() + 1)), noErr);
    EXPECT_EQ(buffer, printed + '\0' + '#');

    ASSERT_EQ(FSPathMakeRef(reinterpret_cast<const UInt8*>("/"), &other, nullptr), noErr);
    EXPECT_EQ(fmtest::PathOf(other), "/");
    // Bytes that are not UTF-8 never name a file, even one with those bytes.
    EXPECT_EQ(Ref("caf\xE9", &other), fnfErr);
    EXPECT_EQ(FSPathMakeRef(nullptr, &other, nullptr), paramErr);
}

TEST_F(FileManagerTest, NamesInAFolderMakeReferencesThatCompareByObject) {
    MakeFolder("d");
    MakeFile("d/x");
    MakeFile("d/y");
    FSRef folder, x, y, empty;
    ASSERT_EQ(Ref("d", &folder), noErr);
    ASSERT_EQ(FSMakeFSRefUnicode(&folder, 1, u"x", kTextEncodingUnknown, &x), noErr);
    EXPECT_EQ(fmtest::PathOf(x), Path("d/x"));
    ASSERT_EQ(FSMakeFSRefUnicode(&folder, 1, u"y", kTextEncodingUnknown, &y), noErr);
    const std::pair<std::u16string, OSErr> rows[] = {
        {u"..", fnfErr}, {std::u16string(86, u'\u20AC'), errFSNameTooLong}};
    for (const auto& [name, expected] : rows) {
        FSRef found;
        EXPECT_EQ(FSMakeFSRefUnicode(&folder, name.size(), name.data(), 0, &found), expected)
            << name.size();
        EXPECT_EQ(found.node, nullptr);
    }
    EXPECT_EQ(FSMakeFSRefUnicode(&empty, 1, u"x", 0, &y), paramErr);
    // Compared by what the names hold now, not by record.
    FSRef again;
    ASSERT_EQ(Ref("d/x", &again), noErr);
    EXPECT_EQ(FSCompareFSRefs(&x, &x), noErr);
    EXPECT_EQ(FSCompareFSRefs(&x, &again), noErr);
    EXPECT_EQ(FSCompareFSRefs(&x, &y), errFSRefsDifferent);
    EXPECT_EQ(FSCompareFSRefs(&x, &empty), paramErr);
    ASSERT_EQ(unlink(Path("d/y").c_str()), 0);
    EXPECT_EQ(FSCompareFSRefs(&x, &y), fnfErr);
}

} // namespace
