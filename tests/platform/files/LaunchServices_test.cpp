// Item information from the file system: what counts as an application.
#include "platform/LaunchServices.h"

#include "tests/platform/files/FileManagerTestSupport.h"

namespace {

class LaunchServicesTest : public fmtest::TempFolderTest {};

TEST_F(LaunchServicesTest, ApplicationsAreExecutableFilesAndAppFolders) {
    MakeFile("tool", "#!/bin/sh\n", 0755);
    MakeFile("group-exec", "", 0610);
    MakeFile("other-exec", "", 0601);
    MakeFile(".hidden.txt", "", 0644);
    MakeFolder("Thing.app");
    MakeFolder("app");
    ASSERT_EQ(mkfifo(Path("fifo").c_str(), 0755), 0);
    ASSERT_EQ(symlink(Path("tool").c_str(), Path("link").c_str()), 0);
    const LSItemInfoFlags app = kLSItemInfoIsApplication | kLSItemInfoIsNativeApp;
    const std::pair<const char*, LSItemInfoFlags> rows[] = {
        {"tool", kLSItemInfoIsPlainFile | app},
        {"group-exec", kLSItemInfoIsPlainFile | app},
        {"other-exec", kLSItemInfoIsPlainFile | app},
        {".hidden.txt", kLSItemInfoIsPlainFile | kLSItemInfoIsInvisible},
        {"Thing.app", kLSItemInfoIsContainer | kLSItemInfoIsPackage | app},
        {"app", kLSItemInfoIsContainer},
        {"fifo", kLSItemInfoIsPlainFile},
        {"link", kLSItemInfoIsSymlink | kLSItemInfoIsAliasFile},
        {"/", kLSItemInfoIsContainer | kLSItemInfoIsVolume},
    };
    for (const auto& [name, flags] : rows) {
        FSRef ref;
        const std::string path = *name == '/' ? name : Path(name);
        ASSERT_EQ(FSPathMakeRefWithOptions(reinterpret_cast<const UInt8*>(path.c_str()),
                                           kFSPathMakeRefDoNotFollowLeafSymlink, &ref, nullptr),
                  noErr);
        LSItemInfoRecord info;
        memset(&info, 0xEE, sizeof info);
        ASSERT_EQ(LSCopyItemInfoForRef(&ref, kLSRequestAllFlags, &info), noErr) << name;
        EXPECT_EQ(info.flags, flags) << name;
        EXPECT_EQ(info.filetype, 0xEEEEEEEEu) << "not requested: " << name;
    }
    FSRef ref;
    LSItemInfoRecord info;
    ASSERT_EQ(Ref("link", &ref, false), noErr);
    ASSERT_EQ(LSCopyItemInfoForRef(&ref, kLSRequestTypeCreator, &info), noErr);
    EXPECT_EQ(info.filetype, OSType(kSymLinkFileType));
    EXPECT_EQ(LSCopyItemInfoForRef(&ref, kLSRequestAllFlags, nullptr), paramErr);
    ASSERT_EQ(unlink(Path("link").c_str()), 0);
    EXPECT_EQ(LSCopyItemInfoForRef(&ref, kLSRequestAllFlags, &info), fnfErr);
}

} // namespace
