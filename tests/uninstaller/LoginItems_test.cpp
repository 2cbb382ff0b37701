// The login-item filter, on real property-list files below a temporary preferences root.

#include "UninstallTestSupport.h"
#include "platform/CFPreferences.h"

namespace {

const char* const kApp = "/Applications/ORVIK Tandro Riravor";

class LoginItemsTest : public UninstallTest {
protected:
    void SetUp() override {
        UninstallTest::SetUp();
        MakeDir("Library/Preferences");
        orvik::preferences::SetPreferencesRootPrefix(root_);
    }
    void TearDown() override {
        orvik::preferences::SetPreferencesRootPrefix("");
        UninstallTest::TearDown();
    }

    std::string PlistPath() const { return Path("Library/Preferences/loginwindow.plist"); }

    void WriteList(const std::vector<std::string>& paths) {
        std::string body;
        for (const std::string& path : paths)
            body += "<dict><key>Path</key><string>" + path + "</string></dict>";
        m_written = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
                    "<key>AutoLaunchedApplicationDictionary</key><array>" +
                    body + "</array><key>Other</key><integer>3</integer></dict></plist>\n";
        MakeFile("Library/Preferences/loginwindow.plist", m_written);
    }
    std::string FileText() const { return testsupport::ReadFile(PlistPath()); }
    // The "Path" strings of the list as the file holds them now, in order.
    std::vector<std::string> PathsInFile() const {
        std::vector<std::string> paths;
        std::string xml = FileText();
        const std::string key = "<key>Path</key>";
        for (size_t at = xml.find(key); at != std::string::npos; at = xml.find(key, at + 1)) {
            size_t open = xml.find("<string>", at) + 8;
            paths.push_back(xml.substr(open, xml.find("</string>", open) - open));
        }
        return paths;
    }

