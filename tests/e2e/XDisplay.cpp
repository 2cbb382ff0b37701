#include "XDisplay.h"

#include "IsolatedRoot.h"

#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <sstream>
#include <unistd.h>

namespace e2e {

namespace {

// A window can vanish between two requests; Xlib's default handler would end the test program.
int IgnoreXErrors(::Display*, XErrorEvent*) {
    return 0;
}

// A connection to the server of DISPLAY with the cookie of XAUTHORITY.
struct XConnection {
    ::Display* display = XOpenDisplay(nullptr);
    XConnection() { XSetErrorHandler(IgnoreXErrors); }
    ~XConnection() {
        if (display != nullptr)
            XCloseDisplay(display);
    }
};

} // namespace

XServer::XServer(int number, uid_t ownerUid, gid_t ownerGid)
    : m_authority("/tmp/orvik-x" + std::to_string(number) + ".auth") {
    const std::string display = ":" + std::to_string(number);
    setenv("DISPLAY", display.c_str(), 1);
    setenv("XAUTHORITY", m_authority.c_str(), 1);
    std::string cookie;
    unlink(m_authority.c_str());
    if (RunAndWait(Command({"/usr/bin/mcookie"}), &cookie) != 0 ||
        RunAndWait(Command({"/usr/bin/xauth", "-q", "-f", m_authority, "add", display, ".",
                            cookie.substr(0, 32)})) != 0 ||
        chown(m_authority.c_str(), ownerUid, ownerGid) != 0 ||
        chmod(m_authority.c_str(), 0600) != 0) {
        ADD_FAILURE() << "cannot write the X authority file " << m_authority;
        return;
    }
    m_pid = StartDetached(Command({"/usr/bin/Xvfb", display, "-nolisten", "tcp", "-noreset",
                                   "-auth", m_authority, "-screen", "0", "1024x768x24"}));
    const auto answers = [] { return XConnection().display != nullptr; };
    m_started =
        m_pid > 0 && PollUntil(10, [&] { return answers() || !ProcessAlive(m_pid); }) && answers();
    if (!m_started)
        ADD_FAILURE() << "Xvfb did not start on " << display << " (is that display in use?)";
}

XServer::~XServer() {
    if (m_pid > 0) {
        kill(m_pid, SIGTERM);
        if (!PollUntil(5, [&] { return !ProcessAlive(m_pid); }))
            kill(m_pid, SIGKILL);
    }
    unlink(m_authority.c_str());
}

namespace {

bool Viewable(::Display* display, Window window) {
    XWindowAttributes attributes;
    return XGetWindowAttributes(display, window, &attributes) != 0 &&
           attributes.map_state == IsViewable;
}

// A dialog's corner shows its background; it has drawn itself once anything else shows.
bool Drawn(::Display* display, Window window) {
    XWindowAttributes attributes;
    if (XGetWindowAttributes(display, window, &attributes) == 0)
        return false;
    XImage* image =
        XGetImage(display, window, 0, 0, attributes.width, attributes.height, AllPlanes, ZPixmap);
    if (image == nullptr)
        return false;
    bool drawn = false;
    for (int y = 0; y < attributes.height && !drawn; ++y)
        for (int x = 0; x < attributes.width && !drawn; ++x)
            drawn = XGetPixel(image, x, y) != XGetPixel(image, 0, 0);
    XDestroyImage(image);
    return drawn;
}

// xdotool on the display of this process: its status, its output in *output.
int Xdotool(std::vector<std::string> arguments, std::string* output = nullptr) {
    arguments.insert(arguments.begin(), {"/usr/bin/timeout", "5", "/usr/bin/xdotool"});
    RunOptions options = Command(arguments);
    for (const char* variable : {"DISPLAY", "XAUTHORITY"})
        options.env.push_back(std::string(variable) + "=" + getenv(variable));
    return RunAndWait(options, output);
}

std::optional<XWindow> FindWindow(const std::string& titlePrefix) {
    std::string id, pid;
    if (Xdotool({"search", "--maxdepth", "1", "--onlyvisible", "--name", "^" + titlePrefix}, &id) !=
            0 ||
        Xdotool({"getwindowpid", id.substr(0, id.find('\n'))}, &pid) != 0)
        return std::nullopt;
    XWindow found;
    found.id = std::stoul(id);
    found.pid = atoi(pid.c_str());
    const std::string proc = "/proc/" + std::to_string(found.pid);
    found.command = ReadFile(proc + "/cmdline");
    std::replace(found.command.begin(), found.command.end(), '\0', '\n');
    const std::string status = ReadFile(proc + "/status");
    const size_t at = status.find("\nUid:");
    if (at != std::string::npos)
        found.uid = static_cast<uid_t>(strtoul(status.c_str() + at + 5, nullptr, 10));
    return found;
}

bool Close(const XWindow& window) {
    XConnection connection;
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window.id;
    event.xclient.message_type = XInternAtom(connection.display, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = (long)XInternAtom(connection.display, "WM_DELETE_WINDOW", False);
    event.xclient.data.l[1] = CurrentTime;
    const bool sent = XSendEvent(connection.display, window.id, False, NoEventMask, &event) != 0;
    XSync(connection.display, False);
    return sent;
}

} // namespace

std::optional<XWindow> WaitForWindow(const std::string& titlePrefix, int seconds) {
    XConnection connection;
    std::optional<XWindow> window;
    if (connection.display == nullptr)
        return window;
    const bool drawn = PollUntil(seconds, [&] {
        window = FindWindow(titlePrefix);
        return window && Drawn(connection.display, window->id);
    });
    return drawn ? window : std::nullopt;
}

bool WaitForWindowGone(const XWindow& window, int seconds) {
    XConnection connection;
    return PollUntil(seconds, [&] { return !Viewable(connection.display, window.id); });
}

bool Answer(const XWindow& window, const std::string& answer) {
    if (answer == "close")
        return Close(window);
    std::string output;
    std::vector<std::string> arguments = {
        "windowfocus", "--sync", std::to_string(window.id), "key", "--clearmodifiers",
        "--delay",     "100"};
    std::istringstream keys(answer);
    for (std::string key; keys >> key;)
        arguments.push_back(key);
    const int status = Xdotool(arguments, &output);
    EXPECT_EQ(status, 0) << "xdotool: " << output;
    return status == 0;
}

} // namespace e2e
