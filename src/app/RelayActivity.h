// What the relay's status and metrics report beyond the state its parts hold: when each station
// last sent bytes, when the host was last notified and last said a reply is ready, the handhelds
// seen since start, and the counters since start. It sits between the request decoder and the
// operator's records, and between the relay and the reply sender, passing every event on
// unchanged.
#pragma once

#include "app/Metrics.h"
#include "app/StatusSnapshot.h"
#include "baselink/PdaReplySender.h"
#include "relay/CommandQueue.h"
#include "relay/RelayInterfaces.h"
#include "text/Stations.h"

#include <array>
#include <chrono>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>

namespace app {

// A moment as both clocks saw it.
struct Stamp {
    std::chrono::system_clock::time_point wall;
    std::chrono::steady_clock::time_point steady;

    static Stamp Now() {
        return {std::chrono::system_clock::now(), std::chrono::steady_clock::now()};
    }
    // This moment as seen at `now`.
    Moment At(const Stamp& now) const;
};

class RelayActivity : public relay::RequestEvents, public PdaReplySender {
public:
    using Clock = std::function<Stamp()>;

    RelayActivity(relay::RequestEvents& nextEvents, PdaReplySender& nextSender,
                  Clock clock = &Stamp::Now);

    // relay::RequestEvents.
    void RequestAccepted(const relay::PdaRequest& request) override;
    void RequestRefused(const relay::PdaRequest& request, Refusal why) override;
    // PdaReplySender.
    void SendPdaReply(int operation, std::uint8_t baseByte, std::uint8_t handheld,
                      const std::string& text, const std::string& timeHex, bool success) override;

    void BytesFrom(int slot) { lastFrame_.at(static_cast<std::size_t>(slot - 1)) = clock_(); }
    void HostNotified() { lastNotification_ = clock_(); }
    void ReplyReadyCame() { lastReplyReady_ = clock_(); }
    void PortHungUp(int slot) { ++counters_.hangUps.at(static_cast<std::size_t>(slot - 1)); }
    void WorkLogFileFailed() { ++counters_.workLogFileErrors; }
    // A queued request's answer has been delivered.
    void Answered(const relay::CommandEntry& entry);

    Stamp Now() const { return clock_(); }
    const Stamp& Started() const { return started_; }
    const std::optional<Stamp>& LastFrame(int slot) const {
        return lastFrame_.at(static_cast<std::size_t>(slot - 1));
    }
    const std::optional<Stamp>& LastNotification() const { return lastNotification_; }
    const std::optional<Stamp>& LastReplyReady() const { return lastReplyReady_; }
    struct Seen {
        std::uint64_t requests = 0;
        Stamp last;
    };
    // By (base-station ID, handheld number in three digits).
    const std::map<std::pair<std::string, std::string>, Seen>& Handhelds() const {
        return handhelds_;
    }
    const MetricsCounters& Counters() const { return counters_; }

private:
    void Count(const relay::PdaRequest& request);

    relay::RequestEvents& nextEvents_;
    PdaReplySender& nextSender_;
    Clock clock_;
    Stamp started_;
    std::array<std::optional<Stamp>, kStationCount> lastFrame_;
    std::optional<Stamp> lastNotification_;
    std::optional<Stamp> lastReplyReady_;
    std::map<std::pair<std::string, std::string>, Seen> handhelds_;
    MetricsCounters counters_;
};

} // namespace app
