// The host simulator's dealings with the system: the relay as a child process and the signals
// that wake the poll loop.
#pragma once

#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace hostsim {

// Starts the relay with standard input from /dev/null and standard output on standard error, so
// that the simulator's standard output holds only events. -1 (and why) when it cannot fork.
pid_t StartRelay(const std::vector<std::string>& argv, std::string& error);

struct RelayExit {
    int status = 0; // the exit code, or 128 + signal
    int signal = 0; // the signal that ended it, 0 when it exited
};
// The relay's end when it has ended; never blocks.
std::optional<RelayExit> ReapRelay(pid_t relay);

// A pipe that becomes readable on SIGCHLD, SIGTERM and SIGINT; -1 on failure. SIGPIPE is
// ignored.
int SignalPipe();
// True when SIGTERM or SIGINT has come since the last call; drains the pipe.
bool StopSignalled(int pipe);

} // namespace hostsim
