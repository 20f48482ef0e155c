// The download broadcast over a pseudo-terminal with dcrelay-basesim at the far end: a real
// TComm, the receive pipeline wired to the broadcast, and the simulator checking every packet and
// rebuilding the image.
#include "menu/DownloadBroadcast.h"

#include "app/PumpWait.h"
#include "baselink/DataProcessor.h"
#include "baselink/PdaReply.h"
#include "baselink/SerialComm.h"
#include "menu/DownloadImage.h"
#include "menu/MenuTestSupport.h"
#include "support/BaseSim.h"
#include "support/EventPump.h"
#include "worklog/WorkLog.h"

#include <QTimer>
#include <filesystem>
#include <gtest/gtest.h>

using namespace menu;
using namespace std::chrono_literals;
using testsupport::BaseSim;
using testsupport::SimLine;
namespace fs = std::filesystem;

namespace {

// The relay's side of one base station on slot 1: the port, the sender and the pipeline.
struct Link : DownloadPorts, DownloadView, BasePorts {
    explicit Link(const std::string& device)
        : sender(baseIds, *this, log, [](int) { return std::string(); }) {
        comm.SetCommName(device);
        comm.SetTag(1);
        comm.SetBaudRate(115200);
        comm.SetOutx_XonXoffFlow(false);
        comm.SetInx_XonXoffFlow(false);
        comm.SetXonChar(0);
        comm.SetXoffChar(0);
        comm.SetDtrControl(TDtrControl::DtrDisable);
        comm.OnReceiveData = [this](TComm* sender, const char* buffer, std::uint16_t length) {
            pipeline->Comm1ReceiveData(sender->Tag(), buffer, length);
        };
    }

    void Start(const std::string& menuDir, DownloadPacing pacing) {
        broadcast =
            std::make_unique<DownloadBroadcast>(*this, *this, menuDir, false, log, waits, pacing);
        PipelineHandlers handlers;
        handlers.BroadcastNotice = [this](const std::string& c) {
            broadcast->onBroadcastNotice(c);
        };
        handlers.ReadyNotice = [this](const std::string& c) { broadcast->onReadyNotice(c); };
        handlers.HandleRequest = [this](const RequestFrame& f) {
            requests.push_back(f);
            sequencesAtRequest.push_back(broadcast->SequencesRunning());
            if (onRequest) {
                onRequest();
            }
        };
        pipeline = std::make_unique<ReceivePipeline>(log, false, handlers);
        pipeline->Start();
        comm.OpenComm();
    }

    // Stops the download from the event loop, as the stop button would.
    void StopSoon() {
        QTimer::singleShot(0, [this] { broadcast->stopDownload(); });
    }

    // DownloadPorts: only slot 1 has a port here.
    void WriteToPort(int slot, const std::string& bytes) override {
        if (slot == 1) {
            comm.SendData(bytes.data(), static_cast<std::uint16_t>(bytes.size()));
        }
    }
    void SetBaseOneDtr(bool enabled) override {
        comm.SetDtrControl(enabled ? TDtrControl::DtrEnable : TDtrControl::DtrDisable);
    }
    void SendToBase(const std::string& hex, int slot) override {
        ++packets;
        sender.SendToBase(hex, slot);
    }
    // BasePorts for the sender.
    bool SendData(int slot, const std::string& bytes) override {
        return slot == 1 && comm.SendData(bytes.data(), static_cast<std::uint16_t>(bytes.size()));
    }
    // DownloadView.
    void SetCycleLabel(const std::string& text) override {
        labels.push_back(text::ToUtf8(text));
        if (onLabel) {
            onLabel(labels.back());
        }
    }
    void SetCycleProgress(int, int) override {}
    void SetDownloadCommandsEnabled(bool) override {}
    void StopHideTimer() override {}
    void ShowDownloadMessage(const std::string& text, MessageBox) override {
        messages.push_back(text::ToUtf8(text));
    }
    bool AskDownloadPrompt() override { return true; }

    WorkLog log;
    app::PumpWaits waits;
    std::array<std::string, kStationCount> baseIds{"02", "", "", ""};
    TComm comm;
    BaseSender sender;
    std::unique_ptr<ReceivePipeline> pipeline;
    std::unique_ptr<DownloadBroadcast> broadcast;
    int packets = 0;
    std::vector<std::string> labels, messages;
    std::vector<RequestFrame> requests;
    std::vector<int> sequencesAtRequest;
    std::function<void(const std::string&)> onLabel;
    std::function<void()> onRequest;
};

const std::string kCycle1 = "现在正在下载第1次，请检测PDA是否全部下载完成";
const std::string kCycle2 = "现在正在下载第2次，请检测PDA是否全部下载完成";

struct DownloadPtyTest : ::testing::Test {
    static void SetUpTestSuite() { testsupport::EnsureCoreApplication(); }
    void TearDown() override { app::SetProgramEnding(false); }

