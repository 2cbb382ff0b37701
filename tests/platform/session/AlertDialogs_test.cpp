// The graphical backends: which dialog tool shows an alert (only one that can
// show it as asked: buttons in place, Return on the default, Escape on the cancel
// button), what its answer means, and whom root shows it as.
#include <fstream>
#include <string>

#include "platform/session/AlertBackends.h"
#include "tests/TestSupport.h"

namespace {

using orvik::alerts::AlertRequest;

AlertRequest Shaped(int buttons, int defaultItem, int cancelItem, AlertType type) {
    AlertRequest request;
    request.type = type;
    request.title = "Product Uninstall";
    request.message = "Remove everything?";
    request.buttons[0] = "Yes";
    request.buttons[1] = buttons > 1 ? "No" : "";
    request.buttons[2] = buttons == 3 ? "Later" : "";
    request.defaultItem = defaultItem;
    request.cancelItem = cancelItem;
    return request;
}

// The uninstall confirmation: Return and Escape both mean "No".
const AlertRequest kConfirmation = Shaped(2, 2, 1, kAlertCautionAlert);

// Stand-ins for zenity and kdialog: each records its arguments and user and
// answers as its row says. Which tool shows an alert, and what its answer
// means, is decided here; the real tools are driven in the end-to-end tests.
class GraphicalDialogTest : public testsupport::TempFolderTest {
protected:
    void SetUp() override {
        TempFolderTest::SetUp();
        ASSERT_EQ(chmod(root_.c_str(), 0777), 0);
        orvik::alerts::DialogTools tools;
        tools.zenity = StandIn("zenity");
        tools.kdialog = StandIn("kdialog");
        previous_ = orvik::alerts::SetDialogTools(tools);
        setenv("DISPLAY", ":0", 1);
    }
    void TearDown() override {
        orvik::alerts::SetDialogTools(previous_);
        unsetenv("PKEXEC_UID");
        unsetenv("DISPLAY");
        TempFolderTest::TearDown();
    }
    std::string StandIn(const std::string& name) {
        const std::string tool = root_ + "/" + name;
        std::ofstream(tool) << "#!/bin/sh\nprintf '%s\\n' \"$@\" > " << root_ << "/" << name
                            << ".args\nid -u > " << root_ << "/uid\n. " << root_ << "/" << name
                            << ".answer\n";
        EXPECT_EQ(chmod(tool.c_str(), 0755), 0);
        return tool;
    }
    std::string Read(const std::string& name) { return testsupport::ReadFile(Path(name)); }
    orvik::alerts::DialogTools previous_;
};

TEST_F(GraphicalDialogTest, TheFirstToolThatShowsTheAlertFaithfullyAnswers) {
    if (geteuid() == 0)
        setenv("PKEXEC_UID", "65534", 1);
    const char* noDisplay = "echo 'Gtk-WARNING: cannot open display: :0' >&2; exit 1";
    struct Row {
        AlertRequest request;
        const char* zenity; // the stand-in's answer
        const char* kdialog;
        DialogItemIndex expected;
        const char* zenityArgs; // in the arguments of the tool that ran; null: it did not run
        const char* kdialogArgs;
    } rows[] = {
        // The uninstall confirmation: Return and Escape both mean "No" (item 2).
        {kConfirmation, "exit 0", "", 1,
         "--question\n--default-cancel\n--cancel-label=No\n--title=Product Uninstall\n"
         "--text=<b>Product Uninstall</b>\n\nRemove everything?\n--icon-name=dialog-warning\n"
         "--ok-label=Yes\n",
         nullptr},
        {kConfirmation, "exit 1", "", 2, "--question", nullptr},
        // A dialog tool that ended abnormally showed nothing: no answer (kdialog
        // cannot put Return on "No").
        {kConfirmation, "kill -SEGV $$", "exit 0", 0, "--question", nullptr},
        // Yes, No, Cancel with the default on the third button: neither tool can.
        {Shaped(3, 3, 2, kAlertCautionAlert), "exit 0", "exit 0", 0, nullptr, nullptr},
        {Shaped(3, 1, 2, kAlertNoteAlert), "echo Later; exit 1", "", 3, "--extra-button=Later",
         nullptr},
        // Escape on the third button: only kdialog has it there.
        {Shaped(3, 1, 3, kAlertNoteAlert), "exit 0", "exit 2", 3, nullptr,
         "--yesnocancel\nProduct Uninstall\n\nRemove everything?\n--yes-label\nYes\n"
         "--no-label\nNo\n--cancel-label\nLater\n"},
        {Shaped(2, 1, 2, kAlertStopAlert), noDisplay, "exit 2", 2, "--question", "--warningyesno"},
        // A notice: any way of closing it is its one button.
        {Shaped(1, 1, 0, kAlertStopAlert), "exit 1", "", 1, "--error\n", nullptr},
    };
    for (size_t i = 0; i < std::size(rows); ++i) {
        const Row& row = rows[i];
        std::ofstream(root_ + "/zenity.answer") << row.zenity << "\n";
        std::ofstream(root_ + "/kdialog.answer") << row.kdialog << "\n";
        DialogItemIndex item = -1;
        const OSStatus status = orvik::alerts::RunGraphicalDialog(row.request, &item);
        EXPECT_EQ(item, row.expected) << "row " << i;
        EXPECT_EQ(status == noErr, row.expected != 0) << "row " << i;
        for (const auto& [tool, expected] :
             {std::pair{"zenity", row.zenityArgs}, std::pair{"kdialog", row.kdialogArgs}}) {
            const std::string args = Read(std::string(tool) + ".args");
            unlink(Path(std::string(tool) + ".args").c_str());
            if (expected == nullptr)
                EXPECT_EQ(args, "") << "row " << i << " ran " << tool;
            else
                EXPECT_NE(args.find(expected), std::string::npos) << "row " << i << ": " << args;
        }
    }
    // Root shows it as the user who asked for root.
    EXPECT_EQ(Read("uid"), std::to_string(geteuid() == 0 ? 65534 : geteuid()) + "\n");
}

// Root with no user who asked for root has no one to show a dialog as.
TEST_F(GraphicalDialogTest, RootShowsNoDialogWithoutARequestingUser) {
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to switch users";
    std::ofstream(root_ + "/zenity.answer") << "exit 0\n";
    DialogItemIndex item = -1;
    unsetenv("PKEXEC_UID");
    unsetenv("SUDO_UID");
    EXPECT_NE(orvik::alerts::RunGraphicalDialog(kConfirmation, &item), noErr);
    EXPECT_EQ(item, 0);
    EXPECT_EQ(Read("uid"), "");
}

} // namespace
