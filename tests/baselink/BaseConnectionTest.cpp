#include "baselink/BaseConnection.h"
#include "baselink/CommsError.h"
#include "baselink/PdaReply.h"
#include "config/AppSettings.h"
#include "support/EventPump.h"
#include "support/ScriptedWaits.h"
#include "text/Gbk.h"
#include "worklog/WorkLog.h"

#include <gtest/gtest.h>

namespace {

// Ports that record what the scan does with them; a query on an open slot can be answered.
struct FakePorts : SlotPorts, BasePorts {
    std::vector<std::string> calls;
    std::array<bool, kStationCount> open{};
    std::array<std::string, kStationCount> names;
    std::array<bool, kStationCount> failOpen{};
    std::function<void(int)> onQuery;

    void SetCommName(int slot, const std::string& name) override {
        names[slot - 1] = name;
        calls.push_back("name" + std::to_string(slot) + "=" + name);
    }
    void CloseComm(int slot) override {
        open[slot - 1] = false;
        calls.push_back("close" + std::to_string(slot));
    }
    void OpenComm(int slot) override {
        calls.push_back("open" + std::to_string(slot));
        if (failOpen[slot - 1]) {
            throw ECommsError("Error opening serial port", text::Fixed("权限不够"));
        }
        open[slot - 1] = true;
    }
    bool SendData(int slot, const std::string& bytes) override {
        if (!open[slot - 1]) {
            return false;
        }
        calls.push_back("query" + std::to_string(slot));
        EXPECT_EQ(bytes, std::string("\xAA\0\0\0\0\0\0\0", 8));
        if (onQuery) {
            onQuery(slot);
        }
        return true;
    }
};

struct FakeView : ScanView {
    bool enabled = true;
    std::string label;
    int selected = 0;
    int refreshed = 0;
    void SetBaseCommandsEnabled(bool e) override { enabled = e; }
    void SetChannelLabel(const std::string& t) override { label = t; }
    std::string ChannelLabel() const override { return label; }
    int SelectedStation() const override { return selected; }
    void RefreshHandheldPage() override { ++refreshed; }
};

struct ScanFixture : ::testing::Test {
    static void SetUpTestSuite() { testsupport::EnsureCoreApplication(); }
    config::AppSettings settings;
    PortCombo combo;
    FakePorts ports;
    WorkLog log;
    FakeView view;
    testsupport::ScriptedWaits waits;
    BaseSender sender{settings.BaseId, ports, log, [](int) { return std::string(); }};
    BaseConnection scan{settings, combo, ports, sender, log, view, waits};

    void SetUp() override {
        combo.Fill({"ttyS0", "COM3", "COM1"});
        settings.PortName = {"com1", "", "", ""};
        settings.BaseId = {"02", "", "", ""};
    }
    std::string Answer(unsigned char channel) {
        return std::string("\xAA\0\0\0\0\0\0", 7) + static_cast<char>(channel);
    }
};

const std::string& NotConnected() {
    return text::Fixed("基站未连接");
}

} // namespace

TEST(PortComboTest, SortedAsTextWithAFallback) {
    PortCombo c;
    c.Fill({"COM2", "COM10", "ttyUSB0", "COM1"});
    EXPECT_EQ(c.Items, (std::vector<std::string>{"COM1", "COM10", "COM2", "ttyUSB0"}));
    EXPECT_EQ(c.ItemIndex, 0);
    c.SelectNoCase("TTYusb0");
    EXPECT_EQ(c.ItemIndex, 3);
    c.SelectNoCase("COM9");
    EXPECT_EQ(c.ItemIndex, -1);
    c.Fill({});
    EXPECT_EQ(c.Items.size(), 8u);
    EXPECT_EQ(c.Items.front(), "COM1");
    EXPECT_EQ(c.Items.back(), "COM8");
}

TEST_F(ScanFixture, AnswerSetsTheChannelText) {
    scan.HandleBaseAnswer(Answer(5), 2);
    EXPECT_EQ(scan.ChannelText[1], "06");
    EXPECT_FALSE(scan.BaseOneAnswered);
    scan.HandleBaseAnswer(Answer(0xFF), 3);
    EXPECT_EQ(scan.ChannelText[2], "256");
    scan.HandleBaseAnswer(Answer(0), 1);
    EXPECT_EQ(scan.ChannelText[0], "01");
    EXPECT_TRUE(scan.BaseOneAnswered);
    EXPECT_EQ(view.label, "01"); // station 1 selected
    view.selected = 1;
    scan.HandleBaseAnswer(Answer(9), 1);
    EXPECT_EQ(view.label, "06");
}

TEST_F(ScanFixture, ShortAnswerLeavesTheSlotNotConnected) {
    scan.ChannelText[0] = "03";
    scan.HandleBaseAnswer(Answer(1).substr(0, 7), 1);
    EXPECT_EQ(scan.ChannelText[0], NotConnected());
    EXPECT_FALSE(scan.BaseOneAnswered);
    EXPECT_EQ(view.label, "");
}

