#include "baselink/SerialComm.h"

#include "baselink/SerialPlatform.h"
#include "baselink/SerialPortList.h"

#include <QCoreApplication>
#include <QEvent>
#include <algorithm>
#include <chrono>
#include <climits>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>

namespace serial {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kReadBufferSize = 2048;
// How often the reader looks at the driver's line counters while nothing arrives (only where
// the driver keeps them).
constexpr int kCounterPollMs = 200;
// The longest a close waits for handed-over bytes to leave: a full 2048-byte buffer takes 178 ms
// at 115200 baud.
constexpr int kCloseDrainMs = 200;

struct Notification {
    int code = 0;
    std::uint32_t value = 0;
    std::string bytes; // received bytes (1025); std::string keeps a 0 after them
};

// The component's message sink. Each Post queues one notification and posts one event to the
// sink; each event hands over the oldest notification. The main thread thus sees them in
// posting order, one per event, and a notification is freed with its event or with the
// component, whichever comes first. The sink receives no other events, so it never needs to
// look at one: whatever it knows about a notification it learns under its own lock.
class Mailbox : public QObject {
public:
    explicit Mailbox(std::function<void(const Notification&)> deliver)
        : deliver_(std::move(deliver)) {}

    void Post(Notification notification) {
        auto* wake = new QEvent(EventType());
        {
            std::lock_guard lock(mutex_);
            queue_.push_back(std::move(notification));
        }
        QCoreApplication::postEvent(this, wake);
    }

protected:
    void customEvent(QEvent*) override {
        if (std::optional<Notification> notification = Take()) {
            deliver_(*notification);
        }
    }

private:
    static QEvent::Type EventType() {
        static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
        return type;
    }

    std::optional<Notification> Take() {
        std::lock_guard lock(mutex_);
        if (queue_.empty()) {
            return std::nullopt;
        }
        Notification n = std::move(queue_.front());
        queue_.pop_front();
        return n;
    }

    std::function<void(const Notification&)> deliver_;
    std::mutex mutex_;
    std::deque<Notification> queue_;
};

// The read time-outs, changed by the main thread while the reader runs.
struct ReadSettings {
    std::atomic<std::uint32_t> interval{100};
    std::atomic<std::uint32_t> totalMultiplier{0};
    std::atomic<std::uint32_t> totalConstant{0};
    std::atomic<bool> ignoreNullChar{false};
};

// What the threads of one open device share with the component.
struct SharedPort {
    SharedPort(int device, Mailbox& mailbox) : fd(device), sink(mailbox) {}

    // A vanished device or a failed call: reported once per opening, whichever thread sees it
    // first.
    void PostHangup() {
        if (!hangupReported.exchange(true)) {
            sink.Post({kCommRequestHangup, 0, {}});
        }
    }

    const int fd;
    StopEvent closeEvent;
    Mailbox& sink;
    ReadSettings read;
    std::atomic<bool> hangupReported{false};
    // Set by the close when everything handed over has left: nothing is discarded then (on a
    // pseudo-terminal a discard would still drop bytes on their way to the far end).
    std::atomic<bool> outputSent{false};
};

// The writer's thread messages: private copies of the bytes to send, in order.
class WriteQueue {
public:
    explicit WriteQueue(std::atomic<bool>& sendQueueEmpty) : sendQueueEmpty_(sendQueueEmpty) {}

    bool Valid() const { return wake_.Valid(); }
    int WakeFd() const { return wake_.Fd(); }
    void ConsumeWake() { wake_.Consume(); }

    // False once the writer has ended: nothing would ever send the bytes.
    bool Post(std::string bytes) {
        {
            std::lock_guard lock(mutex_);
            if (!accepting_) {
                return false;
            }
            queue_.push_back(std::move(bytes));
            sendQueueEmpty_ = false;
        }
        wake_.Raise();
        return true;
    }

