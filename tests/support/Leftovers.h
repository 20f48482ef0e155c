// What a killed process leaves behind, for tests of the clean-up at start-up.
#pragma once

#include <chrono>
#include <csignal>
#include <cstring>
#include <string>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

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

// Takes in, while it lives, the processes that this process's children leave behind when they
// are killed (the relay of a killed host simulator), so that a test can wait for them to end.
// Those it was told about and that still run at its end are killed.
class OrphanCatcher {
public:
    OrphanCatcher() { ::prctl(PR_SET_CHILD_SUBREAPER, 1); }
    ~OrphanCatcher() {
        for (pid_t pid : watched_) {
            if (::waitpid(pid, nullptr, WNOHANG) == 0) {
                ::kill(pid, SIGKILL);
                ::waitpid(pid, nullptr, 0);
            }
        }
        ::prctl(PR_SET_CHILD_SUBREAPER, 0);
    }
    OrphanCatcher(const OrphanCatcher&) = delete;
    OrphanCatcher& operator=(const OrphanCatcher&) = delete;

    void Watch(pid_t pid) { watched_.push_back(pid); }
    // The exit status of a watched process that has been taken in, once it ends; -1 when it
    // has not ended within the time.
    int WaitExit(pid_t pid, std::chrono::milliseconds timeout) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        int status = 0;
        while (::waitpid(pid, &status, WNOHANG) != pid) {
            if (std::chrono::steady_clock::now() > deadline) {
                return -1;
            }
            ::usleep(20000);
        }
        std::erase(watched_, pid);
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

private:
    std::vector<pid_t> watched_;
};

} // namespace testsupport
