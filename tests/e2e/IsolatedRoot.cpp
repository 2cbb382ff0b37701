#include "IsolatedRoot.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <regex>
#include <sched.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

namespace e2e {

namespace {

// Lays out $top/root: an overlay of "/" whose changes go to a tmpfs, with a private /proc,
// /sys, /dev and /run. The host's devtmpfs is shared, so /dev/log must not be bound there;
// /tmp stays the overlay's, since a build folder below the host's /tmp must stay readable.
const char* const kBuildRoot = R"(set -e
mount --make-rprivate /
mount -t tmpfs -o mode=0755 tmpfs "$top" && cd "$top" && mkdir upper work root && cd root
mount -t overlay -o "lowerdir=/,upperdir=$top/upper,workdir=$top/work" overlay .
mount -t proc -o nosuid,nodev,noexec proc proc && mount --rbind /sys sys
mount -t tmpfs -o nosuid,nodev,mode=0755 tmpfs run
mount -t tmpfs -o nosuid,mode=0755 tmpfs dev && cd dev && mkdir pts && mkdir -m 1777 shm
mount -t devpts -o nosuid,noexec,newinstance,ptmxmode=0666,mode=0620 devpts pts
mount -t tmpfs -o nosuid,nodev,mode=1777 tmpfs shm
mknod -m 666 null c 1 3 && mknod -m 666 zero c 1 5 && mknod -m 666 full c 1 7
mknod -m 666 random c 1 8 && mknod -m 666 urandom c 1 9 && mknod -m 666 tty c 5 0
ln -s pts/ptmx ptmx && ln -s /proc/self/fd fd
ln -s fd/0 stdin && ln -s fd/1 stdout && ln -s fd/2 stderr)";

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

// The namespace's init: builds the root, runs the body in a child, reaps every orphan and
// ends with the body.
[[noreturn]] void InitProcess(const std::string& top, const std::function<void()>& body) {
    if (std::system(("top=" + top + "\n" + kBuildRoot).c_str()) != 0 ||
        chroot((top + "/root").c_str()) != 0 || chdir("/") != 0)
        _exit(120);
    const pid_t worker = fork();
    if (worker == 0) {
        body();
        fflush(nullptr);
        _exit(::testing::Test::HasFailure() ? 1 : 0);
    }
    for (int status = 0;;)
        if (const pid_t pid = wait(&status); pid == worker || (pid < 0 && errno != EINTR))
            _exit(pid == worker ? StatusOf(status) : 121);
}

} // namespace

bool PollUntil(double seconds, const std::function<bool()>& ready) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!ready()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        usleep(50000);
    }
    return true;
}

void RunInIsolatedRoot(const std::function<void()>& body) {
    char top[] = "/tmp/orvik-e2e.XXXXXX";
    ASSERT_NE(mkdtemp(top), nullptr) << strerror(errno);
    fflush(nullptr);
    const pid_t outer = fork();
    if (outer == 0) {
        if (unshare(CLONE_NEWNS | CLONE_NEWPID | CLONE_NEWNET) != 0)
            _exit(122);
        const pid_t init = fork(); // the first child in the new PID namespace is its init
        if (init == 0)
            InitProcess(top, body);
        _exit(init < 0 ? 123 : WaitFor(init));
    }
    const int status = WaitFor(outer);
    rmdir(top); // the tmpfs lived only in the namespace
    EXPECT_EQ(status, 0) << "the scenario inside the isolated root failed (its messages are above)";
}

std::string InstallUninstaller(const std::string& folder) {
    RunOptions copy{
        {"/bin/sh", "-ec",
         "mkdir -p \"$0/bin\"; cp \"$1\" \"$0/bin/orvik-uninstaller\"; cp -r \"$2\" \"$0\"", folder,
         ORVIK_UNINSTALLER_PATH, ORVIK_BUILD_DIR "/share"}};
    EXPECT_EQ(RunAndWait(copy), 0);
    return folder + "/bin/orvik-uninstaller";
}

