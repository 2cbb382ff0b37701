// Standard alerts over the machine's means of asking a user.
//
// Backends, in order of preference:
//  1. a replacement installed with SetBackend (tests);
//  2. zenity, then kdialog, when there is a display (this process's, or for a
//     privileged copy the one its caller handed over) and the tool can show
//     the alert as asked: its buttons in their places, Return on the default
//     button, Escape and the window's close on the cancel button. A root
//     process shows the dialog as the user who asked for the elevation
//     (PKEXEC_UID, else SUDO_UID), never as root. A tool that showed nothing
//     (no usable display, a crash, a status that is no answer) is no answer;
//  3. a prompt on the controlling terminal (/dev/tty);
//  4. a notice with one button, printed on standard output;
//  5. otherwise the alert cannot be shown: kOrvikAlertNotShownErr, item 0.
#include "platform/Alerts.h"
#include "platform/CFRef.h"

#include "platform/UniqueFd.h"
#include "platform/cf/Utf8Codec.h"
#include "platform/session/AlertBackends.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unicode/uchar.h>
#include <unicode/ustring.h>
#include <unistd.h>
#include <vector>

struct OpaqueDialogPtr {
    std::uint32_t magic;
    orvik::alerts::AlertRequest request;
};

namespace orvik::alerts {
namespace {

constexpr std::uint32_t kDialogMagic = 0x414C5254u;

Backend& ReplacementBackend() {
    static Backend backend;
    return backend;
}

// ---- texts ------------------------------------------------------------------

std::string Utf8FromUtf16(const char16_t* units, int32_t length) {
    return length > 0 ? utf8::EncodeForDisplay(units, static_cast<size_t>(length)) : std::string();
}

std::string Utf8FromCFString(CFStringRef text) {
    if (text == nullptr)
        return std::string();
    const CFIndex length = CFStringGetLength(text);
    std::vector<UniChar> units(static_cast<size_t>(length));
    CFStringGetCharacters(text, CFRangeMake(0, length), units.data());
    return Utf8FromUtf16(units.data(), static_cast<int32_t>(length));
}

std::string Utf8FromPascalMacRoman(ConstStr255Param text) {
    if (text == nullptr || text[0] == 0)
        return std::string();
    const orvik::CFRef<CFStringRef> string(CFStringCreateWithBytes(
        kCFAllocatorDefault, text + 1, text[0], kCFStringEncodingMacRoman, false));
    return Utf8FromCFString(string.get());
}

// Compares two UTF-8 texts ignoring case (full case folding).
bool EqualIgnoringCase(const std::string& a, const std::string& b) {
    auto toUtf16 = [](const std::string& s) {
        std::u16string out(s.size() + 1, u'\0');
        int32_t length = 0;
        UErrorCode error = U_ZERO_ERROR;
        u_strFromUTF8WithSub(reinterpret_cast<UChar*>(out.data()), static_cast<int32_t>(out.size()),
                             &length, s.data(), static_cast<int32_t>(s.size()), 0xFFFD, nullptr,
                             &error);
        out.resize(U_SUCCESS(error) ? static_cast<size_t>(length) : 0);
        return out;
    };
    const std::u16string ua = toUtf16(a), ub = toUtf16(b);
    UErrorCode error = U_ZERO_ERROR;
    return u_strCaseCompare(reinterpret_cast<const UChar*>(ua.data()),
                            static_cast<int32_t>(ua.size()),
                            reinterpret_cast<const UChar*>(ub.data()),
                            static_cast<int32_t>(ub.size()), U_FOLD_CASE_DEFAULT, &error) == 0 &&
           U_SUCCESS(error);
}

} // namespace

std::string Trim(const std::string& text) {
    const char* space = " \t\r\n\f\v";
    const size_t first = text.find_first_not_of(space);
    if (first == std::string::npos)
        return std::string();
    return text.substr(first, text.find_last_not_of(space) - first + 1);
}

bool HasButton(const AlertRequest& request, int item) {
    return item >= 1 && item <= 3 && !request.buttons[item - 1].empty();
}

// ---- terminal prompt ---------------------------------------------------------

bool WriteAll(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

namespace {

// Reads one line without its newline; false at end of input with nothing read.
bool ReadLine(int fd, std::string* line) {
    line->clear();
    for (;;) {
        char c;
        const ssize_t n = read(fd, &c, 1);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return !line->empty();
        if (c == '\n')
            return true;
        line->push_back(c);
    }
}

std::string PromptText(const AlertRequest& request) {
    std::string text = "\n";
    if (!request.title.empty())
        text += request.title + "\n";
    if (!request.message.empty())
        text += request.message + "\n";
    std::string buttons;
    for (int item = 1; item <= 3; ++item) {
        if (!HasButton(request, item))
            continue;
        if (!buttons.empty())
            buttons += "  ";
        buttons += "[" + std::to_string(item) + "] " + request.buttons[item - 1];
        if (item == request.defaultItem)
            buttons += " (default)";
    }
    return text + buttons + "\n> ";
}

// The item an answer names: an empty answer the default, a button's number,
// or a button's text in any case; 0 when it names none.
int ItemOfAnswer(const AlertRequest& request, const std::string& rawAnswer) {
    const std::string answer = Trim(rawAnswer);
    if (answer.empty())
        return HasButton(request, request.defaultItem) ? request.defaultItem : 0;
    if (answer.size() == 1 && answer[0] >= '1' && answer[0] <= '3' &&
        HasButton(request, answer[0] - '0'))
        return answer[0] - '0';
    for (int item = 1; item <= 3; ++item)
        if (HasButton(request, item) && EqualIgnoringCase(answer, request.buttons[item - 1]))
            return item;
    return 0;
}

// Without a display or a terminal to ask on, a notice with one button is
// printed on standard output (for a privileged copy, the caller's terminal)
// and counts as read. The null device is nobody's output.
int PrintNotice(const AlertRequest& request) {
    const std::vector<int> items = PresentItems(request);
    struct stat output {};
    if (items.size() != 1 || fstat(1, &output) != 0 || (S_ISCHR(output.st_mode) && !isatty(1)))
        return 0;
    std::string text = "\n";
    if (!request.title.empty())
        text += request.title + "\n";
    if (!request.message.empty())
        text += request.message + "\n";
    return WriteAll(1, text) ? items[0] : 0;
}

OSStatus ShowWithBuiltInBackends(const AlertRequest& request, DialogItemIndex* itemHit) {
    if (const int item = ShowGraphically(request); item != 0) {
        *itemHit = static_cast<DialogItemIndex>(item);
        return noErr;
    }
    const UniqueFd tty(open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (tty.get() >= 0)
        return RunTerminalPrompt(request, tty.get(), itemHit);
    if (const int item = PrintNotice(request); item != 0) {
        *itemHit = static_cast<DialogItemIndex>(item);
        return noErr;
    }
    return kOrvikAlertNotShownErr;
}

// Shows the request; the item is 0 unless a button was chosen.
OSStatus Show(AlertRequest request, DialogItemIndex* itemHit) {
    *itemHit = 0;
    if (PresentItems(request).empty())
        request.buttons[0] = "OK";
    const Backend& replacement = ReplacementBackend();
    const OSStatus status =
        replacement ? replacement(request, itemHit) : ShowWithBuiltInBackends(request, itemHit);
    if (status != noErr || !HasButton(request, *itemHit)) {
        *itemHit = 0;
        return status != noErr ? status : kOrvikAlertNotShownErr;
    }
    return noErr;
}

} // namespace

Backend SetBackend(Backend backend) {
    Backend previous = std::move(ReplacementBackend());
    ReplacementBackend() = std::move(backend);
    return previous;
}

OSStatus RunTerminalPrompt(const AlertRequest& request, int fd, DialogItemIndex* itemHit) {
    *itemHit = 0;
    std::string text = PromptText(request);
    for (;;) {
        if (!WriteAll(fd, text))
            return kOrvikAlertNotShownErr;
        std::string line;
        if (!ReadLine(fd, &line)) {
            WriteAll(fd, "\n");
            return kOrvikAlertNotShownErr;
        }
        const int item = ItemOfAnswer(request, line);
        if (item != 0) {
            *itemHit = static_cast<DialogItemIndex>(item);
            return noErr;
        }
        text = "Please answer with the number or the text of a button.\n> ";
    }
}

} // namespace orvik::alerts

using orvik::alerts::AlertRequest;

namespace {

// The platform's own words for a button text of -1.
std::string ButtonText(CFStringRef text, const char* platformWording) {
    if (reinterpret_cast<intptr_t>(text) == kAlertDefaultOKText)
        return platformWording;
    return orvik::alerts::Utf8FromCFString(text);
}

std::string ButtonText(ConstStringPtr text, const char* platformWording) {
    if (reinterpret_cast<intptr_t>(text) == -1)
        return platformWording;
    return orvik::alerts::Utf8FromPascalMacRoman(text);
}

template <typename Params> void FillButtons(const Params& params, AlertRequest* request) {
    request->buttons[0] = ButtonText(params.defaultText, "OK");
    request->buttons[1] = ButtonText(params.cancelText, "Cancel");
    request->buttons[2] = ButtonText(params.otherText, "Don't Save");
    request->defaultItem = params.defaultButton;
    request->cancelItem = params.cancelButton;
}

} // namespace

OSStatus GetStandardAlertDefaultParams(AlertStdCFStringAlertParamPtr param, UInt32 version) {
    if (param == nullptr || version != kStdCFStringAlertVersionOne)
        return paramErr;
    *param = AlertStdCFStringAlertParamRec{};
    param->version = version;
    param->defaultText = reinterpret_cast<CFStringRef>(kAlertDefaultOKText);
    param->defaultButton = kAlertStdAlertOKButton;
    param->position = kWindowDefaultPosition;
    return noErr;
}

OSStatus CreateStandardAlert(AlertType alertType, CFStringRef error, CFStringRef explanation,
                             const AlertStdCFStringAlertParamRec* param, DialogRef* outAlert) {
    if (outAlert == nullptr)
        return paramErr;
    *outAlert = nullptr;
    AlertStdCFStringAlertParamRec defaults;
    if (param == nullptr) {
        GetStandardAlertDefaultParams(&defaults, kStdCFStringAlertVersionOne);
        param = &defaults;
    }
    auto* dialog = new OpaqueDialogPtr{orvik::alerts::kDialogMagic, AlertRequest{}};
    dialog->request.type = alertType;
    dialog->request.title = orvik::alerts::Utf8FromCFString(error);
    dialog->request.message = orvik::alerts::Utf8FromCFString(explanation);
    FillButtons(*param, &dialog->request);
    *outAlert = dialog;
    return noErr;
}

OSStatus RunStandardAlert(DialogRef inAlert, ModalFilterUPP, DialogItemIndex* outItemHit) {
    if (inAlert == nullptr || inAlert->magic != orvik::alerts::kDialogMagic)
        return paramErr;
    DialogItemIndex item = 0;
    const OSStatus status = orvik::alerts::Show(inAlert->request, &item);
    inAlert->magic = 0;
    delete inAlert;
    if (outItemHit != nullptr)
        *outItemHit = item;
    return status;
}

OSErr StandardAlert(AlertType inAlertType, ConstStr255Param inError, ConstStr255Param inExplanation,
                    const AlertStdAlertParamRec* inAlertParam, SInt16* outItemHit) {
    AlertRequest request;
    request.type = inAlertType;
    request.title = orvik::alerts::Utf8FromPascalMacRoman(inError);
    request.message = orvik::alerts::Utf8FromPascalMacRoman(inExplanation);
    if (inAlertParam != nullptr) {
        FillButtons(*inAlertParam, &request);
    } else {
        request.buttons[0] = "OK";
    }
    DialogItemIndex item = 0;
    const OSStatus status = orvik::alerts::Show(request, &item);
    if (outItemHit != nullptr)
        *outItemHit = item;
    return static_cast<OSErr>(status == noErr ? 0 : kOrvikAlertNotShownErr);
}
