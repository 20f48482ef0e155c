#include "baselink/PdaReply.h"

#include "baselink/BaseFrame.h"
#include "baselink/xyTypeConv.h"
#include "text/Gbk.h"
#include "worklog/WorkLog.h"

#include <exception>

namespace {

const std::string kDashes(59, '-');
const std::string kEquals(59, '=');

std::string Decode(const std::string& hex) {
    HexCodec::TArrayChar bytes(hex.size() / 2);
    HexCodec::HexToBytes(hex, bytes, bytes.size());
    return std::string(bytes.begin(), bytes.end());
}

} // namespace

std::string NotSentLine(int slot, const StationReply& reply) {
    return text::Fixed("基站") + std::to_string(slot) + text::Fixed(" 的串口未打开，向PDA ") +
           reply.Handheld + text::Fixed(" 的回复 ") + reply.Operation + text::Fixed(" 未发送");
}

BaseSender::BaseSender(const std::array<std::string, kStationCount>& baseIds, BasePorts& ports,
                       WorkLog& log, std::function<std::string(int)> operationName)
    : baseIds_(baseIds), ports_(ports), log_(log), operationName_(std::move(operationName)) {}

void BaseSender::SendToBase(const std::string& hex, int slot) {
    const std::string bytes = Decode(hex);
    if (slot < 1 || slot > kStationCount || baseIds_[static_cast<std::size_t>(slot - 1)].empty()) {
        return;
    }
    ports_.SendData(slot, bytes);
}

void BaseSender::SendPdaReply(int operation, std::uint8_t baseByte, std::uint8_t handheld,
                              const std::string& text, const std::string& timeHex, bool success) {
    try {
        std::string frame =
            BaseFrame::BuildReply(operation, baseByte, handheld, text, timeHex, success);
        const std::string handheldDec = std::to_string(handheld);
        LogReply(handheldDec, operation, frame, text);
        RouteReply(baseByte, {frame, handheldDec, operationName_(operation)});
    } catch (const std::exception& e) {
        log_.Append(text::Fixed("发送数据失败.信息:") + e.what());
    }
}

void BaseSender::LogReply(const std::string& handheldDec, int operation, const std::string& frame,
                          const std::string& text) {
    log_.Append(text::Fixed("向PDA ") + handheldDec + text::Fixed(" 发送：") +
                operationName_(operation) + "\r\n" + frame);
    log_.Append(kDashes);
    log_.Append(text);
    log_.Append(kEquals);
}

void BaseSender::RouteReply(std::uint8_t baseByte, const StationReply& reply) {
    const std::string station = HexCodec::ToHex(baseByte, 2);
    for (int slot = 1; slot <= kStationCount; ++slot) {
        if (baseIds_[static_cast<std::size_t>(slot - 1)] == station) {
            Deliver(slot, reply);
            return;
        }
    }
}

void BaseSender::SendKept(int slot, std::deque<StationReply> replies) {
    for (const StationReply& reply : replies) {
        try {
            if (Deliver(slot, reply) == Delivery::Sent) {
                log_.Append(text::Fixed("基站") + std::to_string(slot) +
                            text::Fixed(" 补发了向PDA ") + reply.Handheld +
                            text::Fixed(" 的回复 ") + reply.Operation);
            }
        } catch (const std::exception& e) {
            log_.Append(text::Fixed("发送数据失败.信息:") + e.what());
        }
    }
}

// A reply goes behind those its station's port keeps while it is out, so their order holds.
BaseSender::Delivery BaseSender::Deliver(int slot, const StationReply& reply) {
    if (hold_ && hold_->Keep(slot, reply)) {
        return Delivery::Kept;
    }
    if (!HandOver(slot, reply.Frame)) {
        log_.Append(NotSentLine(slot, reply));
        return Delivery::NotSent;
    }
    if (slot == 1) {
        log_.Append(text::Fixed("由 基站1 发送"));
    }
    return Delivery::Sent;
}

bool BaseSender::HandOver(int slot, const std::string& hex) {
    return ports_.SendData(slot, Decode(hex));
}
