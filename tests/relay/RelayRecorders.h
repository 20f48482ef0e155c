// Recording stand-ins for what the relay asks of the rest of the program.
#pragma once

#include "baselink/BaseFrame.h"
#include "baselink/PdaReplySender.h"
#include "baselink/xyTypeConv.h"
#include "relay/PdaRequest.h"
#include "relay/RelayInterfaces.h"
#include "support/ScriptedWaits.h"
#include "support/TempDir.h"
#include "text/Files.h"

#include <cstdint>
#include <functional>
#include <map>
#include <ostream>
#include <string>
#include <vector>

namespace relaytest {

// The 12-digit time text of the requests in these tests.
inline const std::string kTime = "291615000000";

// The station and handheld bytes as the texts the handhelds' frames carry: "0205".
inline std::string AddressText(std::uint8_t baseByte, std::uint8_t handheld) {
    return HexCodec::ToHex(baseByte, 2) + HexCodec::ToHex(handheld, 2);
}

struct SentReply {
    int operation;
    std::string address, handheld, text, time;
    bool success;
    bool operator==(const SentReply&) const = default;
};

inline std::ostream& operator<<(std::ostream& os, const SentReply& r) {
    return os << "{" << r.operation << "," << r.address << "," << r.handheld << ",'" << r.text
              << "'," << r.time << "," << (r.success ? "OK" : "NO") << "}";
}

class RecordingSender : public PdaReplySender {
public:
    std::vector<SentReply> sent;
    void SendPdaReply(int operation, std::uint8_t baseByte, std::uint8_t handheld,
                      const std::string& text, const std::string& timeHex, bool success) override {
        sent.push_back({operation, AddressText(baseByte, handheld), std::to_string(handheld), text,
                        timeHex, success});
    }
};

class RecordingView : public relay::HandheldView {
public:
    std::vector<std::string> marked;
    void MarkLoggedIn(std::uint8_t baseByte, std::uint8_t handheld) override {
        marked.push_back(AddressText(baseByte, handheld));
    }
};

// Keeps the request file as it stood at each notification.
class RecordingHost : public relay::HostNotifier {
public:
    explicit RecordingHost(std::string requestFile = "") : requestFile_(std::move(requestFile)) {}
    std::vector<std::string> notified;
    std::function<void()> onNotify;
    void NotifyHost() override {
        notified.push_back(text::ReadFile(requestFile_).value_or("<no file>"));
        if (onNotify) {
            onNotify();
        }
    }
    void SetRequestFile(std::string path) { requestFile_ = std::move(path); }

private:
    std::string requestFile_;
};

class RecordingQueue : public relay::RequestQueue {
public:
    struct Submitted {
        int operation;
        std::string address, handheld, data, time;
        bool operator==(const Submitted&) const = default;
    };
    std::vector<Submitted> submitted;
    void SubmitRequest(int operation, std::uint8_t baseByte, std::uint8_t handheld,
                       const std::string& data, const std::string& time) override {
        submitted.push_back(
            {operation, AddressText(baseByte, handheld), std::to_string(handheld), data, time});
    }
};

// Hands `decoder` a request as the pipeline does: the operation derived from its byte.
inline void HandleRequestByte(relay::RequestDecoder& decoder, int operationByte, int base,
                              int handheld, const std::string& time, const std::string& data) {
    decoder.HandleRequest(operationByte - BaseFrame::kOperationBase,
                          static_cast<std::uint8_t>(base), static_cast<std::uint8_t>(handheld),
                          time, data);
}

using testsupport::ScriptedWaits;

struct TempDir : testsupport::TempDir {
    std::string Dir() const { return path; } // with a final '/', as ExchangeDir holds it
};

} // namespace relaytest
