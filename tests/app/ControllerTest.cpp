// The main controller in this process, its ports on real pseudo-terminals with the base-station
// simulator at the far end: scan, answers and request handling as the operator sees them.
#include "app/MainController.h"
#include "app/PumpWait.h"
#include "baselink/BaseFrame.h"
#include "baselink/xyTypeConv.h"
#include "hostlink/HostSocket.h"
#include "hostlink/HostStream.h"
#include "support/BaseSim.h"
#include "support/EventPump.h"
#include "support/Instance.h"
#include "support/RecordingView.h"
#include "text/Files.h"
#include "text/Gbk.h"

#include <QTimer>
#include <filesystem>
#include <fstream>
#include <unistd.h>

#include <gtest/gtest.h>

using namespace std::chrono_literals;
using testsupport::BaseSim;
using testsupport::Instance;
using testsupport::InstanceSettings;
using testsupport::SimLine;
using C = app::Command;
using Changes = std::vector<std::pair<C, bool>>;

namespace {

const std::string kConnected = "成功连接基站：02 信道：01";

// The commands that the scan changes, and those that a download changes.
Changes Two(bool on) {
    return {{C::BaseSet, on}, {C::StartDownload, on}};
}
Changes Four(bool on) {
    return {{C::StartDownload, on}, {C::ParamSet, on}, {C::BaseSet, on}, {C::Conn2Router, on}};
}

struct ControllerTest : ::testing::Test {
    static void SetUpTestSuite() { testsupport::EnsureCoreApplication(); }
    void TearDown() override { app::SetProgramEnding(false); }

    std::unique_ptr<Instance> inst;
    std::vector<std::unique_ptr<BaseSim>> sims;
    testsupport::RecordingView view;
    std::unique_ptr<app::MainController> controller;

    BaseSim& Sim(const std::string& port, std::vector<std::string> extra = {}) {
        std::vector<std::string> args{"--link", inst->Port(port), "--stay"};
        args.insert(args.end(), extra.begin(), extra.end());
        sims.push_back(std::make_unique<BaseSim>(args));
        EXPECT_TRUE(sims.back()->Start()) << sims.back()->Error();
        return *sims.back();
    }
    // The clock of the port recovery runs this much ahead of the real one.
    PortRecovery::Clock::duration portClockAhead{};

    void Start(const InstanceSettings& s = {}, menu::DownloadPacing pacing = {}) {
        if (!inst) {
            inst = std::make_unique<Instance>(s);
        }
        controller = std::make_unique<app::MainController>(
            inst->Dir(), app::Markers{}, view, inst->RuntimeDir(), "", pacing,
            [this] { return PortRecovery::Clock::now() + portClockAhead; });
        ASSERT_TRUE(controller->Create());
    }
    bool LogHas(const std::string& utf8) { return LogCount(utf8) > 0; }
    int LogCount(const std::string& utf8) {
        int count = 0;
        for (const auto& l : controller->Log().Lines()) {
            count += text::ToUtf8(l) == utf8;
        }
        return count;
    }
    bool WaitLog(const std::string& utf8, std::chrono::milliseconds t = 5s) {
        return testsupport::PumpUntil([&] { return LogHas(utf8); }, t);
    }
    // Waits for a reply frame at the simulator while the controller's events run.
    std::optional<SimLine> WaitReply(BaseSim& sim, std::chrono::milliseconds t = 5s) {
        std::optional<SimLine> line;
        testsupport::PumpUntil(
            [&] {
                if (!line) {
                    line = sim.WaitFor([](const SimLine& l) { return l.Kind() == "reply"; }, 1ms);
                }
                return line.has_value();
            },
            t);
        return line;
    }
};

} // namespace

TEST_F(ControllerTest, ScanConnectsSlotOneAndLogsTheChannel) {
    inst = std::make_unique<Instance>();
    Sim("COM1", {"--channel", "7"});
    Start();
    ASSERT_TRUE(WaitLog("成功连接基站：02 信道：07"));
    EXPECT_FALSE(controller->Scan().Scanning());
    EXPECT_EQ(controller->Scan().ChannelText[0], "07");
    // "基站设置" and "开始下载" are disabled while the scan searches, and nothing else is touched.
    const Changes& c = view.commandChanges;
    ASSERT_GE(c.size(), 4u);
    EXPECT_EQ(Changes(c.begin(), c.begin() + 2), Two(false));
    EXPECT_EQ(Changes(c.end() - 2, c.end()), Two(true));
    EXPECT_EQ(view.enabledCommands.size(), 2u);
}

