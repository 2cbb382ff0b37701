#include "platform/CoreFoundation.h"
#include "tests/platform/CFTestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

using orvik::preferences::PreferencesFilePath;
using orvik::preferences::SetPreferencesRootPrefix;

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

using cftest::Utf8;

CFStringRef Str(const char* text) {
    return CFStringCreateWithCString(nullptr, text, kCFStringEncodingUTF8);
}

// A binary property list {"Path": "/x"}, laid out by hand.
std::string BinaryPlist() {
    std::string data = "bplist00";
    data += std::string("\xD1\x01\x02", 3);       // object 0: dictionary, key 1, value 2
    data += "\x54Path";                           // object 1: "Path"
    data += "\x52/x";                             // object 2: "/x"
    data += std::string("\x08\x0B\x10", 3);       // offsets of the three objects
    data += std::string(6, '\0');                 // trailer
    data += std::string("\x01\x01", 2);           // offset and reference sizes
    data += std::string("\0\0\0\0\0\0\0\x03", 8); // object count
    data += std::string(8, '\0');                 // top object
    data += std::string("\0\0\0\0\0\0\0\x13", 8); // offset table at byte 19
    return data;
}

const char* kXmlPlist = R"(<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0">
<dict>
  <key>AutoLaunchedApplicationDictionary</key>
  <array>
    <dict><key>Path</key><string>/Applications/Product/Helper.app</string><key>Hide</key><false/></dict>
    <dict><key>Path</key><string>/Applications/Other.app</string><key>Hide</key><true/></dict>
  </array>
  <key>Count</key><integer>-42</integer>
  <key>Ratio</key><real>0.5</real>
  <key>Blob</key><data>AAEC/w==</data>
  <key>When</key><date>2001-01-02T00:00:00Z</date>
  <key>Name</key><string>Zoë</string>
</dict>
</plist>
)";

class PreferencesTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/orvik-prefs-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        root_ = pattern;
        for (const char* name : {"HOME", "LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"}) {
            const char* value = getenv(name);
            if (value != nullptr)
                saved_[name] = value;
            unsetenv(name);
        }
        setenv("HOME", "/home/tester", 1);
        SetPreferencesRootPrefix(root_);
        anyUserFolder_ = root_ + "/Library/Preferences";
        ASSERT_EQ(system(("mkdir -p '" + anyUserFolder_ + "'").c_str()), 0);
    }
    void TearDown() override {
        SetPreferencesRootPrefix("");
        for (const char* name : {"HOME", "LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"})
            unsetenv(name);
        for (const auto& [name, value] : saved_)
            setenv(name.c_str(), value.c_str(), 1);
        ASSERT_EQ(system(("rm -rf '" + root_ + "'").c_str()), 0);
    }
    std::string Write(const std::string& domain, const std::string& content, mode_t mode) {
        const std::string path = anyUserFolder_ + "/" + domain + ".plist";
        std::ofstream(path, std::ios::binary) << content;
        EXPECT_EQ(chmod(path.c_str(), mode), 0);
        return path;
    }
    CFTypeRef Copy(const char* key, const char* domain) {
        CFStringRef k = Str(key), d = Str(domain);
        CFTypeRef value =
            CFPreferencesCopyValue(k, d, kCFPreferencesAnyUser, kCFPreferencesCurrentHost);
        CFRelease(k);
        CFRelease(d);
        return value;
    }
    void Set(const char* key, CFTypeRef value, const char* domain) {
        CFStringRef k = Str(key), d = Str(domain);
        CFPreferencesSetValue(k, value, d, kCFPreferencesAnyUser, kCFPreferencesCurrentHost);
        CFRelease(k);
        CFRelease(d);
    }
    bool Sync(const char* domain) {
        CFStringRef d = Str(domain);
        const bool ok =
            CFPreferencesSynchronize(d, kCFPreferencesAnyUser, kCFPreferencesCurrentHost);
        CFRelease(d);
        return ok;
    }

    std::string root_, anyUserFolder_;
    std::map<std::string, std::string> saved_;
};

