// Item information from the file system: what counts as an application.
#include "platform/LaunchServices.h"

#include "tests/platform/FileManagerTestSupport.h"

namespace {

class FileManagerLaunchServicesTest : public fmtest::TempFolderTest {};

TEST_F(FileManagerLaunchServicesTest, ApplicationsAreExecutableFilesAndAppFolders) {
    MakeFile("tool", "#!/bin/sh\n", 0755);
    MakeFile("group-exec", "", 0610);
    MakeFile("text", "", 0644);
    MakeFile(".hidden", "", 0644);
    MakeFolder("Thing.app");
    MakeFolder("plain");
    ASSERT_EQ(symlink(Path("tool").c_str(), Path("link").c_str()), 0);
    const LSItemInfoFlags app = kLSItemInfoIsApplication | kLSItemInfoIsNativeApp;
    struct Row {
        const char* name;
        LSItemInfoFlags flags;
    } rows[] = {
        {"tool", kLSItemInfoIsPlainFile | app},
        {"group-exec", kLSItemInfoIsPlainFile | app},
        {"text", kLSItemInfoIsPlainFile},
        {".hidden", kLSItemInfoIsPlainFile | kLSItemInfoIsInvisible},
        {"Thing.app", kLSItemInfoIsContainer | kLSItemInfoIsPackage | app},
        {"plain", kLSItemInfoIsContainer},
        {"link", kLSItemInfoIsSymlink | kLSItemInfoIsAliasFile},
    };
    for (const Row& row : rows) {
        FSRef ref;
        ASSERT_EQ(Ref(row.name, &ref, false), noErr) << row.name;
        LSItemInfoRecord info;
        memset(&info, 0xEE, sizeof info);
        ASSERT_EQ(LSCopyItemInfoForRef(&ref, kLSRequestAllFlags, &info), noErr) << row.name;
        EXPECT_EQ(info.flags, row.flags) << row.name;
        EXPECT_EQ(info.creator, 0xEEEEEEEEu) << "not requested: " << row.name;
    }
    FSRef ref;
    ASSERT_EQ(Ref("tool", &ref), noErr);
    EXPECT_EQ(LSCopyItemInfoForRef(&ref, kLSRequestAllFlags, nullptr), paramErr);
    FSRef empty;
    LSItemInfoRecord info;
    EXPECT_EQ(LSCopyItemInfoForRef(&empty, kLSRequestAllFlags, &info), paramErr);
    ASSERT_EQ(unlink(Path("tool").c_str()), 0);
    EXPECT_EQ(LSCopyItemInfoForRef(&ref, kLSRequestAllFlags, &info), fnfErr);
}

} // namespace
