// The confirmation and the message alerts, titled with the product's name and
// translated.
#include <cstdint>

#include "platform/Alerts.h"
#include "platform/CoreFoundation.h"
#include "platform/SystemServices.h"
#include "resources/ResourceManager.h"
#include "uninstaller/Uninstall.h"

namespace {

constexpr const char* kTitleKey = "ORVIK Tandro Riravor Software Uninstall";
constexpr const char* kQuestionKey = "Are you sure you want to completely remove ORVIK Tandro "
                                     "Riravor Software and all of its components?";

CFStringRef TranslatedPlatformString(const char* key) {
    CAtlString text =
        CResourceManagerFactory::GetResourceManager()->GetTranslatedString(key, nullptr);
    return text.CreateCFStringRef(kCFAllocatorDefault);
}

void BringToFront() {
    ProcessSerialNumber process;
    GetCurrentProcess(&process);
    SetFrontProcess(&process);
}

void ReleaseIfSet(CFStringRef text) {
    if (text != nullptr)
        CFRelease(text);
}

} // namespace

bool UninstallWarning() {
    CFStringRef yes = TranslatedPlatformString("Yes");
    CFStringRef no = TranslatedPlatformString("No");
    CFStringRef title = TranslatedPlatformString(kTitleKey);
    CFStringRef question = TranslatedPlatformString(kQuestionKey);

    AlertStdCFStringAlertParamRec params{};
    params.version = kStdCFStringAlertVersionOne;
    params.movable = false;
    params.helpButton = false;
    params.defaultText = yes;
    params.cancelText = no;
    params.otherText = nullptr;
    // Return must not destroy anything: the default button is "No" (item 2).
    params.defaultButton = kAlertStdAlertCancelButton;
    params.cancelButton = kAlertStdAlertOKButton;
    params.position = kWindowDefaultPosition;
    params.flags = 0;

    BringToFront();
    DialogRef alert = nullptr;
    DialogItemIndex itemHit = 0;
    if (CreateStandardAlert(kAlertCautionAlert, title, question, &params, &alert) == noErr)
        RunStandardAlert(alert, nullptr, &itemHit);

    ReleaseIfSet(yes);
    ReleaseIfSet(no);
    ReleaseIfSet(title);
    ReleaseIfSet(question);
    return itemHit == 1;
}

void GiveAlert(const CAtlString& text) {
    AlertStdCFStringAlertParamRec params{};
    params.version = kStdCFStringAlertVersionOne;
    params.movable = false;
    params.helpButton = false;
    // The platform's own OK wording: the text pointer -1.
    params.defaultText = reinterpret_cast<CFStringRef>(static_cast<intptr_t>(kAlertDefaultOKText));
    params.cancelText = nullptr;
    params.otherText = nullptr;
    params.defaultButton = kAlertStdAlertOKButton;
    params.cancelButton = 0;
    params.position = kWindowDefaultPosition;
    params.flags = 0;

    BringToFront();
    CFStringRef title = TranslatedPlatformString(kTitleKey);
    CFStringRef message = text.CreateCFStringRef(kCFAllocatorDefault);
    DialogRef alert = nullptr;
    DialogItemIndex itemHit = 0;
    if (CreateStandardAlert(kAlertStopAlert, title, message, &params, &alert) == noErr)
        RunStandardAlert(alert, nullptr, &itemHit);
    ReleaseIfSet(title);
    ReleaseIfSet(message);
}
