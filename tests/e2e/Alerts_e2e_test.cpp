// The platform's alerts on the real dialog tools: a screenless X server in the isolated root,
// root asking on behalf of a user, the dialog found by its title, checked for what it was
// asked to show and for whom it runs, and answered by keys or a close. One row per
// way a tool places, chooses or reports a button.
#include "IsolatedRoot.h"
#include "XDisplay.h"

#include "platform/Alerts.h"

#include <gtest/gtest.h>

#include <array>
#include <fcntl.h>
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
// The uninstall confirmation: "Yes" item 1 and its cancel button, "No" item 2 and the default.
constexpr Buttons kYesNo = {"Yes", "No", nullptr};

struct Row {
    AlertType kind;
    Buttons buttons; // item 1, 2, 3; null: no button there
    int defaultItem, cancelItem;
    const char* answer; // keys from the focused default button, or "close"
    int expected;       // the item
    const char* shown;  // in the tool's arguments, joined by "\n"
};

CFStringRef Text(const char* text) {
    return text == nullptr ? nullptr
                           : CFStringCreateWithCString(nullptr, text, kCFStringEncodingUTF8);
}

// Shows the alert in a child of its own session, so there is no controlling terminal to fall
// back on, with the null device as standard output, where no notice counts as read.
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

// In an isolated root where root acts for a new user (PKEXEC_UID), on a display only that
// user (and root) can reach: each row's dialog appears as that user, runs `tool` with the
// texts of the alert, and the answer gives the row's item.
void RunRows(const std::string& tool, const std::vector<Row>& rows) {
    RunInIsolatedRoot([&] {
        Shell("useradd -m orvik-asker");
        const passwd* user = getpwnam("orvik-asker");
        ASSERT_NE(user, nullptr);
        const XServer x(user->pw_uid, user->pw_gid);
        ASSERT_TRUE(x.Started());
        setenv("PKEXEC_UID", std::to_string(user->pw_uid).c_str(), 1);
        const DialogTools tools =
            tool == kZenity ? DialogTools{kZenity, kAbsent} : DialogTools{kAbsent, kKdialog};
        for (size_t i = 0; i < rows.size(); ++i) {
            const Row& row = rows[i];
            const std::string title = "Uninstall, row " + std::to_string(i);
            SCOPED_TRACE(title + ": " + row.answer);
            const pid_t child = StartAlert(row, title, tools);
            const std::optional<XWindow> window = x.WaitForWindow(title, 10);
            EXPECT_TRUE(window) << "no dialog appeared";
            if (window) {
                EXPECT_EQ(window->uid, user->pw_uid);
                EXPECT_EQ(window->command.substr(0, tool.size() + 1), tool + "\n");
                EXPECT_NE(window->command.find(row.shown), std::string::npos) << window->command;
                EXPECT_NE(window->command.find("Remove everything?"), std::string::npos);
                EXPECT_TRUE(x.Answer(*window, row.answer));
                EXPECT_TRUE(x.WaitForWindowGone(*window, 5));
            }
            // The exit status carries the item, plus 10 when the status is not noErr.
            int status = 0;
            if (!PollUntil(10, [&] { return waitpid(child, &status, WNOHANG) == child; })) {
                kill(-child, SIGKILL);
                waitpid(child, &status, 0);
            }
            EXPECT_TRUE(WIFEXITED(status));
            EXPECT_EQ(WEXITSTATUS(status), row.expected)
                << "status " << (WEXITSTATUS(status) >= 10 ? "non-zero" : "noErr") << ", item "
                << WEXITSTATUS(status) % 10;
        }
    });
}

TEST(AlertsEndToEnd, Zenity) {
    E2E_SKIP_WITHOUT(E2E_X_TOOLS, "/usr/sbin/useradd", kZenity);
    RunRows(kZenity, {
                         {kAlertNoteAlert, kDone, 1, 0, "Escape", 1, "--info\n"},
                         {kAlertStopAlert, kDone, 1, 0, "close", 1, "--error\n"},
                         // On screen [No] [Yes]: Return, Escape and close all say "No".
                         {kAlertCautionAlert, kYesNo, 2, 1, "Return", 2, "--default-cancel\n"},
                         {kAlertCautionAlert, kYesNo, 2, 1, "Escape", 2, "--cancel-label=No\n"},
                         {kAlertCautionAlert, kYesNo, 2, 1, "Right space", 1, "--ok-label=Yes\n"},
                         {kAlertStopAlert, kYesNo, 1, 2, "Return", 1, "--icon-name=dialog-error\n"},
                         // On screen [Later] [Cancel] [OK].
                         {kAlertNoteAlert, kOkCancelLater, 1, 2, "Left Left space", 3,
                          "--extra-button=Later\n"},
                         {kAlertNoteAlert, kOkCancelLater, 1, 2, "close", 2, "--question\n"},
                     });
}

TEST(AlertsEndToEnd, Kdialog) {
    E2E_SKIP_WITHOUT(E2E_X_TOOLS, "/usr/sbin/useradd", kKdialog);
    RunRows(kKdialog,
            {
                {kAlertStopAlert, kDone, 1, 0, "Return", 1, "--error\n"},
                {kAlertCautionAlert, kDone, 1, 0, "Escape", 1, "--sorry\n"},
                {kAlertNoteAlert, kDone, 1, 0, "close", 1, "--msgbox\n"},
                // On screen [Delete] [Keep].
                {kAlertCautionAlert, kDeleteKeep, 1, 2, "Return", 1, "--warningyesno\n"},
                {kAlertNoteAlert, kDeleteKeep, 1, 2, "close", 2, "--yesno\n"},
                // On screen [OK] [Cancel] [Later], the Escape item third.
                {kAlertNoteAlert, kOkCancelLater, 1, 3, "Right space", 2, "--no-label\nCancel\n"},
                {kAlertNoteAlert, kOkCancelLater, 1, 3, "Escape", 3, "--yesnocancel\n"},
                {kAlertStopAlert, kOkCancelLater, 1, 3, "Right Right space", 3,
                 "--warningyesnocancel\n"},
            });
}

// A display that names no server is no answer: the uninstaller asks on its terminal instead.
TEST(AlertsEndToEnd, UnreachableDisplayFallsBackToTheTerminal) {
    E2E_SKIP_WITHOUT(kZenity);
    RunInIsolatedRoot([] {
        const std::string program = InstallUninstaller("/opt/orvik");
        Shell("mkdir -p '" + kApp + "' && echo r >'" + kApp + "/Read Me.txt'");
        Child run({.argv = {program},
                   .env = {"PATH=/usr/bin:/bin", "HOME=/nonexistent", "LANG=C", "LANGUAGE=en",
                           "DISPLAY=:99"},
                   .uid = 65534,
                   .gid = 65534},
                  true);
        ASSERT_TRUE(run.WaitForOutput("[1] Yes  [2] No (default)\n> ", 30)) << run.Output();
        run.Send("\r");
        EXPECT_EQ(run.Wait(30), 1) << run.Output();
        EXPECT_TRUE(Exists(kApp + "/Read Me.txt"));
    });
}

} // namespace
