// Item information (what counts as an application) and file URLs (a name that
// is not UTF-8 crosses by its escape both ways, a URL's path is taken whole).
#include "platform/LaunchServices.h"

#include "platform/CoreFoundation.h"
#include "tests/platform/files/FileManagerTestSupport.h"

namespace {

class LaunchServicesTest : public fmtest::TempFolderTest {
protected:
    // What CFURLGetFSRef finds for a URL's text, or "" when it finds nothing.
    std::string Found(const std::string& tail) {
        CFStringRef text = CFStringCreateWithCString(nullptr, tail.c_str(), kCFStringEncodingUTF8);
        CFURLRef url = CFURLCreateWithString(nullptr, text, nullptr);
        CFRelease(text);
        FSRef ref;
        const bool found = CFURLGetFSRef(url, &ref);
        EXPECT_EQ(ref.node != nullptr, found) << tail;
        CFRelease(url);
        return found ? fmtest::PathOf(ref) : "";
    }
};

TEST_F(LaunchServicesTest, ApplicationsAreExecutableFilesAndAppFolders) {
    MakeFile("tool", "#!/bin/sh\n", 0700);
    MakeFile("group-exec", "", 0610);
    MakeFile(".hidden.txt", "", 0644);
    MakeFolder("Thing.app");
    ASSERT_EQ(mkfifo(Path("fifo").c_str(), 0755), 0);
    ASSERT_EQ(symlink(Path("tool").c_str(), Path("link").c_str()), 0);
    const LSItemInfoFlags app = kLSItemInfoIsApplication | kLSItemInfoIsNativeApp;
    const std::pair<const char*, LSItemInfoFlags> rows[] = {
        {"tool", kLSItemInfoIsPlainFile | app},
        {"group-exec", kLSItemInfoIsPlainFile | app},
        {".hidden.txt", kLSItemInfoIsPlainFile | kLSItemInfoIsInvisible},
        {"Thing.app", kLSItemInfoIsContainer | kLSItemInfoIsPackage | app},
        {"", kLSItemInfoIsContainer},
        {"fifo", kLSItemInfoIsPlainFile},
        {"link", kLSItemInfoIsSymlink | kLSItemInfoIsAliasFile},
        {"/", kLSItemInfoIsContainer | kLSItemInfoIsVolume},
    };
    FSRef ref;
    LSItemInfoRecord info;
    for (const auto& [name, flags] : rows) {
        const std::string path = *name == '/' ? name : Path(name);
        ASSERT_EQ(FSPathMakeRefWithOptions(reinterpret_cast<const UInt8*>(path.c_str()),
                                           kFSPathMakeRefDoNotFollowLeafSymlink, &ref, nullptr),
                  noErr);
        memset(&info, 0xEE, sizeof info);
        ASSERT_EQ(LSCopyItemInfoForRef(&ref, kLSRequestAllFlags, &info), noErr) << name;
        EXPECT_EQ(info.flags, flags) << name;
        EXPECT_EQ(info.filetype, 0xEEEEEEEEu) << "not requested: " << name;
    }
    ASSERT_EQ(LSCopyItemInfoForRef(&ref, kLSRequestTypeCreator, &info), noErr);
    EXPECT_EQ(info.filetype, 0u);
    ASSERT_EQ(Ref("link", &ref, false), noErr);
    ASSERT_EQ(LSCopyItemInfoForRef(&ref, kLSRequestTypeCreator, &info), noErr);
    EXPECT_EQ(info.filetype, OSType(kSymLinkFileType));
    ASSERT_EQ(unlink(Path("link").c_str()), 0);
    EXPECT_EQ(LSCopyItemInfoForRef(&ref, kLSRequestAllFlags, &info), fnfErr);
}

TEST_F(LaunchServicesTest, URLsAndReferencesRoundTrip) {
    MakeFolder("dir");
    MakeFile("dir/caf\xE9", "x"); // Latin-1 bytes: not UTF-8
    ASSERT_EQ(symlink("dir", Path("link").c_str()), 0);
    const std::string file = "file://" + root_;
    EXPECT_EQ(Found(file + "/link/caf%E9"), Path("dir/caf\xE9"));
    EXPECT_EQ(Found(file + "/dir%00"), ""); // a zero byte never cuts it short
    FSRef dir, ref, empty;
    ASSERT_EQ(Ref("link", &dir), noErr);
    ASSERT_EQ(FSMakeFSRefUnicode(&dir, 4, u"caf\xDCE9", 0, &ref), noErr);
    for (const FSRef* named : {&dir, &ref}) {
        CFURLRef url = CFURLCreateFromFSRef(nullptr, named);
        char bytes[512] = "";
        CFStringGetCString(CFURLGetString(url), bytes, sizeof bytes, kCFStringEncodingUTF8);
        EXPECT_EQ(bytes, named == &dir ? file + "/dir/" : file + "/dir/caf%E9");
        CFRelease(url);
    }
    EXPECT_EQ(CFURLCreateFromFSRef(nullptr, &empty), nullptr);
}

} // namespace