SyslogCapture::SyslogCapture() {
    unlink("/dev/log");
    m_socket = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{AF_UNIX, "/dev/log"};
    if (bind(m_socket, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ADD_FAILURE() << "cannot bind /dev/log: " << strerror(errno);
        return;
    }
    chmod("/dev/log", 0666);
    // Receiving and storing happen under the lock, so a line is never between the socket and
    // the list when Lines() answers. The destructor's shutdown ends the reader.
    m_reader = std::thread([this] {
        for (pollfd fd{m_socket, POLLIN | POLLRDHUP, 0}; !(fd.revents & POLLRDHUP);) {
            if (poll(&fd, 1, -1) < 0 && errno != EINTR)
                return;
            const std::lock_guard<std::mutex> lock(m_mutex);
            DrainLocked();
        }
    });
}

SyslogCapture::~SyslogCapture() {
    shutdown(m_socket, SHUT_RDWR);
    if (m_reader.joinable())
        m_reader.join();
    close(m_socket);
    unlink("/dev/log");
}

// Each datagram is "<PRI>Mmm dd hh:mm:ss ident: text".
void SyslogCapture::DrainLocked() {
    static const std::regex format(R"(<([0-9]+)>.{16}([^:]*): ([\s\S]*))");
    char buffer[65536];
    for (ssize_t n; (n = recv(m_socket, buffer, sizeof buffer, MSG_DONTWAIT)) > 0;) {
        std::smatch m;
        const std::string datagram(buffer, static_cast<size_t>(n));
        m_lines.push_back(!std::regex_match(datagram, m, format)
                              ? datagram
                              : m.str(2) + " " + std::to_string(std::stoi(m.str(1)) & 7) + " " +
                                    m.str(3));
    }
}

std::vector<std::string> SyslogCapture::Lines() {
    const std::lock_guard<std::mutex> lock(m_mutex);
    DrainLocked();
    return m_lines;
}

bool SyslogCapture::WaitForLine(const std::string& line, int seconds) {
    return PollUntil(seconds, [&] { return std::ranges::count(Lines(), line) > 0; });
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
    const auto cStrings = [](const std::vector<std::string>& strings) {
        std::vector<char*> out;
        for (const std::string& s : strings)
            out.push_back(const_cast<char*>(s.c_str()));
        out.push_back(nullptr);
        return out;
    };
    const std::vector<char*> argv = cStrings(options.argv), env = cStrings(options.env);
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

void Shell(const std::string& script) {
    fflush(nullptr);
    EXPECT_EQ(std::system(("set -e\n" + script).c_str()), 0) << script;
}

pid_t StartDetached(const RunOptions& options) {
    RunOptions shell = options;
    shell.argv.insert(shell.argv.begin(),
                      {"/bin/sh", "-c", "\"$0\" \"$@\" </dev/null >/dev/null 2>&1 & echo $!"});
    std::string pid;
    return RunAndWait(shell, &pid) == 0 ? atoi(pid.c_str()) : -1;
}

bool ProcessAlive(pid_t pid) {
    const std::string stat = ReadFile("/proc/" + std::to_string(pid) + "/stat");
    const size_t close = stat.rfind(')');
    return close != std::string::npos && close + 2 < stat.size() &&
           std::string("ZX").find(stat[close + 2]) == std::string::npos;
}

void Stop(pid_t pid) {
    if (pid > 0 && kill(pid, SIGTERM) == 0 && !PollUntil(10, [&] { return !ProcessAlive(pid); }))
        kill(pid, SIGKILL);
}

void WriteFile(const std::string& path, const std::string& content, mode_t mode) {
    ASSERT_TRUE(testsupport::WriteFile(path, content, mode)) << path << ": " << strerror(errno);
}

std::string Tree(const std::string& folders) {
    std::string out;
    RunAndWait({{"/bin/sh", "-c", "find " + folders + " -printf '%p %y %m %s %l\\n' | sort"}},
               &out);
    return out;
}

} // namespace e2e
