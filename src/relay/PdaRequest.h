// One handheld request as decoded from its frame, and the decoder that checks it and decides
// its fate: an error reply, a test-mode reply, or the command queue.
#pragma once

#include "relay/RelayInterfaces.h"

#include <cstdint>
#include <optional>
#include <string>

class PdaReplySender;
class WorkLog;

namespace config {
struct AppSettings;
class HandheldRegistry;
} // namespace config

namespace relay {

struct PdaRequest {
    int Operation = 0;         // operation byte - 76; negative for bytes below 0x4C
    std::uint8_t BaseByte = 0; // base-station ID of the relaying base station
    std::uint8_t Handheld = 0;
    std::string TimeHex; // the six time bytes as 12 upper-case hex digits
    std::string Data;    // the request data, every byte as received

    // Base-station ID and handheld number, two upper-case hex digits each: "0205".
    std::string AddressHex() const;
    // Handheld number in decimal: "5".
    std::string HandheldDec() const;
    // Handheld number in at least three decimal digits: "005".
    std::string Handheld3() const;
    // Base-station ID in at least two decimal digits: "02".
    std::string BaseDec2() const;
    // Base-station ID as two upper-case hex digits, the registration key's first part: "0A".
    std::string BaseHex2() const;
};

class RequestDecoder {
public:
    // settings and registry are read at every request, so reloads take effect at once.
    RequestDecoder(const config::AppSettings& settings, const config::HandheldRegistry& registry,
                   PdaReplySender& sender, RequestQueue& queue, WorkLog& log);

    // One complete, checked request frame.
    void HandleRequest(int operation, std::uint8_t baseByte, std::uint8_t handheld,
                       const std::string& timeHex, const std::string& data);
    // Who hears of each decision (none by default).
    void SetEvents(RequestEvents* events) { events_ = events; }

private:
    void Tell(const PdaRequest& request, std::optional<RequestEvents::Refusal> refusal);
    void LogRequest(const PdaRequest& request);
    void RejectUnknownOperation(const PdaRequest& request);
    void RejectUnregistered(const PdaRequest& request);
    void AnswerTestMode(const PdaRequest& request);

    const config::AppSettings& settings_;
    const config::HandheldRegistry& registry_;
    PdaReplySender& sender_;
    RequestQueue& queue_;
    WorkLog& log_;
    RequestEvents* events_ = nullptr;
};

} // namespace relay
