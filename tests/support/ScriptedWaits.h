// Waits that take no time, for tests of code that pauses: each wait is recorded (in
// milliseconds) and can run what the event loop would deliver while the code waits.
#pragma once

#include "text/Waits.h"

#include <cstddef>
#include <functional>
#include <map>
#include <vector>

namespace testsupport {

class ScriptedWaits : public Waits {
public:
    std::vector<unsigned> waits; // every wait so far, in milliseconds
    // during[n] runs inside the n-th wait (from 1), once.
    std::map<std::size_t, std::function<void()>> during;
    // Runs inside every wait, with its length in milliseconds.
    std::function<void(unsigned)> everyWait;
    bool ending = false;

    void Wait(unsigned seconds, unsigned milliseconds) override {
        const unsigned ms = seconds * 1000 + milliseconds;
        waits.push_back(ms);
        if (everyWait) {
            everyWait(ms);
        }
        auto it = during.find(waits.size());
        if (it != during.end()) {
            auto action = std::move(it->second);
            during.erase(it);
            action();
        }
    }
    bool Ending() const override { return ending; }
};

} // namespace testsupport
