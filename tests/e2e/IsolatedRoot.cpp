#include "IsolatedRoot.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

namespace e2e {

namespace {

[[noreturn]] void Die(const char* what) {
    fprintf(stderr, "isolated root: %s: %s\n", what, strerror(errno));
    fflush(stderr);
    _exit(120);
}

void MountOrDie(const char* source, const std::string& target, const char* type,
                unsigned long flags, const char* data) {
    if (mount(source, target.c_str(), type, flags, data) != 0)
        Die(("mount " + target).c_str());
}

void MakeNode(const std::string& path, mode_t mode, unsigned major, unsigned minor) {
    if (mknod(path.c_str(), S_IFCHR | mode, makedev(major, minor)) != 0)
        Die(("mknod " + path).c_str());
    chmod(path.c_str(), mode); // mknod honours the umask
}

// Lays out <top>/root: overlay of "/", private /proc, /sys, /dev, /tmp. Runs as the PID
// namespace's init, in a private mount namespace.
void BuildRoot(const std::string& top) {
    MountOrDie("tmpfs", top, "tmpfs", 0, "mode=0755");
    const std::string upper = top + "/upper", work = top + "/work", root = top + "/root";
    for (const std::string& d : {upper, work, root})
        if (mkdir(d.c_str(), 0755) != 0)
            Die("mkdir");
    const std::string options = "lowerdir=/,upperdir=" + upper + ",workdir=" + work;
    MountOrDie("overlay", root, "overlay", 0, options.c_str());
    MountOrDie("proc", root + "/proc", "proc", MS_NOSUID | MS_NODEV | MS_NOEXEC, nullptr);
    if (mount("sysfs", (root + "/sys").c_str(), "sysfs",
              MS_RDONLY | MS_NOSUID | MS_NODEV | MS_NOEXEC, nullptr) != 0)
        MountOrDie("/sys", root + "/sys", nullptr, MS_BIND | MS_REC, nullptr);

    // A private /dev: the host's devtmpfs is shared, so /dev/log must not be bound there.
    const std::string dev = root + "/dev";
    MountOrDie("tmpfs", dev, "tmpfs", MS_NOSUID, "mode=0755");
    MakeNode(dev + "/null", 0666, 1, 3);
    MakeNode(dev + "/zero", 0666, 1, 5);
    MakeNode(dev + "/full", 0666, 1, 7);
    MakeNode(dev + "/random", 0666, 1, 8);
    MakeNode(dev + "/urandom", 0666, 1, 9);
    MakeNode(dev + "/tty", 0666, 5, 0);
    mkdir((dev + "/pts").c_str(), 0755);
    MountOrDie("devpts", dev + "/pts", "devpts", MS_NOSUID | MS_NOEXEC,
               "newinstance,ptmxmode=0666,mode=0620");
    if (symlink("pts/ptmx", (dev + "/ptmx").c_str()) != 0)
        Die("symlink ptmx");
    mkdir((dev + "/shm").c_str(), 01777);
    MountOrDie("tmpfs", dev + "/shm", "tmpfs", MS_NOSUID | MS_NODEV, "mode=1777");
    symlink("/proc/self/fd", (dev + "/fd").c_str());
    symlink("/proc/self/fd/0", (dev + "/stdin").c_str());
    symlink("/proc/self/fd/1", (dev + "/stdout").c_str());
    symlink("/proc/self/fd/2", (dev + "/stderr").c_str());
    // /tmp stays the overlay's: a build folder below the host's /tmp must stay readable, and
    // writes there go to the tmpfs like all others.
    MountOrDie("tmpfs", root + "/run", "tmpfs", MS_NOSUID | MS_NODEV, "mode=0755");

    if (chroot(root.c_str()) != 0)
        Die("chroot");
    if (chdir("/") != 0)
        Die("chdir");
}

// The namespace's init: runs the body in a child, reaps every orphan, ends with the body.
[[noreturn]] void InitProcess(const std::string& top, const std::function<void()>& body) {
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        Die("make / private");
    BuildRoot(top);
    fflush(stdout);
    pid_t worker = fork();
    if (worker < 0)
        Die("fork");
    if (worker == 0) {
        body();
        fflush(stdout);
        fflush(stderr);
        _exit(::testing::Test::HasFailure() ? 1 : 0);
    }
    for (;;) {
        int status = 0;
        pid_t pid = wait(&status);
        if (pid < 0 && errno == EINTR)
            continue;
        if (pid < 0)
            _exit(121);
        if (pid == worker)
            _exit(WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status));
    }
}

int StatusOf(int status) {
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    if (WIFSIGNALED(status))
        return 128 + WTERMSIG(status);
    return -1;
}

std::vector<char*> CStrings(const std::vector<std::string>& strings) {
    std::vector<char*> out;
    for (const std::string& s : strings)
        out.push_back(const_cast<char*>(s.c_str()));
    out.push_back(nullptr);
    return out;
}

// In a freshly forked child: working folder, user, signals, then exec. Never returns.
[[noreturn]] void ExecChild(const RunOptions& options, const std::vector<char*>& argv,
                            const std::vector<char*>& env) {
    signal(SIGPIPE, SIG_DFL);
    signal(SIGTERM, options.ignoreSigterm ? SIG_IGN : SIG_DFL);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    if (chdir(options.workingDirectory.c_str()) != 0)
        _exit(126);
    if (options.uid != 0) {
        if (setgroups(0, nullptr) != 0 || setgid(options.gid) != 0 || setuid(options.uid) != 0)
            _exit(126);
    }
    const std::string& program = options.program.empty() ? options.argv[0] : options.program;
    execve(program.c_str(), argv.data(), env.data());
    _exit(127);
}

// Sleeper mode of this program: started with "--orvik-e2e-sleeper" as its first argument
// (under any name and with any further arguments) it only waits for signals, so scenarios
// can run product processes with command lines of their choosing.
__attribute__((constructor)) void SleeperMode() {
    const std::string cmdline = testsupport::ReadFile("/proc/self/cmdline");
    // The arguments are zero-terminated one after the other: compare the second one whole.
    size_t first = cmdline.find('\0');
    if (first != std::string::npos && first + 1 < cmdline.size() &&
        strcmp(cmdline.c_str() + first + 1, "--orvik-e2e-sleeper") == 0) {
        for (;;)
            pause();
    }
}

} // namespace