TEST_F(ControllerTest, ChannelIndexFFShowsAs256AndShortAnswersLeaveNotConnected) {
    InstanceSettings s;
    s.ports = {"COM1", "COM2", "", ""};
    s.ids = {"02", "03", "", ""};
    inst = std::make_unique<Instance>(s);
    Sim("COM1", {"--short-answer"});
    Sim("COM2", {"--channel", "256"});
    Start(s);
    ASSERT_TRUE(
        testsupport::PumpUntil([&] { return controller->Scan().ChannelText[1] == "256"; }, 5s));
    testsupport::PumpFor(700ms);
    EXPECT_EQ(text::ToUtf8(controller->Scan().ChannelText[0]), "基站未连接");
    EXPECT_TRUE(controller->Scan().Scanning());
}

TEST_F(ControllerTest, SlotOneOnAMissingPortIsNeverTouchedAndTheScanNeverEnds) {
    InstanceSettings s;
    s.ports = {"COM5", "", "", ""};
    inst = std::make_unique<Instance>(s);
    Start(s);
    testsupport::PumpFor(1200ms);
    EXPECT_TRUE(controller->Scan().Scanning());
    ASSERT_GE(view.commandChanges.size(), 2u);
    EXPECT_EQ(Changes(view.commandChanges.end() - 2, view.commandChanges.end()), Two(false));
    EXPECT_FALSE(controller->Comm(1).SendData("x", 1)) << "slot 1 was never opened";
    EXPECT_EQ(controller->Comm(1).CommName(), "COM1") << "nor renamed";
    int searching = 0;
    for (const auto& l : controller->Log().Lines()) {
        searching += text::ToUtf8(l) == "搜索基站...";
        EXPECT_EQ(text::ToUtf8(l).find("COM5"), std::string::npos);
    }
    EXPECT_GE(searching, 3);
}

TEST_F(ControllerTest, UnknownOperationsAndUnregisteredHandheldsGetTheirReplies) {
    inst = std::make_unique<Instance>();
    BaseSim& sim = Sim("COM1");
    Start();
    ASSERT_TRUE(WaitLog("成功连接基站：02 信道：01"));

    sim.Send("req 5 0x4B x");
    auto r = WaitReply(sim);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->Str("text"), "数据包错误，请重发");
    EXPECT_EQ(r->Str("status"), "NO");
    EXPECT_EQ(r->Str("time"), "FFFFFFFFFFFF");
    EXPECT_EQ(r->Str("opbyte"), "4B");
    EXPECT_TRUE(LogHas("操作类型[-1]不正确"));

    sim.Send("req 5 0x71 x");
    r = WaitReply(sim);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->Str("text"), "数据包错误，请重发");

    sim.Send("req 9 DL t=291615000000 CNS0090008000 999     ");
    r = WaitReply(sim);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->Str("text"), "编号为：009的手持机未在02号基站注册，请重新注册。");
    EXPECT_EQ(r->Str("status"), "NO");
    EXPECT_EQ(r->Str("time"), "291615000000");
    EXPECT_TRUE(r->Bool("ok"));
    EXPECT_TRUE(LogHas("009 的手持机未在 02 号基站注册，请重新注册。"));

    // Operation 36 is accepted: it reaches the host's request file.
    sim.Send("req 5 0x70 x");
    ASSERT_TRUE(
        testsupport::PumpUntil([&] { return text::FileExists(inst->Exchange() + "T1.txt"); }, 5s));
}

TEST_F(ControllerTest, TestModeAnswersARegisteredHandheldAtOnce) {
    InstanceSettings s;
    s.testMode = true;
    inst = std::make_unique<Instance>(s);
    BaseSim& sim = Sim("COM1");
    Start(s);
    ASSERT_TRUE(WaitLog("成功连接基站：02 信道：01"));
    sim.Send("req 5 KT 01");
    auto r = WaitReply(sim);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->Str("text"), "005PDA 数据通信测试");
    EXPECT_EQ(r->Str("status"), "NO");
    EXPECT_FALSE(text::FileExists(inst->Exchange() + "T1.txt"));
}

