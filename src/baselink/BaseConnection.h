// Connecting the base stations: open each configured slot's port, query the station and read its
// radio channel from the answer. A 200 ms scan timer reconnects until base station 1 answers.
#pragma once

#include "text/Stations.h"
#include "text/Waits.h"

#include <QTimer>
#include <array>
#include <string>
#include <vector>

class WorkLog;
class BaseSender;
namespace config {
struct AppSettings;
}

// The main window's list of present ports: kept sorted as text, one entry selected or none.
struct PortCombo {
    std::vector<std::string> Items;
    int ItemIndex = -1;

    // Fills the list from discovery, sorted; COM1..COM8 when discovery found nothing.
    void Fill(const std::vector<std::string>& ports);
    // Selects the entry equal to name without regard to case; no selection when there is none.
    void SelectNoCase(const std::string& name);
    // Adds a port name that is a device path while its device exists, in sorted place, so that
    // it is offered like a port that discovery lists (discovery lists names only).
    void OfferDevicePath(const std::string& name);
};

// The four slots' serial ports as the scan uses them. OpenComm throws with the port's error
// message when the port cannot be opened.
class SlotPorts {
public:
    virtual ~SlotPorts() = default;
    virtual void SetCommName(int slot, const std::string& name) = 0;
    virtual void CloseComm(int slot) = 0;
    virtual void OpenComm(int slot) = 0;
};

// What the scan shows on the window.
class ScanView {
public:
    virtual ~ScanView() = default;
    // btn_BaseSet ("基站设置") and Button9 ("开始下载").
    virtual void SetBaseCommandsEnabled(bool enabled) = 0;
    virtual void SetChannelLabel(const std::string& text) = 0;
    virtual std::string ChannelLabel() const = 0;
    // Selection of the handheld page's base-station selector (ComboBox1), -1 for none.
    virtual int SelectedStation() const = 0;
    // Refreshes the handheld page for its selected base station (also sets the channel label).
    virtual void RefreshHandheldPage() = 0;
};

class BaseConnection {
public:
    BaseConnection(const config::AppSettings& settings, PortCombo& portCombo, SlotPorts& ports,
                   BaseSender& sender, WorkLog& log, ScanView& view, Waits& waits);

    void ConnectBaseStations();
    void QueryBase(int slot);
    void HandleBaseAnswer(const std::string& answer, int slot);
    void act_ScanBaseSetExecute();
    void tim_ScanBaseSetTimer();

    std::array<std::string, kStationCount> ChannelText;
    bool BaseOneAnswered = false;
    bool ScanBusy = false;
    bool Scanning() const { return tim_ScanBaseSet.isActive(); }
    void StopScan() { tim_ScanBaseSet.stop(); }

private:
    void ConnectSlotOne();
    void ConnectOtherSlot(int slot);

    const config::AppSettings& settings_;
    PortCombo& portCombo_;
    SlotPorts& ports_;
    BaseSender& sender_;
    WorkLog& log_;
    ScanView& view_;
    Waits& waits_;
    QTimer tim_ScanBaseSet;
};
