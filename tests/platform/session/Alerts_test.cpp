// Standard alerts: what reaches the backend beyond what the callers' own tests
// show, and the terminal prompt (which answers choose which button; end of
// input is no answer).
#include "platform/Alerts.h"

#include <fcntl.h>
#include <pty.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>

namespace {

using orvik::alerts::AlertRequest;

AlertRequest Confirmation(int defaultItem = 2, const char* yes = "Yes", const char* no = "No") {
    AlertRequest request;
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
        {"\n", Confirmation(1), noErr, 1},                // Return takes the default
        {" 2 \n", Confirmation(1), noErr, 2},             // a number, blanks around it ignored
        {"3\nmaybe\n0\nYeS\n", Confirmation(), noErr, 1}, // no such button: asked again
        // A button's text, in any case.
        {"\u00C9CHEC\n", Confirmation(2, "\u00C4ndern", "\u00C9chec"), noErr, 2},
        {"maybe\n\x04", Confirmation(), kOrvikAlertNotShownErr, 0}, // end of input
        {"\n\x04", Confirmation(0), kOrvikAlertNotShownErr, 0},     // no default: no answer
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

// What the callers' own tests leave out: an answer the alert has no button for
// is no answer, and -1 stands for the platform's wording.
TEST(StandardAlerts, OnlyAButtonTheAlertHasAnswers) {
    AlertRequest seen;
    orvik::alerts::SetBackend([&](const AlertRequest& request, DialogItemIndex* item) {
        seen = request;
        *item = 3;
        return OSStatus{noErr};
    });
    AlertStdAlertParamRec pascal = {
        false, false, nullptr, nullptr, nullptr, reinterpret_cast<ConstStringPtr>(-1), 3, 0, 0};
    SInt16 hit = -1;
    EXPECT_EQ(StandardAlert(kAlertStopAlert, nullptr, nullptr, &pascal, &hit), noErr);
    EXPECT_EQ(hit, 3);
    EXPECT_EQ(seen.buttons[0] + "|" + seen.buttons[2], "|Don't Save");
    DialogRef alert = nullptr;
    ASSERT_EQ(CreateStandardAlert(kAlertStopAlert, nullptr, nullptr, nullptr, &alert), noErr);
    DialogItemIndex item = -1;
    EXPECT_EQ(RunStandardAlert(alert, nullptr, &item), kOrvikAlertNotShownErr);
    EXPECT_EQ(item, 0);
    EXPECT_EQ(seen.buttons[0] + "|" + seen.buttons[2], "OK|");
    orvik::alerts::SetBackend(nullptr);
    AlertStdCFStringAlertParamRec params;
    EXPECT_EQ(GetStandardAlertDefaultParams(&params, 2), paramErr);
    EXPECT_EQ(RunStandardAlert(nullptr, nullptr, &item), paramErr);
}

} // namespace
