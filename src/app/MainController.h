// The main controller: owns all relay state and reacts to timers, serial chunks, host messages
// and the operator's commands. It runs the same under QCoreApplication (headless) and under the
// main window, which implements MainView, forwards the operator's commands (MainCommands) and
// draws what MainState shows.
#pragma once

#include "app/Alarm.h"
#include "app/BaseStationPorts.h"
#include "app/DownloadPage.h"
#include "app/HandheldPanel.h"
#include "app/HideRule.h"
#include "app/MainCommands.h"
#include "app/MainView.h"
#include "app/MetricsFile.h"
#include "app/OperationRecorder.h"
#include "app/OperationRecords.h"
#include "app/PumpWait.h"
#include "app/RelayActivity.h"
#include "app/RetryTimer.h"
#include "app/Startup.h"
#include "app/StatusSnapshot.h"
#include "app/WorkLogFile.h"
#include "baselink/BaseConnection.h"
#include "baselink/DataProcessor.h"
#include "baselink/PortRecovery.h"
#include "config/AppSettings.h"
#include "config/HandheldRegistry.h"
#include "desktop/DirChange.h"
#include "hostlink/HostEndpoint.h"
#include "hostlink/HostLink.h"
#include "hostlink/PrivateEndpoint.h"
#include "hostlink/PrivateStreamEndpoint.h"
#include "menu/DownloadBroadcast.h"
#include "relay/Relay.h"
#include "worklog/WorkLog.h"

#include <QObject>
#include <QTimer>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace app {

