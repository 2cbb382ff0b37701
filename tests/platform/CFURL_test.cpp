#include "platform/CoreFoundation.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstring>
#include <string>

namespace {

std::u16string units(CFStringRef s) {
    if (s == nullptr)
        return u"<NULL>";
    std::u16string out(static_cast<size_t>(CFStringGetLength(s)), u'\0');
    CFStringGetCharacters(s, CFRangeMake(0, CFStringGetLength(s)), out.data());
    return out;
}

std::u16string take(CFStringRef s) {
    std::u16string u = units(s);
    if (s)
        CFRelease(s);
    return u;
}

CFStringRef make(const std::u16string& text) {
    return CFStringCreateWithCharacters(nullptr, reinterpret_cast<const UniChar*>(text.data()),
                                        static_cast<CFIndex>(text.size()));
}

CFURLRef fileURL(const std::u16string& path, bool dir) {
    CFStringRef p = make(path);
    CFURLRef u = CFURLCreateWithFileSystemPath(nullptr, p, kCFURLPOSIXPathStyle, dir);
    CFRelease(p);
    return u;
}

} // namespace

TEST(CFURL, FileSystemPathsRoundTrip) {
    struct Row {
        std::u16string path;
        bool dir;
        std::u16string string, fsPath, last, parent;
    };
    const Row rows[] = {
        {u"/tmp/a b/c.txt", false, u"file:///tmp/a%20b/c.txt", u"/tmp/a b/c.txt", u"c.txt",
         u"file:///tmp/a%20b/"},
        {u"/tmp/dir", true, u"file:///tmp/dir/", u"/tmp/dir", u"dir", u"file:///tmp/"},
        {u"/tmp/dir/", false, u"file:///tmp/dir/", u"/tmp/dir", u"dir", u"file:///tmp/"},
        {u"/caf\u00E9/100%#?", false, u"file:///caf%C3%A9/100%25%23%3F", u"/caf\u00E9/100%#?",
         u"100%#?", u"file:///caf%C3%A9/"},
        {u"/", true, u"file:///", u"/", u"/", u"file:///../"},
        {u"/top", false, u"file:///top", u"/top", u"top", u"file:///"},
        // A byte that is not UTF-8 travels as U+DC00 + byte and comes back the same.
        {u"/x\xDCE9", false, u"file:///x%E9", u"/x\xDCE9", u"x\xDCE9", u"file:///"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(std::string(r.string.begin(), r.string.end()));
        CFURLRef u = fileURL(r.path, r.dir);
        ASSERT_NE(u, nullptr);
        EXPECT_EQ(units(CFURLGetString(u)), r.string);
        EXPECT_EQ(take(CFURLCopyFileSystemPath(u, kCFURLPOSIXPathStyle)), r.fsPath);
        EXPECT_EQ(take(CFURLCopyLastPathComponent(u)), r.last);
        CFURLRef parent = CFURLCreateCopyDeletingLastPathComponent(nullptr, u);
        EXPECT_EQ(units(CFURLGetString(parent)), r.parent);
        CFRelease(parent);
        // The same URL parsed back from its string form is equal.
        CFURLRef again = CFURLCreateWithString(nullptr, CFURLGetString(u), nullptr);
        EXPECT_TRUE(CFEqual(again, u));
        CFRelease(again);
        CFRelease(u);
    }
}

TEST(CFURL, FileSystemRepresentationIsUtf8Bytes) {
    CFURLRef u = fileURL(u"/tmp/caf\u00E9/\xDC80", false);
    UInt8 buf[32];
    std::memset(buf, '#', sizeof buf);
    ASSERT_TRUE(CFURLGetFileSystemRepresentation(u, true, buf, sizeof buf));
    EXPECT_STREQ(reinterpret_cast<char*>(buf), "/tmp/caf\xC3\xA9/\x80");
    EXPECT_FALSE(CFURLGetFileSystemRepresentation(u, true, buf, 12)); // needs 13 with the zero
    CFRelease(u);
    // A zero byte inside can't be given as a zero-terminated path.
    u = CFURLCreateWithString(nullptr, CFSTR("file:///tmp/a%00b"), nullptr);
    ASSERT_NE(u, nullptr);
    EXPECT_FALSE(CFURLGetFileSystemRepresentation(u, true, buf, sizeof buf));
    CFRelease(u);

    const char raw[] = "/tmp/\xFF";
    u = CFURLCreateFromFileSystemRepresentation(nullptr, reinterpret_cast<const UInt8*>(raw),
                                                sizeof raw - 1, false);
    EXPECT_EQ(units(CFURLGetString(u)), u"file:///tmp/%FF");
    EXPECT_EQ(take(CFURLCopyFileSystemPath(u, kCFURLPOSIXPathStyle)), u"/tmp/\xDCFF");
    CFRelease(u);
}

TEST(CFURL, RelativePathsUseTheWorkingFolder) {
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    CFURLRef u = fileURL(u"rel/x", false);
    ASSERT_NE(u, nullptr);
    std::u16string expect;
    for (char c : std::string(cwd) + (std::string(cwd) == "/" ? "" : "/") + "rel/x")
        expect.push_back(static_cast<unsigned char>(c));
    EXPECT_EQ(take(CFURLCopyFileSystemPath(u, kCFURLPOSIXPathStyle)), expect);
    CFRelease(u);
}

TEST(CFURL, StringsAndBadInput) {
    EXPECT_EQ(CFURLCreateWithString(nullptr, CFSTR(""), nullptr), nullptr);
    EXPECT_EQ(CFURLCreateWithString(nullptr, CFSTR("file:///a b"), nullptr), nullptr);
    EXPECT_EQ(CFURLCreateWithString(nullptr, CFSTR("file:///a%2"), nullptr), nullptr);
    EXPECT_EQ(CFURLCreateWithString(nullptr, nullptr, nullptr), nullptr);
    EXPECT_EQ(CFURLCreateWithFileSystemPath(nullptr, CFSTR(""), kCFURLPOSIXPathStyle, false),
              nullptr);
    EXPECT_EQ(CFURLCreateWithFileSystemPath(nullptr, CFSTR("/a"), kCFURLWindowsPathStyle, false),
              nullptr);
    CFStringRef lone = make(u"/a\xD800");
    EXPECT_EQ(CFURLCreateWithFileSystemPath(nullptr, lone, kCFURLPOSIXPathStyle, false), nullptr);
    CFRelease(lone);

    CFURLRef web =
        CFURLCreateWithString(nullptr, CFSTR("HTTPS://host.example/p/q.html?x=1#f"), nullptr);
    ASSERT_NE(web, nullptr);
    EXPECT_EQ(take(CFURLCopyScheme(web)), u"https");
    EXPECT_EQ(take(CFURLCopyPath(web)), u"/p/q.html");
    EXPECT_EQ(take(CFURLCopyLastPathComponent(web)), u"q.html");
    EXPECT_EQ(CFURLCopyFileSystemPath(web, kCFURLPOSIXPathStyle), nullptr); // not a file URL
    UInt8 buf[8];
    EXPECT_FALSE(CFURLGetFileSystemRepresentation(web, true, buf, sizeof buf));

    CFURLRef base = fileURL(u"/base/dir", true);
    CFURLRef rel = CFURLCreateWithString(nullptr, CFSTR("../other/f%20g"), base);
    ASSERT_NE(rel, nullptr);
    EXPECT_EQ(take(CFURLCopyFileSystemPath(rel, kCFURLPOSIXPathStyle)), u"/base/other/f g");
    CFURLRef abs = CFURLCopyAbsoluteURL(rel);
    EXPECT_EQ(units(CFURLGetString(abs)), u"file:///base/other/f%20g");
    CFURLRef child = CFURLCreateCopyAppendingPathComponent(nullptr, base, CFSTR("a b"), true);
    EXPECT_EQ(units(CFURLGetString(child)), u"file:///base/dir/a%20b/");
    EXPECT_TRUE(CFURLHasDirectoryPath(child));
    EXPECT_FALSE(CFURLHasDirectoryPath(abs));
    for (CFURLRef x : {web, base, rel, abs, child})
        CFRelease(x);
}
