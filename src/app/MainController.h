// The main controller: owns all relay state and reacts to timers, serial chunks, host messages
// and user commands. It runs the same under QCoreApplication (headless) and under the main
// window, which implements MainView and forwards the operator's commands here.
#pragma once

#include "admin/HandheldView.h"
#include "app/MainCommands.h"
#include "app/MainView.h"
#include "app/OperationRecords.h"
#include "app/PumpWait.h"
#include "app/Startup.h"
#include "app/WorkLog.h"
#include "baselink/BaseConnection.h"
#include "baselink/DataProcessor.h"
#include "baselink/PdaReply.h"
#include "baselink/SerialComm.h"
#include "config/AppSettings.h"
#include "config/HandheldRegistry.h"
#include "desktop/DirChange.h"
#include "hostlink/HostEndpoint.h"
#include "hostlink/HostLink.h"
#include "menu/DownloadBroadcast.h"
#include "relay/Relay.h"

#include <QObject>
#include <QTimer>
#include <array>
#include <functional>
#include <memory>
#include <string>

namespace app {

class MainController : public QObject,
                       public MainCommands,
                       public MainState,
                       private SlotPorts,
                       private BasePorts,
                       private ScanView,
                       private config::RegistryView,
                       private relay::HandheldView,
                       private relay::HostNotifier,
                       private hostlink::HostLinkOwner,
                       private menu::DownloadPorts,
                       private menu::DownloadView {
public:
    // runtimeDir: the host link's runtime directory, empty when it was refused (refusal is the
    // work-log line to write). The endpoint is opened there with the process id as handle.
    // pacing: the download's pauses (production values unless a test shortens them).
    MainController(const std::string& programDir, const Markers& markers, MainView& view,
                   const std::string& runtimeDir, const std::string& runtimeRefusal,
                   menu::DownloadPacing pacing = {});
    ~MainController() override;

    // The creation sequence. Returns false when it ended early (no py.txt in the menu directory).
    bool Create();

    // Run modes after creation.
    void StartStandaloneDebug();
    // Logs the handle argument, converts it and announces the relay to the host. Throws
    // std::invalid_argument when the argument is not a decimal integer.
    void StartForHost(const std::string& handleArgument);

    // The close decision, run directly after the host's closing message.
    void CloseDecision();
    // Ends the program from inside any wait: every wait returns at once, loops stop, ports and
    // the host endpoint close, and the event loop ends with status 0.
    void EndProgram();

    // MainCommands: the operator's commands.
    void ParameterSettings() override;
    void BaseStationSettings() override;
    void ConnectBaseStations() override { scan_.act_ScanBaseSetExecute(); }
    void StartDownload() override;
    void StopDownload() override;
    void SelectStation(int choice) override;
    void SelectTreeNode(int station, int handheld) override;
    void SelectListItem(int item) override;
    void ShowOperationRecords() override;
    void ClearLog() override { log_.Clear(); }
    void CloseRequest() override;
    void ShowFromTray() override { view_.ShowMainWindow(); }
    void WindowActivated() override;
    void WindowDeactivated() override;

    // MainState, and further state for tests.
    const admin::THandheldView& HandheldPage() const override { return handheldView_; }
    const WorkLog& Log() const override { return log_; }
    const config::AppSettings& Settings() const { return settings_; }
    const config::HandheldRegistry& Registry() const { return registry_; }
    const PortCombo& Ports() const { return portCombo_; }
    const BaseConnection& Scan() const { return scan_; }
    const relay::Relay& RelayPart() const { return relay_; }
    const menu::DownloadBroadcast& Download() const { return *download_; }
    TComm& Comm(int slot) { return *comm_[static_cast<std::size_t>(slot - 1)]; }
    desktop::TDirChange& DirChange1() { return dirChange1_; }
    unsigned HostHandle() const override { return hostHandle_; }
    bool HostGoneFlag() const { return hostGone_; }
    bool HostClosingFlag() const { return hostClosing_; }
    const std::string& ProgramDirectory() const { return programDir_; }
    bool HostEndpointOpen() const { return endpoint_.IsOpen(); }

private:
    void SetUpPorts();
    void SetUpPipeline();
    void StartDirectoryWatcher();
    void ReloadConfiguration();
    std::string SettingsPath() const;
    std::string RegistryPath() const;
    // Runs an event handler the way the toolkit does: an escaping error is shown, the event loop
    // goes on.
    void Guarded(const std::function<void()>& handler);

    // SlotPorts and BasePorts: the four TComm.
    void SetCommName(int slot, const std::string& name) override;
    void CloseComm(int slot) override;
    void OpenComm(int slot) override;
    bool SendData(int slot, const std::string& bytes) override;
    // ScanView: the handheld page and the command bar.
    void SetBaseCommandsEnabled(bool enabled) override;
    void SetChannelLabel(const std::string& text) override;
    std::string ChannelLabel() const override { return handheldView_.Label8; }
    int SelectedStation() const override { return handheldView_.ComboBox1Index; }
    void RefreshHandheldPage() override;
    // RegistryView and relay::HandheldView.
    void RegistryLoaded(config::HandheldRegistry& registry, bool selectFirstStation) override;
    void MarkLoggedIn(const std::string& addressHex) override;
    // HostNotifier and HostLinkOwner.
    void NotifyHost() override { hostLink_.NotifyHost(); }
    void SetHostHandle(unsigned handle) override { hostHandle_ = handle; }
    void SetHostGone(bool gone) override { hostGone_ = gone; }
    void SetHostClosing(bool closing) override { hostClosing_ = closing; }
    void ReplyReady() override;
    void ShowMainWindow() override { view_.ShowMainWindow(); }
    void RunCloseDecision() override { CloseDecision(); }
    // DownloadPorts and DownloadView.
    void WriteToPort(int slot, const std::string& bytes) override { SendData(slot, bytes); }
    void SetBaseOneDtr(bool enabled) override;
    void SendToBase(const std::string& hex, int slot) override { sender_.SendToBase(hex, slot); }
    void SetCycleLabel(const std::string& text) override { view_.SetCycleLabel(text); }
    void SetCycleProgress(int position, int maximum) override {
        view_.SetProgress(position, maximum);
    }
    void SetDownloadCommandsEnabled(bool enabled) override;
    void StopHideTimer() override { Timer1.stop(); }
    void ShowDownloadMessage(const std::string& text, menu::MessageBox box) override;
    bool AskDownloadPrompt() override { return view_.AskDownloadPrompt(); }

    std::string programDir_;
    Markers markers_;
    MainView& view_;
    PumpWaits waits_;
    WorkLog log_;
    StderrLogListener stderrLog_;
    config::AppSettings settings_;
    config::HandheldRegistry registry_;
    admin::THandheldView handheldView_;
    PortCombo portCombo_;
    std::array<std::unique_ptr<TComm>, 4> comm_;
    BaseSender sender_;
    BaseConnection scan_;
    std::unique_ptr<ReceivePipeline> pipeline_;
    relay::Relay relay_;
    hostlink::HostEndpoint endpoint_;
    hostlink::HostLink hostLink_;
    std::unique_ptr<menu::DownloadBroadcast> download_;
    desktop::TDirChange dirChange1_;
    std::vector<OperationRecord> operationRecords_; // nothing adds to it
    QTimer Timer1;

    unsigned hostHandle_ = 0;
    bool hostGone_ = false;
    bool hostClosing_ = false;
    bool HideOnTick = false;
    bool ending_ = false;
};

} // namespace app
