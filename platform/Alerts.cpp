// Standard alerts over the machine's means of asking a user.
//
// Backends, in order of preference:
//  1. a replacement installed with SetBackend (tests);
//  2. zenity or kdialog when DISPLAY or WAYLAND_DISPLAY is set and the tool
//     exists; a root process never shows a dialog as root but as the user who
//     asked for it (PKEXEC_UID, else SUDO_UID), and without such a user the
//     graphical route is skipped;
//  3. a prompt on the controlling terminal (/dev/tty);
//  4. otherwise the alert cannot be shown: kOrvikAlertNotShownErr, item 0.
#include "platform/Alerts.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/wait.h>
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
constexpr int kToolDidNotRun = -1;

Backend& ReplacementBackend() {
    static Backend backend;
    return backend;
}

// ---- texts ------------------------------------------------------------------

std::string Utf8FromUtf16(const char16_t* units, int32_t length) {
    if (length <= 0)
        return std::string();
    std::string out(static_cast<size_t>(length) * 3, '\0');
    int32_t written = 0;
    UErrorCode error = U_ZERO_ERROR;
    u_strToUTF8WithSub(out.data(), static_cast<int32_t>(out.size()), &written,
                       reinterpret_cast<const UChar*>(units), length, 0xFFFD, nullptr, &error);
    if (U_FAILURE(error))
        return std::string();
    out.resize(static_cast<size_t>(written));
    return out;
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
    CFStringRef string = CFStringCreateWithBytes(kCFAllocatorDefault, text + 1, text[0],
                                                 kCFStringEncodingMacRoman, false);
    std::string out = Utf8FromCFString(string);
    if (string != nullptr)
        CFRelease(string);
    return out;
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

// ---- graphical dialog --------------------------------------------------------

struct DialogUser {
    bool switchUser = false;
    uid_t uid = 0;
    gid_t gid = 0;
    std::string name, home;
};

// Whom the dialog is shown as: this process's user, or for root the user who
// asked for the elevation. False when root has no such user.
bool ChooseDialogUser(DialogUser* user) {
    if (geteuid() != 0)
        return true;
    for (const char* variable : {"PKEXEC_UID", "SUDO_UID"}) {
        const char* value = getenv(variable);
        if (value == nullptr || *value == '\0')
            continue;
        char* end = nullptr;
        errno = 0;
        const unsigned long uid = strtoul(value, &end, 10);
        if (errno != 0 || *end != '\0' || uid == 0)
            continue;
        const passwd* entry = getpwuid(static_cast<uid_t>(uid));
        if (entry == nullptr)
            continue;
        user->switchUser = true;
        user->uid = entry->pw_uid;
        user->gid = entry->pw_gid;
        user->name = entry->pw_name;
        user->home = entry->pw_dir;
        return true;
    }
    return false;
}

// Runs a dialog tool, captures its standard output, returns its exit status
// or kToolDidNotRun.
int RunDialogTool(const std::vector<std::string>& args, const DialogUser& user,
                  std::string* output) {
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0)
        return kToolDidNotRun;
    std::vector<char*> argv;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid < 0) {
        close(out[0]);
        close(out[1]);
        return kToolDidNotRun;
    }
    if (pid == 0) {
        dup2(out[1], 1);
        if (user.switchUser) {
            if (initgroups(user.name.c_str(), user.gid) != 0 || setgid(user.gid) != 0 ||
                setuid(user.uid) != 0)
                _exit(127);
            setenv("HOME", user.home.c_str(), 1);
            setenv("USER", user.name.c_str(), 1);
            setenv("LOGNAME", user.name.c_str(), 1);
        }
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(out[1]);
    char buffer[256];
    ssize_t n;
    while ((n = read(out[0], buffer, sizeof buffer)) != 0) {
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            break;
        output->append(buffer, static_cast<size_t>(n));
    }
    close(out[0]);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0)
        if (errno != EINTR)
            return kToolDidNotRun;
    if (!WIFEXITED(status) || WEXITSTATUS(status) == 127)
        return kToolDidNotRun;
    return WEXITSTATUS(status);
}

std::vector<int> PresentItems(const AlertRequest& request) {
    std::vector<int> items;
    for (int item = 1; item <= 3; ++item)
        if (HasButton(request, item))
            items.push_back(item);
    return items;
}

