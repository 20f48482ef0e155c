// Temporary directories, file changes and event pumping for the directory watcher tests.
#pragma once

#include "desktop/DirChange.h"
#include "support/EventPump.h"
#include "support/TempDir.h"

#include <QCoreApplication>
#include <chrono>
#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace dirtest {

using namespace std::chrono_literals;

struct TTempDir : testsupport::TempDir {
    std::string operator/(const std::string& name) const { return path + name; }
};

// One open and, when bytes are given, one write: a single change signal each.
inline void CreateFile(const std::string& path, const std::string& bytes = "") {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0) << path;
    if (!bytes.empty()) {
        ASSERT_EQ(::write(fd, bytes.data(), bytes.size()), ssize_t(bytes.size()));
    }
    ::close(fd);
}

inline void Append(const std::string& path, const std::string& bytes) {
    int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    ASSERT_GE(fd, 0) << path;
    ASSERT_EQ(::write(fd, bytes.data(), bytes.size()), ssize_t(bytes.size()));
    ::close(fd);
}

// Times far in the past, so that the next write surely changes the last write time.
inline void MakeOld(const std::string& path) {
    const timespec times[2] = {{1'000'000'000, 0}, {1'000'000'000, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

// The test support's event pumps, with the waits these tests use unless they say otherwise.
inline bool PumpUntil(const std::function<bool()>& cond, std::chrono::milliseconds limit = 5s) {
    return testsupport::PumpUntil(cond, limit);
}
inline void PumpFor(std::chrono::milliseconds span = 150ms) {
    testsupport::PumpFor(span);
}

inline int ThreadCount() {
    int count = 0;
    for ([[maybe_unused]] const auto& task :
         std::filesystem::directory_iterator("/proc/self/task")) {
        ++count;
    }
    return count;
}

// Every event of a watcher as "Kind:name", with the entries it carried.
struct TRecorder {
    struct TEvent {
        std::string kind;
        desktop::TDirEntry first, second;
    };
    std::vector<TEvent> events;

    void Bind(desktop::TDirChange& watcher) {
        using desktop::TDirChange, desktop::TDirEntry;
        auto two = [this](const char* kind) {
            return [this, kind](TDirChange&, const TDirEntry& a, const TDirEntry& b) {
                events.push_back({kind, a, b});
            };
        };
        auto one = [this](const char* kind) {
            return [this, kind](TDirChange&, const TDirEntry& a) {
                events.push_back({kind, a, {}});
            };
        };
        watcher.OnChangeAttributes = two("Attributes");
        watcher.OnChangeCreationTime = two("CreationTime");
        watcher.OnChangeAccessTime = two("AccessTime");
        watcher.OnChangeWriteTime = two("WriteTime");
        watcher.OnChangeSize = two("Size");
        watcher.OnAnyChange = two("Any");
        watcher.OnChangeDeleted = one("Deleted");
        watcher.OnChangeNew = one("New");
        watcher.OnChangeRenamed = one("Renamed");
    }

    std::vector<std::string> Log() const {
        std::vector<std::string> log;
        for (const auto& e : events) {
            log.push_back(e.kind + ":" + e.first.Name);
        }
        return log;
    }
    bool Saw(const std::string& line) const {
        auto log = Log();
        return std::find(log.begin(), log.end(), line) != log.end();
    }
};

} // namespace dirtest
