#include "relay/CommandQueue.h"

#include "text/Files.h"
#include "text/Gbk.h"
#include "worklog/WorkLog.h"

#include <exception>

namespace relay {

namespace {

const char* const kFailed = "处理命令缓存中的命令出错.信息:";

} // namespace

CommandQueue::CommandQueue(RequestBuilder& builder, WorkLog& log, Waits& waits, RetryTimer& retry)
    : builder_(builder), log_(log), waits_(waits), retry_(retry) {}

void CommandQueue::SubmitRequest(int operation, std::uint8_t baseByte, std::uint8_t handheld,
                                 const std::string& data, const std::string& time) {
    entries_.push_back(CommandEntry{operation, baseByte, handheld, data, time, nextSerial_++,
                                    std::chrono::steady_clock::now()});
    if (entries_.size() > 1) {
        log_.Append(text::Fixed("待处理命令缓存不为空,当前命令已排入命令队列，等待处理。"));
        return;
    }
    log_.Append(text::Fixed("写文件 R1.TXT"));
    try {
        builder_.BuildRequest(operation, baseByte, handheld, data, time);
    } catch (const text::FileError&) {
        RetryLater();
        throw;
    }
    waits_.Wait(0, 10);
}

void CommandQueue::CompleteHead() {
    retry_.Stop();
    if (entries_.empty()) {
        return;
    }
    log_.Append(text::Fixed("从命令缓存删除与当前回复对应的命令."));
    if (completed_) {
        completed_(entries_.front());
    }
    entries_.pop_front();
    if (entries_.empty()) {
        return;
    }
    log_.Append(text::Fixed("命令缓存中仍然有命令等待处理.处理下一命令."));
    HandOverHead();
}

void CommandQueue::HandHeadToNewHost() {
    if (entries_.empty()) {
        return;
    }
    retry_.Stop();
    log_.Append(text::Fixed("命令缓存中有命令等待处理,交给新的主程序处理."));
    HandOverHead();
}

void CommandQueue::HandOverHead() {
    try {
        HandOver(entries_.front());
    } catch (const text::FileError& e) {
        log_.Append(text::Fixed(kFailed) + e.what());
        RetryLater();
    } catch (const std::exception& e) {
        log_.Append(text::Fixed(kFailed) + e.what());
    }
}

void CommandQueue::RetryLater() {
    log_.Append(text::Fixed("请求文件 T1.txt 未写成,1秒后重试."));
    retry_.Start(kRetryMs, [this] { Retry(); });
}

void CommandQueue::Retry() {
    if (entries_.empty() || waits_.Ending()) {
        return;
    }
    try {
        HandOver(entries_.front());
    } catch (const text::FileError& e) {
        log_.Append(text::Fixed("写文件 T1.txt 出错,1秒后重试.信息:") + e.what());
        retry_.Start(kRetryMs, [this] { Retry(); });
    } catch (const std::exception& e) {
        log_.Append(text::Fixed(kFailed) + e.what());
    }
}

void CommandQueue::HandOver(const CommandEntry& entry) {
    // A copy: the builder calls out to the view and the host link.
    const CommandEntry e = entry;
    builder_.BuildRequest(e.Operation, e.BaseByte, e.Handheld, e.Data, e.Time);
}

} // namespace relay
