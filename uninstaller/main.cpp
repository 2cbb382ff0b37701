// orvik-uninstaller: removes ORVIK Tandro Riravor Software.
//
// Started without "-reallyuninstall" it asks for confirmation and relaunches
// itself as root with that argument; the root copy stops the product's
// processes and removes everything the product installed. Exit status: 0 or 1
// (see the man page, orvik-uninstaller(1)).
#include <syslog.h>

#include "paths/PathClasses.h"
#include "resources/ResourceManager.h"
#include "uninstaller/Uninstall.h"
#include "win32compat/FileSystem.h"

namespace {

CAtlString Translated(const char* key) {
    return CResourceManagerFactory::GetResourceManager()->GetTranslatedString(key, nullptr);
}

int RunUnprivilegedPhase(const char* self, bool silent) {
    UninstallLog(LOG_NOTICE, "ORVIK Tandro Riravor Software Uninstall begin\n");
    if (!UninstallWarning())
        return 1;
    if (RunSelfAsRoot(CAtlStringA(self)))
        return 0; // the privileged copy runs on by itself
    if (!silent)
        GiveAlert(Translated("Pre-authorization failed. You must be a valid "
                             "administrator to continue."));
    return 1;
}

int RunPrivilegedPhase(const CAtlString& appFolder, const char* self, bool silent) {
    // Started elsewhere, the relative kernel-extension path would name whatever lies below
    // the caller's folder.
    if (!StartPrivilegedPhaseClean()) {
        UninstallLog(LOG_WARNING,
                     "Failed to start from the root folder with the system's PATH.  Nothing "
                     "was removed.\n");
        return 1;
    }
    UninstallLog(LOG_NOTICE, "Stopping all ORVIK Tandro Riravor Software processes\n");
    ProcessList processes;
    GetProcessList(processes);

    // Results are OR-ed, each step called whatever came before it.
    bool success = false;
    for (auto entry = processes.begin(); entry != processes.end(); ++entry) {
        // argv[0] spares this process and the unprivileged one that started it.
        if (entry->first.Find(appFolder) != -1 && entry->first.Find(self) == -1)
            success = StopProcess(entry) || success;
    }
    success = RemoveService(appFolder) || success;
    success = RemoveInstalledFiles(appFolder) || success;
    success = RemoveMacRegistryKey() || success;

    if (success)
        UninstallLog(LOG_NOTICE, "Uninstall completed successfully.\n");
    else
        UninstallLog(LOG_NOTICE, "There was a problem with the uninstall.  Not all components "
                                 "were removed successfully.\n");
    if (!silent)
        GiveAlert(Translated("Uninstall completed successfully."));

    success = RemoveEntireDirectory(appFolder) || success;
    COrvikDirectoryPath folder = COrvikDirectoryPath::CreateDirectoryPath(appFolder);
    if (!folder.IsEmptyPath() && folder.DirectoryExists())
        success =
            DeleteFileDoNotFollowSymlinks(folder.GetDirectoryPathString().GetString()) != FALSE;
    return success ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    const UninstallArguments arguments = ParseUninstallArguments(argc, argv);
    const CAtlString appFolder(kOrvikApplicationFolder);
    if (!arguments.reallyUninstall)
        return RunUnprivilegedPhase(argv[0], arguments.silent);
    return RunPrivilegedPhase(appFolder, argv[0], arguments.silent);
}
