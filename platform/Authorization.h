// Authorization services: obtain administrator rights and start a tool as root.
//
//   AuthorizationRef ref;
//   AuthorizationCreate(nullptr, kAuthorizationEmptyEnvironment, 0, &ref);
//   AuthorizationItem item = {kAuthorizationRightExecute, 0, nullptr, 0};
//   AuthorizationRights rights = {1, &item};
//   AuthorizationCopyRights(ref, &rights, nullptr, 19, nullptr);     // asks the user
//   char* args[] = {(char*)"-reallyuninstall", nullptr};
//   AuthorizationExecuteWithPrivileges(ref, "/path/tool", 0, args, nullptr);
//   AuthorizationFree(ref, 0);
//
// A process that already runs as root is granted every right without a
// prompt. Otherwise the user is asked interactively: through pkexec in a
// graphical session, through sudo on a terminal. The tool is started with
// exactly the argument vector {tool, arguments...}, in its own session
// without a controlling terminal. Its standard input holds the caller's
// graphical session (see session/CallerSession.h), its output is the caller's
// terminal when there is one, else /dev/null, and its error stream is
// /dev/null. The call returns
// once the tool has started or the elevation has failed, never waiting for
// the tool to finish. Refusal and failure are non-zero statuses.
//
// When `path` is how this process itself was started (its argv[0]: an
// absolute path, a relative one, or a bare name a shell found on PATH), the
// tool is this process's own file by its absolute path: never a PATH search
// as root, never whatever has been put at that path since. Any other tool is
// named by a path; a bare name is refused.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

typedef std::int32_t OSStatus;
typedef std::uint32_t UInt32;

typedef const struct AuthorizationOpaqueRef* AuthorizationRef;
typedef const char* AuthorizationString;
typedef UInt32 AuthorizationFlags;

struct AuthorizationItem {
    AuthorizationString name;
    std::size_t valueLength;
    void* value;
    UInt32 flags;
};
struct AuthorizationItemSet {
    UInt32 count;
    AuthorizationItem* items;
};
typedef AuthorizationItemSet AuthorizationRights;
typedef AuthorizationItemSet AuthorizationEnvironment;

#define kAuthorizationEmptyEnvironment nullptr
#define kAuthorizationRightExecute "system.privilege.admin"

enum : AuthorizationFlags {
    kAuthorizationFlagDefaults = 0,
    kAuthorizationFlagInteractionAllowed = 1u << 0,
    kAuthorizationFlagExtendRights = 1u << 1,
    kAuthorizationFlagPartialRights = 1u << 2,
    kAuthorizationFlagDestroyRights = 1u << 3,
    kAuthorizationFlagPreAuthorize = 1u << 4,
    kAuthorizationFlagNoData = 1u << 20
};

enum : OSStatus {
    errAuthorizationSuccess = 0,
    errAuthorizationInvalidSet = -60001,
    errAuthorizationInvalidRef = -60002,
    errAuthorizationInvalidTag = -60003,
    errAuthorizationInvalidPointer = -60004,
    errAuthorizationDenied = -60005,
    errAuthorizationCanceled = -60006,
    errAuthorizationInteractionNotAllowed = -60007,
    errAuthorizationInternal = -60008,
    errAuthorizationExternalizeNotAllowed = -60009,
    errAuthorizationInternalizeNotAllowed = -60010,
    errAuthorizationInvalidFlags = -60011,
    errAuthorizationToolExecuteFailure = -60031,
    errAuthorizationToolEnvironmentError = -60032,
    errAuthorizationBadAddress = -60033
};

// Creates a reference; rights given here are requested as by CopyRights.
OSStatus AuthorizationCreate(const AuthorizationRights* rights,
                             const AuthorizationEnvironment* environment, AuthorizationFlags flags,
                             AuthorizationRef* authorization);
// Frees the reference; null is errAuthorizationInvalidRef.
OSStatus AuthorizationFree(AuthorizationRef authorization, AuthorizationFlags flags);
// Obtains the rights: granted to root; otherwise only "system.privilege.admin"
// is known, and it needs kAuthorizationFlagExtendRights and
// kAuthorizationFlagInteractionAllowed and a way to ask (a graphical session
// with pkexec, or a terminal with sudo). `authorizedRights` is never filled.
OSStatus AuthorizationCopyRights(AuthorizationRef authorization, const AuthorizationRights* rights,
                                 const AuthorizationEnvironment* environment,
                                 AuthorizationFlags flags, AuthorizationRights** authorizedRights);
// Starts `pathToTool` as root with `arguments` (null-terminated, may be null).
// A communications pipe is not offered: a non-null `communicationsPipe`
// receives null.
OSStatus AuthorizationExecuteWithPrivileges(AuthorizationRef authorization, const char* pathToTool,
                                            AuthorizationFlags options, char* const* arguments,
                                            FILE** communicationsPipe);

namespace orvik::authorization {

// How rights are obtained; tests replace the parts that depend on the machine.
struct Environment {
    bool runningAsRoot = false;    // effective user id 0
    bool graphicalSession = false; // DISPLAY or WAYLAND_DISPLAY set
    bool hasTerminal = false;      // /dev/tty can be opened
    std::string pkexecPath = "/usr/bin/pkexec";
    std::string sudoPath = "/usr/bin/sudo";
    std::string shellPath = "/bin/sh";
    std::string setsidPath = "/usr/bin/setsid";
    // This process: argv[0] as its command line holds it, and the absolute
    // path of the file it runs (empty when that path no longer names it).
    std::string programName;
    std::string programFile;
};

// The environment of this process, as the calls see it.
Environment CurrentEnvironment();
// Replaces what CurrentEnvironment reports (tests); null restores it.
void SetEnvironmentOverride(const Environment* environment);

} // namespace orvik::authorization