    std::string m_written;
};

// A binary property list {AutoLaunchedApplicationDictionary: [{Path: p} for p in paths]},
// written byte by byte (ASCII strings, one-byte object references, two-byte offsets).
std::string BinaryLoginList(const std::vector<std::string>& paths) {
    std::vector<std::string> objects;
    auto string = [](const std::string& text) {
        std::string out;
        if (text.size() < 15) {
            out += static_cast<char>(0x50 | text.size());
        } else {
            out += '\x5f';
            out += '\x10';
            out += static_cast<char>(text.size());
        }
        return out + text;
    };
    // 0 root, 1 its key, 2 the array, 3 "Path", then a dictionary and its string per entry.
    const size_t count = 4 + 2 * paths.size();
    std::string root = "\xd1";
    root += '\x01';
    root += '\x02';
    objects.push_back(root);
    objects.push_back(string("AutoLaunchedApplicationDictionary"));
    std::string array(1, static_cast<char>(0xa0 | paths.size()));
    for (size_t i = 0; i < paths.size(); ++i)
        array += static_cast<char>(4 + 2 * i);
    objects.push_back(array);
    objects.push_back(string("Path"));
    for (size_t i = 0; i < paths.size(); ++i) {
        std::string dict = "\xd1";
        dict += '\x03';
        dict += static_cast<char>(5 + 2 * i);
        objects.push_back(dict);
        objects.push_back(string(paths[i]));
    }
    std::string file = "bplist00";
    std::vector<size_t> offsets;
    for (const std::string& object : objects) {
        offsets.push_back(file.size());
        file += object;
    }
    const size_t table = file.size();
    for (size_t offset : offsets) {
        file += static_cast<char>(offset >> 8);
        file += static_cast<char>(offset & 0xff);
    }
    std::string trailer(32, '\0');
    trailer[6] = 2; // offset size
    trailer[7] = 1; // object reference size
    trailer[15] = static_cast<char>(count);
    trailer[23] = 0; // top object
    trailer[30] = static_cast<char>(table >> 8);
    trailer[31] = static_cast<char>(table & 0xff);
    return file + trailer;
}

LoggedLine Comparing(const std::string& path, int match) {
    return Notice("Comparing " + path + " to " + kApp + " == " + std::to_string(match) + "\n");
}
LoggedLine RemovingValue(const std::string& path, int index) {
    return Notice("Removing value " + path + " at index " + std::to_string(index) + "\n");
}
const LoggedLine kAttempting = Notice(std::string("Attempting to remove entries for ") + kApp +
                                      " in /Libary/Preferences/loginwindow.plist\n");

TEST_F(LoginItemsTest, RemovesEntriesThatBeginWithTheFolder) {
    const std::string app = kApp;
    WriteList({"/Applications/Mail.app", app + "/ORVIK Tandro.app", app + "/Helpers/Agent",
               app + " Extra/Tool", "/applications/orvik tandro riravor/x", app,
               "/Applications/Zeta.app"});
    EXPECT_TRUE(RemoveService(CAtlString(u"/Applications/ORVIK Tandro Riravor")));
    // Adjacent matches share an index; the sibling with a longer name matches; case counts.
    EXPECT_EQ(
        m_log,
        (std::vector<LoggedLine>{
            kAttempting, Comparing("/Applications/Mail.app", 0),
            Comparing(app + "/ORVIK Tandro.app", 1), RemovingValue(app + "/ORVIK Tandro.app", 1),
            Comparing(app + "/Helpers/Agent", 1), RemovingValue(app + "/Helpers/Agent", 1),
            Comparing(app + " Extra/Tool", 1), RemovingValue(app + " Extra/Tool", 1),
            Comparing("/applications/orvik tandro riravor/x", 0), Comparing(app, 1),
            RemovingValue(app, 2), Comparing("/Applications/Zeta.app", 0)}));
    EXPECT_EQ(PathsInFile(), (std::vector<std::string>{"/Applications/Mail.app",
                                                       "/applications/orvik tandro riravor/x",
                                                       "/Applications/Zeta.app"}));
    EXPECT_NE(FileText().find("<key>Other</key>"), std::string::npos) << FileText();
}

TEST_F(LoginItemsTest, NothingMatchingMeansNothingWritten) {
    for (const std::vector<std::string>& list :
         {std::vector<std::string>{}, std::vector<std::string>{"/Applications/Zeta.app"}}) {
        m_log.clear();
        // A new run of the program: nothing held in memory from the last one.
        orvik::preferences::SetPreferencesRootPrefix(root_);
        WriteList(list);
        EXPECT_TRUE(RemoveService(CAtlString(u"/Applications/ORVIK Tandro Riravor")));
        EXPECT_EQ(m_log.front(), kAttempting);
        EXPECT_EQ(m_log.size(), 1 + list.size());
        EXPECT_EQ(FileText(), m_written) << "the file is flushed only after a removal";
    }
}

TEST_F(LoginItemsTest, UnreadableListIsReportedAndKept) {
    const std::vector<LoggedLine> unreadable = {
        kAttempting,
        Warning("Failed to load loginwindow.plist.  This is potentially a file permission "
                "problem.\n"),
        Warning(std::string("Please remove the entries for Path=\"") + kApp +
                "\" in this file manually\n")};
    // No file at all.
    EXPECT_FALSE(RemoveService(CAtlString(u"/Applications/ORVIK Tandro Riravor")));
    EXPECT_EQ(m_log, unreadable);
    EXPECT_FALSE(Exists("Library/Preferences/loginwindow.plist"));
    // A corrupt file stays as it was.
    m_log.clear();
    MakeFile("Library/Preferences/loginwindow.plist", "<plist><dict><key>Auto");
    EXPECT_FALSE(RemoveService(CAtlString(u"/Applications/ORVIK Tandro Riravor")));
    EXPECT_EQ(m_log, unreadable);
    EXPECT_EQ(FileText(), "<plist><dict><key>Auto");
}

TEST_F(LoginItemsTest, ListOfTheWrongShape) {
    // Not an array: the copy fails, false, nothing beyond the first line.
    const std::string dict = "<?xml version=\"1.0\"?>\n<plist version=\"1.0\"><dict>"
                             "<key>AutoLaunchedApplicationDictionary</key><dict><key>Path</key>"
                             "<string>/Applications/ORVIK Tandro Riravor/x</string></dict>"
                             "</dict></plist>\n";
    MakeFile("Library/Preferences/loginwindow.plist", dict);
    EXPECT_FALSE(RemoveService(CAtlString(u"/Applications/ORVIK Tandro Riravor")));
    EXPECT_EQ(m_log, std::vector<LoggedLine>{kAttempting});
    EXPECT_EQ(FileText(), dict);

    // Entries that are not dictionaries, or have no string "Path", are left in place.
    m_log.clear();
    const std::string mixed =
        "<?xml version=\"1.0\"?>\n<plist version=\"1.0\"><dict>"
        "<key>AutoLaunchedApplicationDictionary</key><array>"
        "<string>/Applications/ORVIK Tandro Riravor/s</string><integer>1</integer>"
        "<dict><key>Path</key><integer>5</integer></dict><dict><key>Hide</key><true/></dict>"
        "<dict><key>Path</key><string>/Applications/ORVIK Tandro Riravor/a</string></dict>"
        "</array></dict></plist>\n";
    MakeFile("Library/Preferences/loginwindow.plist", mixed);
    EXPECT_TRUE(RemoveService(CAtlString(u"/Applications/ORVIK Tandro Riravor")));
    EXPECT_EQ(m_log, (std::vector<LoggedLine>{kAttempting, Comparing(std::string(kApp) + "/a", 1),
                                              RemovingValue(std::string(kApp) + "/a", 4)}));
    const std::string after = FileText();
    EXPECT_NE(after.find("/Applications/ORVIK Tandro Riravor/s"), std::string::npos) << after;
    EXPECT_EQ(after.find("/Applications/ORVIK Tandro Riravor/a"), std::string::npos) << after;
}

TEST_F(LoginItemsTest, BinaryListStaysBinary) {
    const std::string app = kApp;
    const std::string file = BinaryLoginList({"/Applications/Mail.app", app + "/Helpers/Agent"});
    MakeFile("Library/Preferences/loginwindow.plist", file);
    EXPECT_TRUE(RemoveService(CAtlString(u"/Applications/ORVIK Tandro Riravor")));
    EXPECT_EQ(m_log, (std::vector<LoggedLine>{kAttempting, Comparing("/Applications/Mail.app", 0),
                                              Comparing(app + "/Helpers/Agent", 1),
                                              RemovingValue(app + "/Helpers/Agent", 1)}));
    const std::string after = FileText();
    EXPECT_EQ(after.substr(0, 8), "bplist00") << "the format is kept";
    EXPECT_NE(after.find("/Applications/Mail.app"), std::string::npos);
    EXPECT_EQ(after.find("Helpers/Agent"), std::string::npos);
}

} // namespace
