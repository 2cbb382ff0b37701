// Stopping the product's running processes through "ps" and "kill".
#include <cstdio>
#include <cstring>
#include <syslog.h>

#include "uninstaller/Uninstall.h"

namespace {

constexpr int kLineBufferSize = 1024;
constexpr int kWatchPolls = 10;
constexpr unsigned kWatchPause = 200000; // microseconds between polls

// Counts the pieces fgets returns for the status listing of one process.
int CountStatusLines(FILE* pipe, char (&buffer)[kLineBufferSize]) {
    int count = 0;
    while (fgets(buffer, kLineBufferSize, pipe) != nullptr)
        ++count;
    return count;
}

} // namespace

void GetProcessList(ProcessList& processes) {
    UninstallHooks& hooks = GetUninstallHooks();
    UninstallLog(LOG_NOTICE, "Retrieving current process list\n");
    FILE* pipe = hooks.openPipe("ps -axww");
    if (pipe == nullptr) {
        UninstallLog(LOG_WARNING, "Failed to load process list.\n");
        return;
    }
    char buffer[kLineBufferSize];
    memset(buffer, 0, sizeof buffer);
    // Deliberately not reset per piece: the continuation of a long line keeps its
    // line's id.
    int pid = 0;
    while (fgets(buffer, kLineBufferSize, pipe) != nullptr) {
        sscanf(buffer, "%d", &pid);
        if (pid <= 0)
            continue;
        processes.emplace_back(CAtlString(buffer), static_cast<int32_t>(pid));
    }
    UninstallLog(LOG_NOTICE, "Process list found %d items\n", static_cast<int>(processes.size()));
    hooks.closePipe(pipe);
}

bool StopProcess(ProcessList::iterator entry) {
    UninstallHooks& hooks = GetUninstallHooks();
    const int pid = entry->second;
    CAtlStringA line(entry->first);
    UninstallLog(LOG_NOTICE, "Stopping process \"%s\"\n", line.GetString());
    UninstallLog(LOG_NOTICE, "Process is running with PID %d.  Sending kill command\n", pid);

    CAtlStringA command;
    command.Format("kill %d", pid);
    if (hooks.runCommand(command.GetString()) != 0)
        return true; // already gone, or not ours to signal: nothing to watch

    // On Linux "ps -p PID -axww" would list every process; "-ww" alone keeps the
    // selection.
    CAtlStringA watch;
    watch.Format("ps -p %d -ww", pid);
    char buffer[kLineBufferSize];
    for (int poll = 0; poll < kWatchPolls; ++poll) {
        memset(buffer, 0, sizeof buffer);
        FILE* pipe = hooks.openPipe(watch.GetString());
        if (pipe == nullptr)
            break;
        int lines = CountStatusLines(pipe, buffer);
        hooks.closePipe(pipe);
        if (lines <= 1)
            return true; // only the header: the process has ended
        hooks.sleepMicroseconds(kWatchPause);
    }

    UninstallLog(LOG_NOTICE, "Process failed to terminate gracefully.  Sending kill -9 to PID %d\n",
                 pid);
    command.Format("kill -9 %d", pid);
    hooks.runCommand(command.GetString());
    return true;
}