TEST_F(ControllerTest, LogInMarksTheHandheld) {
    inst = std::make_unique<Instance>();
    BaseSim& sim = Sim("COM1");
    Start();
    ASSERT_TRUE(WaitLog("成功连接基站：02 信道：01"));
    ASSERT_FALSE(controller->HandheldPage().TreeView1.empty());
    sim.Send("req 5 DL CNS0090008000 999     ");
    ASSERT_TRUE(testsupport::PumpUntil(
        [&] { return controller->HandheldPage().TreeView1[0].Children[0].State == 2; }, 5s));
    EXPECT_EQ(controller->HandheldPage().TreeView1[0].Children[1].State, 1);

    // The log-in shows in the handheld's detail and records; no work-log file unless switched on.
    EXPECT_TRUE(text::ToUtf8(controller->TreeNodeDetail(0, 0)).starts_with("请求 1 次"));
    EXPECT_EQ(controller->ListItemDetail(0), controller->TreeNodeDetail(0, 0));
    EXPECT_EQ(text::ToUtf8(controller->ListItemDetail(1)), "启动以来没有请求");
    controller->SelectListItem(0);
    controller->ShowOperationRecords();
    ASSERT_EQ(view.operationRecordViews.size(), 1u);
    EXPECT_EQ(view.operationRecordViews[0].at(0).Type, "DL");
    EXPECT_FALSE(text::DirectoryExists(inst->Dir() + "logs"));
}

TEST_F(ControllerTest, TheWorkLogFileTakesEveryLineWhenSwitchedOn) {
    inst = std::make_unique<Instance>();
    std::ofstream(inst->Dir() + "dcfilepath.ini", std::ios::app) << "[Support]\r\nlogfile=1\r\n";
    Sim("COM1");
    Start();
    ASSERT_TRUE(WaitLog(kConnected));
    controller.reset(); // the file's writer ends after writing what it holds
    const auto files = std::filesystem::directory_iterator(inst->Dir() + "logs");
    const auto day = std::filesystem::begin(files);
    ASSERT_NE(day, std::filesystem::end(files));
    const std::string written = text::ReadFile(day->path().string()).value_or("");
    EXPECT_NE(written.find(text::ToGbk(kConnected) + "\n"), std::string::npos);
}

TEST_F(ControllerTest, MissingPyTxtStopsTheCreationAndRequestsAClose) {
    inst = std::make_unique<Instance>();
    std::filesystem::remove(inst->Dir() + "txt/py.txt");
    controller = std::make_unique<app::MainController>(inst->Dir(), app::Markers{}, view,
                                                       inst->RuntimeDir(), "");
    EXPECT_FALSE(controller->Create());
    ASSERT_EQ(view.messages.size(), 1u);
    EXPECT_EQ(text::ToUtf8(view.messages[0]), "无线点菜机管理: 不存在\"py.txt\",系统不能运行");
    EXPECT_FALSE(controller->Scan().Scanning());
    // No host known: the close request that follows ends the program.
    testsupport::PumpUntil([] { return app::ProgramEnding(); }, 2s);
    EXPECT_TRUE(app::ProgramEnding());
}

TEST_F(ControllerTest, CloseRequestOnlyHidesWhileTheHostWindowExists) {
    inst = std::make_unique<Instance>();
    BaseSim& sim = Sim("COM1");
    hostlink::HostSocket hostWindow;
    ASSERT_EQ(hostWindow.Open(inst->RuntimeDir(), 777), "");
    Start();
    controller->StartForHost("777");
    ASSERT_TRUE(hostWindow.Receive().has_value()) << "the start-up announcement";
    view.ShowMainWindow();
    controller->CloseRequest();
    EXPECT_FALSE(app::ProgramEnding());
    EXPECT_FALSE(view.visible);
    EXPECT_FALSE(controller->Host().HostGone());

    // The host vanishes without a closing message: the relay keeps answering handhelds.
    hostWindow.Close();
    ASSERT_TRUE(WaitLog("成功连接基站：02 信道：01"));
    sim.Send("req 9 KT 01");
    EXPECT_TRUE(WaitReply(sim));
    EXPECT_FALSE(app::ProgramEnding());

    // Now a close request ends the program.
    controller->CloseRequest();
    EXPECT_TRUE(controller->Host().HostGone());
    EXPECT_TRUE(app::ProgramEnding());
}

