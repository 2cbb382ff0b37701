#include "SystemBus.h"

#include <gtest/gtest.h>

#include <chrono>
#include <pwd.h>
#include <signal.h>
#include <unistd.h>

#include "IsolatedRoot.h"

namespace e2e {

namespace {

constexpr const char* kDaemon = "/usr/bin/dbus-daemon";
constexpr const char* kSend = "/usr/bin/dbus-send";
constexpr const char* kPolkitd = "/usr/lib/polkit-1/polkitd";
constexpr const char* kSocket = "/run/dbus/system_bus_socket";
constexpr const char* kAuthority = "org.freedesktop.PolicyKit1";

// Whether `name` has an owner on the system bus; false also while the bus does not answer.
bool NameHasOwner(const std::string& name) {
    std::string reply;
    const int status =
        RunAndWait(Command({kSend, "--system", "--print-reply", "--dest=org.freedesktop.DBus", "/",
                            "org.freedesktop.DBus.NameHasOwner", "string:" + name}),
                   &reply);
    return status == 0 && reply.find("boolean true") != std::string::npos;
}

// Waits (at most `seconds`) until `name` has an owner; gives up at once when the process that
// is to take it has ended.
bool WaitForName(const std::string& name, pid_t taker, int seconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (!NameHasOwner(name)) {
        if (!ProcessAlive(taker) || std::chrono::steady_clock::now() > deadline)
            return false;
        usleep(50000);
    }
    return true;
}

void Stop(pid_t pid) {
    if (pid <= 0)
        return;
    kill(pid, SIGTERM);
    if (!WaitForProcessEnd(pid, 10)) {
        kill(pid, SIGKILL);
        WaitForProcessEnd(pid, 10);
    }
}

} // namespace

std::string SystemBusUnavailableReason() {
    for (const char* tool : {kDaemon, kSend, kPolkitd})
        if (access(tool, X_OK) != 0)
            return std::string(tool) + " is not installed (packages dbus and polkitd)";
    for (const char* user : {"messagebus", "polkitd"})
        if (getpwnam(user) == nullptr)
            return std::string("the system user ") + user + " does not exist";
    return "";
}

void WritePolkitRule(const std::string& user, bool allow) {
    MakeDirs("/etc/polkit-1/rules.d");
    WriteFile("/etc/polkit-1/rules.d/10-orvik-e2e.rules",
              "polkit.addRule(function(action, subject) {\n"
              "    if (subject.user == \"" +
                  user +
                  "\" && (action.id == \"com.orvikware.orvik-uninstaller\" ||\n"
                  "                                action.id == "
                  "\"org.freedesktop.policykit.exec\"))\n"
                  "        return polkit.Result." +
                  (allow ? "YES" : "NO") + ";\n});\n");
}

SystemBus::SystemBus() {
    m_started = Start();
}

bool SystemBus::Start() {
    MakeDirs("/run/dbus");
    unlink(kSocket);
    m_bus = StartDetached(Command({kDaemon, "--system", "--nofork", "--nopidfile", "--nosyslog"}));
    if (m_bus <= 0 || !WaitForName("org.freedesktop.DBus", m_bus, 20)) {
        ADD_FAILURE() << "dbus-daemon --system did not answer on " << kSocket;
        return false;
    }
    m_polkit = StartDetached(Command({kPolkitd, "--no-debug"}));
    if (m_polkit <= 0 || !WaitForName(kAuthority, m_polkit, 30)) {
        ADD_FAILURE() << "polkitd did not take " << kAuthority << " on the system bus";
        return false;
    }
    return true;
}

SystemBus::~SystemBus() {
    Stop(m_polkit);
    Stop(m_bus);
}

} // namespace e2e