    // The next message, or none; none also marks the queue empty, under the same lock as Post,
    // so the flag never says empty while a copy waits. The writer asks again only once it has
    // written the message it took, so until then a message counts as being written.
    std::optional<std::string> TryTake() {
        std::lock_guard lock(mutex_);
        if (queue_.empty()) {
            sendQueueEmpty_ = true;
            writing_ = false;
            return std::nullopt;
        }
        std::string bytes = std::move(queue_.front());
        queue_.pop_front();
        writing_ = true;
        return bytes;
    }

    // Every posted copy has been written to the device (or the writer has ended).
    bool Written() {
        std::lock_guard lock(mutex_);
        return queue_.empty() && !writing_;
    }

    // The writer has ended: later posts fail and waiting copies are freed.
    void Close() {
        std::lock_guard lock(mutex_);
        accepting_ = false;
        queue_.clear();
        writing_ = false;
        sendQueueEmpty_ = true;
    }

private:
    std::atomic<bool>& sendQueueEmpty_;
    WakeSignal wake_;
    std::mutex mutex_;
    std::deque<std::string> queue_;
    bool accepting_ = true;
    bool writing_ = false;
};

// The reader: waits for bytes, gathers them into chunks and posts each chunk to the main
// thread. A chunk ends when ReadIntervalTimeout ms pass after a byte without another one, when
// the buffer holds 2048 bytes, or (with a total read time-out) when that time has passed since
// its first byte.
class TReadThread {
public:
    explicit TReadThread(SharedPort& port) : port_(port) {}
    ~TReadThread() { Join(); }

    void Start() { thread_ = std::thread(&TReadThread::Execute, this); }
    void Join() {
        if (thread_.joinable()) {
            thread_.join();
        }
    }

private:
    void Execute() {
        try {
            haveCounters_ = ReadLineCounters(port_.fd, counters_);
            Loop();
        } catch (...) {
            port_.PostHangup(); // a copy could not be made or posted
        }
        DiscardInput(port_.fd);
    }

    void Loop() {
        for (;;) {
            const Readiness ready = WaitReady(port_.fd, false, port_.closeEvent.Fd(), WaitMs());
            if (ready == Readiness::Stopped) {
                // What the station sent before the close (a request, an answer) goes on as the
                // last chunk rather than being lost with the port: the scan closes working ports.
                DeliverChunk();
                return;
            }
            if (haveCounters_) {
                CheckLineCounters();
            }
            if (ready == Readiness::Failed || ready == Readiness::HungUp) {
                DeliverChunk();
                port_.PostHangup();
                return;
            }
            if (ready == Readiness::Ready && !ReadAvailable()) {
                return;
            }
            if (count_ > 0 && ChunkEnded(Clock::now())) {
                DeliverChunk();
            }
        }
    }

    // Reads what has arrived into the buffer; false when the reader must end.
    bool ReadAvailable() {
        const IoResult io = ReadSome(port_.fd, buffer_ + count_, kReadBufferSize - count_);
        switch (io.status) {
        case IoStatus::Done:
            Append(io.count);
            if (count_ == kReadBufferSize) {
                DeliverChunk();
            }
            return true;
        case IoStatus::WouldBlock:
            return true;
        case IoStatus::Closed:
            return false; // the device was closed under the thread: nothing to report
        case IoStatus::HungUp:
        case IoStatus::Failed:
            break;
        }
        DeliverChunk();
        port_.PostHangup();
        return false;
    }

    void Append(std::size_t n) {
        const auto now = Clock::now();
        if (count_ == 0) {
            firstByte_ = now;
        }
        if (port_.read.ignoreNullChar) {
            n = std::remove(buffer_ + count_, buffer_ + count_ + n, '\0') - (buffer_ + count_);
        }
        count_ += n;
        if (n > 0) {
            lastByte_ = now;
        }
    }

