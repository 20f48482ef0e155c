// Request decoding and request records: any request from a base station is logged and then
// refused with a well-formed reply, answered in test mode, or queued; a queued request becomes
// the request file T1.txt (written in the scratch directory) exactly as composed.
#include "FuzzSupport.h"
#include "baselink/BaseFrame.h"
#include "baselink/PdaReply.h"
#include "baselink/xyTypeConv.h"
#include "config/AppSettings.h"
#include "config/HandheldRegistry.h"
#include "relay/OperationNames.h"
#include "relay/PdaRequest.h"
#include "relay/RequestRecord.h"
#include "text/Files.h"
#include "text/Gbk.h"
#include "worklog/WorkLog.h"

#include <fuzzer/FuzzedDataProvider.h>

namespace {

struct Ports : BasePorts {
    std::vector<std::string> frames;
    bool SendData(int, const std::string& bytes) override {
        frames.push_back(bytes);
        return true;
    }
};

struct Submitted {
    int operation;
    std::uint8_t base, handheld;
    std::string data, time;
};

struct Queue : relay::RequestQueue {
    std::vector<Submitted> submitted;
    void SubmitRequest(int operation, std::uint8_t base, std::uint8_t handheld,
                       const std::string& data, const std::string& time) override {
        submitted.push_back({operation, base, handheld, data, time});
    }
};

struct Host : relay::HandheldView, relay::HostNotifier {
    int logins = 0, notices = 0;
    void MarkLoggedIn(std::uint8_t, std::uint8_t) override { ++logins; }
    void NotifyHost() override { ++notices; }
};

// A reply frame as the base station reads it: lengths and sum agree with its bytes.
void CheckReplyFrame(const std::string& f) {
    FUZZ_CHECK(f.size() >= 24 && f.substr(0, 2) == "\xAA\x32");
    const std::size_t body =
        static_cast<unsigned char>(f[4]) * 256u + static_cast<unsigned char>(f[5]);
    FUZZ_CHECK(f.size() == body + BaseFrame::kEnvelopeBytes);
    const HexCodec::TByteArr bytes(f.begin(), f.end());
    const std::int64_t sum = HexCodec::ByteSum(bytes, 6, static_cast<int>(body) + 5, 4);
    FUZZ_CHECK(sum == static_cast<unsigned char>(f[body + 6]) * 256 +
                          static_cast<unsigned char>(f[body + 7]));
}

// Counts CR LF line ends.
std::size_t LineCount(const std::string& record) {
    std::size_t lines = 0;
    for (std::size_t at = record.find("\r\n"); at != std::string::npos;
         at = record.find("\r\n", at + 2)) {
        ++lines;
    }
    return lines;
}

// The record of a request: empty for the operations without mnemonic, else a header line and
// the body (one line, none, or a line per ordered item).
void CheckRecord(int operation, int handheld, const std::string& data, const std::string& time) {
    const std::string record = relay::ComposeRequestRecord(operation, handheld, data, time);
    const std::string mnemonic = relay::HeaderMnemonic(operation);
    if (mnemonic.empty()) {
        FUZZ_CHECK(record.empty());
        return;
    }
    FUZZ_CHECK(mnemonic.size() >= 5 && record.starts_with(mnemonic));
    FUZZ_CHECK(record.ends_with("\r\n"));
    if (data.find_first_of("\r\n") != std::string::npos) {
        return; // the data is written as received, line breaks included
    }
    const std::size_t lines = LineCount(record);
    if (operation == 7) {
        const std::size_t items = data.size() >= 24 ? static_cast<unsigned char>(data[23]) : 0;
        FUZZ_CHECK(lines == 2 + items);
    } else {
        FUZZ_CHECK(lines <= 2);
    }
}

struct World {
    config::AppSettings settings;
    config::HandheldRegistry registry;
    Ports ports;
    WorkLog log;
    BaseSender sender{settings.BaseId, ports, log, relay::OperationName};
    Queue queue;
    Host host;
    relay::RequestDecoder decoder{settings, registry, sender, queue, log};
    relay::RequestBuilder builder{settings, registry, host, host};
};

void CheckQueued(World& w, const Submitted& q) {
    FUZZ_CHECK(relay::IsKnownOperation(q.operation));
    w.builder.BuildRequest(q.operation, q.base, q.handheld, q.data, q.time);
    const std::string record = relay::ComposeRequestRecord(q.operation, q.handheld, q.data, q.time);
    FUZZ_CHECK(text::ReadFile(relay::RequestFilePath(w.settings)) == record);
    FUZZ_CHECK(w.host.notices == 1 && w.host.logins == (q.operation == 0 ? 1 : 0));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    World w;
    w.settings.ExchangeDir = fuzz::ScratchDir();
    w.settings.BaseId = {"01", "02", "0A", "FF"};
    w.settings.TestMode = in.ConsumeBool();
    w.settings.TestText = in.ConsumeBool() ? config::DefaultTestText() : "x";
    const auto operation = static_cast<int>(in.ConsumeIntegral<std::uint8_t>()) - 0x4C;
    const auto base = in.ConsumeIntegral<std::uint8_t>();
    const auto handheld = in.ConsumeIntegral<std::uint8_t>();
    const relay::PdaRequest request{operation, base, handheld, "", ""};
    if (in.ConsumeBool()) {
        w.registry.Keys.insert(request.BaseHex2() + request.Handheld3());
    }
    std::string time = HexCodec::BytesToHex(in.ConsumeBytesAsString(6));
    time.resize(12, '0');
    const std::string requestData = in.ConsumeRemainingBytesAsString();

    w.decoder.HandleRequest(operation, base, handheld, time, requestData);
    FUZZ_CHECK(w.log.LineCount() >= 1);
    for (const std::string& frame : w.ports.frames) {
        CheckReplyFrame(frame);
    }
    const bool registered = w.registry.IsRegistered(request.BaseHex2(), request.Handheld3());
    const bool queued = relay::IsKnownOperation(operation) && registered && !w.settings.TestMode;
    FUZZ_CHECK(w.queue.submitted.size() == (queued ? 1u : 0u));
    FUZZ_CHECK(w.ports.frames.size() <= (queued ? 0u : 1u));
    CheckRecord(operation, handheld, requestData, time);
    if (queued) {
        CheckQueued(w, w.queue.submitted[0]);
    }
    return 0;
}
