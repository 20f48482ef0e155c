// The platform side of the directory watcher: one inotify descriptor on one directory, eventfd
// wake-up events and a wait on several descriptors.
#pragma once

#include <initializer_list>
#include <string>

namespace desktop {

// A change notification on one directory itself, not its subtree, for changes of file names,
// last write times, directory names, attributes and sizes. Changes are recorded by the system
// between waits, so none made while the owner is busy is lost.
class TDirNotification {
public:
    explicit TDirNotification(std::string dir); // dir without a final '/'
    ~TDirNotification();
    TDirNotification(const TDirNotification&) = delete;
    TDirNotification& operator=(const TDirNotification&) = delete;

    // Creates the notification; false when the system gives none.
    bool Open();
    bool IsOpen() const { return fd_ >= 0; }

    // Places the watch; afterwards places it again when the directory has lost it (deleted or
    // moved away). False while the directory cannot be watched. Every watch placed after the
    // first call counts as a signal, since changes made while there was none were not recorded.
    bool Rearm();

    // Waits until a change is signalled (true) or wakeFd becomes readable (false), then takes
    // every recorded change, so that the next wait is signalled only by later changes.
    bool Wait(int wakeFd);

    void Close();

private:
    void TakeRecordedChanges();

    std::string dir_;
    int fd_ = -1;
    int wd_ = -1;
    bool firstArm_ = true;
    bool signalled_ = false;
};

// A manual-reset event on an eventfd.
class TWakeEvent {
public:
    TWakeEvent(); // throws std::system_error when the system gives no descriptor
    ~TWakeEvent();
    TWakeEvent(const TWakeEvent&) = delete;
    TWakeEvent& operator=(const TWakeEvent&) = delete;

    void Set();
    void Reset();
    int Fd() const { return fd_; }

private:
    int fd_;
};

// Position of the first readable descriptor in fds, waiting at most timeoutMs (-1: no limit);
// -1 when the time ran out.
int WaitReadable(std::initializer_list<int> fds, int timeoutMs);

} // namespace desktop
