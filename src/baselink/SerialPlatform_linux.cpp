// Linux side of the serial port component: termios, modem-control and counter ioctls, flock,
// eventfd and poll. It is split from SerialComm.cpp so that the component and its threads hold
// only their algorithm, and so that these calls (the only ones that differ between platforms)
// stay in one place.
#include "baselink/SerialPlatform.h"

#include "text/SystemReason.h"

#include <cerrno>
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace serial {
namespace {

int OpenRetrying(const std::string& path) {
    int fd;
    do {
        fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

// Raw bytes in both directions: no echo, no line editing, no translation, no signals. The
// reader waits with poll, so a read returns whatever has arrived.
void SetRawMode(int fd) {
    termios t{};
    if (::tcgetattr(fd, &t) != 0) {
        return;
    }
    ::cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    ::tcsetattr(fd, TCSANOW, &t);
}

struct Speed {
    std::uint32_t baud;
    speed_t code;
};

constexpr Speed kSpeeds[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
};

bool SpeedCode(std::uint32_t baud, speed_t& code) {
    for (const Speed& s : kSpeeds) {
        if (s.baud == baud) {
            code = s.code;
            return true;
        }
    }
    return false;
}

tcflag_t DataBitsFlag(int bits) {
    switch (bits) {
    case 5:
        return CS5;
    case 6:
        return CS6;
    case 7:
        return CS7;
    default:
        return CS8;
    }
}

tcflag_t ParityFlags(int parity) {
    switch (parity) {
    case 1:
        return PARENB | PARODD;
    case 2:
        return PARENB;
    case 3:
        return PARENB | CMSPAR | PARODD;
    case 4:
        return PARENB | CMSPAR;
    default:
        return 0;
    }
}

void SetFlag(tcflag_t& flags, tcflag_t bit, bool on) {
    if (on) {
        flags |= bit;
    } else {
        flags &= ~bit;
    }
}

int MakeEventFd() {
    return ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
}

void AddToEventFd(int fd) {
    const std::uint64_t one = 1;
    ssize_t n;
    do {
        n = ::write(fd, &one, sizeof one);
    } while (n < 0 && errno == EINTR);
}

} // namespace

SystemError OpenError(int errnum) {
    switch (errnum) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
    case ENOTDIR:
        return {OpenFault::NoDevice, errnum, text::SystemReason(errnum)};
    case EACCES:
    case EPERM:
        return {OpenFault::PermissionDenied, errnum, text::SystemReason(errnum)};
    case EBUSY:
    case EWOULDBLOCK:
        return {OpenFault::Busy, errnum, text::SystemReason(EBUSY)};
    default:
        return {OpenFault::Other, errnum, text::SystemReason(errnum)};
    }
}

OpenedDevice OpenDevice(const std::string& path) {
    OpenedDevice device;
    const int fd = OpenRetrying(path);
    if (fd < 0) {
        device.error = OpenError(errno);
        return device;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        device.error = OpenError(errno);
        ::close(fd);
        return device;
    }
    if (!::isatty(fd)) {
        ::close(fd);
        device.status = OpenStatus::NotATerminal;
        return device;
    }
    ::ioctl(fd, TIOCEXCL); // best effort: keeps out openers that ignore the lock (not root)
    SetRawMode(fd);
    device.status = OpenStatus::Opened;
    device.fd = fd;
    return device;
}

void CloseDevice(int fd) {
    if (fd < 0) {
        return;
    }
    ::ioctl(fd, TIOCNXCL);
    ::close(fd); // also releases the lock
}

void ApplyLineSettings(int fd, const LineSettings& s) {
    termios t{};
    if (::tcgetattr(fd, &t) != 0) {
        return;
    }
    speed_t code;
    if (SpeedCode(s.baudRate, code)) {
        ::cfsetispeed(&t, code);
        ::cfsetospeed(&t, code);
    }
    SetFlag(t.c_iflag, INPCK, s.parityCheck);
    SetFlag(t.c_iflag, IXON, s.xonXoffOut);
    SetFlag(t.c_iflag, IXOFF, s.xonXoffIn);
    t.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    t.c_cflag |= DataBitsFlag(s.dataBits) | ParityFlags(s.parity) | CLOCAL | CREAD;
    SetFlag(t.c_cflag, CSTOPB, s.twoStopBits);
    SetFlag(t.c_cflag, CRTSCTS, s.hardwareFlow);
    t.c_cc[VSTART] = s.xonChar;
    t.c_cc[VSTOP] = s.xoffChar;
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    ::tcsetattr(fd, TCSANOW, &t);
}

void SetModemLine(int fd, ModemLine line, bool on) {
    int bit = line == ModemLine::Dtr ? TIOCM_DTR : TIOCM_RTS;
    ::ioctl(fd, on ? TIOCMBIS : TIOCMBIC, &bit);
}

void DiscardInput(int fd) {
    ::tcflush(fd, TCIFLUSH);
}
void DiscardOutput(int fd) {
    ::tcflush(fd, TCOFLUSH);
}

std::size_t OutputWaiting(int fd) {
    int count = 0;
    return ::ioctl(fd, TIOCOUTQ, &count) == 0 && count > 0 ? static_cast<std::size_t>(count) : 0;
}

bool ReadLineCounters(int fd, LineCounters& counters) {
    serial_icounter_struct ic{};
    if (::ioctl(fd, TIOCGICOUNT, &ic) != 0) {
        return false;
    }
    counters.frame = static_cast<std::uint32_t>(ic.frame);
    counters.overrun = static_cast<std::uint32_t>(ic.overrun);
    counters.parity = static_cast<std::uint32_t>(ic.parity);
    counters.brk = static_cast<std::uint32_t>(ic.brk);
    counters.bufOverrun = static_cast<std::uint32_t>(ic.buf_overrun);
    counters.dcd = static_cast<std::uint32_t>(ic.dcd);
    counters.rng = static_cast<std::uint32_t>(ic.rng);
    return true;
}

std::uint32_t LineErrorBits(const LineCounters& before, const LineCounters& after) {
    std::uint32_t bits = 0;
    if (after.bufOverrun != before.bufOverrun) {
        bits |= kErrorRxOver;
    }
    if (after.overrun != before.overrun) {
        bits |= kErrorOverrun;
    }
    if (after.parity != before.parity) {
        bits |= kErrorParity;
    }
    if (after.frame != before.frame) {
        bits |= kErrorFrame;
    }
    if (after.brk != before.brk) {
        bits |= kErrorBreak;
    }
    return bits;
}

std::uint32_t ModemEventBits(const LineCounters& before, const LineCounters& after) {
    std::uint32_t bits = 0;
    if (after.dcd != before.dcd) {
        bits |= kModemCarrier;
    }
    if (after.rng != before.rng) {
        bits |= kModemRing;
    }
    return bits;
}

StopEvent::StopEvent() : fd_(MakeEventFd()) {}
StopEvent::~StopEvent() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}
void StopEvent::Set() {
    AddToEventFd(fd_);
} // never read back: stays readable

WakeSignal::WakeSignal() : fd_(MakeEventFd()) {}
WakeSignal::~WakeSignal() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}
void WakeSignal::Raise() {
    AddToEventFd(fd_);
}
void WakeSignal::Consume() {
    std::uint64_t value;
    while (::read(fd_, &value, sizeof value) < 0 && errno == EINTR) {
    }
}