// zenity: a question dialog for two or three buttons (OK, Cancel and an
// extra button that prints its label), a message dialog for one. Escape and
// closing the window answer like the second button.
int RunZenity(const std::string& tool, const AlertRequest& request, const DialogUser& user,
              DialogItemIndex* itemHit) {
    const std::vector<int> items = PresentItems(request);
    std::vector<std::string> args{tool};
    if (items.size() == 1) {
        args.push_back(request.type == kAlertStopAlert      ? "--error"
                       : request.type == kAlertCautionAlert ? "--warning"
                                                            : "--info");
    } else {
        args.push_back("--question");
    }
    args.push_back("--title=" + request.title);
    args.push_back("--text=" + request.message);
    args.push_back("--no-markup");
    args.push_back("--ok-label=" + request.buttons[items[0] - 1]);
    if (items.size() >= 2) {
        args.push_back("--cancel-label=" + request.buttons[items[1] - 1]);
        if (request.defaultItem == items[1])
            args.push_back("--default-cancel");
    }
    if (items.size() == 3)
        args.push_back("--extra-button=" + request.buttons[items[2] - 1]);
    std::string output;
    const int status = RunDialogTool(args, user, &output);
    if (status == kToolDidNotRun)
        return status;
    if (status == 0 || items.size() == 1)
        *itemHit = static_cast<DialogItemIndex>(items[0]);
    else if (items.size() == 3 && Trim(output) == request.buttons[items[2] - 1])
        *itemHit = static_cast<DialogItemIndex>(items[2]);
    else if (status == 1)
        *itemHit = static_cast<DialogItemIndex>(items[1]);
    else
        return kToolDidNotRun;
    return 0;
}

// kdialog: yes/no/cancel by exit status 0, 1, 2.
int RunKdialog(const std::string& tool, const AlertRequest& request, const DialogUser& user,
               DialogItemIndex* itemHit) {
    const std::vector<int> items = PresentItems(request);
    std::vector<std::string> args{tool, "--title", request.title};
    const std::string text =
        request.title.empty() ? request.message : request.title + "\n\n" + request.message;
    if (items.size() == 1) {
        args.insert(args.end(), {request.type == kAlertStopAlert ? "--error" : "--msgbox", text,
                                 "--ok-label", request.buttons[items[0] - 1]});
    } else {
        args.insert(args.end(), {items.size() == 3                    ? "--yesnocancel"
                                 : request.type == kAlertCautionAlert ? "--warningyesno"
                                                                      : "--yesno",
                                 text, "--yes-label", request.buttons[items[0] - 1], "--no-label",
                                 request.buttons[items[1] - 1]});
        if (items.size() == 3)
            args.insert(args.end(), {"--cancel-label", request.buttons[items[2] - 1]});
    }
    std::string output;
    const int status = RunDialogTool(args, user, &output);
    if (status == kToolDidNotRun)
        return status;
    const size_t index = items.size() == 1 ? 0 : static_cast<size_t>(status);
    if (index >= items.size())
        return kToolDidNotRun;
    *itemHit = static_cast<DialogItemIndex>(items[index]);
    return 0;
}

DialogTools g_tools;

bool IsExecutable(const std::string& path) {
    return !path.empty() && access(path.c_str(), X_OK) == 0;
}

bool InGraphicalSession() {
    for (const char* variable : {"DISPLAY", "WAYLAND_DISPLAY"}) {
        const char* value = getenv(variable);
        if (value != nullptr && *value != '\0')
            return true;
    }
    return false;
}

OSStatus ShowWithBuiltInBackends(const AlertRequest& request, DialogItemIndex* itemHit) {
    DialogUser user;
    if (InGraphicalSession() && ChooseDialogUser(&user)) {
        if (IsExecutable(g_tools.zenity) && RunZenity(g_tools.zenity, request, user, itemHit) == 0)
            return noErr;
        if (IsExecutable(g_tools.kdialog) &&
            RunKdialog(g_tools.kdialog, request, user, itemHit) == 0)
            return noErr;
    }
    const int tty = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (tty < 0)
        return kOrvikAlertNotShownErr;
    const OSStatus status = RunTerminalPrompt(request, tty, itemHit);
    close(tty);
    return status;
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

DialogTools SetDialogTools(const DialogTools& tools) {
    DialogTools previous = g_tools;
    g_tools = tools;
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

OSStatus RunGraphicalDialog(const AlertRequest& request, DialogItemIndex* itemHit) {
    *itemHit = 0;
    DialogUser user;
    if (!ChooseDialogUser(&user))
        return kOrvikAlertNotShownErr;
    if (IsExecutable(g_tools.zenity) && RunZenity(g_tools.zenity, request, user, itemHit) == 0)
        return noErr;
    if (IsExecutable(g_tools.kdialog) && RunKdialog(g_tools.kdialog, request, user, itemHit) == 0)
        return noErr;
    *itemHit = 0;
    return kOrvikAlertNotShownErr;
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
