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
        items.forgetCommand = CAtlStringA("pkgutil --forget com.orvikware.ORVIKTandroStudent.pkg");
        for (int i = 0; i < 3; ++i)
            items.preferenceFiles[i] = Wide(Path("p" + std::to_string(i) + ".plist"));
        GetUninstallHooks().runCommand = [this](const char* command) {
            m_log.push_back({-1, std::string("run: ") + command});
            return 0;
        };
    }
};

// The application folder's subfolders but the uninstaller's own, the receipt (a single file:
// it can't go as a folder, so it goes as an item), the kernel extension (missing here), the
// startup item, then the receipt is forgotten.
TEST_F(InstalledFilesTest, RemovesInTheStatedOrder) {
    for (const char* d :
         {"App/Beta/deep", "App/Alpha", "App/Uninstall Tools", "Canary", "Startup/Contents"})
        MakeDir(d);
    MakeFile("Receipt.pkg");
    ASSERT_EQ(symlink(Path("Canary").c_str(), Path("App/Link").c_str()), 0);
    EXPECT_TRUE(RemoveInstalledFiles(Wide(Path("App"))));
    std::vector<LoggedLine> expected;
    for (const char* sub : {"Alpha", "Beta"}) {
        expected.push_back(Notice("executing RemoveEntireDirectory() for: "));
        expected.push_back(Notice(Path("App/") + sub));
        expected.push_back(Notice("Removing directory \"" + Path("App/") + sub + "\"\n"));
    }
    const std::string receipt = Path("Receipt.pkg");
    expected.insert(expected.end(),
                    {Notice("Removing directory \"" + receipt + "\"\n"),
                     Warning("Failed to delete directory \"" + receipt +
                             "\".  This directory must be removed manually.\n"),
                     Notice("Attempting to delete non-existant directory \"" + Path("Sieve.kext") +
                            "\".  Nothing to do\n"),
                     Notice("Removing directory \"" + Path("Startup") + "\"\n"),
                     {-1, "run: pkgutil --forget com.orvikware.ORVIKTandroStudent.pkg"}});
    EXPECT_EQ(m_log, expected);
    for (const char* gone : {"App/Alpha", "App/Beta", "Receipt.pkg", "Startup"})
        EXPECT_FALSE(Exists(gone)) << gone;
    // The Uninstall subfolder and links go with the folder itself later.
    for (const char* kept : {"App/Uninstall Tools", "App/Link", "Canary"})
        EXPECT_TRUE(Exists(kept)) << kept;
}

TEST_F(InstalledFilesTest, PreferenceFilesAndTheEmptyPath) {
    MakeFile("p0.plist");
    MakeFile("p2.plist");
    EXPECT_TRUE(RemoveMacRegistryKey());
    EXPECT_TRUE(RemoveEntireDirectory(CAtlString())); // nothing to log
    EXPECT_EQ(m_log, std::vector<LoggedLine>{Notice("entering RemoveMacRegistryKey()")});
    EXPECT_FALSE(Exists("p0.plist"));
    EXPECT_FALSE(Exists("p2.plist"));
}

} // namespace
