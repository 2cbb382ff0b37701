// The real orvik-uninstaller in an isolated root: each scenario lays out what an
// installation leaves on a machine, runs the program as a user would, and checks the log
// lines (text and priority, in order), the exit status, what is left on disk, which
// processes are gone and the login-window list read back from its file.
#include "IsolatedRoot.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <pwd.h>
#include <regex>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

using namespace e2e;

namespace {

const std::string kApp = "/Applications/ORVIK Tandro Riravor";
const std::string kSibling = "/Applications/ORVIK Tandro Riravor Extra";
const std::string kReceipt = "/Library/Receipts/ORVIK Tandro Riravor.pkg";
const std::string kKext = "/System/Library/Extensions/PacketSieve.kext";
const std::string kStartup = "/Library/StartupItems/ORVIKTandroNetFilter";
const std::string kLoginWindow = "/Library/Preferences/loginwindow.plist";
const std::vector<std::string> kPreferenceFiles = {
    "/Library/Preferences/com.orvikware.orviktandro.StudentSettings.plist",
    "/Library/Preferences/com.orvikware.ORVIKTandro.plist",
    "/Library/Preferences/com.orvikware.orviktandro.TandroClient.plist"};
const std::string kQuestion = "Are you sure you want to completely remove ORVIK Tandro Riravor "
                              "Software and all of its components?";

#define SKIP_WITHOUT_UNINSTALLER()                                                                 \
    do {                                                                                           \
        std::string reason = IsolatedRootUnavailableReason();                                      \
        if (!reason.empty())                                                                       \
            GTEST_SKIP() << reason;                                                                \
        if (UninstallerPath().empty())                                                             \
            GTEST_SKIP() << "orvik-uninstaller is not part of this build";                         \
    } while (0)

std::string UninstallerPath() {
#ifdef ORVIK_UNINSTALLER_PATH
    return ORVIK_UNINSTALLER_PATH;
#else
    return "";
#endif
}

// Puts the uninstaller with its catalogs at <folder>/bin/orvik-uninstaller and returns it.
std::string InstallUninstaller(const std::string& folder) {
    MakeDirs(folder + "/bin");
    const std::string program = folder + "/bin/orvik-uninstaller";
    CopyFile(UninstallerPath(), program, 0755);
#ifdef ORVIK_BUILD_DIR
    if (Exists(std::string(ORVIK_BUILD_DIR) + "/share")) {
        EXPECT_EQ(RunAndWait(Command({"/bin/cp", "-r", std::string(ORVIK_BUILD_DIR) + "/share",
                                      folder + "/share"})),
                  0);
    }
#endif
    return program;
}

// ---- expected log lines ----------------------------------------------------------------------

struct Expected {
    int priority;
    std::string text; // exact text, or a regular expression when `pattern`
    bool pattern = false;
};

Expected Notice(const std::string& text) {
    return {LOG_NOTICE, text};
}
Expected Warning(const std::string& text) {
    return {LOG_WARNING, text};
}
Expected NoticeMatching(const std::string& regex) {
    return {LOG_NOTICE, regex, true};
}

std::string RegexEscape(const std::string& text) {
    static const std::regex special(R"([.^$|()\[\]{}*+?\\])");
    return std::regex_replace(text, special, R"(\$&)");
}

std::string Show(const std::vector<LogLine>& lines) {
    std::string out;
    for (const LogLine& line : lines)
        out += "  " + std::to_string(line.priority) + " [" + line.text + "]\n";
    return out;
}

void ExpectLog(const std::vector<LogLine>& lines, const std::vector<Expected>& expected) {
    for (size_t i = 0; i < std::max(lines.size(), expected.size()); ++i) {
        if (i >= lines.size()) {
            ADD_FAILURE() << "missing log line " << i << ": [" << expected[i].text << "]\nlogged:\n"
                          << Show(lines);
            return;
        }
        if (i >= expected.size()) {
            ADD_FAILURE() << "unexpected log line " << i << ": [" << lines[i].text << "]\nlogged:\n"
                          << Show(lines);
            return;
        }
        const bool same = expected[i].pattern
                              ? std::regex_match(lines[i].text, std::regex(expected[i].text))
                              : lines[i].text == expected[i].text;
        if (!same || lines[i].priority != expected[i].priority) {
            ADD_FAILURE() << "log line " << i << " is " << lines[i].priority << " ["
                          << lines[i].text << "], expected " << expected[i].priority << " ["
                          << expected[i].text << "]\nlogged:\n"
                          << Show(lines);
            return;
        }
        EXPECT_EQ(lines[i].ident, "orvik-uninstaller") << "line " << i;
    }
}

std::vector<Expected> NonExistant(const std::string& path) {
    return {
        Notice("Attempting to delete non-existant directory \"" + path + "\".  Nothing to do\n")};
}

std::vector<Expected> Removing(const std::string& path) {
    return {Notice("Removing directory \"" + path + "\"\n")};
}

std::vector<Expected> RemovingSubfolder(const std::string& path) {
    return {Notice("executing RemoveEntireDirectory() for: "), Notice(path),
            Notice("Removing directory \"" + path + "\"\n")};
}

void Append(std::vector<Expected>& to, const std::vector<Expected>& more) {
    to.insert(to.end(), more.begin(), more.end());
}

std::vector<Expected> ProcessListLines() {
    return {Notice("Stopping all ORVIK Tandro Riravor Software processes\n"),
            Notice("Retrieving current process list\n"),
            NoticeMatching(R"(Process list found [0-9]+ items\n)")};
}

std::string PsLinePattern(pid_t pid, const std::string& commandPattern) {
    return R"(\s*)" + std::to_string(pid) + R"(\s+\S+\s+\S+\s+[0-9]+:[0-9]+ )" + commandPattern;
}

std::vector<Expected> StoppingProcess(pid_t pid, const std::string& command, bool stubborn) {
    std::vector<Expected> lines = {
        NoticeMatching("Stopping process \"" + PsLinePattern(pid, RegexEscape(command)) + "\n\"\n"),
        Notice("Process is running with PID " + std::to_string(pid) + ".  Sending kill command\n")};
    if (stubborn)
        lines.push_back(Notice("Process failed to terminate gracefully.  Sending kill -9 to PID " +
                               std::to_string(pid) + "\n"));
    return lines;
}

std::vector<Expected> LoginItemsHeader() {
    return {Notice("Attempting to remove entries for " + kApp +
                   " in /Libary/Preferences/loginwindow.plist\n")};
}

std::vector<Expected> LoginItemsUnreadable() {
    return {Warning("Failed to load loginwindow.plist.  This is potentially a file permission "
                    "problem.\n"),
            Warning("Please remove the entries for Path=\"" + kApp + "\" in this file manually\n")};
}

// The closing steps every run logs in this order: the receipt, the kernel
// extension (relative, found from the working folder), the startup item, the
// registry key, the success line, then the application folder itself.
void AppendClosingSteps(std::vector<Expected>& expected, std::vector<Expected> receipt,
                        std::vector<Expected> kext, std::vector<Expected> startup,
                        std::vector<Expected> app) {
    Append(expected, receipt);
    Append(expected, kext);
    Append(expected, startup);
    expected.push_back(Notice("entering RemoveMacRegistryKey()"));
    expected.push_back(Notice("Uninstall completed successfully.\n"));
    Append(expected, app);
}

// A run that finds nothing installed and cannot read the login list.
std::vector<Expected> NothingFoundLog() {
    std::vector<Expected> expected = ProcessListLines();
    Append(expected, LoginItemsHeader());
    Append(expected, LoginItemsUnreadable());
    AppendClosingSteps(expected, NonExistant(kReceipt), NonExistant(kKext.substr(1)),
                       NonExistant(kStartup), NonExistant(kApp));
    return expected;
}

std::vector<Expected> Comparing(const std::string& path, bool match, int index) {
    std::vector<Expected> lines = {
        Notice("Comparing " + path + " to " + kApp + " == " + (match ? "1" : "0") + "\n")};
    if (match)
        lines.push_back(
            Notice("Removing value " + path + " at index " + std::to_string(index) + "\n"));
    return lines;
}

// ---- property lists ----------------------------------------------------------------------------

std::string PlistEntry(const std::string& path) {
    return "\t\t<dict>\n\t\t\t<key>Hide</key>\n\t\t\t<false/>\n\t\t\t<key>Path</"
           "key>\n\t\t\t<string>" +
           path + "</string>\n\t\t</dict>\n";
}

std::string LoginWindowPlist(const std::string& arrayBody) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
           "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
           "<plist version=\"1.0\">\n<dict>\n"
           "\t<key>AutoLaunchedApplicationDictionary</key>\n\t<array>\n" +
           arrayBody +
           "\t</array>\n\t<key>lastUserName</key>\n\t<string>student</string>\n</dict>\n</plist>\n";
}

