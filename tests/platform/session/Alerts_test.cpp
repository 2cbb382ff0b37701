// Standard alerts: the parameters that reach the backend, and the terminal
// prompt (which answers choose which button; end of input is no answer).
#include "platform/Alerts.h"

#include <fcntl.h>
#include <pty.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

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

std::vector<std::string> Buttons(const AlertRequest& request) {
    return {request.buttons[0], request.buttons[1], request.buttons[2]};
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
    // kAlertDefaultOKText: the platform's wording.
    EXPECT_EQ(Buttons(seen), (std::vector<std::string>{"OK", "Stop", "Later"}));
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
    EXPECT_EQ(StandardAlert(kAlertStopAlert, title, message, &pascal, &hit),
              kOrvikAlertNotShownErr);
    EXPECT_EQ(hit, 0);
    EXPECT_EQ(seen.title, "Alert");
    EXPECT_EQ(seen.message, "Café");
    EXPECT_EQ(Buttons(seen), (std::vector<std::string>{"OK", "", ""}));
    pascal.otherText = reinterpret_cast<ConstStringPtr>(-1); // the platform's wording
    EXPECT_EQ(StandardAlert(kAlertStopAlert, title, message, &pascal, &hit), noErr);
    EXPECT_EQ(hit, 3);
    EXPECT_EQ(Buttons(seen), (std::vector<std::string>{"OK", "", "Don't Save"}));

    orvik::alerts::SetBackend([](const AlertRequest&, DialogItemIndex* item) {
        *item = 0;
        return OSStatus{kOrvikAlertNotShownErr};
    });
    hit = -1;
    EXPECT_EQ(StandardAlert(kAlertStopAlert, title, message, nullptr, &hit),
              kOrvikAlertNotShownErr);
    EXPECT_EQ(hit, 0);
    orvik::alerts::SetBackend(nullptr);

    EXPECT_EQ(RunStandardAlert(nullptr, nullptr, &item), paramErr);
    EXPECT_EQ(CreateStandardAlert(kAlertNoteAlert, nullptr, nullptr, nullptr, nullptr), paramErr);
    EXPECT_EQ(GetStandardAlertDefaultParams(&params, 2), paramErr);
}

} // namespace
