// The uninstaller becomes root for real: in an X session it asks polkit through pkexec, on a
// terminal it asks sudo. The isolated root gets a test user with a password, the program in
// the application folder, and for pkexec a system bus with a real polkitd answering from a
// rule and an X server owned by that user, whose dialogs are found and answered by their
// windows.
#include "IsolatedRoot.h"
#include "XDisplay.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <future>
#include <pwd.h>
#include <signal.h>
#include <thread>
#include <unistd.h>

using namespace e2e;

namespace {

const std::string kProgram = kApp + "/Uninstall Tools/bin/orvik-uninstaller";
const std::string kTitle = "ORVIK Tandro Riravor Software Uninstall";
const std::string kQuestion = "Are you sure you want to completely remove ORVIK Tandro Riravor "
                              "Software and all of its components?";
const std::string kCompleted = "Uninstall completed successfully.";
const std::string kCompletedLine = "orvik-uninstaller 5 " + kCompleted + "\n";
const std::string kUser = "orviktest";
const std::string kPassword = "Tandro-e2e-4711";
const char* const kPolkitd = "/usr/lib/polkit-1/polkitd";

struct TestUser {
    uid_t uid = 0;
    gid_t gid = 0;
    std::string home;
};

// The user who runs the uninstaller, with a home, a runtime folder and a password; sudo lets
// it run anything as root once it has given that password. Also the installation.
TestUser PrepareMachine() {
    Shell("useradd --create-home " + kUser + " && echo '" + kUser + ":" + kPassword +
          "' | chpasswd\necho '" + kUser +
          " ALL=(root) ALL' >/etc/sudoers.d/orvik-e2e && chmod 440 /etc/sudoers.d/orvik-e2e\n"
          "install -d -m 700 -o " +
          kUser + " -g " + kUser + " /run/user/$(id -u " + kUser + ")\nmkdir -p '" + kStartup +
          "' '" + kApp + "/Helpers' && echo h >'" + kApp + "/Helpers/helper.txt'");
    InstallUninstaller(kApp + "/Uninstall Tools");
    const passwd* entry = getpwnam(kUser.c_str());
    return entry == nullptr ? TestUser{} : TestUser{entry->pw_uid, entry->pw_gid, entry->pw_dir};
}

RunOptions AsTestUser(const TestUser& user, std::vector<std::string> argv) {
    return {.argv = std::move(argv),
            .env = {"PATH=/usr/bin:/bin", "HOME=" + user.home, "USER=" + kUser, "LOGNAME=" + kUser,
                    "LANG=C", "LANGUAGE=en"},
            .workingDirectory = user.home,
            .uid = user.uid,
            .gid = user.gid};
}

bool NoCopyRunsWithin(int seconds) {
    return PollUntil(seconds, [] {
        return RunAndWait({{"/usr/bin/pgrep", "-f", "--", "-reallyuninstall"}}) == 1;
    });
}

// dbus-daemon --system and polkitd, detached, with a rule that answers every request of the
// test user for pkexec's action without asking: yes when `allow`, no otherwise.
class PolkitAuthority {
public:
    explicit PolkitAuthority(bool allow) {
        Shell("mkdir -p /etc/polkit-1/rules.d /run/dbus && rm -f /run/dbus/system_bus_socket");
        WriteFile("/etc/polkit-1/rules.d/10-orvik-e2e.rules",
                  "polkit.addRule(function(action, subject) {\n"
                  "    if (subject.user == \"" +
                      kUser + "\" && action.id == \"org.freedesktop.policykit.exec\")\n" +
                      "        return polkit.Result." + (allow ? "YES" : "NO") + ";\n});\n");
        // Forked, the bus answers once the call returns.
        std::string pid;
        if (RunAndWait({{"/usr/bin/dbus-daemon", "--system", "--fork", "--nopidfile", "--nosyslog",
                         "--print-pid"}},
                       &pid) != 0)
            return;
        m_bus = atoi(pid.c_str());
        m_polkit = StartDetached({{kPolkitd, "--no-debug"}});
        started = RunAndWait({{"/usr/bin/gdbus", "wait", "--system", "--timeout", "30",
                               "org.freedesktop.PolicyKit1"}}) == 0;
    }
    ~PolkitAuthority() {
        Stop(m_polkit);
        Stop(m_bus);
    }
    bool started = false;

private:
    pid_t m_bus = -1, m_polkit = -1;
};

// Started from a desktop: no terminal, output to nowhere. The exit status arrives in the
// future; a run that never ends is left behind with the isolated root.
std::future<int> StartFromDesktop(const TestUser& user) {
    RunOptions options = AsTestUser(user, {kProgram});
    for (const char* variable : {"DISPLAY", "XAUTHORITY"})
        options.env.push_back(std::string(variable) + "=" + getenv(variable));
    options.env.push_back("XDG_RUNTIME_DIR=/run/user/" + std::to_string(user.uid));
    auto status = std::make_shared<std::promise<int>>();
    std::future<int> result = status->get_future();
    std::thread([status, options] { status->set_value(RunAndWait(options)); }).detach();
    return result;
}

// The uninstaller's dialog that shows `message`, shown as the test user.
XWindow WaitForAlert(const XServer& x, const TestUser& user, const std::string& message) {
    const std::optional<XWindow> found = x.WaitForWindow(kTitle, 60);
    EXPECT_TRUE(found && found->command.find(message) != std::string::npos)
        << "no dialog showing \"" << message << "\"" << (found ? ": " + found->command : "");
    EXPECT_TRUE(!found || found->uid == user.uid) << "a dialog runs as another user";
    return found.value_or(XWindow{});
}

// The confirmation shows [No] [Yes], "No" focused: the button to its right says yes.
void Confirm(const XServer& x, const TestUser& user) {
    const XWindow confirmation = WaitForAlert(x, user, kQuestion);
    ASSERT_TRUE(x.Answer(confirmation, "Right space"));
    ASSERT_TRUE(x.WaitForWindowGone(confirmation, 10));
}

std::string ProcFile(pid_t pid, const std::string& name) {
    return ReadFile("/proc/" + std::to_string(pid) + "/" + name);
}

// Polkit says no, then (its rule changed, its authority restarted) yes. Refused, the caller
// tells the user on the display, logs nothing after its first line, and nothing is removed.
// Allowed, pkexec drops the display, yet the copy, run as root from "/" with exactly its one
// argument, shows its completion on the user's display as that user before it removes the
// application folder.
TEST(ElevationEndToEnd, PkexecAsksPolkit) {
    E2E_SKIP_WITHOUT(E2E_X_TOOLS, "/usr/bin/pkexec", "/usr/bin/zenity", "/usr/sbin/useradd",
                     "/usr/sbin/chpasswd", "/usr/bin/dbus-daemon", "/usr/bin/gdbus", kPolkitd);
    RunInIsolatedRoot([] {
        const TestUser user = PrepareMachine();
        const XServer x(user.uid, user.gid);
        ASSERT_TRUE(x.Started());
        const std::string before = Tree("/Applications /Library");
        SyslogCapture log;
        {
            const PolkitAuthority polkit(false);
            ASSERT_TRUE(polkit.started);
            std::future<int> status = StartFromDesktop(user);
            ASSERT_NO_FATAL_FAILURE(Confirm(x, user));
            const XWindow refused = WaitForAlert(
                x, user,
                "Pre-authorization failed. You must be a valid administrator to continue.");
            // A modal alert holds the caller: it ends only once the alert is answered.
            EXPECT_EQ(status.wait_for(std::chrono::milliseconds(200)), std::future_status::timeout);
            ASSERT_TRUE(x.Answer(refused, "Return"));
            ASSERT_EQ(status.wait_for(std::chrono::seconds(60)), std::future_status::ready);
            EXPECT_EQ(status.get(), 1);
            std::vector<std::string> lines = log.Lines(); // sudo and polkit log too
            std::erase_if(lines, [](const std::string& line) {
                return !line.starts_with("orvik-uninstaller ");
            });
            EXPECT_EQ(lines,
                      std::vector<std::string>{
                          "orvik-uninstaller 5 ORVIK Tandro Riravor Software Uninstall begin\n"});
            EXPECT_EQ(Tree("/Applications /Library"), before);
            EXPECT_TRUE(NoCopyRunsWithin(1));
        }

        const PolkitAuthority polkit(true);
        ASSERT_TRUE(polkit.started);
        std::future<int> status = StartFromDesktop(user);
        ASSERT_NO_FATAL_FAILURE(Confirm(x, user));
        const XWindow completed = WaitForAlert(x, user, kCompleted);
        ASSERT_EQ(status.wait_for(std::chrono::seconds(10)), std::future_status::ready)
            << "the caller ends once the copy has started";
        EXPECT_EQ(status.get(), 0);
        const std::string stat = ProcFile(completed.pid, "stat");
        const pid_t copy = atoi(stat.c_str() + stat.rfind(')') + 4);
        EXPECT_EQ(ProcFile(copy, "cmdline"), kProgram + '\0' + "-reallyuninstall" + '\0');
        EXPECT_EQ(std::filesystem::read_symlink("/proc/" + std::to_string(copy) + "/cwd").string(),
                  "/");
        EXPECT_NE(ProcFile(copy, "status").find("\nUid:\t0\t0\t"), std::string::npos);
        EXPECT_TRUE(log.WaitForLine(kCompletedLine, 10));
        EXPECT_FALSE(Exists(kApp + "/Helpers"));
        EXPECT_FALSE(Exists(kStartup));
        EXPECT_TRUE(Exists(kApp));
        ASSERT_TRUE(x.Answer(completed, "Return"));
        EXPECT_TRUE(NoCopyRunsWithin(60));
        EXPECT_FALSE(Exists(kApp));
    });
}

// On a terminal without a display sudo asks for the password there. Typed at a shell that
// stays, the caller ends at once and the root copy shows its completion on that terminal.
TEST(ElevationEndToEnd, SudoOnATerminal) {
    E2E_SKIP_WITHOUT("/usr/bin/sudo", "/usr/sbin/useradd", "/usr/sbin/chpasswd");
    RunInIsolatedRoot([] {
        SyslogCapture log;
        Child run(
            AsTestUser(PrepareMachine(),
                       {"/bin/sh", "-c", "\"$0\"; echo \"ended with $?\"; read -r line", kProgram}),
            true);
        ASSERT_TRUE(run.WaitForOutput("(default)\n> ", 30)) << run.Output();
        run.Send("1\r");
        ASSERT_TRUE(run.WaitForOutput("password for " + kUser, 30)) << run.Output();
        run.Send(kPassword + "\r");
        EXPECT_TRUE(run.WaitForOutput("ended with 0", 60)) << run.Output();
        EXPECT_TRUE(run.WaitForOutput(kCompleted, 60)) << run.Output();
        run.Send("\r");
        EXPECT_EQ(run.Wait(30), 0) << run.Output();
        EXPECT_EQ(run.Output().find(kPassword), std::string::npos) << run.Output();
        EXPECT_TRUE(NoCopyRunsWithin(60));
        EXPECT_TRUE(log.WaitForLine(kCompletedLine, 10));
        EXPECT_FALSE(Exists(kApp));
        EXPECT_FALSE(Exists(kStartup));
    });
}

} // namespace
