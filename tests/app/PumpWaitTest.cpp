#include "app/PumpWait.h"
#include "support/EventPump.h"

#include <QCoreApplication>
#include <QTimer>
#include <chrono>
#include <ctime>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>

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
    const std::clock_t cpu = std::clock();
    app::PumpWait(0, 20);
    order.push_back("outer end");
    // The outer wait cannot return before the nested one it is running has finished.
    EXPECT_EQ(order, (std::vector<std::string>{"inner start", "inner end", "outer end"}));
    const long waited = ElapsedMs(start);
    EXPECT_GE(waited, 60);
    // The outer wait's end, come during the nested one, does not keep the nested loop busy.
    EXPECT_LT((std::clock() - cpu) * 1000 / CLOCKS_PER_SEC, waited / 2);
}

TEST_F(PumpWaitTest, WaitsWhenNoDescriptorIsLeft) {
    rlimit old{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &old), 0);
    const int lowestFree = ::fcntl(0, F_DUPFD, 0);
    ASSERT_GE(lowestFree, 0);
    ::close(lowestFree);
    rlimit none = old;
    none.rlim_cur = static_cast<rlim_t>(lowestFree);
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &none), 0);
    bool stopped = false; // ends a wait that nothing would wake
    QTimer stop;
    stop.setSingleShot(true);
    QObject::connect(&stop, &QTimer::timeout, [&] { stopped = true; });
    stop.start(1000);
    auto start = Clock::now();
    app::PumpWait(0, 50);
    const long waited = ElapsedMs(start);
    ::setrlimit(RLIMIT_NOFILE, &old);
    EXPECT_GE(waited, 50);
    EXPECT_LT(waited, 500);
    EXPECT_FALSE(stopped);
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
