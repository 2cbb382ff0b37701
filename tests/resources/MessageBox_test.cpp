#include "resources/MessageBox.h"

#include "platform/Alerts.h"
#include "platform/SystemServices.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using orvik::alerts::AlertRequest;

// Records the alert and presses the given item.
class AlertRecorder {
public:
    explicit AlertRecorder(DialogItemIndex press, OSStatus status = 0) {
        orvik::alerts::SetBackend(
            [this, press, status](const AlertRequest& r, DialogItemIndex* item) {
                request = r;
                ++shown;
                *item = status == 0 ? press : 0;
                return status;
            });
    }
    ~AlertRecorder() { orvik::alerts::SetBackend(nullptr); }
    AlertRequest request;
    int shown = 0;
};

TEST(AfxMessageBox, QuestionYesNoIsANoteAlertAndNoGivesIdNo) {
    AlertRecorder alert(2);
    EXPECT_EQ(AfxMessageBox(u"Delete it?", 0x24), IDNO);
    EXPECT_EQ(alert.request.type, kAlertNoteAlert);
    EXPECT_EQ(alert.request.title, "Alert");
    EXPECT_EQ(alert.request.message, "Delete it?");
    EXPECT_EQ(alert.request.buttons[0], "Yes");
    EXPECT_EQ(alert.request.buttons[1], "No");
    EXPECT_EQ(alert.request.buttons[2], "");
    EXPECT_EQ(alert.request.defaultItem, 1);
    EXPECT_EQ(alert.request.cancelItem, 2);
}

TEST(AfxMessageBox, ExclamationWithSecondDefaultAndCancelAsOtherButton) {
    AlertRecorder alert(3);
    EXPECT_EQ(AfxMessageBox(u"Save?", 0x133), IDCANCEL);
    EXPECT_EQ(alert.request.type, kAlertCautionAlert);
    EXPECT_EQ(alert.request.defaultItem, 2);
    EXPECT_EQ(alert.request.buttons[0], "Yes");
    EXPECT_EQ(alert.request.buttons[1], "No");
    EXPECT_EQ(alert.request.buttons[2], "Cancel");
}

TEST(AfxMessageBox, EveryButtonSetMapsEveryPositionToItsResult) {
    const struct {
        UINT type;
        const char* texts[3];
        int results[3];
    } rows[] = {
        {0, {"OK", "", ""}, {IDOK, 0, 0}},
        {1, {"OK", "Cancel", ""}, {IDOK, IDCANCEL, 0}},
        {2, {"Abort", "Retry", "Ignore"}, {IDABORT, IDRETRY, IDIGNORE}},
        {3, {"Yes", "No", "Cancel"}, {IDYES, IDNO, IDCANCEL}},
        {4, {"Yes", "No", ""}, {IDYES, IDNO, 0}},
        {5, {"Retry", "Cancel", ""}, {IDRETRY, IDCANCEL, 0}},
        {6, {"Abort", "Retry", "Ignore"}, {IDABORT, IDRETRY, IDIGNORE}},
        {7 | 0xFFFF0000u, {"Abort", "Retry", "Ignore"}, {IDABORT, IDRETRY, IDIGNORE}},
    };
    for (const auto& row : rows) {
        for (DialogItemIndex item = 1; item <= 3; ++item) {
            AlertRecorder alert(item);
            EXPECT_EQ(AfxMessageBox(u"text", row.type), row.results[item - 1])
                << "type " << row.type << " item " << item;
            for (int i = 0; i < 3; ++i)
                EXPECT_EQ(alert.request.buttons[i], row.texts[i]) << "type " << row.type;
        }
    }
}

TEST(AfxMessageBox, IconsAndDefaultButtons) {
    const struct {
        UINT type;
        AlertType kind;
        int defaultItem;
    } rows[] = {
        {0x00, kAlertPlainAlert, 1},   {0x10, kAlertStopAlert, 1},   {0x20, kAlertNoteAlert, 1},
        {0x30, kAlertCautionAlert, 1}, {0x40, kAlertNoteAlert, 1},   {0x50, kAlertNoteAlert, 1},
        {0x70, kAlertCautionAlert, 1}, {0x100, kAlertPlainAlert, 2}, {0x200, kAlertPlainAlert, 3},
        {0x300, kAlertPlainAlert, 2},
    };
    for (const auto& row : rows) {
        AlertRecorder alert(1);
        AfxMessageBox(u"text", row.type | MB_ABORTRETRYIGNORE);
        EXPECT_EQ(alert.request.type, row.kind) << row.type;
        EXPECT_EQ(alert.request.defaultItem, row.defaultItem) << row.type;
    }
}

TEST(AfxMessageBox, MessagesNullLongAndWide) {
    {
        AlertRecorder alert(1);
        EXPECT_EQ(AfxMessageBox(static_cast<const char16_t*>(nullptr), MB_OK), IDOK);
        EXPECT_EQ(alert.request.message, "None");
    }
    {
        AlertRecorder alert(1);
        const std::u16string longText(300, u'x');
        AfxMessageBox(longText.c_str(), MB_OK);
        EXPECT_EQ(alert.request.message, std::string(255, 'x'));
    }
    {
        // Each unit keeps its low 8 bits, read as Mac OS Roman: U+0141 -> 0x41 "A",
        // U+00E9 -> 0xE9 "È".
        AlertRecorder alert(1);
        AfxMessageBox(u"\u0141\u00e9", MB_OK);
        EXPECT_EQ(alert.request.message, "AÈ");
    }
    {
        AlertRecorder alert(1);
        const unsigned short text[] = {'h', 'i', 0};
        EXPECT_EQ(AfxMessageBox(text, MB_OK), IDOK);
        EXPECT_EQ(alert.request.message, "hi");
    }
}

