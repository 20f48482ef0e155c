#include "baselink/PdaReply.h"

#include "app/WorkLog.h"
#include "baselink/BaseFrame.h"
#include "baselink/xyTypeConv.h"
#include "text/Gbk.h"

#include <exception>

namespace {

const std::string kDashes(59, '-');
const std::string kEquals(59, '=');

} // namespace

BaseSender::BaseSender(const std::array<std::string, 4>& baseIds, BasePorts& ports, WorkLog& log,
                       std::function<std::string(int)> operationName)
    : baseIds_(baseIds), ports_(ports), log_(log), operationName_(std::move(operationName)) {}

void BaseSender::SendToBase(const std::string& hex, int slot) {
    HexCodec::TArrayChar bytes(hex.size() / 2);
    HexCodec::HexToBytes(hex, bytes, bytes.size());
    if (slot < 1 || slot > 4 || baseIds_[static_cast<std::size_t>(slot - 1)].empty()) {
        return;
    }
    ports_.SendData(slot, std::string(bytes.begin(), bytes.end()));
}

void BaseSender::SendPdaReply(int operation, const std::string& addressHex,
                              const std::string& handheldDec, const std::string& text,
                              const std::string& timeHex, bool success) {
    try {
        std::string frame =
            BaseFrame::BuildReply(operation, addressHex, handheldDec, text, timeHex, success);
        LogReply(handheldDec, operation, frame, text);
        RouteReply(addressHex, frame);
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

void BaseSender::RouteReply(const std::string& addressHex, const std::string& frame) {
    std::string station = text::Trim(addressHex).substr(0, 2);
    for (int slot = 1; slot <= 4; ++slot) {
        if (baseIds_[static_cast<std::size_t>(slot - 1)] == station) {
            if (slot == 1) {
                log_.Append(text::Fixed("由 基站1 发送"));
            }
            SendToBase(frame, slot);
            return;
        }
    }
}
