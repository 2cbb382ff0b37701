// Command line, log and test seams shared by the uninstall steps.
#include "uninstaller/Uninstall.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <strings.h>
#include <syslog.h>
#include <unistd.h>
#include <vector>

UninstallArguments ParseUninstallArguments(int argc, const char* const* argv) {
    UninstallArguments args;
    for (int i = 1; i < argc; ++i) {
        if (strcasecmp(argv[i], "-reallyuninstall") == 0)
            args.reallyUninstall = true;
        else if (strcasecmp(argv[i], "-silent") == 0)
            args.silent = true;
    }
    return args;
}

namespace {

UninstallHooks MakeDefaultHooks() {
    UninstallHooks hooks;
    hooks.openPipe = [](const char* command) { return popen(command, "r"); };
    hooks.closePipe = [](FILE* pipe) { return pclose(pipe); };
    hooks.runCommand = [](const char* command) { return system(command); };
    hooks.sleepMicroseconds = [](unsigned microseconds) { usleep(microseconds); };
    // The text is already formatted: it never reaches syslog as a format.
    hooks.log = [](int priority, const char* text) { syslog(priority, "%s", text); };
    return hooks;
}

InstalledItems MakeDefaultItems() {
    InstalledItems items;
    items.receipt = CAtlString(u"/Library/Receipts/ORVIK Tandro Riravor.pkg");
    items.kernelExtension = CAtlString(u"System/Library/Extensions/PacketSieve.kext");
    items.startupItem = CAtlString(u"/Library/StartupItems/ORVIKTandroNetFilter");
    items.forgetCommand = CAtlStringA("pkgutil --forget com.orvikware.ORVIKTandroStudent.pkg");
    items.preferenceFiles[0] =
        CAtlString(u"/Library/Preferences/com.orvikware.orviktandro.StudentSettings.plist");
    items.preferenceFiles[1] = CAtlString(u"/Library/Preferences/com.orvikware.ORVIKTandro.plist");
    items.preferenceFiles[2] =
        CAtlString(u"/Library/Preferences/com.orvikware.orviktandro.TandroClient.plist");
    return items;
}

} // namespace

UninstallHooks& GetUninstallHooks() {
    static UninstallHooks hooks = MakeDefaultHooks();
    return hooks;
}

InstalledItems& GetInstalledItems() {
    static InstalledItems items = MakeDefaultItems();
    return items;
}

void ResetUninstallHooks() {
    GetUninstallHooks() = MakeDefaultHooks();
    GetInstalledItems() = MakeDefaultItems();
}

void UninstallLog(int priority, const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    int needed = vsnprintf(nullptr, 0, format, args);
    va_end(args);
    if (needed < 0) {
        va_end(again);
        return;
    }
    std::vector<char> text(static_cast<size_t>(needed) + 1);
    vsnprintf(text.data(), text.size(), format, again);
    va_end(again);
    GetUninstallHooks().log(priority, text.data());
}
