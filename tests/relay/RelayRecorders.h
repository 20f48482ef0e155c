// Recording stand-ins for what the relay asks of the rest of the program.
#pragma once

#include "baselink/PdaReplySender.h"
#include "relay/RelayInterfaces.h"
#include "support/TempDir.h"
#include "text/Files.h"

#include <functional>
#include <map>
#include <ostream>
#include <string>
#include <vector>

namespace relaytest {

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
    void SendPdaReply(int operation, const std::string& addressHex, const std::string& handheldDec,
                      const std::string& text, const std::string& timeHex, bool success) override {
        sent.push_back({operation, addressHex, handheldDec, text, timeHex, success});
    }
};

class RecordingView : public relay::HandheldView {
public:
    std::vector<std::string> marked;
    void MarkLoggedIn(const std::string& addressHex) override { marked.push_back(addressHex); }
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
    void SubmitRequest(int operation, const std::string& address, const std::string& handheld,
                       const std::string& data, const std::string& time) override {
        submitted.push_back({operation, address, handheld, data, time});
    }
};

// Waits that take no time. during(n, ms) runs for the n-th wait (from 1): what the event loop
// would deliver while the relay waits.
class ScriptedWaits : public relay::RelayWaits {
public:
    std::vector<unsigned> waits;
    std::map<std::size_t, std::function<void()>> during;
    std::function<void(unsigned)> everyWait;
    bool ending = false;
    void Wait(unsigned milliseconds) override {
        waits.push_back(milliseconds);
        if (everyWait) {
            everyWait(milliseconds);
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

struct TempDir : testsupport::TempDir {
    std::string Dir() const { return path; } // with a final '/', as ExchangeDir holds it
};

} // namespace relaytest
