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
            m_commands.push_back(command);
            m_log.push_back({-1, std::string("run: ") + command});
            return m_pkgutilStatus;
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

    std::vector<std::string> m_commands;
    int m_pkgutilStatus = 0;
    std::string m_oldCwd;
};

TEST_F(InstalledFilesTest, RemoveEntireDirectoryCases) {
    EXPECT_TRUE(RemoveEntireDirectory(CAtlString()));
    EXPECT_TRUE(m_log.empty()) << "an empty path logs nothing";

    EXPECT_TRUE(RemoveEntireDirectory(Wide(Path("missing"))));
    EXPECT_EQ(m_log,
              std::vector<LoggedLine>{Notice("Attempting to delete non-existant directory \"" +
                                             Path("missing") + "\".  Nothing to do\n")});

    m_log.clear();
    MakeDir("tree/a/b");
    MakeFile("tree/a/b/f");
    MakeFile("tree/g");
    EXPECT_TRUE(RemoveEntireDirectory(Wide(Path("tree/")))); // one trailing "/" is dropped
    EXPECT_EQ(m_log,
              std::vector<LoggedLine>{Notice("Removing directory \"" + Path("tree") + "\"\n")});
    EXPECT_FALSE(Exists("tree"));

    // A single file passes the existence test but cannot go as a folder.
    m_log.clear();
    MakeFile("single");
    EXPECT_FALSE(RemoveEntireDirectory(Wide(Path("single"))));
    EXPECT_EQ(m_log, (std::vector<LoggedLine>{
                         Notice("Removing directory \"" + Path("single") + "\"\n"),
                         Warning("Failed to delete directory \"" + Path("single") +
                                 "\".  This directory must be removed manually.\n")}));
}

TEST_F(InstalledFilesTest, RemovesInTheStatedOrder) {
    MakeDir("App/Beta/deep/deeper");
    MakeFile("App/Beta/deep/deeper/f");
    MakeDir("App/Alpha");
    MakeDir("App/Uninstall Tools/bin");
    MakeDir("App/Gamma");
    MakeFile("App/loose.txt");
    MakeDir("Canary");
    MakeFile("Canary/keep");
    ASSERT_EQ(symlink(Path("Canary").c_str(), Path("App/Link").c_str()), 0);
    MakeDir("Receipts/ORVIK Tandro Riravor.pkg/Contents");
    MakeDir("Extensions/PacketSieve.kext");
    MakeDir("StartupItems/ORVIKTandroNetFilter");

    RemoveInstalledFiles(Wide(Path("App")));

    const std::string app = Path("App");
    std::vector<LoggedLine> expected;
    for (const char* sub : {"Alpha", "Beta", "Gamma"}) {
        expected.push_back(Notice("executing RemoveEntireDirectory() for: "));
        expected.push_back(Notice(app + "/" + sub));
        expected.push_back(Notice("Removing directory \"" + app + "/" + sub + "\"\n"));
    }
    expected.push_back(
        Notice("Removing directory \"" + Path("Receipts/ORVIK Tandro Riravor.pkg") + "\"\n"));
    expected.push_back(Notice("Removing directory \"Extensions/PacketSieve.kext\"\n"));
    expected.push_back(
        Notice("Removing directory \"" + Path("StartupItems/ORVIKTandroNetFilter") + "\"\n"));
    expected.push_back({-1, "run: pkgutil --forget com.orvikware.ORVIKTandroStudent.pkg"});
    EXPECT_EQ(m_log, expected);

    for (const char* gone :
         {"App/Alpha", "App/Beta", "App/Gamma", "Receipts/ORVIK Tandro Riravor.pkg",
          "Extensions/PacketSieve.kext", "StartupItems/ORVIKTandroNetFilter"})
        EXPECT_FALSE(Exists(gone)) << gone;
    // Files in the folder, the Uninstall subfolder and links go with the folder itself later.
    for (const char* kept : {"App/loose.txt", "App/Uninstall Tools/bin", "App/Link", "Canary/keep"})
        EXPECT_TRUE(Exists(kept)) << kept;
}

TEST_F(InstalledFilesTest, NothingInstalledAndASingleFileReceipt) {
    MakeDir("Receipts");
    MakeFile("Receipts/ORVIK Tandro Riravor.pkg", "single file");
    m_pkgutilStatus = 1;
    RemoveInstalledFiles(Wide(Path("NoApp")));
    const std::string receipt = Path("Receipts/ORVIK Tandro Riravor.pkg");
    EXPECT_EQ(m_log, (std::vector<LoggedLine>{
                         Notice("Removing directory \"" + receipt + "\"\n"),
                         Warning("Failed to delete directory \"" + receipt +
                                 "\".  This directory must be removed manually.\n"),
                         Notice("Attempting to delete non-existant directory "
                                "\"Extensions/PacketSieve.kext\".  Nothing to do\n"),
                         Notice("Attempting to delete non-existant directory \"" +
                                Path("StartupItems/ORVIKTandroNetFilter") + "\".  Nothing to do\n"),
                         {-1, "run: pkgutil --forget com.orvikware.ORVIKTandroStudent.pkg"}}));
    EXPECT_FALSE(Exists("Receipts/ORVIK Tandro Riravor.pkg")) << "deleted as an item afterwards";
}

TEST_F(InstalledFilesTest, PreferenceFiles) {
    MakeDir("Preferences");
    MakeFile("Preferences/p0.plist");
    MakeFile("Preferences/p2.plist");
    MakeFile("Preferences/other.plist");
    EXPECT_TRUE(RemoveMacRegistryKey());
    EXPECT_EQ(m_log, std::vector<LoggedLine>{Notice("entering RemoveMacRegistryKey()")});
    EXPECT_FALSE(Exists("Preferences/p0.plist"));
    EXPECT_FALSE(Exists("Preferences/p2.plist"));
    EXPECT_TRUE(Exists("Preferences/other.plist"));
    EXPECT_TRUE(RemoveMacRegistryKey()) << "missing files are no failure";
}

TEST(InstalledItemsDefaults, FixedPathsAndCommand) {
    ResetUninstallHooks();
    const InstalledItems& items = GetInstalledItems();
    EXPECT_STREQ(CAtlStringA(items.receipt).GetString(),
                 "/Library/Receipts/ORVIK Tandro Riravor.pkg");
    EXPECT_STREQ(CAtlStringA(items.kernelExtension).GetString(),
                 "System/Library/Extensions/PacketSieve.kext");
    EXPECT_STREQ(CAtlStringA(items.startupItem).GetString(),
                 "/Library/StartupItems/ORVIKTandroNetFilter");
    EXPECT_STREQ(items.forgetCommand.GetString(),
                 "pkgutil --forget com.orvikware.ORVIKTandroStudent.pkg");
    EXPECT_STREQ(CAtlStringA(items.preferenceFiles[0]).GetString(),
                 "/Library/Preferences/com.orvikware.orviktandro.StudentSettings.plist");
    EXPECT_STREQ(CAtlStringA(items.preferenceFiles[1]).GetString(),
                 "/Library/Preferences/com.orvikware.ORVIKTandro.plist");
    EXPECT_STREQ(CAtlStringA(items.preferenceFiles[2]).GetString(),
                 "/Library/Preferences/com.orvikware.orviktandro.TandroClient.plist");
}

} // namespace