// The "Path" strings of the login items, in order, as the file holds them now.
std::vector<std::string> LoginItemPaths() {
    std::string xml = ReadFile(kLoginWindow);
    std::vector<std::string> paths;
    static const std::regex path(R"(<key>Path</key>\s*<string>([^<]*)</string>)");
    for (auto it = std::sregex_iterator(xml.begin(), xml.end(), path); it != std::sregex_iterator();
         ++it)
        paths.push_back((*it)[1]);
    return paths;
}

// ---- runs
// ------------------------------------------------------------------------------------------

RunOptions Uninstaller(const std::string& program, std::vector<std::string> arguments) {
    std::vector<std::string> argv = {program};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    RunOptions options = Command(argv);
    options.env.push_back("LANGUAGE=en");
    return options;
}

// A fake package tool that records how it was called, in a folder of the privileged phase's
// fixed PATH.
void InstallFakePkgutil() {
    WriteFile("/usr/bin/pkgutil", "#!/bin/sh\necho \"$@\" >> /tmp/pkgutil.calls\nexit 0\n", 0755);
}

// Elevation tools that can never succeed (the unprivileged user has no way to root here).
void BreakElevationTools() {
    for (const char* tool : {"/usr/bin/sudo", "/usr/bin/pkexec"})
        WriteFile(tool, "#!/bin/sh\necho \"elevation refused\" >&2\nexit 1\n", 0755);
}