    Clock::time_point ChunkDeadline() const {
        using std::chrono::milliseconds;
        auto deadline = lastByte_ + milliseconds(port_.read.interval.load());
        const std::uint64_t total =
            std::uint64_t(port_.read.totalMultiplier) * kReadBufferSize + port_.read.totalConstant;
        if (total > 0) {
            deadline = std::min(deadline, firstByte_ + milliseconds(total));
        }
        return deadline;
    }

    bool ChunkEnded(Clock::time_point now) const { return now >= ChunkDeadline(); }

    // No limit while the buffer is empty; else until the chunk's deadline, rounded up so that a
    // wake-up never comes before it.
    int WaitMs() const {
        long long ms = -1;
        if (count_ > 0) {
            const auto left =
                std::chrono::ceil<std::chrono::milliseconds>(ChunkDeadline() - Clock::now());
            ms = std::clamp<long long>(left.count(), 0, INT_MAX);
        }
        if (haveCounters_ && (ms < 0 || ms > kCounterPollMs)) {
            ms = kCounterPollMs;
        }
        return static_cast<int>(ms);
    }

    void DeliverChunk() {
        if (count_ == 0) {
            return;
        }
        port_.sink.Post(
            {kCommReceiveData, static_cast<std::uint32_t>(count_), std::string(buffer_, count_)});
        count_ = 0;
    }

    void CheckLineCounters() {
        LineCounters now;
        if (!ReadLineCounters(port_.fd, now)) {
            return;
        }
        if (const auto errors = LineErrorBits(counters_, now)) {
            port_.sink.Post({kCommReceiveError, errors, {}});
        }
        if (const auto modem = ModemEventBits(counters_, now)) {
            port_.sink.Post({kCommModemStateChange, modem, {}});
        }
        counters_ = now;
    }

    SharedPort& port_;
    std::thread thread_;
    char buffer_[kReadBufferSize];
    std::size_t count_ = 0;
    Clock::time_point firstByte_, lastByte_;
    bool haveCounters_ = false;
    LineCounters counters_;
};

// The writer: takes the queued copies in order and writes each whole; reports once each time
// it runs out of work.
class TWriteThread {
public:
    TWriteThread(SharedPort& port, WriteQueue& queue, std::atomic<bool>& sendQueueEmpty)
        : port_(port), queue_(queue), sendQueueEmpty_(sendQueueEmpty) {}
    ~TWriteThread() { Join(); }

    void Start() { thread_ = std::thread(&TWriteThread::Execute, this); }
    void Join() {
        if (thread_.joinable()) {
            thread_.join();
        }
    }

private:
    void Execute() {
        try {
            Loop();
        } catch (...) {
            port_.PostHangup();
        }
        queue_.Close();
        if (!port_.outputSent) {
            DiscardOutput(port_.fd);
        }
        sendQueueEmpty_ = true;
    }

    void Loop() {
        bool idleReport = true;
        for (;;) {
            std::optional<std::string> message = queue_.TryTake();
            if (!message) {
                if (idleReport) {
                    port_.sink.Post({kCommSendDataEmpty, 0, {}});
                    idleReport = false;
                }
                const Readiness r = WaitReady(queue_.WakeFd(), false, port_.closeEvent.Fd(), -1);
                if (r == Readiness::Stopped) {
                    return;
                }
                if (r != Readiness::Ready) {
                    port_.PostHangup();
                    return;
                }
                queue_.ConsumeWake();
                continue;
            }
            if (!WriteWhole(*message)) {
                return;
            }
            idleReport = true;
        }
    }

