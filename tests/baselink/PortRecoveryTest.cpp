// Recovery of a hung-up base-station port, on a clock the test moves.
#include "baselink/PortRecovery.h"
#include "support/EventPump.h"
#include "text/Gbk.h"

#include <gtest/gtest.h>

using namespace std::chrono_literals;
using Clock = PortRecovery::Clock;

namespace {

struct FakeOwner : PortReopener {
    bool mayReopen = true;
    std::array<bool, 5> devicePresent{};
    std::vector<int> tries;
    std::vector<std::string> lines;

    bool MayReopen() const override { return mayReopen; }
    bool ReopenSlot(int slot) override {
        tries.push_back(slot);
        return devicePresent[static_cast<std::size_t>(slot)];
    }
    void Log(const std::string& line) override { lines.push_back(text::ToUtf8(line)); }
};

struct PortRecoveryTest : ::testing::Test {
    static void SetUpTestSuite() { testsupport::EnsureCoreApplication(); }
    FakeOwner owner;
    Clock::time_point now = Clock::time_point{} + 1h;
    PortRecovery recovery{owner, [this] { return now; }};

    // Moves the clock and runs one round; the slots tried in it.
    std::vector<int> TickAt(std::chrono::milliseconds later) {
        now += later;
        owner.tries.clear();
        recovery.Tick();
        return owner.tries;
    }
};

const std::string kLost = "基站2 的串口 /dev/ttyUSB0 已断开，设备恢复后自动重新打开";
const std::string kBack = "基站2 的串口 /dev/ttyUSB0 已重新打开";

} // namespace

TEST_F(PortRecoveryTest, OneLineAndARetryEveryHalfSecondUntilTheDeviceIsBack) {
    recovery.HungUp(2, "/dev/ttyUSB0");
    recovery.HungUp(2, "/dev/ttyUSB0"); // the writer's report of the same loss
    EXPECT_EQ(owner.lines, std::vector<std::string>{kLost});

    EXPECT_EQ(TickAt(0ms), std::vector<int>{2}) << "the first try releases the dead device";
    EXPECT_TRUE(TickAt(400ms).empty());
    EXPECT_EQ(TickAt(100ms), std::vector<int>{2});
    owner.devicePresent[2] = true;
    EXPECT_EQ(TickAt(500ms), std::vector<int>{2});
    EXPECT_FALSE(recovery.Lost(2));
    EXPECT_EQ(owner.lines, (std::vector<std::string>{kLost, kBack}));
    EXPECT_TRUE(TickAt(500ms).empty());
}

TEST_F(PortRecoveryTest, WaitsWhileTheScanOwnsThePorts) {
    owner.mayReopen = false;
    recovery.HungUp(3, "COM3");
    EXPECT_TRUE(TickAt(5s).empty());
    owner.mayReopen = true;
    owner.devicePresent[3] = true;
    EXPECT_EQ(TickAt(0ms), std::vector<int>{3});
    EXPECT_FALSE(recovery.Lost(3));
}

TEST_F(PortRecoveryTest, APortThatKeepsHangingUpIsRetriedLessOften) {
    owner.devicePresent[2] = true;
    recovery.HungUp(2, "/dev/ttyUSB0");
    ASSERT_EQ(TickAt(0ms), std::vector<int>{2});
    // Hang-ups soon after each reopening: 0.5 s, then 1 s, then 2 s before the next try.
    for (auto wait : {500ms, 1000ms, 2000ms}) {
        now += 1s;
        recovery.HungUp(2, "/dev/ttyUSB0");
        EXPECT_TRUE(TickAt(wait - 1ms).empty()) << wait.count();
        EXPECT_EQ(TickAt(1ms), std::vector<int>{2}) << wait.count();
    }
    // A port that stayed up for a while is reopened at once again.
    now += PortRecovery::kSettleTime;
    recovery.HungUp(2, "/dev/ttyUSB0");
    EXPECT_EQ(TickAt(0ms), std::vector<int>{2});
}

TEST(PortRecoveryTimer, ItsTimerReopensWithoutBeingAsked) {
    testsupport::EnsureCoreApplication();
    FakeOwner owner;
    owner.devicePresent[1] = true;
    PortRecovery recovery(owner);
    recovery.HungUp(1, "COM1");
    EXPECT_TRUE(testsupport::PumpUntil([&] { return !recovery.Lost(1); }, 2s));
}
