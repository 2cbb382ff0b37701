// Preferences over property-list files: where the files are, what their values become, that
// changes reach the file only on synchronize and keep its format, mode and owner, and that
// a file that cannot be read, or a write that fails, never costs the file on disk.
#include "tests/TestSupport.h"
#include "tests/platform/CFTestSupport.h"

#include <gtest/gtest.h>

using namespace cftest;
using namespace testsupport;
using orvik::preferences::PreferencesFilePath;
using orvik::preferences::SetPreferencesRootPrefix;

namespace {

Str S(const char* text) {
    return Str(CFStringCreateWithCString(nullptr, text, kCFStringEncodingUTF8));
}

const char* kXmlPlist = R"(<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0"><dict><key>Path</key><string>/Applications/Product/Helper.app</string>
<key>Count</key><integer>-42</integer><key>Name</key><string>Zoë</string></dict></plist>
)";

class PreferencesTest : public TempFolderTest {
protected:
    void SetUp() override {
        TempFolderTest::SetUp();
        SetPreferencesRootPrefix(root_ + "/");
        folder_ = Path("Library/Preferences");
        ASSERT_EQ(mkdir(Path("Library").c_str(), 0755), 0);
        ASSERT_EQ(mkdir(folder_.c_str(), 0755), 0);
    }
    void TearDown() override {
        SetPreferencesRootPrefix("");
        TempFolderTest::TearDown();
    }
    std::string Write(const std::string& domain, const std::string& content, mode_t mode) {
        const std::string path = folder_ + "/" + domain + ".plist";
        EXPECT_TRUE(WriteFile(path, content, mode));
        return path;
    }
    static CFTypeRef Copy(const char* key, const char* domain) {
        return CFPreferencesCopyValue(S(key).get(), S(domain).get(), kCFPreferencesAnyUser,
                                      kCFPreferencesCurrentHost);
    }
    static std::string CopyText(const char* key, const char* domain) {
        CFRef<CFTypeRef> value(Copy(key, domain));
        return Utf8(static_cast<CFStringRef>(value.get())); // "<none>" for other types
    }
    static void Set(const char* key, CFTypeRef value, const char* domain) {
        CFPreferencesSetValue(S(key).get(), value, S(domain).get(), kCFPreferencesAnyUser,
                              kCFPreferencesCurrentHost);
    }
    static bool Sync(const char* domain) {
        return CFPreferencesSynchronize(S(domain).get(), kCFPreferencesAnyUser,
                                        kCFPreferencesCurrentHost);
    }

    ScopedEnv home_{"HOME", "/home/tester"};
    std::string folder_;
};

TEST_F(PreferencesTest, FilesLiveInTheHomeFolderBelowTheRootForSafeDomainsOnly) {
    home_.Set("/home/slash/");
    EXPECT_EQ(PreferencesFilePath(CFSTR("loginwindow"), kCFPreferencesCurrentUser),
              root_ + "/home/slash/Library/Preferences/loginwindow.plist");
    for (const char* bad : {"", ".", "..", "a/b"})
        EXPECT_EQ(PreferencesFilePath(S(bad).get(), kCFPreferencesAnyUser), "") << bad;
    EXPECT_EQ(PreferencesFilePath(CFSTR("x"), CFSTR("no-such-user-here")), "");
}

