// The pieces of process start-up that need no event loop: the program directory, the marker
// files and the choice of run mode.
#pragma once

#include <optional>
#include <string>

namespace app {

// The directory of argument 0 when it contains a '/' (made absolute, links not resolved), else
// the directory of /proc/self/exe; always ends in '/'.
std::string ProgramDirectory(const std::string& argv0);

struct Markers {
    bool DebugLogging = false;    // debug.txt exists: extra receive and download log lines
    bool StandaloneDebug = false; // debug2.txt exists: runs without a host
};
Markers ReadMarkers(const std::string& programDir);

enum class RunMode { StandaloneDebug, StartedByHost, Neither };

// argumentCount counts the arguments after the program name.
RunMode ChooseRunMode(const Markers& markers, int argumentCount);

// The host handle given as argument 1: a decimal integer, no blanks. Throws std::invalid_argument
// with a message for the operator (GBK) when it is not one.
unsigned ParseHostHandle(const std::string& argument);

// The session bus address that keeps the toolkit from starting a bus of its own. Without an
// address (DBUS_SESSION_BUS_ADDRESS unset or empty) and without a bus at $XDG_RUNTIME_DIR/bus,
// D-Bus "autolaunches" one on X11: a dbus-launch and a dbus-daemon that outlive the program when
// the display goes. An address of no known kind makes every connection fail at once instead.
// Nothing when a bus is there to be used.
std::optional<std::string> NoBusAutolaunch(const char* busAddress, const char* xdgRuntimeDir);

// The fixed handle of standalone debug mode; it belongs to no real window.
constexpr unsigned kStandaloneHostHandle = 11111111;

} // namespace app
