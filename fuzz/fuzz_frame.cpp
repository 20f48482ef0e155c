// The request-frame check and the per-port assembly. Check: any bytes are judged, a judgement
// never changes when more bytes arrive behind the frame, a cut frame is incomplete, and a good
// request is exactly the frame its fields build. Assembly: whatever a port delivered before, a
// burst of good frames (behind noise without AA bytes, split where a full read ends) is handed
// on whole and in order, and the bytes held for a port stay bounded.
#include "FuzzSupport.h"
#include "baselink/BaseFrame.h"
#include "baselink/FrameAssembler.h"
#include "baselink/xyTypeConv.h"

#include <algorithm>
#include <fuzzer/FuzzedDataProvider.h>
#include <vector>

using BaseFrame::RequestCheck;
using BaseFrame::RequestVerdict;

namespace {

using Bytes = std::vector<std::uint8_t>;

bool SameCheck(const RequestCheck& a, const RequestCheck& b) {
    return a.Verdict == b.Verdict && a.Length == b.Length &&
           a.Frame.Operation == b.Frame.Operation && a.Frame.BaseByte == b.Frame.BaseByte &&
           a.Frame.Handheld == b.Frame.Handheld && a.Frame.TimeHex == b.Frame.TimeHex &&
           a.Frame.Data == b.Frame.Data;
}

Bytes Rebuilt(const BaseFrame::RequestFrame& f) {
    const std::string text = HexCodec::HexToText(
        BaseFrame::BuildRequest(f.BaseByte, f.Handheld, f.TimeHex, f.Operation, f.Data));
    return Bytes(text.begin(), text.end());
}

void CheckJudgement(const Bytes& bytes, const RequestCheck& check) {
    const bool leads = (bytes.empty() || bytes[0] == BaseFrame::kLead) &&
                       (bytes.size() < 2 || bytes[1] == BaseFrame::kRequestKind);
    FUZZ_CHECK((check.Verdict == RequestVerdict::NotAFrame) == !leads);
    switch (check.Verdict) {
    case RequestVerdict::NotAFrame:
        FUZZ_CHECK(check.Length == 0);
        return;
    case RequestVerdict::Incomplete:
        FUZZ_CHECK(check.Length > bytes.size());
        return;
    case RequestVerdict::Request:
        FUZZ_CHECK(Rebuilt(check.Frame) == Bytes(bytes.begin(), bytes.begin() + check.Length));
        [[fallthrough]];
    default:
        FUZZ_CHECK(check.Length >= BaseFrame::kEnvelopeBytes && check.Length <= bytes.size());
        const std::size_t body = bytes[4] * 256u + bytes[5];
        FUZZ_CHECK(check.Length == body + BaseFrame::kEnvelopeBytes);
    }
}

// More bytes behind a judged frame change nothing; fewer make a judged frame incomplete.
void CheckStability(const Bytes& bytes, const RequestCheck& check, FuzzedDataProvider& in) {
    Bytes longer = bytes;
    const std::string more = in.ConsumeRandomLengthString(64);
    longer.insert(longer.end(), more.begin(), more.end());
    const RequestCheck again = BaseFrame::CheckRequest(longer);
    if (check.Verdict != RequestVerdict::Incomplete) {
        FUZZ_CHECK(SameCheck(again, check));
    }
    if (check.Length > 0 && check.Verdict != RequestVerdict::Incomplete) {
        const std::size_t cut = in.ConsumeIntegralInRange<std::size_t>(0, check.Length - 1);
        const RequestCheck part =
            BaseFrame::CheckRequest(std::span<const std::uint8_t>(bytes.data(), cut));
        FUZZ_CHECK(part.Verdict == RequestVerdict::Incomplete && part.Length > cut);
    }
}

BaseFrame::RequestFrame AnyFrame(FuzzedDataProvider& in) {
    BaseFrame::RequestFrame f;
    f.Operation = static_cast<int>(in.ConsumeIntegral<std::uint8_t>()) - BaseFrame::kOperationBase;
    f.BaseByte = in.ConsumeIntegral<std::uint8_t>();
    f.Handheld = in.ConsumeIntegral<std::uint8_t>();
    f.TimeHex = HexCodec::BytesToHex(in.ConsumeBytesAsString(BaseFrame::kTimeBytes));
    f.TimeHex.resize(2 * BaseFrame::kTimeBytes, '0');
    f.Data = in.ConsumeRandomLengthString(256);
    // Long orders span several reads: the data may be stretched with its last byte.
    const std::size_t length = in.ConsumeIntegralInRange<std::size_t>(0, 5000);
    if (!f.Data.empty() && length > f.Data.size()) {
        f.Data.resize(length, f.Data.back());
    }
    return f;
}

// A frame built from any fields is a good request with the same fields; returns its bytes.
Bytes CheckBuilt(const BaseFrame::RequestFrame& f) {
    Bytes frame = Rebuilt(f);
    const RequestCheck check = BaseFrame::CheckRequest(frame);
    FUZZ_CHECK(SameCheck(check, RequestCheck{RequestVerdict::Request, frame.size(), f}));
    return frame;
}

bool SameFrames(const std::vector<BaseFrame::RequestFrame>& found,
                const std::vector<BaseFrame::RequestFrame>& sent) {
    return std::equal(
        found.begin(), found.end(), sent.begin(), sent.end(), [](const auto& a, const auto& b) {
            return SameCheck({RequestVerdict::Request, 0, a}, {RequestVerdict::Request, 0, b});
        });
}

class Port {
public:
    explicit Port(FuzzedDataProvider& in) : in_(in) {}