    // Writes all bytes, waiting for room whenever the device is full. False when the close
    // event was set or the device failed.
    bool WriteWhole(const std::string& bytes) {
        std::size_t done = 0;
        while (done < bytes.size()) {
            const IoResult io = WriteSome(port_.fd, bytes.data() + done, bytes.size() - done);
            if (io.status == IoStatus::Done && io.count > 0) {
                done += io.count;
                continue;
            }
            if (io.status == IoStatus::Closed) {
                return false;
            }
            if (io.status == IoStatus::HungUp || io.status == IoStatus::Failed) {
                port_.PostHangup();
                return false;
            }
            const Readiness r = WaitReady(port_.fd, true, port_.closeEvent.Fd(), -1);
            if (r == Readiness::Stopped) {
                return false;
            }
            if (r == Readiness::HungUp || r == Readiness::Failed) {
                port_.PostHangup();
                return false;
            }
        }
        return true;
    }

    SharedPort& port_;
    WriteQueue& queue_;
    std::atomic<bool>& sendQueueEmpty_;
    std::thread thread_;
};

} // namespace serial

using namespace serial;

// The open device and everything that lives only while it is open. Members are destroyed in
// reverse order: both threads are joined before the queue, the close event and the device go.
struct TComm::Session {
    Session(int fd, Mailbox& sink, std::atomic<bool>& sendQueueEmpty)
        : port(fd, sink), queue(sendQueueEmpty), reader(port), writer(port, queue, sendQueueEmpty) {
    }
    ~Session() {
        port.closeEvent.Set();
        reader.Join();
        writer.Join();
        CloseDevice(port.fd);
    }

    SharedPort port;
    WriteQueue queue;
    TReadThread reader;
    TWriteThread writer;
};

namespace {

std::string& ProgramDirectoryStorage() {
    static std::string dir; // main thread only
    return dir;
}

} // namespace

TComm::TComm(QObject* owner)
    : QObject(owner),
      mailbox_(std::make_unique<Mailbox>([this](const Notification& n) { Deliver(n); })) {}

TComm::~TComm() {
    CloseComm();
}

void TComm::SetProgramDirectory(const std::string& programDir) {
    ProgramDirectoryStorage() = programDir;
}

std::string TComm::ProgramDirectory() {
    return ProgramDirectoryStorage();
}

void TComm::OpenComm() {
    if (session_) {
        throw ECommsError("This serial port already opened");
    }
    const OpenedDevice device = OpenDevice(ResolvePortDevice(commName_, ProgramDirectoryStorage()));
    if (device.status == OpenStatus::CannotOpen) {
        throw ECommsError("Error opening serial port", device.error.reason);
    }
    if (device.status == OpenStatus::NotATerminal) {
        throw ECommsError("File handle is not a comm handle ");
    }
    try {
        session_ = std::make_unique<Session>(device.fd, *mailbox_, sendQueueEmpty_);
    } catch (...) {
        CloseDevice(device.fd);
        throw;
    }
    openedParity_ = parity_;
    ApplyModemLines(); // Linux raised DTR on open; slot 1 must not see it raised for long
    DiscardInput(device.fd);
    DiscardOutput(device.fd);
    sendQueueEmpty_ = true;
    ApplyTimeouts();
    ApplyLineSettings();
    if (!session_->port.closeEvent.Valid() || !session_->queue.Valid()) {
        session_.reset();
        throw ECommsError("Unable to create event");
    }
    try {
        session_->reader.Start();
    } catch (const std::system_error&) {
        session_.reset();
        throw ECommsError("Unable to create read thread");
    }
    try {
        session_->writer.Start();
    } catch (const std::system_error&) {
        session_.reset(); // stops the reader as CloseComm does
        throw ECommsError("Unable to create write thread");
    }
}

// Both threads wake on the close event in every wait they make, so they end promptly and the
// joins need no time limit.
void TComm::CloseComm() {
    if (!session_) {
        return;
    }
    session_->port.outputSent = LetOutputGo();
    session_->port.closeEvent.Set();
    DiscardInput(session_->port.fd);
    session_->reader.Join();
    if (!session_->port.outputSent) {
        DiscardOutput(session_->port.fd);
    }
    sendQueueEmpty_ = true;
    session_->writer.Join();
    session_.reset();
}