TEST_F(ControllerTest, CloseRequestWaitsUpTo200MsForTheHostWindowToGo) {
    inst = std::make_unique<Instance>();
    hostlink::HostSocket hostWindow;
    ASSERT_EQ(hostWindow.Open(inst->RuntimeDir(), 778), "");
    Start();
    controller->StartForHost("778");
    // The host closes its window 100 ms into the close request (a host that is shutting down).
    QTimer::singleShot(100ms, [&hostWindow] { hostWindow.Close(); });
    controller->CloseRequest();
    EXPECT_TRUE(app::ProgramEnding());
}

// A stream host exists while its connection is open; its end, with no closing message, is the
// host gone for the next close request.
TEST_F(ControllerTest, AStreamHostsEndIsTheHostGoneForTheCloseRules) {
    inst = std::make_unique<Instance>();
    hostlink::StreamWindow window;
    ASSERT_EQ(window.Open(inst->RuntimeDir(), 778), "");
    Start();
    controller->StartForHost("778");
    hostlink::HostStream host;
    ASSERT_TRUE(window.Accept(host)) << "connected with the start-up announcement";
    controller->CloseRequest();
    EXPECT_FALSE(app::ProgramEnding());
    EXPECT_FALSE(controller->Host().HostGone());

    host.Close();
    EXPECT_TRUE(WaitLog("主程序消息端点[" + inst->RuntimeDir() + "/win-778]的连接已断开"));
    controller->CloseRequest();
    EXPECT_TRUE(controller->Host().HostGone());
    EXPECT_TRUE(app::ProgramEnding());
}

TEST_F(ControllerTest, FileMonitoringWatchesTheExchangeDirectory) {
    InstanceSettings s;
    s.fileMode = true;
    inst = std::make_unique<Instance>(s);
    Start(s);
    EXPECT_TRUE(controller->DirChange1().Active());
    EXPECT_EQ(controller->DirChange1().Directory(), inst->Exchange());
    EXPECT_FALSE(controller->DirChange1().SubDirs());
    // Switching monitoring off in the file does not stop the watcher.
    s.fileMode = false;
    inst->WriteSettings(s);
    controller->ParameterSettings();
    EXPECT_TRUE(controller->DirChange1().Active());
}

TEST_F(ControllerTest, WithoutFileMonitoringTheWatcherStaysOff) {
    Start();
    EXPECT_FALSE(controller->DirChange1().Active());
    EXPECT_EQ(controller->DirChange1().Directory(), "D:\\RF\\");
}

// A download disables the three command-bar buttons and "开始下载"; the stop enables them again
// once its wait has passed ("停止下载" is never among the commands that change).
TEST_F(ControllerTest, DownloadDisablesFourCommandsUntilTheStopsWaitHasPassed) {
    InstanceSettings s;
    s.ports = {"", "", "", ""};
    menu::DownloadPacing pacing;
    pacing.stopWait = 300ms;
    Start(s, pacing);
    view.commandChanges.clear();
    controller->StartDownload();
    ASSERT_TRUE(view.messages.empty()) << text::ToUtf8(view.messages[0]);
    EXPECT_EQ(view.commandChanges, Four(false));

    Changes duringStop;
    QTimer::singleShot(100ms, [&] { duringStop = view.commandChanges; });
    controller->StopDownload();
    for (const auto& [command, enabled] : duringStop) {
        EXPECT_FALSE(enabled) << "enabled before the stop's wait had passed";
    }
    EXPECT_EQ(Changes(view.commandChanges.end() - 4, view.commandChanges.end()), Four(true));
}

// "退出" saves nothing, yet both files are read again, the handheld view rebuilt and the scan
// started.
// The download page's account of a cycle: an image whose blocks 0 and 2 are sent (of 12288)
// under the production pacing.
TEST(CycleSchedule, CountsPacketsAndThePausesStillToCome) {
    std::string image(786432, '\xFF');
    image[0] = 1;          // block 0: sent, 2 s and 90 ms after it
    image[2 * 64] = 1;     // block 2: sent, 90 ms after it
    image[5 * 64 + 2] = 1; // block 5: counted, not sent
    const app::CycleSchedule schedule(image, {});
    auto at = [&](int p) {
        const auto a = schedule.Position(p);
        return std::to_string(a.sent) + "/" + std::to_string(a.toSend) + " " +
               std::to_string(a.left.count());
    };
    EXPECT_EQ(at(0), "0/2 2180");
    EXPECT_EQ(at(1), "1/2 2180") << "the pause after block 0 runs";
    EXPECT_EQ(at(2), "1/2 90");
    EXPECT_EQ(at(3), "2/2 90");
    EXPECT_EQ(at(4), "2/2 0");
    EXPECT_EQ(at(12288), "2/2 0");
    EXPECT_EQ(text::ToUtf8(app::CycleProgressText(schedule.Position(1))),
              "已发送数据包 1 / 2，本次循环剩余约 3 秒");
    EXPECT_EQ(text::ToUtf8(app::CycleProgressText({5, 9, std::chrono::milliseconds(61000)})),
              "已发送数据包 5 / 9，本次循环剩余约 1 分 1 秒");
}