    // Bytes as they come: any chunk after any pause.
    void Noise() {
        const std::string chunk = in_.ConsumeRandomLengthString(timing_.FullChunk);
        Pause(in_.ConsumeIntegralInRange(0, 1000));
        Deliver(Bytes(chunk.begin(), chunk.end()));
    }

    // A burst after silence: noise without AA bytes, then good frames, cut into full reads.
    void Burst() {
        Bytes stream;
        const std::string noise = in_.ConsumeRandomLengthString(64);
        std::copy_if(noise.begin(), noise.end(), std::back_inserter(stream),
                     [](char c) { return static_cast<std::uint8_t>(c) != BaseFrame::kLead; });
        std::vector<BaseFrame::RequestFrame> sent;
        for (int n = in_.ConsumeIntegralInRange(1, 3); n > 0; --n) {
            sent.push_back(AnyFrame(in_));
            const Bytes frame = CheckBuilt(sent.back());
            stream.insert(stream.end(), frame.begin(), frame.end());
        }
        Pause(Gap() + 1 + in_.ConsumeIntegralInRange(0, 1000));
        found_.clear();
        for (std::size_t at = 0; at < stream.size(); at += timing_.FullChunk) {
            const std::size_t end = std::min(stream.size(), at + timing_.FullChunk);
            Deliver(Bytes(stream.begin() + at, stream.begin() + end));
            Pause(in_.ConsumeIntegralInRange(0, Gap()));
        }
        Expire(Gap() + 1);
        FUZZ_CHECK(found_.size() >= sent.size());
        FUZZ_CHECK(SameFrames({found_.end() - sent.size(), found_.end()}, sent));
    }

    void Expire(int afterMs) {
        Pause(afterMs);
        Take(assembler_.Expire(now_));
    }

private:
    int Gap() const { return static_cast<int>((timing_.ReadInterval + timing_.FillTime).count()); }
    void Pause(int ms) { now_ += std::chrono::milliseconds(ms); }
    void Deliver(const Bytes& chunk) { Take(assembler_.Add(chunk, now_)); }
    void Take(std::vector<BaseFrame::RequestFrame> frames) {
        std::move(frames.begin(), frames.end(), std::back_inserter(found_));
        // At most one frame's worth (the longest length field) and the read that started it.
        const std::size_t bound = 0xFFFF + BaseFrame::kEnvelopeBytes + timing_.FullChunk;
        FUZZ_CHECK(assembler_.Held().size() <= bound);
        FUZZ_CHECK(assembler_.Deadline().has_value() == !assembler_.Held().empty());
    }

    FuzzedDataProvider& in_;
    AssemblyTiming timing_;
    FrameAssembler assembler_{timing_};
    FrameAssembler::Clock::time_point now_{};
    std::vector<BaseFrame::RequestFrame> found_;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    const std::string front = in.ConsumeRandomLengthString(size);
    const Bytes bytes(front.begin(), front.end());
    const RequestCheck check = BaseFrame::CheckRequest(bytes);
    CheckJudgement(bytes, check);
    CheckStability(bytes, check, in);

    Port port(in);
    for (int steps = 0; steps < 8 && in.remaining_bytes() > 0; ++steps) {
        switch (in.ConsumeIntegralInRange(0, 2)) {
        case 0:
            port.Noise();
            break;
        case 1:
            port.Burst();
            break;
        default:
            port.Expire(in.ConsumeIntegralInRange(0, 1000));
        }
    }
    return 0;
}