std::string IsolatedRootUnavailableReason() {
    if (geteuid() != 0)
        return "the end-to-end runs need root (mounts, namespaces, chroot)";
    // Try the namespaces in a child, so the test process itself stays where it is.
    pid_t child = fork();
    if (child < 0)
        return "fork failed";
    if (child == 0) {
        if (unshare(CLONE_NEWNS | CLONE_NEWPID) != 0)
            _exit(1);
        if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
            _exit(2);
        char top[] = "/tmp/orvik-e2e-probe.XXXXXX";
        if (mkdtemp(top) == nullptr)
            _exit(3);
        int result = 0;
        if (mount("tmpfs", top, "tmpfs", 0, "mode=0755") != 0) {
            result = 4;
        } else {
            std::string t = top;
            mkdir((t + "/u").c_str(), 0755);
            mkdir((t + "/w").c_str(), 0755);
            mkdir((t + "/r").c_str(), 0755);
            std::string options = "lowerdir=/,upperdir=" + t + "/u,workdir=" + t + "/w";
            if (mount("overlay", (t + "/r").c_str(), "overlay", 0, options.c_str()) != 0)
                result = 5;
            umount2(top, MNT_DETACH);
        }
        rmdir(top);
        _exit(result);
    }
    int status = 0;
    waitpid(child, &status, 0);
    int code = StatusOf(status);
    switch (code) {
    case 0:
        return "";
    case 1:
        return "mount and PID namespaces are not available (unshare failed)";
    case 5:
        return "an overlay of / cannot be mounted here";
    default:
        return "the isolated root cannot be set up here (probe status " + std::to_string(code) +
               ")";
    }
}

