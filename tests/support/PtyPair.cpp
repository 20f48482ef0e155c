#include "support/PtyPair.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <poll.h>
#include <pty.h>
#include <stdexcept>
#include <sys/eventfd.h>
#include <unistd.h>

namespace testsupport {

PtyPair::PtyPair() {
    Open();
}

PtyPair::~PtyPair() {
    CloseFarEnd();
}

void PtyPair::Open() {
    char name[128];
    termios raw{};
    ::cfmakeraw(&raw);
    raw.c_cflag |= CLOCAL | CREAD;
    if (::openpty(&master_, &slave_, name, &raw, nullptr) != 0) {
        throw std::runtime_error(std::string("openpty: ") + std::strerror(errno));
    }
    stop_ = ::eventfd(0, EFD_CLOEXEC);
    {
        std::lock_guard lock(mutex_);
        devicePath_ = name;
    }
    UpdateLink();
    drain_ = std::thread(&PtyPair::Drain, this);
}

void PtyPair::Drain() {
    char buffer[4096];
    for (;;) {
        pollfd fds[2] = {{stop_, POLLIN, 0}, {master_, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;
        }
        if (fds[0].revents != 0) {
            return;
        }
        const ssize_t n = ::read(master_, buffer, sizeof buffer);
        if (n > 0) {
            std::lock_guard lock(mutex_);
            received_.append(buffer, static_cast<std::size_t>(n));
            arrived_.notify_all();
        } else if (n < 0 && errno != EINTR && errno != EAGAIN) {
            ::usleep(1000); // the slave side is closed; cannot happen while slave_ is held
        }
    }
}

void PtyPair::StopDrain() {
    if (!drain_.joinable()) {
        return;
    }
    const std::uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(stop_, &one, sizeof one);
    drain_.join();
}

void PtyPair::CloseFarEnd() {
    StopDrain();
    for (int* fd : {&master_, &slave_, &stop_}) {
        if (*fd >= 0) {
            ::close(*fd);
            *fd = -1;
        }
    }
}

void PtyPair::ReopenFarEnd() {
    CloseFarEnd();
    Open();
}

void PtyPair::LinkAs(const std::string& linkPath) {
    linkPath_ = linkPath;
    UpdateLink();
}

void PtyPair::UpdateLink() {
    if (linkPath_.empty()) {
        return;
    }
    ::unlink(linkPath_.c_str());
    if (::symlink(DevicePath().c_str(), linkPath_.c_str()) != 0) {
        throw std::runtime_error("symlink " + linkPath_ + ": " + std::strerror(errno));
    }
}

std::string PtyPair::DevicePath() const {
    std::lock_guard lock(mutex_);
    return devicePath_;
}

void PtyPair::Write(const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            throw std::runtime_error(std::string("pty write: ") + std::strerror(errno));
        }
        done += static_cast<std::size_t>(n);
    }
}

std::string PtyPair::Received() const {
    std::lock_guard lock(mutex_);
    return received_;
}

std::size_t PtyPair::ReceivedCount() const {
    std::lock_guard lock(mutex_);
    return received_.size();
}

bool PtyPair::WaitReceived(std::size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    return arrived_.wait_for(lock, timeout, [&] { return received_.size() >= count; });
}

void PtyPair::ClearReceived() {
    std::lock_guard lock(mutex_);
    received_.clear();
}

termios PtyPair::DeviceSettings() const {
    termios t{};
    if (::tcgetattr(slave_, &t) != 0) {
        throw std::runtime_error(std::string("tcgetattr: ") + std::strerror(errno));
    }
    return t;
}

} // namespace testsupport
