// dcrelay-basesim: a base station with its handhelds on a pseudo-terminal. See Usage below.
#include "BaseSimPty.h"
#include "BaseSimulator.h"

#include "text/Files.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <iostream>
#include <poll.h>
#include <string>
#include <sys/ioctl.h>
#include <sys/signalfd.h>
#include <unistd.h>
#include <vector>

namespace {

using basesim::Millis;

const char kUsage[] =
    "usage: dcrelay-basesim [options]\n"
    "  --link PATH          make PATH a link to the simulator's device (e.g. ports/COM1)\n"
    "  --id HEX             station identifier (default 02)\n"
    "  --channel N          radio channel 1..256 (default 1); the answer carries N-1\n"
    "  --no-answer          never answer queries\n"
    "  --short-answer       answer queries with 7 bytes only\n"
    "  --notice-delay MS    broadcast notice this long after a start frame (default 500)\n"
    "  --no-notice          no broadcast notice after a start frame\n"
    "  --gap MS             least silence between two sent bursts (default 150)\n"
    "  --image-out FILE     write the rebuilt download image after each cycle and at exit\n"
    "  --image-size BYTES   least size of the rebuilt image (default 786432)\n"
    "  --packet-hex         print the bytes of every image packet too\n"
    "  --script FILE        run the commands of FILE first, then those of standard input\n"
    "  --stay               keep running after standard input ends (until quit or a signal)\n"
    "commands (script and standard input, one per line):\n"
    "  req HANDHELD OP [t=TIME] [st=HEX] [DATA]  OP: 0..36, a name (DL, KT, ...) or 0xHH;\n"
    "      TIME: 12 hex digits or hh:mm:ss; DATA after one blank: text (sent as GBK),\n"
    "      \"quoted text\" with \\\" \\\\ \\n \\r \\t \\xHH, or hex:HEX\n"
    "  wait MS | notice | ready | raw HEX | cycle | channel N | answer on|off|short\n"
    "  id HEX | mark NAME | quit\n"
    "Every frame received and every burst sent is one JSON line on standard output; a frame's\n"
    "\"time\" is the handheld clock it carries (12 hex digits), not a duration.\n";

Millis Now() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<Millis>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

void PrintLine(const std::string& json) {
    std::string line = json + "\n";
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fflush(stdout);
}

// Writes to the pty master; what the device cannot take now waits for POLLOUT.
class PtyOutput : public basesim::Output {
public:
    explicit PtyOutput(int fd) : fd_(fd) {}
    void Line(const std::string& json) override { PrintLine(json); }
    void Write(const basesim::Bytes& burst) override {
        lastWrite_ = Now();
        pending_ += burst;
        Flush();
    }
    void Flush() {
        while (!pending_.empty()) {
            ssize_t n = write(fd_, pending_.data(), pending_.size());
            if (n < 0) {
                if (errno == EINTR) {
                    continue;
                }
                return; // EAGAIN: the device is full; retried when writable
            }
            pending_.erase(0, static_cast<std::size_t>(n));
        }
    }
    bool Pending() const { return !pending_.empty(); }
    Millis LastWrite() const { return lastWrite_; }

private:
    int fd_;
    Millis lastWrite_ = 0;
    std::string pending_;
};

struct Args {
    basesim::Options options;
    std::string link;
    std::vector<std::string> scripts;
};

[[noreturn]] void UsageError(const std::string& message) {
    std::cerr << "dcrelay-basesim: " << message << " (--help lists the options)\n";
    std::exit(2);
}

Args ParseArgs(int argc, char** argv) {
    Args a;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        std::string value;
        bool hasValue = false;
        if (auto eq = arg.find('='); arg.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = arg.substr(eq + 1);
            arg = arg.substr(0, eq);
            hasValue = true;
        }
        auto take = [&]() -> std::string {
            if (hasValue) {
                return value;
            }
            if (i + 1 >= argc) {
                UsageError(arg + " needs a value");
            }
            return argv[++i];
        };
        auto number = [&](int min, int max) {
            std::string v = take();
            auto n = basesim::ParseInt(v, min, max);
            if (!n) {
                UsageError(arg + ": '" + v + "' is not a number in " + std::to_string(min) + ".." +
                           std::to_string(max));
            }
            return *n;
        };
        basesim::Options& o = a.options;
        if (arg == "--help" || arg == "-h") {
            std::cout << kUsage;
            std::exit(0);
        } else if (arg == "--link") {
            a.link = take();
        } else if (arg == "--id") {
            std::string v = take();
            auto id = basesim::ParseStation(v);
            if (!id) {
                UsageError("--id: '" + v + "' is not hex 00..FF");
            }
            o.id = *id;
        } else if (arg == "--channel") {
            o.channel = number(1, 256);
        } else if (arg == "--no-answer") {
            o.answer = basesim::AnswerMode::None;
        } else if (arg == "--short-answer") {
            o.answer = basesim::AnswerMode::Short;
        } else if (arg == "--notice-delay") {
            o.noticeDelay = number(0, 3600000);
        } else if (arg == "--no-notice") {
            o.notice = false;
        } else if (arg == "--gap") {
            o.gap = number(0, 60000);
        } else if (arg == "--image-out") {
            o.imageOut = take();
        } else if (arg == "--image-size") {
            o.imageSize = static_cast<std::size_t>(number(0, 64 * 1024 * 1024));
        } else if (arg == "--packet-hex") {
            o.packetHex = true;
        } else if (arg == "--script") {
            a.scripts.push_back(take());
        } else if (arg == "--stay") {
            o.stay = true;
        } else {
            UsageError("unknown argument '" + arg + "'");
        }
        if (hasValue && (arg == "--no-answer" || arg == "--short-answer" || arg == "--no-notice" ||
                         arg == "--packet-hex" || arg == "--stay")) {
            UsageError(arg + " takes no value");
        }
    }
    return a;
}

