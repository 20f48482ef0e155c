#include "relay/PdaRequest.h"

#include "baselink/PdaReplySender.h"
#include "baselink/xyTypeConv.h"
#include "config/AppSettings.h"
#include "config/HandheldRegistry.h"
#include "relay/OperationNames.h"
#include "text/Decimal.h"
#include "text/Gbk.h"
#include "worklog/WorkLog.h"

namespace relay {

namespace {

const std::string kNoTime = "FFFFFFFFFFFF";

} // namespace

std::string PdaRequest::AddressHex() const {
    return HexCodec::ToHex(BaseByte, 2) + HexCodec::ToHex(Handheld, 2);
}
std::string PdaRequest::HandheldDec() const {
    return std::to_string(Handheld);
}
std::string PdaRequest::Handheld3() const {
    return text::ZeroPadded(Handheld, 3);
}
std::string PdaRequest::BaseDec2() const {
    return text::ZeroPadded(BaseByte, 2);
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
    queue_.SubmitRequest(request.Operation, request.BaseByte, request.Handheld, request.Data,
                         request.TimeHex);
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
    log_.Append(text::Fixed("数据包:基站") + std::to_string(r.BaseByte) + text::Fixed(" PDA:") +
                std::to_string(r.Handheld) + text::Fixed(" 操作:") + std::to_string(r.Operation) +
                text::Fixed(" 时间:") + r.TimeHex + text::Fixed(" 数据:") + r.Data);
}

void RequestDecoder::RejectUnknownOperation(const PdaRequest& r) {
    sender_.SendPdaReply(r.Operation, r.BaseByte, r.Handheld, text::Fixed("数据包错误，请重发"),
                         kNoTime, false);
    log_.Append(text::Fixed("操作类型[") + std::to_string(r.Operation) + text::Fixed("]不正确"));
}

void RequestDecoder::RejectUnregistered(const PdaRequest& r) {
    log_.Append(r.Handheld3() + text::Fixed(" 的手持机未在 ") + r.BaseDec2() +
                text::Fixed(" 号基站注册，请重新注册。"));
    sender_.SendPdaReply(r.Operation, r.BaseByte, r.Handheld,
                         text::Fixed("编号为：") + r.Handheld3() + text::Fixed("的手持机未在") +
                             r.BaseDec2() + text::Fixed("号基站注册，请重新注册。"),
                         r.TimeHex, false);
}

void RequestDecoder::AnswerTestMode(const PdaRequest& r) {
    log_.Append(text::Fixed("测试状态，向手持机发送信息：") + settings_.TestText);
    sender_.SendPdaReply(r.Operation, r.BaseByte, r.Handheld, r.Handheld3() + settings_.TestText,
                         r.TimeHex, false);
}

} // namespace relay