TEST_F(ControllerTest, ParameterSequenceReloadsRebuildsAndScansAfterTheDialog) {
    inst = std::make_unique<Instance>();
    Sim("COM1");
    Start();
    ASSERT_TRUE(WaitLog(kConnected));
    InstanceSettings changed;
    changed.ids = {"03", "", "", ""};
    changed.registered = {"009"};
    view.onParameterDialog = [&] {
        EXPECT_EQ(controller->Settings().BaseId[0], "02") << "reloaded before the dialog closed";
        inst->WriteSettings(changed); // the files change while the dialog is open
    };
    const int redraws = view.handheldViewChanges;
    controller->ParameterSettings();
    EXPECT_EQ(view.parameterDialogs, std::vector<std::string>{inst->Dir()});
    EXPECT_EQ(controller->Settings().BaseId[0], "03");
    ASSERT_EQ(controller->HandheldPage().TreeView1[0].Children.size(), 1u);
    EXPECT_EQ(controller->HandheldPage().TreeView1[0].Children[0].Caption, "009");
    EXPECT_GT(view.handheldViewChanges, redraws);
    EXPECT_TRUE(controller->Scan().Scanning());
    EXPECT_FALSE(controller->Scan().BaseOneAnswered);
}

// The dialog gets every section name and works on the live ports, waits and channel texts;
// afterwards nothing is reloaded and no scan starts.
TEST_F(ControllerTest, BaseStationSequenceOffersEverySectionAndReloadsNothing) {
    inst = std::make_unique<Instance>();
    std::string registry;
    for (int n = 1; n <= 5; ++n) {
        registry += "[" + text::ToGbk("基站") + std::to_string(n) + "]\r\nPDA1=005\r\n";
    }
    text::WriteFileAtomic(inst->Dir() + "基站.ini", registry);
    Sim("COM1", {"--channel", "9"});
    Start();
    // A fifth section leaves the selector without a choice, so the label shows no channel.
    ASSERT_TRUE(WaitLog("成功连接基站：02 信道："));
    InstanceSettings changed;
    changed.ids = {"03", "", "", ""};
    view.onBaseStationDialog = [&](const app::BaseStationAccess& a) {
        inst->WriteSettings(changed);
        EXPECT_EQ(a.baseIds[0], "02");
        a.channelText[0] = "";
        a.ports.SendData(1, HexCodec::HexToText(BaseFrame::kQueryFrame));
        for (int i = 0; i < 50 && a.channelText[0].empty(); ++i) {
            a.waits.Wait(0, 20); // the answer is handled inside the wait
        }
        EXPECT_EQ(a.channelText[0], "09");
    };
    controller->BaseStationSettings();
    ASSERT_EQ(view.baseStationDialogs.size(), 1u);
    EXPECT_EQ(view.baseStationDialogs[0].size(), 5u);
    EXPECT_EQ(view.baseStationDialogs[0][4], text::ToGbk("基站5"));
    EXPECT_EQ(controller->Settings().BaseId[0], "02");
    EXPECT_FALSE(controller->Scan().Scanning());
}

TEST_F(ControllerTest, OperationRecordsOpenOnlyForASelectedHandheld) {
    Start();
    controller->ShowOperationRecords();
    EXPECT_TRUE(view.operationRecordViews.empty());
    controller->SelectTreeNode(0, 1); // 108 under 基站1
    EXPECT_EQ(controller->HandheldPage().ListView1Index, 1);
    controller->ShowOperationRecords();
    ASSERT_EQ(view.operationRecordViews.size(), 1u);
    EXPECT_TRUE(view.operationRecordViews[0].empty()); // no request yet
    controller->SelectListItem(-1);
    controller->ShowOperationRecords();
    EXPECT_EQ(view.operationRecordViews.size(), 1u) << "nothing selected: nothing opens";
}

