// The platform's alerts on the real dialog tools: a screenless X server in the isolated root,
// root asking on behalf of a user, the dialog found by its title, checked for what it was
// asked to show and for whom it runs, and answered by a key, a click or a close.
#include "IsolatedRoot.h"
#include "XDisplay.h"

#include "platform/Alerts.h"

#include <gtest/gtest.h>

#include <array>
#include <fcntl.h>
#include <functional>
#include <optional>
#include <pwd.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace e2e;
using orvik::alerts::DialogTools;

namespace {

const std::string kZenity = "/usr/bin/zenity", kKdialog = "/usr/bin/kdialog";
const std::string kAbsent = "/nonexistent/dialog-tool";

using Buttons = std::array<const char*, 3>;
constexpr Buttons kDone = {"Done", nullptr, nullptr}, kDeleteKeep = {"Delete", "Keep", nullptr};
constexpr Buttons kOkCancelLater = {"OK", "Cancel", "Later"};
constexpr Buttons kYesNoCancel = {"Yes", "No", "Cancel"};
// The uninstall confirmation: "Yes" item 1 and its cancel button, "No" item 2 and the default.
constexpr Buttons kYesNo = {"Yes", "No", nullptr};

struct Row {
    AlertType kind;
    Buttons buttons; // item 1, 2, 3; null: no button there
    int defaultItem, cancelItem;
    const char* answer; // "Return", "Escape", "close" or "click N" (from the left); null: none
    int expected;       // the item; 0: the alert is not shown at all
    const char* shown;  // in the tool's arguments, joined by "\n"
};

std::string Why(const std::string& tool) {
    for (const std::string& program :
         {std::string("/usr/bin/Xvfb"), std::string("/usr/bin/xdotool"), tool})
        if (access(program.c_str(), X_OK) != 0)
            return program + " is not installed (./dev.sh installs it)";
    return IsolatedRootUnavailableReason();
}

#define SKIP_WITHOUT(tool)                                                                         \
    do {                                                                                           \
        if (const std::string reason = Why(tool); !reason.empty())                                 \
            GTEST_SKIP() << reason;                                                                \
    } while (0)

// The user who asked for the uninstall; root shows its dialogs as this user.
struct User {
    uid_t uid = 0;
    gid_t gid = 0;
    std::string home;
};

User AddUser() {
    EXPECT_EQ(RunAndWait(Command({"/usr/sbin/useradd", "-m", "orvik-asker"})), 0);
    const passwd* entry = getpwnam("orvik-asker");
    return entry != nullptr ? User{entry->pw_uid, entry->pw_gid, entry->pw_dir} : User{};
}

CFStringRef Text(const char* text) {
    return text == nullptr ? nullptr
                           : CFStringCreateWithCString(nullptr, text, kCFStringEncodingUTF8);
}

// Shows the alert in a child of its own session, so there is no controlling terminal to fall
// back on, with the null device as standard output, where no notice counts as read. The exit
// status carries the result: the item, plus 10 when the status is not noErr.
pid_t StartAlert(const Row& row, const std::string& title, const DialogTools& tools) {
    const pid_t pid = fork();
    if (pid != 0)
        return pid;
    setsid();
    dup2(open("/dev/null", O_WRONLY | O_CLOEXEC), 1);
    orvik::alerts::SetDialogTools(tools);
    AlertStdCFStringAlertParamRec params{};
    GetStandardAlertDefaultParams(&params, kStdCFStringAlertVersionOne);
    params.defaultText = Text(row.buttons[0]);
    params.cancelText = Text(row.buttons[1]);
    params.otherText = Text(row.buttons[2]);
    params.defaultButton = (SInt16)row.defaultItem;
    params.cancelButton = (SInt16)row.cancelItem;
    DialogRef alert = nullptr;
    DialogItemIndex item = 0;
    OSStatus status = CreateStandardAlert(row.kind, Text(title.c_str()), Text("Remove everything?"),
                                          &params, &alert);
    if (status == noErr)
        status = RunStandardAlert(alert, nullptr, &item);
    _exit(item + (status == noErr ? 0 : 10));
}

// The child's exit status; -1 when it did not end in time (it is killed with its dialog).
int AlertResult(pid_t pid, int seconds) {
    int status = 0;
    for (int waited = 0; waited < seconds * 50; ++waited) {
        if (waitpid(pid, &status, WNOHANG) == pid)
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        usleep(20000);
    }
    kill(-pid, SIGKILL);
    waitpid(pid, &status, 0);
    return -1;
}

std::string Joined(const std::vector<std::string>& words) {
    std::string out;
    for (const std::string& word : words)
        out += word + "\n";
    return out;
}

bool Answer(const XServer& x, const XWindow& window, const std::string& answer) {
    if (answer == "close")
        return CloseWindow(x, window);
    if (answer.rfind("click ", 0) == 0)
        return ClickButton(x, window, std::stoi(answer.substr(6)));
    return PressKey(x, window, answer);
}

// Each row: the dialog appears as `user`, runs `tool` with the texts of the alert, and the
// answer gives the row's item; a row the tool cannot show faithfully shows nothing.
void RunRows(const XServer& x, const User& user, const DialogTools& tools, const std::string& tool,
             const std::vector<Row>& rows) {
    for (size_t i = 0; i < rows.size(); ++i) {
        const Row& row = rows[i];
        const std::string title = "Uninstall, row " + std::to_string(i);
        SCOPED_TRACE(title + ": " + (row.answer ? row.answer : "not shown"));
        const pid_t child = StartAlert(row, title, tools);
        if (row.answer != nullptr) {
            const std::optional<XWindow> window = WaitForWindow(x, title, 10);
            if (window) {
                EXPECT_EQ(window->uid, user.uid);
                const std::string command = Joined(window->command);
                EXPECT_EQ(window->command.empty() ? "" : window->command[0], tool);
                EXPECT_NE(command.find(row.shown), std::string::npos) << command;
                EXPECT_NE(command.find("Remove everything?"), std::string::npos) << command;
                EXPECT_TRUE(Answer(x, *window, row.answer));
                EXPECT_TRUE(WaitForWindowGone(x, *window, 5));
            } else {
                ADD_FAILURE() << "no dialog appeared";
            }
        }
        const int result = AlertResult(child, 10);
        EXPECT_EQ(result, row.expected == 0 ? 10 : row.expected)
            << "status " << (result >= 10 ? "non-zero" : "noErr") << ", item " << result % 10;
    }
}

// Runs body in an isolated root where root acts for a new user, with a display only that user
// (and root) can reach.
void InDialogSession(int display,
                     const std::function<void(const XServer&, const User& user)>& body) {
    RunInIsolatedRoot([&] {
        const User user = AddUser();
        ASSERT_NE(user.uid, 0u) << "no user to show the dialogs as";
        XServer x(display, user.uid, user.gid);
        ASSERT_TRUE(x.Started());
        setenv("DISPLAY", x.Display().c_str(), 1);
        setenv("XAUTHORITY", x.AuthorityFile().c_str(), 1);
        setenv("PKEXEC_UID", std::to_string(user.uid).c_str(), 1);
        unsetenv("SUDO_UID");
        unsetenv("WAYLAND_DISPLAY");
        body(x, user);
    });
}

TEST(AlertsEndToEnd, Zenity) {
    SKIP_WITHOUT(kZenity);
    InDialogSession(93, [](const XServer& x, const User& user) {
        const char* question = "--question\n";
        RunRows(x, user, {kZenity, kAbsent}, kZenity,
                {
                    {kAlertNoteAlert, kDone, 1, 0, "Return", 1, "--info\n"},
                    {kAlertStopAlert, kDone, 1, 0, "Escape", 1, "--error\n"},
                    {kAlertCautionAlert, kDone, 1, 0, "close", 1, "--warning\n"},
                    {kAlertPlainAlert, kDone, 1, 0, "click 1", 1, "--ok-label=Done\n"},
                    // On screen [No] [Yes]: Return, Escape and close all say "No".
                    {kAlertCautionAlert, kYesNo, 2, 1, "Return", 2, "--default-cancel\n"},
                    {kAlertCautionAlert, kYesNo, 2, 1, "Escape", 2, "--cancel-label=No\n"},
                    {kAlertCautionAlert, kYesNo, 2, 1, "close", 2, "--ok-label=Yes\n"},
                    {kAlertCautionAlert, kYesNo, 2, 1, "click 2", 1, question},
                    {kAlertCautionAlert, kYesNo, 2, 1, "click 1", 2, question},
                    {kAlertStopAlert, kYesNo, 1, 2, "Return", 1, question},
                    // On screen [Later] [Cancel] [OK].
                    {kAlertNoteAlert, kOkCancelLater, 1, 2, "click 1", 3, "--extra-button=Later\n"},
                    {kAlertNoteAlert, kOkCancelLater, 1, 2, "click 2", 2, question},
                    {kAlertNoteAlert, kOkCancelLater, 1, 2, "click 3", 1, question},
                    {kAlertNoteAlert, kOkCancelLater, 1, 2, "Escape", 2, question},
                    // Return on the third button, or Escape anywhere but the second: not for
                    // zenity, and with no other tool and no terminal, not shown at all.
                    {kAlertCautionAlert, kYesNoCancel, 3, 2, nullptr, 0, ""},
                    {kAlertNoteAlert, kOkCancelLater, 1, 3, nullptr, 0, ""},
                });
    });
}

TEST(AlertsEndToEnd, Kdialog) {
    SKIP_WITHOUT(kKdialog);
    InDialogSession(94, [](const XServer& x, const User& user) {
        const char* yesNoCancel = "--yesnocancel\n";
        RunRows(
            x, user, {kAbsent, kKdialog}, kKdialog,
            {
                {kAlertStopAlert, kDone, 1, 0, "Return", 1, "--error\n"},
                {kAlertCautionAlert, kDone, 1, 0, "Escape", 1, "--sorry\n"},
                {kAlertNoteAlert, kDone, 1, 0, "close", 1, "--msgbox\n"},
                {kAlertPlainAlert, kDone, 1, 0, "click 1", 1, "--ok-label\nDone\n"},
                // On screen [Delete] [Keep].
                {kAlertCautionAlert, kDeleteKeep, 1, 2, "Return", 1, "--warningyesno\n"},
                {kAlertCautionAlert, kDeleteKeep, 1, 2, "Escape", 2,
                 "--yes-label\nDelete\n--no-label\nKeep\n"},
                {kAlertNoteAlert, kDeleteKeep, 1, 2, "close", 2, "--yesno\n"},
                {kAlertNoteAlert, kDeleteKeep, 1, 2, "click 2", 2, "--yesno\n"},
                // On screen [OK] [Cancel] [Later], the Escape item third.
                {kAlertNoteAlert, kOkCancelLater, 1, 3, "click 1", 1, yesNoCancel},
                {kAlertNoteAlert, kOkCancelLater, 1, 3, "click 2", 2, "--no-label\nCancel\n"},
                {kAlertNoteAlert, kOkCancelLater, 1, 3, "click 3", 3, "--cancel-label\nLater\n"},
                {kAlertNoteAlert, kOkCancelLater, 1, 3, "Return", 1, yesNoCancel},
                {kAlertNoteAlert, kOkCancelLater, 1, 3, "Escape", 3, yesNoCancel},
                {kAlertStopAlert, kOkCancelLater, 1, 3, "close", 3, "--warningyesnocancel\n"},
                // Return would say "Yes" to the uninstall confirmation: never on kdialog.
                {kAlertCautionAlert, kYesNo, 2, 1, nullptr, 0, ""},
                {kAlertCautionAlert, kYesNoCancel, 3, 2, nullptr, 0, ""},
            });
    });
}

// A display that names no server is no answer: the uninstaller asks on its terminal instead.
TEST(AlertsEndToEnd, UnreachableDisplayFallsBackToTheTerminal) {
    SKIP_WITHOUT(kZenity);
#ifndef ORVIK_UNINSTALLER_PATH
    GTEST_SKIP() << "orvik-uninstaller is not part of this build";
#else
    RunInIsolatedRoot([] {
        const User user = AddUser();
        const std::string app = "/Applications/ORVIK Tandro Riravor";
        MakeDirs(app);
        WriteFile(app + "/Read Me.txt", "r");
        RunOptions options = Command({ORVIK_UNINSTALLER_PATH});
        options.uid = user.uid;
        options.gid = user.gid;
        options.env = {"PATH=/usr/bin:/bin", "HOME=" + user.home, "LANG=C", "LANGUAGE=en",
                       "DISPLAY=:99"};
        PtySession run(options);
        ASSERT_TRUE(run.WaitForOutput("(default)\n> ", 30)) << run.Output();
        EXPECT_NE(run.Output().find("[2] No (default)"), std::string::npos) << run.Output();
        run.Send("\r");
        EXPECT_EQ(run.Wait(30), 1) << run.Output();
        EXPECT_TRUE(Exists(app + "/Read Me.txt"));
    });
#endif
}

} // namespace
