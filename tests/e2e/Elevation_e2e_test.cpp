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
const std::string kStartup = "/Library/StartupItems/ORVIKTandroNetFilter";
const std::string kTitle = "ORVIK Tandro Riravor Software Uninstall";
const std::string kQuestion = "Are you sure you want to completely remove ORVIK Tandro Riravor "
                              "Software and all of its components?";
const std::string kCompleted = "Uninstall completed successfully.";
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
void PrepareMachine(TestUser* user) {
    ASSERT_EQ(RunAndWait(Command({"/usr/sbin/useradd", "--create-home", kUser})), 0);
    ASSERT_EQ(RunAndWait(Command({"/bin/sh", "-c",
                                  "echo '" + kUser + ":" + kPassword + "' | /usr/sbin/chpasswd"})),
              0);
    WriteFile("/etc/sudoers.d/orvik-e2e", kUser + " ALL=(root) ALL\n", 0440);
    const passwd* entry = getpwnam(kUser.c_str());
    ASSERT_NE(entry, nullptr);
    *user = {entry->pw_uid, entry->pw_gid, entry->pw_dir};
    const std::string runtime = "/run/user/" + std::to_string(user->uid);
    MakeDirs(runtime);
    ASSERT_EQ(chown(runtime.c_str(), user->uid, user->gid), 0);
    ASSERT_EQ(chmod(runtime.c_str(), 0700), 0);
    InstallUninstaller(kApp + "/Uninstall Tools");
    MakeDirs(kApp + "/Helpers");
    WriteFile(kApp + "/Helpers/helper.txt", "h");
    MakeDirs(kStartup);
}

RunOptions AsTestUser(const TestUser& user, std::vector<std::string> argv) {
    RunOptions options = Command(std::move(argv));
    options.uid = user.uid;
    options.gid = user.gid;
    options.workingDirectory = user.home;
    options.env = {
        "PATH=/usr/bin:/bin", "HOME=" + user.home, "USER=" + kUser, "LOGNAME=" + kUser, "LANG=C",
        "LANGUAGE=en"};
    return options;
}

// ---- a system bus with polkitd ------------------------------------------------------------------

// Waits (at most 30 s) until `name` has an owner, giving up when its taker has ended.
bool WaitForName(const std::string& name, pid_t taker) {
    for (int i = 0; i < 600 && ProcessAlive(taker); ++i, usleep(50000)) {
        std::string reply;
        if (RunAndWait(Command({"/usr/bin/dbus-send", "--system", "--print-reply",
                                "--dest=org.freedesktop.DBus", "/",
                                "org.freedesktop.DBus.NameHasOwner", "string:" + name}),
                       &reply) == 0 &&
            reply.find("boolean true") != std::string::npos)
            return true;
    }
    return false;
}

