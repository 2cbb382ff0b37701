// Names on disk: which UTF-16 names a file can have, at the length limits, and
// how a name that is not UTF-8 comes back and finds its file again.
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
        {u".", bdNamErr, ""},
        {u"..", bdNamErr, ""},
        {u"a/b", bdNamErr, ""},
        {std::u16string(u"a\0b", 3), bdNamErr, ""},
        {u"", paramErr, ""},
    };
    for (const Row& row : rows) {
        FSRef made, again;
        EXPECT_EQ(
            FSCreateFileUnicode(&top, row.name.size(), row.name.data(), 0, nullptr, &made, nullptr),
            row.expected)
            << row.onDisk;
        if (row.expected != noErr)
            continue;
        EXPECT_TRUE(Exists(row.onDisk)) << row.onDisk;
        // The name read back finds the same file again.
        HFSUniStr255 name;
        ASSERT_EQ(FSGetCatalogInfo(&made, 0, nullptr, &name, nullptr, nullptr), noErr);
        EXPECT_EQ(std::u16string(name.unicode, name.length), row.name);
        ASSERT_EQ(FSMakeFSRefUnicode(&top, name.length, name.unicode, 0, &again), noErr);
        EXPECT_EQ(FSDeleteObject(&again), noErr);
        EXPECT_FALSE(Exists(row.onDisk));
    }
    // 255 bytes that are not UTF-8 are 255 escapes: the longest name there is.
    MakeFile(std::string(255, '\xFF'));
    FSRef ref;
    HFSUniStr255 name;
    ASSERT_EQ(FSMakeFSRefUnicode(&top, 255, std::u16string(255, u'\xDCFF').data(), 0, &ref), noErr);
    ASSERT_EQ(FSGetCatalogInfo(&ref, 0, nullptr, &name, nullptr, nullptr), noErr);
    EXPECT_EQ(std::u16string(name.unicode, name.length), std::u16string(255, u'\xDCFF'));
}

} // namespace
