// bench-floor-relay HANDLE PORT EXCHANGE [--copy]: the least any relay does for a request, for
// bench-relay-link to measure the relay against in the same run. dcrelay-hostsim starts it in
// place of dcrelay. It makes the relay's hops and waits and nothing else: it reads the port with
// the relay's 100 ms silence rule, writes T1.txt to a temporary file and renames it, posts the
// notification and waits 10 ms (handling what comes meanwhile), takes the host's message, waits
// 20 ms and 100 ms, reads R1.TXT and writes the reply frame to the port, all as the relay does. No
// work log, no registry, no queue files, and no R2.txt unless --copy asks for the relay's copy of
// the reply (written and renamed before the frame), to show that file's share of the relay's
// time. SIGTERM or the host's closing message ends it.
#include "baselink/BaseFrame.h"
#include "baselink/SerialPlatform.h"
#include "baselink/xyTypeConv.h"
#include "hostlink/HostProtocol.h"
#include "hostlink/HostSocket.h"
#include "hostlink/RuntimeDir.h"
#include "text/Files.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <optional>
#include <poll.h>
#include <string>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;
using BaseFrame::RequestFrame;

constexpr auto kReadSilence = 100ms; // the ports' ReadIntervalTimeout
// The relay's wait after posting a notification, during which the host's message is handled.
constexpr auto kAfterNotify = 10ms;
// The relay's two waits after the host's message, one after the other, then R1.TXT is read.
constexpr auto kSettle = 20ms;
constexpr auto kBeforeReading = 100ms;
constexpr auto kReplyRetry = 10ms; // while R1.TXT is not there yet
constexpr std::size_t kFullChunk = 2048;

volatile std::sig_atomic_t stopRequested = 0;

void OnStop(int) {
    stopRequested = 1;
}

int MsUntil(Clock::time_point t) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(t - Clock::now());
    return static_cast<int>(std::clamp<long long>(left.count(), 0, INT_MAX));
}

class Floor {
public:
    Floor(unsigned host, std::string exchange, bool copy)
        : host_(host), exchange_(std::move(exchange)), copy_(copy) {}

    bool Open(const std::string& portPath) {
        const hostlink::RuntimeDirResult dir = hostlink::PrepareRuntimeDir();
        const unsigned own = static_cast<unsigned>(::getpid());
        if (!dir.ok || !socket_.Open(dir.path, own).empty()) {
            return false;
        }
        const serial::OpenedDevice device = serial::OpenDevice(portPath);
        if (device.status != serial::OpenStatus::Opened) {
            return false;
        }
        port_ = device.fd;
        const int handle = static_cast<int>(own);
        socket_.Post(host_, {own, handle});
        WriteToPort(HexCodec::HexToText(BaseFrame::kQueryFrame)); // the simulator waits for it
        return true;
    }

    void Run() {
        while (!stopRequested && !closing_) {
            pollfd fds[2] = {{port_, POLLIN, 0}, {socket_.Fd(), POLLIN, 0}};
            const int n = ::poll(fds, 2, Timeout());
            if (n < 0) {
                continue; // EINTR: the stop signal is looked at above
            }
            if (fds[0].revents & POLLIN) {
                ReadPort();
            } else if (fds[0].revents & (POLLHUP | POLLERR)) {
                return;
            }
            while (auto message = socket_.Receive()) {
                HostMessage(*message);
            }
            DueWork();
        }
    }

private:
    int Timeout() const {
        std::optional<Clock::time_point> next;
        if (!chunk_.empty()) {
            next = lastByte_ + kReadSilence;
        }
        for (const auto& due : {notified_, settled_, readAt_}) {
            if (due && (!next || *due < *next)) {
                next = due;
            }
        }
        return next ? MsUntil(*next) : -1;
    }

    void ReadPort() {
        char buffer[kFullChunk];
        const serial::IoResult io = serial::ReadSome(port_, buffer, kFullChunk - chunk_.size());
        if (io.status != serial::IoStatus::Done) {
            return;
        }
        chunk_.append(buffer, io.count);
        lastByte_ = Clock::now();
        if (chunk_.size() == kFullChunk) {
            EndChunk();
        }
    }

    void HostMessage(const hostlink::HostMessage& m) {
        switch (hostlink::ClassifyHostCode(m.second)) {
        case hostlink::HostCode::HostCloses:
            closing_ = true;
            break;
        case hostlink::HostCode::HandleOrReply:
            if (withHost_ && !settled_ && !readAt_) {
                settled_ = Clock::now() + kSettle;
            }
            break;
        default:
            break;
        }
    }

