// The order of the removals and their log lines, with the fixed items pointed into a
// temporary folder.
#include <climits>

#include "UninstallTestSupport.h"

namespace {

class InstalledFilesTest : public UninstallTest {
protected:
    void SetUp() override {
        UninstallTest::SetUp();
        InstalledItems& items = GetInstalledItems();
        items.receipt = Wide(Path("Receipts/ORVIK Tandro Riravor.pkg"));
        items.kernelExtension = CAtlString(u"Extensions/PacketSieve.kext"); // relative
        items.startupItem = Wide(Path("StartupItems/ORVIKTandroNetFilter"));
        items.forgetCommand = CAtlStringA("pkgutil --forget com.orvikware.ORVIKTandroStudent.pkg");
        for (int i = 0; i < 3; ++i)
            items.preferenceFiles[i] = Wide(Path("Preferences/p" + std::to_string(i) + ".plist"));
        GetUninstallHooks().runCommand = [this](const char* command) {
            m_log.push_back({-1, std::string("run: ") + command});
            return 0;
        };
        char cwd[PATH_MAX];
        ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
        m_oldCwd = cwd;
        ASSERT_EQ(chdir(root_.c_str()), 0); // the kernel extension resolves from here
    }
    void TearDown() override {
        (void)!chdir(m_oldCwd.c_str());
        UninstallTest::TearDown();
    }

    std::string m_oldCwd;
};

TEST_F(InstalledFilesTest, RemoveEntireDirectoryCases) {
    EXPECT_TRUE(RemoveEntireDirectory(CAtlString()));
    EXPECT_TRUE(RemoveEntireDirectory(Wide(Path("missing"))));
    MakeDir("tree/a/b");
    MakeFile("tree/a/b/f");
    EXPECT_TRUE(RemoveEntireDirectory(Wide(Path("tree/")))); // one trailing "/" is dropped
    EXPECT_FALSE(Exists("tree"));
    MakeFile("single"); // passes the existence test but cannot go as a folder
    EXPECT_FALSE(RemoveEntireDirectory(Wide(Path("single"))));
    EXPECT_EQ(m_log, (std::vector<LoggedLine>{
                         Notice("Attempting to delete non-existant directory \"" + Path("missing") +
                                "\".  Nothing to do\n"),
                         Notice("Removing directory \"" + Path("tree") + "\"\n"),
                         Notice("Removing directory \"" + Path("single") + "\"\n"),
                         Warning("Failed to delete directory \"" + Path("single") +
                                 "\".  This directory must be removed manually.\n")}));
}

// The application folder's subfolders but the uninstaller's own, the receipt, the kernel
// extension (relative to the working folder), the startup item, then the receipt is forgotten.
TEST_F(InstalledFilesTest, RemovesInTheStatedOrder) {
    for (const char* d : {"App/Beta/deep", "App/Alpha", "App/Uninstall Tools", "Canary",
                          "Receipts/ORVIK Tandro Riravor.pkg/Contents",
                          "Extensions/PacketSieve.kext", "StartupItems/ORVIKTandroNetFilter"})
        MakeDir(d);
    MakeFile("App/loose.txt");
    ASSERT_EQ(symlink(Path("Canary").c_str(), Path("App/Link").c_str()), 0);
    EXPECT_TRUE(RemoveInstalledFiles(Wide(Path("App"))));
    std::vector<LoggedLine> expected;
    for (const char* sub : {"Alpha", "Beta"}) {
        expected.push_back(Notice("executing RemoveEntireDirectory() for: "));
        expected.push_back(Notice(Path("App/") + sub));
        expected.push_back(Notice("Removing directory \"" + Path("App/") + sub + "\"\n"));
    }
    for (const std::string& item :
         {Path("Receipts/ORVIK Tandro Riravor.pkg"), std::string("Extensions/PacketSieve.kext"),
          Path("StartupItems/ORVIKTandroNetFilter")})
        expected.push_back(Notice("Removing directory \"" + item + "\"\n"));
    expected.push_back({-1, "run: pkgutil --forget com.orvikware.ORVIKTandroStudent.pkg"});
    EXPECT_EQ(m_log, expected);
    for (const char* gone : {"App/Alpha", "App/Beta", "Receipts/ORVIK Tandro Riravor.pkg",
                             "Extensions/PacketSieve.kext", "StartupItems/ORVIKTandroNetFilter"})
        EXPECT_FALSE(Exists(gone)) << gone;
    // Files in the folder, the Uninstall subfolder and links go with the folder itself later.
    for (const char* kept : {"App/loose.txt", "App/Uninstall Tools", "App/Link", "Canary"})
        EXPECT_TRUE(Exists(kept)) << kept;
}

TEST_F(InstalledFilesTest, ASingleFileReceiptIsDeletedAsAnItem) {
    MakeDir("Receipts");
    MakeFile("Receipts/ORVIK Tandro Riravor.pkg", "single file");
    EXPECT_TRUE(RemoveInstalledFiles(Wide(Path("NoApp"))));
    EXPECT_FALSE(Exists("Receipts/ORVIK Tandro Riravor.pkg"));
    EXPECT_EQ(m_log.size(), 5u); // the failure's warning, then the other items as before
    EXPECT_EQ(m_log[1].priority, LOG_WARNING);
}

TEST_F(InstalledFilesTest, PreferenceFiles) {
    MakeDir("Preferences");
    for (const char* file : {"Preferences/p0.plist", "Preferences/p2.plist", "Preferences/other"})
        MakeFile(file);
    EXPECT_TRUE(RemoveMacRegistryKey());
    EXPECT_EQ(m_log, std::vector<LoggedLine>{Notice("entering RemoveMacRegistryKey()")});
    EXPECT_FALSE(Exists("Preferences/p0.plist"));
    EXPECT_FALSE(Exists("Preferences/p2.plist"));
    EXPECT_TRUE(Exists("Preferences/other"));
}

} // namespace
