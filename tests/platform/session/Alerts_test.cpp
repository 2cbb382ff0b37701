// Standard alerts: the parameters that reach the backend, the terminal prompt
// (which answers choose which button, end of input is no answer) and the whole
// route on a controlling terminal.
#include "platform/Alerts.h"

#include <fcntl.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>

namespace {

using orvik::alerts::AlertRequest;

AlertRequest Confirmation(int defaultItem = 2, const char* yes = "Yes", const char* no = "No") {
    AlertRequest request;
    request.type = kAlertCautionAlert;
    request.title = "Product Uninstall";
    request.message = "Remove everything?";
    request.buttons[0] = yes;
    request.buttons[1] = no;
    request.defaultItem = defaultItem;
    request.cancelItem = 1;
    return request;
}

TEST(TerminalPrompt, AnswersChooseByReturnNumberOrTextInAnyCase) {
    struct Row {
        std::string keys;
        AlertRequest request;
        OSStatus status;
        DialogItemIndex expected;
    } rows[] = {
        {"\n", Confirmation(2), noErr, 2}, // Return takes the default
        {"\n", Confirmation(1), noErr, 1},
        {"1\n", Confirmation(), noErr, 1},    // number
        {" 2 \n", Confirmation(1), noErr, 2}, // surrounding blanks ignored
        {"yes\n", Confirmation(), noErr, 1},  // text, any case
        {"NO\n", Confirmation(1), noErr, 2},
        {"3\nmaybe\n0\nYeS\n", Confirmation(), noErr, 1}, // no such button: asked again
        {"1\r\n", Confirmation(), noErr, 1},              // a carriage return is a blank
        {"\u00C9CHEC\n", Confirmation(2, "\u00C4ndern", "\u00C9chec"), noErr, 2},
        {"\u00E4ndern\n", Confirmation(2, "\u00C4ndern", "\u00C9chec"), noErr, 1},
        {"\x04", Confirmation(), kOrvikAlertNotShownErr, 0}, // end of input
        {"maybe\n\x04", Confirmation(), kOrvikAlertNotShownErr, 0},
        {"\n\x04", Confirmation(0), kOrvikAlertNotShownErr, 0}, // no default: no answer
        {"\n\x04", Confirmation(3), kOrvikAlertNotShownErr, 0}, // a default without a button
    };
    for (const Row& row : rows) {
        int master = -1, slave = -1;
        ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
        ASSERT_EQ(write(master, row.keys.data(), row.keys.size()), ssize_t(row.keys.size()));
        DialogItemIndex item = -1;
        EXPECT_EQ(orvik::alerts::RunTerminalPrompt(row.request, slave, &item), row.status)
            << row.keys;
        EXPECT_EQ(item, row.expected) << row.keys;
        close(slave);
        close(master);
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
    // Title, message and numbered buttons with the default marked, then the answer.
    std::string screen;
    EXPECT_EQ(RunAlertOnTerminal("\n", &screen), 2) << screen; // Return: the default, "Nein"
    EXPECT_NE(
        screen.find(
            "\r\nProduct Uninstall\r\nRemove everything?\r\n[1] Ja  [2] Nein (default)\r\n> "),
        std::string::npos)
        << screen;
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

} // namespace