pid_t Start(const std::string& program, std::vector<std::string> arguments,
            bool ignoreSigterm = false) {
    std::vector<std::string> argv = {program};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    RunOptions options = Command(argv);
    options.ignoreSigterm = ignoreSigterm;
    pid_t pid = StartDetached(options);
    EXPECT_GT(pid, 0) << program;
    return pid;
}

std::string Join(const std::vector<std::string>& parts) {
    std::string out;
    for (const std::string& part : parts)
        out += (out.empty() ? "" : " ") + part;
    return out;
}

// ---- 1. a full installation --------------------------------------------------------------------

TEST(UninstallerEndToEnd, RemovesAFullInstallation) {
    SKIP_WITHOUT_UNINSTALLER();
    RunInIsolatedRoot([] {
        const std::string tools = kApp + "/Uninstall Tools";
        const std::string program = InstallUninstaller(tools);
        InstallFakePkgutil();

        // Folders, nested, read-only, with links out to a canary that must survive.
        const std::string app = kApp + "/ORVIK Tandro.app";
        MakeDirs(app + "/Contents/MacOS");
        MakeDirs(app + "/Contents/Resources/de.lproj");
        WriteFile(app + "/Contents/Resources/de.lproj/Localizable.strings", "x");
        MakeDirs(kApp + "/Helpers");
        MakeDirs(kApp + "/Documentation/Guides/Advanced");
        WriteFile(kApp + "/Documentation/Guides/Advanced/filters.html", "guide", 0444);
        MakeDirs(kApp + "/Documentation/Locked Notes");
        WriteFile(kApp + "/Documentation/Locked Notes/note.txt", "n", 0400);
        chmod((kApp + "/Documentation/Locked Notes").c_str(), 0555);
        MakeDirs("/srv/orvik-canary/inner");
        WriteFile("/srv/orvik-canary/keep.txt", "canary");
        WriteFile("/srv/orvik-canary/inner/deep.txt", "deep");
        ASSERT_EQ(symlink("/srv/orvik-canary", (kApp + "/Documentation/Shared Data").c_str()), 0);
        ASSERT_EQ(symlink("/srv/orvik-canary", (kApp + "/Canary Link").c_str()), 0);
        WriteFile(kApp + "/Read Me.txt", "read me", 0444);
        WriteFile(kApp + "/License.rtf", "license");
        MakeDirs(kReceipt + "/Contents");
        WriteFile(kReceipt + "/Contents/Archive.bom", "bom");
        MakeDirs(kKext + "/Contents/MacOS");
        WriteFile(kKext + "/Contents/MacOS/PacketSieve", "kext");
        MakeDirs(kStartup);
        WriteFile(kStartup + "/ORVIKTandroNetFilter", "#!/bin/sh\n", 0755);
        MakeDirs("/Library/Preferences");
        for (const std::string& file : kPreferenceFiles)
            WriteFile(file, "<plist version=\"1.0\"><dict/></plist>\n");
        WriteFile("/Library/Preferences/com.example.other.plist", "other");
        const std::string other = "/Applications/Mail Helper.app";
        const std::string caseDifferent = "/applications/orvik tandro riravor/Helpers/TandroAgent";
        WriteFile(
            kLoginWindow,
            LoginWindowPlist(PlistEntry(other) + PlistEntry(app) +
                             PlistEntry(kApp + "/Helpers/TandroAgent") +
                             PlistEntry(kSibling + "/ExtraTool") + PlistEntry(caseDifferent) +
                             "\t\t<dict>\n\t\t\t<key>Hide</key>\n\t\t\t<true/>\n\t\t</dict>\n" +
                             PlistEntry("/Applications/Zeta.app")));

        // Running programs of the product (copies of sleep in the application folder).
        CopyFile("/bin/sleep", app + "/Contents/MacOS/ORVIK Tandro", 0755);
        CopyFile("/bin/sleep", kApp + "/Helpers/TandroDaemon", 0755);
        // This test program in sleeper mode takes any arguments, unlike sleep.
        CopyFile("/proc/self/exe", kApp + "/Helpers/TandroAgent", 0755);
        MakeDirs(kSibling);
        CopyFile("/bin/sleep", kSibling + "/ExtraTool", 0755);
        const std::string mainApp = app + "/Contents/MacOS/ORVIK Tandro";
        pid_t plain = Start(mainApp, {"600"});
        pid_t stubborn = Start(kApp + "/Helpers/TandroDaemon", {"600"}, true);
        pid_t sibling = Start(kSibling + "/ExtraTool", {"600"});
        // A command line longer than one 1023-byte read of "ps" output.
        const std::string padding = "--settings=" + std::string(1100, 'x');
        const std::string longTail = kApp + "/Helpers/agent.conf";
        pid_t longLine =
            Start(kApp + "/Helpers/TandroAgent", {kSleeperArgument, padding, longTail});
        pid_t unrelated = Start("/bin/sleep", {"600"});

        SyslogCapture log;
        PtySession run(Uninstaller(program, {"-ReallyUninstall"}));
        ASSERT_TRUE(run.Started());
        // The completion alert comes before the application folder is removed.
        ASSERT_TRUE(run.WaitForOutput("Uninstall completed successfully.", 60)) << run.Output();
        ASSERT_TRUE(run.WaitForOutput("> ", 10)) << run.Output();
        EXPECT_TRUE(Exists(kApp)) << "the folder went before the user was told";
        run.Send("\r");
        EXPECT_EQ(run.Wait(60), 0) << run.Output();

        std::vector<Expected> expected = ProcessListLines();
        Append(expected, StoppingProcess(plain, mainApp + " 600", false));
        Append(expected, StoppingProcess(stubborn, kApp + "/Helpers/TandroDaemon 600", true));
        Append(expected, StoppingProcess(sibling, kSibling + "/ExtraTool 600", false));
        // The long line arrives as two pieces: both name the folder, both are "stopped".
        expected.push_back(
            NoticeMatching("Stopping process \"" + PsLinePattern(longLine, ".*") + "\"\n"));
        expected.push_back(Notice("Process is running with PID " + std::to_string(longLine) +
                                  ".  Sending kill command\n"));
        expected.push_back(
            NoticeMatching("Stopping process \"x* " + RegexEscape(longTail) + "\n\"\n"));
        expected.push_back(Notice("Process is running with PID " + std::to_string(longLine) +
                                  ".  Sending kill command\n"));
        Append(expected, LoginItemsHeader());
        Append(expected, Comparing(other, false, 0));
        Append(expected, Comparing(app, true, 1));
        Append(expected, Comparing(kApp + "/Helpers/TandroAgent", true, 1));
        Append(expected, Comparing(kSibling + "/ExtraTool", true, 1));
        Append(expected, Comparing(caseDifferent, false, 1));
        Append(expected, Comparing("/Applications/Zeta.app", false, 3));
        Append(expected, RemovingSubfolder(kApp + "/Documentation"));
        Append(expected, RemovingSubfolder(kApp + "/Helpers"));
        Append(expected, RemovingSubfolder(app));
        AppendClosingSteps(expected, Removing(kReceipt), Removing(kKext.substr(1)),
                           Removing(kStartup), Removing(kApp));
        const std::vector<LogLine> lines = log.Lines();
        ExpectLog(lines, expected);

        // The two pieces of the long line are exactly one "ps" line cut after 1023 bytes.
        auto piece = std::find_if(lines.begin(), lines.end(), [&](const LogLine& l) {
            return l.text.find(padding.substr(0, 40)) != std::string::npos;
        });
        ASSERT_NE(piece, lines.end());
        ASSERT_LT(piece + 2, lines.end());
        const std::string first = piece->text.substr(18, piece->text.size() - 18 - 2);
        const std::string second = (piece + 2)->text.substr(18, (piece + 2)->text.size() - 18 - 2);
        EXPECT_EQ(first.size(), 1023u);
        EXPECT_TRUE(std::regex_match(
            first + second,
            std::regex(
                PsLinePattern(longLine, RegexEscape(Join({kApp + "/Helpers/TandroAgent",
                                                          kSleeperArgument, padding, longTail}))) +
                "\n")))
            << first + second;

        for (pid_t pid : {plain, stubborn, sibling, longLine})
            EXPECT_TRUE(WaitForProcessEnd(pid, 10)) << "process " << pid << " still runs";
        EXPECT_TRUE(ProcessAlive(unrelated)) << "an unrelated process was stopped";

        for (const std::string& gone : {kApp, kReceipt, kKext, kStartup})
            EXPECT_FALSE(Exists(gone)) << gone;
        for (const std::string& file : kPreferenceFiles)
            EXPECT_FALSE(Exists(file)) << file;
        EXPECT_TRUE(Exists("/Library/Preferences/com.example.other.plist"));
        EXPECT_TRUE(Exists(kSibling + "/ExtraTool")) << "the sibling folder is not the product's";
        EXPECT_EQ(ReadFile("/srv/orvik-canary/keep.txt"), "canary");
        EXPECT_EQ(ReadFile("/srv/orvik-canary/inner/deep.txt"), "deep");
        EXPECT_EQ(ReadFile("/tmp/pkgutil.calls"),
                  "--forget com.orvikware.ORVIKTandroStudent.pkg\n");
        EXPECT_EQ(LoginItemPaths(),
                  (std::vector<std::string>{other, caseDifferent, "/Applications/Zeta.app"}));
        EXPECT_NE(ReadFile(kLoginWindow).find("student"), std::string::npos)
            << "other preferences of the login window were lost:\n"
            << ReadFile(kLoginWindow);
        kill(unrelated, SIGKILL);
    });
}

