#include "IsolatedRoot.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
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
#include <tuple>
#include <unistd.h>

namespace e2e {

namespace {

using Clock = std::chrono::steady_clock;

[[noreturn]] void Die(const std::string& what) {
    fprintf(stderr, "isolated root: %s: %s\n", what.c_str(), strerror(errno));
    fflush(stderr);
    _exit(120);
}

void MountOrDie(const char* source, const std::string& target, const char* type,
                unsigned long flags, const char* data) {
    if (mount(source, target.c_str(), type, flags, data) != 0)
        Die("mount " + target);
}

// Lays out <top>/root: an overlay of "/", a private /proc, /sys, /dev and /run, and enters it.
// Runs as the PID namespace's init, in a private mount namespace.
void BuildRoot(const std::string& top) {
    MountOrDie("tmpfs", top, "tmpfs", 0, "mode=0755");
    const std::string upper = top + "/upper", work = top + "/work", root = top + "/root";
    for (const std::string& d : {upper, work, root})
        if (mkdir(d.c_str(), 0755) != 0)
            Die("mkdir " + d);
    const std::string options = "lowerdir=/,upperdir=" + upper + ",workdir=" + work;
    MountOrDie("overlay", root, "overlay", 0, options.c_str());
    MountOrDie("proc", root + "/proc", "proc", MS_NOSUID | MS_NODEV | MS_NOEXEC, nullptr);
    MountOrDie("/sys", root + "/sys", nullptr, MS_BIND | MS_REC, nullptr);

    // The host's devtmpfs is shared: /dev/log must not be bound there.
    const std::string dev = root + "/dev";
    MountOrDie("tmpfs", dev, "tmpfs", MS_NOSUID, "mode=0755");
    for (const auto& [name, major, minor] : {std::tuple{"null", 1, 3},
                                             {"zero", 1, 5},
                                             {"full", 1, 7},
                                             {"random", 1, 8},
                                             {"urandom", 1, 9},
                                             {"tty", 5, 0}}) {
        const std::string node = dev + "/" + name;
        // mknod honours the umask
        if (mknod(node.c_str(), S_IFCHR, makedev(major, minor)) != 0 ||
            chmod(node.c_str(), 0666) != 0)
            Die("mknod " + node);
    }
    mkdir((dev + "/pts").c_str(), 0755);
    MountOrDie("devpts", dev + "/pts", "devpts", MS_NOSUID | MS_NOEXEC,
               "newinstance,ptmxmode=0666,mode=0620");
    mkdir((dev + "/shm").c_str(), 01777);
    MountOrDie("tmpfs", dev + "/shm", "tmpfs", MS_NOSUID | MS_NODEV, "mode=1777");
    for (const auto& [name, target] : {std::pair{"ptmx", "pts/ptmx"},
                                       {"fd", "/proc/self/fd"},
                                       {"stdin", "/proc/self/fd/0"},
                                       {"stdout", "/proc/self/fd/1"},
                                       {"stderr", "/proc/self/fd/2"}})
        if (symlink(target, (dev + "/" + name).c_str()) != 0)
            Die(std::string("symlink ") + name);
    // /tmp stays the overlay's: a build folder below the host's /tmp must stay readable.
    MountOrDie("tmpfs", root + "/run", "tmpfs", MS_NOSUID | MS_NODEV, "mode=0755");
    if (chroot(root.c_str()) != 0 || chdir("/") != 0)
        Die("chroot");
}

int StatusOf(int status) {
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

int WaitFor(pid_t pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0)
        if (errno != EINTR)
            return -1;
    return StatusOf(status);
}

// The namespace's init: runs the body in a child, reaps every orphan, ends with the body.
[[noreturn]] void InitProcess(const std::string& top, const std::function<void()>& body) {
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        Die("make / private");
    BuildRoot(top);
    fflush(stdout);
    const pid_t worker = fork();
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
        const pid_t pid = wait(&status);
        if (pid < 0 && errno != EINTR)
            _exit(121);
        if (pid == worker)
            _exit(StatusOf(status));
    }
}

std::vector<char*> CStrings(const std::vector<std::string>& strings) {
    std::vector<char*> out;
    for (const std::string& s : strings)
        out.push_back(const_cast<char*>(s.c_str()));
    out.push_back(nullptr);
    return out;
}

} // namespace

bool PollUntil(double seconds, const std::function<bool()>& ready) {
    const auto deadline = Clock::now() + std::chrono::duration<double>(seconds);
    while (!ready()) {
        if (Clock::now() > deadline)
            return false;
        usleep(50000);
    }
    return true;
}

std::string WhyNot(const std::vector<std::string>& tools) {
    if (geteuid() != 0)
        return "needs root (mounts, namespaces, chroot)";
#ifndef ORVIK_UNINSTALLER_PATH
    return "this build has no orvik-uninstaller";
#endif
    for (const std::string& tool : tools)
        if (access(tool.c_str(), X_OK) != 0)
            return tool + " is not installed (./dev.sh installs it)";
    return "";
}

