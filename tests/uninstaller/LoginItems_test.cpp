// The login-item filter, on real property-list files below a temporary preferences root.
#include "UninstallTestSupport.h"
#include "platform/CFPreferences.h"

namespace {

const std::string kApp = "/Applications/ORVIK Tandro Riravor";
const char* const kList = "Library/Preferences/loginwindow.plist";

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
    // The list as a property list whose entries are `items`, beside an unrelated key.
    void WriteList(const std::string& items) {
        MakeFile(kList, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
                        "<key>AutoLaunchedApplicationDictionary</key><array>" +
                            items +
                            "</array><key>Other</key><integer>3</integer></dict></plist>\n");
    }
    std::string FileText() const { return testsupport::ReadFile(Path(kList)); }
    bool Remove() { return RemoveService(CAtlString(kApp.c_str())); }
};

std::string Item(const std::string& path) {
    return "<dict><key>Path</key><string>" + path + "</string></dict>";
}
LoggedLine Comparing(const std::string& path, int match) {
    return Notice("Comparing " + path + " to " + kApp + " == " + std::to_string(match) + "\n");
}
LoggedLine RemovingValue(const std::string& path, int index) {
    return Notice("Removing value " + path + " at index " + std::to_string(index) + "\n");
}
const LoggedLine kAttempting = Notice("Attempting to remove entries for " + kApp +
                                      " in /Libary/Preferences/loginwindow.plist\n");

// Adjacent matches share an index; a sibling with a longer name matches; case counts;
// entries that are no dictionary or have no string "Path" stay. What does not match, and
// the list's other keys, are written back: that shows end to end.
TEST_F(LoginItemsTest, RemovesEntriesThatBeginWithTheFolder) {
    WriteList(Item("/Applications/Mail.app") + Item(kApp + "/T.app") + Item(kApp + " Extra/x") +
              "<string>" + kApp + "/s</string><dict><key>Path</key><integer>5</integer></dict>" +
              Item("/applications/orvik tandro riravor/x") + Item(kApp));
    EXPECT_TRUE(Remove());
    EXPECT_EQ(m_log, (std::vector<LoggedLine>{
                         kAttempting, Comparing("/Applications/Mail.app", 0),
                         Comparing(kApp + "/T.app", 1), RemovingValue(kApp + "/T.app", 1),
                         Comparing(kApp + " Extra/x", 1), RemovingValue(kApp + " Extra/x", 1),
                         Comparing("/applications/orvik tandro riravor/x", 0), Comparing(kApp, 1),
                         RemovingValue(kApp, 4)}));
    EXPECT_EQ(FileText().find("/T.app"), std::string::npos) << FileText();
}

// A list without a match, left unwritten, shows end to end.
TEST_F(LoginItemsTest, UnreadableOrNoListIsAFailure) {
    EXPECT_FALSE(Remove()); // no file at all
    EXPECT_EQ(m_log, (std::vector<LoggedLine>{
                         kAttempting,
                         Warning("Failed to load loginwindow.plist.  This is potentially a file "
                                 "permission problem.\n"),
                         Warning("Please remove the entries for Path=\"" + kApp +
                                 "\" in this file manually\n")}));
    EXPECT_FALSE(Exists(kList));
    // Not a list: it can't be copied as one.
    m_log.clear();
    MakeFile(kList, "<?xml version=\"1.0\"?>\n<plist version=\"1.0\"><dict>"
                    "<key>AutoLaunchedApplicationDictionary</key>" +
                        Item(kApp + "/x") + "</dict></plist>\n");
    const std::string dict = FileText();
    EXPECT_FALSE(Remove());
    EXPECT_EQ(m_log, std::vector<LoggedLine>{kAttempting});
    EXPECT_EQ(FileText(), dict);
}

} // namespace
