// The order of the removals and their log lines, with the fixed items pointed into a
// temporary folder.
#include "UninstallTestSupport.h"

namespace {

class InstalledFilesTest : public UninstallTest {
protected:
    void SetUp() override {
        UninstallTest::SetUp();
        InstalledItems& items = GetInstalledItems();
        items.receipt = Wide(Path("Receipt.pkg"));
        items.kernelExtension = Wide(Path("Sieve.kext"));
        items.startupItem = Wide(Path("Startup"));
        GetUninstallHooks().runCommand = [this](const char* command) {
            m_log.push_back({-1, std::string("run: ") + command});
            return 0;
        };
    }
};

// The whole removal's order and log lines show end to end. A receipt that is a single file
// can't go as a folder, so it goes as an item, with a warning; a link in the application
// folder is left for the folder's own removal, and what it points to stays.
TEST_F(InstalledFilesTest, AReceiptThatIsAFileGoesWithAWarning) {
    MakeDir("App/Alpha");
    MakeDir("Canary");
    MakeFile("Receipt.pkg");
    ASSERT_EQ(symlink(Path("Canary").c_str(), Path("App/Link").c_str()), 0);
    EXPECT_TRUE(RemoveInstalledFiles(Wide(Path("App"))));
    const std::string receipt = Path("Receipt.pkg");
    ASSERT_GE(m_log.size(), 5u); // Alpha's three lines come first
    EXPECT_EQ(
        std::vector<LoggedLine>(m_log.begin() + 3, m_log.begin() + 5),
        (std::vector<LoggedLine>{Notice("Removing directory \"" + receipt + "\"\n"),
                                 Warning("Failed to delete directory \"" + receipt +
                                         "\".  This directory must be removed manually.\n")}));
    for (const char* gone : {"App/Alpha", "Receipt.pkg"})
        EXPECT_FALSE(Exists(gone)) << gone;
    for (const char* kept : {"App/Link", "Canary"})
        EXPECT_TRUE(Exists(kept)) << kept;
}

// The preference files and their log line show end to end.
TEST_F(InstalledFilesTest, TheEmptyPathIsNothingToRemove) {
    EXPECT_TRUE(RemoveEntireDirectory(CAtlString()));
    EXPECT_EQ(m_log, std::vector<LoggedLine>{});
}

} // namespace
