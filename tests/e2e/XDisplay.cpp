#include "XDisplay.h"

#include "IsolatedRoot.h"
#include "platform/UniqueFd.h"

#include <gtest/gtest.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <sstream>
#include <sys/random.h>
#include <unistd.h>

namespace e2e {

namespace {

using Clock = std::chrono::steady_clock;

// A window can vanish between two requests; Xlib's default handler would end the test program.
int IgnoreXErrors(::Display*, XErrorEvent*) {
    return 0;
}

// Polls `ready` every 20 ms until it holds or `seconds` have passed.
template <typename Ready> bool PollUntil(double seconds, Ready ready) {
    const auto deadline = Clock::now() + std::chrono::duration<double>(seconds);
    for (;;) {
        if (ready())
            return true;
        if (Clock::now() > deadline)
            return false;
        usleep(20000);
    }
}

std::string Field(const std::string& bytes) {
    return {static_cast<char>(bytes.size() >> 8), static_cast<char>(bytes.size() & 0xff)};
}

// One Xauthority record for any address (FamilyWild), so the server and every local client
// agree on it without knowing the host name.
std::string AuthorityRecord(int number, const std::string& cookie) {
    const std::string display = std::to_string(number), name = "MIT-MAGIC-COOKIE-1";
    return std::string("\xff\xff", 2) + Field("") + Field(display) + display + Field(name) + name +
           Field(cookie) + cookie;
}

// Created afresh with mode 0600, so the cookie is never readable by anyone but its owner.
bool WriteAuthority(const std::string& path, const std::string& record, uid_t uid, gid_t gid) {
    unlink(path.c_str());
    const orvik::UniqueFd fd(
        open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    return fd.get() >= 0 && fchown(fd.get(), uid, gid) == 0 &&
           write(fd.get(), record.data(), record.size()) == (ssize_t)record.size();
}

std::string RandomCookie() {
    std::string cookie(16, '\0');
    return getrandom(cookie.data(), cookie.size(), 0) == (ssize_t)cookie.size() ? cookie : "";
}

} // namespace

// A connection to the server with its cookie. Xlib takes the authorization from a process-wide
// setting, so connecting is serialised.
class XConnection {
public:
    explicit XConnection(const XServer& server) {
        static std::mutex connecting;
        std::lock_guard<std::mutex> lock(connecting);
        XSetErrorHandler(IgnoreXErrors);
        std::string name = "MIT-MAGIC-COOKIE-1", cookie = server.m_cookie;
        XSetAuthorization(name.data(), (int)name.size(), cookie.data(), (int)cookie.size());
        m_display = XOpenDisplay(server.Display().c_str());
        XSetAuthorization(nullptr, 0, nullptr, 0);
    }
    ~XConnection() {
        if (m_display != nullptr)
            XCloseDisplay(m_display);
    }
    XConnection(const XConnection&) = delete;
    XConnection& operator=(const XConnection&) = delete;
    ::Display* get() const { return m_display; }

private:
    ::Display* m_display = nullptr;
};

XServer::XServer(int number, uid_t ownerUid, gid_t ownerGid)
    : m_number(number), m_authority("/tmp/orvik-x" + std::to_string(number) + ".auth"),
      m_cookie(RandomCookie()) {
    if (m_cookie.empty() ||
        !WriteAuthority(m_authority, AuthorityRecord(number, m_cookie), ownerUid, ownerGid)) {
        ADD_FAILURE() << "cannot write the X authority file " << m_authority << ": "
                      << strerror(errno);
        return;
    }
    m_pid = StartDetached(Command({"/usr/bin/Xvfb", Display(), "-nolisten", "tcp", "-noreset",
                                   "-auth", m_authority, "-screen", "0", "1024x768x24"}));
    const auto answers = [this] { return XConnection(*this).get() != nullptr; };
    m_started =
        m_pid > 0 && PollUntil(10, [&] { return answers() || !ProcessAlive(m_pid); }) && answers();
    if (!m_started)
        ADD_FAILURE() << "Xvfb did not start on " << Display() << " (is that display in use?)";
}

XServer::~XServer() {
    if (m_pid > 0) {
        kill(m_pid, SIGTERM);
        if (!WaitForProcessEnd(m_pid, 5)) {
            kill(m_pid, SIGKILL);
            WaitForProcessEnd(m_pid, 5);
        }
    }
    unlink(m_authority.c_str());
}

std::vector<std::string> XServer::ClientEnvironment() const {
    return {"DISPLAY=" + Display(), "XAUTHORITY=" + m_authority};
}

namespace {

std::string Property(::Display* display, Window window, const char* name, long* number) {
    Atom type;
    int format;
    unsigned long count, after;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(display, window, XInternAtom(display, name, False), 0, 4096, False,
                           AnyPropertyType, &type, &format, &count, &after, &data) != Success ||
        data == nullptr)
        return "";
    std::unique_ptr<unsigned char, int (*)(void*)> owned(data, XFree);
    if (format == 32 && count > 0 && number != nullptr)
        *number = *reinterpret_cast<long*>(data);
    return format == 8 ? std::string(reinterpret_cast<char*>(data), count) : "";
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
    // A dialog's corner shows its background: one colour all over behind the widgets.
    unsigned long Background() const { return pixels.empty() ? 0 : pixels[0]; }
    bool Drawn() const {
        for (unsigned long pixel : pixels)
            if (pixel != Background())
                return true;
        return false;
    }
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

std::vector<std::string> CommandLine(pid_t pid) {
    std::vector<std::string> words;
    std::istringstream in(ReadFile("/proc/" + std::to_string(pid) + "/cmdline"));
    for (std::string word; std::getline(in, word, '\0');)
        words.push_back(word);
    return words;
}

uid_t ProcessUid(pid_t pid) {
    const std::string status = ReadFile("/proc/" + std::to_string(pid) + "/status");
    const size_t at = status.find("\nUid:");
    return at == std::string::npos ? (uid_t)-1 : (uid_t)strtoul(status.c_str() + at + 5, 0, 10);
}

std::optional<XWindow> FindWindow(::Display* display, const std::string& titlePrefix) {
    Window root, parent, *children = nullptr;
    unsigned count = 0;
    if (XQueryTree(display, DefaultRootWindow(display), &root, &parent, &children, &count) == 0)
        return std::nullopt;
    std::unique_ptr<Window, int (*)(void*)> owned(children, XFree);
    for (unsigned i = 0; i < count; ++i) {
        XWindow found;
        found.id = children[i];
        found.title = Property(display, children[i], "_NET_WM_NAME", nullptr);
        if (found.title.empty())
            found.title = Property(display, children[i], "WM_NAME", nullptr);
        if (found.title.rfind(titlePrefix, 0) != 0 || !Viewable(display, children[i]))
            continue;
        long pid = -1;
        Property(display, children[i], "_NET_WM_PID", &pid);
        found.pid = (pid_t)pid;
        found.uid = ProcessUid(found.pid);
        found.command = CommandLine(found.pid);
        return found;
    }
    return std::nullopt;
}

// ---- the button row ---------------------------------------------------------------------------

struct Run {
    int start, end; // [start, end)
    int Centre() const { return (start + end) / 2; }
};

// Stretches of other colours than the background in one row, at least `minimum` wide.
std::vector<Run> RunsOf(const Picture& picture, int y, unsigned long background) {
    const int minimum = 16;
    std::vector<Run> runs;
    for (int x = 0; x < picture.width;) {
        int end = x;
        while (end < picture.width && picture.At(end, y) != background)
            ++end;
        if (end - x >= minimum)
            runs.push_back({x, end});
        x = end + 1;
    }
    return runs;
}

bool SameCentres(const std::vector<Run>& a, const std::vector<Run>& b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::abs(a[i].Centre() - b[i].Centre()) > 1)
            return false;
    return true;
}

struct ButtonRow {
    std::vector<int> centres;
    int y = -1;
};

// The push buttons along the bottom of a dialog. Buttons may touch one another (they are
// apart only at their rounded corners) and their labels break a row into pieces, so the row
// that counts is the one whose pieces keep their centres for at least three rows running; of
// those, the one with the most pieces. The click goes to the middle of the buttons' height.
ButtonRow FindButtons(const Picture& picture) {
    const unsigned long background = picture.Background();
    const int top = std::max(0, picture.height - 80);
    std::vector<Run> best, previous;
    int bestLength = 0, bestRow = -1, length = 0;
    for (int y = picture.height - 1; y >= top; --y) {
        std::vector<Run> runs = RunsOf(picture, y, background);
        length = !runs.empty() && SameCentres(runs, previous) ? length + 1 : 1;
        if (length >= 3 &&
            (runs.size() > best.size() || (runs.size() == best.size() && length > bestLength))) {
            best = runs;
            bestLength = length;
            bestRow = y;
        }
        previous = std::move(runs);
    }
    ButtonRow row;
    if (best.empty())
        return row;
    auto covers = [&](int y) {
        for (const Run& run : RunsOf(picture, y, background))
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
        row.centres.push_back(run.Centre());
    row.y = (first + last) / 2;
    return row;
}

bool Xdotool(const XServer& server, std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), {"/usr/bin/timeout", "5", "/usr/bin/xdotool"});
    RunOptions options = Command(arguments);
    for (const std::string& variable : server.ClientEnvironment())
        options.env.push_back(variable);
    std::string output;
    const int status = RunAndWait(options, &output);
    if (status != 0)
        ADD_FAILURE() << "xdotool " << arguments[3] << " ended with " << status << ": " << output;
    return status == 0;
}

} // namespace

