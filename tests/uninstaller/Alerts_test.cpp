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
            if (m_status != noErr)
                return m_status;
            *itemHit = m_answer;
            return noErr;
        });
        setenv("LANGUAGE", "en", 1);
    }
    void TearDown() override { orvik::alerts::SetBackend(nullptr); }

    std::vector<orvik::alerts::AlertRequest> m_requests;
    DialogItemIndex m_answer = 1;
    OSStatus m_status = noErr;
};

TEST_F(AlertsTest, ConfirmationAsksWithNoAsDefault) {
    for (DialogItemIndex answer : {1, 2}) {
        m_requests.clear();
        m_answer = answer;
        EXPECT_EQ(UninstallWarning(), answer == 1) << "item " << answer;
        ASSERT_EQ(m_requests.size(), 1u);
        const orvik::alerts::AlertRequest& request = m_requests[0];
        EXPECT_EQ(request.type, kAlertCautionAlert);
        EXPECT_EQ(request.title, "ORVIK Tandro Riravor Software Uninstall");
        EXPECT_EQ(request.message, "Are you sure you want to completely remove ORVIK Tandro "
                                   "Riravor Software and all of its components?");
        EXPECT_EQ(request.buttons[0], "Yes");
        EXPECT_EQ(request.buttons[1], "No");
        EXPECT_EQ(request.buttons[2], "");
        EXPECT_EQ(request.defaultItem, 2) << "Return must decline";
        EXPECT_EQ(request.cancelItem, 1);
    }
    // An alert that cannot be shown never counts as "Yes".
    m_status = kOrvikAlertNotShownErr;
    EXPECT_FALSE(UninstallWarning());
}

TEST_F(AlertsTest, ConfirmationIsTranslated) {
    setenv("LANGUAGE", "de", 1);
    m_answer = 2;
    EXPECT_FALSE(UninstallWarning());
    setenv("LANGUAGE", "en", 1);
    ASSERT_EQ(m_requests.size(), 1u);
    EXPECT_EQ(m_requests[0].buttons[0], "Ja");
    EXPECT_EQ(m_requests[0].buttons[1], "Nein");
    EXPECT_EQ(m_requests[0].title, "ORVIK Tandro Riravor Software deinstallieren");
}

TEST_F(AlertsTest, MessageHasOneOkButton) {
    GiveAlert(CAtlString(u"Uninstall completed successfully. \u00e9"));
    ASSERT_EQ(m_requests.size(), 1u);
    const orvik::alerts::AlertRequest& request = m_requests[0];
    EXPECT_EQ(request.type, kAlertStopAlert);
    EXPECT_EQ(request.title, "ORVIK Tandro Riravor Software Uninstall");
    EXPECT_EQ(request.message, "Uninstall completed successfully. \xc3\xa9") << "shown unchanged";
    EXPECT_FALSE(request.buttons[0].empty()) << "the platform's own OK text";
    EXPECT_EQ(request.buttons[1], "");
    EXPECT_EQ(request.buttons[2], "");
    EXPECT_EQ(request.defaultItem, 1);
    EXPECT_EQ(request.cancelItem, 0);
    m_status = kOrvikAlertNotShownErr;
    GiveAlert(CAtlString(u"x")); // returns all the same
    EXPECT_EQ(m_requests.size(), 2u);
}

} // namespace