// What was handed over before the close still goes out, for up to kCloseDrainMs: the base-station
// scan closes working ports, and a reply already logged as sent must not be discarded with the
// port. A device that takes nothing in that time loses the rest, as at any close. True when
// everything has left.
bool TComm::LetOutputGo() {
    const auto deadline = Clock::now() + std::chrono::milliseconds(kCloseDrainMs);
    for (;;) {
        const bool sent = session_->queue.Written() && OutputWaiting(session_->port.fd) == 0;
        if (sent || Clock::now() >= deadline) {
            return sent;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

bool TComm::HungUp() const {
    return session_ && session_->port.hangupReported;
}

bool TComm::SendData(const char* buffer, std::uint16_t bufferLength) {
    if (!session_ || bufferLength == 0) {
        return false;
    }
    return session_->queue.Post(std::string(buffer, bufferLength));
}

void TComm::SetTimeout(std::uint32_t& field, std::uint32_t value) {
    if (field == value) {
        return;
    }
    field = value;
    if (session_) {
        ApplyTimeouts();
    }
}

// The read time-outs drive the reader's chunking. Writes never time out here: a write that
// times out is continued with the rest of its bytes anyway, so the write values are stored only.
void TComm::ApplyTimeouts() {
    ReadSettings& read = session_->port.read;
    read.interval = readIntervalTimeout_;
    read.totalMultiplier = readTotalTimeoutMultiplier_;
    read.totalConstant = readTotalTimeoutConstant_;
}

// Linux has no DSR output flow, DSR sensitivity, continue-after-XOFF setting, XON/XOFF limits
// or parity-error replacement character: those properties are stored only. RTS handshake is
// CRTSCTS, which also holds output while CTS is off.
void TComm::ApplyLineSettings() {
    LineSettings s;
    s.baudRate = baudRate_;
    s.parityCheck = parityCheck_;
    s.hardwareFlow = outxCtsFlow_ || rtsControl_ == TRtsControl::RtsHandshake;
    s.xonXoffOut = outxXonXoffFlow_;
    s.xonXoffIn = inxXonXoffFlow_;
    s.dataBits = 5 + static_cast<int>(byteSize_);
    s.parity = static_cast<int>(openedParity_);
    s.twoStopBits = stopBits_ != TStopBits::_1; // Linux has no 1.5 stop bits
    s.xonChar = xonChar_;
    s.xoffChar = xoffChar_;
    serial::ApplyLineSettings(session_->port.fd, s);
    ApplyModemLines();
    session_->port.read.ignoreNullChar = ignoreNullChar_;
}

// Handshake modes that Linux lacks leave the line raised.
void TComm::ApplyModemLines() {
    const int fd = session_->port.fd;
    SetModemLine(fd, ModemLine::Dtr, dtrControl_ != TDtrControl::DtrDisable);
    SetModemLine(fd, ModemLine::Rts, rtsControl_ != TRtsControl::RtsDisable);
}

// Each handler is copied before the call, so a handler may replace itself, close the port or
// wait with nested event handling. Nothing of the component is touched after the call.
void TComm::Deliver(const Notification& n) {
    switch (n.code) {
    case kCommReceiveData:
        if (auto handler = OnReceiveData) {
            try {
                handler(this, n.bytes.data(), static_cast<std::uint16_t>(n.bytes.size()));
            } catch (...) {
                // Errors in the receive handler are swallowed; later chunks are delivered.
            }
        }
        break;
    case kCommReceiveError:
        if (auto handler = OnReceiveError) {
            handler(this, n.value);
        }
        break;
    case kCommRequestHangup:
        if (auto handler = OnRequestHangup) {
            handler(this);
        }
        break;
    case kCommModemStateChange:
        if (auto handler = OnModemStateChange) {
            handler(this, n.value);
        }
        break;
    case kCommSendDataEmpty:
        if (auto handler = OnSendDataEmpty) {
            handler(this);
        }
        break;
    }
}