TEST_F(PreferencesTest, ChangesAreSeenAtOnceAndWrittenOnlyBySynchronize) {
    const std::string path = Write("loginwindow", kXmlPlist, 0640);
    Set("Name", CFSTR("changed"), "loginwindow");
    Set("Count", nullptr, "loginwindow");
    Set("Name", kCFNull, "loginwindow"); // no property-list value: ignored
    EXPECT_EQ(CopyText("Name", "loginwindow"), "changed");
    EXPECT_EQ(Copy("Count", "loginwindow"), nullptr);
    EXPECT_EQ(ReadFile(path), kXmlPlist);
    ASSERT_TRUE(Sync("loginwindow"));
    const std::string after = ReadFile(path);
    EXPECT_EQ(after.rfind("<?xml", 0), 0u) << "XML stays XML";
    EXPECT_NE(after.find("<string>changed</string>"), std::string::npos);
    EXPECT_EQ(ModeOf(path), 0640u);
    EXPECT_TRUE(SetImmutable(path, true)); // nothing changed: nothing written
    EXPECT_TRUE(Sync("loginwindow"));
    EXPECT_TRUE(SetImmutable(path, false));

    // A new file, and the folders it needs, are made; each kind of value comes back.
    const double half = 0.5;
    const int64_t seven = -7;
    CFRef<CFNumberRef> number(CFNumberCreate(nullptr, kCFNumberFloat64Type, &half));
    CFRef<CFNumberRef> n7(CFNumberCreate(nullptr, kCFNumberSInt64Type, &seven));
    CFRef<CFDataRef> data(CFDataCreate(nullptr, reinterpret_cast<const UInt8*>("\1\2"), 2));
    CFRef<CFDateRef> date(CFDateCreate(nullptr, 86400.0));
    const void* items[] = {n7.get(), number.get(), data.get(), date.get(), kCFBooleanTrue};
    CFRef<CFArrayRef> array(CFArrayCreate(nullptr, items, 5, &kCFTypeArrayCallBacks));
    CFPreferencesSetAppValue(CFSTR("All"), array.get(), CFSTR("com.example.new"));
    ASSERT_TRUE(CFPreferencesAppSynchronize(CFSTR("com.example.new")));
    SetPreferencesRootPrefix(root_); // forget everything held in memory
    CFRef<CFTypeRef> back(CFPreferencesCopyAppValue(CFSTR("All"), CFSTR("com.example.new")));
    EXPECT_TRUE(CFEqual(back.get(), array.get()));
}

TEST_F(PreferencesTest, UnreadableFilesGiveNullAndAreNeverOverwritten) {
    auto nested = [](int levels, const std::string& open, const std::string& close) {
        std::string text = "<plist><dict><key>Deep</key>";
        for (int i = 0; i < levels; ++i)
            text += open;
        text += "<true/>";
        for (int i = 0; i < levels; ++i)
            text += close;
        return text + "<key>Any</key><true/></dict></plist>";
    };
    const std::string inDict = "<dict><key>k</key>";
    Write("deep", nested(200, "<array>", "</array>"), 0644);
    Write("deeper", nested(200, inDict, "</dict>"), 0644); // 200 levels are still read
    EXPECT_EQ(CFRef<CFTypeRef>(Copy("Any", "deep")).get(), kCFBooleanTrue);
    EXPECT_EQ(CFRef<CFTypeRef>(Copy("Any", "deeper")).get(), kCFBooleanTrue);
    for (const std::string& content :
         {std::string("not a property list"), std::string("bplist00"),
          std::string("<plist><array/></plist>"), std::string(),
          std::string("<plist><dict><key>\x92\x94</key><string/></dict></plist>"),
          std::string("bplist00\xD1\x01\x02\x51k\x62\0a\0\0\x08\x0B\x0D\0\0\0\0\0\0\x01\x01"
                      "\0\0\0\0\0\0\0\x03\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\x12",
                      53),
          nested(300, "<array>", "</array>"), nested(300, inDict, "</dict>")}) {
        const std::string path = Write("broken", content, 0644);
        EXPECT_EQ(Copy("Any", "broken"), nullptr) << content;
        Set("Any", kCFBooleanTrue, "broken");
        EXPECT_FALSE(Sync("broken")) << content;
        EXPECT_EQ(ReadFile(path), content);
        SetPreferencesRootPrefix(root_);
    }
}

// A write refused by the folder or at the rename fails the synchronize and leaves the folder
// exactly as it was; the change stays pending and is written by a later synchronize that can.
TEST_F(PreferencesTest, AFailedWriteLeavesTheOldFileAndNoTemporaryFile) {
    if (!IsRoot())
        GTEST_SKIP() << "needs root";
    const std::string path = Write("app", kXmlPlist, 0644);
    for (const std::string& locked : {path, folder_}) {
        Set("Name", CFSTR("new"), "app");
        ASSERT_TRUE(SetImmutable(locked, true)) << "no immutable flag here";
        const std::string before = Fingerprint(folder_);
        EXPECT_FALSE(Sync("app")) << locked;
        EXPECT_EQ(Fingerprint(folder_), before) << locked;
        EXPECT_EQ(CopyText("Name", "app"), "new");
        ASSERT_TRUE(SetImmutable(locked, false));
        EXPECT_TRUE(Sync("app"));
        EXPECT_NE(ReadFile(path).find("<string>new</string>"), std::string::npos);
        ASSERT_TRUE(WriteFile(path, kXmlPlist, 0644));
    }
}

} // namespace
