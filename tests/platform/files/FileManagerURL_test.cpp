// File URLs and references: a name that is not UTF-8 crosses by its escape both
// ways, links are followed, and a URL's path is taken whole.
#include "platform/CoreFoundation.h"
#include "platform/files/FileManagerInternal.h"
#include "tests/platform/files/FileManagerTestSupport.h"

namespace {

class FileManagerURLTest : public fmtest::TempFolderTest {
protected:
    std::u16string Root() const { return std::u16string(root_.begin(), root_.end()); }
    // What CFURLGetFSRef finds for a URL's text, or "" when it finds nothing.
    std::string Found(const std::string& url) {
        CFStringRef text = CFStringCreateWithCString(nullptr, url.c_str(), kCFStringEncodingUTF8);
        CFURLRef made = CFURLCreateWithString(nullptr, text, nullptr);
        CFRelease(text);
        FSRef ref;
        const bool found = made && CFURLGetFSRef(made, &ref);
        EXPECT_EQ(ref.node != nullptr, found) << url;
        if (made)
            CFRelease(made);
        return found ? fmtest::PathOf(ref) : "";
    }
    std::u16string PathOfURL(const FSRef& ref) {
        CFURLRef url = CFURLCreateFromFSRef(kCFAllocatorDefault, &ref);
        CFStringRef text = CFURLCopyFileSystemPath(url, kCFURLPOSIXPathStyle);
        std::u16string units(size_t(CFStringGetLength(text)), u'\0');
        CFStringGetCharacters(text, CFRange{0, CFIndex(units.size())}, units.data());
        EXPECT_EQ(CFURLHasDirectoryPath(url), ref.node->isDir());
        CFRelease(text);
        CFRelease(url);
        return units;
    }
};

TEST_F(FileManagerURLTest, URLsAndReferencesRoundTrip) {
    MakeFolder("dir");
    MakeFile("dir/caf\xE9", "x"); // Latin-1 bytes: not UTF-8
    ASSERT_EQ(symlink("dir", Path("link").c_str()), 0);
    EXPECT_EQ(Found("file://" + Path("dir/caf%E9")), Path("dir/caf\xE9"));
    EXPECT_EQ(Found("file://" + Path("link/caf%E9")), Path("dir/caf\xE9"));
    EXPECT_EQ(Found("file://" + Path("link/")), Path("dir"));
    EXPECT_EQ(Found("file://" + Path("missing")), "");
    EXPECT_EQ(Found("file://" + Path("dir%00")), ""); // a zero byte never cuts it short
    EXPECT_EQ(Found("file://" + Path("dir/caf%E9%00x")), "");
    FSRef dir, ref, empty;
    ASSERT_EQ(Ref("dir", &dir), noErr);
    ASSERT_EQ(FSMakeFSRefUnicode(&dir, 4, u"caf\xDCE9", 0, &ref), noErr);
    EXPECT_EQ(PathOfURL(ref), Root() + u"/dir/caf\xDCE9");
    ASSERT_EQ(Ref("link", &ref), noErr);
    EXPECT_EQ(PathOfURL(ref), Root() + u"/dir");
    EXPECT_EQ(CFURLCreateFromFSRef(kCFAllocatorDefault, &empty), nullptr);
    EXPECT_FALSE(CFURLGetFSRef(nullptr, &ref));

    // The tree operations' shortcut answers as the URL route does.
    OSErr status = 1;
    const std::u16string escaped = Root() + u"/link/caf\xDCE9//";
    ASSERT_TRUE(orvik::fm::FSRefFromAbsoluteUnits(escaped.data(), escaped.size(), &ref, &status));
    EXPECT_EQ(status, noErr);
    EXPECT_EQ(fmtest::PathOf(ref), Path("dir/caf\xE9"));
    const std::u16string missing = Root() + u"/missing", lone = Root() + u"/\xD800";
    ASSERT_TRUE(orvik::fm::FSRefFromAbsoluteUnits(missing.data(), missing.size(), &ref, &status));
    EXPECT_EQ(status, fnfErr);
    status = 1;
    EXPECT_FALSE(orvik::fm::FSRefFromAbsoluteUnits(u"dir", 3, &ref, &status));
    EXPECT_FALSE(orvik::fm::FSRefFromAbsoluteUnits(lone.data(), lone.size(), &ref, &status));
    EXPECT_EQ(status, 1);
    EXPECT_TRUE(orvik::fm::FSRefFromAbsoluteUnits(u"/", 1, &ref, &status));
    EXPECT_EQ(fmtest::PathOf(ref), "/");
}

} // namespace
