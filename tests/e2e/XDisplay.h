// A screenless X server for the graphical dialogs, and the hands that answer them.
//
// XServer starts Xvfb with a fresh cookie in an authority file that only its owner (and root)
// can read, so a dialog shown as that user connects and nobody else does; this process
// connects through the same file. A dialog is found by its title and answered as a user
// would: keys, or a window manager's close.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>

struct _XDisplay;

#define E2E_X_TOOLS "/usr/bin/Xvfb", "/usr/bin/xdotool", "/usr/bin/xauth", "/usr/bin/mcookie"

namespace e2e {

struct XWindow {
    unsigned long id = 0;
    pid_t pid = -1;        // _NET_WM_PID
    uid_t uid = (uid_t)-1; // owner of that process
    std::string command;   // its command line, the arguments joined by "\n"
};

class XServer {
public:
    // Also points this process's DISPLAY and XAUTHORITY at it.
    XServer(uid_t ownerUid, gid_t ownerGid);
    ~XServer();
    XServer(const XServer&) = delete;
    XServer& operator=(const XServer&) = delete;

    bool Started() const { return m_display != nullptr; }
    // Waits (at most `seconds`) for a mapped top-level window whose title starts with
    // `titlePrefix` and that has drawn itself (a tool ignores input until then).
    std::optional<XWindow> WaitForWindow(const std::string& titlePrefix, int seconds) const;
    bool WaitForWindowGone(const XWindow& window, int seconds) const;
    // Keys typed in turn ("Return", "Escape", "Left space": the button left of the focused
    // default), or "close" (WM_DELETE_WINDOW, as a window manager's close button).
    bool Answer(const XWindow& window, const std::string& answer) const;

private:
    // Runs `sh -ec script argument` on this display; its status, its output in *output.
    int Run(const std::string& script, const std::string& argument, std::string* output) const;
    std::string m_displayName, m_authority;
    pid_t m_pid = -1;
    _XDisplay* m_display = nullptr;
};

} // namespace e2e