// Base station 1's pseudo-terminal closes while the host answers two queued requests, and the
// station stays away longer than its answers are kept (the recovery's clock is moved on): each
// answer is dropped with a line naming it, none is logged as sent, none reaches the station
// when it is back.
TEST_F(ControllerTest, AnswersForAStationOutLongerThanThirtySecondsAreDroppedAndSaidSo) {
    inst = std::make_unique<Instance>();
    Sim("COM1");
    hostlink::HostSocket host;
    ASSERT_EQ(host.Open(inst->RuntimeDir(), 777), "");
    Start();
    controller->StartForHost("777");
    ASSERT_TRUE(WaitLog(kConnected));
    sims[0]->Send("req 5 KT 01");
    sims[0]->Send("req 108 KT 02");
    bool notified = false;
    ASSERT_TRUE(testsupport::PumpUntil(
        [&] {
            for (auto m = host.Receive(); m && !notified; m = host.Receive()) {
                notified = m->second == hostlink::kNotifySecond;
            }
            return notified;
        },
        5s));
    sims[0]->Send("quit");
    ASSERT_EQ(sims[0]->WaitExit(5s), 0);
    ASSERT_TRUE(WaitLog("基站1 的串口 COM1 已断开，设备恢复后自动重新打开"));
    for (const std::string handheld : {"005", "108"}) {
        text::WriteFileAtomic(inst->Exchange() + "R1.TXT", "KT   " + handheld + "\r\nx\r\n");
        ASSERT_TRUE(host.Post(static_cast<unsigned>(::getpid()), {1, 1}));
        ASSERT_TRUE(WaitLog("基站1 的串口 COM1 已断开，向PDA " +
                            std::to_string(std::stoi(handheld)) +
                            " 的回复 KT 暂存，串口恢复后发送"));
    }
    EXPECT_EQ(controller->HeldReplies(1), 2u);

    portClockAhead = PortRecovery::kReplyHold;
    for (const char* handheld : {"5", "108"}) {
        EXPECT_TRUE(WaitLog(std::string("基站1 的串口 COM1 断开已超过 30 秒，向PDA ") + handheld +
                            " 的回复 KT 未发送，已丢弃"));
    }
    EXPECT_EQ(controller->HeldReplies(1), 0u);
    BaseSim& back = Sim("COM1");
    ASSERT_TRUE(WaitLog("基站1 的串口 COM1 已重新打开"));
    EXPECT_FALSE(WaitReply(back, 500ms));
    EXPECT_EQ(LogCount("由 基站1 发送"), 0);
}

// Base station 1 stays silent, so the scan goes on closing and opening every port, and station
// 2's device is away for a while. A reply for station 2 meanwhile waits, and reaches it once the
// scan has opened its port again.
TEST_F(ControllerTest, AReplyWaitsForAPortTheScanOpensAgain) {
    InstanceSettings s;
    s.ports = {"COM1", "COM2", "", ""};
    s.ids = {"02", "03", "", ""};
    inst = std::make_unique<Instance>(s);
    BaseSim& one = Sim("COM1", {"--no-answer"});
    BaseSim& two = Sim("COM2", {"--id", "03"});
    Start(s);
    ASSERT_TRUE(
        testsupport::PumpUntil([&] { return controller->Scan().ChannelText[1] == "01"; }, 5s));
    const std::string link = inst->Port("COM2");
    std::filesystem::rename(link, link + ".away");
    const int rounds = LogCount("搜索基站...");
    ASSERT_TRUE(testsupport::PumpUntil([&] { return LogCount("搜索基站...") >= rounds + 2; }, 5s));
    ASSERT_FALSE(controller->Comm(2).Opened());

    one.Send("req 99 KT st=03 x");
    ASSERT_TRUE(WaitLog("基站2 的串口 COM2 正在重新打开，向PDA 99 的回复 KT 暂存，串口打开后发送"));
    std::filesystem::rename(link + ".away", link);
    const std::optional<SimLine> reply = WaitReply(two);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->Int("handheld"), 99);
    EXPECT_TRUE(WaitLog("基站2 补发了向PDA 99 的回复 KT"));
    EXPECT_EQ(LogCount("基站2 的串口未打开，向PDA 99 的回复 KT 未发送"), 0);
}