// Splits complete lines off `buffer` and hands them to the simulator.
void FeedLines(std::string& buffer, basesim::Simulator& sim, bool all) {
    std::size_t start = 0;
    for (std::size_t nl; (nl = buffer.find('\n', start)) != std::string::npos; start = nl + 1) {
        sim.Command(Now(), std::string_view(buffer).substr(start, nl - start));
    }
    buffer.erase(0, start);
    if (all && !buffer.empty()) {
        sim.Command(Now(), buffer);
        buffer.clear();
    }
}

int SignalFd() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGHUP);
    sigprocmask(SIG_BLOCK, &set, nullptr);
    return signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK);
}

struct Loop {
    basesim::Pty& pty;
    PtyOutput& out;
    basesim::Simulator& sim;
    int sigFd;
    bool inputOpen = true;
    std::string inputBuffer;
    const char* reason = "";

    bool Step() {
        pollfd fds[3] = {{pty.master, POLLIN, 0}, {sigFd, POLLIN, 0}, {0, POLLIN, 0}};
        if (out.Pending()) {
            fds[0].events |= POLLOUT;
        }
        nfds_t count = inputOpen ? 3 : 2;
        int timeout = -1;
        if (auto deadline = sim.NextDeadline()) {
            timeout = static_cast<int>(std::max<Millis>(0, *deadline - Now()));
        }
        if (poll(fds, count, timeout) < 0 && errno != EINTR) {
            reason = "poll failed";
            return false;
        }
        if (fds[1].revents & POLLIN) {
            reason = "signal";
            return false;
        }
        if (fds[0].revents & POLLOUT) {
            out.Flush();
        }
        if ((fds[0].revents & (POLLIN | POLLHUP | POLLERR)) && !ReadDevice()) {
            return false;
        }
        if (inputOpen && (fds[2].revents & (POLLIN | POLLHUP | POLLERR))) {
            ReadInput();
        }
        sim.Tick(Now());
        if (sim.Finished()) {
            reason = sim.FinishReason();
            return false;
        }
        return true;
    }

    bool ReadDevice() {
        char buf[4096];
        for (;;) {
            ssize_t n = read(pty.master, buf, sizeof buf);
            if (n > 0) {
                sim.Received(Now(), std::string_view(buf, static_cast<std::size_t>(n)));
                continue;
            }
            if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
                return true;
            }
            reason = "device failed"; // the slave is held open, so this is not a relay hang-up
            return false;
        }
    }

    void ReadInput() {
        char buf[4096];
        ssize_t n = read(0, buf, sizeof buf);
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            return;
        }
        if (n <= 0) {
            inputOpen = false;
            FeedLines(inputBuffer, sim, true);
            sim.InputEnded(Now());
            return;
        }
        inputBuffer.append(buf, static_cast<std::size_t>(n));
        FeedLines(inputBuffer, sim, false);
    }
};

// Gives the relay up to a second to read what was last sent before the device goes away: closing
// the master would drop the bytes still waiting at the device. Bytes just written may not be
// counted at the device yet, so the count is trusted only a moment after the last write.
void Linger(basesim::Pty& pty, PtyOutput& out) {
    constexpr Millis kSettle = 100;
    Millis until = Now() + 1000;
    for (;;) {
        out.Flush();
        int waiting = 0;
        bool settled = Now() - out.LastWrite() >= kSettle;
        if (ioctl(pty.slave, FIONREAD, &waiting) != 0 ||
            (waiting == 0 && !out.Pending() && settled) || Now() >= until) {
            return;
        }
        pollfd p{pty.master, static_cast<short>(out.Pending() ? POLLOUT : 0), 0};
        poll(&p, 1, 10);
    }
}

} // namespace

int main(int argc, char** argv) {
    std::signal(SIGPIPE, SIG_IGN);
    Args args = ParseArgs(argc, argv);
    std::vector<std::string> scriptText;
    for (const std::string& path : args.scripts) {
        auto text = text::ReadFile(path);
        if (!text) {
            std::cerr << "dcrelay-basesim: cannot read script " << path << ": "
                      << std::strerror(errno) << "\n";
            return 2;
        }
        scriptText.push_back(*text);
    }
    int sigFd = SignalFd();
    basesim::Pty pty;
    try {
        pty = basesim::OpenPty();
        if (!args.link.empty()) {
            basesim::MakeLink(args.link, pty.path);
        }
    } catch (const std::exception& e) {
        std::cerr << "dcrelay-basesim: " << e.what() << "\n";
        basesim::ClosePty(pty);
        return 1;
    }
    PtyOutput out(pty.master);
    basesim::Simulator sim(args.options, out);
    PrintLine(basesim::JsonLine()
                  .Str("event", "ready")
                  .Str("path", pty.path)
                  .Str("link", args.link)
                  .Str("id", basesim::Hex(std::string(1, static_cast<char>(args.options.id))))
                  .Int("channel", args.options.channel)
                  .Text());
    for (std::string& text : scriptText) {
        FeedLines(text, sim, true);
    }
    Loop loop{pty, out, sim, sigFd, true, {}, ""};
    while (loop.Step()) {
    }
    sim.Shutdown();
    if (std::string(loop.reason) != "signal") {
        Linger(pty, out);
    }
    PrintLine(basesim::JsonLine().Str("event", "exit").Str("reason", loop.reason).Text());
    if (!args.link.empty()) {
        basesim::RemoveLink(args.link, pty.path);
    }
    basesim::ClosePty(pty);
    return std::string(loop.reason) == "device failed" || std::string(loop.reason) == "poll failed"
               ? 1
               : 0;
}
