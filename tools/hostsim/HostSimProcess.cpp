#include "HostSimProcess.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace hostsim {
namespace {

int signalPipe[2] = {-1, -1};
volatile sig_atomic_t stopRequested = 0;

void OnSignal(int sig) {
    if (sig != SIGCHLD) {
        stopRequested = 1;
    }
    const int saved = errno;
    char byte = 0;
    [[maybe_unused]] ssize_t n = ::write(signalPipe[1], &byte, 1);
    errno = saved;
}

} // namespace

pid_t StartRelay(const std::vector<std::string>& args, std::string& error) {
    std::vector<std::string> copy = args;
    std::vector<char*> argv;
    for (auto& a : copy) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    std::fflush(stdout);
    const pid_t relay = ::fork();
    if (relay < 0) {
        error = std::string("fork: ") + std::strerror(errno);
        return -1;
    }
    if (relay == 0) {
        const int null = ::open("/dev/null", O_RDONLY);
        if (null >= 0) {
            ::dup2(null, 0);
        }
        ::dup2(2, 1);
        std::signal(SIGPIPE, SIG_DFL);
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        ::execvp(argv[0], argv.data());
        std::fprintf(stderr, "dcrelay-hostsim: cannot start %s: %s\n", argv[0],
                     std::strerror(errno));
        ::_exit(127);
    }
    return relay;
}

std::optional<RelayExit> ReapRelay(pid_t relay) {
    int status = 0;
    if (::waitpid(relay, &status, WNOHANG) != relay) {
        return std::nullopt;
    }
    if (WIFEXITED(status)) {
        return RelayExit{WEXITSTATUS(status), 0};
    }
    const int sig = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    return RelayExit{128 + sig, sig};
}

int SignalPipe() {
    if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        return -1;
    }
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sa.sa_flags = SA_RESTART | SA_NOCLDSTOP;
    sigemptyset(&sa.sa_mask);
    ::sigaction(SIGCHLD, &sa, nullptr);
    ::sigaction(SIGTERM, &sa, nullptr);
    ::sigaction(SIGINT, &sa, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    return signalPipe[0];
}

bool StopSignalled(int pipe) {
    char drain[64];
    while (::read(pipe, drain, sizeof drain) > 0) {
    }
    const bool stop = stopRequested != 0;
    stopRequested = 0;
    return stop;
}

} // namespace hostsim
