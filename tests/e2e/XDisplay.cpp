#include "XDisplay.h"

#include "IsolatedRoot.h"

#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <sstream>

namespace e2e {

XServer::XServer(uid_t ownerUid, gid_t ownerGid)
    : m_displayName(":1"), m_authority("/tmp/orvik-x.auth") {
    setenv("DISPLAY", m_displayName.c_str(), 1);
    setenv("XAUTHORITY", m_authority.c_str(), 1);
    Shell(": >" + m_authority + "; xauth -q -f " + m_authority + " add " + m_displayName +
          " . $(mcookie)\nchown " + std::to_string(ownerUid) + ":" + std::to_string(ownerGid) +
          " " + m_authority + "; chmod 600 " + m_authority);
    m_pid = StartDetached({{"/usr/bin/Xvfb", m_displayName, "-nolisten", "tcp", "-noreset", "-auth",
                            m_authority, "-screen", "0", "1024x768x24"}});
    // A window can vanish between two requests; Xlib's default handler would end the test.
    XSetErrorHandler([](::Display*, XErrorEvent*) { return 0; });
    PollUntil(10, [&] { return (m_display = XOpenDisplay(nullptr)) || !ProcessAlive(m_pid); });
    if (m_display == nullptr)
        ADD_FAILURE() << "Xvfb did not start on " << m_displayName;
}

XServer::~XServer() {
    if (m_display != nullptr)
        XCloseDisplay(m_display);
    Stop(m_pid);
    unlink(m_authority.c_str());
}

int XServer::Run(const std::string& script, const std::string& argument,
                 std::string* output) const {
    return RunAndWait(
        {{"/bin/sh", "-ec", script, argument},
         {"PATH=/usr/bin:/bin", "DISPLAY=" + m_displayName, "XAUTHORITY=" + m_authority}},
        output);
}

std::optional<XWindow> XServer::WaitForWindow(const std::string& titlePrefix, int seconds) const {
    XWindow found;
    const auto drawn = [&] {
        std::string out;
        if (Run("w=$(timeout 5 xdotool search --maxdepth 1 --onlyvisible --name \"^$0\")\n"
                "w=${w%%[!0-9]*}; p=$(timeout 5 xdotool getwindowpid $w)\n"
                "echo $w $p $(awk '/^Uid:/ {print $2}' /proc/$p/status)\n"
                "tr '\\0' '\\n' </proc/$p/cmdline",
                titlePrefix, &out) != 0)
            return false;
        std::istringstream fields(out);
        fields >> found.id >> found.pid >> found.uid;
        found.command = out.substr(out.find('\n') + 1);
        // A dialog's corner shows its background; it has drawn itself once anything else shows.
        XWindowAttributes attributes;
        XImage* image = XGetWindowAttributes(m_display, found.id, &attributes) == 0
                            ? nullptr
                            : XGetImage(m_display, found.id, 0, 0, attributes.width,
                                        attributes.height, AllPlanes, ZPixmap);
        bool painted = false;
        for (int y = 0; image != nullptr && y < attributes.height && !painted; ++y)
            for (int x = 0; x < attributes.width && !painted; ++x)
                painted = XGetPixel(image, x, y) != XGetPixel(image, 0, 0);
        if (image != nullptr)
            XDestroyImage(image);
        return painted;
    };
    if (m_display != nullptr && PollUntil(seconds, drawn))
        return found;
    return std::nullopt;
}

bool XServer::WaitForWindowGone(const XWindow& window, int seconds) const {
    return PollUntil(seconds, [&] {
        XWindowAttributes attributes;
        return XGetWindowAttributes(m_display, window.id, &attributes) == 0 ||
               attributes.map_state != IsViewable;
    });
}

bool XServer::Answer(const XWindow& window, const std::string& answer) const {
    if (answer == "close") {
        XEvent event{};
        event.xclient.type = ClientMessage;
        event.xclient.window = window.id;
        event.xclient.message_type = XInternAtom(m_display, "WM_PROTOCOLS", False);
        event.xclient.format = 32;
        event.xclient.data.l[0] = (long)XInternAtom(m_display, "WM_DELETE_WINDOW", False);
        event.xclient.data.l[1] = CurrentTime;
        const bool sent = XSendEvent(m_display, window.id, False, NoEventMask, &event) != 0;
        XSync(m_display, False);
        return sent;
    }
    std::string output;
    const int status = Run("timeout 5 xdotool windowfocus --sync " + std::to_string(window.id) +
                               " key --clearmodifiers --delay 100 $0",
                           answer, &output);
    EXPECT_EQ(status, 0) << "xdotool: " << output;
    return status == 0;
}

} // namespace e2e
