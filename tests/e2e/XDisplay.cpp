#include "XDisplay.h"

#include "IsolatedRoot.h"

#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <functional>
#include <memory>
#include <unistd.h>

namespace e2e {

namespace {

// A window can vanish between two requests; Xlib's default handler would end the test program.
int IgnoreXErrors(::Display*, XErrorEvent*) {
    return 0;
}

bool PollUntil(double seconds, const std::function<bool()>& ready) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!ready()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        usleep(20000);
    }
    return true;
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
    m_environment = {"DISPLAY=" + display, "XAUTHORITY=" + m_authority};
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
        if (!WaitForProcessEnd(m_pid, 5))
            kill(m_pid, SIGKILL);
    }
    unlink(m_authority.c_str());
}

namespace {

std::string TitleOf(::Display* display, Window window) {
    XTextProperty property{};
    std::string title;
    if (XGetWMName(display, window, &property) != 0 && property.value != nullptr)
        title.assign(reinterpret_cast<char*>(property.value), property.nitems);
    XFree(property.value);
    return title;
}

pid_t PidOf(::Display* display, Window window) {
    Atom type;
    int format;
    unsigned long count, after;
    unsigned char* data = nullptr;
    pid_t pid = -1;
    if (XGetWindowProperty(display, window, XInternAtom(display, "_NET_WM_PID", False), 0, 1, False,
                           AnyPropertyType, &type, &format, &count, &after, &data) == Success &&
        data != nullptr && format == 32 && count == 1)
        pid = static_cast<pid_t>(*reinterpret_cast<long*>(data));
    XFree(data);
    return pid;
}

bool Viewable(::Display* display, Window window) {
    XWindowAttributes attributes;
    return XGetWindowAttributes(display, window, &attributes) != 0 &&
           attributes.map_state == IsViewable;
}

// What the window shows, pixel by pixel.
struct Picture {
    int width = 0, height = 0;
    std::vector<unsigned long> pixels;
    unsigned long At(int x, int y) const { return pixels[(size_t)y * width + x]; }
};

Picture Capture(::Display* display, Window window) {
    Picture picture;
    XWindowAttributes attributes;
    if (XGetWindowAttributes(display, window, &attributes) == 0)
        return picture;
    XImage* image =
        XGetImage(display, window, 0, 0, attributes.width, attributes.height, AllPlanes, ZPixmap);
    if (image == nullptr)
        return picture;
    picture.width = attributes.width;
    picture.height = attributes.height;
    for (int y = 0; y < picture.height; ++y)
        for (int x = 0; x < picture.width; ++x)
            picture.pixels.push_back(XGetPixel(image, x, y));
    XDestroyImage(image);
    return picture;
}

// A dialog's corner shows its background; it has drawn itself once anything else shows.
bool Drawn(const Picture& picture) {
    return std::any_of(picture.pixels.begin(), picture.pixels.end(),
                       [&](unsigned long pixel) { return pixel != picture.pixels[0]; });
}

std::optional<XWindow> FindWindow(::Display* display, const std::string& titlePrefix) {
    Window root, parent, *children = nullptr;
    unsigned count = 0;
    if (XQueryTree(display, DefaultRootWindow(display), &root, &parent, &children, &count) == 0)
        return std::nullopt;
    std::unique_ptr<Window, int (*)(void*)> owned(children, XFree);
    for (unsigned i = 0; i < count; ++i) {
        if (TitleOf(display, children[i]).rfind(titlePrefix, 0) != 0 ||
            !Viewable(display, children[i]))
            continue;
        XWindow found;
        found.id = children[i];
        found.pid = PidOf(display, children[i]);
        const std::string proc = "/proc/" + std::to_string(found.pid);
        found.command = ReadFile(proc + "/cmdline");
        std::replace(found.command.begin(), found.command.end(), '\0', '\n');
        const std::string status = ReadFile(proc + "/status");
        const size_t at = status.find("\nUid:");
        if (at != std::string::npos)
            found.uid = static_cast<uid_t>(strtoul(status.c_str() + at + 5, nullptr, 10));
        return found;
    }
    return std::nullopt;
}

// ---- the button row ---------------------------------------------------------------------------

struct Run {
    int start, end; // [start, end)
    int Centre() const { return (start + end) / 2; }
};

// Stretches of other colours than the background in one row, at least 16 pixels wide.
std::vector<Run> RunsOf(const Picture& picture, int y) {
    std::vector<Run> runs;
    for (int x = 0; x < picture.width;) {
        int end = x;
        while (end < picture.width && picture.At(end, y) != picture.pixels[0])
            ++end;
        if (end - x >= 16)
            runs.push_back({x, end});
        x = end + 1;
    }
    return runs;
}

bool SameCentres(const std::vector<Run>& a, const std::vector<Run>& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](Run r, Run s) {
               return std::abs(r.Centre() - s.Centre()) <= 1;
           });
}