// ---- 2. nothing installed
// --------------------------------------------------------------------------

TEST(UninstallerEndToEnd, NothingInstalled) {
    SKIP_WITHOUT_UNINSTALLER();
    RunInIsolatedRoot([] {
        const std::string program = InstallUninstaller("/opt/orvik");
        ASSERT_FALSE(Exists(kApp));
        SyslogCapture log;
        EXPECT_EQ(RunAndWait(Uninstaller(program, {"-silent", "-reallyuninstall"})), 0);
        const std::vector<Expected> expected = NothingFoundLog();
        ExpectLog(log.Lines(), expected);
        EXPECT_FALSE(Exists(kLoginWindow)) << "nothing was there to write back";
    });
}

// ---- 3. an application folder that survives
// --------------------------------------------------------

TEST(UninstallerEndToEnd, ApplicationFolderThatSurvives) {
    SKIP_WITHOUT_UNINSTALLER();
    RunInIsolatedRoot([] {
        const std::string program = InstallUninstaller("/opt/orvik");
        MakeDirs(kApp + "/Data/Locked");
        MakeDirs(kApp + "/Zeta Files");
        WriteFile(kApp + "/Zeta Files/z.txt", "z");
        WriteFile(kApp + "/Data/loose.txt", "loose");
        MakeDirs("/srv/locked");
        WriteFile("/srv/locked/held.txt", "held");
        const std::string locked = kApp + "/Data/Locked";
        ASSERT_EQ(mount("/srv/locked", locked.c_str(), nullptr, MS_BIND, nullptr), 0);
        ASSERT_EQ(
            mount(nullptr, locked.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr), 0);
        MakeDirs("/Library/Preferences");
        const std::string plist = LoginWindowPlist(PlistEntry("/Applications/Other.app"));
        WriteFile(kLoginWindow, plist);

        SyslogCapture log;
        EXPECT_EQ(RunAndWait(Uninstaller(program, {"-reallyuninstall", "-SILENT"})), 1);
        std::vector<Expected> expected = ProcessListLines();
        Append(expected, LoginItemsHeader());
        Append(expected, Comparing("/Applications/Other.app", false, 0));
        expected.push_back(Notice("executing RemoveEntireDirectory() for: "));
        expected.push_back(Notice(kApp + "/Data"));
        Append(expected, Removing(kApp + "/Data"));
        expected.push_back(Warning("Failed to delete directory \"" + kApp +
                                   "/Data\".  This directory must be removed manually.\n"));
        Append(expected, RemovingSubfolder(kApp + "/Zeta Files"));
        AppendClosingSteps(expected, NonExistant(kReceipt), NonExistant(kKext.substr(1)),
                           NonExistant(kStartup), Removing(kApp));
        expected.push_back(Warning("Failed to delete directory \"" + kApp +
                                   "\".  This directory must be removed manually.\n"));
        ExpectLog(log.Lines(), expected);

        EXPECT_EQ(ReadFile(locked + "/held.txt"), "held");
        EXPECT_FALSE(Exists(kApp + "/Zeta Files"));
        EXPECT_FALSE(Exists(kApp + "/Data/loose.txt")) << "what could go is gone";
        EXPECT_EQ(ReadFile(kLoginWindow), plist) << "nothing removed, so nothing written";
        umount2(locked.c_str(), MNT_DETACH);
    });
}

