// The steps of an uninstall of ORVIK Tandro Riravor Software, callable one by one.
//
// The executable orvik-uninstaller runs twice. Without "-reallyuninstall" it is the
// unprivileged phase: it asks for confirmation and relaunches itself as root through the
// platform's authorization service. With it, it is the privileged phase: it stops the
// product's processes, removes its login items, installed folders, receipt, kernel
// extension, startup item and preference files, and finally the application folder.
//
// Every step logs to the system log (syslog, default identity and facility, never openlog):
// LOG_NOTICE for progress, LOG_WARNING for what needs the administrator's attention.
// Nothing here throws except on allocation failure; no step stops the run.
//
// The hooks at the end let tests replace the shell, the sleep, the log and the fixed item
// paths; production never touches them.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <list>
#include <utility>

#include "platform/CoreFoundation.h"
#include "strings/AtlString.h"

// The application folder of the product; every step that needs it gets it by reference.
inline constexpr const char16_t* kOrvikApplicationFolder = u"/Applications/ORVIK Tandro Riravor";

// ---- Command line -------------------------------------------------------------------------

struct UninstallArguments {
    bool reallyUninstall = false; // "-reallyuninstall": run the privileged phase
    bool silent = false;          // "-silent": no failed-authorization or completion alert
};

// Examines argv[1..argc-1]; each argument is compared whole, ignoring ASCII case. An argument
// equal to "-reallyuninstall" is not also tested against "-silent"; others are ignored.
// {"x", "-SILENT", "foo"} -> {false, true}.
UninstallArguments ParseUninstallArguments(int argc, const char* const* argv);

// ---- Product process shutdown ---------------------------------------------------------------

// One line of "ps -axww" output (as read, newline included, widened byte by byte) and the
// process id it began with.
using ProcessEntry = std::pair<CAtlString, int32_t>;
using ProcessList = std::list<ProcessEntry>;

// Appends one entry per piece of "ps -axww" output that carries a positive id; a line longer
// than 1023 bytes arrives in several pieces, each an entry with the id of its line.
// Leaves the list unchanged (with a warning line) when "ps" cannot be run.
void GetProcessList(ProcessList& processes);

// "kill", up to ten polls of "ps -p PID -ww" 0.2 s apart, then "kill -9". Always true.
bool StopProcess(ProcessList::iterator entry);

// ---- Login-item cleanup -------------------------------------------------------------------

// Removes from the login window's AutoLaunchedApplicationDictionary (any user, current host)
// every entry whose "Path" begins with appFolder (case-sensitive, no "/" added), writes the
// list back and flushes it to disk when something was removed. False only when the list
// cannot be read or copied (then two warning lines ask for a manual removal).
bool RemoveService(const CAtlString& appFolder);

// The loop of RemoveService over a mutable copy of the list, with its log lines: removes the
// matching dictionaries in place; entries without a "Path" string stay. True when something
// was removed.
bool RemoveMatchingLoginItems(CFMutableArrayRef items, CFStringRef prefix);

// ---- Installed-file removal -----------------------------------------------------------------

// True when the folder was removed, did not exist, or the path is empty; false (with the
// "must be removed manually" warning) when it existed and could not be removed.
bool RemoveEntireDirectory(const CAtlString& path);

// The application folder's subfolders (except those whose path contains "Uninstall"), the
// receipt, the kernel extension, the startup item, then "pkgutil --forget". Results are
// combined by OR as the product always did; nothing visible depends on the result.
bool RemoveInstalledFiles(const CAtlString& appFolder);

// The three preference files, whatever each deletion's result. Always true.
bool RemoveMacRegistryKey();

// ---- Alerts and relaunch --------------------------------------------------------------------

// The confirmation: translated "Yes" and "No", "No" the default button. True only for "Yes".
bool UninstallWarning();

// One already translated message under the translated product title, with one OK button.
void GiveAlert(const CAtlString& text);

// Has the authorization service start `path` as root with the single argument
// "-reallyuninstall"; true when the copy was started. Does not wait for it.
bool RunSelfAsRoot(const CAtlStringA& path);

// The privileged phase's own footing, whoever started it and from where: the working
// folder "/" (the kernel extension's relative path names the system's), umask 022 and
// PATH=/usr/sbin:/usr/bin:/sbin:/bin (the shell commands are never taken from the caller's
// folders). It also takes the caller's display handed over on standard input, so that its
// alerts reach the user who asked. False when one of them could not be set.
bool StartPrivilegedPhaseClean();

// ---- Test seams -------------------------------------------------------------------------------

// The commands, the sleep and the log the steps go through. Defaults: popen(command, "r"),
// pclose, system, usleep, syslog(priority, "%s", text).
struct UninstallHooks {
    std::function<FILE*(const char* command)> openPipe;
    std::function<int(FILE* pipe)> closePipe;
    std::function<int(const char* command)> runCommand;
    std::function<void(unsigned microseconds)> sleepMicroseconds;
    std::function<void(int priority, const char* text)> log;
};

// The fixed items RemoveInstalledFiles and RemoveMacRegistryKey remove, in their order.
struct InstalledItems {
    CAtlString receipt;         // "/Library/Receipts/ORVIK Tandro Riravor.pkg"
    CAtlString kernelExtension; // "System/Library/Extensions/PacketSieve.kext" (relative)
    CAtlString startupItem;     // "/Library/StartupItems/ORVIKTandroNetFilter"
    CAtlStringA forgetCommand;  // "pkgutil --forget com.orvikware.ORVIKTandroStudent.pkg"
    CAtlString preferenceFiles[3];
};

UninstallHooks& GetUninstallHooks();
InstalledItems& GetInstalledItems();
// Puts both back to the system's own commands, log and paths.
void ResetUninstallHooks();

// Logs one formatted line through the log hook (syslog by default).
void UninstallLog(int priority, const char* format, ...) __attribute__((format(printf, 2, 3)));
