// Relaunching the uninstaller as root through the platform's authorization
// service, and the footing the root copy starts from.
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/Authorization.h"
#include "platform/session/CallerSession.h"
#include "uninstaller/Uninstall.h"

bool RunSelfAsRoot(const CAtlStringA& path) {
    AuthorizationRef authorization = nullptr;
    if (AuthorizationCreate(nullptr, nullptr, kAuthorizationFlagDefaults, &authorization) !=
        errAuthorizationSuccess)
        return false;

    AuthorizationItem right = {"system.privilege.admin", 0, nullptr, 0};
    AuthorizationRights rights = {1, &right};
    const AuthorizationFlags flags = kAuthorizationFlagInteractionAllowed |
                                     kAuthorizationFlagExtendRights |
                                     kAuthorizationFlagPreAuthorize;
    bool started = false;
    if (AuthorizationCopyRights(authorization, &rights, nullptr, flags, nullptr) ==
        errAuthorizationSuccess) {
        // Only the phase switch goes to the copy; "-silent" never does.
        char reallyUninstall[] = "-reallyuninstall";
        char* const arguments[] = {reallyUninstall, nullptr};
        started = AuthorizationExecuteWithPrivileges(authorization, path.GetString(),
                                                     kAuthorizationFlagDefaults, arguments,
                                                     nullptr) == errAuthorizationSuccess;
    }
    AuthorizationFree(authorization, kAuthorizationFlagDefaults);
    return started;
}

bool StartPrivilegedPhaseClean() {
    // The caller's display comes on standard input, and the output may be a
    // pipe to the caller's terminal that closes with it: neither may end the
    // removal half-way.
    orvik::session::BeginPrivilegedCopy();
    umask(022);
    return chdir("/") == 0 && setenv("PATH", "/usr/sbin:/usr/bin:/sbin:/bin", 1) == 0;
}
