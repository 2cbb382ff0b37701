// File URLs and references: the route GetFSRefFromFilename and GetTempPath
// take, names that are not UTF-8 included.
#include "platform/CoreFoundation.h"
#include "tests/platform/FileManagerTestSupport.h"

namespace {

class FileManagerURLTest : public fmtest::TempFolderTest {
protected:
    CFURLRef URLFor(const std::u16string& path, bool folder = false) {
        CFStringRef text =
            CFStringCreateWithCharacters(kCFAllocatorDefault, path.data(), CFIndex(path.size()));
        CFURLRef url =
            CFURLCreateWithFileSystemPath(kCFAllocatorDefault, text, kCFURLPOSIXPathStyle, folder);
        CFRelease(text);
        return url;
    }
    std::u16string PathOfURL(CFURLRef url) {
        CFStringRef text = CFURLCopyFileSystemPath(url, kCFURLPOSIXPathStyle);
        std::u16string units(size_t(CFStringGetLength(text)), u'\0');
        CFStringGetCharacters(text, CFRange{0, CFIndex(units.size())}, units.data());
        CFRelease(text);
        return units;
    }
};

TEST_F(FileManagerURLTest, URLsAndReferencesRoundTrip) {
    std::string invalid = "caf\xE9"; // Latin-1 bytes: not UTF-8
    MakeFolder("dir");
    MakeFile("dir/" + invalid, "x");
    ASSERT_EQ(symlink("dir", Path("link").c_str()), 0);
    std::u16string root = fmtest::U16(root_);
    // The escaped name reaches the file with those bytes.
    std::u16string escaped = root + u"/dir/caf\xDCE9";
    CFURLRef url = URLFor(escaped);
    ASSERT_NE(url, nullptr);
    FSRef ref;
    ASSERT_TRUE(CFURLGetFSRef(url, &ref));
    CFRelease(url);
    EXPECT_EQ(fmtest::PathOf(ref), Path("dir/" + invalid));
    // And back: the URL of the reference carries the same escape.
    CFURLRef back = CFURLCreateFromFSRef(kCFAllocatorDefault, &ref);
    ASSERT_NE(back, nullptr);
    EXPECT_TRUE(PathOfURL(back) == escaped);
    CFRelease(back);

    // Links are followed on this route; a folder's URL is a folder URL.
    url = URLFor(root + u"/link");
    ASSERT_TRUE(CFURLGetFSRef(url, &ref));
    CFRelease(url);
    back = CFURLCreateFromFSRef(kCFAllocatorDefault, &ref);
    ASSERT_NE(back, nullptr);
    EXPECT_TRUE(PathOfURL(back) == root + u"/dir");
    CFRelease(back);

    // Nothing there, or no reference: no result, nothing written.
    url = URLFor(root + u"/missing");
    FSRef untouched;
    EXPECT_FALSE(CFURLGetFSRef(url, &untouched));
    EXPECT_EQ(untouched.node, nullptr);
    EXPECT_FALSE(CFURLGetFSRef(url, nullptr));
    CFRelease(url);
    FSRef empty;
    EXPECT_EQ(CFURLCreateFromFSRef(kCFAllocatorDefault, &empty), nullptr);
}

} // namespace
