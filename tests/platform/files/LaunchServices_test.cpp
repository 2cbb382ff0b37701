// Item information from the file system: what counts as an application.
#include "platform/LaunchServices.h"

#include "tests/platform/files/FileManagerTestSupport.h"

namespace {

class LaunchServicesTest : public fmtest::TempFolderTest {};

TEST_F(LaunchServicesTest, ApplicationsAreExecutableFilesAndAppFolders) {
    MakeFile("tool", "#!/bin/sh\n", 0755);
    MakeFile("group-exec", "", 0610);
    MakeFile("other-exec", "", 0601);
    MakeFile("text.txt", "", 0644);
    MakeFile(".hidden", "", 0644);
    MakeFolder("Thing.app");
    MakeFolder("app");
    ASSERT_EQ(mkfifo(Path("fifo").c_str(), 0755), 0);
    ASSERT_EQ(symlink(Path("tool").c_str(), Path("link").c_str()), 0);
    const LSItemInfoFlags app = kLSItemInfoIsApplication | kLSItemInfoIsNativeApp;
    struct Row {
        const char* name;
        LSItemInfoFlags flags;
        OSType type;
        const char* extension;
    } rows[] = {
        {"tool", kLSItemInfoIsPlainFile | app, 0, nullptr},
        {"group-exec", kLSItemInfoIsPlainFile | app, 0, nullptr},
        {"other-exec", kLSItemInfoIsPlainFile | app, 0, nullptr},
        {"text.txt", kLSItemInfoIsPlainFile, 0, "txt"},
        {".hidden", kLSItemInfoIsPlainFile | kLSItemInfoIsInvisible, 0, nullptr},
        {"Thing.app", kLSItemInfoIsContainer | kLSItemInfoIsPackage | app, 0, "app"},
        {"app", kLSItemInfoIsContainer, 0, nullptr},
        {"fifo", kLSItemInfoIsPlainFile, 0, nullptr},
        {"link", kLSItemInfoIsSymlink | kLSItemInfoIsAliasFile, kSymLinkFileType, nullptr},
    };
    for (const Row& row : rows) {
        FSRef ref;
        ASSERT_EQ(Ref(row.name, &ref, false), noErr) << row.name;
        LSItemInfoRecord info;
        memset(&info, 0xEE, sizeof info);
        ASSERT_EQ(LSCopyItemInfoForRef(&ref, kLSRequestAllFlags, &info), noErr) << row.name;
        EXPECT_EQ(info.flags, row.flags) << row.name;
        EXPECT_EQ(info.creator, 0xEEEEEEEEu) << "not requested: " << row.name;
        ASSERT_EQ(LSCopyItemInfoForRef(&ref, kLSRequestTypeCreator | kLSRequestExtension, &info),
                  noErr);
        EXPECT_EQ(info.filetype, row.type) << row.name;
        if (row.extension == nullptr) {
            EXPECT_EQ(info.extension, nullptr) << row.name;
            continue;
        }
        char text[16] = "";
        ASSERT_NE(info.extension, nullptr) << row.name;
        CFStringGetCString(info.extension, text, sizeof text, kCFStringEncodingUTF8);
        CFRelease(info.extension);
        EXPECT_STREQ(text, row.extension);
    }
    FSRef ref, root;
    LSItemInfoRecord info;
    ASSERT_EQ(FSPathMakeRef(reinterpret_cast<const UInt8*>("/"), &root, nullptr), noErr);
    ASSERT_EQ(LSCopyItemInfoForRef(&root, kLSRequestBasicFlagsOnly, &info), noErr);
    EXPECT_EQ(info.flags, kLSItemInfoIsContainer | kLSItemInfoIsVolume);
    ASSERT_EQ(Ref("tool", &ref), noErr);
    EXPECT_EQ(LSCopyItemInfoForRef(&ref, kLSRequestAllFlags, nullptr), paramErr);
    EXPECT_EQ(LSCopyItemInfoForRef(nullptr, kLSRequestAllFlags, &info), paramErr);
    ASSERT_EQ(unlink(Path("tool").c_str()), 0);
    EXPECT_EQ(LSCopyItemInfoForRef(&ref, kLSRequestAllFlags, &info), fnfErr);
}

} // namespace
