// What the relay asks of the rest of the program. The main controller implements these; the
// relay never reaches into the view, the host link or the event loop otherwise (its pauses are
// the program's Waits).
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace relay {

struct PdaRequest;

// The handheld registry view.
class HandheldView {
public:
    virtual ~HandheldView() = default;
    // A log-in was accepted from the handheld and base-station ID of the request frame.
    virtual void MarkLoggedIn(std::uint8_t baseByte, std::uint8_t handheld) = 0;
};

// The host link.
class HostNotifier {
public:
    virtual ~HostNotifier() = default;
    // The request file has just been written: tell the host (or log why not). Only posts.
    virtual void NotifyHost() = 0;
};

// Where accepted requests go: the command queue.
class RequestQueue {
public:
    virtual ~RequestQueue() = default;
    virtual void SubmitRequest(int operation, std::uint8_t baseByte, std::uint8_t handheld,
                               const std::string& data, const std::string& time) = 0;
};

// A one-shot timer for the relay's retries: the program's runs on the main thread's event loop.
class RetryTimer {
public:
    virtual ~RetryTimer() = default;
    // Calls due once after `milliseconds`, replacing a start that is still pending.
    virtual void Start(unsigned milliseconds, std::function<void()> due) = 0;
    virtual void Stop() = 0;
    virtual bool Active() const = 0;
};

// What the operator's records and counters learn of each request the decoder decides on.
class RequestEvents {
public:
    enum class Refusal { UnknownOperation, Unregistered };
    virtual ~RequestEvents() = default;
    // Passed both checks: it goes to the command queue (or is answered in test mode).
    virtual void RequestAccepted(const PdaRequest& request) = 0;
    virtual void RequestRefused(const PdaRequest& request, Refusal why) = 0;
};

} // namespace relay
