// A kernel timer that turns readable at a point of the steady clock, to the microsecond, for an
// event loop to watch. Qt rounds each of its timer waits up to a whole millisecond from the
// moment the loop looks again, so a wait that events keep interrupting would end up to a
// millisecond late after every interruption; a descriptor that turns readable at the deadline
// itself has no such rounding.
#pragma once

#include <chrono>

namespace app {

class WakeTimer {
public:
    explicit WakeTimer(std::chrono::steady_clock::time_point at);
    ~WakeTimer();
    WakeTimer(const WakeTimer&) = delete;
    WakeTimer& operator=(const WakeTimer&) = delete;

    // The descriptor to watch for reading; -1 when the system gave none.
    int Fd() const { return fd_; }
    // Takes the expiry, so that the descriptor is no longer readable.
    void Consume();

private:
    int fd_ = -1;
};

} // namespace app