void RunInIsolatedRoot(const std::function<void()>& body) {
    char top[] = "/tmp/orvik-e2e.XXXXXX";
    ASSERT_NE(mkdtemp(top), nullptr) << strerror(errno);
    fflush(stdout);
    fflush(stderr);
    const pid_t outer = fork();
    ASSERT_GE(outer, 0) << strerror(errno);
    if (outer == 0) {
        if (unshare(CLONE_NEWNS | CLONE_NEWPID) != 0)
            Die("unshare");
        const pid_t init = fork(); // the first child in the new PID namespace is its init
        if (init < 0)
            Die("fork init");
        if (init == 0)
            InitProcess(top, body);
        _exit(WaitFor(init));
    }
    const int status = WaitFor(outer);
    rmdir(top); // the tmpfs lived only in the namespace
    EXPECT_EQ(status, 0) << "the scenario inside the isolated root failed (its messages are above)";
}

std::string InstallUninstaller(const std::string& folder) {
    MakeDirs(folder + "/bin");
    const std::string program = folder + "/bin/orvik-uninstaller";
#ifdef ORVIK_UNINSTALLER_PATH
    CopyFile(ORVIK_UNINSTALLER_PATH, program, 0755);
    EXPECT_EQ(RunAndWait(Command({"/bin/cp", "-r", ORVIK_BUILD_DIR "/share", folder + "/share"})),
              0);
#endif
    return program;
}

// ---- syslog -----------------------------------------------------------------------------------

