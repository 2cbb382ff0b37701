#include "resources/MessageBox.h"

#include "platform/Alerts.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// Records the alert and presses the given item, or fails to show it.
struct AlertRecorder {
    explicit AlertRecorder(DialogItemIndex press, OSStatus status = 0) {
        orvik::alerts::SetBackend(
            [this, press, status](const orvik::alerts::AlertRequest& r, DialogItemIndex* item) {
                request = r;
                *item = status == 0 ? press : 0;
                return status;
            });
    }
    ~AlertRecorder() { orvik::alerts::SetBackend(nullptr); }
    std::string Shown() const {
        return std::to_string(request.type) + " " + request.title + ": " + request.message + " [" +
               request.buttons[0] + "|" + request.buttons[1] + "|" + request.buttons[2] + "] " +
               std::to_string(request.defaultItem) + "/" + std::to_string(request.cancelItem);
    }
    orvik::alerts::AlertRequest request;
};

// Bits 0-2 choose the buttons, 0x10/0x20/0x40 the icon, 0x100/0x200 the default button;
// every position of every set gives its own result, and other bits are ignored.
TEST(AfxMessageBox, ButtonsIconsAndDefaults) {
    const struct {
        UINT type;
        AlertType kind;
        const char* shown;
        int results[3];
    } rows[] = {
        {0x00, kAlertPlainAlert, "[OK||] 1/2", {IDOK, 0, 0}},
        {0x11, kAlertStopAlert, "[OK|Cancel|] 1/2", {IDOK, IDCANCEL, 0}},
        {0x22, kAlertNoteAlert, "[Abort|Retry|Ignore] 1/2", {IDABORT, IDRETRY, IDIGNORE}},
        {0x133, kAlertCautionAlert, "[Yes|No|Cancel] 2/2", {IDYES, IDNO, IDCANCEL}},
        {0x244, kAlertNoteAlert, "[Yes|No|] 3/2", {IDYES, IDNO, 0}},
        {0x355, kAlertNoteAlert, "[Retry|Cancel|] 2/2", {IDRETRY, IDCANCEL, 0}},
        {0x76, kAlertCautionAlert, "[Abort|Retry|Ignore] 1/2", {IDABORT, IDRETRY, IDIGNORE}},
        {0xFFFF0007, kAlertPlainAlert, "[Abort|Retry|Ignore] 1/2", {IDABORT, IDRETRY, IDIGNORE}}};
    for (const auto& row : rows) {
        for (DialogItemIndex item = 1; item <= 3; ++item) {
            AlertRecorder alert(item);
            EXPECT_EQ(AfxMessageBox(u"Go?", row.type), row.results[item - 1]) << row.type;
            EXPECT_EQ(alert.Shown(), std::to_string(row.kind) + " Alert: Go? " + row.shown);
        }
    }
    AlertRecorder notShown(0, kOrvikAlertNotShownErr);
    EXPECT_EQ(AfxMessageBox(u"text", MB_YESNO), 0);
}

// A message is cut to 255 characters, each unit reduced to its low 8 bits (Mac OS Roman:
// U+0141 -> "A", U+00E9 -> "È"); no text shows "None"; an id shows its framework text.
TEST(AfxMessageBox, Messages) {
    AlertRecorder alert(1);
    const unsigned short twin[] = {'h', 'i', 0};
    const std::u16string longText(300, u'x');
    EXPECT_EQ(AfxMessageBox(static_cast<const char16_t*>(nullptr)), IDOK);
    EXPECT_EQ(alert.request.message, "None");
    AfxMessageBox(longText.c_str());
    EXPECT_EQ(alert.request.message, std::string(255, 'x'));
    AfxMessageBox(u"\u0141\u00e9");
    EXPECT_EQ(alert.request.message, "AÈ");
    EXPECT_EQ(AfxMessageBox(twin), IDOK);
    EXPECT_EQ(alert.request.message, "hi");
    EXPECT_EQ(AfxMessageBox(0xF023u, MB_OKCANCEL), IDOK);
    EXPECT_EQ(alert.request.message, "Out of memory");
    AfxMessageBox(12345u, MB_OKCANCEL, 7);
    EXPECT_EQ(alert.request.message, "Unknown error");
    AlertRecorder other(3); // an "other" button that MB_OK does not have
    EXPECT_EQ(AfxMessageBox(u"text", MB_OK), 0);
}

TEST(AfxLoadString, CopiesWhatFitsAndTerminates) {
    const struct {
        UINT id, size;
        const char16_t* expected;
    } rows[] = {{0xF023, 4, u"Out"},
                {0xF021, 255, u"Operation not supported"},
                {0xF022, 255, u"Resource not found"},
                {0xF024, 255, u"User cannot perform operation"},
                {0xF025, 17, u"Invalid argument"},
                {0xF025, 16, u"Invalid argumen"},
                {0xF025, 1, u""},
                {0xF020, 255, u"Unknown error"},
                {0xF026, 255, u"Unknown error"}};
    for (const auto& row : rows) {
        std::u16string buffer(300, u'#');
        const UINT count = std::char_traits<char16_t>::length(row.expected);
        EXPECT_EQ(AfxLoadString(row.id, reinterpret_cast<unsigned short*>(buffer.data()), row.size),
                  count);
        EXPECT_EQ(buffer.substr(0, count + 2), row.expected + std::u16string(1, 0) + u"#");
    }
    char16_t untouched[2] = {u'#', u'#'};
    EXPECT_EQ(AfxLoadString(0xF023, untouched, 0), 0u);
    EXPECT_EQ(untouched[0], u'#');
    EXPECT_EQ(AfxLoadString(0xF023, static_cast<char16_t*>(nullptr), 10), 0u);
}

TEST(PlatformQueries, SystemVersionClassesAndFrameworkAnswers) {
    const SInt32 versions[] = {0x0900, 0x101F, 0x1020, 0x102F, 0x1030,
                               0x103F, 0x1040, 0x104F, 0x1050, 0x1058};
    const int classes[] = {-1, -1, 0, 0, 1, 1, 2, 2, 3, 3};
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(orvik::resources::ClassifySystemVersion(0, versions[i]), classes[i]) << i;
    EXPECT_EQ(orvik::resources::ClassifySystemVersion(-5551, 0x1058), -2);
    EXPECT_EQ(CurrentMachineOSXVersion(), 3);
    int x = 0;
    EXPECT_EQ(AtlIsValidAddress(&x, 4) + 2 * AfxIsValidAddress(&x, 0, FALSE), 3);
    EXPECT_EQ(AtlIsValidAddress(nullptr, 4) + AfxIsValidAddress(nullptr, 0), 0);
    EXPECT_EQ(AfxGetStaticModuleState(), nullptr);
    EXPECT_FALSE(CScrivletEditionHelper::IsScrivletStudentMode());
    CScrivletEditionHelper::SetScrivletStudentMode(true);
    EXPECT_TRUE(CScrivletEditionHelper::m_bScrivletStudentMode);
    CScrivletEditionHelper::SetScrivletStudentMode(false);
}

} // namespace