TEST(AfxMessageBox, AnAlertThatCannotBeShownOrAnUnknownButtonGivesZero) {
    {
        AlertRecorder alert(0, kOrvikAlertNotShownErr);
        EXPECT_EQ(AfxMessageBox(u"text", MB_YESNO), 0);
        EXPECT_EQ(alert.shown, 1);
    }
    {
        AlertRecorder alert(3); // an "other" button that MB_OK does not have
        EXPECT_EQ(AfxMessageBox(u"text", MB_OK), 0);
    }
}

TEST(AfxMessageBox, ByIdLoadsTheFrameworkText) {
    AlertRecorder alert(2);
    EXPECT_EQ(AfxMessageBox(0xF023u, MB_OKCANCEL), IDCANCEL);
    EXPECT_EQ(alert.request.message, "Out of memory");
    EXPECT_EQ(AfxMessageBox(12345u, MB_OKCANCEL, 7), IDCANCEL);
    EXPECT_EQ(alert.request.message, "Unknown error");
}

TEST(AfxLoadString, CopiesWhatFitsAndTerminates) {
    const struct {
        UINT id;
        UINT size;
        const char16_t* expected;
        UINT count;
    } rows[] = {
        {61475, 4, u"Out", 3},
        {61473, 255, u"Operation not supported", 23},
        {61474, 255, u"Resource not found", 18},
        {61476, 255, u"User cannot perform operation", 29},
        {61477, 255, u"Invalid argument", 16},
        {61472, 255, u"Unknown error", 13},
        {61478, 255, u"Unknown error", 13},
        {0, 255, u"Unknown error", 13},
        {61477, 1, u"", 0},
        {61477, 17, u"Invalid argument", 16},
    };
    for (const auto& row : rows) {
        char16_t buffer[300];
        std::fill(std::begin(buffer), std::end(buffer), u'#');
        EXPECT_EQ(AfxLoadString(row.id, buffer, row.size), row.count) << row.id;
        EXPECT_EQ(std::u16string(buffer), row.expected) << row.id;
        EXPECT_EQ(buffer[row.count + 1], u'#') << "wrote past the terminator, id " << row.id;
    }
    char16_t untouched[2] = {u'#', u'#'};
    EXPECT_EQ(AfxLoadString(61475, untouched, 0), 0u);
    EXPECT_EQ(untouched[0], u'#');
    EXPECT_EQ(AfxLoadString(61475, static_cast<char16_t*>(nullptr), 10), 0u);
    unsigned short shorts[8];
    EXPECT_EQ(AfxLoadString(61475, shorts, 8), 7u);
    EXPECT_EQ(shorts[7], 0);
}

TEST(PlatformQueries, SystemVersionClasses) {
    using orvik::resources::ClassifySystemVersion;
    const struct {
        SInt32 version;
        int expected;
    } rows[] = {{0x1058, 3}, {0x1039, 1}, {0x1020, 0}, {0x102F, 0},  {0x1030, 1},
                {0x1040, 2}, {0x104F, 2}, {0x1050, 3}, {0x101F, -1}, {0x0900, -1}};
    for (const auto& row : rows)
        EXPECT_EQ(ClassifySystemVersion(0, row.version), row.expected) << std::hex << row.version;
    EXPECT_EQ(ClassifySystemVersion(-5551, 0x1058), -2);
    EXPECT_EQ(CurrentMachineOSXVersion(), 3);
}

TEST(PlatformQueries, StudentModeFlagAndFrameworkStubs) {
    EXPECT_FALSE(CScrivletEditionHelper::IsScrivletStudentMode());
    CScrivletEditionHelper::SetScrivletStudentMode(true);
    EXPECT_TRUE(CScrivletEditionHelper::IsScrivletStudentMode());
    CScrivletEditionHelper::SetScrivletStudentMode(false);
    EXPECT_FALSE(CScrivletEditionHelper::m_bScrivletStudentMode);

    int x = 0;
    EXPECT_EQ(AtlIsValidAddress(&x, 4, TRUE), TRUE);
    EXPECT_EQ(AfxIsValidAddress(&x, 0, FALSE), TRUE);
    EXPECT_EQ(AtlIsValidAddress(nullptr, 4), FALSE);
    EXPECT_EQ(AfxIsValidAddress(nullptr, 0), FALSE);
    EXPECT_EQ(AfxGetStaticModuleState(), nullptr);
    EXPECT_TRUE(AfxGetEmptyString().IsEmpty());
}

TEST(PlatformQueries, TraceEvaluatesOnlyItsArguments) {
    int evaluated = 0;
    auto count = [&evaluated] { return ++evaluated; };
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    ATLTRACE("8-bit %d\n", count());
    ATLTRACE(u"16-bit %d %s\n", count(), "x");
    const unsigned short shortFormat[] = {'%', 'd', 0};
    ATLTRACE(shortFormat, count());
    ATLTRACE(CAtlStringA("a %d"), count());
    ATLTRACE(CAtlString(u"w %S"), CAtlString(u"object"));
    ATLTRACE(CFSTR("cf %@"), CFSTR("x"), count());
    ATLTRACE("no arguments");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(evaluated, 5);
}

} // namespace
