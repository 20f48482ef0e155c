#include "app/MainController.h"

#include "app/PumpWait.h"
#include "baselink/SerialPortList.h"
#include "relay/OperationNames.h"
#include "text/Files.h"
#include "text/Gbk.h"

#include <QCoreApplication>
#include <exception>
#include <unistd.h>

namespace app {
namespace {

const std::string& kWindowCaption() {
    return text::Fixed("无线点菜机管理");
}

} // namespace

MainController::MainController(const std::string& programDir, const Markers& markers,
                               MainView& view, const std::string& runtimeDir,
                               const std::string& runtimeRefusal, menu::DownloadPacing pacing)
    : programDir_(programDir), markers_(markers), view_(view),
      sender_(settings_.BaseId, *this, log_, [](int op) { return relay::OperationName(op); }),
      scan_(settings_, portCombo_, *this, sender_, log_, *this, waits_),
      relay_(relay::RelayContext{settings_, registry_, log_, sender_, *this, *this, waits_}),
      hostLink_(log_, *this, &endpoint_) {
    log_.AddListener(&stderrLog_);
    log_.AddListener(&view_);
    TComm::SetProgramDirectory(programDir_);
    menu::DownloadPorts& ports = *this;
    menu::DownloadView& page = *this;
    download_ = std::make_unique<menu::DownloadBroadcast>(
        ports, page, settings_.MenuDir, markers_.DebugLogging, log_, waits_, pacing);
    SetUpPorts();
    SetUpPipeline();
    dirChange1_.SetDirectory("D:\\RF\\");
    dirChange1_.OnChangeWriteTime = [](desktop::TDirChange&, const desktop::TDirEntry&,
                                       const desktop::TDirEntry&) {};
    Timer1.setInterval(1000);
    QObject::connect(&Timer1, &QTimer::timeout, [this] {
        if (HideOnTick) {
            view_.HideMainWindow();
            HideOnTick = false;
            Timer1.stop();
        }
    });
    std::string reason = runtimeRefusal;
    if (!runtimeDir.empty() &&
        !endpoint_.Open(runtimeDir, static_cast<unsigned>(::getpid()), reason)) {
        log_.Append(reason);
    } else if (runtimeDir.empty() && !reason.empty()) {
        log_.Append(reason);
    }
}

MainController::~MainController() {
    for (auto& comm : comm_) {
        comm->CloseComm();
    }
    endpoint_.Close();
    log_.RemoveListener(&view_);
    log_.RemoveListener(&stderrLog_);
}

// The main window's four ports: 115200 8N1 without flow control, RTS on, DTR off on slot 1.
void MainController::SetUpPorts() {
    for (int slot = 1; slot <= 4; ++slot) {
        auto comm = std::make_unique<TComm>(this);
        comm->SetTag(slot);
        comm->SetCommName("COM1");
        comm->SetBaudRate(115200);
        comm->SetOutx_XonXoffFlow(false);
        comm->SetInx_XonXoffFlow(false);
        comm->SetXonChar(0x00);
        comm->SetXoffChar(0x00);
        comm->SetDtrControl(slot == 1 ? TDtrControl::DtrDisable : TDtrControl::DtrEnable);
        comm->OnReceiveData = [this](TComm* sender, const char* buffer, std::uint16_t length) {
            pipeline_->Comm1ReceiveData(sender->Tag(), buffer, length);
        };
        comm_[static_cast<std::size_t>(slot - 1)] = std::move(comm);
    }
}

void MainController::SetUpPipeline() {
    PipelineHandlers handlers;
    handlers.BaseAnswer = [this](const std::string& answer, int slot) {
        scan_.HandleBaseAnswer(answer, slot);
    };
    handlers.BroadcastNotice = [this](const std::string& chunk) {
        Guarded([&] { download_->onBroadcastNotice(chunk); });
    };
    handlers.ReadyNotice = [this](const std::string& chunk) {
        Guarded([&] { download_->onReadyNotice(chunk); });
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
    hostClosing_ = false;
    hostGone_ = false;

    portCombo_.Fill(SerialPortList(programDir_));
    handheldView_.TreeSelectionHandling = false;

    config::LoadSettings(settings_, SettingsPath(), [this] { StartDirectoryWatcher(); });
    if (text::Trim(settings_.MenuDir).empty()) {
        settings_.MenuDir = text::FindNoCase(programDir_, "txt") + "/";
    }
    if (!text::FileExists(settings_.MenuDir + "py.txt")) {
        view_.ShowMessage(kWindowCaption(), text::Fixed("不存在\"py.txt\",系统不能运行"));
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
    config::LoadRegistry(registry_, RegistryPath(), settings_, this);
    handheldView_.TreeSelectionHandling = true;
    scan_.act_ScanBaseSetExecute();
    return true;
}

void MainController::StartStandaloneDebug() {
    log_.Append(text::Fixed("调试状态,该状态下无法与餐饮软件进行数据交互."));
    hostHandle_ = kStandaloneHostHandle;
}

void MainController::StartForHost(const std::string& handleArgument) {
    log_.Append(text::Fixed("收到主程序句柄:") + handleArgument);
    hostHandle_ = ParseHostHandle(handleArgument);
    hostLink_.PostStartupAnnouncement();
}

void MainController::ReloadConfiguration() {
    config::LoadSettings(settings_, SettingsPath(), [this] { StartDirectoryWatcher(); });
    config::LoadRegistry(registry_, RegistryPath(), settings_, this);
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
        view_.OpenBaseStationDialog(handheldView_.ComboBox1,
                                    {*this, waits_, settings_.BaseId, scan_.ChannelText});
    });
}

void MainController::SelectStation(int choice) {
    handheldView_.ChooseStation(choice, scan_.ChannelText);
    view_.HandheldViewChanged();
}

void MainController::SelectTreeNode(int station, int handheld) {
    handheldView_.SelectTreeNode(station, handheld, scan_.ChannelText);
    view_.HandheldViewChanged();
}

void MainController::SelectListItem(int item) {
    const bool exists = item >= 0 && item < static_cast<int>(handheldView_.ListView1.size());
    handheldView_.ListView1Index = exists ? item : -1;
}

// The viewer for the selected handheld of the chosen station (choice 0..3 is station 1..4; with
// no such choice the base-station ID is empty).
void MainController::ShowOperationRecords() {
    const admin::THandheldView& page = handheldView_;
    if (page.ListView1Index < 0) {
        return;
    }
    const std::string& handheld =
        page.ListView1[static_cast<std::size_t>(page.ListView1Index)].Caption;
    const int choice = page.ComboBox1Index;
    const std::string baseId =
        choice >= 0 && choice <= 3 ? settings_.BaseId[static_cast<std::size_t>(choice)] : "";
    view_.ShowOperationRecords(RecordsOf(operationRecords_, baseId, handheld));
}

void MainController::CloseRequest() {
    for (int i = 0; i < 10 && hostLink_.HostWindowExists() && !waits_.Ending(); ++i) {
        waits_.Wait(0, 20);
    }
    hostGone_ = !hostLink_.HostWindowExists();
    CloseDecision();
}

void MainController::CloseDecision() {
    bool allowed = hostGone_ || hostHandle_ == 0 || !hostLink_.HostWindowExists();
    if (hostClosing_) {
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
    Timer1.stop();
    dirChange1_.SetActive(false);
    for (auto& comm : comm_) {
        comm->CloseComm();
    }
    endpoint_.Close();
    QCoreApplication::exit(0);
}

void MainController::WindowActivated() {
    HideOnTick = true;
    Timer1.start();
}

void MainController::WindowDeactivated() {
    view_.HideMainWindow();
}

void MainController::SetCommName(int slot, const std::string& name) {
    Comm(slot).SetCommName(name);
}

void MainController::CloseComm(int slot) {
    Comm(slot).CloseComm();
}

void MainController::OpenComm(int slot) {
    Comm(slot).OpenComm();
}

bool MainController::SendData(int slot, const std::string& bytes) {
    if (slot < 1 || slot > 4 || bytes.size() > 0xFFFF) {
        return false;
    }
    return Comm(slot).SendData(bytes.data(), static_cast<std::uint16_t>(bytes.size()));
}

void MainController::SetBaseCommandsEnabled(bool enabled) {
    view_.SetCommandEnabled(Command::BaseSet, enabled);
    view_.SetCommandEnabled(Command::StartDownload, enabled);
}

void MainController::StartDownload() {
    Guarded([this] { download_->startDownload(); });
}

void MainController::StopDownload() {
    Guarded([this] { download_->stopDownload(); });
}

void MainController::SetBaseOneDtr(bool enabled) {
    Comm(1).SetDtrControl(enabled ? TDtrControl::DtrEnable : TDtrControl::DtrDisable);
}

void MainController::SetDownloadCommandsEnabled(bool enabled) {
    for (Command c :
         {Command::StartDownload, Command::ParamSet, Command::BaseSet, Command::Conn2Router}) {
        view_.SetCommandEnabled(c, enabled);
    }
}

void MainController::ShowDownloadMessage(const std::string& text, menu::MessageBox box) {
    if (box == menu::MessageBox::Error) {
        view_.ShowError(text);
    } else {
        view_.ShowMessage(kWindowCaption(), text);
    }
}

void MainController::SetChannelLabel(const std::string& text) {
    handheldView_.Label8 = text;
    view_.HandheldViewChanged();
}

void MainController::RefreshHandheldPage() {
    handheldView_.SelectorChange(scan_.ChannelText);
    view_.HandheldViewChanged();
}

void MainController::RegistryLoaded(config::HandheldRegistry& registry, bool selectFirstStation) {
    handheldView_.RebuildHandheldView(registry, selectFirstStation);
    view_.HandheldViewChanged();
}

void MainController::MarkLoggedIn(const std::string& addressHex) {
    handheldView_.MarkLoggedIn(addressHex, settings_.BaseId, scan_.ChannelText);
    view_.HandheldViewChanged();
}

void MainController::ReplyReady() {
    Guarded([this] { relay_.ReplyReady(); });
}

} // namespace app
