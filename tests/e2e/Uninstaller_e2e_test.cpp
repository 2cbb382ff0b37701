// The real orvik-uninstaller in an isolated root: each scenario lays out what an installation
// leaves on a machine, runs the program as a user would, and checks the log lines (text and
// priority, in order), the exit status, what is left on disk, which processes are gone and
// the login-window list read back from its file.
#include "IsolatedRoot.h"

#include <gtest/gtest.h>

#include <regex>
#include <signal.h>
#include <sys/mount.h>
#include <syslog.h>
#include <unistd.h>

using namespace e2e;

namespace {

const std::string kReceipt = "/Library/Receipts/ORVIK Tandro Riravor.pkg";
const std::string kKext = "System/Library/Extensions/PacketSieve.kext"; // as the program names it
const std::string kLoginWindow = "/Library/Preferences/loginwindow.plist";
const std::vector<std::string> kPreferenceFiles = {
    "/Library/Preferences/com.orvikware.orviktandro.StudentSettings.plist",
    "/Library/Preferences/com.orvikware.ORVIKTandro.plist",
    "/Library/Preferences/com.orvikware.orviktandro.TandroClient.plist"};

// Run from the caller's folder, whose PATH comes first.
RunOptions Uninstaller(std::vector<std::string> argv) {
    return {
        std::move(argv),
        {"PATH=/srv/work/bin:/usr/sbin:/usr/bin:/sbin:/bin", "HOME=/root", "LANG=C", "LANGUAGE=en"},
        "/srv/work"};
}

// ---- expected log lines ----------------------------------------------------------------------

// The log as one text: the identity, priority and text of each line, each line ended by "|",
// without what differs from run to run (the number of processes, and the terminal, state and
// time "ps" shows for a process).
using Log = std::string;

Log Notice(const std::string& text) {
    return "orvik-uninstaller 5 " + text + "|";
}

Log LogOf(SyslogCapture& log) {
    Log out;
    for (const std::string& line : log.Lines())
        out += line + "|";
    out = std::regex_replace(out, std::regex("list found [0-9]+ items"), "list found # items");
    return std::regex_replace(out, std::regex(R"(process "\s*([0-9]+)\s+\S+\s+\S+\s+[0-9:]+ )"),
                              "process \"$1 ");
}

Log NonExistant(const std::string& path) {
    return Notice("Attempting to delete non-existant directory \"" + path + "\".  Nothing to do\n");
}

Log Removing(const std::string& path) {
    return Notice("Removing directory \"" + path + "\"\n");
}

Log RemovingSubfolder(const std::string& path) {
    return Notice("executing RemoveEntireDirectory() for: ") + Notice(path) + Removing(path);
}

Log ProcessListLines() {
    return Notice("Stopping all ORVIK Tandro Riravor Software processes\n") +
           Notice("Retrieving current process list\n") + Notice("Process list found # items\n");
}

Log StoppingProcess(pid_t pid, const std::string& command, bool stubborn) {
    const std::string id = std::to_string(pid);
    const Log lines = Notice("Stopping process \"" + id + " " + command + "\n\"\n") +
                      Notice("Process is running with PID " + id + ".  Sending kill command\n");
    if (!stubborn)
        return lines;
    return lines +
           Notice("Process failed to terminate gracefully.  Sending kill -9 to PID " + id + "\n");
}

Log Comparing(const std::string& path, bool match, int index) {
    const Log line =
        Notice("Comparing " + path + " to " + kApp + " == " + (match ? "1" : "0") + "\n");
    if (!match)
        return line;
    return line + Notice("Removing value " + path + " at index " + std::to_string(index) + "\n");
}

// The steps every privileged run logs after the login items, up to the application folder.
Log ClosingSteps(const Log& receipt, const Log& kext, const Log& startup) {
    return receipt + kext + startup + Notice("entering RemoveMacRegistryKey()") +
           Notice("Uninstall completed successfully.\n");
}

// ---- the login window's list -------------------------------------------------------------------

std::string LoginWindowPlist(const std::vector<std::string>& paths) {
    std::string items;
    for (const std::string& path : paths)
        items += "\t\t<dict>\n\t\t\t<key>Hide</key>\n\t\t\t<false/>\n"
                 "\t\t\t<key>Path</key>\n\t\t\t<string>" +
                 path + "</string>\n\t\t</dict>\n";
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n"
           "\t<key>AutoLaunchedApplicationDictionary</key>\n\t<array>\n" +
           items +
           "\t</array>\n\t<key>lastUserName</key>\n\t<string>student</string>\n</dict>\n</plist>\n";
}

// The "Path" strings of the login items, in order, as the file holds them now.
std::vector<std::string> LoginItemPaths() {
    const std::string xml = ReadFile(kLoginWindow);
    static const std::regex path(R"(<key>Path</key>\s*<string>([^<]*)</string>)");
    std::vector<std::string> paths;
    for (auto it = std::sregex_iterator(xml.begin(), xml.end(), path); it != std::sregex_iterator();
         ++it)
        paths.push_back((*it)[1]);
    return paths;
}

// ---- scenarios ---------------------------------------------------------------------------------

// Root declines on the terminal, then runs the privileged phase itself from a folder of its
// own with a PATH of its own: everything of the product goes, with its running programs, and
// nothing that links planted in the installation point at changes.
TEST(UninstallerEndToEnd, DeclinedThenRemovesTheProductAndNothingElse) {
    E2E_SKIP_WITHOUT();
    RunInIsolatedRoot([] {
        const std::string program = InstallUninstaller(kApp + "/Uninstall Tools");
        const std::string app = kApp + "/ORVIK Tandro.app", links = kApp + "/Data/Links";
        const std::string other = "/Applications/Mail Helper.app", zeta = "/Applications/Zeta.app";
        // Outside the installation: what links point at, and the caller's folder with a kernel
        // extension at the program's relative path and a package tool that must never run.
        // Running programs of the product are copies of sleep in the application folder.
        Shell("cd '" + kApp + R"('
mkdir -p "ORVIK Tandro.app/Contents/MacOS" Helpers Documentation/Guides Data/Links \
  /System/Library/Extensions/PacketSieve.kext/Contents /Library/StartupItems /Library/Preferences \
  "/Library/Receipts/ORVIK Tandro Riravor.pkg/Contents" /srv/outside/locked /srv/startup \
  /srv/work/bin /srv/work/System/Library/Extensions/PacketSieve.kext
echo guide >Documentation/Guides/filters.html && chmod 444 Documentation/Guides/filters.html
echo 'read me' >'Read Me.txt'
echo bom >"/Library/Receipts/ORVIK Tandro Riravor.pkg/Contents/Archive.bom"
echo system >/System/Library/Extensions/PacketSieve.kext/Contents/Info.plist
echo other >/Library/Preferences/com.example.other.plist
echo secret >/srv/outside/secret.txt && chmod 440 /srv/outside/secret.txt
echo inside >/srv/outside/locked/inside.txt && chmod 444 /srv/outside/locked/inside.txt
chmod 555 /srv/outside/locked
printf '#!/bin/sh\n' >/srv/startup/ORVIKTandroNetFilter && chmod 755 /srv/startup/*
printf '#!/bin/sh\necho "$@" >>/tmp/pkgutil.calls\n' >/usr/bin/pkgutil
printf '#!/bin/sh\ntouch /tmp/callers-pkgutil-ran\n' >/srv/work/bin/pkgutil
chmod 755 /usr/bin/pkgutil /srv/work/bin/pkgutil
ln -s /srv/outside/secret.txt Data/Links/file && ln -s /srv/outside/locked Data/Links/folder
ln -s /srv/outside/none Data/Links/dangling && ln -s "$PWD/Data/Links/loop" Data/Links/loop
ln -s /srv/outside "Documentation/Shared Data" && ln -s /srv/outside "Outside Link"
ln -s /srv/startup /Library/StartupItems/ORVIKTandroNetFilter
cp /bin/sleep "ORVIK Tandro.app/Contents/MacOS/ORVIK Tandro" && cp /bin/sleep Helpers/TandroDaemon)");
        for (const std::string& file : kPreferenceFiles)
            WriteFile(file, "<plist version=\"1.0\"><dict/></plist>\n");
        WriteFile(kLoginWindow,
                  LoginWindowPlist({other, app, kApp + "/Helpers/TandroAgent", zeta}));
        const std::string mainApp = app + "/Contents/MacOS/ORVIK Tandro";
        const std::string daemon = kApp + "/Helpers/TandroDaemon";
        const pid_t plain = StartDetached({{mainApp, "600"}});
        const pid_t stubborn =
            StartDetached({{"/bin/sh", "-c", "trap '' TERM; exec \"$0\" 600", daemon}});
        const pid_t unrelated = StartDetached({{"/bin/sleep", "600"}});
        const std::string watched = "/Applications /Library /System /srv";
        const std::string before = Tree(watched), outside = Tree("/srv");
        ASSERT_NE(before.find(daemon + " f 755"), std::string::npos) << before;

        {
            SyslogCapture log;
            // Return takes the default "No".
            Child run(Uninstaller({program}), true);
            ASSERT_TRUE(run.WaitForOutput("[1] Yes  [2] No (default)\n> ", 30)) << run.Output();
            run.Send("\r");
            EXPECT_EQ(run.Wait(30), 1) << run.Output();
            EXPECT_EQ(LogOf(log), Notice("ORVIK Tandro Riravor Software Uninstall begin\n"));
        }
        EXPECT_EQ(Tree(watched), before);
        for (pid_t pid : {plain, stubborn, unrelated})
            EXPECT_TRUE(ProcessAlive(pid)) << pid;

        SyslogCapture log;
        Child run(Uninstaller({program, "-ReallyUninstall"}), true);
        ASSERT_TRUE(
            run.WaitForOutput("Uninstall completed successfully.\n[1] OK (default)\n> ", 60))
            << run.Output();
        EXPECT_TRUE(Exists(kApp)) << "the folder went before the user was told";
        run.Send("\r");
        EXPECT_EQ(run.Wait(60), 0) << run.Output();

        EXPECT_EQ(LogOf(log),
                  ProcessListLines() + StoppingProcess(plain, mainApp + " 600", false) +
                      StoppingProcess(stubborn, daemon + " 600", true) +
                      Notice("Attempting to remove entries for " + kApp +
                             " in /Libary/Preferences/loginwindow.plist\n") +
                      Comparing(other, false, 0) + Comparing(app, true, 1) +
                      Comparing(kApp + "/Helpers/TandroAgent", true, 1) +
                      Comparing(zeta, false, 1) + RemovingSubfolder(kApp + "/Data") +
                      RemovingSubfolder(kApp + "/Documentation") +
                      RemovingSubfolder(kApp + "/Helpers") + RemovingSubfolder(app) +
                      ClosingSteps(Removing(kReceipt), Removing(kKext), Removing(kStartup)) +
                      Removing(kApp));
        for (pid_t pid : {plain, stubborn})
            EXPECT_TRUE(PollUntil(10, [&] { return !ProcessAlive(pid); }))
                << "process " << pid << " still runs";
        EXPECT_TRUE(ProcessAlive(unrelated)) << "an unrelated process was stopped";
        kill(unrelated, SIGKILL);
        for (const std::string& gone : {kApp, kReceipt, "/" + kKext, kStartup})
            EXPECT_FALSE(Exists(gone)) << gone;
        for (const std::string& file : kPreferenceFiles)
            EXPECT_FALSE(Exists(file)) << file;
        EXPECT_TRUE(Exists("/Library/Preferences/com.example.other.plist"));
        EXPECT_EQ(Tree("/srv"), outside) << "the caller's folder or a link's target changed";
        EXPECT_EQ(ReadFile("/tmp/pkgutil.calls"),
                  "--forget com.orvikware.ORVIKTandroStudent.pkg\n");
        EXPECT_FALSE(Exists("/tmp/callers-pkgutil-ran")) << "a tool from the caller's PATH ran";
        EXPECT_EQ(LoginItemPaths(), (std::vector<std::string>{other, zeta}));
        EXPECT_NE(ReadFile(kLoginWindow).find("student"), std::string::npos)
            << "other preferences of the login window were lost";
    });
}

// A folder that cannot be removed: what can go goes, the administrator is told, and the run
// ends with status 1 although it logged its success before the application folder.
TEST(UninstallerEndToEnd, ApplicationFolderThatSurvives) {
    E2E_SKIP_WITHOUT();
    RunInIsolatedRoot([] {
        const std::string program = InstallUninstaller("/opt/orvik");
        const std::string locked = kApp + "/Data/Locked";
        Shell("mkdir -p '" + locked + "' && cd '" + kApp + R"('
mkdir -p /srv/locked /srv/work /Library/Preferences
echo loose >Data/loose.txt && echo held >/srv/locked/held.txt
mount --bind /srv/locked Data/Locked && mount -o remount,bind,ro Data/Locked)");
        const std::string plist = LoginWindowPlist({"/Applications/Other.app"});
        WriteFile(kLoginWindow, plist);

        SyslogCapture log;
        EXPECT_EQ(RunAndWait(Uninstaller({program, "-reallyuninstall"})), 1);
        const auto failed = [](const std::string& path) {
            return "orvik-uninstaller 4 Failed to delete directory \"" + path +
                   "\".  This directory must be removed manually.\n|";
        };
        EXPECT_EQ(LogOf(log), ProcessListLines() +
                                  Notice("Attempting to remove entries for " + kApp +
                                         " in /Libary/Preferences/loginwindow.plist\n") +
                                  Comparing("/Applications/Other.app", false, 0) +
                                  RemovingSubfolder(kApp + "/Data") + failed(kApp + "/Data") +
                                  ClosingSteps(NonExistant(kReceipt), NonExistant(kKext),
                                               NonExistant(kStartup)) +
                                  Removing(kApp) + failed(kApp));
        EXPECT_EQ(ReadFile(locked + "/held.txt"), "held\n");
        EXPECT_FALSE(Exists(kApp + "/Data/loose.txt")) << "what could go is gone";
        EXPECT_EQ(ReadFile(kLoginWindow), plist) << "nothing removed, so nothing written";
    });
}

} // namespace
