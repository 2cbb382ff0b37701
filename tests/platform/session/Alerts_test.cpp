#include "platform/Alerts.h"

#include <gtest/gtest.h>

#include "tests/TestSupport.h"

#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <pty.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using orvik::alerts::AlertRequest;

AlertRequest Confirmation() {
    AlertRequest request;
    request.type = kAlertCautionAlert;
    request.title = "Product Uninstall";
    request.message = "Remove everything?";
    request.buttons[0] = "Yes";
    request.buttons[1] = "No";
    request.defaultItem = 2;
    request.cancelItem = 1;
    return request;
}

// A pseudo-terminal whose slave side the prompt talks to.
class Pty {
public:
    Pty() { EXPECT_EQ(openpty(&master_, &slave_, nullptr, nullptr, nullptr), 0); }
    ~Pty() {
        close(master_);
        close(slave_);
    }
    void Type(const std::string& keys) {
        EXPECT_EQ(write(master_, keys.data(), keys.size()), static_cast<ssize_t>(keys.size()));
    }
    // Everything the terminal has shown so far (prompt and echo).
    std::string Screen() {
        std::string text;
        const int flags = fcntl(master_, F_GETFL);
        fcntl(master_, F_SETFL, flags | O_NONBLOCK);
        char buffer[4096];
        ssize_t n;
        while ((n = read(master_, buffer, sizeof buffer)) > 0)
            text.append(buffer, static_cast<size_t>(n));
        fcntl(master_, F_SETFL, flags);
        return text;
    }
    int slave() const { return slave_; }
    int master() const { return master_; }

private:
    int master_ = -1, slave_ = -1;
};

TEST(TerminalPrompt, ShowsTitleMessageAndNumberedButtonsWithTheDefaultMarked) {
    Pty pty;
    pty.Type("\n");
    DialogItemIndex item = -1;
    ASSERT_EQ(orvik::alerts::RunTerminalPrompt(Confirmation(), pty.slave(), &item), noErr);
    const std::string screen = pty.Screen();
    EXPECT_NE(screen.find("Product Uninstall"), std::string::npos) << screen;
    EXPECT_NE(screen.find("Remove everything?"), std::string::npos) << screen;
    EXPECT_NE(screen.find("[1] Yes  [2] No (default)"), std::string::npos) << screen;
    EXPECT_LT(screen.find("Product Uninstall"), screen.find("Remove everything?"));
}

TEST(TerminalPrompt, AnswersChooseByReturnNumberOrTextInAnyCase) {
    struct Row {
        std::string keys;
        int defaultItem;
        DialogItemIndex expected;
    } rows[] = {
        {"\n", 2, 2},              // Return takes the default
        {"\n", 1, 1},              //
        {"1\n", 2, 1},             // number
        {" 2 \n", 1, 2},           // surrounding blanks ignored
        {"yes\n", 2, 1},           // text, any case
        {"NO\n", 1, 2},            //
        {"3\nmaybe\nYeS\n", 2, 1}, // no button 3, no such text: asked again
        {"1\r\n", 2, 1},           // a carriage return is a blank
    };
    for (const Row& row : rows) {
        Pty pty;
        pty.Type(row.keys);
        AlertRequest request = Confirmation();
        request.defaultItem = row.defaultItem;
        DialogItemIndex item = -1;
        EXPECT_EQ(orvik::alerts::RunTerminalPrompt(request, pty.slave(), &item), noErr)
            << "keys " << row.keys;
        EXPECT_EQ(item, row.expected) << "keys " << row.keys;
    }
}

TEST(TerminalPrompt, NonAsciiButtonTextsMatchIgnoringCase) {
    AlertRequest request = Confirmation();
    request.buttons[0] = "Ändern";
    request.buttons[1] = "Échec";
    for (const auto& [keys, expected] : {std::pair{"ÉCHEC\n", 2}, std::pair{"ändern\n", 1}}) {
        Pty pty;
        pty.Type(keys);
        DialogItemIndex item = 0;
        EXPECT_EQ(orvik::alerts::RunTerminalPrompt(request, pty.slave(), &item), noErr) << keys;
        EXPECT_EQ(item, expected) << keys;
    }
}

TEST(TerminalPrompt, EndOfInputFailsWithItemZero) {
    // The last row: a prompt without a default button does not take an empty line.
    for (const auto& [keys, defaultItem] :
         {std::pair{"\x04", 2}, std::pair{"maybe\n\x04", 2}, std::pair{"\n\x04", 0}}) {
        AlertRequest request = Confirmation();
        request.defaultItem = defaultItem;
        Pty pty;
        pty.Type(keys);
        DialogItemIndex item = -1;
        EXPECT_NE(orvik::alerts::RunTerminalPrompt(request, pty.slave(), &item), noErr) << keys;
        EXPECT_EQ(item, 0) << keys;
    }
}

