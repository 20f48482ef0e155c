#include "admin/BasesetSequence.h"

#include "baselink/BaseFrame.h"
#include "baselink/PdaReply.h"
#include "baselink/xyTypeConv.h"
#include "text/Decimal.h"
#include "text/Gbk.h"

#include <algorithm>
#include <cstdint>
#include <stdexcept>
#include <thread>

namespace admin {

namespace {

constexpr int kMaxId = 255; // the channel frame carries the ID in one byte
constexpr auto kFramePause = std::chrono::milliseconds(40);

const std::string& kNotConnected() {
    return text::Fixed("基站未连接");
}

OperatorMessage Plain(const char* utf8) {
    return {MessageKind::Plain, text::Fixed(utf8)};
}

} // namespace

StationChoice ChooseStation(int entry, const std::array<std::string, kStationCount>& baseIds,
                            const std::array<std::string, kStationCount>& channelText) {
    StationChoice choice;
    if (entry < 0 || entry >= kStationCount) {
        return choice;
    }
    const auto slot = static_cast<std::size_t>(entry);
    const std::string id = text::Trim(baseIds[slot]);
    if (id.empty()) {
        return choice;
    }
    try {
        choice.IdField = std::to_string(HexCodec::HexByteToInt(id));
    } catch (const HexCodec::EConvertError&) {
        choice.Error = OperatorMessage{MessageKind::Error, text::Fixed("基站ID“") + id +
                                                               text::Fixed("”不是十六进制数")};
        return choice;
    }
    if (channelText[slot] != kNotConnected()) {
        const auto& channels = ChannelChoices();
        const auto found = std::find(channels.begin(), channels.end(), channelText[slot]);
        choice.Channel = found == channels.end() ? -1 : static_cast<int>(found - channels.begin());
    }
    return choice;
}

BaseSetSequence::BaseSetSequence(BasePorts& ports, Waits& waits,
                                 std::array<std::string, kStationCount>& channelText, Pause pause,
                                 Clock clock)
    : ports_(ports), waits_(waits), channelText_(channelText), pause_(std::move(pause)),
      clock_(std::move(clock)) {}

void BaseSetSequence::BlockingPause(std::chrono::milliseconds duration) {
    std::this_thread::sleep_for(duration);
}

void BaseSetSequence::Send(int slot, const std::string& hex) {
    if (slot <= kStationCount) {
        ports_.SendData(slot, HexCodec::HexToText(hex));
    }
    pause_(kFramePause);
}

std::optional<OperatorMessage> BaseSetSequence::Run(int entry, int channel,
                                                    const std::string& idField) {
    if (entry < 0) {
        return Plain("请选择基站");
    }
    if (channel < 0 || channel >= static_cast<int>(ChannelChoices().size())) {
        return Plain("请选择信道");
    }
    const int channelByte = channel;
    if (text::Trim(idField).empty()) {
        return Plain("请设置基站ID");
    }
    int id = 0;
    try {
        id = static_cast<int>(text::ParseDecimal(text::Trim(idField), {false, 0, INT32_MAX}));
    } catch (const std::invalid_argument&) {
        return OperatorMessage{MessageKind::Error, text::Fixed("基站ID“") + text::Trim(idField) +
                                                       text::Fixed("”不是十进制整数")};
    }
    if (id > kMaxId) {
        return OperatorMessage{
            MessageKind::Error,
            text::Fixed("基站ID ") + text::Trim(idField) +
                text::Fixed(" 不在0到255之间，信道帧的一个字节放不下；没有发送任何数据。")};
    }
    const int slot = entry + 1;
    Send(slot, ClockFrame(clock_()));
    const std::string channelFrame = ChannelFrame(id, channelByte);
    channelText_.fill(kNotConnected());
    Send(slot, channelFrame);
    waits_.Wait(0, 900);
    if (waits_.Ending()) {
        return std::nullopt;
    }
    Send(slot, BaseFrame::kQueryFrame);
    waits_.Wait(0, 100);
    if (waits_.Ending() || slot > kStationCount) {
        return std::nullopt;
    }
    const bool taken = channelText_[static_cast<std::size_t>(slot - 1)] ==
                       ChannelChoices()[static_cast<std::size_t>(channel)];
    return taken ? OperatorMessage{MessageKind::Information, text::Fixed("设置成功")}
                 : OperatorMessage{MessageKind::Warning, text::Fixed("设置失败")};
}

} // namespace admin
