#include "relay/ReplyHandler.h"

#include "app/WorkLog.h"
#include "baselink/PdaReplySender.h"
#include "config/AppSettings.h"
#include "text/Files.h"
#include "text/Gbk.h"

#include <cerrno>
#include <cstring>
#include <exception>

namespace relay {

namespace {

const std::string kReplyFile = "R1.TXT";
const std::string kReplyFileRead = "R1.txt";
const std::string kReplyCopyFile = "R2.txt";

} // namespace

ReplyHandler::ReplyHandler(const config::AppSettings& settings, CommandQueue& queue,
                           PdaReplySender& sender, WorkLog& log, Waits& waits)
    : settings_(settings), queue_(queue), sender_(sender), log_(log), waits_(waits) {}

void ReplyHandler::HandleReply() {
    Handle(queue_.HeadSerial());
}

void ReplyHandler::ReplyReady() {
    static const std::string kReadReply = text::ToGbk("读文件R1.TXT");
    const std::uint64_t request = queue_.HeadSerial();
    waits_.Wait(0, 20);
    if (waits_.Ending()) {
        return;
    }
    log_.Append(kReadReply);
    Handle(request);
}

// request: the serial of the request the message belongs to, 0 for none.
void ReplyHandler::Handle(std::uint64_t request) {
    static const std::string kQueued = text::ToGbk("上一回复仍在处理,本次回复通知稍后处理.");
    pending_.push_back(request);
    if (running_) {
        log_.Append(kQueued);
        return;
    }
    running_ = true;
    std::exception_ptr firstError;
    while (!pending_.empty() && !waits_.Ending()) {
        const std::uint64_t request = pending_.front();
        pending_.pop_front();
        try {
            RunOnce(request);
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

void ReplyHandler::RunOnce(std::uint64_t request) {
    static const std::string kAnswered =
        text::ToGbk("与本次回复通知对应的命令已回复,不再重复回复.");
    waits_.Wait(0, 100);
    if (request == 0 || waits_.Ending()) {
        return; // no request was with the host: the reply file is not read
    }
    if (queue_.HeadSerial() != request) {
        log_.Append(kAnswered);
        return;
    }
    if (!WaitForReplyFile()) {
        return;
    }
    std::optional<ReplyFile> reply = ReadReplyFile();
    if (reply && reply->Recognised) {
        text::WriteFileAtomic(settings_.ExchangeDir + kReplyCopyFile, reply->Copy,
                              text::Durability::Cached);
    }
    if (!queue_.Empty()) {
        if (reply && reply->Recognised) {
            Answer(*reply);
        } else {
            AnswerSuccess();
        }
    }
    queue_.CompleteHead();
}

// No time limit: the host may post before its file is there. Ends when the program ends.
bool ReplyHandler::WaitForReplyFile() {
    while (!text::FileExists(text::FindNoCase(settings_.ExchangeDir, kReplyFile))) {
        waits_.Wait(0, 10);
        if (waits_.Ending()) {
            return false;
        }
    }
    return true;
}

// Nothing when the file cannot be read (logged).
std::optional<ReplyFile> ReplyHandler::ReadReplyFile() {
    static const std::string kRead = text::ToGbk("读取到 R1.TXT ");
    static const std::string kReadFailed = text::ToGbk("读取 R1.TXT 出错，信息：");
    const std::string path = text::FindNoCase(settings_.ExchangeDir, kReplyFileRead);
    errno = 0;
    std::optional<std::string> bytes = text::ReadFile(path);
    if (!bytes) {
        const int err = errno;
        log_.Append(kReadFailed + "cannot read " + path + ": " + std::strerror(err));
        return std::nullopt;
    }
    log_.Append(kRead);
    return ParseReplyFile(*bytes);
}

void ReplyHandler::Answer(const ReplyFile& reply) {
    static const std::string kSending = text::ToGbk("发送信息到点菜机");
    const CommandEntry head = queue_.Head();
    log_.Append(kSending);
    sender_.SendPdaReply(reply.Operation, head.Address, head.Handheld,
                         HandheldReplyText(reply.Body), head.Time,
                         ReplyStatusOk(reply.HandheldField, head.Handheld));
}

// The reply file was empty, unreadable or named no operation.
void ReplyHandler::AnswerSuccess() {
    static const std::string kFallback =
        text::ToGbk("R1.TXT文件无内容,系统无回复数据,统一回复\"成功\", 请与管理员联系");
    static const std::string kSuccess = text::ToGbk("成功");
    const CommandEntry head = queue_.Head();
    log_.Append(kFallback);
    sender_.SendPdaReply(0, head.Address, head.Handheld, kSuccess, head.Time, true);
}

} // namespace relay
