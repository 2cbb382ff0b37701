// A system bus with the polkit authority on it, inside the isolated root, so that pkexec asks a
// real polkitd which answers from rules the scenario writes.
//
// SystemBus starts dbus-daemon --system (socket /run/dbus/system_bus_socket, dropping to the
// messagebus user as its configuration says) and polkitd (which drops to the polkitd user),
// both detached, waits until polkitd owns org.freedesktop.PolicyKit1 and stops both when it
// goes. polkitd reads its rules and actions when it starts: write them first.
#pragma once

#include <sys/types.h>

#include <string>

namespace e2e {

// Empty when a system bus with polkit can be started here; otherwise why not (for GTEST_SKIP).
std::string SystemBusUnavailableReason();

// Answers every request of `user` for the uninstaller's own action and for pkexec's generic
// one without asking: yes when `allow`, no otherwise. Other users and actions keep the answers
// of their policies.
void WritePolkitRule(const std::string& user, bool allow);

class SystemBus {
public:
    SystemBus(); // a failure is a gtest failure and leaves Started() false
    ~SystemBus();
    SystemBus(const SystemBus&) = delete;
    SystemBus& operator=(const SystemBus&) = delete;

    bool Started() const { return m_started; }

private:
    bool Start();
    pid_t m_bus = -1;
    pid_t m_polkit = -1;
    bool m_started = false;
};

} // namespace e2e
