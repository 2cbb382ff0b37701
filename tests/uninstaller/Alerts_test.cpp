// The alerts' parameters and texts, through a replaced alert backend.
#include "UninstallTestSupport.h"
#include "platform/Alerts.h"

namespace {

class AlertsTest : public ::testing::Test {
protected:
    void SetUp() override {
        orvik::alerts::SetBackend([this](const orvik::alerts::AlertRequest& request,
                                         DialogItemIndex* itemHit) -> OSStatus {
            m_requests.push_back(request);
            if (m_status == noErr)
                *itemHit = m_answer;
            return m_status;
        });
        setenv("LANGUAGE", "en", 1);
    }
    void TearDown() override { orvik::alerts::SetBackend(nullptr); }

    std::vector<orvik::alerts::AlertRequest> m_requests;
    DialogItemIndex m_answer = 1;
    OSStatus m_status = noErr;
};

TEST_F(AlertsTest, ConfirmationIsYesOnlyAndReturnDeclines) {
    for (DialogItemIndex answer : {1, 2}) {
        m_answer = answer;
        EXPECT_EQ(UninstallWarning(), answer == 1) << "item " << answer;
    }
    m_status = kOrvikAlertNotShownErr; // an alert that cannot be shown is no "Yes"
    EXPECT_FALSE(UninstallWarning());
    ASSERT_EQ(m_requests.size(), 3u);
    const orvik::alerts::AlertRequest& request = m_requests[0];
    EXPECT_EQ(request.type, kAlertCautionAlert);
    EXPECT_EQ(request.title, "ORVIK Tandro Riravor Software Uninstall");
    EXPECT_EQ(request.message, "Are you sure you want to completely remove ORVIK Tandro "
                               "Riravor Software and all of its components?");
    EXPECT_EQ(request.buttons[0], "Yes");
    EXPECT_EQ(request.buttons[1], "No");
    EXPECT_EQ(request.buttons[2], "");
    EXPECT_EQ(request.defaultItem, 2);
    EXPECT_EQ(request.cancelItem, 1);
}

TEST_F(AlertsTest, MessageHasOneOkButton) {
    GiveAlert(CAtlString(u"Done. \u00e9"));
    ASSERT_EQ(m_requests.size(), 1u);
    const orvik::alerts::AlertRequest& request = m_requests[0];
    EXPECT_EQ(request.type, kAlertStopAlert);
    EXPECT_EQ(request.title, "ORVIK Tandro Riravor Software Uninstall");
    EXPECT_EQ(request.message, "Done. \xc3\xa9");
    EXPECT_FALSE(request.buttons[0].empty()) << "the platform's own OK text";
    EXPECT_EQ(request.buttons[1], "");
    EXPECT_EQ(request.defaultItem, 1);
    EXPECT_EQ(request.cancelItem, 0);
}

} // namespace
