#include "app/MainController.h"

#include "app/StatusCollector.h"
#include "baselink/SerialPortList.h"
#include "hostlink/HandOver.h"
#include "hostlink/HostProtocol.h"
#include "hostlink/PrivateStream.h"
#include "menu/DownloadImage.h"
#include "text/Files.h"
#include "text/Gbk.h"

#include <QCoreApplication>
#include <exception>
#include <unistd.h>

namespace app {
namespace {

// The four ports as the recovery of a hung-up port sees them. The scan opens and closes them
// itself while it runs, so the recovery waits for it.
class ControllerReopener : public PortReopener {
public:
    ControllerReopener(MainController& c, BaseSender& sender, WorkLog& log)
        : c_(c), sender_(sender), log_(log) {}
    bool MayReopen() const override { return !ProgramEnding() && !c_.Scan().Scanning(); }
    bool ReopenSlot(int slot) override {
        TComm& comm = c_.Comm(slot);
        if (comm.Opened() && !comm.HungUp()) {
            return true; // the scan has reopened it meanwhile
        }
        comm.CloseComm();
        try {
            comm.OpenComm();
            return true;
        } catch (const ECommsError&) {
            return false;
        }
    }
    std::optional<std::string> HungUpPort(int slot) const override {
        const TComm& comm = c_.Comm(slot);
        return comm.HungUp() ? std::optional(comm.CommName()) : std::nullopt;
    }
    std::optional<std::string> ClosedByScan(int slot) const override {
        const TComm& comm = c_.Comm(slot);
        const bool closed = c_.Scan().Scanning() && !comm.Opened() && !comm.CommName().empty();
        return closed ? std::optional(comm.CommName()) : std::nullopt;
    }
    bool PortOpen(int slot) const override {
        const TComm& comm = c_.Comm(slot);
        return comm.Opened() && !comm.HungUp();
    }
    void SendKept(int slot, std::deque<StationReply> replies) override {
        sender_.SendKept(slot, std::move(replies));
    }
    void Log(const std::string& line) override { log_.Append(line); }

private:
    MainController& c_;
    BaseSender& sender_;
    WorkLog& log_;
};

// Temporary files of writes that an earlier run did not finish (it was killed).
void RemoveUnfinishedWrites(const config::AppSettings& settings) {
    text::RemoveLeftoverTemporaries(text::DirName(settings.ExchangeDir + hostlink::kRequestFile));
    text::RemoveLeftoverTemporaries(text::DirName(settings.MenuDir + menu::kImageFile));
}

} // namespace

MainController::MainController(const std::string& programDir, const Markers& markers,
                               MainView& view, const std::string& runtimeDir,
                               const std::string& runtimeRefusal, menu::DownloadPacing pacing,
                               PortRecovery::Now portClock)
    : programDir_(programDir), markers_(markers), view_(view),
      ports_(settings_.BaseId, log_,
             [this](int slot, const char* bytes, std::uint16_t length) {
                 activity_.BytesFrom(slot);
                 pipeline_->Comm1ReceiveData(slot, bytes, length);
             }),
      recorder_(ports_.Sender()), activity_(recorder_, recorder_),
      scan_(settings_, portCombo_, ports_, ports_.Sender(), log_, handheldPanel_, waits_),
      handheldPanel_(view_, settings_, scan_.ChannelText), hostLink_(log_, *this, &endpoint_),
      notedHost_(hostLink_, activity_),
      relay_({settings_, registry_, log_, activity_, handheldPanel_, notedHost_, waits_, retry_}),
      handOver_([this](const std::string& message) { return PrivateMessage(message); }),
      statusEndpoint_([this](const std::string& question) { return StatusAnswer(question); }),
      hideRule_(view_), downloadPage_(view_, hideRule_, settings_.MenuDir, pacing),
      download_(ports_, downloadPage_, settings_.MenuDir, markers_.DebugLogging, log_, waits_,
                pacing) {
    log_.AddListener(&stderrLog_);
    log_.AddListener(&view_);
    StartWorkLogFile();
    relay_.SetRequestEvents(&activity_);
    relay_.OnAnswered([this](const relay::CommandEntry& entry) { activity_.Answered(entry); });
    TComm::SetProgramDirectory(programDir_);
    reopener_ = std::make_unique<ControllerReopener>(*this, ports_.Sender(), log_);
    portRecovery_ = std::make_unique<PortRecovery>(*reopener_, std::move(portClock));
    ports_.Sender().SetReplyHold(portRecovery_.get());
    ports_.OnHangUp([this](int slot, const std::string& name) {
        activity_.PortHungUp(slot);
        portRecovery_->HungUp(slot, name);
    });
    SetUpPipeline();
    dirChange1_.SetDirectory("D:\\RF\\");
    dirChange1_.OnChangeWriteTime = [](desktop::TDirChange&, const desktop::TDirEntry&,
                                       const desktop::TDirEntry&) {};
    std::string reason = runtimeRefusal;
    if (!runtimeDir.empty() &&
        !endpoint_.Open(runtimeDir, static_cast<unsigned>(::getpid()), reason)) {
        log_.Append(reason);
    } else if (runtimeDir.empty() && !reason.empty()) {
        log_.Append(reason);
    }
    if (!runtimeDir.empty() && !handOver_.Open(runtimeDir, hostlink::kHandOverSocket, reason)) {
        log_.Append(reason);
    }
    if (!runtimeDir.empty() && !statusEndpoint_.Open(runtimeDir, hostlink::kStatusSocket, reason)) {
        log_.Append(reason);
    }
    StartMetricsFile();
    alarmTimer_.setInterval(kAlarmInterval);
    connect(&alarmTimer_, &QTimer::timeout, this, &MainController::CheckAlarm);
    alarmTimer_.start();
}

MainController::~MainController() {
    if (metrics_) {
        metrics_->Finish();
    }
    portRecovery_->GiveUp();
    ports_.CloseAll();
    statusEndpoint_.Close();
    handOver_.Close();
    endpoint_.Close();
    log_.RemoveListener(&view_);
    log_.RemoveListener(&stderrLog_);
    log_.RemoveListener(logFile_.get());
}

// The failure report comes from the file's writer thread and is logged on this one.
void MainController::StartWorkLogFile() {
    const WorkLogFileSettings file = LoadWorkLogFileSettings(SettingsPath());
    if (!file.On) {
        return;
    }
    logFile_ = std::make_unique<WorkLogFile>(programDir_ + "logs/", file.KeepDays,
                                             [this](const std::string& message) {
                                                 QMetaObject::invokeMethod(
                                                     this,
                                                     [this, message] {
                                                         activity_.WorkLogFileFailed();
                                                         log_.Append(message);
                                                     },
                                                     Qt::QueuedConnection);
                                             });
    log_.AddListener(logFile_.get());
}

// Read at start, like the work-log file's switch.
void MainController::StartMetricsFile() {
    const std::string dir = LoadMetricsDir(SettingsPath(), programDir_);
    if (dir.empty()) {
        return;
    }
    metrics_ = std::make_unique<MetricsFile>(
        dir,
        [this](bool running) { return MetricsText(Snapshot(), activity_.Counters(), running); },
        [this](const std::string& line) { log_.Append(line); });
    metrics_->Start();
}

// Each change of the alarm goes to the view once; one that nobody sees goes to the work log.
void MainController::CheckAlarm() {
    const Alarm seen = AlarmOf(Snapshot());
    const Alarm now = Confirmed(seen, lastSeenAlarm_);
    lastSeenAlarm_ = seen;
    if (now == alarm_) {
        return;
    }
    const bool fresh = NewCause(alarm_, now);
    alarm_ = now;
    if (!view_.ShowAlarm(AlarmText(now), fresh)) {
        log_.Append(AlarmLogLine(now));
    }
}

void MainController::SetUpPipeline() {
    PipelineHandlers handlers;
    handlers.BaseAnswer = [this](const std::string& answer, int slot) {
        scan_.HandleBaseAnswer(answer, slot);
    };
    handlers.BroadcastNotice = [this](const std::string& chunk) {
        Guarded([&] { download_.onBroadcastNotice(chunk); });
    };
    handlers.ReadyNotice = [this](const std::string& chunk) {
        Guarded([&] { download_.onReadyNotice(chunk); });
    };
    handlers.HandleRequest = [this](const RequestFrame& f) {
        relay_.HandleRequest(f.Operation, f.BaseByte, f.Handheld, f.TimeHex, f.Data);
    };
    handlers.UnhandledError = [this](const std::string& message) { view_.ShowError(message); };
    pipeline_ = std::make_unique<ReceivePipeline>(log_, markers_.DebugLogging, handlers);
}

void MainController::Guarded(const std::function<void()>& handler) {
    try {
        handler();
    } catch (const std::exception& e) {
        view_.ShowError(e.what());
    }
}

std::string MainController::SettingsPath() const {
    return programDir_ + config::kSettingsFileName;
}

std::string MainController::RegistryPath() const {
    return programDir_ + config::kRegistryFileName;
}

void MainController::StartDirectoryWatcher() {
    Guarded([this] { desktop::RestartOn(dirChange1_, settings_.ExchangeDir); });
}

bool MainController::Create() {
    scan_.BaseOneAnswered = false;
    view_.HideMainWindow();
    hostLink_.SetHostClosing(false);
    hostLink_.SetHostGone(false);

    portCombo_.Fill(SerialPortList(programDir_));
    handheldPanel_.SetTreeSelectionHandling(false);

    LoadSettings();
    RemoveUnfinishedWrites(settings_);
    if (!text::FileExists(settings_.MenuDir + "py.txt")) {
        view_.ShowMessage(WindowCaption(), text::Fixed("不存在\"py.txt\",系统不能运行"));
        QTimer::singleShot(0, this, [this] { CloseRequest(); });
        return false;
    }
    if (settings_.FileMonitoring) {
        StartDirectoryWatcher();
    }
    pipeline_->Start();
    if (!text::Trim(settings_.PortName[0]).empty()) {
        portCombo_.SelectNoCase(settings_.PortName[0]);
    }
    config::LoadRegistry(registry_, RegistryPath(), settings_, &handheldPanel_);
    handheldPanel_.SetTreeSelectionHandling(true);
    scan_.act_ScanBaseSetExecute();
    return true;
}

void MainController::StartStandaloneDebug() {
    log_.Append(text::Fixed("调试状态,该状态下无法与餐饮软件进行数据交互."));
    standalone_ = true;
    hostLink_.SetHostHandle(kStandaloneHostHandle);
}

void MainController::StartForHost(const std::string& handleArgument) {
    log_.Append(text::Fixed("收到主程序句柄:") + handleArgument);
    hostLink_.SetHostHandle(ParseHostHandle(handleArgument));
    hostLink_.PostStartupAnnouncement();
}

// At start-up and after the parameter dialog alike.
void MainController::LoadSettings() {
    config::LoadSettings(settings_, SettingsPath(), [this] { StartDirectoryWatcher(); });
    config::ApplyMenuDirDefault(settings_, programDir_);
}

void MainController::ReloadConfiguration() {
    LoadSettings();
    config::LoadRegistry(registry_, RegistryPath(), settings_, &handheldPanel_);
    scan_.act_ScanBaseSetExecute();
}

// The parameter sequence: the files are reloaded whether or not the dialog saved them.
void MainController::ParameterSettings() {
    Guarded([this] {
        view_.OpenParameterDialog(programDir_);
        ReloadConfiguration();
    });
}

// The base-station sequence: the dialog offers the selector's names; nothing is reloaded after.
void MainController::BaseStationSettings() {
    Guarded([this] {
        view_.OpenBaseStationDialog(HandheldPage().ComboBox1,
                                    {ports_, waits_, settings_.BaseId, scan_.ChannelText});
    });
}

void MainController::ShowOperationRecords() {
    if (const auto handheld = handheldPanel_.SelectedHandheld()) {
        view_.ShowOperationRecords(
            RecordsOf(recorder_.Records(), handheld->first, handheld->second));
    }
}

std::string MainController::TreeNodeDetail(int station, int handheld) const {
    return DetailOf(handheldPanel_.TreeHandheld(station, handheld));
}

std::string MainController::ListItemDetail(int item) const {
    return DetailOf(handheldPanel_.ListHandheld(item));
}

RelayStatus MainController::Status() const {
    RelayStatus status;
    for (std::size_t i = 0; i < 4; ++i) {
        const std::string& channel = scan_.ChannelText[i];
        status.stationsAnswering += !channel.empty() && channel != text::Fixed("基站未连接");
        status.stationsConfigured += !text::Trim(settings_.PortName[i]).empty();
    }
    status.hostPresent = !hostLink_.HostGone() && hostLink_.HostWindowExists();
    status.requestsWaiting = relay_.Queue().Size();
    return status;
}

std::string
MainController::DetailOf(const std::optional<std::pair<std::string, std::string>>& handheld) const {
    return handheld ? ActivityDetail(recorder_.ActivityOf(text::Trim(handheld->first),
                                                          text::Trim(handheld->second)))
                    : "";
}

void MainController::CloseRequest() {
    for (int i = 0; i < 10 && hostLink_.HostWindowExists() && !waits_.Ending(); ++i) {
        waits_.Wait(0, 20);
    }
    hostLink_.SetHostGone(!hostLink_.HostWindowExists());
    CloseDecision();
}

void MainController::CloseDecision() {
    bool allowed =
        hostLink_.HostGone() || hostLink_.HostHandle() == 0 || !hostLink_.HostWindowExists();
    if (hostLink_.HostClosing()) {
        allowed = true;
    }
    if (allowed) {
        EndProgram();
    } else {
        view_.HideMainWindow();
    }
}

void MainController::EndProgram() {
    if (ending_) {
        return;
    }
    ending_ = true;
    SetProgramEnding(true);
    scan_.StopScan();
    alarmTimer_.stop();
    hideRule_.Stop();
    dirChange1_.SetActive(false);
    if (metrics_) {
        metrics_->Finish(); // the state as the relay leaves it
    }
    portRecovery_->GiveUp();
    ports_.CloseAll();
    statusEndpoint_.Close();
    handOver_.Close();
    endpoint_.Close();
    QCoreApplication::exit(0);
}

void MainController::StartDownload() {
    Guarded([this] { download_.startDownload(); });
}

void MainController::StopDownload() {
    Guarded([this] { download_.stopDownload(); });
}

void MainController::ReplyReady() {
    activity_.ReplyReadyCame();
    Guarded([this] { relay_.ReplyReady(); });
}

void MainController::HostReplaced() {
    Guarded([this] { relay_.HostReplaced(); });
}

void MainController::HostHandleChanged(unsigned handle) {
    if (recordHost_) {
        recordHost_(handle);
    }
}

RelaySnapshot MainController::Snapshot() const {
    return CollectStatus({programDir_, settings_, scan_, ports_, *portRecovery_, hostLink_,
                          standalone_, relay_.Queue(), download_, log_, activity_});
}

std::string MainController::StatusAnswer(const std::string& question) const {
    const std::optional<StatusQuestion> asked = ParseQuestion(question);
    return asked ? FormatAnswer(Snapshot(), *asked) : "unknown question\n";
}

std::string MainController::PrivateMessage(const std::string& message) {
    if (const std::optional<unsigned> handle = hostlink::ParseHandOver(message)) {
        Guarded([this, &handle] { hostLink_.HandOver(*handle); });
    }
    return "";
}

} // namespace app
