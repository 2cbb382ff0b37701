// A throwaway root file system for running the real uninstaller, and the tools to watch it.
//
// RunInIsolatedRoot(body) forks; the child enters new mount and PID namespaces, lays an
// overlay over "/" whose changes go to a tmpfs, mounts /proc, /sys and a private /dev
// (device nodes, its own devpts, /dev/shm) inside, chroots into it and runs `body` in a
// process below the namespace's init, which reaps every orphan. Nothing the body does reaches
// the host's folders. gtest assertions inside the body are printed by the child; the parent
// test fails when the body failed or crashed.
//
// Inside the body: SyslogCapture binds /dev/log and collects what syslog(3) sends; PtySession
// runs a program on a pseudo-terminal and answers its prompts; StartDetached starts a real
// process that is not a child of the test.
#pragma once

#include <sys/types.h>

#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "../TestSupport.h"

namespace e2e {

// Empty when isolated roots can be made here; otherwise why not (for GTEST_SKIP).
std::string IsolatedRootUnavailableReason();

// Runs body inside a fresh isolated root; see above. Returns the body's failure as a gtest
// failure of the calling test.
void RunInIsolatedRoot(const std::function<void()>& body);

// ---- syslog -------------------------------------------------------------------------------

struct LogLine {
    int priority = -1; // LOG_NOTICE, LOG_WARNING, ... (facility stripped)
    std::string ident; // the text before ": " after the time stamp
    std::string text;  // what the program logged, its own newline kept
};

class SyslogCapture {
public:
    SyslogCapture(); // binds /dev/log (mode 0666) and starts reading
    ~SyslogCapture();
    SyslogCapture(const SyslogCapture&) = delete;
    SyslogCapture& operator=(const SyslogCapture&) = delete;

    std::vector<LogLine> Lines() const;
    void Clear();
    // Waits (at most `seconds`) until a line with this exact text has arrived.
    bool WaitForText(const std::string& text, int seconds) const;

private:
    void ReadLoop();
    void DrainLocked();
    int m_socket = -1;
    int m_stopPipe[2] = {-1, -1};
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_arrived;
    std::vector<LogLine> m_lines;
    std::thread m_reader;
};

// Parses one datagram "<PRI>Mmm dd hh:mm:ss ident: text".
LogLine ParseSyslogDatagram(const std::string& datagram);

// ---- processes ------------------------------------------------------------------------------

struct RunOptions {
    std::vector<std::string> argv; // argv[0] is the program path as given to the program
    std::string program;           // file to execute; argv[0] when empty
    std::string workingDirectory = "/";
    uid_t uid = 0; // drops to this user (and its group) when non-zero
    gid_t gid = 0;
    std::vector<std::string> env = {
        "PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin", "HOME=/root",
        "LANG=C"};
    bool ignoreSigterm = false;
};

// Options for running argv with the defaults above.
RunOptions Command(std::vector<std::string> argv);

// The first argument that turns this test program into a process that only waits for
// signals (whatever its name and further arguments).
inline constexpr const char* kSleeperArgument = "--orvik-e2e-sleeper";

// Starts a process that is not a child of the caller (double fork: the namespace's init
// reaps it). Returns its pid, or -1.
pid_t StartDetached(const RunOptions& options);

// Runs a program without a terminal (stdin /dev/null, in its own session) and waits for it.
// Returns its exit status (0-255) or 128+signal; -1 when it could not be started.
int RunAndWait(const RunOptions& options, std::string* output = nullptr);

// Whether a process with this pid exists and is not a zombie.
bool ProcessAlive(pid_t pid);

// Waits (at most `seconds`) until the process is gone and reaped.
bool WaitForProcessEnd(pid_t pid, int seconds);

// Waits (at most `seconds`) until no process's command line contains `needle`.
bool WaitUntilNoProcessMatches(const std::string& needle, int seconds);

// ---- pseudo-terminal --------------------------------------------------------------------------

class PtySession {
public:
    // Starts the program on a new pseudo-terminal as its controlling terminal.
    explicit PtySession(const RunOptions& options);
    ~PtySession();
    PtySession(const PtySession&) = delete;
    PtySession& operator=(const PtySession&) = delete;

    bool Started() const { return m_pid > 0; }
    // Waits (at most `seconds`) until everything read so far (without "\r") contains `text`.
    bool WaitForOutput(const std::string& text, int seconds);
    void Send(const std::string& keys);
    // Waits for the program to end, reading its remaining output. Exit status as RunAndWait.
    int Wait(int seconds);
    const std::string& Output() const { return m_output; }

private:
    bool ReadSome(int timeoutMs);
    int m_master = -1;
    pid_t m_pid = -1;
    std::string m_output;
    int m_status = -1;
};

// ---- files ------------------------------------------------------------------------------------

void WriteFile(const std::string& path, const std::string& content, mode_t mode = 0644);
using testsupport::Exists; // lstat: a dangling link exists
using testsupport::ReadFile;
void MakeDirs(const std::string& path, mode_t mode = 0755);
void CopyFile(const std::string& from, const std::string& to, mode_t mode);
// Every entry below root (relative paths, sorted; folders end in "/", links show " -> target").
std::vector<std::string> ListTree(const std::string& root);

} // namespace e2e
