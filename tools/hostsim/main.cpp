// dcrelay-hostsim: plays the host program. Binds its own window (a datagram socket, or with
// --stream a listening stream socket), starts the relay with its handle as argument 1, answers
// every request notification from its reply rules, runs script and standard-input commands,
// and prints every event as one JSON line on standard output (see HostSimulator.h). The
// simulator's exit code is the relay's status.
#include "HostSimProcess.h"
#include "HostSimulator.h"

#include "hostlink/HostSocket.h"
#include "hostlink/HostStream.h"
#include "hostlink/RuntimeDir.h"
#include "text/Files.h"
#include "text/Gbk.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <unistd.h>

namespace {

using namespace hostsim;

// Standard output, the endpoint and the relay process.
class Host : public Output {
public:
    void Line(const std::string& json) override {
        std::string line = json + "\n";
        std::fwrite(line.data(), 1, line.size(), stdout);
        std::fflush(stdout);
    }
    bool Post(unsigned window, const hostlink::HostMessage& m) override {
        return stream ? connection.Write(m) : socket.Post(window, m);
    }
    void Signal(int signal) override {
        if (relay > 0) { // not once it has been reaped
            ::kill(relay, signal);
        }
    }

    bool stream = false;
    hostlink::HostSocket socket;     // the datagram window
    hostlink::StreamWindow listener; // or the stream window
    hostlink::HostStream connection; // with the relay's connection to it
    pid_t relay = -1;
};

Ms Now() {
    static const auto start = std::chrono::steady_clock::now();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

// Hands the complete lines of `buffer` to the simulator; at the end also the rest.
void FeedLines(std::string& buffer, Simulator& sim, bool end) {
    for (std::size_t nl; (nl = buffer.find('\n')) != std::string::npos;) {
        sim.Command(buffer.substr(0, nl));
        buffer.erase(0, nl + 1);
    }
    if (end && !buffer.empty()) {
        sim.Command(buffer);
        buffer.clear();
    }
}

// False when standard input has ended.
bool ReadInput(std::string& buffer, Simulator& sim) {
    char chunk[4096];
    const ssize_t n = ::read(0, chunk, sizeof chunk);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) {
        return true;
    }
    buffer.append(chunk, n > 0 ? static_cast<std::size_t>(n) : 0);
    FeedLines(buffer, sim, n <= 0);
    return n > 0;
}

int PollTimeout(const Simulator& sim) {
    const std::optional<Ms> next = sim.NextDeadline();
    if (!next) {
        return -1;
    }
    const double left = *next - Now();
    return left <= 0 ? 0 : static_cast<int>(std::min(left + 0.999, 1e6));
}

// Hands every waiting message to the simulator; on the stream carrier also takes the relay's
// connection (a newer one replaces it) and reports its end.
void ReceiveAll(Host& host, Simulator& sim) {
    if (!host.stream) {
        while (auto m = host.socket.Receive()) {
            sim.Received(Now(), *m);
        }
        return;
    }
    while (host.listener.Accept(host.connection)) {
        sim.Connection(Now(), true);
    }
    hostlink::HostMessage m;
    int error = 0;
    for (;;) {
        const hostlink::HostStream::Read read = host.connection.ReadSome(m, error);
        if (read == hostlink::HostStream::Read::Message) {
            sim.Received(Now(), m);
        } else {
            if (read == hostlink::HostStream::Read::Ended && host.connection.IsOpen()) {
                host.connection.Close();
                sim.Connection(Now(), false);
            }
            return;
        }
    }
}

bool OpenEndpoint(const Options& o, Host& host, Simulator& sim, Started& started) {
    if (!o.runtimeDir.empty()) {
        ::setenv("DCRELAY_RUNTIME_DIR", o.runtimeDir.c_str(), 1);
    }
    hostlink::RuntimeDirResult dir = hostlink::PrepareRuntimeDir();
    if (!dir.ok) {
        sim.Error(Now(), text::ToUtf8(dir.reason));
        return false;
    }
    started.runtimeDir = dir.path;
    started.handle = o.handle ? *o.handle : static_cast<unsigned>(::getpid());
    host.stream = o.stream;
    const std::string error = o.stream ? text::ToUtf8(host.listener.Open(dir.path, started.handle))
                                       : host.socket.Open(dir.path, started.handle);
    if (!error.empty()) {
        sim.Error(Now(),
                  "cannot bind " + hostlink::WindowPath(dir.path, started.handle) + ": " + error);
        return false;
    }
    return true;
}

void LoadScript(const std::string& path, Simulator& sim) {
    std::optional<std::string> script = text::ReadFile(path);
    if (!script) {
        sim.Error(Now(), "cannot read script " + path);
        return;
    }
    FeedLines(*script, sim, true);
}

} // namespace

int main(int argc, char** argv) {
    Now(); // the simulator's clock starts here
    ParsedOptions parsed = ParseOptions(std::vector<std::string>(argv + 1, argv + argc));
    if (parsed.help) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (!parsed.error.empty()) {
        std::fprintf(stderr, "dcrelay-hostsim: %s\n%s", parsed.error.c_str(), kUsage);
        return 2;
    }
    const Options o = parsed.options;
    Host host;
    Simulator sim(o, host, Now);
    const int signals = SignalPipe();
    Started started;
    if (signals < 0 || !OpenEndpoint(o, host, sim, started)) {
        return 1;
    }
    if (!o.script.empty()) {
        LoadScript(o.script, sim);
    }
    started.command = {o.command[0]};
    if (!o.noHandleArg) {
        started.command.push_back(o.handleArg ? *o.handleArg : std::to_string(started.handle));
    }
    started.command.insert(started.command.end(), o.command.begin() + 1, o.command.end());
    std::string error;
    host.relay = StartRelay(started.command, error);
    if (host.relay < 0) {
        sim.Error(Now(), error);
        return 1;
    }
    started.relayPid = host.relay;
    sim.RelayStarted(Now(), started);

    std::optional<RelayExit> exit;
    bool inputOpen = o.readStdin;
    std::string input;
    for (;;) {
        ReceiveAll(host, sim);
        const bool stop = StopSignalled(signals);
        if (stop && exit) {
            break; // --stay after the relay has ended
        }
        if (stop) {
            sim.Stop(Now());
        }
        sim.Tick(Now());
        if (!exit && (exit = ReapRelay(host.relay))) {
            host.relay = -1;
            if (!o.stay) {
                break;
            }
            sim.RelayEnded(Now(), exit->status, exit->signal);
        }
        if (exit && !inputOpen) {
            return exit->status;
        }
        // -1 descriptors are left out by poll: the listener and connection of the other carrier.
        pollfd fds[5] = {{signals, POLLIN, 0},
                         {inputOpen ? 0 : -1, POLLIN, 0},
                         {host.socket.Fd(), POLLIN, 0},
                         {host.listener.Fd(), POLLIN, 0},
                         {host.connection.Fd(), POLLIN, 0}};
        if (::poll(fds, 5, PollTimeout(sim)) < 0 && errno != EINTR) {
            sim.Error(Now(), std::string("poll: ") + std::strerror(errno));
            break;
        }
        if (inputOpen && (fds[1].revents & (POLLIN | POLLHUP | POLLERR))) {
            inputOpen = ReadInput(input, sim);
        }
    }
    if (exit && o.stay) {
        return exit->status;
    }
    while (!exit) {
        ::kill(host.relay, SIGKILL);
        ::usleep(1000);
        exit = ReapRelay(host.relay);
    }
    ReceiveAll(host, sim); // what the relay posted just before it ended
    sim.RelayEnded(Now(), exit->status, exit->signal);
    return exit->status;
}