class MainController : public QObject,
                       public MainCommands,
                       public MainState,
                       private hostlink::HostLinkOwner {
public:
    // runtimeDir: the host link's runtime directory, empty when it was refused (refusal is the
    // work-log line to write). The endpoint is opened there with the process id as handle.
    // pacing: the download's pauses (production values unless a test shortens them).
    // portClock: the clock of the hung-up ports' recovery and of the replies kept meanwhile.
    MainController(const std::string& programDir, const Markers& markers, MainView& view,
                   const std::string& runtimeDir, const std::string& runtimeRefusal,
                   menu::DownloadPacing pacing = {},
                   PortRecovery::Now portClock = PortRecovery::Clock::now);
    ~MainController() override;

    // The creation sequence. Returns false when it ended early (no py.txt in the menu directory).
    bool Create();

    // Run modes after creation.
    void StartStandaloneDebug();
    // Logs the handle argument, converts it and announces the relay to the host. Throws
    // std::invalid_argument when the argument is not a decimal integer.
    void StartForHost(const std::string& handleArgument);

    // Called with HostHandle whenever it changes (the instance lock records it).
    void OnHostHandleChanged(std::function<void(unsigned)> record) {
        recordHost_ = std::move(record);
    }

    // The close decision, run directly after the host's closing message.
    void CloseDecision();
    // Ends the program from inside any wait: every wait returns at once, loops stop, ports and
    // the host endpoint close, and the event loop ends with status 0.
    void EndProgram();

    // MainCommands.
    void ParameterSettings() override;
    void BaseStationSettings() override;
    void ConnectBaseStations() override { scan_.act_ScanBaseSetExecute(); }
    void StartDownload() override;
    void StopDownload() override;
    void SelectStation(int choice) override { handheldPanel_.ChooseStation(choice); }
    void SelectTreeNode(int station, int handheld) override {
        handheldPanel_.SelectTreeNode(station, handheld);
    }
    void SelectListItem(int item) override { handheldPanel_.SelectListItem(item); }
    void ShowOperationRecords() override;
    void ClearLog() override { log_.Clear(); }
    void CloseRequest() override;
    void ShowFromTray() override { view_.ShowMainWindow(); }
    void WindowActivated() override { hideRule_.WindowActivated(); }
    void WindowDeactivated() override { hideRule_.WindowDeactivated(); }

    // MainState.
    const admin::THandheldView& HandheldPage() const override { return handheldPanel_.Data(); }
    const WorkLog& Log() const override { return log_; }
    std::string TreeNodeDetail(int station, int handheld) const override;
    std::string ListItemDetail(int item) const override;
    RelayStatus Status() const override;

    // Further state, for tests.
    const config::AppSettings& Settings() const { return settings_; }
    const BaseConnection& Scan() const { return scan_; }
    const hostlink::HostLink& Host() const { return hostLink_; }
    const OperationRecorder& Records() const { return recorder_; }
    TComm& Comm(int slot) { return ports_.Comm(slot); }
    // The replies kept for base station 1 to 4 while its port is out.
    std::size_t HeldReplies(int slot) const { return portRecovery_->HeldReplies(slot); }
    desktop::TDirChange& DirChange1() { return dirChange1_; }
    // The relay's state for support and monitoring, as of now. Reads only.
    RelaySnapshot Snapshot() const;
    const MetricsCounters& Counters() const { return activity_.Counters(); }
    const Alarm& CurrentAlarm() const { return alarm_; }
    // How often the alarm is judged anew.
    static constexpr std::chrono::seconds kAlarmInterval{1};
    // The answer to a question on the status socket.
    std::string StatusAnswer(const std::string& question) const;

private:
    void SetUpPipeline();
    void StartDirectoryWatcher();
    void LoadSettings(); // the parameter file, with the default menu directory
    void ReloadConfiguration();
    void StartWorkLogFile();
    void StartMetricsFile();
    void CheckAlarm();
    std::string DetailOf(const std::optional<std::pair<std::string, std::string>>& handheld) const;
    std::string SettingsPath() const;
    std::string RegistryPath() const;
    // Runs an event handler the way the toolkit does: an escaping error is shown, the event loop
    // goes on.
    void Guarded(const std::function<void()>& handler);

    // HostLinkOwner.
    void ReplyReady() override;
    void ShowMainWindow() override { view_.ShowMainWindow(); }
    void RunCloseDecision() override { CloseDecision(); }
    void HostReplaced() override;
    void HostHandleChanged(unsigned handle) override;
    // A private message on the hand-over socket.
    std::string PrivateMessage(const std::string& message);

    // The host as the relay notifies it, with the moment noted for the status.
    class NotedHost : public relay::HostNotifier {
    public:
        NotedHost(relay::HostNotifier& host, RelayActivity& activity)
            : host_(host), activity_(activity) {}
        void NotifyHost() override {
            activity_.HostNotified();
            host_.NotifyHost();
        }

    private:
        relay::HostNotifier& host_;
        RelayActivity& activity_;
    };

    std::string programDir_;
    Markers markers_;
    MainView& view_;
    PumpWaits waits_;    // every pause of every part
    QtRetryTimer retry_; // the request file's next try
    WorkLog log_;
    StderrLogListener stderrLog_;
    config::AppSettings settings_;
    config::HandheldRegistry registry_;
    PortCombo portCombo_;                    // the present serial ports
    BaseStationPorts ports_;                 // Comm1 to Comm4 and the sender
    std::unique_ptr<PortReopener> reopener_; // reopens a hung-up port for portRecovery_
    std::unique_ptr<PortRecovery> portRecovery_;
    OperationRecorder recorder_;  // the records and the handhelds' activity
    RelayActivity activity_;      // times and counters for status and metrics; the relay's sender
    BaseConnection scan_;         // "连接基站", tim_ScanBaseSet, ChannelText
    HandheldPanel handheldPanel_; // tree, selector, status label, list
    std::unique_ptr<ReceivePipeline> pipeline_; // tim_DataProc and the chunk queue
    hostlink::HostEndpoint endpoint_;
    hostlink::HostLink hostLink_; // with HostHandle, HostGone and HostClosing
    NotedHost notedHost_;
    relay::Relay relay_;                 // requests, the command queue, the host's replies
    hostlink::PrivateEndpoint handOver_; // a restarted host's handle from a second start
    hostlink::PrivateStreamEndpoint statusEndpoint_; // support's and monitoring's questions
    bool standalone_ = false;                        // standalone debug: no host expected
    std::function<void(unsigned)> recordHost_;
    HideRule hideRule_; // Timer1
    DownloadPage downloadPage_;
    menu::DownloadBroadcast download_;
    desktop::TDirChange dirChange1_;
    std::unique_ptr<WorkLogFile> logFile_; // when the parameter file switches it on
    std::unique_ptr<MetricsFile> metrics_; // when the parameter file names its directory
    QTimer alarmTimer_;                    // the alarm follows the relay's state
    Alarm alarm_;                          // as shown
    Alarm lastSeenAlarm_;                  // as the last look saw it
    bool ending_ = false;
};

} // namespace app