void RunInIsolatedRoot(const std::function<void()>& body) {
    char top[] = "/tmp/orvik-e2e.XXXXXX";
    ASSERT_NE(mkdtemp(top), nullptr) << strerror(errno);
    fflush(stdout);
    fflush(stderr);
    pid_t outer = fork();
    ASSERT_GE(outer, 0) << strerror(errno);
    if (outer == 0) {
        if (unshare(CLONE_NEWNS | CLONE_NEWPID) != 0)
            Die("unshare");
        pid_t init = fork(); // the first child in the new PID namespace is its init
        if (init < 0)
            Die("fork init");
        if (init == 0)
            InitProcess(top, body);
        int status = 0;
        while (waitpid(init, &status, 0) < 0 && errno == EINTR) {
        }
        _exit(StatusOf(status));
    }
    int status = 0;
    while (waitpid(outer, &status, 0) < 0 && errno == EINTR) {
    }
    rmdir(top); // the tmpfs lived only in the namespace; the empty folder is ours
    EXPECT_EQ(StatusOf(status), 0)
        << "the scenario inside the isolated root failed (its messages are above)";
}

// ---- syslog -----------------------------------------------------------------------------------

LogLine ParseSyslogDatagram(const std::string& datagram) {
    LogLine line;
    line.text = datagram;
    if (datagram.size() < 3 || datagram[0] != '<')
        return line;
    size_t close = datagram.find('>');
    if (close == std::string::npos)
        return line;
    line.priority = atoi(datagram.substr(1, close - 1).c_str()) & 7;
    // "Mmm dd hh:mm:ss " is 16 characters; the identity runs up to the next ": ".
    size_t identStart = close + 1 + 16;
    size_t colon = datagram.find(": ", identStart);
    if (identStart > datagram.size() || colon == std::string::npos)
        return line;
    line.ident = datagram.substr(identStart, colon - identStart);
    line.text = datagram.substr(colon + 2);
    return line;
}

SyslogCapture::SyslogCapture() {
    unlink("/dev/log");
    m_socket = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    strcpy(address.sun_path, "/dev/log");
    if (m_socket < 0 ||
        bind(m_socket, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ADD_FAILURE() << "cannot bind /dev/log: " << strerror(errno);
        return;
    }
    chmod("/dev/log", 0666); // the unprivileged phase logs too
    int size = 4 << 20;
    setsockopt(m_socket, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    if (pipe2(m_stopPipe, O_CLOEXEC) != 0) {
        ADD_FAILURE() << "pipe: " << strerror(errno);
        return;
    }
    m_reader = std::thread([this] { ReadLoop(); });
}

SyslogCapture::~SyslogCapture() {
    if (m_reader.joinable()) {
        char stop = 1;
        (void)!write(m_stopPipe[1], &stop, 1);
        m_reader.join();
    }
    for (int fd : {m_socket, m_stopPipe[0], m_stopPipe[1]})
        if (fd >= 0)
            close(fd);
    unlink("/dev/log");
}

// Receiving and storing happen under the lock, by the reader and by Lines() alike, so a
// datagram is never in flight between the socket and the list when Lines() answers.
void SyslogCapture::DrainLocked() {
    std::vector<char> buffer(65536);
    for (;;) {
        ssize_t n = recv(m_socket, buffer.data(), buffer.size(), MSG_DONTWAIT);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        m_lines.push_back(ParseSyslogDatagram(std::string(buffer.data(), n)));
        m_arrived.notify_all();
    }
}

void SyslogCapture::ReadLoop() {
    for (;;) {
        pollfd fds[2] = {{m_socket, POLLIN, 0}, {m_stopPipe[0], POLLIN, 0}};
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (fds[0].revents & POLLIN) {
            std::lock_guard<std::mutex> lock(m_mutex);
            DrainLocked();
            continue; // drain before honouring a stop
        }
        if (fds[1].revents)
            return;
    }
}

std::vector<LogLine> SyslogCapture::Lines() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    const_cast<SyslogCapture*>(this)->DrainLocked();
    return m_lines;
}

void SyslogCapture::Clear() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_lines.clear();
}

bool SyslogCapture::WaitForText(const std::string& text, int seconds) const {
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_arrived.wait_for(lock, std::chrono::seconds(seconds), [&] {
        return std::any_of(m_lines.begin(), m_lines.end(),
                           [&](const LogLine& l) { return l.text == text; });
    });
}

// ---- processes --------------------------------------------------------------------------------

