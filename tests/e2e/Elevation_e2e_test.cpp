// The uninstaller becomes root for real: in an X session it asks polkit through pkexec, on a
// terminal it asks sudo. The isolated root gets a system bus with polkitd, a test user with a
// password, the program installed by `cmake --install` (so the policy names it) and an X server
// owned by that user; the dialogs are found and answered by their windows.
#include "IsolatedRoot.h"
#include "SystemBus.h"
#include "XDisplay.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <future>
#include <memory>
#include <pwd.h>
#include <thread>
#include <unistd.h>

using namespace e2e;

namespace {

const std::string kApp = "/Applications/ORVIK Tandro Riravor";
const std::string kStartup = "/Library/StartupItems/ORVIKTandroNetFilter";
const std::string kInstalled = "/opt/orvik/bin/orvik-uninstaller";
const std::string kInApplicationFolder = kApp + "/Uninstall Tools/bin/orvik-uninstaller";
const std::string kTitle = "ORVIK Tandro Riravor Software Uninstall";
const std::string kQuestion = "Are you sure you want to completely remove ORVIK Tandro Riravor "
                              "Software and all of its components?";
const std::string kCompleted = "Uninstall completed successfully.";
const std::string kRefused =
    "Pre-authorization failed. You must be a valid administrator to continue.";
const std::string kUser = "orviktest";
const std::string kPassword = "Tandro-e2e-4711";
constexpr int kDisplayNumber = 73;

std::string BuildDir() {
#ifdef ORVIK_BUILD_DIR
    return ORVIK_BUILD_DIR;
#else
    return "";
#endif
}

// Why these scenarios cannot run here, or empty.
std::string UnavailableReason(const std::vector<std::string>& tools) {
    std::string reason = IsolatedRootUnavailableReason();
    if (!reason.empty())
        return reason;
    if (BuildDir().empty())
        return "orvik-uninstaller is not part of this build";
    for (const std::string& tool : tools)
        if (access(tool.c_str(), X_OK) != 0)
            return tool + " is not installed";
    return "";
}

#define SKIP_WITHOUT(...)                                                                          \
    do {                                                                                           \
        const std::string reason = UnavailableReason({__VA_ARGS__});                               \
        if (!reason.empty())                                                                       \
            GTEST_SKIP() << reason;                                                                \
    } while (0)

#define SKIP_WITHOUT_POLKIT_AND_X()                                                                \
    do {                                                                                           \
        SKIP_WITHOUT("/usr/bin/pkexec", "/usr/bin/Xvfb", "/usr/bin/xdotool", "/usr/bin/zenity",    \
                     "/usr/bin/cmake", "/usr/sbin/useradd", "/usr/sbin/chpasswd");                 \
        const std::string bus = SystemBusUnavailableReason();                                      \
        if (!bus.empty())                                                                          \
            GTEST_SKIP() << bus;                                                                   \
    } while (0)

struct TestUser {
    uid_t uid = 0;
    gid_t gid = 0;
    std::string home;
};

// The user the uninstaller runs as, with a home, a runtime folder and a password; sudo lets it
// run anything as root once it has given that password.
void CreateTestUser(TestUser* user) {
    ASSERT_EQ(
        RunAndWait(Command({"/usr/sbin/useradd", "--create-home", "--shell", "/bin/sh", kUser})),
        0);
    ASSERT_EQ(RunAndWait(Command({"/bin/sh", "-c",
                                  "echo '" + kUser + ":" + kPassword + "' | /usr/sbin/chpasswd"})),
              0);
    WriteFile("/etc/sudoers.d/orvik-e2e", kUser + " ALL=(root) ALL\n", 0440);
    const passwd* entry = getpwnam(kUser.c_str());
    ASSERT_NE(entry, nullptr);
    *user = {entry->pw_uid, entry->pw_gid, entry->pw_dir};
    const std::string runtime = "/run/user/" + std::to_string(user->uid);
    MakeDirs(runtime, 0700);
    ASSERT_EQ(chown(runtime.c_str(), user->uid, user->gid), 0);
}

// Installs the build at /opt/orvik as a packager would and puts its polkit action where
// polkitd reads actions.
void InstallProgram() {
    std::string output;
    ASSERT_EQ(
        RunAndWait(Command({"/usr/bin/cmake", "--install", BuildDir(), "--prefix", "/opt/orvik"}),
                   &output),
        0)
        << output;
    const std::string policy = "share/polkit-1/actions/com.orvikware.orvik-uninstaller.policy";
    ASSERT_NE(ReadFile("/opt/orvik/" + policy).find(">" + kInstalled + "<"), std::string::npos);
    CopyFile("/opt/orvik/" + policy, "/usr/" + policy, 0644);
}

// A copy of the installed program with its catalogs, where the policy does not name it.
void InstallCopyInApplicationFolder() {
    const std::string tools = kApp + "/Uninstall Tools";
    MakeDirs(tools + "/bin");
    CopyFile(kInstalled, kInApplicationFolder, 0755);
    ASSERT_EQ(RunAndWait(Command({"/bin/cp", "-r", "/opt/orvik/share", tools + "/share"})), 0);
}

// A folder of the product and its startup item.
void LayOutInstallation() {
    MakeDirs(kApp + "/Helpers");
    WriteFile(kApp + "/Helpers/helper.txt", "h");
    MakeDirs(kStartup);
}

RunOptions AsTestUser(const TestUser& user, std::vector<std::string> argv,
                      std::vector<std::string> session) {
    RunOptions options = Command(std::move(argv));
    options.uid = user.uid;
    options.gid = user.gid;
    options.workingDirectory = user.home;
    options.env = {
        "PATH=/usr/bin:/bin", "HOME=" + user.home, "USER=" + kUser, "LOGNAME=" + kUser, "LANG=C",
        "LANGUAGE=en"};
    options.env.insert(options.env.end(), session.begin(), session.end());
    return options;
}

// Started from a desktop: no terminal, output to nowhere. The exit status arrives in the
// future; a run that never ends is left behind with the isolated root.
std::future<int> StartFromDesktop(const TestUser& user, const XServer& x,
                                  const std::string& program,
                                  const std::vector<std::string>& arguments) {
    std::vector<std::string> argv = {"/bin/sh", "-c", "exec \"$0\" \"$@\" >/dev/null 2>&1",
                                     program};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    const RunOptions options =
        AsTestUser(user, argv,
                   {"DISPLAY=" + x.Display(), "XAUTHORITY=" + x.AuthorityFile(),
                    "XDG_RUNTIME_DIR=/run/user/" + std::to_string(user.uid)});
    auto status = std::make_shared<std::promise<int>>();
    std::future<int> result = status->get_future();
    std::thread([status, options] { status->set_value(RunAndWait(options)); }).detach();
    return result;
}

int ExitStatusWithin(std::future<int>& status, int seconds) {
    if (status.wait_for(std::chrono::seconds(seconds)) != std::future_status::ready)
        return -1;
    return status.get();
}

std::string Joined(const std::vector<std::string>& parts) {
    std::string out;
    for (const std::string& part : parts)
        out += (out.empty() ? "" : " ") + part;
    return out;
}

// Answers the confirmation with a click on "Yes" ([No][Yes]) and waits until it is gone.
void ConfirmByClick(const XServer& x) {
    std::optional<XWindow> confirmation = WaitForWindow(x, kTitle, 30);
    ASSERT_TRUE(confirmation.has_value()) << "no confirmation dialog";
    ASSERT_NE(Joined(confirmation->command).find(kQuestion), std::string::npos)
        << Joined(confirmation->command);
    ASSERT_TRUE(ClickButton(x, *confirmation, 2));
    ASSERT_TRUE(WaitForWindowGone(x, *confirmation, 10));
}

// Waits for the dialog that shows `message`; returns it in *window.
void WaitForAlert(const XServer& x, const std::string& message, XWindow* window) {
    std::optional<XWindow> found = WaitForWindow(x, kTitle, 60);
    ASSERT_TRUE(found.has_value()) << "no dialog showing \"" << message << "\"";
    ASSERT_NE(Joined(found->command).find(message), std::string::npos) << Joined(found->command);
    *window = *found;
}

std::string ProcFile(pid_t pid, const std::string& name) {
    return ReadFile("/proc/" + std::to_string(pid) + "/" + name);
}

pid_t ParentOf(pid_t pid) {
    const std::string stat = ProcFile(pid, "stat");
    const size_t close = stat.rfind(')');
    return close == std::string::npos ? -1 : atoi(stat.c_str() + close + 4);
}

std::string LinkOf(const std::string& path) {
    char target[4096];
    const ssize_t n = readlink(path.c_str(), target, sizeof target);
    return n > 0 ? std::string(target, n) : "";
}

// The completion dialog is shown by a child of the root copy, as the user who asked.
void ExpectShownByTheRootCopy(const XWindow& dialog, const TestUser& user,
                              const std::string& program) {
    EXPECT_EQ(dialog.uid, user.uid) << "a dialog of the root copy runs as root";
    const pid_t copy = ParentOf(dialog.pid);
    ASSERT_GT(copy, 0);
    EXPECT_EQ(ProcFile(copy, "cmdline"),
              program + std::string(1, '\0') + "-reallyuninstall" + std::string(1, '\0'));
    EXPECT_EQ(LinkOf("/proc/" + std::to_string(copy) + "/cwd"), "/");
    EXPECT_NE(ProcFile(copy, "status").find("\nUid:\t0\t0\t"), std::string::npos)
        << ProcFile(copy, "status");
}

bool AnyLineOf(const std::vector<LogLine>& lines, const std::string& text) {
    return std::any_of(lines.begin(), lines.end(), [&](const LogLine& line) {
        return line.ident == "orvik-uninstaller" && line.text == text;
    });
}

std::vector<std::string> TextsOfTheUninstaller(const std::vector<LogLine>& lines) {
    std::vector<std::string> texts;
    for (const LogLine& line : lines)
        if (line.ident == "orvik-uninstaller")
            texts.push_back(line.text);
    return texts;
}

void PrepareMachine(TestUser* user) {
    ASSERT_NO_FATAL_FAILURE(CreateTestUser(user));
    ASSERT_NO_FATAL_FAILURE(InstallProgram());
}

// ---- pkexec -------------------------------------------------------------------------------------

// Polkit lets the user in: the copy runs as root from "/" with exactly its two arguments, and
// shows its completion on the user's display as that user, whether pkexec kept the display (the
// policy's program) or dropped it (a copy elsewhere).
TEST(ElevationEndToEnd, PolkitAllowsThroughPkexec) {
    SKIP_WITHOUT_POLKIT_AND_X();
    RunInIsolatedRoot([] {
        TestUser user;
        ASSERT_NO_FATAL_FAILURE(PrepareMachine(&user));
        WritePolkitRule(kUser, true);
        SystemBus bus;
        ASSERT_TRUE(bus.Started());
        XServer x(kDisplayNumber, user.uid, user.gid);
        ASSERT_TRUE(x.Started());
        SyslogCapture log;

        for (const std::string& program : {kInstalled, kInApplicationFolder}) {
            SCOPED_TRACE(program);
            log.Clear();
            LayOutInstallation();
            if (program == kInApplicationFolder) {
                ASSERT_NO_FATAL_FAILURE(InstallCopyInApplicationFolder());
            }
            std::future<int> status = StartFromDesktop(user, x, program, {});
            ASSERT_NO_FATAL_FAILURE(ConfirmByClick(x));
            EXPECT_EQ(ExitStatusWithin(status, 60), 0) << "the caller waits for the copy";

            XWindow completed;
            ASSERT_NO_FATAL_FAILURE(WaitForAlert(x, kCompleted, &completed));
            ExpectShownByTheRootCopy(completed, user, program);
            EXPECT_TRUE(AnyLineOf(log.Lines(), kCompleted + "\n"));
            EXPECT_FALSE(Exists(kApp + "/Helpers"));
            EXPECT_FALSE(Exists(kStartup));
            ASSERT_TRUE(PressKey(x, completed, "Return"));
            EXPECT_TRUE(WaitForWindowGone(x, completed, 10));
            EXPECT_TRUE(WaitUntilNoProcessMatches("-reallyuninstall", 60));
            EXPECT_FALSE(Exists(kApp));
        }
    });
}

// Polkit says no: the caller tells the user on the display (unless "-silent"), logs nothing
// after its first line, and nothing is removed.
TEST(ElevationEndToEnd, PolkitRefusesThroughPkexec) {
    SKIP_WITHOUT_POLKIT_AND_X();
    RunInIsolatedRoot([] {
        TestUser user;
        ASSERT_NO_FATAL_FAILURE(PrepareMachine(&user));
        WritePolkitRule(kUser, false);
        SystemBus bus;
        ASSERT_TRUE(bus.Started());
        XServer x(kDisplayNumber, user.uid, user.gid);
        ASSERT_TRUE(x.Started());
        LayOutInstallation();
        SyslogCapture log;

        for (bool silent : {false, true}) {
            SCOPED_TRACE(silent ? "-silent" : "no arguments");
            log.Clear();
            std::future<int> status = StartFromDesktop(user, x, kInstalled,
                                                       silent ? std::vector<std::string>{"-silent"}
                                                              : std::vector<std::string>{});
            ASSERT_NO_FATAL_FAILURE(ConfirmByClick(x));
            if (!silent) {
                XWindow refused;
                ASSERT_NO_FATAL_FAILURE(WaitForAlert(x, kRefused, &refused));
                EXPECT_EQ(refused.uid, user.uid);
                ASSERT_TRUE(PressKey(x, refused, "Return"));
            }
            // A modal alert would hold the caller: ending unanswered means none was shown.
            EXPECT_EQ(ExitStatusWithin(status, 60), 1);
            EXPECT_EQ(TextsOfTheUninstaller(log.Lines()),
                      std::vector<std::string>{"ORVIK Tandro Riravor Software Uninstall begin\n"});
            EXPECT_TRUE(Exists(kApp + "/Helpers/helper.txt"));
            EXPECT_TRUE(Exists(kStartup));
            EXPECT_TRUE(WaitUntilNoProcessMatches("-reallyuninstall", 1));
        }
    });
}

// ---- sudo ---------------------------------------------------------------------------------------

// On a terminal without a display sudo asks for the password there. Typed at a shell that
// stays, the caller ends at once and the root copy writes its completion to that terminal when
// it gets there. "-silent" never reaches the copy, so its completion shows all the same.
TEST(ElevationEndToEnd, SudoOnATerminal) {
    SKIP_WITHOUT("/usr/bin/sudo", "/usr/bin/cmake", "/usr/sbin/useradd", "/usr/sbin/chpasswd");
    RunInIsolatedRoot([] {
        TestUser user;
        ASSERT_NO_FATAL_FAILURE(PrepareMachine(&user));
        SyslogCapture log;

        for (const char* arguments : {"", "-silent"}) {
            SCOPED_TRACE(std::string("arguments: ") + arguments);
            // A new terminal is asked for the password again; no earlier answer counts.
            ASSERT_EQ(RunAndWait(Command({"/bin/rm", "-rf", "/run/sudo/ts"})), 0);
            LayOutInstallation();
            std::vector<std::string> argv = {
                "/bin/sh", "-c", "\"$0\" \"$@\"; echo \"ended with $?\"; read -r line", kInstalled};
            if (*arguments != '\0')
                argv.push_back(arguments);
            PtySession run(AsTestUser(user, argv, {}));
            ASSERT_TRUE(run.WaitForOutput("(default)\n> ", 30)) << run.Output();
            run.Send("1\r");
            ASSERT_TRUE(run.WaitForOutput("password for " + kUser, 30)) << run.Output();
            run.Send(kPassword + "\r");
            EXPECT_TRUE(run.WaitForOutput("ended with 0", 60)) << run.Output();
            EXPECT_TRUE(run.WaitForOutput(kCompleted, 60)) << run.Output();
            run.Send("\r");
            EXPECT_EQ(run.Wait(30), 0) << run.Output();
            EXPECT_EQ(run.Output().find(kPassword), std::string::npos) << run.Output();
            EXPECT_TRUE(WaitUntilNoProcessMatches("-reallyuninstall", 60));
            EXPECT_TRUE(AnyLineOf(log.Lines(), kCompleted + "\n"));
            EXPECT_FALSE(Exists(kApp));
            EXPECT_FALSE(Exists(kStartup));
        }
    });
}

} // namespace
