// dcrelay-instance status: asks the running relay of an installation for its status over the
// relay's private socket, prints it, and exits with a monitoring check's status.
#pragma once

#include <chrono>
#include <cstdio>
#include <string>

namespace instance {

struct StatusOptions {
    std::string dir; // the installation directory, ending in '/'
    bool json = false;
    std::chrono::seconds stuckAfter{30};
    std::chrono::milliseconds timeout{5000};
};

// The exit status of a check.
enum StatusExit { kHealthy = 0, kDegraded = 1, kNotRunning = 3 };

// Prints the status (or why there is none) to `out` and returns the exit status.
int RunStatus(const StatusOptions& options, std::FILE* out);

} // namespace instance
