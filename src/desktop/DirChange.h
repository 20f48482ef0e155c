// TDirChange: watches one directory and raises one event per kind of difference each time the
// directory changes. A thread of its own (TThDirChange) waits for the system's change signal;
// the listing, the comparison and every event run on the component's own (main) thread, one at
// a time, while that thread waits for them.
//
// Time stamps are 64-bit counts of 100-nanosecond intervals since 1601-01-01 00:00 UTC (the
// FILETIME scale); a time the file system does not keep, or one before 1601, is 0.
#pragma once

#include <QObject>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace desktop {

inline constexpr std::uint32_t kAttrReadOnly = 0x01; // no write permission bit at all
inline constexpr std::uint32_t kAttrDirectory = 0x10;

// One file or subdirectory as the listing gives it.
struct TDirEntry {
    std::uint32_t Attributes = 0;
    std::uint64_t CreationTime = 0; // birth time where the file system keeps one, else 0
    std::uint64_t LastAccessTime = 0;
    std::uint64_t LastWriteTime = 0;
    std::uint32_t SizeHigh = 0; // size in bytes, high and low halves; 0 for a directory
    std::uint32_t SizeLow = 0;
    std::string Name; // the name within the directory, as bytes

    std::uint64_t Size() const { return (std::uint64_t{SizeHigh} << 32) | SizeLow; }
    bool operator==(const TDirEntry&) const = default;
};

// The entries of a directory in listing order, without names that begin with ".".
using TDirSnapshot = std::vector<TDirEntry>;

// Lists dir, a path ending in '/'. A directory that cannot be read lists as empty; an entry
// removed while the directory is being read is left out.
TDirSnapshot TakeSnapshot(const std::string& dir);

// Converts a time given as seconds and nanoseconds since 1970-01-01 UTC to the entry scale.
std::uint64_t FileTimeFromUnix(std::int64_t seconds, std::uint32_t nanoseconds);

class TDirChange;
class TThDirChange;

// Handlers receive the component and read-only entries: the old and the new one.
using TDirCh = std::function<void(TDirChange& Sender, const TDirEntry& Old, const TDirEntry& New)>;
using TDirCh1 = std::function<void(TDirChange& Sender, const TDirEntry& Entry)>;

class TDirChange : public QObject {
    Q_OBJECT
public:
    explicit TDirChange(QObject* parent = nullptr);
    // Deactivates first. Do not destroy the component from one of its own handlers.
    ~TDirChange() override;

    // Setting Active to true starts watching Directory, when it exists, with a fresh snapshot;
    // setting it to false stops the thread and returns once it has ended, handling the thread's
    // pending events meanwhile. Both may be called from the component's handlers. Setting the
    // current value does nothing. Needs a QCoreApplication; call on the component's thread.
    bool Active() const { return active_; }
    void SetActive(bool value);

    // The path is used as given. Activation appends a final '/' when it is missing; an empty
    // path becomes "./", the current directory. Setting it restarts a running watcher.
    const std::string& Directory() const { return directory_; }
    void SetDirectory(const std::string& value);

    // Kept for the property's sake; only the directory itself is watched. Ignored while Active.
    bool SubDirs() const { return subDirs_; }
    void SetSubDirs(bool value);

    TDirCh OnChangeAttributes;
    TDirCh OnChangeCreationTime;
    TDirCh OnChangeAccessTime;
    TDirCh OnChangeWriteTime;
    TDirCh OnChangeSize;
    TDirCh OnAnyChange; // for an entry that appeared or disappeared, New is an empty entry
    TDirCh1 OnChangeDeleted;
    TDirCh1 OnChangeNew;
    TDirCh1 OnChangeRenamed;

    // The current snapshot: the listing the next comparison starts from.
    const TDirSnapshot& Snapshot() const { return snapshot_; }

private:
    void Activate();
    void Deactivate();
    void Compare(unsigned session);
    bool Watching(unsigned session) const;
    void ThreadEnded(unsigned session);

    bool active_ = false;
    std::string directory_;
    bool subDirs_ = false;
    TDirSnapshot snapshot_;
    TThDirChange* thread_ = nullptr; // frees itself when it ends
    unsigned session_ = 0;           // counts activations; tells a thread's calls apart
};

// Raises sender's events for the differences from oldSnap to newSnap, in order: each old entry
// (its changes, or its disappearance), then each new entry that appeared. An appeared entry is
// reported as renamed when both snapshots hold as many entries, as new when newSnap holds more;
// a disappeared entry as deleted only when newSnap holds fewer. goOn is asked after each event
// raised; once it says false, no further event is raised and the result is false.
bool RaiseDifferences(TDirChange& sender, const TDirSnapshot& oldSnap, const TDirSnapshot& newSnap,
                      const std::function<bool()>& goOn);

// Sets the watcher's directory and switches it off and on again, so that it watches dir with a
// fresh snapshot, when dir exists.
void RestartOn(TDirChange& watcher, const std::string& dir);

} // namespace desktop
