// Standard alerts: modal questions and notices with up to three buttons.
//
// Buttons sit at fixed positions, numbered by item: 1 the default (OK)
// position, 2 the cancel position, 3 the other position. An alert shows its
// title line (the "error" text), its message (the "explanation"), the
// buttons that have a text, and waits until one is chosen; the item hit is
// that button's number.
//
//   CreateStandardAlert(kAlertCautionAlert, title, question, &params, &alert);
//   RunStandardAlert(alert, nullptr, &item);   // noErr, item 1, 2 or 3
//
// How the alert reaches the user (a graphical dialog, a prompt on the
// controlling terminal) is the backend's business; see Alerts.cpp. When no
// backend can show it, the run returns a non-zero status and item 0, so a
// question is never taken as answered.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#if __has_include("platform/CoreFoundation.h")
#include "platform/CoreFoundation.h"
#endif

typedef std::int16_t OSErr;
typedef std::int32_t OSStatus;
typedef std::int16_t SInt16;
typedef std::uint16_t UInt16;
typedef std::uint32_t UInt32;
typedef std::uint32_t OptionBits;
typedef unsigned char Boolean;

typedef unsigned char Str255[256];
typedef const unsigned char* ConstStr255Param;
typedef const unsigned char* ConstStringPtr;

typedef struct OpaqueDialogPtr* DialogRef;
typedef SInt16 DialogItemIndex;
struct EventRecord;
typedef Boolean (*ModalFilterProcPtr)(DialogRef, EventRecord*, DialogItemIndex*);
typedef ModalFilterProcPtr ModalFilterUPP;

typedef SInt16 AlertType;
enum : SInt16 {
    kAlertStopAlert = 0,
    kAlertNoteAlert = 1,
    kAlertCautionAlert = 2,
    kAlertPlainAlert = 3
};

enum : SInt16 {
    kAlertStdAlertOKButton = 1,
    kAlertStdAlertCancelButton = 2,
    kAlertStdAlertOtherButton = 3,
    kAlertStdAlertHelpButton = 4
};

// A button text of -1 asks for the platform's own wording ("OK", "Cancel",
// "Don't Save"): (CFStringRef)kAlertDefaultOKText.
enum : long { kAlertDefaultOKText = -1, kAlertDefaultCancelText = -1, kAlertDefaultOtherText = -1 };

enum : UInt32 { kStdCFStringAlertVersionOne = 1 };
enum : UInt16 { kWindowDefaultPosition = 0 };
// Errors of this service.
enum : OSStatus {
    kOrvikAlertNotShownErr = -30600, // no display and no terminal, or end of input
    kOrvikAlertBadParamErr = -50
};

struct AlertStdCFStringAlertParamRec {
    UInt32 version;
    Boolean movable;
    Boolean helpButton;
    CFStringRef defaultText;
    CFStringRef cancelText;
    CFStringRef otherText;
    SInt16 defaultButton;
    SInt16 cancelButton;
    UInt16 position;
    OptionBits flags;
};
typedef AlertStdCFStringAlertParamRec* AlertStdCFStringAlertParamPtr;

// Parameters of the Pascal-string form; a text pointer of (ConstStringPtr)-1
// asks for the platform's own wording, null for no button.
struct AlertStdAlertParamRec {
    Boolean movable;
    Boolean helpButton;
    ModalFilterUPP filterProc;
    ConstStringPtr defaultText;
    ConstStringPtr cancelText;
    ConstStringPtr otherText;
    SInt16 defaultButton;
    SInt16 cancelButton;
    UInt16 position;
};
typedef AlertStdAlertParamRec* AlertStdAlertParamPtr;

// Fills `param` with: OK button only, default button 1, no cancel button.
OSStatus GetStandardAlertDefaultParams(AlertStdCFStringAlertParamPtr param, UInt32 version);
// Records the alert; texts are copied, so the caller may release them at once.
// A null `param` means the default parameters.
OSStatus CreateStandardAlert(AlertType alertType, CFStringRef error, CFStringRef explanation,
                             const AlertStdCFStringAlertParamRec* param, DialogRef* outAlert);
// Shows the alert modally, disposes of it and reports the item hit.
OSStatus RunStandardAlert(DialogRef inAlert, ModalFilterUPP filterProc,
                          DialogItemIndex* outItemHit);
// Pascal-string form: creates, shows and disposes of the alert in one call.
// Texts are Mac OS Roman. A null `inAlertParam` shows a single OK button.
OSErr StandardAlert(AlertType inAlertType, ConstStr255Param inError, ConstStr255Param inExplanation,
                    const AlertStdAlertParamRec* inAlertParam, SInt16* outItemHit);

namespace orvik::alerts {

// What a backend shows: UTF-8 texts; buttons[i] is item i + 1, empty when
// that position has no button.
struct AlertRequest {
    AlertType type = kAlertPlainAlert;
    std::string title;
    std::string message;
    std::string buttons[3];
    int defaultItem = 1; // 0 = no default button
    int cancelItem = 0;  // 0 = no cancel button
};

// A backend shows the request modally and stores the item hit (1 to 3);
// it returns noErr, or a non-zero status with the item left at 0.
using Backend = std::function<OSStatus(const AlertRequest&, DialogItemIndex* itemHit)>;

// Replaces the backend (tests); an empty function restores the built-in
// choice. Returns the previous replacement.
Backend SetBackend(Backend backend);

// Where the graphical tools are looked for (tests point these at stand-ins).
struct DialogTools {
    std::string zenity = "/usr/bin/zenity";
    std::string kdialog = "/usr/bin/kdialog";
};
// Returns the previous setting.
DialogTools SetDialogTools(const DialogTools& tools);

// The built-in backends, for tests and for code that wants one explicitly.
// The terminal prompt reads and writes `fd` (normally /dev/tty opened anew).
OSStatus RunTerminalPrompt(const AlertRequest& request, int fd, DialogItemIndex* itemHit);
OSStatus RunGraphicalDialog(const AlertRequest& request, DialogItemIndex* itemHit);

} // namespace orvik::alerts