TEST_F(PreferencesTest, FilesLiveInTheAnyUserAndHomeFoldersBelowTheRoot) {
    CFStringRef domain = CFSTR("loginwindow");
    EXPECT_EQ(PreferencesFilePath(domain, kCFPreferencesAnyUser),
              root_ + "/Library/Preferences/loginwindow.plist");
    EXPECT_EQ(PreferencesFilePath(domain, kCFPreferencesCurrentUser),
              root_ + "/home/tester/Library/Preferences/loginwindow.plist");
    EXPECT_EQ(PreferencesFilePath(kCFPreferencesAnyApplication, kCFPreferencesAnyUser),
              root_ + "/Library/Preferences/.GlobalPreferences.plist");
    for (const char* bad : {"", ".", "..", "../etc/passwd", "a/b"}) {
        CFStringRef name = Str(bad);
        EXPECT_EQ(PreferencesFilePath(name, kCFPreferencesAnyUser), "") << bad;
        CFRelease(name);
    }
    CFStringRef nobody = CFSTR("no-such-user-here");
    EXPECT_EQ(PreferencesFilePath(domain, nobody), "");
}

TEST_F(PreferencesTest, XmlValuesConvertToEveryPropertyListType) {
    Write("loginwindow", kXmlPlist, 0644);
    CFTypeRef list = Copy("AutoLaunchedApplicationDictionary", "loginwindow");
    ASSERT_NE(list, nullptr);
    ASSERT_EQ(CFGetTypeID(list), CFArrayGetTypeID());
    auto array = static_cast<CFArrayRef>(list);
    ASSERT_EQ(CFArrayGetCount(array), 2);
    auto first = static_cast<CFDictionaryRef>(CFArrayGetValueAtIndex(array, 0));
    EXPECT_EQ(Utf8(static_cast<CFStringRef>(CFDictionaryGetValue(first, CFSTR("Path")))),
              "/Applications/Product/Helper.app");
    EXPECT_EQ(CFDictionaryGetValue(first, CFSTR("Hide")), kCFBooleanFalse);
    CFRelease(list);

    auto count = static_cast<CFNumberRef>(Copy("Count", "loginwindow"));
    int64_t integer = 0;
    ASSERT_NE(count, nullptr);
    CFNumberGetValue(count, kCFNumberSInt64Type, &integer);
    EXPECT_EQ(integer, -42);
    CFRelease(count);
    auto ratio = static_cast<CFNumberRef>(Copy("Ratio", "loginwindow"));
    double real = 0;
    ASSERT_NE(ratio, nullptr);
    EXPECT_TRUE(CFNumberIsFloatType(ratio));
    CFNumberGetValue(ratio, kCFNumberFloat64Type, &real);
    EXPECT_EQ(real, 0.5);
    CFRelease(ratio);
    auto blob = static_cast<CFDataRef>(Copy("Blob", "loginwindow"));
    ASSERT_NE(blob, nullptr);
    ASSERT_EQ(CFDataGetLength(blob), 4);
    EXPECT_EQ(CFDataGetBytePtr(blob)[3], 0xFF);
    CFRelease(blob);
    auto when = static_cast<CFDateRef>(Copy("When", "loginwindow"));
    ASSERT_NE(when, nullptr);
    EXPECT_EQ(CFDateGetAbsoluteTime(when), 86400.0);
    CFRelease(when);
    auto name = static_cast<CFStringRef>(Copy("Name", "loginwindow"));
    EXPECT_EQ(Utf8(name), "Zoë");
    CFRelease(name);
    EXPECT_EQ(Copy("Missing", "loginwindow"), nullptr);
    EXPECT_EQ(Copy("Name", "nonexistent-domain"), nullptr);
}

