#include "relay/CommandQueue.h"

#include "app/WorkLog.h"
#include "text/Gbk.h"

#include <exception>

namespace relay {

CommandQueue::CommandQueue(RequestBuilder& builder, WorkLog& log, Waits& waits)
    : builder_(builder), log_(log), waits_(waits) {}

void CommandQueue::SubmitRequest(int operation, const std::string& address,
                                 const std::string& handheld, const std::string& data,
                                 const std::string& time) {
    entries_.push_back(CommandEntry{operation, address, handheld, data, time, nextSerial_++});
    if (entries_.size() > 1) {
        log_.Append(text::Fixed("待处理命令缓存不为空,当前命令已排入命令队列，等待处理。"));
        return;
    }
    log_.Append(text::Fixed("写文件 R1.TXT"));
    builder_.BuildRequest(operation, handheld, data, time, address);
    waits_.Wait(0, 10);
}

void CommandQueue::CompleteHead() {
    if (entries_.empty()) {
        return;
    }
    log_.Append(text::Fixed("从命令缓存删除与当前回复对应的命令."));
    entries_.pop_front();
    if (entries_.empty()) {
        return;
    }
    log_.Append(text::Fixed("命令缓存中仍然有命令等待处理.处理下一命令."));
    try {
        HandOver(entries_.front());
    } catch (const std::exception& e) {
        log_.Append(text::Fixed("处理命令缓存中的命令出错.信息:") + e.what());
    }
}

void CommandQueue::HandOver(const CommandEntry& entry) {
    // A copy: the builder calls out to the view and the host link.
    const CommandEntry e = entry;
    builder_.BuildRequest(e.Operation, e.Handheld, e.Data, e.Time, e.Address);
}

} // namespace relay
