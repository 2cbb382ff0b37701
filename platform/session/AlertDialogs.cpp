// The graphical backends of the standard alerts: zenity and kdialog, each
// used only for an alert it can show as asked, shown as the user who asked.
#include "platform/session/AlertBackends.h"

#include "platform/UniqueFd.h"
#include "platform/session/CallerSession.h"
#include "platform/session/Process.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

namespace orvik::alerts {
namespace {

// The button Escape and closing the window choose: the cancel button, but
// never the first of several (the uninstall confirmation names "Yes" as its
// cancel button); then the default, when that is not the first either. 0
// when Escape chooses nothing.
int EscapeItem(const AlertRequest& request) {
    const std::vector<int> items = PresentItems(request);
    if (items.size() == 1)
        return items[0];
    if (!HasButton(request, request.cancelItem))
        return 0;
    if (request.cancelItem != items[0])
        return request.cancelItem;
    return HasButton(request, request.defaultItem) && request.defaultItem != items[0]
               ? request.defaultItem
               : 0;
}

// How one run of a dialog tool ended.
struct ToolRun {
    bool ran = false; // exited by itself, not by a signal
    int status = -1;
    std::string out, err;
};

// Whom a dialog is shown as, and with which environment. A root process
// shows it as the user who asked for the elevation (PKEXEC_UID, else
// SUDO_UID), never as root.
struct DialogUser {
    bool usable = false;
    process::Options start; // identity and environment, ready to fork
};

std::vector<std::string> EnvironmentOfUser(const std::string& name, const std::string& home) {
    std::vector<std::string> environment = {"HOME=" + home, "USER=" + name, "LOGNAME=" + name,
                                            "PATH=/usr/local/bin:/usr/bin:/bin"};
    for (const char* variable : {"LANG", "LANGUAGE", "LC_ALL", "LC_MESSAGES", "LC_CTYPE"}) {
        const char* value = getenv(variable);
        if (value != nullptr && *value != '\0')
            environment.push_back(std::string(variable) + "=" + value);
    }
    const std::vector<std::string> session = session::GraphicalSession();
    environment.insert(environment.end(), session.begin(), session.end());
    return environment;
}

uid_t RequestingUser() {
    for (const char* variable : {"PKEXEC_UID", "SUDO_UID"}) {
        const char* value = getenv(variable);
        if (value == nullptr || *value == '\0')
            continue;
        char* end = nullptr;
        errno = 0;
        const unsigned long uid = strtoul(value, &end, 10);
        if (errno == 0 && *end == '\0' && uid != 0 && uid < static_cast<unsigned long>(-1u))
            return static_cast<uid_t>(uid);
    }
    return 0;
}

DialogUser ChooseDialogUser() {
    DialogUser user;
    if (geteuid() != 0) {
        user.usable = true;
        return user;
    }
    const uid_t uid = RequestingUser();
    std::string name, home;
    if (uid == 0 || !process::IdentityOfUser(uid, &user.start.identity, &name, &home))
        return user;
    user.usable = true;
    user.start.switchUser = true;
    user.start.replaceEnvironment = true;
    user.start.environment = EnvironmentOfUser(name, home);
    return user;
}

ToolRun RunDialogTool(std::vector<std::string> args, const DialogUser& user) {
    ToolRun run;
    int out[2], err[2];
    if (pipe2(out, O_CLOEXEC) != 0)
        return run;
    UniqueFd outRead(out[0]), outWrite(out[1]);
    if (pipe2(err, O_CLOEXEC) != 0)
        return run;
    UniqueFd errRead(err[0]), errWrite(err[1]);
    process::Options options = user.start;
    options.argv = std::move(args);
    options.in = process::Stream{process::Stream::Null};
    options.out = process::Stream::Of(outWrite.get());
    options.err = process::Stream::Of(errWrite.get());
    pid_t pid = -1;
    if (process::Start(options, &pid) != 0)
        return run;
    outWrite = UniqueFd();
    errWrite = UniqueFd();
    process::ReadUntilClosed(outRead, &run.out, errRead, &run.err);
    run.status = process::ExitStatus(process::Wait(pid));
    run.ran = run.status >= 0;
    return run;
}

// Escapes a text for zenity, which reads markup and then undoes backslash
// escapes.
std::string ZenityText(const std::string& text) {
    std::string escaped;
    for (char c : text) {
        switch (c) {
        case '&':
            escaped += "&amp;";
            break;
        case '<':
            escaped += "&lt;";
            break;
        case '>':
            escaped += "&gt;";
            break;
        case '\\':
            escaped += "\\\\";
            break;
        default:
            escaped += c;
        }
    }
    return escaped;
}

const char* IconOf(AlertType type) {
    switch (type) {
    case kAlertStopAlert:
        return "dialog-error";
    case kAlertCautionAlert:
        return "dialog-warning";
    case kAlertNoteAlert:
        return "dialog-information";
    default:
        return "";
    }
}

// zenity lays buttons out as [extra] [cancel] [OK]: items 3, 2, 1 in their
// positions. Return chooses OK, or the cancel button with --default-cancel;
// Escape and closing the window always choose the cancel button; an extra
// button can be neither. Empty when the alert does not fit.
std::vector<std::string> ZenityArguments(const std::string& tool, const AlertRequest& request) {
    const std::vector<int> items = PresentItems(request);
    std::vector<std::string> args{tool};
    if (items.size() == 1) {
        args.push_back(request.type == kAlertStopAlert      ? "--error"
                       : request.type == kAlertCautionAlert ? "--warning"
                                                            : "--info");
    } else {
        const int defaultItem = request.defaultItem;
        if ((defaultItem != items[0] && defaultItem != items[1]) || EscapeItem(request) != items[1])
            return {};
        args.push_back("--question");
        if (defaultItem == items[1])
            args.push_back("--default-cancel");
        args.push_back("--cancel-label=" + request.buttons[items[1] - 1]);
        if (items.size() == 3)
            args.push_back("--extra-button=" + request.buttons[items[2] - 1]);
    }
    std::string text = ZenityText(request.message);
    if (!request.title.empty())
        text = "<b>" + ZenityText(request.title) + "</b>" + (text.empty() ? "" : "\n\n" + text);
    args.insert(args.end(), {"--title=" + request.title, "--text=" + text,
                             std::string("--icon-name=") + IconOf(request.type),
                             "--ok-label=" + request.buttons[items[0] - 1]});
    return args;
}

// The item a zenity run answered, or 0 when it showed no dialog.
int ZenityAnswer(const AlertRequest& request, const ToolRun& run) {
    const std::vector<int> items = PresentItems(request);
    if (!run.ran || (run.status != 0 && run.status != 1) ||
        run.err.find("cannot open display") != std::string::npos)
        return 0;
    if (run.status == 0 || items.size() == 1)
        return items[0];
    if (items.size() == 3 && Trim(run.out) == request.buttons[items[2] - 1])
        return items[2];
    return items[1];
}

// kdialog lays buttons out as [yes] [no] [cancel]: items 1, 2, 3. Return
// chooses yes; Escape and closing the window end it with status 2, the
// cancel button's. Empty when the alert does not fit.
std::vector<std::string> KdialogArguments(const std::string& tool, const AlertRequest& request) {
    const std::vector<int> items = PresentItems(request);
    const bool warning = request.type == kAlertStopAlert || request.type == kAlertCautionAlert;
    const std::string text =
        request.title.empty() ? request.message : request.title + "\n\n" + request.message;
    std::vector<std::string> args{tool, "--title", request.title};
    if (items.size() == 1) {
        args.insert(args.end(), {request.type == kAlertStopAlert      ? "--error"
                                 : request.type == kAlertCautionAlert ? "--sorry"
                                                                      : "--msgbox",
                                 text, "--ok-label", request.buttons[items[0] - 1]});
        return args;
    }
    const int escape = EscapeItem(request);
    if (request.defaultItem != items[0] || escape == 0 || (items.size() == 3 && escape != items[2]))
        return {};
    const char* kind = items.size() == 3 ? (warning ? "--warningyesnocancel" : "--yesnocancel")
                                         : (warning ? "--warningyesno" : "--yesno");
    args.insert(args.end(), {kind, text, "--yes-label", request.buttons[items[0] - 1], "--no-label",
                             request.buttons[items[1] - 1]});
    if (items.size() == 3)
        args.insert(args.end(), {"--cancel-label", request.buttons[items[2] - 1]});
    return args;
}

int KdialogAnswer(const AlertRequest& request, const ToolRun& run) {
    const std::vector<int> items = PresentItems(request);
    if (!run.ran || run.status < 0 || run.status > 2)
        return 0;
    if (items.size() == 1)
        return items[0];
    if (run.status == 2)
        return items.size() == 3 ? items[2] : EscapeItem(request);
    return items[static_cast<size_t>(run.status)];
}

DialogTools g_tools;

} // namespace

int ShowGraphically(const AlertRequest& request) {
    if (session::GraphicalSession().empty())
        return 0;
    const DialogUser user = ChooseDialogUser();
    if (!user.usable)
        return 0;
    struct Tool {
        const std::string& path;
        std::vector<std::string> (*arguments)(const std::string&, const AlertRequest&);
        int (*answer)(const AlertRequest&, const ToolRun&);
    };
    for (const Tool& tool : {Tool{g_tools.zenity, ZenityArguments, ZenityAnswer},
                             Tool{g_tools.kdialog, KdialogArguments, KdialogAnswer}}) {
        if (!process::IsExecutable(tool.path))
            continue;
        std::vector<std::string> args = tool.arguments(tool.path, request);
        if (args.empty())
            continue;
        const int item = tool.answer(request, RunDialogTool(std::move(args), user));
        if (item != 0)
            return item;
    }
    return 0;
}

std::vector<int> PresentItems(const AlertRequest& request) {
    std::vector<int> items;
    for (int item = 1; item <= 3; ++item)
        if (HasButton(request, item))
            items.push_back(item);
    return items;
}

DialogTools SetDialogTools(const DialogTools& tools) {
    DialogTools previous = g_tools;
    g_tools = tools;
    return previous;
}

OSStatus RunGraphicalDialog(const AlertRequest& request, DialogItemIndex* itemHit) {
    const int item = ShowGraphically(request);
    *itemHit = static_cast<DialogItemIndex>(item);
    return item != 0 ? OSStatus{noErr} : OSStatus{kOrvikAlertNotShownErr};
}

} // namespace orvik::alerts