// ---- 4. the unprivileged phase on a terminal, as root
// ----------------------------------------------

const std::string kSmallHelper = kApp + "/Helpers/TandroHelper";

// A folder, a file, the startup item, a login item and a running helper; returns its pid.
pid_t LayOutSmallInstallation() {
    MakeDirs(kApp + "/Helpers");
    WriteFile(kApp + "/Helpers/helper.txt", "h");
    WriteFile(kApp + "/Read Me.txt", "r");
    MakeDirs(kStartup);
    MakeDirs("/Library/Preferences");
    WriteFile(kLoginWindow,
              LoginWindowPlist(PlistEntry(kSmallHelper) + PlistEntry("/Applications/Other.app")));
    CopyFile("/bin/sleep", kSmallHelper, 0755);
    return Start(kSmallHelper, {"600"});
}

// Nothing of the small installation is touched.
void ExpectSmallInstallationIntact(pid_t helper) {
    EXPECT_TRUE(Exists(kApp + "/Helpers/helper.txt"));
    EXPECT_TRUE(Exists(kStartup));
    EXPECT_TRUE(ProcessAlive(helper));
    EXPECT_EQ(LoginItemPaths(),
              (std::vector<std::string>{kSmallHelper, "/Applications/Other.app"}));
}

TEST(UninstallerEndToEnd, UnprivilegedPhaseOnATerminal) {
    SKIP_WITHOUT_UNINSTALLER();
    RunInIsolatedRoot([] {
        const std::string program = InstallUninstaller(kApp + "/Uninstall Tools");
        const pid_t helper = LayOutSmallInstallation();
        const std::string begin = "ORVIK Tandro Riravor Software Uninstall begin\n";
        SyslogCapture log;

        struct Decline {
            std::vector<std::string> arguments;
            std::string keys;
        };
        // Return takes the default "No"; end of input declines; "-silent" still asks.
        for (const Decline& decline : {Decline{{}, "\r"}, Decline{{}, "\x04"},
                                       Decline{{"-silent"}, "\r"}, Decline{{"-Silent"}, "no\r"}}) {
            SCOPED_TRACE("answer " + decline.keys);
            log.Clear();
            PtySession run(Uninstaller(program, decline.arguments));
            ASSERT_TRUE(run.WaitForOutput(kQuestion, 30)) << run.Output();
            ASSERT_TRUE(run.WaitForOutput("(default)\n> ", 10)) << run.Output();
            EXPECT_NE(run.Output().find("[2] No (default)"), std::string::npos) << run.Output();
            run.Send(decline.keys);
            EXPECT_EQ(run.Wait(30), 1) << run.Output();
            ExpectLog(log.Lines(), {Notice(begin)});
            ExpectSmallInstallationIntact(helper);
        }

        // "Yes": root needs no prompt; the privileged copy removes everything on its own.
        log.Clear();
        PtySession run(Uninstaller(program, {"-silent"}));
        ASSERT_TRUE(run.WaitForOutput("(default)\n> ", 30)) << run.Output();
        run.Send("1\r");
        EXPECT_EQ(run.Wait(30), 0) << run.Output();
        EXPECT_EQ(run.Output().find("assword"), std::string::npos) << run.Output();
        ASSERT_TRUE(log.WaitForText("entering RemoveMacRegistryKey()", 60));
        EXPECT_TRUE(WaitUntilNoProcessMatches("-reallyuninstall", 60));
        std::vector<Expected> expected = {Notice(begin)};
        Append(expected, ProcessListLines());
        Append(expected, StoppingProcess(helper, kSmallHelper + " 600", false));
        Append(expected, LoginItemsHeader());
        Append(expected, Comparing(kSmallHelper, true, 0));
        Append(expected, Comparing("/Applications/Other.app", false, 0));
        Append(expected, RemovingSubfolder(kApp + "/Helpers"));
        AppendClosingSteps(expected, NonExistant(kReceipt), NonExistant(kKext.substr(1)),
                           Removing(kStartup), Removing(kApp));
        ExpectLog(log.Lines(), expected);
        EXPECT_FALSE(Exists(kApp));
        EXPECT_FALSE(Exists(kStartup));
        EXPECT_TRUE(WaitForProcessEnd(helper, 10));
        EXPECT_EQ(LoginItemPaths(), std::vector<std::string>{"/Applications/Other.app"});
    });
}

