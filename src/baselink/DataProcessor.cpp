#include "baselink/DataProcessor.h"

#include "text/Gbk.h"
#include "worklog/WorkLog.h"

#include <exception>

namespace {

bool StartsWith(const std::string& s, unsigned char first, int second = -1) {
    if (s.empty() || static_cast<unsigned char>(s[0]) != first) {
        return false;
    }
    if (second < 0) {
        return true;
    }
    unsigned char next = s.size() > 1 ? static_cast<unsigned char>(s[1]) : 0x00;
    return next == second;
}

} // namespace

ReceivePipeline::ReceivePipeline(WorkLog& log, bool debugLogging, PipelineHandlers handlers,
                                 AssemblyTiming timing, std::function<Clock::time_point()> now)
    : log_(log), debugLogging_(debugLogging), handlers_(std::move(handlers)), timing_(timing),
      now_(std::move(now)) {
    tim_DataProc.setInterval(1);
    tim_DataProc.setTimerType(Qt::PreciseTimer);
    QObject::connect(&tim_DataProc, &QTimer::timeout, [this] { tim_DataProcTimer(); });
}

// The port swallows what escapes this handler; here each such error leaves one work-log line.
void ReceivePipeline::Comm1ReceiveData(int slot, const char* buffer, int length) {
    try {
        Dispatch(slot, std::string(buffer, static_cast<std::size_t>(length)));
    } catch (const std::exception& e) {
        log_.Append(text::Fixed("处理基站") + std::to_string(slot) +
                    text::Fixed(" 的串口数据出错，数据已丢弃，信息：") + e.what());
    }
}

void ReceivePipeline::Dispatch(int slot, const std::string& s) {
    if (log_.LineCount() > WorkLog::kMaxLinesBeforeClear) {
        log_.Clear();
    }
    const Clock::time_point now = now_();
    // The rest of an incomplete frame that the last, full chunk left, whatever its first bytes.
    if (Port(slot).Continues(now)) {
        if (debugLogging_) {
            log_.Append(text::Fixed("串口收到：") + HexCodec::BytesToHex(s));
        }
        EnqueueChunk(slot, s, now);
        return;
    }
    // A lone 0xAA compares as AA 00: its missing second byte reads as 0.
    if (StartsWith(s, 0xAA, 0x00)) {
        if (handlers_.BaseAnswer) {
            handlers_.BaseAnswer(s, slot);
        }
        return;
    }
    if (debugLogging_) {
        log_.Append(text::Fixed("串口收到：") + HexCodec::BytesToHex(s));
    }
    if (StartsWith(s, 0x5A)) {
        if (handlers_.BroadcastNotice) {
            handlers_.BroadcastNotice(s);
        }
    } else if (StartsWith(s, 0xAA, 0x31)) {
        EnqueueChunk(slot, s, now);
    } else if (StartsWith(s, 0xAA, 0x4F)) {
        if (handlers_.ReadyNotice) {
            handlers_.ReadyNotice(s);
        }
    }
}

// While nothing waits for the decoder and no hand-over runs, the chunk's arrival is a tick of
// its own: its first frame is handed on at once, the rest one per tick after it.
void ReceivePipeline::EnqueueChunk(int slot, const std::string& bytes, Clock::time_point time) {
    const bool idle = started_ && !busy_ && readyFrames_.empty();
    const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
    AddFrames(Port(slot).Add({data, bytes.size()}, time));
    if (idle && !readyFrames_.empty()) {
        tim_DataProcTimer();
        return;
    }
    Schedule();
}

void ReceivePipeline::Start() {
    started_ = true;
    Schedule();
}

std::size_t ReceivePipeline::HeldBytes(int slot) const {
    auto it = ports_.find(slot);
    return it == ports_.end() ? 0 : it->second.Held().size();
}

void ReceivePipeline::tim_DataProcTimer() {
    if (busy_) {
        return;
    }
    busy_ = true;
    // Busy ends and the next tick is planned however the tick ends: a tick that a chunk's arrival
    // runs sees an error that escapes the hand-over pass by on its way to the dispatch.
    struct TickEnd {
        ReceivePipeline& pipe;
        ~TickEnd() {
            pipe.busy_ = false;
            pipe.Schedule();
        }
    } tickEnd{*this};
    const Clock::time_point now = now_();
    for (auto& [slot, port] : ports_) {
        AddFrames(port.Expire(now));
    }
    if (!readyFrames_.empty()) {
        RequestFrame frame = std::move(readyFrames_.front());
        readyFrames_.pop_front();
        HandOver(frame);
    }
}

FrameAssembler& ReceivePipeline::Port(int slot) {
    return ports_.try_emplace(slot, timing_).first->second;
}

void ReceivePipeline::AddFrames(std::vector<RequestFrame> frames) {
    for (auto& frame : frames) {
        readyFrames_.push_back(std::move(frame));
    }
}

// The frame is consumed even when its handling fails, so it is never handed on twice.
void ReceivePipeline::HandOver(const RequestFrame& frame) {
    try {
        if (handlers_.HandleRequest) {
            handlers_.HandleRequest(frame);
        }
    } catch (const std::exception& e) {
        if (handlers_.UnhandledError) {
            handlers_.UnhandledError(e.what());
        }
    }
}

// Every 1 ms while frames wait; else at the first moment a port gives up its incomplete frame.
void ReceivePipeline::Schedule() {
    if (!started_ || busy_) {
        return;
    }
    std::chrono::milliseconds interval{1};
    if (readyFrames_.empty()) {
        std::optional<Clock::time_point> first;
        for (const auto& [slot, port] : ports_) {
            auto deadline = port.Deadline();
            if (deadline && (!first || *deadline < *first)) {
                first = deadline;
            }
        }
        if (!first) {
            tim_DataProc.stop();
            return;
        }
        auto wait = std::chrono::ceil<std::chrono::milliseconds>(*first - now_());
        interval = std::max(wait + std::chrono::milliseconds(1), interval);
    }
    if (!tim_DataProc.isActive() || tim_DataProc.intervalAsDuration() != interval) {
        tim_DataProc.start(interval);
    }
}
