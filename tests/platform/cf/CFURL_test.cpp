// URLs: file-system paths to URLs and back (escapes, bytes that are not UTF-8, folders),
// the parts of other URLs, relative references, and what is refused.
#include "tests/platform/CFTestSupport.h"

#include <gtest/gtest.h>

#include <tuple>

using namespace cftest;

namespace {

CFURLRef FileURL(std::u16string_view path, bool dir) {
    return CFURLCreateWithFileSystemPath(nullptr, Str(Make(path)).get(), kCFURLPOSIXPathStyle, dir);
}

TEST(CFURL, FileSystemPathsRoundTrip) {
    const std::tuple<std::u16string, bool, std::u16string, std::u16string, std::u16string,
                     std::u16string>
        rows[] = {
            {u"/tmp/a b/c.txt", false, u"file:///tmp/a%20b/c.txt", u"/tmp/a b/c.txt", u"c.txt",
             u"file:///tmp/a%20b/"},
            {u"/caf\u00E9/100%#?", false, u"file:///caf%C3%A9/100%25%23%3F", u"/caf\u00E9/100%#?",
             u"100%#?", u"file:///caf%C3%A9/"},
            {u"/", true, u"file:///", u"/", u"/", u"file:///../"},
            // A byte that is not UTF-8 travels as U+DC00 + byte and comes back the same.
            {u"/x\xDCE9", false, u"file:///x%E9", u"/x\xDCE9", u"x\xDCE9", u"file:///"},
        };
    for (const auto& [path, dir, string, fsPath, last, parent] : rows) {
        SCOPED_TRACE(testing::PrintToString(string));
        CFRef<CFURLRef> u(FileURL(path, dir));
        EXPECT_EQ(Units(CFURLGetString(u.get())), string);
        EXPECT_EQ(Take(CFURLCopyFileSystemPath(u.get(), kCFURLPOSIXPathStyle)), fsPath);
        EXPECT_EQ(Take(CFURLCopyLastPathComponent(u.get())), last);
        CFRef<CFURLRef> up(CFURLCreateCopyDeletingLastPathComponent(nullptr, u.get()));
        EXPECT_EQ(Units(CFURLGetString(up.get())), parent);
        EXPECT_EQ(bool(CFURLHasDirectoryPath(u.get())), string.back() == u'/');
        CFRef<CFURLRef> again(CFURLCreateWithString(nullptr, CFURLGetString(u.get()), nullptr));
        EXPECT_TRUE(CFEqual(again.get(), u.get()));
    }
}

TEST(CFURL, OtherUrlsRelativeReferencesAndBadInput) {
    for (CFStringRef bad :
         {CFSTR(""), CFSTR("file:///a b"), CFSTR("file:///a%2"), CFSTR("file:///a%g0")})
        EXPECT_EQ(CFURLCreateWithString(nullptr, bad, nullptr), nullptr) << Utf8(bad);
    EXPECT_EQ(FileURL(u"", false), nullptr);
    EXPECT_EQ(FileURL(u"/a\xD800", false), nullptr);

    CFRef<CFURLRef> web(
        CFURLCreateWithString(nullptr, CFSTR("HTTPS://host.example/p/q.html?x=1#f"), nullptr));
    EXPECT_EQ(Take(CFURLCopyScheme(web.get())), u"https");
    EXPECT_EQ(Take(CFURLCopyLastPathComponent(web.get())), u"q.html");
    EXPECT_EQ(CFURLCopyFileSystemPath(web.get(), kCFURLPOSIXPathStyle), nullptr);

    CFRef<CFURLRef> base(FileURL(u"/base/dir", true));
    CFRef<CFURLRef> rel(CFURLCreateWithString(nullptr, CFSTR("../other/f%20g"), base.get()));
    EXPECT_EQ(Take(CFURLCopyFileSystemPath(rel.get(), kCFURLPOSIXPathStyle)), u"/base/other/f g");
    // Removing dot segments keeps the empty segment after a final slash.
    CFRef<CFURLRef> site(CFURLCreateWithString(nullptr, CFSTR("http://x/a/b"), nullptr));
    CFRef<CFURLRef> dir(CFURLCreateWithString(nullptr, CFSTR("d/"), site.get()));
    EXPECT_EQ(Units(CFURLGetString(CFRef<CFURLRef>(CFURLCopyAbsoluteURL(dir.get())).get())),
              u"http://x/a/d/");
}

} // namespace