    void CopyExampleMenu() {
        for (const auto& e : fs::directory_iterator(DCRELAY_SOURCE_DIR "/examples/menu")) {
            if (e.path().extension() == ".txt") {
                fs::copy_file(e.path(), dir.path + e.path().filename().string());
            }
        }
    }
    bool StartSim(std::vector<std::string> extra = {}) {
        std::vector<std::string> args{"--stay", "--notice-delay", "20", "--image-out",
                                      dir.path + "rebuilt.bin"};
        args.insert(args.end(), extra.begin(), extra.end());
        sim = std::make_unique<BaseSim>(args);
        if (!sim->Start()) {
            ADD_FAILURE() << sim->Error();
            return false;
        }
        link = std::make_unique<Link>(sim->DevicePath());
        return true;
    }
    static DownloadPacing Quick(DownloadPacing::Ms afterPacket = 2ms) {
        DownloadPacing p;
        p.beforeCycle = 5ms;
        p.beforeCycleRandom = 0;
        p.afterBlockZero = 20ms;
        p.afterPacket = afterPacket;
        p.stopWait = 5ms;
        p.readyWait = 5ms;
        return p;
    }
    // Pumps until the sequence of cycles has ended; a guard stops it after `limit`.
    bool WaitSequenceEnd(std::chrono::milliseconds limit) {
        bool guarded = false;
        QTimer guard;
        guard.setSingleShot(true);
        QObject::connect(&guard, &QTimer::timeout, [&] {
            guarded = true;
            link->broadcast->stopDownload();
        });
        guard.start(limit);
        bool began = testsupport::PumpUntil([&] { return !link->labels.empty(); }, limit);
        testsupport::PumpUntil([&] { return link->broadcast->SequencesRunning() == 0; }, 2s);
        return began && !guarded && link->broadcast->SequencesRunning() == 0;
    }

    menutest::MenuDir dir;
    std::unique_ptr<BaseSim> sim;
    std::unique_ptr<Link> link;
};

} // namespace

TEST_F(DownloadPtyTest, OneCycleRebuildsTheImageAtTheBaseStation) {
    CopyExampleMenu();
    ASSERT_TRUE(StartSim());
    link->Start(dir.path, Quick());
    link->onLabel = [&](const std::string& label) {
        if (label == kCycle2) {
            link->StopSoon(); // in cycle 2's opening pause: cycle 2 sends nothing
        }
    };
    link->broadcast->startDownload();
    ASSERT_TRUE(link->messages.empty()) << link->messages[0];
    ASSERT_TRUE(WaitSequenceEnd(30s));

    const std::string image = dir.Read(kImageFile);
    ASSERT_EQ(image.size(), kImageSize);
    std::vector<int> sentBlocks;
    std::string expected(kImageSize, '\xFF');
    for (std::size_t k = 0; k < download::BlockCount(image.size()); ++k) {
        std::string_view block = download::Block(image, k);
        if (download::IsSent(block)) {
            sentBlocks.push_back(static_cast<int>(k));
            expected.replace(k * 64, 64, block);
        }
    }
    ASSERT_GT(sentBlocks.size(), 10u);
    ASSERT_EQ(link->packets, static_cast<int>(sentBlocks.size()));

    ASSERT_TRUE(sim->Send("cycle"));
    auto cycle = sim->WaitForEvent("cycle", 5s);
    ASSERT_TRUE(cycle);
    ASSERT_TRUE(sim->WaitForEvent("image", 5s));
    EXPECT_EQ(cycle->Int("packets"), link->packets);
    EXPECT_EQ(cycle->Int("bad"), 0);
    EXPECT_EQ(cycle->Int("duplicates"), 0);
    EXPECT_EQ(cycle->Int("count"), download::ValidBlockCount(image));
    EXPECT_TRUE(cycle->Bool("count_steady"));

    std::vector<int> blocks;
    bool startSeen = false;
    for (const SimLine& l : sim->Seen()) {
        if (l.Kind() == "start") {
            startSeen = l.Bool("ok");
        } else if (l.Kind() == "packet") {
            EXPECT_TRUE(l.Bool("ok")) << l.Text();
            EXPECT_EQ(l.Int("count"), download::ValidBlockCount(image));
            blocks.push_back(static_cast<int>(l.Int("block")));
        }
    }
    EXPECT_TRUE(startSeen);
    EXPECT_EQ(blocks, sentBlocks);
    const std::string rebuilt = dir.Read("rebuilt.bin");
    ASSERT_GE(rebuilt.size(), kImageSize);
    EXPECT_TRUE(rebuilt.compare(0, kImageSize, expected) == 0);
}

TEST_F(DownloadPtyTest, SingleByte5AIsABroadcastNotice) {
    CopyExampleMenu();
    WorkLog packLog;
    ASSERT_TRUE(prepareDownload(dir.path, packLog).ok);
    ASSERT_TRUE(StartSim({"--no-notice"}));
    link->Start(dir.path, Quick());
    link->onLabel = [&](const std::string& label) {
        if (label == kCycle1) {
            link->StopSoon();
        }
    };
    ASSERT_TRUE(sim->Send("raw 5A"));
    ASSERT_TRUE(WaitSequenceEnd(10s));
    auto sent = sim->WaitForEvent("sent", 1s);
    ASSERT_TRUE(sent);
    EXPECT_EQ(sent->Str("hex"), "5A");
    EXPECT_EQ(link->labels.front(), kCycle1);
    // Stopped in the opening pause: the cycle read the image and ended before its first block.
    EXPECT_EQ(link->log.LineCount(), 1u);
    EXPECT_EQ(link->packets, 0);
}

TEST_F(DownloadPtyTest, RequestsAreHandedOverDuringABroadcast) {
    CopyExampleMenu();
    ASSERT_TRUE(StartSim());
    link->Start(dir.path, Quick(20ms));
    link->onLabel = [&](const std::string& label) {
        if (label == kCycle1) {
            sim->Send("req 5 DL hello");
        }
    };
    link->onRequest = [&] { link->StopSoon(); };
    link->broadcast->startDownload();
    ASSERT_TRUE(WaitSequenceEnd(20s));
    ASSERT_EQ(link->requests.size(), 1u);
    EXPECT_EQ(link->requests[0].Handheld, 5);
    EXPECT_EQ(link->requests[0].Operation, 0);
    EXPECT_EQ(link->requests[0].Data, "hello");
    EXPECT_EQ(link->sequencesAtRequest[0], 1);
    EXPECT_GT(link->packets, 0);
}
