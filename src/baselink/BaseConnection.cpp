#include "baselink/BaseConnection.h"

#include "baselink/BaseFrame.h"
#include "baselink/CommsError.h"
#include "baselink/PdaReply.h"
#include "baselink/SerialPortList.h"
#include "baselink/xyTypeConv.h"
#include "config/AppSettings.h"
#include "text/Decimal.h"
#include "text/Gbk.h"
#include "worklog/WorkLog.h"

#include <algorithm>
#include <exception>
#include <filesystem>

namespace {

// "：" and the system's reason when the port's device was refused; "" for any other failure.
std::string SystemReasonOf(const std::exception& e) {
    const auto* comms = dynamic_cast<const ECommsError*>(&e);
    return comms && !comms->Reason().empty() ? text::Fixed("：") + comms->Reason() : "";
}

} // namespace

void PortCombo::Fill(const std::vector<std::string>& ports) {
    Items = ports;
    if (Items.empty()) {
        Items = {"COM1", "COM2", "COM3", "COM4", "COM5", "COM6", "COM7", "COM8"};
    }
    std::stable_sort(Items.begin(), Items.end(), text::LessNoCase{});
    ItemIndex = 0;
}

void PortCombo::SelectNoCase(const std::string& name) {
    ItemIndex = -1;
    for (std::size_t i = 0; i < Items.size(); ++i) {
        if (text::EqualsNoCase(Items[i], name)) {
            ItemIndex = static_cast<int>(i);
            return;
        }
    }
}

void PortCombo::OfferDevicePath(const std::string& name) {
    std::error_code ec;
    if (!IsDevicePath(name) || !std::filesystem::exists(name, ec)) {
        return;
    }
    if (std::any_of(Items.begin(), Items.end(),
                    [&](const std::string& item) { return text::EqualsNoCase(item, name); })) {
        return;
    }
    auto at = std::upper_bound(Items.begin(), Items.end(), name, text::LessNoCase{});
    if (at - Items.begin() <= ItemIndex) {
        ++ItemIndex;
    }
    Items.insert(at, name);
}

BaseConnection::BaseConnection(const config::AppSettings& settings, PortCombo& portCombo,
                               SlotPorts& ports, BaseSender& sender, WorkLog& log, ScanView& view,
                               Waits& waits)
    : settings_(settings), portCombo_(portCombo), ports_(ports), sender_(sender), log_(log),
      view_(view), waits_(waits) {
    tim_ScanBaseSet.setInterval(200);
    QObject::connect(&tim_ScanBaseSet, &QTimer::timeout, [this] { tim_ScanBaseSetTimer(); });
}

void BaseConnection::QueryBase(int slot) {
    waits_.Wait(0, 100);
    if (waits_.Ending()) {
        return;
    }
    sender_.SendToBase(BaseFrame::kQueryFrame, slot);
    waits_.Wait(0, 200);
}

void BaseConnection::ConnectBaseStations() {
    ConnectSlotOne();
    for (int slot = 2; slot <= kStationCount && !waits_.Ending(); ++slot) {
        ConnectOtherSlot(slot);
    }
    if (!waits_.Ending()) {
        view_.RefreshHandheldPage();
    }
}

void BaseConnection::ConnectSlotOne() {
    const std::string& portName = settings_.PortName[0];
    std::string trimmed = text::Trim(portName);
    if (trimmed.empty()) {
        return;
    }
    portCombo_.OfferDevicePath(trimmed);
    portCombo_.SelectNoCase(portName);
    if (portCombo_.ItemIndex < 0 || settings_.BaseId[0].empty()) {
        return;
    }
    ports_.SetCommName(1, trimmed);
    ports_.CloseComm(1);
    waits_.Wait(0, 20);
    if (waits_.Ending()) {
        return;
    }
    try {
        ChannelText[0] = text::Fixed("基站未连接");
        ports_.OpenComm(1);
        QueryBase(1);
    } catch (const std::exception& e) {
        log_.Append(text::Fixed("打开串口 ") + portName + text::Fixed(" 失败.信息:") + e.what() +
                    SystemReasonOf(e));
    }
}

void BaseConnection::ConnectOtherSlot(int slot) {
    const std::size_t i = static_cast<std::size_t>(slot - 1);
    const std::string& portName = settings_.PortName[i];
    std::string trimmed = text::Trim(portName);
    if (trimmed.empty() || settings_.BaseId[i].empty()) {
        return;
    }
    portCombo_.OfferDevicePath(trimmed);
    portCombo_.SelectNoCase(portName);
    ports_.CloseComm(slot);
    waits_.Wait(0, 20);
    if (portCombo_.ItemIndex < 0 || waits_.Ending()) {
        return;
    }
    ports_.SetCommName(slot, trimmed);
    try {
        ChannelText[i] = text::Fixed("基站未连接");
        ports_.OpenComm(slot);
        QueryBase(slot);
    } catch (const std::exception& e) {
        log_.Append(portName + text::Fixed(" 打开失败") + SystemReasonOf(e));
    }
}

void BaseConnection::HandleBaseAnswer(const std::string& answer, int slot) {
    if (slot >= 1 && slot <= kStationCount) {
        std::string& channel = ChannelText[static_cast<std::size_t>(slot - 1)];
        channel = text::Fixed("基站未连接");
        if (answer.size() < 8) {
            return; // the missing channel byte ends the handler: the slot stays not connected
        }
        std::string hex = HexCodec::BytesToHex(answer.substr(7, 1));
        channel = text::ZeroPadded(HexCodec::HexByteToInt(hex) + 1, 2);
        if (slot == 1) {
            BaseOneAnswered = true;
        }
    }
    int selected = view_.SelectedStation();
    if (selected >= 0 && selected < kStationCount) {
        view_.SetChannelLabel(ChannelText[static_cast<std::size_t>(selected)]);
    }
}

void BaseConnection::act_ScanBaseSetExecute() {
    BaseOneAnswered = false;
    if (!waits_.Ending()) {
        tim_ScanBaseSet.start();
    }
}

void BaseConnection::tim_ScanBaseSetTimer() {
    if (ScanBusy || waits_.Ending()) {
        return;
    }
    ScanBusy = true;
    if (BaseOneAnswered) {
        log_.Append(text::Fixed("成功连接基站：") + settings_.BaseId[0] + text::Fixed(" 信道：") +
                    view_.ChannelLabel());
        tim_ScanBaseSet.stop();
        view_.SetBaseCommandsEnabled(true);
    } else {
        log_.Append(text::Fixed("搜索基站..."));
        view_.SetBaseCommandsEnabled(false);
        ConnectBaseStations();
    }
    ScanBusy = false;
}
