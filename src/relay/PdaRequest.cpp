#include "relay/PdaRequest.h"

#include "app/WorkLog.h"
#include "baselink/PdaReplySender.h"
#include "baselink/xyTypeConv.h"
#include "config/AppSettings.h"
#include "config/HandheldRegistry.h"
#include "relay/OperationNames.h"
#include "text/Gbk.h"

namespace relay {

namespace {

std::string ZeroPadded(int value, std::size_t digits) {
    std::string s = std::to_string(value);
    return s.size() < digits ? std::string(digits - s.size(), '0') + s : s;
}

const std::string kNoTime = "FFFFFFFFFFFF";

} // namespace

std::string PdaRequest::AddressHex() const {
    return HexCodec::ToHex(BaseByte, 2) + HexCodec::ToHex(Handheld, 2);
}
std::string PdaRequest::HandheldDec() const {
    return std::to_string(Handheld);
}
std::string PdaRequest::Handheld3() const {
    return ZeroPadded(Handheld, 3);
}
std::string PdaRequest::BaseDec2() const {
    return ZeroPadded(BaseByte, 2);
}
std::string PdaRequest::BaseHex2() const {
    return HexCodec::ToHex(BaseByte, 2);
}

RequestDecoder::RequestDecoder(const config::AppSettings& settings,
                               const config::HandheldRegistry& registry, PdaReplySender& sender,
                               RequestQueue& queue, WorkLog& log)
    : settings_(settings), registry_(registry), sender_(sender), queue_(queue), log_(log) {}

void RequestDecoder::HandleRequest(int operation, std::uint8_t baseByte, std::uint8_t handheld,
                                   const std::string& timeHex, const std::string& data) {
    const PdaRequest request{operation, baseByte, handheld, timeHex, data};
    LogRequest(request);
    if (!IsKnownOperation(request.Operation)) {
        Tell(request, RequestEvents::Refusal::UnknownOperation);
        RejectUnknownOperation(request);
        return;
    }
    if (!registry_.IsRegistered(request.BaseHex2(), request.Handheld3())) {
        Tell(request, RequestEvents::Refusal::Unregistered);
        RejectUnregistered(request);
        return;
    }
    Tell(request, std::nullopt);
    if (settings_.TestMode) {
        AnswerTestMode(request);
        return;
    }
    queue_.SubmitRequest(request.Operation, request.AddressHex(), request.HandheldDec(),
                         request.Data, request.TimeHex);
}

void RequestDecoder::Tell(const PdaRequest& request,
                          std::optional<RequestEvents::Refusal> refusal) {
    if (!events_) {
        return;
    }
    if (refusal) {
        events_->RequestRefused(request, *refusal);
    } else {
        events_->RequestAccepted(request);
    }
}

void RequestDecoder::LogRequest(const PdaRequest& r) {
    static const std::string kPacket = text::ToGbk("数据包:基站");
    static const std::string kPda = text::ToGbk(" PDA:");
    static const std::string kOperation = text::ToGbk(" 操作:");
    static const std::string kTime = text::ToGbk(" 时间:");
    static const std::string kData = text::ToGbk(" 数据:");
    log_.Append(kPacket + std::to_string(r.BaseByte) + kPda + std::to_string(r.Handheld) +
                kOperation + std::to_string(r.Operation) + kTime + r.TimeHex + kData + r.Data);
}

void RequestDecoder::RejectUnknownOperation(const PdaRequest& r) {
    static const std::string kReply = text::ToGbk("数据包错误，请重发");
    static const std::string kBefore = text::ToGbk("操作类型[");
    static const std::string kAfter = text::ToGbk("]不正确");
    sender_.SendPdaReply(r.Operation, r.AddressHex(), r.HandheldDec(), kReply, kNoTime, false);
    log_.Append(kBefore + std::to_string(r.Operation) + kAfter);
}

void RequestDecoder::RejectUnregistered(const PdaRequest& r) {
    static const std::string kLogMiddle = text::ToGbk(" 的手持机未在 ");
    static const std::string kLogEnd = text::ToGbk(" 号基站注册，请重新注册。");
    static const std::string kReplyStart = text::ToGbk("编号为：");
    static const std::string kReplyMiddle = text::ToGbk("的手持机未在");
    static const std::string kReplyEnd = text::ToGbk("号基站注册，请重新注册。");
    log_.Append(r.Handheld3() + kLogMiddle + r.BaseDec2() + kLogEnd);
    sender_.SendPdaReply(r.Operation, r.AddressHex(), r.HandheldDec(),
                         kReplyStart + r.Handheld3() + kReplyMiddle + r.BaseDec2() + kReplyEnd,
                         r.TimeHex, false);
}

void RequestDecoder::AnswerTestMode(const PdaRequest& r) {
    static const std::string kLog = text::ToGbk("测试状态，向手持机发送信息：");
    log_.Append(kLog + settings_.TestText);
    sender_.SendPdaReply(r.Operation, r.AddressHex(), r.HandheldDec(),
                         r.Handheld3() + settings_.TestText, r.TimeHex, false);
}

} // namespace relay
