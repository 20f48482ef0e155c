// Recovery of a hung-up base-station port, on a clock the test moves.
#include "baselink/PortRecovery.h"
#include "support/EventPump.h"
#include "text/Gbk.h"

#include <algorithm>
#include <gtest/gtest.h>

using namespace std::chrono_literals;

namespace {

struct PortRecoveryTest : ::testing::Test, PortReopener {
    static void SetUpTestSuite() { testsupport::EnsureCoreApplication(); }

    bool mayReopen = true;
    std::array<bool, 5> devicePresent{};
    std::array<bool, 5> hangUpUnnoticed{}; // the port hung up, its notice still on its way
    std::array<bool, 5> closedByScan{};
    std::array<bool, 5> portOpen{};
    std::vector<int> tries;
    std::vector<std::string> lines;
    std::vector<std::pair<int, std::string>> sentKept; // slot, handheld
    PortRecovery::Clock::time_point now{1h};
    PortRecovery recovery{*this, [this] { return now; }};

    bool MayReopen() const override { return mayReopen; }
    bool ReopenSlot(int slot) override {
        tries.push_back(slot);
        return devicePresent[static_cast<std::size_t>(slot)];
    }
    std::optional<std::string> HungUpPort(int slot) const override {
        return hangUpUnnoticed[static_cast<std::size_t>(slot)] ? std::optional<std::string>("COM9")
                                                               : std::nullopt;
    }
    std::optional<std::string> ClosedByScan(int slot) const override {
        return closedByScan[static_cast<std::size_t>(slot)]
                   ? std::optional("COM" + std::to_string(slot))
                   : std::nullopt;
    }
    bool PortOpen(int slot) const override { return portOpen[static_cast<std::size_t>(slot)]; }
    void SendKept(int slot, std::deque<StationReply> replies) override {
        for (const auto& r : replies) {
            sentKept.emplace_back(slot, r.Handheld);
        }
    }
    void Log(const std::string& line) override { lines.push_back(text::ToUtf8(line)); }
    bool Keep(int slot, const std::string& handheld) {
        return recovery.Keep(slot, {"AA32", handheld, "KT"});
    }

    // Moves the clock and runs one round; the slots tried in it.
    std::vector<int> TickAt(std::chrono::milliseconds later) {
        now += later;
        tries.clear();
        recovery.Tick();
        return tries;
    }
};

} // namespace

TEST_F(PortRecoveryTest, OneLineThenATryEveryHalfSecondOutsideTheScanUntilTheDeviceIsBack) {
    recovery.HungUp(2, "/dev/ttyUSB0");
    recovery.HungUp(2, "/dev/ttyUSB0"); // the writer's report of the same loss
    EXPECT_EQ(lines,
              std::vector<std::string>{"基站2 的串口 /dev/ttyUSB0 已断开，设备恢复后自动重新打开"});
    EXPECT_EQ(TickAt(0ms), std::vector<int>{2}) << "the first try releases the dead device";
    EXPECT_TRUE(TickAt(499ms).empty());
    mayReopen = false; // the scan runs
    EXPECT_TRUE(TickAt(5s).empty());
    mayReopen = true;
    EXPECT_EQ(TickAt(0ms), std::vector<int>{2});
    devicePresent[2] = true;
    EXPECT_EQ(TickAt(500ms), std::vector<int>{2});
    EXPECT_FALSE(recovery.Lost(2));
    EXPECT_EQ(lines.back(), "基站2 的串口 /dev/ttyUSB0 已重新打开");
    EXPECT_TRUE(TickAt(500ms).empty());
}

TEST_F(PortRecoveryTest, APortThatKeepsHangingUpIsRetriedLessOften) {
    devicePresent[3] = true;
    recovery.HungUp(3, "COM3");
    ASSERT_EQ(TickAt(0ms), std::vector<int>{3});
    // Hang-ups soon after each reopening: 0.5 s, then 1 s, then 2 s before the next try.
    for (auto wait : {500ms, 1000ms, 2000ms}) {
        now += 1s;
        recovery.HungUp(3, "COM3");
        EXPECT_TRUE(TickAt(wait - 1ms).empty()) << wait.count();
        EXPECT_EQ(TickAt(1ms), std::vector<int>{3}) << wait.count();
    }
    // A port that stayed up for a while is tried at once again.
    now += PortRecovery::kSettleTime;
    recovery.HungUp(3, "COM3");
    EXPECT_EQ(TickAt(0ms), std::vector<int>{3});
}

