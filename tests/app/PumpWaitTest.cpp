#include "app/PumpWait.h"
#include "support/EventPump.h"

#include <QCoreApplication>
#include <QTimer>
#include <chrono>
#include <gtest/gtest.h>

namespace {

using Clock = std::chrono::steady_clock;

long ElapsedMs(Clock::time_point since) {
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count());
}

struct PumpWaitTest : ::testing::Test {
    static void SetUpTestSuite() { testsupport::EnsureCoreApplication(); }
    void TearDown() override { app::SetProgramEnding(false); }
};

} // namespace

TEST_F(PumpWaitTest, ZeroWaitReturnsWithoutHandlingEvents) {
    bool ran = false;
    QTimer::singleShot(0, [&] { ran = true; });
    app::PumpWait(0, 0);
    EXPECT_FALSE(ran);
    QCoreApplication::processEvents();
    EXPECT_TRUE(ran);
}

TEST_F(PumpWaitTest, QueuedEventsAndTimersRunInsideTheWait) {
    bool queued = false;
    int ticks = 0;
    QMetaObject::invokeMethod(
        QCoreApplication::instance(), [&] { queued = true; }, Qt::QueuedConnection);
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] { ++ticks; });
    timer.start(10);
    auto start = Clock::now();
    app::PumpWait(0, 120);
    long waited = ElapsedMs(start);
    EXPECT_TRUE(queued);
    EXPECT_GE(ticks, 5);
    EXPECT_GE(waited, 120);
    EXPECT_LT(waited, 400);
}

TEST_F(PumpWaitTest, WaitsNest) {
    std::vector<std::string> order;
    QTimer::singleShot(10, [&] {
        order.push_back("inner start");
        app::PumpWait(0, 50);
        order.push_back("inner end");
    });
    auto start = Clock::now();
    app::PumpWait(0, 20);
    order.push_back("outer end");
    // The outer wait cannot return before the nested one it is running has finished.
    EXPECT_EQ(order, (std::vector<std::string>{"inner start", "inner end", "outer end"}));
    EXPECT_GE(ElapsedMs(start), 60);
}

TEST_F(PumpWaitTest, SecondsCount) {
    auto start = Clock::now();
    app::PumpWait(1, 0);
    long waited = ElapsedMs(start);
    EXPECT_GE(waited, 1000);
    EXPECT_LT(waited, 1500);
}

TEST_F(PumpWaitTest, ReturnsAtOnceWhileTheProgramIsEnding) {
    QTimer::singleShot(20, [] { app::SetProgramEnding(true); });
    auto start = Clock::now();
    app::PumpWait(5, 0);
    EXPECT_LT(ElapsedMs(start), 1000);
    start = Clock::now();
    app::PumpWait(5, 0);
    EXPECT_LT(ElapsedMs(start), 50);
}
