// The watcher on real directories: signals, comparisons, restarts and stopping.
#include "DirChangeTestSupport.h"

#include <gmock/gmock.h>
#include <sys/resource.h>

namespace {

using desktop::TDirChange;
using desktop::TDirEntry;
using dirtest::PumpFor;
using dirtest::PumpUntil;
using namespace std::chrono_literals;
using testing::ElementsAre;
using testing::IsEmpty;

struct DirChangeTest : testing::Test {
    dirtest::TTempDir dir;
    TDirChange watcher;
    dirtest::TRecorder recorder;
    int threadsBefore = dirtest::ThreadCount();

    void SetUp() override { recorder.Bind(watcher); }

    void Start(const std::string& path) {
        watcher.SetDirectory(path);
        watcher.SetActive(true);
        ASSERT_TRUE(watcher.Active());
    }
    // Waits for `last` and then a little longer, so that any further event would show.
    std::vector<std::string> LogUntil(const std::string& last) {
        EXPECT_TRUE(PumpUntil([&] { return recorder.Saw(last); })) << last;
        PumpFor();
        return recorder.Log();
    }
    void ExpectStoppedPromptly() {
        const auto start = std::chrono::steady_clock::now();
        watcher.SetActive(false);
        EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
        EXPECT_FALSE(watcher.Active());
        EXPECT_EQ(dirtest::ThreadCount(), threadsBefore);
    }
};

TEST_F(DirChangeTest, AWriteGivesWriteTimeWithBothEntriesThenSizeThenOneAnyChange) {
    dirtest::CreateFile(dir / "R1.TXT", "ab");
    dirtest::MakeOld(dir / "R1.TXT");
    Start(dir.path);
    dirtest::Append(dir / "R1.TXT", "cde");
    EXPECT_THAT(LogUntil("Any:R1.TXT"),
                ElementsAre("WriteTime:R1.TXT", "Size:R1.TXT", "Any:R1.TXT"));
    const auto& write = recorder.events[0];
    EXPECT_EQ(write.first.Size(), 2u);
    EXPECT_EQ(write.second.Size(), 5u);
    EXPECT_LT(write.first.LastWriteTime, write.second.LastWriteTime);
    EXPECT_EQ(recorder.events[2].second, write.second);
}

TEST_F(DirChangeTest, CreatingDeletingAndRenamingFiles) {
    Start(dir.path);
    dirtest::CreateFile(dir / "T1.txt");
    EXPECT_THAT(LogUntil("Any:T1.txt"), ElementsAre("New:T1.txt", "Any:T1.txt"));

    recorder.events.clear();
    ASSERT_EQ(::rename((dir / "T1.txt").c_str(), (dir / "R2.txt").c_str()), 0);
    EXPECT_THAT(LogUntil("Any:R2.txt"), ElementsAre("Any:T1.txt", "Renamed:R2.txt", "Any:R2.txt"));

    recorder.events.clear();
    ASSERT_EQ(::unlink((dir / "R2.txt").c_str()), 0);
    EXPECT_THAT(LogUntil("Any:R2.txt"), ElementsAre("Deleted:R2.txt", "Any:R2.txt"));
}

TEST_F(DirChangeTest, DeletingOneAndCreatingAnotherBeforeTheComparisonIsARename) {
    dirtest::CreateFile(dir / "old");
    Start(dir.path);
    // No events are handled in between, so one comparison sees both changes.
    ASSERT_EQ(::unlink((dir / "old").c_str()), 0);
    dirtest::CreateFile(dir / "other");
    EXPECT_THAT(LogUntil("Any:other"), ElementsAre("Any:old", "Renamed:other", "Any:other"));
}

TEST_F(DirChangeTest, NamesBeginningWithADotAreNeverReported) {
    dirtest::CreateFile(dir / ".seen-before");
    Start(dir.path);
    dirtest::CreateFile(dir / ".tmp", "x");
    dirtest::Append(dir / ".seen-before", "y");
    ASSERT_EQ(::rename((dir / ".tmp").c_str(), (dir / ".tmp2").c_str()), 0);
    ASSERT_EQ(::unlink((dir / ".seen-before").c_str()), 0);
    dirtest::CreateFile(dir / "marker");
    EXPECT_THAT(LogUntil("Any:marker"), ElementsAre("New:marker", "Any:marker"));
}

TEST_F(DirChangeTest, AMissingDirectoryLeavesActiveFalse) {
    watcher.SetDirectory(dir / "missing");
    watcher.SetActive(true);
    EXPECT_FALSE(watcher.Active());
    EXPECT_EQ(dirtest::ThreadCount(), threadsBefore);
}

TEST_F(DirChangeTest, APathWithoutFinalSeparatorGetsOne) {
    dirtest::CreateFile(dir / "a");
    const std::string bare = dir.path.substr(0, dir.path.size() - 1);
    Start(bare);
    EXPECT_EQ(watcher.Directory(), dir.path);
    EXPECT_EQ(watcher.Snapshot().size(), 1u);
    dirtest::CreateFile(dir / "b");
    EXPECT_THAT(LogUntil("Any:b"), ElementsAre("New:b", "Any:b"));
}

TEST_F(DirChangeTest, AnEmptyPathWatchesTheCurrentDirectory) {
    const auto cwd = std::filesystem::current_path();
    std::filesystem::current_path(dir.path);
    Start("");
    EXPECT_EQ(watcher.Directory(), "./");
    dirtest::CreateFile(dir / "here");
    EXPECT_THAT(LogUntil("Any:here"), ElementsAre("New:here", "Any:here"));
    std::filesystem::current_path(cwd);
}

TEST_F(DirChangeTest, SettingDirectoryWhileActiveRestartsOnTheNewOneWithAFreshSnapshot) {
    dirtest::TTempDir other;
    dirtest::CreateFile(other / "x");
    dirtest::CreateFile(other / "y");
    Start(dir.path);
    watcher.SetDirectory(other.path);
    EXPECT_TRUE(watcher.Active());
    EXPECT_EQ(watcher.Snapshot(), desktop::TakeSnapshot(other.path));
    dirtest::CreateFile(dir / "ignored");
    dirtest::CreateFile(other / "z");
    EXPECT_THAT(LogUntil("Any:z"), ElementsAre("New:z", "Any:z"));
    EXPECT_EQ(dirtest::ThreadCount(), threadsBefore + 1);
}

TEST_F(DirChangeTest, RestartOnTakesAFreshSnapshotEvenOnTheSameDirectory) {
    Start(dir.path);
    dirtest::CreateFile(dir / "made-while-busy");
    desktop::RestartOn(watcher, dir.path); // before the change is compared
    EXPECT_TRUE(watcher.Active());
    EXPECT_EQ(watcher.Snapshot().size(), 1u);
    PumpFor();
    EXPECT_THAT(recorder.Log(), IsEmpty());
}

TEST_F(DirChangeTest, StoppingReturnsPromptlyAndTheThreadIsGone) {
    Start(dir.path);
    EXPECT_EQ(dirtest::ThreadCount(), threadsBefore + 1);
    ExpectStoppedPromptly();
    dirtest::CreateFile(dir / "after");
    PumpFor();
    EXPECT_THAT(recorder.Log(), IsEmpty());
}

TEST_F(DirChangeTest, StoppingWhileTheThreadWaitsForTheMainThreadDoesNotDeadlock) {
    Start(dir.path);
    dirtest::CreateFile(dir / "pending");
    std::this_thread::sleep_for(100ms); // the thread has queued its comparison and waits for it
    ExpectStoppedPromptly();
    EXPECT_THAT(recorder.Log(), IsEmpty()); // the queued comparison was dropped
}

TEST_F(DirChangeTest, AHandlerMayStopTheWatcherInTheMiddleOfAComparison) {
    Start(dir.path);
    watcher.OnChangeNew = [&](TDirChange& sender, const TDirEntry& e) {
        recorder.events.push_back({"New", e, {}});
        sender.SetActive(false);
    };
    dirtest::CreateFile(dir / "a");
    dirtest::CreateFile(dir / "b");
    EXPECT_TRUE(PumpUntil([&] { return !watcher.Active(); }));
    PumpFor();
    EXPECT_EQ(recorder.Log().size(), 1u); // nothing raised after the stop
    EXPECT_EQ(dirtest::ThreadCount(), threadsBefore);
}

TEST_F(DirChangeTest, AHandlerMayMoveTheWatcherToAnotherDirectory) {
    dirtest::TTempDir other;
    dirtest::CreateFile(other / "there");
    Start(dir.path);
    watcher.OnChangeNew = [&](TDirChange& sender, const TDirEntry&) {
        sender.OnChangeNew = nullptr; // only once
        sender.SetDirectory(other.path);
    };
    dirtest::CreateFile(dir / "here");
    EXPECT_TRUE(PumpUntil([&] { return watcher.Directory() == other.path; }));
    PumpFor();
    EXPECT_TRUE(watcher.Active());
    EXPECT_EQ(watcher.Snapshot(), desktop::TakeSnapshot(other.path)); // not the old listing
    EXPECT_THAT(recorder.Log(), IsEmpty());
    dirtest::CreateFile(other / "later");
    EXPECT_THAT(LogUntil("Any:later"), ElementsAre("Any:later"));
}

TEST_F(DirChangeTest, DestroyingAnActiveWatcherEndsItsThread) {
    {
        TDirChange local;
        local.SetDirectory(dir.path);
        local.SetActive(true);
        ASSERT_TRUE(local.Active());
        dirtest::CreateFile(dir / "pending");
    }
    EXPECT_EQ(dirtest::ThreadCount(), threadsBefore);
}

TEST_F(DirChangeTest, ABurstOfWritesDuringAComparisonIsSeenByTheNextListing) {
    constexpr int kFiles = 1000;
    Start(dir.path);
    bool burst = false;
    watcher.OnChangeNew = [&](TDirChange&, const TDirEntry& e) {
        recorder.events.push_back({"New", e, {}});
        if (!std::exchange(burst, true)) {
            for (int i = 0; i < kFiles; ++i) {
                dirtest::CreateFile(dir / ("f" + std::to_string(i)), std::string(i % 7 + 1, 'x'));
            }
        }
    };
    dirtest::CreateFile(dir / "start");
    auto complete = [&] {
        int sized = 0;
        for (const auto& e : watcher.Snapshot()) {
            sized += e.Name[0] == 'f' && e.Size() == std::stoul(e.Name.substr(1)) % 7 + 1;
        }
        return sized == kFiles;
    };
    EXPECT_TRUE(PumpUntil(complete, 20s));
    PumpFor();
    const auto log = recorder.Log();
    EXPECT_EQ(std::count_if(log.begin(), log.end(), [](auto& l) { return l.starts_with("New:"); }),
              kFiles + 1); // each file new exactly once
    EXPECT_EQ(log.size(), std::size_t{2 * (kFiles + 1)});
}

TEST_F(DirChangeTest, AWatcherWithoutAChangeNotificationEndsAndGoesInactive) {
    rlimit old{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &old), 0);
    rlimit low = old;
    low.rlim_cur = 256;
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &low), 0);
    std::vector<int> filler;
    for (int fd; (fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0;) {
        filler.push_back(fd);
    }
    // Room for the two wake-up events, none for the notification.
    for (int i = 0; i < 2 && !filler.empty(); ++i) {
        ::close(filler.back());
        filler.pop_back();
    }
    watcher.SetDirectory(dir.path);
    watcher.SetActive(true);
    const bool ended = PumpUntil([&] { return !watcher.Active(); });
    for (int fd : filler) {
        ::close(fd);
    }
    ::setrlimit(RLIMIT_NOFILE, &old);
    EXPECT_TRUE(ended);
    EXPECT_EQ(dirtest::ThreadCount(), threadsBefore);
}

} // namespace
