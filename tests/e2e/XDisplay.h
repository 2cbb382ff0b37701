// A screenless X server for the graphical dialogs, and the hands that answer them.
//
// XServer starts Xvfb on a display of its own with a fresh MIT-MAGIC-COOKIE-1 in an authority
// file that only its owner can read, so a dialog shown as that user connects and nobody else
// does. The functions below find a dialog by its title, read who shows it and with which
// command line, and answer it as a user would: a key, a click on one of its buttons, or a
// window manager's close. Every wait is bounded; a failure says what was found instead.
// xdotool and Xvfb run through the isolated root's process helpers.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

namespace e2e {

class XServer {
public:
    // Starts Xvfb on display :number (-nolisten tcp, -auth <file>) and waits until it accepts
    // connections. The authority file is written by us (no xauth tool), owned by
    // ownerUid:ownerGid with mode 0600.
    explicit XServer(int number, uid_t ownerUid = 0, gid_t ownerGid = 0);
    ~XServer(); // stops Xvfb, removes the file
    XServer(const XServer&) = delete;
    XServer& operator=(const XServer&) = delete;

    bool Started() const { return m_started; }
    std::string Display() const { return ":" + std::to_string(m_number); }
    std::string AuthorityFile() const { return m_authority; }
    // DISPLAY= and XAUTHORITY= for a client's environment.
    std::vector<std::string> ClientEnvironment() const;

private:
    friend class XConnection;
    int m_number;
    std::string m_authority;
    std::string m_cookie; // the 16 bytes the server and its clients share
    pid_t m_pid = -1;
    bool m_started = false;
};

struct XWindow {
    unsigned long id = 0;
    pid_t pid = -1;                   // _NET_WM_PID
    uid_t uid = (uid_t)-1;            // owner of that process (/proc/PID/status)
    std::string title;                // _NET_WM_NAME, else WM_NAME
    std::vector<std::string> command; // /proc/PID/cmdline: the tool and what it was asked to show
};

// Waits (at most `seconds`) for a mapped top-level window whose title starts with
// `titlePrefix` and that has drawn itself (a tool ignores input until then).
std::optional<XWindow> WaitForWindow(const XServer& server, const std::string& titlePrefix,
                                     int seconds);
bool WaitForWindowGone(const XServer& server, const XWindow& window, int seconds);
// Focuses the window and types the key ("Return", "Escape").
bool PressKey(const XServer& server, const XWindow& window, const std::string& keysym);
// Clicks the n-th push button (from 1) of the dialog's button row, counted from the left.
bool ClickButton(const XServer& server, const XWindow& window, int indexFromLeft);
// Asks the window to close (WM_DELETE_WINDOW), as a window manager's close button does.
bool CloseWindow(const XServer& server, const XWindow& window);

} // namespace e2e
