// Authorization over the machine's own elevation tools.
//
// Already root: every right is granted without a prompt and the tool is
// started directly. Otherwise the right is obtained by asking the user:
//  - in a graphical session, pkexec asks when the tool is started; pkexec
//    authorizes its parent (this process, which therefore stays until the
//    tool has started), exits 126 when its dialog is dismissed and 127 when
//    the user is not authorized, and marks every descriptor above 2
//    close-on-exec before it replaces itself with the tool, so a pipe it
//    inherited reaches end of file exactly when the tool starts or pkexec
//    gives up;
//  - on a terminal, sudo -v asks for the password when the right is
//    requested, and the tool is then started through sudo, detached by
//    setsid -f so that sudo returns at once.
// A program that relaunches itself names its file by its argv[0], which may
// be a bare name its shell found on PATH or a path that someone could fill
// with another file while the user is being asked: root runs the file this
// process runs instead, by the absolute path the kernel reports for it.
#include "platform/Authorization.h"

#include "platform/UniqueFd.h"
#include "platform/session/CallerSession.h"
#include "platform/session/Process.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

struct AuthorizationOpaqueRef {
    std::uint32_t magic;
    bool adminGranted;
};

namespace orvik::authorization {
namespace {

constexpr std::uint32_t kMagic = 0x4F41555Au;
constexpr const char* kAdminRight = "system.privilege.admin";
constexpr int kPkexecDismissed = 126;
constexpr int kPkexecNotAuthorized = 127;

const Environment* g_override = nullptr;
Environment g_overrideCopy;

AuthorizationOpaqueRef* Unwrap(AuthorizationRef ref) {
    auto* record = const_cast<AuthorizationOpaqueRef*>(ref);
    return record != nullptr && record->magic == kMagic ? record : nullptr;
}

enum class Method { Root, Pkexec, Sudo, None };

Method ChooseMethod(const Environment& env) {
    if (env.runningAsRoot)
        return Method::Root;
    if (env.graphicalSession && process::IsExecutable(env.pkexecPath))
        return Method::Pkexec;
    if (env.hasTerminal && process::IsExecutable(env.sudoPath))
        return Method::Sudo;
    return Method::None;
}

// Runs argv (argv[0] an absolute path) with this process's terminal and
// the given streams and returns its exit status, or -1 when it could not run.
int RunAndWait(std::vector<std::string> args, process::Options options = {}) {
    options.argv = std::move(args);
    pid_t pid = -1;
    if (process::Start(options, &pid) != 0)
        return -1;
    return process::ExitStatus(process::Wait(pid));
}

// Requests the administrator right for a process that is not root.
OSStatus ObtainAdminRight(const Environment& env, AuthorizationFlags flags) {
    if ((flags & kAuthorizationFlagExtendRights) == 0)
        return errAuthorizationDenied;
    if ((flags & kAuthorizationFlagInteractionAllowed) == 0)
        return errAuthorizationInteractionNotAllowed;
    switch (ChooseMethod(env)) {
    case Method::Root:
        return errAuthorizationSuccess;
    case Method::Pkexec:
        // pkexec authenticates the start of the tool itself; asking here too
        // would show the dialog twice.
        return errAuthorizationSuccess;
    case Method::Sudo:
        return RunAndWait({env.sudoPath, "-v"}) == 0 ? errAuthorizationSuccess
                                                     : errAuthorizationDenied;
    case Method::None:
        break;
    }
    return errAuthorizationInteractionNotAllowed;
}

// What the tool gets as its standard streams: the caller's graphical
// session handed over on its input, the caller's terminal as its output
// (not as its controlling terminal), so that what it tells the user reaches
// them. sudo would put its own pseudo-terminal in between, which goes away
// when sudo returns, so through sudo the output is a pipe to a relay of
// this process that writes to the terminal.
struct ToolStreams {
    UniqueFd input;  // -1: /dev/null
    UniqueFd output; // -1: /dev/null