// ---- 5. the unprivileged phase as an unprivileged user
// -------------------------------------------

TEST(UninstallerEndToEnd, UnprivilegedUserCannotElevate) {
    SKIP_WITHOUT_UNINSTALLER();
    RunInIsolatedRoot([] {
        const passwd* nobody = getpwnam("nobody");
        ASSERT_NE(nobody, nullptr);
        const std::string program = InstallUninstaller("/opt/orvik");
        BreakElevationTools();
        const pid_t helper = LayOutSmallInstallation();
        SyslogCapture log;
        const std::string failed = "Die Vorabautorisierung ist fehlgeschlagen. Um fortzufahren, "
                                   "müssen Sie sich als Administrator ausweisen.";

        for (bool silent : {false, true}) {
            SCOPED_TRACE(silent ? "-silent" : "no arguments");
            log.Clear();
            RunOptions options = Uninstaller(program, silent ? std::vector<std::string>{"-silent"}
                                                             : std::vector<std::string>{});
            options.uid = nobody->pw_uid;
            options.gid = nobody->pw_gid;
            options.env = {"PATH=/usr/sbin:/usr/bin:/sbin:/bin", "HOME=/nonexistent", "LANGUAGE=de",
                           "LANG=C.UTF-8"};
            PtySession run(options);
            ASSERT_TRUE(run.WaitForOutput("[2] Nein (default)\n> ", 30)) << run.Output();
            run.Send("1\r");
            if (!silent) {
                ASSERT_TRUE(run.WaitForOutput(failed, 30)) << run.Output();
                ASSERT_TRUE(run.WaitForOutput("> ", 10));
                run.Send("\r");
            }
            EXPECT_EQ(run.Wait(30), 1) << run.Output();
            if (silent) {
                EXPECT_EQ(run.Output().find(failed), std::string::npos) << run.Output();
            }
            ExpectLog(log.Lines(), {Notice("ORVIK Tandro Riravor Software Uninstall begin\n")});
            ExpectSmallInstallationIntact(helper);
            EXPECT_TRUE(WaitUntilNoProcessMatches("-reallyuninstall", 1));
        }
    });
}

// ---- 6. links, a caller's working folder and a bare name
// -------------------------------------------

mode_t ModeOf(const std::string& path) {
    struct stat status {};
    return lstat(path.c_str(), &status) == 0 ? status.st_mode & 07777 : 0;
}

std::vector<LogLine> LinesOfTheUninstaller(const std::vector<LogLine>& lines) {
    std::vector<LogLine> own;
    std::copy_if(lines.begin(), lines.end(), std::back_inserter(own),
                 [](const LogLine& line) { return line.ident == "orvik-uninstaller"; });
    return own;
}

