#include "desktop/ThDirCh_inotify.h"

#include <cerrno>
#include <cstdint>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <system_error>
#include <unistd.h>
#include <utility>
#include <vector>

namespace desktop {
namespace {

// File and directory names (creation, deletion, renaming), last write and size (modification),
// attributes; and the directory itself going away, which ends the watch.
constexpr std::uint32_t kChangeKinds = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO |
                                       IN_MODIFY | IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF |
                                       IN_ONLYDIR | IN_EXCL_UNLINK;

} // namespace

TDirNotification::TDirNotification(std::string dir) : dir_(std::move(dir)) {}

TDirNotification::~TDirNotification() {
    Close();
}

bool TDirNotification::Open() {
    fd_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    return fd_ >= 0;
}

bool TDirNotification::Rearm() {
    const bool first = std::exchange(firstArm_, false);
    if (wd_ >= 0) {
        return true;
    }
    wd_ = ::inotify_add_watch(fd_, dir_.c_str(), kChangeKinds);
    if (wd_ < 0) {
        return false;
    }
    signalled_ = !first;
    return true;
}

bool TDirNotification::Wait(int wakeFd) {
    if (signalled_) {
        signalled_ = false;
        return true;
    }
    if (WaitReadable({wakeFd, fd_}, -1) != 1) {
        return false;
    }
    TakeRecordedChanges();
    return true;
}

void TDirNotification::TakeRecordedChanges() {
    alignas(inotify_event) char buffer[16384];
    for (;;) {
        ssize_t n = ::read(fd_, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return; // EAGAIN: all taken
        }
        for (ssize_t at = 0; at < n;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            if (event->wd != wd_ || wd_ < 0) {
                continue; // the queue overflowed, or a watch given up earlier
            }
            if (event->mask & IN_MOVE_SELF) {
                // The watch would follow the directory to its new name; watch the path instead.
                ::inotify_rm_watch(fd_, wd_);
                wd_ = -1;
            } else if (event->mask & IN_IGNORED) {
                wd_ = -1; // deleted, or its file system went away
            }
        }
    }
}

void TDirNotification::Close() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
    fd_ = -1;
    wd_ = -1;
}

TWakeEvent::TWakeEvent() : fd_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
    if (fd_ < 0) {
        throw std::system_error(errno, std::generic_category(), "eventfd");
    }
}

TWakeEvent::~TWakeEvent() {
    ::close(fd_);
}

void TWakeEvent::Set() {
    const std::uint64_t one = 1;
    while (::write(fd_, &one, sizeof one) < 0 && errno == EINTR) {
    }
}

void TWakeEvent::Reset() {
    std::uint64_t count = 0;
    while (::read(fd_, &count, sizeof count) < 0 && errno == EINTR) {
    }
}

int WaitReadable(std::initializer_list<int> fds, int timeoutMs) {
    std::vector<pollfd> polled;
    for (int fd : fds) {
        polled.push_back(pollfd{fd, POLLIN, 0});
    }
    int ready;
    while ((ready = ::poll(polled.data(), polled.size(), timeoutMs)) < 0 && errno == EINTR) {
    }
    for (std::size_t i = 0; ready > 0 && i < polled.size(); ++i) {
        if (polled[i].revents != 0) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

} // namespace desktop