pid_t StartDetached(const RunOptions& options) {
    std::vector<char*> argv = CStrings(options.argv), env = CStrings(options.env);
    // `report` carries the pid; `execed` reaches end of file once the program runs (its write
    // end closes on exec), so a signal sent right after this returns meets the program itself.
    int report[2], execed[2];
    if (pipe2(report, O_CLOEXEC) != 0 || pipe2(execed, O_CLOEXEC) != 0)
        return -1;
    pid_t middle = fork();
    if (middle < 0)
        return -1;
    if (middle == 0) {
        setsid();
        pid_t grandchild = fork();
        if (grandchild == 0) {
            int devnull = open("/dev/null", O_RDWR);
            dup2(devnull, 0);
            dup2(devnull, 1);
            dup2(devnull, 2);
            ExecChild(options, argv, env);
        }
        (void)!write(report[1], &grandchild, sizeof grandchild);
        _exit(0);
    }
    close(report[1]);
    close(execed[1]);
    pid_t pid = -1;
    if (read(report[0], &pid, sizeof pid) != sizeof pid)
        pid = -1;
    char ignored;
    for (;;) {
        ssize_t n = read(execed[0], &ignored, 1);
        if (n == 0 || (n < 0 && errno != EINTR))
            break;
    }
    close(report[0]);
    close(execed[0]);
    waitpid(middle, nullptr, 0);
    return pid;
}

int RunAndWait(const RunOptions& options, std::string* output) {
    std::vector<char*> argv = CStrings(options.argv), env = CStrings(options.env);
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0)
        return -1;
    pid_t child = fork();
    if (child < 0)
        return -1;
    if (child == 0) {
        setsid();
        int devnull = open("/dev/null", O_RDONLY);
        dup2(devnull, 0);
        dup2(out[1], 1);
        dup2(out[1], 2);
        ExecChild(options, argv, env);
    }
    close(out[1]);
    std::string text;
    char buffer[4096];
    ssize_t n;
    while ((n = read(out[0], buffer, sizeof buffer)) > 0 || (n < 0 && errno == EINTR))
        if (n > 0)
            text.append(buffer, n);
    close(out[0]);
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (output != nullptr)
        *output = text;
    return StatusOf(status);
}

RunOptions Command(std::vector<std::string> argv) {
    RunOptions options;
    options.argv = std::move(argv);
    return options;
}

bool WaitForProcessEnd(pid_t pid, int seconds) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    const std::string path = "/proc/" + std::to_string(pid);
    while (Exists(path)) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        usleep(10000);
    }
    return true;
}

bool ProcessAlive(pid_t pid) {
    std::string stat = ReadFile("/proc/" + std::to_string(pid) + "/stat");
    if (stat.empty())
        return false;
    size_t close = stat.rfind(')');
    return close != std::string::npos && close + 2 < stat.size() && stat[close + 2] != 'Z' &&
           stat[close + 2] != 'X';
}

bool WaitUntilNoProcessMatches(const std::string& needle, int seconds) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    const std::string self = std::to_string(getpid());
    for (;;) {
        bool found = false;
        if (DIR* proc = opendir("/proc")) {
            while (dirent* entry = readdir(proc)) {
                if (entry->d_name[0] < '0' || entry->d_name[0] > '9' || self == entry->d_name)
                    continue;
                std::string base = std::string("/proc/") + entry->d_name;
                std::string cmdline = ReadFile(base + "/cmdline");
                std::replace(cmdline.begin(), cmdline.end(), '\0', ' ');
                if (cmdline.find(needle) != std::string::npos && ProcessAlive(atoi(entry->d_name)))
                    found = true;
            }
            closedir(proc);
        }
        if (!found)
            return true;
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        usleep(20000);
    }
}

// ---- pseudo-terminal ----------------------------------------------------------------------------

PtySession::PtySession(const RunOptions& options) {
    m_master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_master < 0 || grantpt(m_master) != 0 || unlockpt(m_master) != 0) {
        ADD_FAILURE() << "no pseudo-terminal: " << strerror(errno);
        return;
    }
    std::string slave = ptsname(m_master);
    if (options.uid != 0)
        (void)!chown(slave.c_str(), options.uid, options.gid);
    std::vector<char*> argv = CStrings(options.argv), env = CStrings(options.env);
    m_pid = fork();
    if (m_pid == 0) {
        setsid();
        int fd = open(slave.c_str(), O_RDWR); // the session's controlling terminal from now on
        if (fd < 0)
            _exit(125);
        ioctl(fd, TIOCSCTTY, 0);
        dup2(fd, 0);
        dup2(fd, 1);
        dup2(fd, 2);
        if (fd > 2)
            close(fd);
        ExecChild(options, argv, env);
    }
}

