// Message boxes as standard alerts, and the framework entry points Windows code expects.
#include "resources/MessageBox.h"

#include "platform/Alerts.h"
#include "platform/SystemServices.h"

#include <algorithm>

bool CScrivletEditionHelper::m_bScrivletStudentMode = false;

namespace {

// A length-prefixed 8-bit string.
struct PascalString {
    unsigned char bytes[256] = {};
    explicit PascalString(const char* text) {
        size_t n = 0;
        while (text[n] != '\0' && n < 255)
            ++n;
        bytes[0] = static_cast<unsigned char>(n);
        std::copy(text, text + n, bytes + 1);
    }
    explicit PascalString(const char16_t* units) {
        size_t n = 0;
        for (; units[n] != 0 && n < 255; ++n)
            bytes[n + 1] = static_cast<unsigned char>(units[n] & 0xFF);
        bytes[0] = static_cast<unsigned char>(n);
    }
};

struct ButtonSet {
    const char* defaultText; // null: no button
    const char* cancelText;
    const char* otherText;
    int results[3]; // of the default, cancel and other positions
};

const ButtonSet& ButtonsFor(UINT type) {
    static const ButtonSet kOk = {"OK", nullptr, nullptr, {IDOK, 0, 0}};
    static const ButtonSet kOkCancel = {"OK", "Cancel", nullptr, {IDOK, IDCANCEL, 0}};
    static const ButtonSet kAbortRetryIgnore = {
        "Abort", "Retry", "Ignore", {IDABORT, IDRETRY, IDIGNORE}};
    static const ButtonSet kYesNoCancel = {"Yes", "No", "Cancel", {IDYES, IDNO, IDCANCEL}};
    static const ButtonSet kYesNo = {"Yes", "No", nullptr, {IDYES, IDNO, 0}};
    static const ButtonSet kRetryCancel = {"Retry", "Cancel", nullptr, {IDRETRY, IDCANCEL, 0}};
    switch (type & 7) {
    case 0:
        return kOk;
    case 1:
        return kOkCancel;
    case 3:
        return kYesNoCancel;
    case 4:
        return kYesNo;
    case 5:
        return kRetryCancel;
    default: // 2, 6, 7
        return kAbortRetryIgnore;
    }
}

AlertType AlertKindFor(UINT type) {
    if ((type & 0x30) == 0x30)
        return kAlertCautionAlert; // exclamation
    if ((type & 0x40) != 0 || (type & 0x20) != 0)
        return kAlertNoteAlert; // information, question
    if ((type & 0x10) != 0)
        return kAlertStopAlert;
    return kAlertPlainAlert;
}

SInt16 DefaultButtonFor(UINT type) {
    if ((type & 0x100) != 0)
        return kAlertStdAlertCancelButton;
    if ((type & 0x200) != 0)
        return kAlertStdAlertOtherButton;
    return kAlertStdAlertOKButton;
}

const char* const kFrameworkMessages[] = {"Operation not supported", "Resource not found",
                                          "Out of memory", "User cannot perform operation",
                                          "Invalid argument"};
constexpr UINT kFirstFrameworkMessage = 0xF021;

} // namespace

int AfxMessageBox(const char16_t* lpszText, UINT nType, UINT) {
    const ButtonSet& buttons = ButtonsFor(nType);
    const PascalString title("Alert");
    const PascalString message =
        lpszText != nullptr ? PascalString(lpszText) : PascalString("None");
    const PascalString defaultText(buttons.defaultText);
    const PascalString cancelText(buttons.cancelText != nullptr ? buttons.cancelText : "");
    const PascalString otherText(buttons.otherText != nullptr ? buttons.otherText : "");
    AlertStdAlertParamRec params{};
    params.movable = false;
    params.helpButton = false;
    params.filterProc = nullptr;
    params.defaultText = defaultText.bytes;
    params.cancelText = buttons.cancelText != nullptr ? cancelText.bytes : nullptr;
    params.otherText = buttons.otherText != nullptr ? otherText.bytes : nullptr;
    params.defaultButton = DefaultButtonFor(nType);
    params.cancelButton = kAlertStdAlertCancelButton;
    params.position = kWindowDefaultPosition;
    SInt16 itemHit = 0;
    if (StandardAlert(AlertKindFor(nType), title.bytes, message.bytes, &params, &itemHit) != 0)
        return 0;
    return itemHit >= 1 && itemHit <= 3 ? buttons.results[itemHit - 1] : 0;
}

int AfxMessageBox(const unsigned short* lpszText, UINT nType, UINT nIDHelp) {
    return AfxMessageBox(reinterpret_cast<const char16_t*>(lpszText), nType, nIDHelp);
}

int AfxMessageBox(UINT nIDPrompt, UINT nType, UINT nIDHelp) {
    char16_t text[255];
    AfxLoadString(nIDPrompt, text, 255);
    return AfxMessageBox(text, nType, nIDHelp == static_cast<UINT>(-1) ? nIDPrompt : nIDHelp);
}

UINT AfxLoadString(UINT nID, char16_t* lpszBuf, UINT nBufferMax) {
    if (lpszBuf == nullptr || nBufferMax == 0)
        return 0;
    const UINT index = nID - kFirstFrameworkMessage;
    const char* text =
        index < std::size(kFrameworkMessages) ? kFrameworkMessages[index] : "Unknown error";
    UINT count = 0;
    while (text[count] != '\0' && count < nBufferMax - 1) {
        lpszBuf[count] = static_cast<char16_t>(static_cast<unsigned char>(text[count]));
        ++count;
    }
    lpszBuf[count] = 0;
    return count;
}

UINT AfxLoadString(UINT nID, unsigned short* lpszBuf, UINT nBufferMax) {
    return AfxLoadString(nID, reinterpret_cast<char16_t*>(lpszBuf), nBufferMax);
}

int orvik::resources::ClassifySystemVersion(OSErr status, SInt32 version) {
    if (status != 0)
        return -2;
    if (version > 0x104F)
        return 3;
    if (version >= 0x1040)
        return 2;
    if (version >= 0x1030)
        return 1;
    if (version >= 0x1020)
        return 0;
    return -1;
}

int CurrentMachineOSXVersion() {
    SInt32 version = 0;
    const OSErr status = Gestalt(gestaltSystemVersion, &version);
    return orvik::resources::ClassifySystemVersion(status, version);
}

BOOL AtlIsValidAddress(const void* p, UINT, BOOL) {
    return p != nullptr ? TRUE : FALSE;
}

BOOL AfxIsValidAddress(const void* p, UINT nBytes, BOOL bReadWrite) {
    return AtlIsValidAddress(p, nBytes, bReadWrite);
}

AFX_MODULE_STATE* AfxGetStaticModuleState() {
    return nullptr;
}
