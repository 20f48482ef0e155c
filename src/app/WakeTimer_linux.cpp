// timerfd on CLOCK_MONOTONIC, the clock behind std::chrono::steady_clock on Linux.
#include "app/WakeTimer.h"

#include <cstdint>
#include <sys/timerfd.h>
#include <unistd.h>

namespace app {

WakeTimer::WakeTimer(std::chrono::steady_clock::time_point at) {
    fd_ = ::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    if (fd_ < 0) {
        return;
    }
    const auto since = std::chrono::duration_cast<std::chrono::nanoseconds>(at.time_since_epoch());
    itimerspec when{};
    when.it_value.tv_sec = static_cast<time_t>(since.count() / 1000000000);
    when.it_value.tv_nsec = static_cast<long>(since.count() % 1000000000);
    if (when.it_value.tv_sec == 0 && when.it_value.tv_nsec == 0) {
        when.it_value.tv_nsec = 1; // zero would disarm the timer; any past point fires at once
    }
    if (::timerfd_settime(fd_, TFD_TIMER_ABSTIME, &when, nullptr) != 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

WakeTimer::~WakeTimer() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

void WakeTimer::Consume() {
    std::uint64_t expiries = 0;
    (void)!::read(fd_, &expiries, sizeof expiries);
}

} // namespace app