// The centres of the push buttons along the bottom of a dialog, and the row to click them
// at. Buttons may touch one another (they are apart only at their rounded corners) and their
// labels break a row into pieces, so the row that counts is the one whose pieces keep their
// centres for at least three rows running; of those, the one with the most pieces. The click
// goes to the middle of the buttons' height.
std::vector<int> FindButtons(const Picture& picture, int* clickRow) {
    const int top = std::max(0, picture.height - 80);
    std::vector<Run> best, previous;
    int bestLength = 0, bestRow = -1, length = 0;
    for (int y = picture.height - 1; y >= top; --y) {
        std::vector<Run> runs = RunsOf(picture, y);
        length = !runs.empty() && SameCentres(runs, previous) ? length + 1 : 1;
        if (length >= 3 &&
            (runs.size() > best.size() || (runs.size() == best.size() && length > bestLength))) {
            best = runs;
            bestLength = length;
            bestRow = y;
        }
        previous = std::move(runs);
    }
    std::vector<int> centres;
    if (best.empty())
        return centres;
    auto covers = [&](int y) {
        for (const Run& run : RunsOf(picture, y))
            if (run.start <= best[0].Centre() && best[0].Centre() < run.end)
                return true;
        return false;
    };
    int first = bestRow, last = bestRow;
    while (first > top && covers(first - 1))
        --first;
    while (last + 1 < picture.height && covers(last + 1))
        ++last;
    for (const Run& run : best)
        centres.push_back(run.Centre());
    *clickRow = (first + last) / 2;
    return centres;
}

bool Xdotool(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), {"/usr/bin/timeout", "5", "/usr/bin/xdotool"});
    RunOptions options = Command(arguments);
    for (const char* variable : {"DISPLAY", "XAUTHORITY"})
        options.env.push_back(std::string(variable) + "=" + getenv(variable));
    std::string output;
    const int status = RunAndWait(options, &output);
    EXPECT_EQ(status, 0) << "xdotool " << arguments[3] << ": " << output;
    return status == 0;
}

bool Click(const XWindow& window, int indexFromLeft) {
    XConnection connection;
    std::vector<int> centres;
    int y = -1;
    // The buttons are drawn last; wait for the row to hold the button asked for.
    PollUntil(3, [&] {
        centres = FindButtons(Capture(connection.display, window.id), &y);
        return (int)centres.size() >= indexFromLeft;
    });
    if ((int)centres.size() < indexFromLeft) {
        ADD_FAILURE() << "button " << indexFromLeft << " asked for, " << centres.size() << " found";
        return false;
    }
    return Xdotool({"mousemove", "--window", std::to_string(window.id),
                    std::to_string(centres[indexFromLeft - 1]), std::to_string(y), "click", "1"});
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
    PollUntil(seconds, [&] {
        window = FindWindow(connection.display, titlePrefix);
        return window && Drawn(Capture(connection.display, window->id));
    });
    return window && Viewable(connection.display, window->id) ? window : std::nullopt;
}

bool WaitForWindowGone(const XWindow& window, int seconds) {
    XConnection connection;
    return PollUntil(seconds, [&] { return !Viewable(connection.display, window.id); });
}

bool Answer(const XWindow& window, const std::string& answer) {
    if (answer == "close")
        return Close(window);
    if (answer.rfind("click ", 0) == 0)
        return Click(window, std::stoi(answer.substr(6)));
    return Xdotool(
        {"windowfocus", "--sync", std::to_string(window.id), "key", "--clearmodifiers", answer});
}

} // namespace e2e
