// The hand-over of the caller's display: a short text in a pipe, read once.
#include "platform/session/CallerSession.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

namespace orvik::session {
namespace {

constexpr const char* kVariables[] = {"DISPLAY", "XAUTHORITY", "WAYLAND_DISPLAY",
                                      "XDG_RUNTIME_DIR"};
constexpr const char* kHeader = "orvik-session 1\n";
constexpr const char* kEnd = "end\n";
// A pipe holds at least this much without a reader, so the whole text is
// written before the copy starts.
constexpr size_t kMaxText = 4096;

std::vector<std::string>& HandedOver() {
    static std::vector<std::string> variables;
    return variables;
}

bool IsSessionVariable(const std::string& line) {
    for (const char* name : kVariables) {
        const std::string prefix = std::string(name) + "=";
        if (line.size() > prefix.size() && line.compare(0, prefix.size(), prefix) == 0)
            return true;
    }
    return false;
}

bool NamesDisplay(const std::vector<std::string>& variables) {
    for (const std::string& variable : variables)
        if (variable.rfind("DISPLAY=", 0) == 0 || variable.rfind("WAYLAND_DISPLAY=", 0) == 0)
            return true;
    return false;
}

// What standard input holds now, without waiting for more.
std::string ReadWaitingInput() {
    std::string text;
    pollfd input = {0, POLLIN, 0};
    while (text.size() <= kMaxText && poll(&input, 1, 0) == 1 && (input.revents & POLLIN)) {
        char buffer[512];
        const ssize_t n = read(0, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        text.append(buffer, static_cast<size_t>(n));
    }
    return text;
}

// The variables of a complete hand-over text; empty for anything else.
std::vector<std::string> ParseHandOff(const std::string& text) {
    const std::string header = kHeader, end = kEnd;
    if (text.size() > kMaxText || text.compare(0, header.size(), header) != 0 ||
        text.size() < header.size() + end.size() ||
        text.compare(text.size() - end.size(), end.size(), end) != 0)
        return {};
    std::vector<std::string> variables;
    size_t start = header.size();
    const size_t stop = text.size() - end.size();
    while (start < stop) {
        const size_t newline = text.find('\n', start);
        const std::string line = text.substr(start, newline - start);
        if (!IsSessionVariable(line))
            return {};
        variables.push_back(line);
        start = newline + 1;
    }
    return variables;
}

} // namespace

std::vector<std::string> OwnSessionVariables() {
    std::vector<std::string> variables;
    for (const char* name : kVariables) {
        const char* value = getenv(name);
        if (value != nullptr && *value != '\0' &&
            std::string(value).find('\n') == std::string::npos)
            variables.push_back(std::string(name) + "=" + value);
    }
    return variables;
}

UniqueFd HandOff() {
    std::string text = kHeader;
    for (const std::string& variable : OwnSessionVariables())
        text += variable + "\n";
    text += kEnd;
    if (text.size() > kMaxText)
        return UniqueFd();
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0)
        return UniqueFd();
    UniqueFd readEnd(ends[0]), writeEnd(ends[1]);
    const ssize_t written = write(writeEnd.get(), text.data(), text.size());
    return written == static_cast<ssize_t>(text.size()) ? std::move(readEnd) : UniqueFd();
}

void BeginPrivilegedCopy() {
    signal(SIGPIPE, SIG_IGN);
    struct stat input {};
    if (fstat(0, &input) != 0 || !S_ISFIFO(input.st_mode))
        return;
    HandedOver() = ParseHandOff(ReadWaitingInput());
    // The copy reads no input, and the programs it starts must not read what
    // is left of a caller's pipe.
    UniqueFd null(open("/dev/null", O_RDONLY | O_CLOEXEC));
    if (null.get() >= 0)
        dup2(null.get(), 0);
}

std::vector<std::string> GraphicalSession() {
    std::vector<std::string> own = OwnSessionVariables();
    if (NamesDisplay(own))
        return own;
    return NamesDisplay(HandedOver()) ? HandedOver() : std::vector<std::string>();
}

} // namespace orvik::session