PtySession::~PtySession() {
    if (m_pid > 0 && m_status < 0) {
        kill(m_pid, SIGKILL);
        waitpid(m_pid, nullptr, 0);
    }
    if (m_master >= 0)
        close(m_master);
}

bool PtySession::ReadSome(int timeoutMs) {
    pollfd fd = {m_master, POLLIN, 0};
    if (poll(&fd, 1, timeoutMs) <= 0)
        return false;
    char buffer[4096];
    ssize_t n = read(m_master, buffer, sizeof buffer);
    if (n <= 0)
        return false; // EIO: every slave descriptor is closed
    // The terminal turns "\n" into "\r\n"; the prompts are compared without the "\r".
    for (ssize_t i = 0; i < n; ++i)
        if (buffer[i] != '\r')
            m_output += buffer[i];
    return true;
}

bool PtySession::WaitForOutput(const std::string& text, int seconds) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (m_output.find(text) == std::string::npos) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        if (!ReadSome(100)) {
            // Nothing more will come once the program has ended.
            if (m_status < 0) {
                int status = 0;
                if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
                    m_status = StatusOf(status);
                    while (ReadSome(0)) {
                    }
                    return m_output.find(text) != std::string::npos;
                }
            }
        }
    }
    return true;
}

void PtySession::Send(const std::string& keys) {
    (void)!write(m_master, keys.data(), keys.size());
}

int PtySession::Wait(int seconds) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (m_status < 0) {
        while (ReadSome(0)) {
        }
        int status = 0;
        pid_t done = waitpid(m_pid, &status, WNOHANG);
        if (done == m_pid) {
            m_status = StatusOf(status);
            break;
        }
        if (std::chrono::steady_clock::now() > deadline) {
            ADD_FAILURE() << "the program on the terminal did not end; its output:\n" << m_output;
            kill(m_pid, SIGKILL);
            waitpid(m_pid, &status, 0);
            m_status = StatusOf(status);
            break;
        }
        ReadSome(50);
    }
    while (ReadSome(0)) {
    }
    return m_status;
}

// ---- files ------------------------------------------------------------------------------------

void WriteFile(const std::string& path, const std::string& content, mode_t mode) {
    ASSERT_TRUE(testsupport::WriteFile(path, content, mode)) << path << ": " << strerror(errno);
}

void MakeDirs(const std::string& path, mode_t mode) {
    for (size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
        std::string prefix = path.substr(0, slash);
        if (mkdir(prefix.c_str(), mode) != 0 && errno != EEXIST)
            ADD_FAILURE() << "mkdir " << prefix << ": " << strerror(errno);
        if (slash == std::string::npos)
            break;
    }
}

void CopyFile(const std::string& from, const std::string& to, mode_t mode) {
    WriteFile(to, ReadFile(from), mode);
}

namespace {
void ListInto(const std::string& root, const std::string& relative, std::vector<std::string>& out) {
    DIR* dir = opendir((root + "/" + relative).c_str());
    if (dir == nullptr)
        return;
    while (dirent* entry = readdir(dir)) {
        std::string name = entry->d_name;
        if (name == "." || name == "..")
            continue;
        std::string rel = relative.empty() ? name : relative + "/" + name;
        std::string full = root + "/" + rel;
        struct stat st;
        if (lstat(full.c_str(), &st) != 0)
            continue;
        if (S_ISLNK(st.st_mode)) {
            char target[4096];
            ssize_t n = readlink(full.c_str(), target, sizeof target - 1);
            out.push_back(rel + " -> " + std::string(target, n > 0 ? n : 0));
        } else if (S_ISDIR(st.st_mode)) {
            out.push_back(rel + "/");
            ListInto(root, rel, out);
        } else {
            out.push_back(rel);
        }
    }
    closedir(dir);
}
} // namespace

std::vector<std::string> ListTree(const std::string& root) {
    std::vector<std::string> out;
    ListInto(root, "", out);
    std::sort(out.begin(), out.end());
    return out;
}

} // namespace e2e
