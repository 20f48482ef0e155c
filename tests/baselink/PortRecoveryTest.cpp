// Recovery of a hung-up base-station port, on a clock the test moves.
#include "baselink/PortRecovery.h"
#include "support/EventPump.h"
#include "text/Gbk.h"

#include <gtest/gtest.h>

using namespace std::chrono_literals;

namespace {

struct PortRecoveryTest : ::testing::Test, PortReopener {
    static void SetUpTestSuite() { testsupport::EnsureCoreApplication(); }

    bool mayReopen = true;
    std::array<bool, 5> devicePresent{};
    std::vector<int> tries;
    std::vector<std::string> lines;
    PortRecovery::Clock::time_point now{1h};
    PortRecovery recovery{*this, [this] { return now; }};

    bool MayReopen() const override { return mayReopen; }
    bool ReopenSlot(int slot) override {
        tries.push_back(slot);
        return devicePresent[static_cast<std::size_t>(slot)];
    }
    void Log(const std::string& line) override { lines.push_back(text::ToUtf8(line)); }

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
