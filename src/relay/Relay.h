// The PDA transaction relay as one piece for the main controller: requests in from the receive
// pipeline, request files out to the host, replies back to the handhelds.
#pragma once

#include "relay/CommandQueue.h"
#include "relay/PdaRequest.h"
#include "relay/RelayInterfaces.h"
#include "relay/ReplyHandler.h"
#include "relay/RequestRecord.h"
#include "text/Waits.h"

#include <cstdint>
#include <functional>
#include <string>

class PdaReplySender;
class WorkLog;

namespace config {
struct AppSettings;
class HandheldRegistry;
} // namespace config

namespace relay {

// What the relay uses; all owned by the main controller and outliving the relay. settings and
// registry are read at every use, so reloading them in place takes effect at once.
struct RelayContext {
    const config::AppSettings& settings;
    const config::HandheldRegistry& registry;
    WorkLog& log;
    PdaReplySender& sender;
    HandheldView& view;
    HostNotifier& host;
    Waits& waits;
    RetryTimer& retry;
};

class Relay {
public:
    explicit Relay(const RelayContext& context);
    Relay(const Relay&) = delete;
    Relay& operator=(const Relay&) = delete;

    // The receive pipeline's hand-over of one good request frame.
    void HandleRequest(int operation, std::uint8_t baseByte, std::uint8_t handheld,
                       const std::string& timeHex, const std::string& data) {
        decoder_.HandleRequest(operation, baseByte, handheld, timeHex, data);
    }
    // The host message handler's reply-ready step (after its 20 ms wait).
    void HandleReply() { replies_.HandleReply(); }
    // The whole reply step, called as the message arrives (it waits the 20 ms itself).
    void ReplyReady() { replies_.ReplyReady(); }

    // A restarted host's handle has been adopted: the request with the host goes to it.
    void HostReplaced() { queue_.HandHeadToNewHost(); }

    // Who hears of each request's acceptance or refusal.
    void SetRequestEvents(RequestEvents* events) { decoder_.SetEvents(events); }

    const CommandQueue& Queue() const { return queue_; }
    // Hears of each queued request once its answer has been delivered.
    void OnAnswered(std::function<void(const CommandEntry&)> answered) {
        queue_.OnCompleted(std::move(answered));
    }

private:
    RequestBuilder builder_;
    CommandQueue queue_;
    RequestDecoder decoder_;
    ReplyHandler replies_;
};

} // namespace relay