// dbus-daemon --system and polkitd, detached, with a rule that answers every request of the
// test user for pkexec's action without asking: yes when `allow`, no otherwise.
class PolkitAuthority {
public:
    explicit PolkitAuthority(bool allow) {
        MakeDirs("/etc/polkit-1/rules.d");
        WriteFile("/etc/polkit-1/rules.d/10-orvik-e2e.rules",
                  "polkit.addRule(function(action, subject) {\n"
                  "    if (subject.user == \"" +
                      kUser + "\" && action.id == \"org.freedesktop.policykit.exec\")\n" +
                      "        return polkit.Result." + (allow ? "YES" : "NO") + ";\n});\n");
        MakeDirs("/run/dbus");
        unlink("/run/dbus/system_bus_socket");
        m_bus = StartDetached(
            Command({"/usr/bin/dbus-daemon", "--system", "--nofork", "--nopidfile", "--nosyslog"}));
        if (!WaitForName("org.freedesktop.DBus", m_bus))
            return;
        m_polkit = StartDetached(Command({kPolkitd, "--no-debug"}));
        started = WaitForName("org.freedesktop.PolicyKit1", m_polkit);
    }
    ~PolkitAuthority() {
        for (pid_t pid : {m_polkit, m_bus})
            if (pid > 0 && kill(pid, SIGTERM) == 0 &&
                !PollUntil(10, [&] { return !ProcessAlive(pid); }))
                kill(pid, SIGKILL);
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
void WaitForAlert(const TestUser& user, const std::string& message, XWindow* window) {
    const std::optional<XWindow> found = WaitForWindow(kTitle, 60);
    ASSERT_TRUE(found.has_value()) << "no dialog showing \"" << message << "\"";
    ASSERT_NE(found->command.find(message), std::string::npos) << found->command;
    EXPECT_EQ(found->uid, user.uid) << "a dialog runs as another user";
    *window = *found;
}

// The confirmation shows [No] [Yes], "No" focused: the button to its right says yes.
void Confirm(const TestUser& user) {
    XWindow confirmation;
    ASSERT_NO_FATAL_FAILURE(WaitForAlert(user, kQuestion, &confirmation));
    ASSERT_TRUE(Answer(confirmation, "Right space"));
    ASSERT_TRUE(WaitForWindowGone(confirmation, 10));
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
    E2E_SKIP_WITHOUT("/usr/bin/pkexec", "/usr/bin/Xvfb", "/usr/bin/xdotool", "/usr/bin/xauth",
                     "/usr/bin/mcookie", "/usr/bin/zenity", "/usr/sbin/useradd",
                     "/usr/sbin/chpasswd", "/usr/bin/dbus-daemon", "/usr/bin/dbus-send", kPolkitd);
    RunInIsolatedRoot([] {
        TestUser user;
        ASSERT_NO_FATAL_FAILURE(PrepareMachine(&user));
        const XServer x(73, user.uid, user.gid);
        ASSERT_TRUE(x.Started());
        const std::string before = Tree({"/Applications", "/Library"});
        SyslogCapture log;
        {
            const PolkitAuthority polkit(false);
            ASSERT_TRUE(polkit.started);
            std::future<int> status = StartFromDesktop(user);
            ASSERT_NO_FATAL_FAILURE(Confirm(user));
            XWindow refused;
            ASSERT_NO_FATAL_FAILURE(WaitForAlert(
                user, "Pre-authorization failed. You must be a valid administrator to continue.",
                &refused));
            // A modal alert holds the caller: it ends only once the alert is answered.
            EXPECT_EQ(status.wait_for(std::chrono::milliseconds(200)), std::future_status::timeout);
            ASSERT_TRUE(Answer(refused, "Return"));
            ASSERT_EQ(status.wait_for(std::chrono::seconds(60)), std::future_status::ready);
            EXPECT_EQ(status.get(), 1);
            std::vector<std::string> texts; // sudo and polkit log too
            for (const LogLine& line : log.Lines())
                if (line.ident == "orvik-uninstaller")
                    texts.push_back(line.text);
            EXPECT_EQ(texts,
                      std::vector<std::string>{"ORVIK Tandro Riravor Software Uninstall begin\n"});
            EXPECT_EQ(Tree({"/Applications", "/Library"}), before);
            EXPECT_TRUE(WaitUntilNoProcessMatches("-reallyuninstall", 1));
        }

        const PolkitAuthority polkit(true);
        ASSERT_TRUE(polkit.started);
        std::future<int> status = StartFromDesktop(user);
        ASSERT_NO_FATAL_FAILURE(Confirm(user));
        XWindow completed;
        ASSERT_NO_FATAL_FAILURE(WaitForAlert(user, kCompleted, &completed));
        ASSERT_EQ(status.wait_for(std::chrono::seconds(10)), std::future_status::ready)
            << "the caller ends once the copy has started";
        EXPECT_EQ(status.get(), 0);
        const std::string stat = ProcFile(completed.pid, "stat");
        const pid_t copy = atoi(stat.c_str() + stat.rfind(')') + 4);
        EXPECT_EQ(ProcFile(copy, "cmdline"), kProgram + '\0' + "-reallyuninstall" + '\0');
        EXPECT_EQ(std::filesystem::read_symlink("/proc/" + std::to_string(copy) + "/cwd").string(),
                  "/");
        EXPECT_NE(ProcFile(copy, "status").find("\nUid:\t0\t0\t"), std::string::npos);
        EXPECT_TRUE(log.WaitForText(kCompleted + "\n", 10));
        EXPECT_FALSE(Exists(kApp + "/Helpers"));
        EXPECT_FALSE(Exists(kStartup));
        EXPECT_TRUE(Exists(kApp));
        ASSERT_TRUE(Answer(completed, "Return"));
        EXPECT_TRUE(WaitUntilNoProcessMatches("-reallyuninstall", 60));
        EXPECT_FALSE(Exists(kApp));
    });
}

// On a terminal without a display sudo asks for the password there. Typed at a shell that
// stays, the caller ends at once and the root copy shows its completion on that terminal.
TEST(ElevationEndToEnd, SudoOnATerminal) {
    E2E_SKIP_WITHOUT("/usr/bin/sudo", "/usr/sbin/useradd", "/usr/sbin/chpasswd");
    RunInIsolatedRoot([] {
        TestUser user;
        ASSERT_NO_FATAL_FAILURE(PrepareMachine(&user));
        SyslogCapture log;
        Child run(AsTestUser(user, {"/bin/sh", "-c", "\"$0\"; echo \"ended with $?\"; read -r line",
                                    kProgram}),
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
        EXPECT_TRUE(WaitUntilNoProcessMatches("-reallyuninstall", 60));
        EXPECT_TRUE(log.WaitForText(kCompleted + "\n", 10));
        EXPECT_FALSE(Exists(kApp));
        EXPECT_FALSE(Exists(kStartup));
    });
}

} // namespace