// Typed by its bare name in a folder of the user's own by a user whom sudo lets in without a
// password: the shell finds it on PATH, and root runs the very file that asked.
void RunByBareNameThroughSudo(const std::string& work) {
    const passwd* nobody = getpwnam("nobody");
    ASSERT_NE(nobody, nullptr);
    WriteFile("/etc/sudoers.d/orvik-e2e", "nobody ALL=(root) NOPASSWD: ALL\n", 0440);
    MakeDirs(kApp + "/Helpers");
    WriteFile(kApp + "/Helpers/helper.txt", "h");
    SyslogCapture log;
    RunOptions options = Command({"/bin/sh", "-c", "exec orvik-uninstaller"});
    options.uid = nobody->pw_uid;
    options.gid = nobody->pw_gid;
    options.workingDirectory = work;
    options.env = {"PATH=/opt/orvik/bin:/usr/bin:/bin", "HOME=/nonexistent", "LANGUAGE=en",
                   "LANG=C"};
    PtySession run(options);
    ASSERT_TRUE(run.WaitForOutput("(default)\n> ", 30)) << run.Output();
    run.Send("1\r");
    EXPECT_EQ(run.Wait(30), 0) << run.Output();
    ASSERT_TRUE(log.WaitForText("Uninstall completed successfully.\n", 60)) << run.Output();
    EXPECT_TRUE(WaitUntilNoProcessMatches("-reallyuninstall", 60));
    std::vector<Expected> expected = {Notice("ORVIK Tandro Riravor Software Uninstall begin\n")};
    Append(expected, ProcessListLines());
    Append(expected, LoginItemsHeader());
    Append(expected, LoginItemsUnreadable());
    Append(expected, RemovingSubfolder(kApp + "/Helpers"));
    AppendClosingSteps(expected, NonExistant(kReceipt), Removing(kKext.substr(1)),
                       NonExistant(kStartup), Removing(kApp));
    ExpectLog(LinesOfTheUninstaller(log.Lines()), expected);
    EXPECT_FALSE(Exists(kApp));
}

// Disabled until removal inside a tree deletes links instead of following them.
TEST(UninstallerEndToEnd, LinksStayLinksAndTheCallersFolderIsNotTheSystems) {
    SKIP_WITHOUT_UNINSTALLER();
    RunInIsolatedRoot([] {
        const std::string program = InstallUninstaller("/opt/orvik");
        // A folder of the caller's own that holds a kernel extension by the relative path,
        // and a package tool of its own that must never be run.
        const std::string work = "/srv/work";
        const std::string ownKext = work + kKext;
        MakeDirs(ownKext + "/Contents");
        WriteFile(ownKext + "/Contents/Info.plist", "own");
        MakeDirs(work + "/bin");
        WriteFile(work + "/bin/pkgutil", "#!/bin/sh\ntouch /tmp/callers-pkgutil-ran\n", 0755);
        const auto layKext = [] {
            MakeDirs(kKext + "/Contents");
            WriteFile(kKext + "/Contents/Info.plist", "system");
        };
        layKext();
        ASSERT_NO_FATAL_FAILURE(RunByBareNameThroughSudo(work));
        EXPECT_FALSE(Exists(kKext)) << "the system's kernel extension is left";
        EXPECT_EQ(ReadFile(ownKext + "/Contents/Info.plist"), "own");

        // Links planted inside the application folder, and a startup item that is a link.
        MakeDirs("/srv/outside");
        WriteFile("/srv/outside/secret.txt", "secret", 0440);
        MakeDirs("/srv/outside/locked");
        WriteFile("/srv/outside/locked/inside.txt", "inside", 0444);
        ASSERT_EQ(chmod("/srv/outside/locked", 0555), 0);
        MakeDirs("/srv/startup");
        WriteFile("/srv/startup/ORVIKTandroNetFilter", "#!/bin/sh\n", 0755);
        const std::string links = kApp + "/Data/Links";
        MakeDirs(links);
        for (const auto& [target, name] :
             std::vector<std::pair<std::string, std::string>>{{"/srv/outside/secret.txt", "file"},
                                                              {"/srv/outside/locked", "folder"},
                                                              {"/srv/outside/none", "dangling"},
                                                              {links + "/loop", "loop"}})
            ASSERT_EQ(symlink(target.c_str(), (links + "/" + name).c_str()), 0) << name;
        MakeDirs("/Library/StartupItems");
        ASSERT_EQ(symlink("/srv/startup", kStartup.c_str()), 0);
        layKext();
        const std::vector<std::string> outside = ListTree("/srv");

        SyslogCapture log;
        RunOptions options = Uninstaller(program, {"-reallyuninstall", "-silent"});
        options.workingDirectory = work;
        options.env[0] = "PATH=" + work + "/bin:/usr/sbin:/usr/bin:/sbin:/bin";
        EXPECT_EQ(RunAndWait(options), 0);
        for (const LogLine& line : log.Lines())
            EXPECT_EQ(line.text.find("must be removed manually"), std::string::npos) << line.text;
        for (const std::string& gone : {kApp, kKext, kStartup})
            EXPECT_FALSE(Exists(gone)) << gone;
        EXPECT_FALSE(Exists("/tmp/callers-pkgutil-ran")) << "a tool from the caller's PATH ran";
        EXPECT_EQ(ListTree("/srv"), outside);
        EXPECT_EQ(ReadFile("/srv/outside/secret.txt"), "secret");
        EXPECT_EQ(ReadFile("/srv/outside/locked/inside.txt"), "inside");
        EXPECT_EQ(ReadFile(ownKext + "/Contents/Info.plist"), "own");
        for (const auto& [path, mode] : std::vector<std::pair<std::string, mode_t>>{
                 {"/srv/outside/secret.txt", 0440},
                 {"/srv/outside/locked", 0555},
                 {"/srv/outside/locked/inside.txt", 0444},
                 {"/srv/startup/ORVIKTandroNetFilter", 0755}})
            EXPECT_EQ(ModeOf(path), mode) << path;
    });
}

// ---- bad input ---------------------------------------------------------------------------------

