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
TEST(AfxMessageBox, ButtonsIconsDefaultsAndMessages) {
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
        {0xFFFF0076, kAlertCautionAlert, "[Abort|Retry|Ignore] 1/2", {IDABORT, IDRETRY, IDIGNORE}}};
    for (const auto& row : rows) {
        for (DialogItemIndex item = 1; item <= 3; ++item) {
            AlertRecorder alert(item);
            EXPECT_EQ(AfxMessageBox(u"Go?", row.type), row.results[item - 1]) << row.type;
            EXPECT_EQ(alert.Shown(), std::to_string(row.kind) + " Alert: Go? " + row.shown);
        }
    }
    AlertRecorder notShown(0, kOrvikAlertNotShownErr);
    EXPECT_EQ(AfxMessageBox(u"text", MB_YESNO), 0);
    // A message is cut to 255 characters, each unit reduced to its low 8 bits (Mac OS Roman:
    // U+0141 -> "A", U+00E9 -> "È"); no text shows "None"; an id shows its framework text.
    AlertRecorder alert(1);
    const auto shown = [&](int result) { return std::to_string(result) + alert.request.message; };
    EXPECT_EQ(shown(AfxMessageBox(static_cast<const char16_t*>(nullptr))), "1None");
    EXPECT_EQ(shown(AfxMessageBox(std::u16string(300, u'x').c_str())), "1" + std::string(255, 'x'));
    EXPECT_EQ(shown(AfxMessageBox(u"\u0141\u00e9")), "1AÈ");
    EXPECT_EQ(shown(AfxMessageBox(0xF023u, MB_OKCANCEL)), "1Out of memory");
}

// Copies min(size - 1, length) units and a zero ('$' below); ids outside the table give
// "Unknown error".
TEST(AfxLoadString, CopiesWhatFitsAndTerminates) {
    const UINT rows[][2] = {{0xF023, 4}, {0xF021, 255}, {0xF025, 16}, {0xF020, 255}, {0xF026, 255}};
    std::u16string written;
    for (const auto& row : rows) {
        std::u16string buffer(30, u'#');
        const UINT n =
            AfxLoadString(row[0], reinterpret_cast<unsigned short*>(buffer.data()), row[1]);
        written += buffer.substr(0, n) + (buffer[n] == 0 ? u'$' : u'!') + buffer[n + 1] + u'|';
    }
    EXPECT_EQ(written, u"Out$#|Operation not supported$#|Invalid argumen$#|Unknown error$#|"
                       u"Unknown error$#|");
    char16_t untouched = u'#'; // no room, or no buffer: 0, and nothing written
    EXPECT_EQ(AfxLoadString(0xF023, &untouched, 0) +
                  AfxLoadString(0xF023, static_cast<char16_t*>(nullptr), 10) + untouched,
              u'#');
    // The system version classes, and the class of this system.
    const SInt32 versions[] = {0x101F, 0x1020, 0x102F, 0x1030, 0x103F, 0x1040, 0x104F, 0x1050};
    std::string classes;
    for (SInt32 version : versions)
        classes += std::to_string(orvik::resources::ClassifySystemVersion(0, version)) + " ";
    EXPECT_EQ(classes, "-1 0 0 1 1 2 2 3 ");
    EXPECT_EQ(orvik::resources::ClassifySystemVersion(-5551, 0x1058), -2);
    EXPECT_EQ(CurrentMachineOSXVersion(), 3);
}

} // namespace