std::optional<XWindow> WaitForWindow(const XServer& server, const std::string& titlePrefix,
                                     int seconds) {
    XConnection connection(server);
    if (connection.get() == nullptr)
        return std::nullopt;
    std::optional<XWindow> window;
    // A mapped window ignores input until it has drawn itself.
    PollUntil(seconds, [&] {
        window = FindWindow(connection.get(), titlePrefix);
        return window && Capture(connection.get(), window->id).Drawn();
    });
    return window && Viewable(connection.get(), window->id) ? window : std::nullopt;
}

bool WaitForWindowGone(const XServer& server, const XWindow& window, int seconds) {
    XConnection connection(server);
    return connection.get() != nullptr &&
           PollUntil(seconds, [&] { return !Viewable(connection.get(), window.id); });
}

bool PressKey(const XServer& server, const XWindow& window, const std::string& keysym) {
    return Xdotool(server, {"windowfocus", "--sync", std::to_string(window.id), "key",
                            "--clearmodifiers", keysym});
}

bool ClickButton(const XServer& server, const XWindow& window, int indexFromLeft) {
    XConnection connection(server);
    ButtonRow row;
    // The buttons are drawn last; wait for the row to hold the button asked for.
    PollUntil(3, [&] {
        if (connection.get() == nullptr)
            return true;
        row = FindButtons(Capture(connection.get(), window.id));
        return (int)row.centres.size() >= indexFromLeft;
    });
    if (indexFromLeft < 1 || (int)row.centres.size() < indexFromLeft) {
        ADD_FAILURE() << "button " << indexFromLeft << " asked for, but " << row.centres.size()
                      << " buttons found in \"" << window.title << "\"";
        return false;
    }
    return Xdotool(server, {"mousemove", "--window", std::to_string(window.id),
                            std::to_string(row.centres[indexFromLeft - 1]), std::to_string(row.y),
                            "click", "1"});
}

bool CloseWindow(const XServer& server, const XWindow& window) {
    XConnection connection(server);
    ::Display* display = connection.get();
    if (display == nullptr)
        return false;
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window.id;
    event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = (long)XInternAtom(display, "WM_DELETE_WINDOW", False);
    event.xclient.data.l[1] = CurrentTime;
    const bool sent = XSendEvent(display, window.id, False, NoEventMask, &event) != 0;
    XSync(display, False);
    return sent;
}

} // namespace e2e