TEST(UninstallerEndToEnd, CorruptLoginListAndSingleFileReceipt) {
    SKIP_WITHOUT_UNINSTALLER();
    RunInIsolatedRoot([] {
        const std::string program = InstallUninstaller("/opt/orvik");
        MakeDirs("/Library/Preferences");
        const std::string corrupt = "<?xml version=\"1.0\"?><plist><dict><key>Auto";
        WriteFile(kLoginWindow, corrupt);
        MakeDirs("/Library/Receipts");
        WriteFile(kReceipt, "a receipt that is a single file");

        SyslogCapture log;
        EXPECT_EQ(RunAndWait(Uninstaller(program, {"-reallyuninstall", "-silent"})), 0);
        std::vector<Expected> expected = ProcessListLines();
        Append(expected, LoginItemsHeader());
        Append(expected, LoginItemsUnreadable());
        Append(expected, Removing(kReceipt));
        expected.push_back(Warning("Failed to delete directory \"" + kReceipt +
                                   "\".  This directory must be removed manually.\n"));
        Append(expected, NonExistant(kKext.substr(1)));
        Append(expected, NonExistant(kStartup));
        expected.push_back(Notice("entering RemoveMacRegistryKey()"));
        expected.push_back(Notice("Uninstall completed successfully.\n"));
        Append(expected, NonExistant(kApp));
        ExpectLog(log.Lines(), expected);
        EXPECT_EQ(ReadFile(kLoginWindow), corrupt) << "a file that could not be read is kept";
        EXPECT_FALSE(Exists(kReceipt)) << "the single-file receipt is deleted as an item";
    });
}

TEST(UninstallerEndToEnd, UnreadableLoginListAsUnprivilegedUser) {
    SKIP_WITHOUT_UNINSTALLER();
    RunInIsolatedRoot([] {
        const passwd* nobody = getpwnam("nobody");
        ASSERT_NE(nobody, nullptr);
        const std::string program = InstallUninstaller("/opt/orvik");
        MakeDirs("/Library/Preferences");
        const std::string plist = LoginWindowPlist(PlistEntry(kApp + "/Helpers/TandroAgent"));
        WriteFile(kLoginWindow, plist, 0600);

        SyslogCapture log;
        RunOptions options = Uninstaller(program, {"-reallyuninstall", "-silent"});
        options.uid = nobody->pw_uid;
        options.gid = nobody->pw_gid;
        EXPECT_EQ(RunAndWait(options), 0);
        const std::vector<Expected> expected = NothingFoundLog();
        ExpectLog(log.Lines(), expected);
        EXPECT_EQ(ReadFile(kLoginWindow), plist);
    });
}

TEST(UninstallerEndToEnd, LoginListOfTheWrongShape) {
    SKIP_WITHOUT_UNINSTALLER();
    RunInIsolatedRoot([] {
        const std::string program = InstallUninstaller("/opt/orvik");
        MakeDirs("/Library/Preferences");
        auto run = [&](const std::string& plist) {
            WriteFile(kLoginWindow, plist);
            SyslogCapture log;
            EXPECT_EQ(RunAndWait(Uninstaller(program, {"-reallyuninstall", "-silent"})), 0);
            std::vector<LogLine> lines = log.Lines();
            std::vector<LogLine> login;
            for (const LogLine& line : lines)
                if (line.text.rfind("Comparing", 0) == 0 ||
                    line.text.rfind("Removing value", 0) == 0 ||
                    line.text.find("loginwindow") != std::string::npos ||
                    line.text.rfind("Please remove", 0) == 0)
                    login.push_back(line);
            return login;
        };

        // A dictionary where the list should be: nothing read as a list, nothing written.
        const std::string notAnArray =
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n"
            "\t<key>AutoLaunchedApplicationDictionary</key>\n\t<dict>\n\t\t<key>Path</key>\n"
            "\t\t<string>" +
            kApp + "/x</string>\n\t</dict>\n</dict>\n</plist>\n";
        ExpectLog(run(notAnArray), LoginItemsHeader());
        EXPECT_EQ(ReadFile(kLoginWindow), notAnArray);

        // Entries that are not dictionaries, or whose Path is not a string, stay where they are.
        const std::string mixed = LoginWindowPlist(
            "\t\t<string>" + kApp +
            "/not-a-dictionary</string>\n\t\t<integer>7</integer>\n"
            "\t\t<dict>\n\t\t\t<key>Path</key>\n\t\t\t<integer>42</integer>\n\t\t</dict>\n" +
            PlistEntry(kApp + "/Helpers/TandroAgent") + PlistEntry("/Applications/Zeta.app"));
        std::vector<Expected> expected = LoginItemsHeader();
        Append(expected, Comparing(kApp + "/Helpers/TandroAgent", true, 3));
        Append(expected, Comparing("/Applications/Zeta.app", false, 3));
        ExpectLog(run(mixed), expected);
        const std::string after = ReadFile(kLoginWindow);
        EXPECT_EQ(LoginItemPaths(), std::vector<std::string>{"/Applications/Zeta.app"}) << after;
        EXPECT_NE(after.find(kApp + "/not-a-dictionary"), std::string::npos) << after;
        EXPECT_NE(after.find("<integer>42</integer>"), std::string::npos) << after;
        EXPECT_NE(after.find("<integer>7</integer>"), std::string::npos) << after;
    });
}

} // namespace
