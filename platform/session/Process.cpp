// Program start for the alert and authorization services: one fork/exec
// sequence, with every allocation before the fork.
#include "platform/session/Process.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace orvik::process {
namespace {

// The argument or environment vector execve takes, pointing into `texts`.
std::vector<char*> Vector(const std::vector<std::string>& texts) {
    std::vector<char*> vector;
    vector.reserve(texts.size() + 1);
    for (const std::string& text : texts)
        vector.push_back(const_cast<char*>(text.c_str()));
    vector.push_back(nullptr);
    return vector;
}

// ---- in the child: async-signal-safe calls only ------------------------------

[[noreturn]] void ReportAndExit(int report) {
    const int error = errno != 0 ? errno : EIO;
    [[maybe_unused]] const ssize_t n = write(report, &error, sizeof error);
    _exit(127);
}

bool PlaceStream(const Stream& stream, int target) {
    if (stream.kind == Stream::Inherit)
        return true;
    if (stream.kind == Stream::Descriptor) {
        if (stream.fd == target)
            return fcntl(target, F_SETFD, 0) == 0;
        return dup2(stream.fd, target) == target;
    }
    UniqueFd null(open("/dev/null", O_RDWR));
    if (null.get() == target) {
        null.release();
        return true;
    }
    return null.get() >= 0 && dup2(null.get(), target) == target;
}

bool BecomeUser(const Identity& identity) {
    return setgroups(identity.groups.size(), identity.groups.data()) == 0 &&
           setgid(identity.gid) == 0 && setuid(identity.uid) == 0;
}

[[noreturn]] void RunChild(const Options& options, char* const* argv, char* const* envp,
                           int report) {
    if (options.newSession && setsid() < 0)
        ReportAndExit(report);
    if (!PlaceStream(options.in, 0) || !PlaceStream(options.out, 1) || !PlaceStream(options.err, 2))
        ReportAndExit(report);
    if (options.inheritedFd >= 0 && fcntl(options.inheritedFd, F_SETFD, 0) != 0)
        ReportAndExit(report);
    if (options.switchUser && !BecomeUser(options.identity))
        ReportAndExit(report);
    if (!options.workingFolder.empty() && chdir(options.workingFolder.c_str()) != 0)
        ReportAndExit(report);
    if (options.detached) {
        const pid_t grandchild = fork();
        if (grandchild < 0)
            ReportAndExit(report);
        if (grandchild > 0)
            _exit(0);
    }
    execve(argv[0], argv, envp);
    ReportAndExit(report);
}

// ---- in the parent -----------------------------------------------------------

// The child's report: 0 when the pipe closed without one (the exec happened).
int ReadReport(const UniqueFd& report) {
    int error = 0;
    ssize_t n;
    do
        n = read(report.get(), &error, sizeof error);
    while (n < 0 && errno == EINTR);
    return n == static_cast<ssize_t>(sizeof error) ? (error != 0 ? error : EIO) : 0;
}

} // namespace

bool IdentityOfUser(uid_t uid, Identity* identity, std::string* name, std::string* home) {
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr)
        return false;
    int count = 32;
    std::vector<gid_t> groups(static_cast<size_t>(count));
    while (getgrouplist(entry.pw_name, entry.pw_gid, groups.data(), &count) < 0) {
        if (count <= static_cast<int>(groups.size()))
            return false;
        groups.resize(static_cast<size_t>(count));
    }
    groups.resize(static_cast<size_t>(count));
    *identity = Identity{entry.pw_uid, entry.pw_gid, std::move(groups)};
    *name = entry.pw_name;
    *home = entry.pw_dir;
    return true;
}

bool IsExecutable(const std::string& path) {
    return !path.empty() && access(path.c_str(), X_OK) == 0;
}

int Start(const Options& options, pid_t* pid) {
    *pid = -1;
    if (options.argv.empty() || options.argv[0].empty() || options.argv[0][0] != '/')
        return EINVAL;
    const std::vector<char*> argv = Vector(options.argv);
    const std::vector<char*> ownEnvironment =
        options.replaceEnvironment ? Vector(options.environment) : std::vector<char*>();
    char* const* envp = options.replaceEnvironment ? ownEnvironment.data() : environ;
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0)
        return errno;
    UniqueFd reportRead(ends[0]), reportWrite(ends[1]);
    const pid_t child = fork();
    if (child < 0)
        return errno;
    if (child == 0)
        RunChild(options, argv.data(), envp, reportWrite.get());
    reportWrite = UniqueFd();
    const int error = ReadReport(reportRead);
    if (error != 0 || options.detached)
        Wait(child);
    if (error == 0)
        *pid = options.detached ? 0 : child;
    return error;
}

int Wait(pid_t pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0)
        if (errno != EINTR)
            return -1;
    return status;
}

int ExitStatus(int waitStatus) {
    return waitStatus >= 0 && WIFEXITED(waitStatus) ? WEXITSTATUS(waitStatus) : -1;
}

void ReadUntilClosed(const UniqueFd& out, std::string* outText, const UniqueFd& err,
                     std::string* errText) {
    pollfd fds[2] = {{out.get(), POLLIN, 0}, {err.get(), POLLIN, 0}};
    std::string* texts[2] = {outText, errText};
    int open = 2;
    while (open > 0) {
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0)
                continue;
            char buffer[4096];
            const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                texts[i]->append(buffer, static_cast<size_t>(n));
            } else if (n == 0 || errno != EINTR) {
                fds[i].fd = -1;
                --open;
            }
        }
    }
}

pid_t StartRelay(int from, int to) {
    if (from < 3 || to < 3 || from == to)
        return -1;
    const pid_t relay = fork();
    if (relay != 0)
        return relay;
    // Only the two ends stay open: a copy of the pipe's write end here would
    // keep it from ever closing, and the caller's own streams must reach end
    // of file when the caller ends.
    const int null = open("/dev/null", O_RDWR);
    for (int target = 0; target <= 2 && null >= 0; ++target)
        dup2(null, target);
    const unsigned low = static_cast<unsigned>(std::min(from, to));
    const unsigned high = static_cast<unsigned>(std::max(from, to));
    if (low > 3)
        close_range(3, low - 1, 0);
    if (high > low + 1)
        close_range(low + 1, high - 1, 0);
    close_range(high + 1, ~0u, 0);
    // Written after the caller has given the terminal back to its shell, or
    // has ended as the terminal's first process, which hangs up its group.
    signal(SIGTTOU, SIG_IGN);
    signal(SIGHUP, SIG_IGN);
    char buffer[4096];
    for (;;) {
        const ssize_t n = read(from, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            _exit(0);
        for (ssize_t done = 0; done < n;) {
            const ssize_t written = write(to, buffer + done, static_cast<size_t>(n - done));
            if (written < 0 && errno == EINTR)
                continue;
            if (written <= 0)
                _exit(0);
            done += written;
        }
    }
}

} // namespace orvik::process