// The whole route: a process whose controlling terminal is a pty runs a
// standard alert; its exit status reports the status and item.
int RunAlertOnTerminal(const std::string& keys, std::string* screen) {
    int master = -1;
    const pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
    if (pid == 0) {
        unsetenv("DISPLAY");
        unsetenv("WAYLAND_DISPLAY");
        orvik::alerts::SetBackend(nullptr);
        CFStringRef title = CFSTR("Product Uninstall");
        CFStringRef question = CFSTR("Remove everything?");
        CFStringRef yes = CFStringCreateWithCString(nullptr, "Ja", kCFStringEncodingUTF8);
        CFStringRef no = CFStringCreateWithCString(nullptr, "Nein", kCFStringEncodingUTF8);
        AlertStdCFStringAlertParamRec params = {kStdCFStringAlertVersionOne,
                                                false,
                                                false,
                                                yes,
                                                no,
                                                nullptr,
                                                kAlertStdAlertCancelButton,
                                                kAlertStdAlertOKButton,
                                                kWindowDefaultPosition,
                                                0};
        DialogRef alert = nullptr;
        if (CreateStandardAlert(kAlertCautionAlert, title, question, &params, &alert) != noErr)
            _exit(90);
        CFRelease(yes);
        CFRelease(no);
        DialogItemIndex item = -1;
        const OSStatus status = RunStandardAlert(alert, nullptr, &item);
        _exit(status == noErr ? item : 10 + item);
    }
    EXPECT_GT(pid, 0);
    EXPECT_EQ(write(master, keys.data(), keys.size()), static_cast<ssize_t>(keys.size()));
    char buffer[4096];
    ssize_t n;
    while ((n = read(master, buffer, sizeof buffer)) > 0) // EIO once the child is gone
        screen->append(buffer, static_cast<size_t>(n));
    close(master);
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(StandardAlerts, ConfirmationOnTheControllingTerminal) {
    std::string screen;
    EXPECT_EQ(RunAlertOnTerminal("\n", &screen), 2) << screen; // Return: the default, "Nein"
    EXPECT_NE(screen.find("[1] Ja  [2] Nein (default)"), std::string::npos) << screen;
    screen.clear();
    EXPECT_EQ(RunAlertOnTerminal("ja\n", &screen), 1) << screen;
    screen.clear();
    EXPECT_EQ(RunAlertOnTerminal("\x04", &screen), 10) << screen; // failure, item 0
}

TEST(StandardAlerts, ParametersReachTheBackendAndTheItemComesBack) {
    AlertRequest seen;
    orvik::alerts::SetBackend([&](const AlertRequest& request, DialogItemIndex* item) {
        seen = request;
        *item = 3;
        return OSStatus{noErr};
    });
    AlertStdCFStringAlertParamRec params;
    ASSERT_EQ(GetStandardAlertDefaultParams(&params, kStdCFStringAlertVersionOne), noErr);
    params.cancelText = CFSTR("Stop");
    params.otherText = CFSTR("Later");
    params.defaultButton = kAlertStdAlertOtherButton;
    params.cancelButton = kAlertStdAlertCancelButton;
    DialogRef alert = nullptr;
    ASSERT_EQ(CreateStandardAlert(kAlertNoteAlert, CFSTR("Title"), CFSTR("Text"), &params, &alert),
              noErr);
    DialogItemIndex item = 0;
    EXPECT_EQ(RunStandardAlert(alert, nullptr, &item), noErr);
    EXPECT_EQ(item, 3);
    EXPECT_EQ(seen.type, kAlertNoteAlert);
    EXPECT_EQ(seen.title, "Title");
    EXPECT_EQ(seen.message, "Text");
    EXPECT_EQ(seen.buttons[0], "OK"); // kAlertDefaultOKText: the platform's wording
    EXPECT_EQ(seen.buttons[1], "Stop");
    EXPECT_EQ(seen.buttons[2], "Later");
    EXPECT_EQ(seen.defaultItem, 3);
    EXPECT_EQ(seen.cancelItem, 2);

    // Pascal strings are Mac OS Roman; a button index the alert lacks is a failure.
    const unsigned char title[] = "\x05"
                                  "Alert";
    const unsigned char message[] = "\x04"
                                    "Caf\x8E";
    const unsigned char ok[] = "\x02"
                               "OK";
    AlertStdAlertParamRec pascal = {false, false, nullptr, ok, nullptr, nullptr, 1, 2, 0};
    SInt16 hit = -1;
    EXPECT_NE(StandardAlert(kAlertStopAlert, title, message, &pascal, &hit), noErr);
    EXPECT_EQ(hit, 0);
    EXPECT_EQ(seen.title, "Alert");
    EXPECT_EQ(seen.message, "Café");
    EXPECT_EQ(seen.buttons[0], "OK");
    EXPECT_EQ(seen.buttons[1], "");

    orvik::alerts::SetBackend([](const AlertRequest&, DialogItemIndex* item) {
        *item = 0;
        return OSStatus{kOrvikAlertNotShownErr};
    });
    hit = -1;
    EXPECT_NE(StandardAlert(kAlertStopAlert, title, message, nullptr, &hit), noErr);
    EXPECT_EQ(hit, 0);
    orvik::alerts::SetBackend(nullptr);

    EXPECT_EQ(RunStandardAlert(nullptr, nullptr, &item), paramErr);
    EXPECT_EQ(CreateStandardAlert(kAlertNoteAlert, nullptr, nullptr, nullptr, nullptr), paramErr);
}

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

AlertRequest Shaped(int buttons, int defaultItem, int cancelItem, AlertType type) {
    AlertRequest request = Confirmation();
    request.type = type;
    request.buttons[2] = buttons == 3 ? "Later" : "";
    if (buttons == 1)
        request.buttons[1].clear();
    request.defaultItem = defaultItem;
    request.cancelItem = cancelItem;
    return request;
}

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
        {Confirmation(), "exit 0", "", 1,
         "--question\n--default-cancel\n--cancel-label=No\n--title=Product Uninstall\n"
         "--text=<b>Product Uninstall</b>\n\nRemove everything?\n--icon-name=dialog-warning\n"
         "--ok-label=Yes\n",
         nullptr},
        {Confirmation(), "exit 1", "", 2, "--question", nullptr},
        // No dialog shown is no answer; kdialog cannot put Return on "No".
        {Confirmation(), noDisplay, "exit 0", 0, "--question", nullptr},
        {Confirmation(), "exit 5", "exit 0", 0, "--question", nullptr},
        {Confirmation(), "kill -SEGV $$", "exit 0", 0, "--question", nullptr},
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
        {Shaped(1, 1, 0, kAlertPlainAlert), "kill -ABRT $$", "exit 2", 1, "--info\n", "--msgbox"},
    };
    for (size_t i = 0; i < std::size(rows); ++i) {
        const Row& row = rows[i];
        std::ofstream(root_ + "/zenity.answer") << row.zenity << "\n";
        std::ofstream(root_ + "/kdialog.answer") << row.kdialog << "\n";
        unlink(Path("zenity.args").c_str());
        unlink(Path("kdialog.args").c_str());
        DialogItemIndex item = -1;
        const OSStatus status = orvik::alerts::RunGraphicalDialog(row.request, &item);
        EXPECT_EQ(item, row.expected) << "row " << i;
        EXPECT_EQ(status == noErr, row.expected != 0) << "row " << i;
        for (const auto& [tool, expected] :
             {std::pair{"zenity", row.zenityArgs}, std::pair{"kdialog", row.kdialogArgs}}) {
            const std::string args = Read(std::string(tool) + ".args");
            if (expected == nullptr)
                EXPECT_EQ(args, "") << "row " << i << " ran " << tool;
            else
                EXPECT_NE(args.find(expected), std::string::npos) << "row " << i << ": " << args;
        }
    }
}

TEST_F(GraphicalDialogTest, RootShowsTheDialogAsTheRequestingUserOrNotAtAll) {
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to switch users";
    std::ofstream(root_ + "/zenity.answer") << "exit 0\n";
    DialogItemIndex item = -1;
    unsetenv("PKEXEC_UID");
    unsetenv("SUDO_UID");
    EXPECT_NE(orvik::alerts::RunGraphicalDialog(Confirmation(), &item), noErr);
    EXPECT_EQ(item, 0);
    EXPECT_EQ(Read("uid"), "");

    setenv("PKEXEC_UID", "65534", 1);
    EXPECT_EQ(orvik::alerts::RunGraphicalDialog(Confirmation(), &item), noErr);
    EXPECT_EQ(item, 1);
    EXPECT_EQ(Read("uid"), "65534\n");
}

} // namespace