    void DueWork() {
        const Clock::time_point now = Clock::now();
        if (!chunk_.empty() && now >= lastByte_ + kReadSilence) {
            EndChunk();
        }
        if (notified_ && now >= *notified_) {
            notified_.reset();
        }
        if (settled_ && now >= *settled_) {
            settled_.reset();
            readAt_ = Clock::now() + kBeforeReading;
        } else if (readAt_ && now >= *readAt_) {
            Reply();
        }
    }

    // The request frames at the front of the chunk, one after another.
    void EndChunk() {
        std::span<const std::uint8_t> rest(reinterpret_cast<const std::uint8_t*>(chunk_.data()),
                                           chunk_.size());
        for (;;) {
            BaseFrame::RequestCheck check = BaseFrame::CheckRequest(rest);
            if (check.Verdict != BaseFrame::RequestVerdict::Request) {
                break;
            }
            waiting_.push_back(std::move(check.Frame));
            rest = rest.subspan(check.Length);
        }
        chunk_.clear();
        NextToHost();
    }

    void NextToHost() {
        if (withHost_ || waiting_.empty()) {
            return;
        }
        withHost_ = std::move(waiting_.front());
        waiting_.pop_front();
        char header[32];
        std::snprintf(header, sizeof header, "OP%-2d %03d\r\n", withHost_->Operation,
                      withHost_->Handheld);
        text::WriteFileAtomic(exchange_ + hostlink::kRequestFile, header + withHost_->Data + "\r\n",
                              text::Durability::Cached);
        socket_.Post(host_, {hostlink::kNotifyFirst, hostlink::kNotifySecond});
        notified_ = Clock::now() + kAfterNotify;
    }

    // The reply file's body, its last line end removed, framed for the handheld.
    void Reply() {
        const std::optional<std::string> file =
            text::ReadFile(text::FindNoCase(exchange_, hostlink::kReplyFile));
        if (!file) {
            readAt_ = Clock::now() + kReplyRetry;
            return;
        }
        const std::size_t lineEnd = file->find("\r\n");
        std::string body = lineEnd == std::string::npos ? "" : file->substr(lineEnd + 2);
        if (body.size() >= 2 && body.compare(body.size() - 2, 2, "\r\n") == 0) {
            body.resize(body.size() - 2);
        }
        if (copy_) {
            text::WriteFileAtomic(exchange_ + "R2.txt", body + "\r\n", text::Durability::Cached);
        }
        const RequestFrame& r = *withHost_;
        WriteToPort(HexCodec::HexToText(
            BaseFrame::BuildReply(r.Operation, r.BaseByte, r.Handheld, body, r.TimeHex, true)));
        withHost_.reset();
        readAt_.reset();
        NextToHost();
    }

    void WriteToPort(const std::string& bytes) {
        std::size_t done = 0;
        while (done < bytes.size()) {
            const serial::IoResult io =
                serial::WriteSome(port_, bytes.data() + done, bytes.size() - done);
            if (io.status == serial::IoStatus::Done) {
                done += io.count;
            } else if (io.status != serial::IoStatus::WouldBlock ||
                       serial::WaitReady(port_, true, -1, -1) != serial::Readiness::Ready) {
                return;
            }
        }
    }

    const unsigned host_;
    const std::string exchange_;
    const bool copy_;
    hostlink::HostSocket socket_;
    int port_ = -1;
    std::string chunk_;
    Clock::time_point lastByte_;
    std::deque<RequestFrame> waiting_;
    std::optional<RequestFrame> withHost_;
    std::optional<Clock::time_point> notified_, settled_, readAt_;
    bool closing_ = false;
};

} // namespace

int main(int argc, char** argv) {
    const bool copy = argc == 5 && std::strcmp(argv[4], "--copy") == 0;
    if (argc != 4 && !copy) {
        std::fputs("usage: bench-floor-relay HANDLE PORT EXCHANGE [--copy] (started by "
                   "dcrelay-hostsim)\n",
                   stderr);
        return 2;
    }
    struct sigaction stop {};
    stop.sa_handler = OnStop;
    ::sigaction(SIGTERM, &stop, nullptr);
    ::sigaction(SIGINT, &stop, nullptr);
    std::string exchange = argv[3];
    if (exchange.back() != '/') {
        exchange += '/';
    }
    Floor floor(static_cast<unsigned>(std::strtoul(argv[1], nullptr, 10)), exchange, copy);
    if (!floor.Open(argv[2])) {
        std::fprintf(stderr, "bench-floor-relay: cannot open %s or the host link\n", argv[2]);
        return 1;
    }
    floor.Run();
    return 0;
}
