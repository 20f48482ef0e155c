#include "app/RelayActivity.h"

#include "relay/OperationNames.h"
#include "relay/PdaRequest.h"

namespace app {

namespace {

std::int64_t Ms(std::chrono::nanoseconds d) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(d).count();
}

} // namespace

Moment Stamp::At(const Stamp& now) const {
    return {Ms(wall.time_since_epoch()), Ms(now.steady - steady)};
}

RelayActivity::RelayActivity(relay::RequestEvents& nextEvents, PdaReplySender& nextSender,
                             Clock clock)
    : nextEvents_(nextEvents), nextSender_(nextSender), clock_(std::move(clock)),
      started_(clock_()) {}

void RelayActivity::Count(const relay::PdaRequest& r) {
    const std::string operation =
        relay::IsKnownOperation(r.Operation) ? relay::OperationName(r.Operation) : "unknown";
    ++counters_.requests[{r.BaseHex2(), operation}];
    Seen& seen = handhelds_[{r.BaseHex2(), r.Handheld3()}];
    ++seen.requests;
    seen.last = clock_();
}

void RelayActivity::RequestAccepted(const relay::PdaRequest& request) {
    Count(request);
    nextEvents_.RequestAccepted(request);
}

void RelayActivity::RequestRefused(const relay::PdaRequest& request, Refusal why) {
    Count(request);
    ++(why == Refusal::Unregistered ? counters_.refusedUnregistered
                                    : counters_.refusedUnknownOperation);
    nextEvents_.RequestRefused(request, why);
}

void RelayActivity::SendPdaReply(int operation, std::uint8_t baseByte, std::uint8_t handheld,
                                 const std::string& text, const std::string& timeHex,
                                 bool success) {
    ++counters_.answers[success ? "OK" : "NO"];
    nextSender_.SendPdaReply(operation, baseByte, handheld, text, timeHex, success);
}

void RelayActivity::Answered(const relay::CommandEntry& entry) {
    const auto waited = clock_().steady - entry.Since;
    counters_.answerSeconds.Observe(std::chrono::duration<double>(waited).count());
}

} // namespace app
