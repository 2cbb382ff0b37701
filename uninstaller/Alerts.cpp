// The confirmation and the message alerts, titled with the product's name and
// translated.
#include <cstdint>

#include "platform/Alerts.h"
#include "platform/CFRef.h"
#include "platform/CoreFoundation.h"
#include "platform/SystemServices.h"
#include "resources/ResourceManager.h"
#include "uninstaller/Uninstall.h"

namespace {

constexpr const char* kTitleKey = "ORVIK Tandro Riravor Software Uninstall";
constexpr const char* kQuestionKey = "Are you sure you want to completely remove ORVIK Tandro "
                                     "Riravor Software and all of its components?";

orvik::CFRef<CFStringRef> TranslatedPlatformString(const char* key) {
    CAtlString text =
        CResourceManagerFactory::GetResourceManager()->GetTranslatedString(key, nullptr);
    return orvik::CFRef<CFStringRef>(text.CreateCFStringRef(kCFAllocatorDefault));
}

void BringToFront() {
    ProcessSerialNumber process;
    GetCurrentProcess(&process);
    SetFrontProcess(&process);
}

} // namespace

bool UninstallWarning() {
    const orvik::CFRef<CFStringRef> yes = TranslatedPlatformString("Yes");
    const orvik::CFRef<CFStringRef> no = TranslatedPlatformString("No");
    const orvik::CFRef<CFStringRef> title = TranslatedPlatformString(kTitleKey);
    const orvik::CFRef<CFStringRef> question = TranslatedPlatformString(kQuestionKey);

    AlertStdCFStringAlertParamRec params{};
    params.version = kStdCFStringAlertVersionOne;
    params.movable = false;
    params.helpButton = false;
    params.defaultText = yes.get();
    params.cancelText = no.get();
    params.otherText = nullptr;
    // Return must not destroy anything: the default button is "No" (item 2).
    params.defaultButton = kAlertStdAlertCancelButton;
    params.cancelButton = kAlertStdAlertOKButton;
    params.position = kWindowDefaultPosition;
    params.flags = 0;

    BringToFront();
    DialogRef alert = nullptr;
    DialogItemIndex itemHit = 0;
    if (CreateStandardAlert(kAlertCautionAlert, title.get(), question.get(), &params, &alert) ==
        noErr)
        RunStandardAlert(alert, nullptr, &itemHit);
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
    const orvik::CFRef<CFStringRef> title = TranslatedPlatformString(kTitleKey);
    const orvik::CFRef<CFStringRef> message(text.CreateCFStringRef(kCFAllocatorDefault));
    DialogRef alert = nullptr;
    DialogItemIndex itemHit = 0;
    if (CreateStandardAlert(kAlertStopAlert, title.get(), message.get(), &params, &alert) == noErr)
        RunStandardAlert(alert, nullptr, &itemHit);
}
