// What a killed process leaves behind, for tests of the clean-up at start-up.
#pragma once

#include <cstring>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

namespace testsupport {

// The id of a process that has ended: a child that exits at once, reaped.
inline pid_t DeadPid() {
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::_exit(0);
    }
    ::waitpid(pid, nullptr, 0);
    return pid;
}

// A socket file that nobody listens on any more; false when it could not be made.
inline bool LeaveStaleSocket(const std::string& path) {
    sockaddr_un addr{AF_UNIX, {}};
    std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
    const int fd = ::socket(AF_UNIX, SOCK_DGRAM, 0);
    const bool bound = ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    ::close(fd);
    return bound;
}

} // namespace testsupport
