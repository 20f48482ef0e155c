#include "app/BaseStationPorts.h"

#include "relay/OperationNames.h"

namespace app {

// 115200 8N1 without flow control, RTS on, DTR off on slot 1.
BaseStationPorts::BaseStationPorts(const std::array<std::string, kStationCount>& baseIds,
                                   WorkLog& log, ReceiveHandler onReceive)
    : sender_(baseIds, *this, log, [](int op) { return relay::OperationName(op); }) {
    for (int slot = 1; slot <= kStationCount; ++slot) {
        auto comm = std::make_unique<TComm>();
        comm->SetTag(slot);
        comm->SetCommName("COM1");
        comm->SetBaudRate(115200);
        comm->SetOutx_XonXoffFlow(false);
        comm->SetInx_XonXoffFlow(false);
        comm->SetXonChar(0x00);
        comm->SetXoffChar(0x00);
        comm->SetDtrControl(slot == 1 ? TDtrControl::DtrDisable : TDtrControl::DtrEnable);
        comm->OnReceiveData = [onReceive](TComm* sender, const char* buffer, std::uint16_t length) {
            onReceive(sender->Tag(), buffer, length);
        };
        comm_[static_cast<std::size_t>(slot - 1)] = std::move(comm);
    }
}

void BaseStationPorts::SetCommName(int slot, const std::string& name) {
    Comm(slot).SetCommName(name);
}

void BaseStationPorts::CloseComm(int slot) {
    Comm(slot).CloseComm();
}

void BaseStationPorts::OpenComm(int slot) {
    Comm(slot).OpenComm();
}

bool BaseStationPorts::SendData(int slot, const std::string& bytes) {
    if (slot < 1 || slot > kStationCount || bytes.size() > 0xFFFF) {
        return false;
    }
    return Comm(slot).SendData(bytes.data(), static_cast<std::uint16_t>(bytes.size()));
}

void BaseStationPorts::SetBaseOneDtr(bool enabled) {
    Comm(1).SetDtrControl(enabled ? TDtrControl::DtrEnable : TDtrControl::DtrDisable);
}

void BaseStationPorts::CloseAll() {
    for (auto& comm : comm_) {
        comm->CloseComm();
    }
}

void BaseStationPorts::OnHangUp(std::function<void(int slot, const std::string& name)> handler) {
    for (auto& comm : comm_) {
        comm->OnRequestHangup = [handler](TComm* sender) {
            if (sender->HungUp()) { // not a notice left over from an earlier opening
                handler(sender->Tag(), sender->CommName());
            }
        };
    }
}

} // namespace app
