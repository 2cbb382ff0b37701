// File URLs and references: a name that is not UTF-8 crosses by its escape both
// ways, links are followed, and a URL's path is taken whole.
#include "platform/CoreFoundation.h"
#include "tests/platform/files/FileManagerTestSupport.h"

namespace {

class FileManagerURLTest : public fmtest::TempFolderTest {
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

TEST_F(FileManagerURLTest, URLsAndReferencesRoundTrip) {
    MakeFolder("dir");
    MakeFile("dir/caf\xE9", "x"); // Latin-1 bytes: not UTF-8
    ASSERT_EQ(symlink("dir", Path("link").c_str()), 0);
    const std::string file = "file://" + root_;
    EXPECT_EQ(Found(file + "/link/caf%E9"), Path("dir/caf\xE9"));
    EXPECT_EQ(Found(file + "/missing"), "");
    EXPECT_EQ(Found(file + "/dir%00"), ""); // a zero byte never cuts it short
    FSRef dir, ref, empty;
    ASSERT_EQ(Ref("link", &dir), noErr);
    ASSERT_EQ(FSMakeFSRefUnicode(&dir, 4, u"caf\xDCE9", 0, &ref), noErr);
    for (const FSRef* named : {&dir, &ref}) {
        CFURLRef url = CFURLCreateFromFSRef(nullptr, named);
        CFStringRef text = CFURLGetString(url);
        char bytes[512] = "";
        CFStringGetCString(text, bytes, sizeof bytes, kCFStringEncodingUTF8);
        EXPECT_EQ(bytes, named == &dir ? file + "/dir/" : file + "/dir/caf%E9");
        CFRelease(url);
    }
    EXPECT_EQ(CFURLCreateFromFSRef(nullptr, &empty), nullptr);
    EXPECT_FALSE(CFURLGetFSRef(nullptr, &ref));
}

} // namespace