SyslogCapture::SyslogCapture() {
    unlink("/dev/log");
    m_socket = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    strcpy(address.sun_path, "/dev/log");
    if (m_socket < 0 ||
        bind(m_socket, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        pipe2(m_stop, O_CLOEXEC) != 0) {
        ADD_FAILURE() << "cannot bind /dev/log: " << strerror(errno);
        return;
    }
    chmod("/dev/log", 0666);
    m_reader = std::thread([this] {
        for (;;) {
            pollfd fds[2] = {{m_socket, POLLIN, 0}, {m_stop[0], POLLIN, 0}};
            if (poll(fds, 2, -1) < 0 && errno != EINTR)
                return;
            if (fds[0].revents & POLLIN) {
                const std::lock_guard<std::mutex> lock(m_mutex);
                DrainLocked();
            } else if (fds[1].revents != 0) {
                return;
            }
        }
    });
}

SyslogCapture::~SyslogCapture() {
    if (m_reader.joinable()) {
        (void)!write(m_stop[1], "", 1);
        m_reader.join();
    }
    for (int fd : {m_socket, m_stop[0], m_stop[1]})
        close(fd);
    unlink("/dev/log");
}

// Each datagram is "<PRI>Mmm dd hh:mm:ss ident: text". Receiving and storing happen under the
// lock, so a line is never between the socket and the list when Lines() answers.
void SyslogCapture::DrainLocked() {
    char buffer[65536];
    for (ssize_t n; (n = recv(m_socket, buffer, sizeof buffer, MSG_DONTWAIT)) > 0;) {
        const std::string datagram(buffer, static_cast<size_t>(n));
        LogLine line;
        const size_t close = datagram.find('>'), identStart = close + 1 + 16;
        const size_t colon = datagram.find(": ", identStart);
        if (datagram[0] == '<' && close != std::string::npos && colon != std::string::npos) {
            line.priority = atoi(datagram.c_str() + 1) & 7;
            line.ident = datagram.substr(identStart, colon - identStart);
            line.text = datagram.substr(colon + 2);
        } else {
            line.text = datagram;
        }
        m_lines.push_back(line);
    }
}

std::vector<LogLine> SyslogCapture::Lines() {
    const std::lock_guard<std::mutex> lock(m_mutex);
    DrainLocked();
    return m_lines;
}

void SyslogCapture::Clear() {
    const std::lock_guard<std::mutex> lock(m_mutex);
    DrainLocked();
    m_lines.clear();
}

bool SyslogCapture::WaitForText(const std::string& text, int seconds) {
    return PollUntil(seconds, [&] {
        const std::vector<LogLine> lines = Lines();
        return std::any_of(lines.begin(), lines.end(),
                           [&](const LogLine& line) { return line.text == text; });
    });
}

// ---- processes --------------------------------------------------------------------------------

RunOptions Command(std::vector<std::string> argv) {
    RunOptions options;
    options.argv = std::move(argv);
    return options;
}

Child::Child(const RunOptions& options, bool onTerminal) {
    std::string terminal;
    int ends[2] = {-1, -1};
    if (onTerminal) {
        m_fd = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
        if (m_fd < 0 || grantpt(m_fd) != 0 || unlockpt(m_fd) != 0) {
            ADD_FAILURE() << "no pseudo-terminal: " << strerror(errno);
            return;
        }
        terminal = ptsname(m_fd);
        if (options.uid != 0)
            (void)!chown(terminal.c_str(), options.uid, options.gid);
    } else if (pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) {
        ADD_FAILURE() << "pipe: " << strerror(errno);
        return;
    }
    const std::vector<char*> argv = CStrings(options.argv), env = CStrings(options.env);
    m_pid = fork();
    if (m_pid == 0) {
        setsid();
        const int in = onTerminal ? open(terminal.c_str(), O_RDWR) : open("/dev/null", O_RDONLY);
        fcntl(ends[1], F_SETFL, 0);
        const int out = onTerminal ? in : ends[1];
        if (in < 0 || (onTerminal && ioctl(in, TIOCSCTTY, 0) != 0))
            _exit(125);
        dup2(in, 0);
        dup2(out, 1);
        dup2(out, 2);
        signal(SIGPIPE, SIG_DFL);
        if (chdir(options.workingDirectory.c_str()) != 0 ||
            (options.uid != 0 &&
             (setgroups(0, nullptr) != 0 || setgid(options.gid) != 0 || setuid(options.uid) != 0)))
            _exit(126);
        execve(argv[0], argv.data(), env.data());
        _exit(127);
    }
    if (!onTerminal) {
        m_fd = ends[0];
        close(ends[1]);
    }
}

Child::~Child() {
    if (m_pid > 0 && m_status < 0) {
        kill(m_pid, SIGKILL);
        Ended(true);
    }
    if (m_fd >= 0)
        close(m_fd);
}

// Takes what the program wrote so far, and its exit status once it has ended.
bool Child::Ended(bool block) {
    char buffer[4096];
    // A terminal turns "\n" into "\r\n"; the prompts are compared without the "\r".
    for (ssize_t n; m_fd >= 0 && (n = read(m_fd, buffer, sizeof buffer)) > 0;)
        std::copy_if(buffer, buffer + n, std::back_inserter(m_output),
                     [](char c) { return c != '\r'; });
    int status = 0;
    if (m_status >= 0 || m_pid <= 0 || waitpid(m_pid, &status, block ? 0 : WNOHANG) != m_pid)
        return m_status >= 0;
    m_status = StatusOf(status);
    return Ended(false);
}

bool Child::WaitForOutput(const std::string& text, int seconds) {
    PollUntil(seconds, [&] { return Ended(false) || m_output.find(text) != std::string::npos; });
    return m_output.find(text) != std::string::npos;
}

void Child::Send(const std::string& keys) {
    (void)!write(m_fd, keys.data(), keys.size());
}

int Child::Wait(int seconds) {
    if (PollUntil(seconds, [&] { return Ended(false); }))
        return m_status;
    ADD_FAILURE() << "the program did not end; its output:\n" << m_output;
    kill(m_pid, SIGKILL);
    Ended(true);
    return -1;
}

int RunAndWait(const RunOptions& options, std::string* output) {
    Child child(options, false);
    const int status = child.Wait(300);
    if (output != nullptr)
        *output = child.Output();
    return status;
}

pid_t StartDetached(const RunOptions& options, bool ignoreSigterm) {
    RunOptions shell = options;
    shell.argv.insert(shell.argv.begin(),
                      {"/bin/sh", "-c",
                       std::string(ignoreSigterm ? "trap '' TERM; " : "") +
                           "\"$0\" \"$@\" </dev/null >/dev/null 2>&1 & echo $!"});
    std::string pid;
    return RunAndWait(shell, &pid) == 0 ? atoi(pid.c_str()) : -1;
}

bool ProcessAlive(pid_t pid) {
    const std::string stat = ReadFile("/proc/" + std::to_string(pid) + "/stat");
    const size_t close = stat.rfind(')');
    return close != std::string::npos && close + 2 < stat.size() &&
           std::string("ZX").find(stat[close + 2]) == std::string::npos;
}

bool WaitUntilNoProcessMatches(const std::string& needle, int seconds) {
    return PollUntil(seconds, [&] {
        return RunAndWait(Command({"/usr/bin/pgrep", "-f", "--", needle})) == 1;
    });
}

// ---- files ------------------------------------------------------------------------------------

void WriteFile(const std::string& path, const std::string& content, mode_t mode) {
    ASSERT_TRUE(testsupport::WriteFile(path, content, mode)) << path << ": " << strerror(errno);
}

void MakeDirs(const std::string& path) {
    std::error_code error;
    std::filesystem::create_directories(path, error);
    EXPECT_FALSE(error) << path << ": " << error.message();
}

void CopyFile(const std::string& from, const std::string& to, mode_t mode) {
    WriteFile(to, ReadFile(from), mode);
}

std::string Tree(const std::vector<std::string>& folders) {
    RunOptions find = Command(
        {"/bin/sh", "-c", "find \"$@\" -printf '%p %y %m %s %l\\n' 2>/dev/null | sort", "find"});
    find.argv.insert(find.argv.end(), folders.begin(), folders.end());
    std::string out;
    RunAndWait(find, &out);
    return out;
}

} // namespace e2e
