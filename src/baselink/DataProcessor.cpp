#include "baselink/DataProcessor.h"

#include "app/WorkLog.h"
#include "baselink/BaseFrame.h"
#include "text/Gbk.h"

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

ReceivePipeline::ReceivePipeline(WorkLog& log, bool debugLogging, PipelineHandlers handlers)
    : log_(log), debugLogging_(debugLogging), handlers_(std::move(handlers)) {
    tim_DataProc.setInterval(1);
    tim_DataProc.setTimerType(Qt::PreciseTimer);
    QObject::connect(&tim_DataProc, &QTimer::timeout, [this] { tim_DataProcTimer(); });
}

void ReceivePipeline::Comm1ReceiveData(int slot, const char* buffer, int length) {
    if (log_.LineCount() > WorkLog::kMaxLinesBeforeClear) {
        log_.Clear();
    }
    std::string s(buffer, static_cast<std::size_t>(length));
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
        EnqueueChunk(buffer, length, std::chrono::system_clock::now());
    } else if (StartsWith(s, 0xAA, 0x4F)) {
        if (handlers_.ReadyNotice) {
            handlers_.ReadyNotice(s);
        }
    }
}

void ReceivePipeline::EnqueueChunk(const char* bytes, int length,
                                   std::chrono::system_clock::time_point time) {
    try {
        auto pack = std::make_unique<TBuffPack>();
        pack->Length = length;
        pack->Bytes.assign(bytes, bytes + length);
        pack->ArrivalTime = time;
        std::lock_guard<std::mutex> lock(queueLock_);
        chunkQueue_.push_back(std::move(pack));
    } catch (const std::exception&) {
        return; // the chunk is lost, as a failed copy always was
    }
    if (started_ && !tim_DataProc.isActive()) {
        tim_DataProc.start();
    }
}

void ReceivePipeline::Start() {
    started_ = true;
    if (CanProgress()) {
        tim_DataProc.start();
    }
}

std::size_t ReceivePipeline::QueuedChunks() const {
    std::lock_guard<std::mutex> lock(queueLock_);
    return chunkQueue_.size();
}

void ReceivePipeline::tim_DataProcTimer() {
    if (busy_) {
        return;
    }
    busy_ = true;
    if (static_cast<std::int32_t>(assemblyBuffer_.size()) < expectedLength_) {
        TakeOneChunk();
    } else {
        DropFront(ExamineBuffer());
    }
    busy_ = false;
    if (!CanProgress()) {
        tim_DataProc.stop();
    }
}

bool ReceivePipeline::TakeOneChunk() {
    std::unique_ptr<TBuffPack> pack;
    {
        std::lock_guard<std::mutex> lock(queueLock_);
        if (chunkQueue_.empty()) {
            return false;
        }
        pack = std::move(chunkQueue_.front());
        chunkQueue_.pop_front();
    }
    assemblyBuffer_.insert(assemblyBuffer_.end(), pack->Bytes.begin(), pack->Bytes.end());
    return true;
}

// Looks at the front of the buffer once and returns how many bytes to drop.
std::size_t ReceivePipeline::ExamineBuffer() {
    const auto& b = assemblyBuffer_;
    const std::size_t len = b.size();
    if (len < 2 || b[0] != 0xAA || b[1] != 0x31) {
        expectedLength_ = 2;
        return 1;
    }
    expectedLength_ = 6;
    if (len < 6) {
        return 0;
    }
    const std::size_t bodyLength = b[4] * 256u + b[5];
    const std::size_t frameLength = bodyLength + BaseFrame::kEnvelopeBytes;
    expectedLength_ = static_cast<std::int32_t>(frameLength);
    if (len < frameLength) {
        return 0;
    }
    // A body of fewer than 2 bytes cannot hold its trailer: not a frame.
    if (bodyLength < 2 || b[bodyLength + 4] != 0xAA || b[bodyLength + 5] != 0xBB) {
        expectedLength_ = 2;
        return 1;
    }
    std::int64_t sum = HexCodec::ByteSum(b, 6, static_cast<int>(bodyLength) + 5, 4);
    if (sum != b[bodyLength + 6] * 256 + b[bodyLength + 7]) {
        expectedLength_ = 2;
        return 1;
    }
    expectedLength_ = 2;
    // A checked frame too short for time, operation and trailer carries no request: it is
    // dropped whole, so the decoder never reads outside it.
    if (bodyLength < BaseFrame::kMinRequestBody) {
        return frameLength;
    }
    RequestFrame frame;
    frame.BaseByte = b[2];
    frame.Handheld = b[3];
    frame.TimeHex = HexCodec::BytesToHex(HexCodec::TByteArr(b.begin() + 6, b.begin() + 12));
    frame.Operation = static_cast<int>(b[12]) - BaseFrame::kOperationBase;
    frame.Data.assign(b.begin() + 13, b.begin() + static_cast<std::ptrdiff_t>(bodyLength) + 4);
    // The frame is consumed even when its handling fails, so it is never handed on twice.
    try {
        if (handlers_.HandleRequest) {
            handlers_.HandleRequest(frame);
        }
    } catch (const std::exception& e) {
        if (handlers_.UnhandledError) {
            handlers_.UnhandledError(e.what());
        }
    }
    return frameLength;
}

void ReceivePipeline::DropFront(std::size_t count) {
    if (count == 0) {
        return;
    }
    if (count >= assemblyBuffer_.size()) {
        assemblyBuffer_.clear();
    } else {
        assemblyBuffer_.erase(assemblyBuffer_.begin(),
                              assemblyBuffer_.begin() + static_cast<std::ptrdiff_t>(count));
    }
}

bool ReceivePipeline::CanProgress() const {
    if (static_cast<std::int32_t>(assemblyBuffer_.size()) >= expectedLength_) {
        return true;
    }
    return QueuedChunks() > 0;
}
