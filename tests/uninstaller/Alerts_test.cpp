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

// Only "Yes" confirms; an alert that cannot be shown is no "Yes". A message has one button.
// The texts, the buttons and the default items show in the end-to-end dialogs.
TEST_F(AlertsTest, ConfirmationIsYesOnlyAndAMessageHasOneButton) {
    for (DialogItemIndex answer : {1, 2}) {
        m_answer = answer;
        EXPECT_EQ(UninstallWarning(), answer == 1) << "item " << answer;
    }
    m_status = kOrvikAlertNotShownErr;
    EXPECT_FALSE(UninstallWarning());
    GiveAlert(CAtlString(u"Done. \u00e9"));
    ASSERT_EQ(m_requests.size(), 4u);
    const orvik::alerts::AlertRequest &ask = m_requests[0], &tell = m_requests[3];
    EXPECT_EQ(ask.type, kAlertCautionAlert);
    EXPECT_EQ(ask.cancelItem, 1);
    EXPECT_EQ(tell.type, kAlertStopAlert);
    EXPECT_EQ(tell.message, "Done. \xc3\xa9");
    EXPECT_EQ(tell.cancelItem, 0);
}

} // namespace