    void ApplyTo(process::Options* options) const {
        options->in = input.get() >= 0 ? process::Stream::Of(input.get())
                                       : process::Stream{process::Stream::Null};
        options->out = output.get() >= 0 ? process::Stream::Of(output.get())
                                         : process::Stream{process::Stream::Null};
        // What the shell commands of the tool complain about is not for the
        // user's terminal.
        options->err = process::Stream{process::Stream::Null};
    }
};

UniqueFd RelayToTerminal(UniqueFd terminal) {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0)
        return UniqueFd();
    UniqueFd readEnd(ends[0]), writeEnd(ends[1]);
    if (process::StartRelay(readEnd.get(), terminal.get()) < 0)
        return UniqueFd();
    return writeEnd;
}

ToolStreams PrepareToolStreams(Method method) {
    ToolStreams streams;
    if (method != Method::Root)
        streams.input = session::HandOff();
    UniqueFd terminal(open("/dev/tty", O_WRONLY | O_NOCTTY | O_CLOEXEC));
    if (terminal.get() >= 0)
        streams.output =
            method == Method::Sudo ? RelayToTerminal(std::move(terminal)) : std::move(terminal);
    return streams;
}

// Root: the tool starts in a new session as a grandchild, so that it is
// nobody's child here and never holds this process's terminal as its own.
OSStatus StartDirectly(const std::vector<std::string>& toolArgs, const ToolStreams& streams) {
    process::Options options;
    options.argv = toolArgs;
    options.newSession = true;
    options.detached = true;
    streams.ApplyTo(&options);
    pid_t pid = -1;
    return process::Start(options, &pid) == 0 ? errAuthorizationSuccess
                                              : errAuthorizationToolExecuteFailure;
}

// The command name and state of a process from /proc/<pid>/stat.
bool ReadProcessState(pid_t pid, std::string* comm, char* state) {
    const std::string path = "/proc/" + std::to_string(pid) + "/stat";
    const UniqueFd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0)
        return false;
    char buffer[512];
    const ssize_t n = read(fd.get(), buffer, sizeof buffer - 1);
    if (n <= 0)
        return false;
    const std::string text(buffer, static_cast<size_t>(n));
    const size_t open = text.find('('), close = text.rfind(')');
    if (open == std::string::npos || close == std::string::npos || close + 2 >= text.size())
        return false;
    *comm = text.substr(open + 1, close - open - 1);
    *state = text[close + 2];
    return true;
}

OSStatus StatusOfPkexecExit(int status) {
    if (!WIFEXITED(status))
        return errAuthorizationCanceled;
    switch (WEXITSTATUS(status)) {
    case kPkexecDismissed:
        return errAuthorizationCanceled;
    case kPkexecNotAuthorized:
        return errAuthorizationDenied;
    default:
        return errAuthorizationToolExecuteFailure;
    }
}

// After the pipe closed, pkexec has either become the tool or is ending.
OSStatus AwaitPkexecOutcome(pid_t pid, const std::string& pkexecPath) {
    const std::string pkexecName = pkexecPath.substr(pkexecPath.rfind('/') + 1).substr(0, 15);
    // A kernel's exec closes descriptors just before it renames the process;
    // the loop waits out that instant (bounded at about ten seconds).
    for (int attempt = 0; attempt < 10000; ++attempt) {
        int status = 0;
        const pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid)
            return StatusOfPkexecExit(status);
        if (done < 0 && errno != EINTR)
            return errAuthorizationInternal;
        std::string comm;
        char state = '?';
        if (ReadProcessState(pid, &comm, &state) && state != 'Z' && state != 'X' &&
            comm != pkexecName)
            return errAuthorizationSuccess;
        usleep(1000);
    }
    return errAuthorizationInternal;
}

