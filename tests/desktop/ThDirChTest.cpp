// The watcher's thread on its own: one comparison per signal, re-arming, stopping.
#include "DirChangeTestSupport.h"

#include "desktop/ThDirCh.h"

#include <QObject>
#include <gmock/gmock.h>

namespace {

using dirtest::PumpFor;
using dirtest::PumpUntil;
using namespace std::chrono_literals;

struct ThDirChTest : testing::Test {
    dirtest::TTempDir dir;
    QObject context;
    int comparisons = 0;
    bool ended = false;
    std::function<void()> onCompare;
    desktop::TThDirChange* thread = nullptr; // frees itself

    void Start() {
        thread = new desktop::TThDirChange(
            dir.path, &context,
            [this] {
                ++comparisons;
                if (onCompare) {
                    onCompare();
                }
            },
            [this] { ended = true; });
        thread->Start();
    }
    void TearDown() override {
        if (!ended) {
            thread->RequestStop();
            EXPECT_TRUE(PumpUntil([this] { return ended; }));
        }
    }
};

TEST_F(ThDirChTest, OneSignalGivesExactlyOneComparison) {
    dirtest::CreateFile(dir / "f");
    int fd = ::open((dir / "f").c_str(), O_WRONLY | O_CLOEXEC);
    Start();
    PumpFor();
    EXPECT_EQ(comparisons, 0); // starting is no signal
    ASSERT_EQ(::pwrite(fd, "x", 1, 0), 1);
    ::close(fd);
    EXPECT_TRUE(PumpUntil([this] { return comparisons == 1; }));
    PumpFor();
    EXPECT_EQ(comparisons, 1);
}

TEST_F(ThDirChTest, AChangeDuringAComparisonSignalsAgain) {
    Start();
    onCompare = [this] {
        if (comparisons == 1) {
            dirtest::CreateFile(dir / "during");
        }
    };
    dirtest::CreateFile(dir / "first");
    EXPECT_TRUE(PumpUntil([this] { return comparisons == 2; }));
    PumpFor();
    EXPECT_EQ(comparisons, 2);
}

TEST_F(ThDirChTest, AStopWhileAComparisonIsQueuedEndsTheThreadAndSkipsIt) {
    Start();
    dirtest::CreateFile(dir / "f");
    std::this_thread::sleep_for(100ms); // the comparison is queued; no events are handled
    thread->RequestStop();
    EXPECT_TRUE(PumpUntil([this] { return ended; }, 1s));
    EXPECT_EQ(comparisons, 0);
}

TEST_F(ThDirChTest, ADirectoryRemovedAndMadeAgainIsWatchedAgain) {
    Start();
    std::filesystem::remove(dir.path);
    EXPECT_TRUE(PumpUntil([this] { return comparisons >= 1; })); // it went away
    PumpFor(50ms);                                               // the re-arm is retried
    const int beforeRecreation = comparisons;
    ASSERT_EQ(::mkdir(dir.path.c_str(), 0700), 0);
    EXPECT_TRUE(PumpUntil([&] { return comparisons == beforeRecreation + 1; }));
    PumpFor();
    const int afterRecreation = comparisons;
    dirtest::CreateFile(dir / "new");
    EXPECT_TRUE(PumpUntil([&] { return comparisons == afterRecreation + 1; }));
}

TEST_F(ThDirChTest, AStopWhileRetryingEndsTheThread) {
    Start();
    std::filesystem::remove(dir.path);
    EXPECT_TRUE(PumpUntil([this] { return comparisons >= 1; }));
    PumpFor(50ms);
    thread->RequestStop();
    EXPECT_TRUE(PumpUntil([this] { return ended; }, 1s));
    ASSERT_EQ(::mkdir(dir.path.c_str(), 0700), 0); // for the fixture's clean-up
}

} // namespace
