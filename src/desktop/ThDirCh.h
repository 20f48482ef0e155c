// TThDirChange: the directory watcher's thread. It only waits: for the directory to change, and
// then for its owner's comparison, which it has run on the owner's thread, to finish. A stop
// request wakes every one of its waits, so it never waits for the owner's thread once a stop is
// asked for; that is what lets the owner stop it from anywhere, a comparison's own handlers
// included, without a deadlock.
#pragma once

#include "desktop/ThDirCh_inotify.h"

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>

class QObject;

namespace desktop {

class TThDirChange {
public:
    // Pause between attempts to watch a directory that cannot be watched now.
    static constexpr int kRetryPauseMs = 10;

    // Creates the thread without starting it and places the change notification on dir (which
    // ends in '/'), so that a listing taken after this misses no change. `compare` and `ended`
    // run on the thread of `context`, which must outlive the thread.
    TThDirChange(std::string dir, QObject* context, std::function<void()> compare,
                 std::function<void()> ended);
    // Only for a thread that was never started: a started thread frees itself when it ends, on
    // the context's thread, and then runs `ended`.
    ~TThDirChange();
    TThDirChange(const TThDirChange&) = delete;
    TThDirChange& operator=(const TThDirChange&) = delete;

    void Start();

    // From the context's thread. The thread ends soon after: at once from any wait.
    void RequestStop();
    bool StopRequested() const;

private:
    // What the thread shares with the comparisons it has queued, which may outlive it.
    struct TControl {
        std::atomic<bool> Stop{false};
        TWakeEvent Wake;        // set once, by a stop request
        TWakeEvent CompareDone; // set by each queued comparison when it has finished
    };

    void Execute();
    void WatchUntilStopped();
    void RunComparisonAndWait();
    void PauseBeforeRetry();
    void Finish();

    std::string directory_;
    QObject* context_;
    std::function<void()> compare_;
    std::function<void()> ended_;
    std::shared_ptr<TControl> control_;
    TDirNotification notification_;
    std::thread worker_;
};

} // namespace desktop
