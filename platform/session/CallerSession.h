// The caller's graphical session, carried to a privileged copy of the program.
//
// An elevation tool may drop the variables that name the caller's display
// (pkexec keeps them only for the program its policy names), so the caller
// writes them into a pipe that becomes the copy's standard input, and the
// copy takes them from there once, as it begins. Its dialogs then reach the
// caller's display, shown as the user who asked.
//
//   caller:  options.in = Stream::Of(handOff.get());  // handOff = HandOff()
//   copy:    BeginPrivilegedCopy();  ...  GraphicalSession()  // {"DISPLAY=:0", ...}
#pragma once

#include <string>
#include <vector>

#include "platform/UniqueFd.h"

namespace orvik::session {

// This process's session variables: DISPLAY, XAUTHORITY, WAYLAND_DISPLAY,
// XDG_RUNTIME_DIR, those that are set, as "NAME=value".
std::vector<std::string> OwnSessionVariables();

// The read end of a pipe that holds this process's session variables, its
// write end already closed; -1 when no pipe could be made.
UniqueFd HandOff();

// In the privileged copy, as it begins: when standard input is a pipe, takes
// the session handed over in it (if what waits there is one) and puts
// /dev/null in its place; and lets a write to an output whose reader has
// gone fail instead of ending the process.
void BeginPrivilegedCopy();

// The session the dialogs use: this process's own when it names a display,
// else the one handed over; empty when there is none.
std::vector<std::string> GraphicalSession();

} // namespace orvik::session
