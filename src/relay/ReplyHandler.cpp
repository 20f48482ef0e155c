#include "relay/ReplyHandler.h"

#include "baselink/PdaReplySender.h"
#include "config/AppSettings.h"
#include "text/Files.h"
#include "text/Gbk.h"
#include "worklog/WorkLog.h"

#include <exception>

namespace relay {

namespace {

const std::string kReplyFile = "R1.TXT";
const std::string kReplyCopyFile = "R2.txt";

} // namespace

ReplyHandler::ReplyHandler(const config::AppSettings& settings, CommandQueue& queue,
                           PdaReplySender& sender, WorkLog& log, Waits& waits)
    : settings_(settings), queue_(queue), sender_(sender), log_(log), waits_(waits) {}

void ReplyHandler::HandleReply() {
    Record(queue_.HeadSerial(), false);
}

void ReplyHandler::ReplyReady() {
    Record(queue_.HeadSerial(), true);
}

// request: the serial of the request the message belongs to, 0 for none. Called inside the
// waits of a run, it only records the message, so runs never nest however fast messages come.
void ReplyHandler::Record(std::uint64_t request, bool settle) {
    if (!pending_.empty() && pending_.back().request == request &&
        pending_.back().settle == settle) {
        // A repeat of the message before it, while a run goes on: counted, not kept. While no
        // request is with the host such messages are ignored anyway: one stands for them all.
        pending_.back().count += request != 0 ? 1 : 0;
        return;
    }
    pending_.push_back(Notices{request, settle});
    if (running_) {
        log_.Append(text::Fixed("上一回复仍在处理,本次回复通知稍后处理."));
        return;
    }
    RunPending();
}

void ReplyHandler::RunPending() {
    running_ = true;
    std::exception_ptr firstError;
    while (!pending_.empty() && !waits_.Ending()) {
        if (AnsweredAlready(pending_.front().request)) {
            pending_.pop_front(); // one work-log line for all its messages
            continue;
        }
        const Notices next = pending_.front();
        if (--pending_.front().count == 0) {
            pending_.pop_front();
        }
        try {
            RunOnce(next.request, next.settle);
        } catch (...) {
            if (!firstError) {
                firstError = std::current_exception();
            }
        }
    }
    pending_.clear();
    running_ = false;
    if (firstError) {
        std::rethrow_exception(firstError);
    }
}

// Only a run completes the head, and runs do not nest: the head that was the message's request
// before the waits still is after them.
void ReplyHandler::RunOnce(std::uint64_t request, bool settle) {
    if (settle && !Settle()) {
        return;
    }
    waits_.Wait(0, 100);
    if (request == 0 || waits_.Ending()) {
        return; // no request was with the host: the reply file is not read
    }
    const std::optional<std::string> path = WaitForReplyFile();
    if (path) {
        AnswerHead(*path);
    }
}

// The message's own 20 ms wait; false when the program ends meanwhile.
bool ReplyHandler::Settle() {
    waits_.Wait(0, 20);
    if (waits_.Ending()) {
        return false;
    }
    log_.Append(text::Fixed("读文件R1.TXT"));
    return true;
}

// Reads the reply file at `path`, answers the head from it and lets the queue go on.
void ReplyHandler::AnswerHead(const std::string& path) {
    const std::optional<ReplyFile> reply = ReadReplyFile(path);
    std::exception_ptr copyError;
    if (reply && reply->Recognised) {
        copyError = WriteReplyCopy(*reply);
        Answer(*reply);
    } else {
        AnswerSuccess();
    }
    queue_.CompleteHead();
    if (copyError) {
        std::rethrow_exception(copyError);
    }
}

bool ReplyHandler::AnsweredAlready(std::uint64_t request) {
    if (request == 0 || queue_.HeadSerial() == request) {
        return false;
    }
    log_.Append(text::Fixed("与本次回复通知对应的命令已回复,不再重复回复."));
    return true;
}

// The path of the reply file once it exists; nothing when the program ends first. No time
// limit: the host may post before its file is there. The name found here is the one read, so
// an old file under another spelling beside it is never taken for the reply.
std::optional<std::string> ReplyHandler::WaitForReplyFile() {
    for (;;) {
        std::string path = text::FindNoCase(settings_.ExchangeDir, kReplyFile);
        if (text::FileExists(path)) {
            return path;
        }
        waits_.Wait(0, 10);
        if (waits_.Ending()) {
            return std::nullopt;
        }
    }
}

// Nothing when the file cannot be read or is no regular file (logged).
std::optional<ReplyFile> ReplyHandler::ReadReplyFile(const std::string& path) {
    const text::LimitedRead file = text::ReadRegularFile(path, kMaxReplyFileBytes);
    if (!file.bytes) {
        log_.Append(text::Fixed("读取 R1.TXT 出错，信息：") + file.error);
        return std::nullopt;
    }
    log_.Append(text::Fixed("读取到 R1.TXT "));
    if (file.cut) {
        log_.Append(text::Fixed("R1.TXT 超过 1 MiB,只读取其前 ") +
                    std::to_string(kMaxReplyFileBytes) + text::Fixed(" 字节"));
    }
    return ParseReplyFile(*file.bytes);
}

// A copy that cannot be written is reported, but the handheld is still answered and the queue
// goes on: nothing in the relay reads the copy.
std::exception_ptr ReplyHandler::WriteReplyCopy(const ReplyFile& reply) {
    try {
        text::WriteFileAtomic(settings_.ExchangeDir + kReplyCopyFile, reply.Copy,
                              text::Durability::Cached);
        return nullptr;
    } catch (const std::exception& e) {
        log_.Append(text::Fixed("写文件 R2.txt 出错，信息：") + e.what());
        return std::current_exception();
    }
}

void ReplyHandler::Answer(const ReplyFile& reply) {
    const CommandEntry head = queue_.Head();
    log_.Append(text::Fixed("发送信息到点菜机"));
    sender_.SendPdaReply(reply.Operation, head.BaseByte, head.Handheld,
                         HandheldReplyText(reply.Body), head.Time,
                         ReplyStatusOk(reply.HandheldField, head.Handheld));
}

// The reply file was empty, unreadable or named no operation.
void ReplyHandler::AnswerSuccess() {
    const CommandEntry head = queue_.Head();
    log_.Append(text::Fixed("R1.TXT文件无内容,系统无回复数据,统一回复\"成功\", 请与管理员联系"));
    sender_.SendPdaReply(0, head.BaseByte, head.Handheld, text::Fixed("成功"), head.Time, true);
}

} // namespace relay
