#include "desktop/DirChange.h"

#include "desktop/ThDirCh.h"
#include "text/Files.h"

#include <QCoreApplication>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <string_view>
#include <sys/stat.h>
#include <unordered_map>

namespace desktop {
namespace {

// Seconds from 1601-01-01 to 1970-01-01.
constexpr std::int64_t kUnixEpochInFileTimeSeconds = 11644473600;

std::uint64_t FileTimeOf(const struct statx_timestamp& t) {
    return FileTimeFromUnix(t.tv_sec, t.tv_nsec);
}

std::uint32_t AttributesOf(std::uint16_t mode) {
    std::uint32_t attributes = 0;
    if (S_ISDIR(mode)) {
        attributes |= kAttrDirectory;
    }
    if ((mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) {
        attributes |= kAttrReadOnly;
    }
    return attributes;
}

// The entry of `name` in the open directory, or false when it is gone.
bool ReadEntry(int dirFd, const char* name, TDirEntry& entry) {
    struct statx st {};
    if (::statx(dirFd, name, AT_SYMLINK_NOFOLLOW, STATX_BASIC_STATS | STATX_BTIME, &st) != 0) {
        return errno != ENOENT; // any other failure still lists the name, with empty fields
    }
    entry.Attributes = AttributesOf(st.stx_mode);
    entry.CreationTime = (st.stx_mask & STATX_BTIME) ? FileTimeOf(st.stx_btime) : 0;
    entry.LastAccessTime = FileTimeOf(st.stx_atime);
    entry.LastWriteTime = FileTimeOf(st.stx_mtime);
    const std::uint64_t size = S_ISDIR(st.stx_mode) ? 0 : st.stx_size;
    entry.SizeHigh = static_cast<std::uint32_t>(size >> 32);
    entry.SizeLow = static_cast<std::uint32_t>(size);
    return true;
}

std::string WithFinalSeparator(const std::string& dir) {
    if (dir.empty()) {
        return "./";
    }
    return dir.back() == '/' ? dir : dir + '/';
}

using TNameIndex = std::unordered_map<std::string_view, std::size_t>;

TNameIndex IndexByName(const TDirSnapshot& snapshot) {
    TNameIndex index;
    for (std::size_t i = 0; i < snapshot.size(); ++i) {
        index.emplace(snapshot[i].Name, i);
    }
    return index;
}

// Raises one event when it is bound; whether raising goes on. The handler is copied first, so
// that it may rebind its own event.
template <class THandler, class... TArgs>
bool Raise(const THandler& bound, const std::function<bool()>& goOn, TArgs&... args) {
    if (!bound) {
        return true;
    }
    const THandler handler = bound;
    handler(args...);
    return goOn();
}

// An entry present in both snapshots under the same name.
bool RaiseChanges(TDirChange& sender, const TDirEntry& oldEntry, const TDirEntry& newEntry,
                  const std::function<bool()>& goOn) {
    const struct {
        TDirCh TDirChange::*event;
        bool differs;
    } kinds[] = {
        {&TDirChange::OnChangeAttributes, oldEntry.Attributes != newEntry.Attributes},
        {&TDirChange::OnChangeCreationTime, oldEntry.CreationTime != newEntry.CreationTime},
        {&TDirChange::OnChangeAccessTime, oldEntry.LastAccessTime != newEntry.LastAccessTime},
        {&TDirChange::OnChangeWriteTime, oldEntry.LastWriteTime != newEntry.LastWriteTime},
        {&TDirChange::OnChangeSize,
         oldEntry.SizeHigh != newEntry.SizeHigh || oldEntry.SizeLow != newEntry.SizeLow},
    };
    bool anyDiffers = false;
    for (const auto& kind : kinds) {
        if (kind.differs) {
            anyDiffers = true;
            if (!Raise(sender.*kind.event, goOn, sender, oldEntry, newEntry)) {
                return false;
            }
        }
    }
    return !anyDiffers || Raise(sender.OnAnyChange, goOn, sender, oldEntry, newEntry);
}

bool RaiseDisappeared(TDirChange& sender, const TDirEntry& oldEntry, bool fewerNow,
                      const std::function<bool()>& goOn) {
    if (fewerNow && !Raise(sender.OnChangeDeleted, goOn, sender, oldEntry)) {
        return false;
    }
    const TDirEntry none;
    return Raise(sender.OnAnyChange, goOn, sender, oldEntry, none);
}

bool RaiseAppeared(TDirChange& sender, const TDirEntry& newEntry, std::size_t oldCount,
                   std::size_t newCount, const std::function<bool()>& goOn) {
    if (newCount == oldCount && !Raise(sender.OnChangeRenamed, goOn, sender, newEntry)) {
        return false;
    }
    if (newCount > oldCount && !Raise(sender.OnChangeNew, goOn, sender, newEntry)) {
        return false;
    }
    const TDirEntry none;
    return Raise(sender.OnAnyChange, goOn, sender, newEntry, none);
}

} // namespace

std::uint64_t FileTimeFromUnix(std::int64_t seconds, std::uint32_t nanoseconds) {
    if (seconds < -kUnixEpochInFileTimeSeconds) {
        return 0;
    }
    return static_cast<std::uint64_t>(seconds + kUnixEpochInFileTimeSeconds) * 10'000'000 +
           nanoseconds / 100;
}

TDirSnapshot TakeSnapshot(const std::string& dir) {
    TDirSnapshot snapshot;
    DIR* listing = ::opendir(dir.c_str());
    if (listing == nullptr) {
        return snapshot;
    }
    while (const dirent* found = ::readdir(listing)) {
        if (found->d_name[0] == '.') {
            continue;
        }
        TDirEntry entry;
        entry.Name = found->d_name;
        if (ReadEntry(::dirfd(listing), found->d_name, entry)) {
            snapshot.push_back(std::move(entry));
        }
    }
    ::closedir(listing);
    return snapshot;
}

bool RaiseDifferences(TDirChange& sender, const TDirSnapshot& oldSnap, const TDirSnapshot& newSnap,
                      const std::function<bool()>& goOn) {
    const TNameIndex oldNames = IndexByName(oldSnap);
    const TNameIndex newNames = IndexByName(newSnap);
    for (const TDirEntry& oldEntry : oldSnap) {
        const auto same = newNames.find(oldEntry.Name);
        const bool raisingGoesOn =
            same != newNames.end()
                ? RaiseChanges(sender, oldEntry, newSnap[same->second], goOn)
                : RaiseDisappeared(sender, oldEntry, newSnap.size() < oldSnap.size(), goOn);
        if (!raisingGoesOn) {
            return false;
        }
    }
    for (const TDirEntry& newEntry : newSnap) {
        if (!oldNames.contains(newEntry.Name) &&
            !RaiseAppeared(sender, newEntry, oldSnap.size(), newSnap.size(), goOn)) {
            return false;
        }
    }
    return true;
}

TDirChange::TDirChange(QObject* parent) : QObject(parent) {}

TDirChange::~TDirChange() {
    SetActive(false);
}

void TDirChange::SetActive(bool value) {
    if (value == active_) {
        return;
    }
    if (value) {
        Activate();
    } else {
        Deactivate();
    }
}

void TDirChange::SetDirectory(const std::string& value) {
    const bool wasActive = active_;
    SetActive(false);
    directory_ = value;
    SetActive(wasActive);
}

void TDirChange::SetSubDirs(bool value) {
    if (!active_) {
        subDirs_ = value;
    }
}

// The notification is placed before the listing is taken, so that a change made between the
// two is signalled rather than missed.
void TDirChange::Activate() {
    directory_ = WithFinalSeparator(directory_);
    if (!text::DirectoryExists(directory_)) {
        return;
    }
    const unsigned session = ++session_;
    auto thread = std::make_unique<TThDirChange>(
        directory_, this, [this, session] { Compare(session); },
        [this, session] { ThreadEnded(session); });
    snapshot_ = TakeSnapshot(directory_);
    thread->Start();
    thread_ = thread.release();
    active_ = true;
}

// The thread stops waiting at once, even when it waits for a comparison; its end arrives as a
// queued call, so events are handled until then.
void TDirChange::Deactivate() {
    const unsigned session = session_;
    thread_->RequestStop();
    while (active_ && session_ == session) {
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
}

bool TDirChange::Watching(unsigned session) const {
    return active_ && session_ == session && !thread_->StopRequested();
}

void TDirChange::Compare(unsigned session) {
    if (!Watching(session)) {
        return;
    }
    TDirSnapshot newSnap = TakeSnapshot(directory_);
    // A copy: a handler that restarts the watcher replaces the current snapshot meanwhile.
    const TDirSnapshot oldSnap = snapshot_;
    if (RaiseDifferences(*this, oldSnap, newSnap, [this, session] { return Watching(session); })) {
        snapshot_ = std::move(newSnap);
    }
}

void TDirChange::ThreadEnded(unsigned session) {
    if (session == session_) {
        thread_ = nullptr;
        active_ = false;
    }
}

void RestartOn(TDirChange& watcher, const std::string& dir) {
    watcher.SetDirectory(dir);
    watcher.SetActive(false);
    watcher.SetActive(true);
}

} // namespace desktop
