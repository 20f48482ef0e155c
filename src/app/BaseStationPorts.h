// The main window's four base-station ports Comm1 to Comm4 (Tag = slot) and the sender that
// writes frames to them. One object serves every user of the ports: the scan (SlotPorts), the
// sender and the base-station dialog (BasePorts), and the download (DownloadPorts).
#pragma once

#include "baselink/BaseConnection.h"
#include "baselink/PdaReply.h"
#include "baselink/SerialComm.h"
#include "menu/DownloadBroadcast.h"
#include "text/Stations.h"

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class WorkLog;

namespace app {

class BaseStationPorts : public SlotPorts, public BasePorts, public menu::DownloadPorts {
public:
    // Every chunk a port receives, with the port's slot.
    using ReceiveHandler = std::function<void(int slot, const char* bytes, std::uint16_t length)>;

    // baseIds: the configured IDs of the four slots, read at every send.
    BaseStationPorts(const std::array<std::string, kStationCount>& baseIds, WorkLog& log,
                     ReceiveHandler onReceive);

    // SlotPorts.
    void SetCommName(int slot, const std::string& name) override;
    void CloseComm(int slot) override;
    void OpenComm(int slot) override;
    // BasePorts: bytes queued on the slot's port; false for a closed port or another slot.
    bool SendData(int slot, const std::string& bytes) override;
    // DownloadPorts.
    void WriteToPort(int slot, const std::string& bytes) override { SendData(slot, bytes); }
    void SetBaseOneDtr(bool enabled) override;
    void SendToBase(const std::string& hex, int slot) override { sender_.SendToBase(hex, slot); }

    BaseSender& Sender() { return sender_; }
    TComm& Comm(int slot) { return *comm_[static_cast<std::size_t>(slot - 1)]; }
    const TComm& Comm(int slot) const { return *comm_[static_cast<std::size_t>(slot - 1)]; }
    void CloseAll();
    // A port whose device vanished while it was open: its slot and port name.
    void OnHangUp(std::function<void(int slot, const std::string& name)> handler);

private:
    std::array<std::unique_ptr<TComm>, kStationCount> comm_;
    BaseSender sender_;
};

} // namespace app
