// Names on disk: which UTF-16 names a file can have, at the length limits, and
// how a name that is not UTF-8 comes back from a listing and finds its file again.
#include "tests/platform/files/FileManagerTestSupport.h"

namespace {

class FileManagerNamesTest : public fmtest::TempFolderTest {};

TEST_F(FileManagerNamesTest, CreationTakesExactlyTheNamesADiskCanHold) {
    FSRef top;
    ASSERT_EQ(Ref("", &top), noErr);
    const std::u16string euros85(85, u'\u20AC');
    std::string euroBytes; // 255 of them
    for (int i = 0; i < 85; ++i)
        euroBytes += "\xE2\x82\xAC";
    struct Row {
        std::u16string name;
        OSErr expected;
        std::string onDisk;
    } rows[] = {
        {std::u16string(255, u'n'), noErr, std::string(255, 'n')},
        {std::u16string(256, u'n'), bdNamErr, ""},
        {euros85, noErr, euroBytes},
        {euros85 + u"x", errFSNameTooLong, ""},
        {u"bad\xDCFF", noErr, "bad\xFF"},
        {u"bad\xD800", bdNamErr, ""},
        {u"...", noErr, "..."},
        {u".", bdNamErr, ""},
        {u"..", bdNamErr, ""},
        {u"a/b", bdNamErr, ""},
        {std::u16string(u"a\0b", 3), bdNamErr, ""},
        {u"", paramErr, ""},
    };
    for (const Row& row : rows) {
        FSRef made;
        EXPECT_EQ(
            FSCreateFileUnicode(&top, row.name.size(), row.name.data(), 0, nullptr, &made, nullptr),
            row.expected)
            << row.onDisk;
        if (row.expected != noErr)
            continue;
        EXPECT_TRUE(Exists(row.onDisk)) << row.onDisk;
        // The listed name finds the same file again.
        FSIterator iterator;
        ASSERT_EQ(FSOpenIterator(&top, kFSIterateFlat, &iterator), noErr);
        ItemCount count = 0;
        HFSUniStr255 name;
        ASSERT_EQ(
            FSGetCatalogInfoBulk(iterator, 1, &count, nullptr, 0, nullptr, nullptr, nullptr, &name),
            noErr);
        FSCloseIterator(iterator);
        EXPECT_EQ(std::u16string(name.unicode, name.length), row.name);
        FSRef again;
        ASSERT_EQ(FSMakeFSRefUnicode(&top, name.length, name.unicode, 0, &again), noErr);
        EXPECT_EQ(FSCompareFSRefs(&again, &made), noErr);
        EXPECT_EQ(FSDeleteObject(&again), noErr);
    }
    // 255 bytes that are not UTF-8 are 255 escapes: the longest name there is.
    const std::string invalid(255, '\xFF');
    MakeFile(invalid);
    FSRef ref;
    HFSUniStr255 name;
    ASSERT_EQ(FSMakeFSRefUnicode(&top, 255, std::u16string(255, u'\xDCFF').data(), 0, &ref), noErr);
    ASSERT_EQ(FSGetCatalogInfo(&ref, 0, nullptr, &name, nullptr, nullptr), noErr);
    EXPECT_EQ(std::u16string(name.unicode, name.length), std::u16string(255, u'\xDCFF'));
}

} // namespace