// pkexec marks every descriptor above 2 close-on-exec before it becomes the
// tool, so a pipe it inherits reaches end of file exactly when the tool
// starts or pkexec gives up.
OSStatus StartThroughPkexec(const Environment& env, const std::vector<std::string>& toolArgs,
                            const ToolStreams& streams) {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0)
        return errAuthorizationInternal;
    UniqueFd startedRead(ends[0]), startedWrite(ends[1]);
    process::Options options;
    options.argv = {env.pkexecPath};
    options.argv.insert(options.argv.end(), toolArgs.begin(), toolArgs.end());
    options.newSession = true;
    options.inheritedFd = startedWrite.get();
    streams.ApplyTo(&options);
    pid_t pid = -1;
    if (process::Start(options, &pid) != 0)
        return errAuthorizationToolExecuteFailure;
    startedWrite = UniqueFd();
    char byte;
    while (read(startedRead.get(), &byte, 1) < 0 && errno == EINTR) {
    }
    return AwaitPkexecOutcome(pid, env.pkexecPath);
}

std::string ShellQuote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

// sudo runs a shell that hands the tool to setsid -f: the tool gets a new
// session, and sudo returns as soon as it is started.
OSStatus StartThroughSudo(const Environment& env, const std::vector<std::string>& toolArgs,
                          const ToolStreams& streams) {
    const std::string script =
        "[ -x \"$0\" ] || exit 126; exec " + ShellQuote(env.setsidPath) + " -f \"$0\" \"$@\"";
    std::vector<std::string> args{env.sudoPath, "--", env.shellPath, "-c", script};
    args.insert(args.end(), toolArgs.begin(), toolArgs.end());
    process::Options options;
    streams.ApplyTo(&options);
    const int status = RunAndWait(std::move(args), options);
    if (status == 0)
        return errAuthorizationSuccess;
    return status == 1 ? errAuthorizationDenied : errAuthorizationToolExecuteFailure;
}

// argv[0] as the kernel holds it: the first field of the command line.
std::string ReadOwnProgramName() {
    std::ifstream cmdline("/proc/self/cmdline", std::ios::binary);
    std::string name;
    std::getline(cmdline, name, '\0');
    return name;
}

// The absolute path of the file this process runs; empty when that path no
// longer names it (the file was removed, or another one was put in its place).
std::string ResolveOwnProgramFile() {
    std::string path(PATH_MAX, '\0');
    const ssize_t n = readlink("/proc/self/exe", path.data(), path.size());
    if (n <= 0 || static_cast<size_t>(n) >= path.size() || path[0] != '/')
        return {};
    path.resize(static_cast<size_t>(n));
    struct stat running {};
    struct stat named {};
    if (stat("/proc/self/exe", &running) != 0 || stat(path.c_str(), &named) != 0 ||
        running.st_dev != named.st_dev || running.st_ino != named.st_ino)
        return {};
    return path;
}

// The file root is to run for `path`: this process's own file when `path` is
// its argv[0]; otherwise `path` itself, which must name a file by a path,
// since each elevation tool would look a bare name up differently. Empty when
// there is no such executable file.
std::string ToolFile(const Environment& env, const char* path) {
    std::string tool;
    if (!env.programName.empty() && env.programName == path)
        tool = env.programFile;
    else if (std::strchr(path, '/') != nullptr)
        tool = path;
    return !tool.empty() && process::IsExecutable(tool) ? tool : std::string();
}

} // namespace

Environment CurrentEnvironment() {
    if (g_override != nullptr)
        return *g_override;
    Environment env;
    env.runningAsRoot = geteuid() == 0;
    const char* display = getenv("DISPLAY");
    const char* wayland = getenv("WAYLAND_DISPLAY");
    env.graphicalSession =
        (display != nullptr && *display != '\0') || (wayland != nullptr && *wayland != '\0');
    env.hasTerminal = UniqueFd(open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC)).get() >= 0;
    env.programName = ReadOwnProgramName();
    env.programFile = ResolveOwnProgramFile();
    return env;
}

void SetEnvironmentOverride(const Environment* environment) {
    if (environment == nullptr) {
        g_override = nullptr;
        return;
    }
    g_overrideCopy = *environment;
    g_override = &g_overrideCopy;
}

} // namespace orvik::authorization

