// Starting a program from a process that may have threads.
//
// Everything the new program gets (its argument vector, environment, user
// and group list, standard streams, working folder) is prepared before the
// fork; between fork and exec the child makes only async-signal-safe calls.
// A failed exec, or a failed step before it, comes back as its errno through
// a close-on-exec pipe, so Start returns only once the program runs or
// cannot.
//
//   orvik::process::Options options;
//   options.argv = {"/usr/bin/zenity", "--info", "--text=Done"};
//   pid_t pid = -1;
//   if (orvik::process::Start(options, &pid) == 0)
//       orvik::process::Wait(pid);            // the wait status, or -1
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

#include "platform/UniqueFd.h"

namespace orvik::process {

// A user to run as: uid, primary group and supplementary groups.
struct Identity {
    uid_t uid = 0;
    gid_t gid = 0;
    std::vector<gid_t> groups;
};

// The identity of a user by id from the user database; false when unknown.
bool IdentityOfUser(uid_t uid, Identity* identity, std::string* name, std::string* home);

// A standard stream of the new program: this process's own, /dev/null, or
// a descriptor of the caller's.
struct Stream {
    enum Kind { Inherit, Null, Descriptor } kind = Inherit;
    int fd = -1;
    static Stream Of(int descriptor) { return {Descriptor, descriptor}; }
};

struct Options {
    std::vector<std::string> argv;        // argv[0] is the program's absolute path
    bool replaceEnvironment = false;      // true: exactly `environment`
    std::vector<std::string> environment; // "NAME=value"
    bool switchUser = false;              // true: run as `identity`
    Identity identity;
    Stream in, out, err;
    bool newSession = false;   // setsid(): no controlling terminal
    bool detached = false;     // run as a grandchild nobody here waits for
    int inheritedFd = -1;      // a descriptor the program keeps across exec
    std::string workingFolder; // empty: this process's
};

// Whether `path` names a file this process may execute.
bool IsExecutable(const std::string& path);

// Starts the program. Returns 0 with its pid (0 when detached: it is nobody's
// child here), or the errno of the step that failed.
int Start(const Options& options, pid_t* pid);

// Waits for a child, retrying on EINTR. Returns its wait status, or -1.
int Wait(pid_t pid);

// The exit status of a wait status, or -1 when the program did not exit.
int ExitStatus(int waitStatus);

// Reads a child's standard output and standard error until both close.
void ReadUntilClosed(const UniqueFd& out, std::string* outText, const UniqueFd& err,
                     std::string* errText);

// Forks a process that copies everything read from `from` to `to` until
// `from` closes or `to` fails, then ends. Both stay open here; the caller
// closes its copies. Returns the relay's pid, or -1.
pid_t StartRelay(int from, int to);

} // namespace orvik::process
