// Waiting for a condition that another process or thread brings about.
#pragma once

#include <chrono>
#include <thread>

namespace testsupport {

// Polls `condition` every 20 ms until it holds or `milliseconds` pass; returns it.
template <typename Condition> bool WaitUntil(Condition condition, long milliseconds) {
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return condition();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

} // namespace testsupport