using namespace orvik::authorization;

OSStatus AuthorizationCreate(const AuthorizationRights* rights,
                             const AuthorizationEnvironment* environment, AuthorizationFlags flags,
                             AuthorizationRef* authorization) {
    if (authorization == nullptr)
        return errAuthorizationInvalidPointer;
    auto* record = new AuthorizationOpaqueRef{kMagic, false};
    if (rights != nullptr && rights->count > 0) {
        const OSStatus status =
            AuthorizationCopyRights(record, rights, environment, flags, nullptr);
        if (status != errAuthorizationSuccess) {
            record->magic = 0;
            delete record;
            return status;
        }
    }
    *authorization = record;
    return errAuthorizationSuccess;
}

OSStatus AuthorizationFree(AuthorizationRef authorization, AuthorizationFlags) {
    AuthorizationOpaqueRef* record = Unwrap(authorization);
    if (record == nullptr)
        return errAuthorizationInvalidRef;
    record->magic = 0;
    delete record;
    return errAuthorizationSuccess;
}

OSStatus AuthorizationCopyRights(AuthorizationRef authorization, const AuthorizationRights* rights,
                                 const AuthorizationEnvironment*, AuthorizationFlags flags,
                                 AuthorizationRights** authorizedRights) {
    if (authorizedRights != nullptr)
        *authorizedRights = nullptr;
    AuthorizationOpaqueRef* record = Unwrap(authorization);
    if (record == nullptr)
        return errAuthorizationInvalidRef;
    if (rights == nullptr || (rights->count > 0 && rights->items == nullptr))
        return errAuthorizationInvalidSet;
    const Environment env = CurrentEnvironment();
    for (UInt32 i = 0; i < rights->count; ++i) {
        const char* name = rights->items[i].name;
        if (name == nullptr)
            return errAuthorizationInvalidSet;
        if (env.runningAsRoot)
            continue;
        if (std::strcmp(name, kAdminRight) != 0)
            return errAuthorizationDenied;
        if (record->adminGranted)
            continue;
        const OSStatus status = ObtainAdminRight(env, flags);
        if (status != errAuthorizationSuccess)
            return status;
        record->adminGranted = true;
    }
    return errAuthorizationSuccess;
}

OSStatus AuthorizationExecuteWithPrivileges(AuthorizationRef authorization, const char* pathToTool,
                                            AuthorizationFlags, char* const* arguments,
                                            FILE** communicationsPipe) {
    if (communicationsPipe != nullptr)
        *communicationsPipe = nullptr;
    AuthorizationOpaqueRef* record = Unwrap(authorization);
    if (record == nullptr)
        return errAuthorizationInvalidRef;
    if (pathToTool == nullptr)
        return errAuthorizationInvalidPointer;
    const Environment env = CurrentEnvironment();
    const std::string tool = ToolFile(env, pathToTool);
    if (tool.empty())
        return errAuthorizationToolExecuteFailure;
    std::vector<std::string> toolArgs{tool};
    for (char* const* a = arguments; a != nullptr && *a != nullptr; ++a)
        toolArgs.emplace_back(*a);

    const Method method = ChooseMethod(env);
    if (method == Method::Root)
        return StartDirectly(toolArgs, PrepareToolStreams(method));
    if (!record->adminGranted) {
        const OSStatus status = ObtainAdminRight(env, kAuthorizationFlagExtendRights |
                                                          kAuthorizationFlagInteractionAllowed);
        if (status != errAuthorizationSuccess)
            return status;
        record->adminGranted = true;
    }
    switch (method) {
    case Method::Pkexec:
        return StartThroughPkexec(env, toolArgs, PrepareToolStreams(method));
    case Method::Sudo:
        return StartThroughSudo(env, toolArgs, PrepareToolStreams(method));
    default:
        return errAuthorizationInteractionNotAllowed;
    }
}