TEST_F(ScanFixture, ScanRunsUntilSlotOneAnswersThenLogsSuccess) {
    ports.onQuery = [&](int slot) {
        if (slot == 1) {
            scan.HandleBaseAnswer(Answer(3), 1);
        }
    };
    view.label = "x";
    scan.act_ScanBaseSetExecute();
    EXPECT_TRUE(scan.Scanning());
    scan.tim_ScanBaseSetTimer();
    EXPECT_EQ(log.Lines().back(), text::Fixed("搜索基站..."));
    EXPECT_FALSE(view.enabled);
    EXPECT_EQ(ports.calls, (std::vector<std::string>{"name1=com1", "close1", "open1", "query1"}));
    EXPECT_TRUE(scan.BaseOneAnswered);
    scan.tim_ScanBaseSetTimer();
    EXPECT_EQ(log.Lines().back(),
              text::Fixed("成功连接基站：") + "02" + text::Fixed(" 信道：") + "04");
    EXPECT_FALSE(scan.Scanning());
    EXPECT_TRUE(view.enabled);
    EXPECT_EQ(view.refreshed, 1);
}

TEST_F(ScanFixture, SlotOneOnAMissingPortIsNeverTouched) {
    settings.PortName[0] = "COM7";
    scan.act_ScanBaseSetExecute();
    for (int i = 0; i < 3; ++i) {
        scan.tim_ScanBaseSetTimer();
    }
    EXPECT_TRUE(ports.calls.empty());
    EXPECT_TRUE(scan.Scanning());
    EXPECT_EQ(log.LineCount(), 3u); // one "搜索基站..." per tick, nothing for the slot
    EXPECT_EQ(combo.ItemIndex, -1);
}

TEST_F(ScanFixture, OtherSlotOnAMissingPortIsClosedAndStaysClosed) {
    settings.PortName = {"", "", "COM9", ""};
    settings.BaseId = {"", "", "03", ""};
    scan.ConnectBaseStations();
    EXPECT_EQ(ports.calls, (std::vector<std::string>{"close3"}));
}

TEST_F(ScanFixture, SlotWithoutAnIdIsNeverOpened) {
    settings.PortName = {"COM1", "COM3", "", ""};
    settings.BaseId = {"02", "", "", ""};
    scan.ConnectBaseStations();
    for (const auto& c : ports.calls) {
        EXPECT_EQ(c.back(), '1') << c;
    }
}

TEST_F(ScanFixture, OpenFailuresAreLoggedAndTheScanGoesOn) {
    settings.PortName = {"COM1", "COM3", "", ""};
    settings.BaseId = {"02", "05", "", ""};
    ports.failOpen = {true, true, false, false};
    scan.ConnectBaseStations();
    ASSERT_EQ(log.LineCount(), 2u);
    EXPECT_EQ(log.Lines()[0], text::Fixed("打开串口 ") + "COM1" + text::Fixed(" 失败.信息:") +
                                  "Error opening serial port" + text::Fixed("：权限不够"));
    EXPECT_EQ(log.Lines()[1], "COM3" + text::Fixed(" 打开失败：权限不够"));
    EXPECT_EQ(scan.ChannelText[0], NotConnected());
    EXPECT_EQ(scan.ChannelText[1], NotConnected());
}

TEST_F(ScanFixture, StartingAScanWhileOneRunsOnlyClearsTheFlag) {
    scan.act_ScanBaseSetExecute();
    scan.BaseOneAnswered = true;
    scan.act_ScanBaseSetExecute();
    EXPECT_FALSE(scan.BaseOneAnswered);
    EXPECT_TRUE(scan.Scanning());
}

TEST_F(ScanFixture, EachSlotWaitsAfterClosingAndAroundItsQuery) {
    settings.PortName = {"COM1", "COM3", "", ""};
    settings.BaseId = {"02", "05", "", ""};
    ports.onQuery = [&](int) {
        ports.calls.push_back("waits:" + std::to_string(waits.waits.size()));
    };
    scan.ConnectBaseStations();
    EXPECT_EQ(waits.waits, (std::vector<unsigned>{20, 100, 200, 20, 100, 200}));
    EXPECT_EQ(ports.calls,
              (std::vector<std::string>{"name1=COM1", "close1", "open1", "query1", "waits:2",
                                        "close2", "name2=COM3", "open2", "query2", "waits:5"}));
}

TEST_F(ScanFixture, ProgramEndingInAWaitStopsTheConnectionAndTheScan) {
    settings.PortName = {"COM1", "COM3", "", ""};
    settings.BaseId = {"02", "05", "", ""};
    waits.during[1] = [&] { waits.ending = true; };
    scan.ConnectBaseStations();
    EXPECT_EQ(ports.calls, (std::vector<std::string>{"name1=COM1", "close1"}));
    EXPECT_EQ(view.refreshed, 0);
    scan.act_ScanBaseSetExecute();
    EXPECT_FALSE(scan.Scanning());
}

TEST_F(ScanFixture, APortGivenAsADevicePathIsOfferedAndOpenedWhileItsDeviceExists) {
    settings.PortName = {"/dev/null", "/dev/no-such-port", "", ""};
    settings.BaseId = {"02", "03", "", ""};
    scan.ConnectBaseStations();
    EXPECT_EQ(ports.calls,
              (std::vector<std::string>{"name1=/dev/null", "close1", "open1", "query1", "close2"}));
    EXPECT_EQ(combo.Items, (std::vector<std::string>{"/dev/null", "COM1", "COM3", "ttyS0"}));
}