// Replies for a lost port are kept in order and handed over when it is back; those still kept
// 30 s after the hang-up, and those that come later, are dropped with a line naming each.
TEST_F(PortRecoveryTest, RepliesForALostPortAreKeptForThirtySecondsAfterTheHangUp) {
    EXPECT_FALSE(Keep(1, "5")) << "a port that is not out takes its replies";
    recovery.HungUp(1, "COM1");
    now += 10s;
    EXPECT_TRUE(Keep(1, "5"));
    EXPECT_TRUE(Keep(1, "108"));
    EXPECT_FALSE(Keep(2, "7")) << "the other stations are not touched";
    EXPECT_EQ(recovery.HeldReplies(1), 2u);
    EXPECT_EQ(lines.back(), "基站1 的串口 COM1 已断开，向PDA 108 的回复 KT 暂存，串口恢复后发送");
    TickAt(19999ms);
    EXPECT_EQ(recovery.HeldReplies(1), 2u);
    TickAt(1ms); // 30 s after the hang-up
    EXPECT_EQ(recovery.HeldReplies(1), 0u);
    const std::string dropped =
        "基站1 的串口 COM1 断开已超过 30 秒，向PDA 5 的回复 KT 未发送，已丢弃";
    EXPECT_EQ(std::count(lines.begin(), lines.end(), dropped), 1);
    devicePresent[1] = true;
    TickAt(10s);
    EXPECT_FALSE(recovery.Lost(1));
    EXPECT_TRUE(sentKept.empty()) << "the dropped replies are not sent when the port is back";

    // Again, back in time: both are handed over in order when the port is back.
    now += PortRecovery::kSettleTime;
    devicePresent[1] = false;
    recovery.HungUp(1, "COM1");
    EXPECT_TRUE(Keep(1, "5"));
    EXPECT_TRUE(Keep(1, "108"));
    TickAt(29s);
    EXPECT_TRUE(sentKept.empty());
    devicePresent[1] = true;
    TickAt(500ms);
    EXPECT_EQ(sentKept, (std::vector<std::pair<int, std::string>>{{1, "5"}, {1, "108"}}));
    EXPECT_EQ(recovery.HeldReplies(1), 0u);
    EXPECT_FALSE(Keep(1, "5"));

    // Out for longer than 30 s: a reply that comes now is dropped at once.
    now += PortRecovery::kSettleTime;
    devicePresent[1] = false;
    recovery.HungUp(1, "COM1");
    TickAt(31s);
    lines.clear();
    EXPECT_TRUE(Keep(1, "108"));
    EXPECT_EQ(recovery.HeldReplies(1), 0u);
    EXPECT_EQ(lines,
              std::vector<std::string>{"基站1 的串口 COM1 断开已超过 30 秒，向PDA 108 的回复 KT "
                                       "未发送，已丢弃"});
}

// A port that hung up a moment ago, before its notice arrives, keeps the reply too; the notice
// that follows adds no line.
TEST_F(PortRecoveryTest, AHangUpNotYetNoticedKeepsTheReply) {
    hangUpUnnoticed[3] = true;
    EXPECT_TRUE(Keep(3, "5"));
    EXPECT_TRUE(recovery.Lost(3));
    recovery.HungUp(3, "COM9");
    EXPECT_EQ(lines, (std::vector<std::string>{
                         "基站3 的串口 COM9 已断开，设备恢复后自动重新打开",
                         "基站3 的串口 COM9 已断开，向PDA 5 的回复 KT 暂存，串口恢复后发送"}));
}

// Replies for a port that the scan has closed wait until the scan has opened it again, also
// those that come after it is open but before the kept ones are out; a port the scan leaves
// closed gets each of its replies logged as not sent. At the program's end every reply still
// kept is dropped with a line.
TEST_F(PortRecoveryTest, RepliesWaitForAPortTheScanClosedAndAreSaidAtTheEnd) {
    closedByScan[2] = true;
    EXPECT_TRUE(Keep(2, "5"));
    EXPECT_EQ(lines.back(),
              "基站2 的串口 COM2 正在重新打开，向PDA 5 的回复 KT 暂存，串口打开后发送");
    TickAt(100ms);
    EXPECT_TRUE(sentKept.empty());
    closedByScan[2] = false;
    portOpen[2] = true;
    EXPECT_TRUE(Keep(2, "108")) << "behind the one kept";
    TickAt(100ms);
    EXPECT_EQ(sentKept, (std::vector<std::pair<int, std::string>>{{2, "5"}, {2, "108"}}));
    EXPECT_FALSE(Keep(2, "7"));

    closedByScan[3] = true;
    EXPECT_TRUE(Keep(3, "9"));
    closedByScan[3] = false; // the scan ended with the port still closed
    TickAt(100ms);
    EXPECT_EQ(lines.back(), "基站3 的串口未打开，向PDA 9 的回复 KT 未发送");
    EXPECT_EQ(recovery.HeldReplies(3), 0u);
    EXPECT_FALSE(Keep(3, "9"));

    closedByScan[4] = true;
    EXPECT_TRUE(Keep(4, "12"));
    recovery.HungUp(1, "COM1");
    EXPECT_TRUE(Keep(1, "5"));
    lines.clear();
    recovery.GiveUp();
    EXPECT_EQ(lines, (std::vector<std::string>{
                         "基站1 的串口 COM1 未恢复，程序结束，向PDA 5 的回复 KT 未发送，已丢弃",
                         "基站4 的串口 COM4 未恢复，程序结束，向PDA 12 的回复 KT 未发送，已丢弃"}));
    EXPECT_EQ(recovery.HeldReplies(4), 0u);
}
