// Operating-system calls behind the serial port component: opening and locking a device, its
// termios line settings and modem-control lines, its line counters, and the waits, reads and
// writes of the reader and writer threads. Kept apart so that the component reads as its
// algorithm and another platform replaces only this file. Standard library and POSIX only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace serial {

enum class OpenStatus { Opened, CannotOpen, NotATerminal };

// Why the system refused a device, sorted by what the operator can do about it.
enum class OpenFault { None, NoDevice, PermissionDenied, Busy, Other };

struct SystemError {
    OpenFault fault = OpenFault::None;
    int errnum = 0;     // the system's error number
    std::string reason; // the system's reason as the operator reads it (GBK), e.g. "权限不够"
};

// The one place where an error number of opening or locking a device becomes an outcome. A lock
// that another opener holds (EWOULDBLOCK) is a busy device.
SystemError OpenError(int errnum);

struct OpenedDevice {
    OpenStatus status = OpenStatus::CannotOpen;
    int fd = -1;
    SystemError error; // CannotOpen: why
};

// Opens `path` non-blocking without becoming its controlling terminal, takes an exclusive lock
// on it (a device another opener holds cannot be opened), checks that it is a terminal and puts
// it in raw mode at once. The device is closed again on every failure.
OpenedDevice OpenDevice(const std::string& path);

// Releases the exclusive use and closes the device.
void CloseDevice(int fd);

// The line settings that Linux can apply, already mapped from the component's properties.
struct LineSettings {
    std::uint32_t baudRate = 9600;
    bool parityCheck = false;
    bool hardwareFlow = false; // CTS output flow or RTS handshake: CRTSCTS
    bool xonXoffOut = false;
    bool xonXoffIn = false;
    int dataBits = 8; // 5 to 8
    int parity = 0;   // 0 none, 1 odd, 2 even, 3 mark, 4 space
    bool twoStopBits = false;
    unsigned char xonChar = 0x11;
    unsigned char xoffChar = 0x13;
};

// Reads the current settings, sets the fields above and keeps every other one. A refusal by the
// driver (a speed it lacks, a pseudo-terminal forcing 8 data bits) is ignored.
void ApplyLineSettings(int fd, const LineSettings& settings);

// Raises or lowers DTR or RTS. Devices without modem-control lines (pseudo-terminals) refuse
// with ENOTTY; every refusal is ignored.
enum class ModemLine { Dtr, Rts };
void SetModemLine(int fd, ModemLine line, bool on);

void DiscardInput(int fd);
void DiscardOutput(int fd);
// Bytes written to the device that it has not sent yet; 0 when the device cannot tell.
std::size_t OutputWaiting(int fd);

// Running totals the driver keeps of line errors and modem-line transitions.
struct LineCounters {
    std::uint32_t frame = 0, overrun = 0, parity = 0, brk = 0, bufOverrun = 0;
    std::uint32_t dcd = 0, rng = 0;
};

// False where the driver keeps no counters (pseudo-terminals, most USB adapters).
bool ReadLineCounters(int fd, LineCounters& counters);

// Line-error bits for what changed between two readings, as the component reports them.
constexpr std::uint32_t kErrorRxOver = 0x01;  // input buffer overrun
constexpr std::uint32_t kErrorOverrun = 0x02; // character lost by the hardware
constexpr std::uint32_t kErrorParity = 0x04;
constexpr std::uint32_t kErrorFrame = 0x08;
constexpr std::uint32_t kErrorBreak = 0x10;
std::uint32_t LineErrorBits(const LineCounters& before, const LineCounters& after);

// Modem bits for what changed: 8 carrier detect changed, 4 ring.
constexpr std::uint32_t kModemCarrier = 8;
constexpr std::uint32_t kModemRing = 4;
std::uint32_t ModemEventBits(const LineCounters& before, const LineCounters& after);

// A manually reset event: once set it stays set, so every wait that includes it ends.
class StopEvent {
public:
    StopEvent();
    ~StopEvent();
    StopEvent(const StopEvent&) = delete;
    StopEvent& operator=(const StopEvent&) = delete;
    bool Valid() const { return fd_ >= 0; }
    void Set();
    int Fd() const { return fd_; }

private:
    int fd_ = -1;
};

// An auto-reset wake-up signal (a new message in a queue).
class WakeSignal {
public:
    WakeSignal();
    ~WakeSignal();
    WakeSignal(const WakeSignal&) = delete;
    WakeSignal& operator=(const WakeSignal&) = delete;
    bool Valid() const { return fd_ >= 0; }
    void Raise();
    void Consume(); // resets the signal after a wait saw it
    int Fd() const { return fd_; }

private:
    int fd_ = -1;
};

enum class Readiness { Ready, Stopped, TimedOut, HungUp, Failed };

// Waits until `fd` is ready for reading (or writing when `forWrite`), the stop event is set or
// `timeoutMs` passes (-1: no limit). The stop event wins over everything else. A device that
// has vanished reports HungUp.
Readiness WaitReady(int fd, bool forWrite, int stopFd, int timeoutMs);

enum class IoStatus { Done, WouldBlock, HungUp, Closed, Failed };

struct IoResult {
    IoStatus status = IoStatus::Failed;
    std::size_t count = 0;
};

// One non-blocking read or write. A read of 0 or EIO is a vanished device (HungUp); EBADF means
// the device was closed under the caller (Closed).
IoResult ReadSome(int fd, char* buffer, std::size_t size);
IoResult WriteSome(int fd, const char* bytes, std::size_t size);

} // namespace serial