TEST_F(PreferencesTest, SetIsSeenAtOnceAndWrittenOnlyBySynchronize) {
    const std::string path = Write("loginwindow", kXmlPlist, 0640);
    const std::string before = ReadFile(path);
    CFStringRef value = CFSTR("changed");
    Set("Name", value, "loginwindow");
    Set("Count", nullptr, "loginwindow");
    auto seen = static_cast<CFStringRef>(Copy("Name", "loginwindow"));
    EXPECT_EQ(Utf8(seen), "changed");
    CFRelease(seen);
    EXPECT_EQ(Copy("Count", "loginwindow"), nullptr);
    EXPECT_EQ(ReadFile(path), before);

    ASSERT_TRUE(Sync("loginwindow"));
    const std::string after = ReadFile(path);
    EXPECT_EQ(after.rfind("<?xml", 0), 0u) << "XML stays XML";
    EXPECT_NE(after.find("<string>changed</string>"), std::string::npos);
    EXPECT_EQ(after.find("<key>Count</key>"), std::string::npos);
    EXPECT_NE(after.find("Helper.app"), std::string::npos) << "other keys are kept";
    struct stat info;
    ASSERT_EQ(stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
    // No temporary file is left beside it.
    EXPECT_EQ(system(("test $(ls -A '" + anyUserFolder_ + "' | wc -l) -eq 1").c_str()), 0);
    // A second synchronize without changes writes nothing and succeeds.
    EXPECT_TRUE(Sync("loginwindow"));
    EXPECT_EQ(ReadFile(path), after);
}

TEST_F(PreferencesTest, BinaryFilesAreReadAndStayBinaryWithTheirModeAndOwner) {
    const std::string path = Write("com.example.binary", BinaryPlist(), 0600);
    const bool root = geteuid() == 0;
    if (root) {
        ASSERT_EQ(chown(path.c_str(), 65534, 65534), 0);
    }
    auto value = static_cast<CFStringRef>(Copy("Path", "com.example.binary"));
    EXPECT_EQ(Utf8(value), "/x");
    if (value != nullptr)
        CFRelease(value);

    const int64_t number = 7;
    CFNumberRef seven = CFNumberCreate(nullptr, kCFNumberSInt64Type, &number);
    Set("Seven", seven, "com.example.binary");
    CFRelease(seven);
    ASSERT_TRUE(Sync("com.example.binary"));
    EXPECT_EQ(ReadFile(path).rfind("bplist00", 0), 0u);
    struct stat info;
    ASSERT_EQ(stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0600u);
    if (root) {
        EXPECT_EQ(info.st_uid, 65534u);
        EXPECT_EQ(info.st_gid, 65534u);
    }
    SetPreferencesRootPrefix(root_); // forget everything held in memory
    value = static_cast<CFStringRef>(Copy("Path", "com.example.binary"));
    EXPECT_EQ(Utf8(value), "/x");
    if (value != nullptr)
        CFRelease(value);
    auto back = static_cast<CFNumberRef>(Copy("Seven", "com.example.binary"));
    int64_t read = 0;
    ASSERT_NE(back, nullptr);
    CFNumberGetValue(back, kCFNumberSInt64Type, &read);
    EXPECT_EQ(read, 7);
    CFRelease(back);
}

TEST_F(PreferencesTest, UnreadableFilesGiveNullAndAreNeverOverwritten) {
    for (const std::string& content :
         {std::string("not a property list"), std::string("bplist00"),
          std::string("<plist><array/></plist>"), std::string(),
          std::string("<plist><dict><key>\x92\x94</key><string/></dict></plist>"),
          // A zero byte in a text: raw in XML, U+0000 in a binary file's UTF-16 string.
          std::string("<plist><dict><key>k</key><string>a\0b</string></dict></plist>", 60),
          std::string("bplist00\xD1\x01\x02\x51k\x62\0a\0\0\x08\x0B\x0D\0\0\0\0\0\0\x01\x01"
                      "\0\0\0\0\0\0\0\x03\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\x12",
                      53)}) {
        const std::string path = Write("broken", content, 0644);
        EXPECT_EQ(Copy("Any", "broken"), nullptr) << content;
        Set("Any", kCFBooleanTrue, "broken");
        EXPECT_FALSE(Sync("broken")) << content;
        EXPECT_EQ(ReadFile(path), content);
        SetPreferencesRootPrefix(root_);
    }
}

TEST_F(PreferencesTest, AFifoOrAnAbsurdlyDeepValueIsUnreadableNotAHang) {
    const std::string fifo = anyUserFolder_ + "/fifo.plist";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
    EXPECT_EQ(Copy("Any", "fifo"), nullptr);
    Set("Any", kCFBooleanTrue, "fifo");
    EXPECT_FALSE(Sync("fifo"));

    auto nested = [](int levels) {
        std::string text = "<plist><dict><key>Deep</key>";
        for (int i = 0; i < levels; ++i)
            text += "<array>";
        for (int i = 0; i < levels; ++i)
            text += "</array>";
        return text + "<key>Flat</key><true/></dict></plist>";
    };
    Write("deep", nested(200), 0644);
    CFTypeRef flat = Copy("Flat", "deep");
    EXPECT_EQ(flat, kCFBooleanTrue) << "200 levels are still read";
    if (flat != nullptr)
        CFRelease(flat);
    Write("deep", nested(300), 0644);
    EXPECT_EQ(Copy("Flat", "deep"), nullptr) << "the file as a whole is refused";
}

TEST_F(PreferencesTest, MissingFilesAndFoldersAreCreatedAndNonPropertyListsRefused) {
    CFStringRef domain = CFSTR("com.example.new");
    CFPreferencesSetValue(CFSTR("Flag"), kCFBooleanTrue, domain, kCFPreferencesCurrentUser,
                          kCFPreferencesAnyHost);
    // A URL is no property-list value: ignored.
    CFURLRef url =
        CFURLCreateWithFileSystemPath(nullptr, CFSTR("/tmp"), kCFURLPOSIXPathStyle, true);
    CFPreferencesSetValue(CFSTR("Url"), url, domain, kCFPreferencesCurrentUser,
                          kCFPreferencesAnyHost);
    CFRelease(url);
    ASSERT_TRUE(CFPreferencesSynchronize(domain, kCFPreferencesCurrentUser, kCFPreferencesAnyHost));
    const std::string path = root_ + "/home/tester/Library/Preferences/com.example.new.plist";
    const std::string written = ReadFile(path);
    EXPECT_NE(written.find("<key>Flag</key>"), std::string::npos) << written;
    EXPECT_EQ(written.find("Url"), std::string::npos) << written;
    CFPropertyListRef flag = CFPreferencesCopyAppValue(CFSTR("Flag"), domain);
    EXPECT_EQ(flag, kCFBooleanTrue);
    if (flag != nullptr)
        CFRelease(flag);
}

TEST_F(PreferencesTest, LanguagesComeFromTheEnvironmentAsGettextNamesThem) {
    struct Row {
        std::map<std::string, std::string> env;
        std::vector<std::string> expected;
    } rows[] = {
        {{{"LANGUAGE", "fr_CA:de"}, {"LANG", "es_ES.UTF-8"}}, {"fr-CA", "de"}},
        {{{"LANGUAGE", ":C:ja"}}, {"ja"}},
        {{{"LC_ALL", "de_DE.UTF-8"}, {"LC_MESSAGES", "fr_FR"}, {"LANG", "es"}}, {"de-DE"}},
        {{{"LC_MESSAGES", "es_ES@euro"}, {"LANG", "fr_FR"}}, {"es-ES"}},
        {{{"LANGUAGE", ""}, {"LANG", "ja_JP.UTF-8"}}, {"ja-JP"}},
        {{{"LANG", "C"}}, {}},
        {{{"LC_ALL", "POSIX"}, {"LANG", "de_DE"}}, {}},
        {{{"LANG", "de;rm -rf"}}, {}},
        {{}, {}},
    };
    for (const Row& row : rows) {
        for (const char* name : {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"})
            unsetenv(name);
        std::string description;
        for (const auto& [name, value] : row.env) {
            setenv(name.c_str(), value.c_str(), 1);
            description += name + "=" + value + " ";
        }
        CFTypeRef value =
            CFPreferencesCopyAppValue(CFSTR("AppleLanguages"), kCFPreferencesCurrentApplication);
        if (row.expected.empty()) {
            EXPECT_EQ(value, nullptr) << description;
            continue;
        }
        ASSERT_NE(value, nullptr) << description;
        auto array = static_cast<CFArrayRef>(value);
        std::vector<std::string> got;
        for (CFIndex i = 0; i < CFArrayGetCount(array); ++i)
            got.push_back(Utf8(static_cast<CFStringRef>(CFArrayGetValueAtIndex(array, i))));
        EXPECT_EQ(got, row.expected) << description;
        CFRelease(value);
    }
}

} // namespace
