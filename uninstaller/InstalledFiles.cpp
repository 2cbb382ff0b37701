// Removing the product's installed folders, receipt, kernel extension, startup
// item and preference files.
#include <syslog.h>

#include "paths/AtlArray.h"
#include "paths/Manipulators.h"
#include "paths/PathClasses.h"
#include "uninstaller/Uninstall.h"
#include "win32compat/FileSystem.h"

namespace {

// Whether an item still stands at `path` (any kind of item, as the path classes
// test it).
bool StillThere(const CAtlString& path) {
    COrvikDirectoryPath directory = COrvikDirectoryPath::CreateDirectoryPath(path);
    return !directory.IsEmptyPath() && directory.DirectoryExists();
}

} // namespace

bool RemoveEntireDirectory(const CAtlString& path) {
    COrvikDirectoryPath directory = COrvikDirectoryPath::CreateDirectoryPath(path);
    if (directory.IsEmptyPath())
        return true;
    const CAtlStringA text = directory.GetDirectoryPathStringA();
    if (!directory.DirectoryExists()) {
        UninstallLog(LOG_NOTICE,
                     "Attempting to delete non-existant directory \"%s\".  Nothing to do\n",
                     text.GetString());
        return true;
    }
    UninstallLog(LOG_NOTICE, "Removing directory \"%s\"\n", text.GetString());
    if (CDirectoryManipulator::RemoveDirectoryAndContents(directory))
        return true;
    UninstallLog(LOG_WARNING,
                 "Failed to delete directory \"%s\".  This directory must be "
                 "removed manually.\n",
                 text.GetString());
    return false;
}

bool RemoveInstalledFiles(const CAtlString& appFolder) {
    const InstalledItems& items = GetInstalledItems();
    bool result = true;

    COrvikDirectoryPath folder = COrvikDirectoryPath::CreateDirectoryPath(appFolder);
    CAtlArray<COrvikDirectoryPath, CElementTraits<COrvikDirectoryPath>> subfolders;
    folder.ListSubDirectories(CAtlString(u"*"), subfolders, false);
    for (size_t i = 0; i < subfolders.GetCount(); ++i) {
        const CAtlString path = subfolders[i].GetDirectoryPathString();
        // The uninstaller's own tools stay until the application folder itself
        // goes.
        if (path.Find("Uninstall") != -1)
            continue;
        UninstallLog(LOG_NOTICE, "executing RemoveEntireDirectory() for: ");
        UninstallLog(LOG_NOTICE, "%s", CAtlStringA(path).GetString());
        result = RemoveEntireDirectory(path) || result;
    }

    result = RemoveEntireDirectory(items.receipt) || result;
    // A receipt that is a single file survives the folder removal; delete it as
    // an item.
    if (StillThere(items.receipt))
        result = DeleteFileDoNotFollowSymlinks(items.receipt.GetString()) != FALSE;

    result = RemoveEntireDirectory(items.kernelExtension) || result;
    result = RemoveEntireDirectory(items.startupItem) || result;
    result = (GetUninstallHooks().runCommand(items.forgetCommand.GetString()) != 0) || result;
    return result;
}

bool RemoveMacRegistryKey() {
    UninstallLog(LOG_NOTICE, "entering RemoveMacRegistryKey()");
    for (const CAtlString& file : GetInstalledItems().preferenceFiles)
        CFileManipulator::DeleteFile(COrvikFilePath(file));
    return true;
}