Readiness WaitReady(int fd, bool forWrite, int stopFd, int timeoutMs) {
    pollfd fds[2] = {{stopFd, POLLIN, 0}, {fd, static_cast<short>(forWrite ? POLLOUT : POLLIN), 0}};
    int n;
    do {
        n = ::poll(fds, 2, timeoutMs);
    } while (n < 0 && errno == EINTR);
    if (n < 0) {
        return Readiness::Failed;
    }
    if (fds[0].revents != 0) {
        return Readiness::Stopped;
    }
    if (n == 0) {
        return Readiness::TimedOut;
    }
    if (fds[1].revents & POLLNVAL) {
        return Readiness::Failed;
    }
    // Bytes still buffered on a vanished device are read first; the read then reports the end.
    if (fds[1].revents & (POLLIN | POLLOUT)) {
        return Readiness::Ready;
    }
    return Readiness::HungUp; // POLLHUP or POLLERR alone
}

IoResult ReadSome(int fd, char* buffer, std::size_t size) {
    ssize_t n;
    do {
        n = ::read(fd, buffer, size);
    } while (n < 0 && errno == EINTR);
    if (n > 0) {
        return {IoStatus::Done, static_cast<std::size_t>(n)};
    }
    if (n == 0 || errno == EIO) {
        return {IoStatus::HungUp, 0};
    }
    if (errno == EAGAIN || errno == EWOULDBLOCK) {
        return {IoStatus::WouldBlock, 0};
    }
    return {errno == EBADF ? IoStatus::Closed : IoStatus::Failed, 0};
}

IoResult WriteSome(int fd, const char* bytes, std::size_t size) {
    ssize_t n;
    do {
        n = ::write(fd, bytes, size);
    } while (n < 0 && errno == EINTR);
    if (n >= 0) {
        return {IoStatus::Done, static_cast<std::size_t>(n)};
    }
    if (errno == EAGAIN || errno == EWOULDBLOCK) {
        return {IoStatus::WouldBlock, 0};
    }
    if (errno == EIO || errno == EPIPE) {
        return {IoStatus::HungUp, 0};
    }
    return {errno == EBADF ? IoStatus::Closed : IoStatus::Failed, 0};
}

} // namespace serial
