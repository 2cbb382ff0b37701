// A throwaway root file system for running the real uninstaller, and the tools to watch it.
//
// RunInIsolatedRoot(body) forks; the child enters new mount, PID and network namespaces (the
// last keeps X displays and other abstract sockets apart from concurrent runs), lays an
// overlay over "/" whose changes go to a tmpfs, mounts /proc, /sys and a private /dev inside,
// chroots into it and runs `body` below the namespace's init, which reaps every orphan.
// Nothing the body does reaches the host's folders. The calling test fails when the body
// failed or crashed.
#pragma once

#include <sys/types.h>

#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "../TestSupport.h"

namespace e2e {

using testsupport::Exists; // lstat: a dangling link exists
using testsupport::ReadFile;

// Skips unless running as root with every tool named installed.
#define E2E_SKIP_WITHOUT(...)                                                                      \
    for (const std::string& need : std::vector<std::string>{"/", __VA_ARGS__})                     \
        if (geteuid() != 0 || access(need.c_str(), X_OK) != 0)                                     \
    GTEST_SKIP() << (geteuid() != 0 ? "needs root (namespaces, chroot)"                            \
                                    : need + " is missing (./dev.sh)")

void RunInIsolatedRoot(const std::function<void()>& body);

inline const std::string kApp = "/Applications/ORVIK Tandro Riravor";
inline const std::string kStartup = "/Library/StartupItems/ORVIKTandroNetFilter";

// Puts this build's uninstaller with its catalogs at <folder>/bin/orvik-uninstaller.
std::string InstallUninstaller(const std::string& folder);

// Binds /dev/log (mode 0666, the unprivileged phase logs too) and keeps each line as
// "ident priority text" (facility stripped, the program's own newline kept). A reader takes
// the lines as they come: the socket's queue holds only a few, and a program that logs more
// waits until they are taken.
class SyslogCapture {
public:
    SyslogCapture();
    ~SyslogCapture();
    SyslogCapture(const SyslogCapture&) = delete;
    SyslogCapture& operator=(const SyslogCapture&) = delete;

    std::vector<std::string> Lines();
    // Waits (at most `seconds`) until this line has arrived.
    bool WaitForLine(const std::string& line, int seconds);

private:
    void DrainLocked();
    int m_socket = -1;
    std::mutex m_mutex;
    std::vector<std::string> m_lines;
    std::thread m_reader;
};

// Polls `ready` every 50 ms until it holds or `seconds` have passed.
bool PollUntil(double seconds, const std::function<bool()>& ready);

struct RunOptions {
    std::vector<std::string> argv; // argv[0] is the file to execute
    std::vector<std::string> env = {
        "PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin", "HOME=/root",
        "LANG=C"};
    std::string workingDirectory = "/";
    uid_t uid = 0; // drops to this user (and group) when non-zero
    gid_t gid = 0;
};

// A program started in a session of its own, either on a new pseudo-terminal that is its
// controlling terminal, or without a terminal (input /dev/null, output and errors to a pipe).
class Child {
public:
    Child(const RunOptions& options, bool onTerminal);
    ~Child(); // kills the program if it still runs
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    // Waits (at most `seconds`) until the output so far (without "\r") contains `text`.
    bool WaitForOutput(const std::string& text, int seconds);
    void Send(const std::string& keys);
    // Exit status (0-255) or 128+signal; a failure and -1 when it did not end in time.
    int Wait(int seconds);
    const std::string& Output() const { return m_output; }

private:
    bool Ended(bool block);
    int m_fd = -1;
    pid_t m_pid = -1;
    std::string m_output;
    int m_status = -1;
};

// Runs the program without a terminal and waits for it.
int RunAndWait(const RunOptions& options, std::string* output = nullptr);
// Runs a shell script (set -e), its messages going to the test's output; fails the test
// unless it succeeds.
void Shell(const std::string& script);

// Starts a process that is not a child of the test (the namespace's init reaps it). Returns
// its pid, or -1.
pid_t StartDetached(const RunOptions& options);
bool ProcessAlive(pid_t pid); // exists and is not a zombie
// SIGTERM, and SIGKILL when the process has not ended 10 s later.
void Stop(pid_t pid);

void WriteFile(const std::string& path, const std::string& content, mode_t mode = 0644);
// Every entry below the folders, with its type, mode, size and link target, sorted.
std::string Tree(const std::string& folders);

} // namespace e2e
