// The work-log file for support: every work-log line, stamped with its time, appended to one file
// per day in the program directory's logs/ ("dcrelay-20261209.log", GBK as the log is). A writer
// thread does the file work, so a slow or failing disk never holds up the relay; a failure is
// reported once and the lines are dropped until the next day. Files older than the configured
// number of days are removed when a day begins, except the files this process has written: a
// wall clock that jumps ahead must not take the lines of the real day with it. A file dated
// after today (the clock was set back) is left alone.
#pragma once

#include "worklog/WorkLog.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace app {

// The switch in the parameter file, section "Support", which the parameter dialog leaves alone:
// "logfile=1" turns the file on; "logdays" is how many days of files are kept (default 30).
struct WorkLogFileSettings {
    bool On = false;
    int KeepDays = 30;
};
WorkLogFileSettings LoadWorkLogFileSettings(const std::string& iniPath);

// The names among `names` that are day files dated keepDays or more days before `today`, but
// never today's, a later day's or a day in `kept`.
std::vector<std::string> ExpiredLogFiles(const std::vector<std::string>& names,
                                         std::chrono::sys_days today, int keepDays,
                                         const std::set<std::chrono::sys_days>& kept = {});

class WorkLogFile : public WorkLogListener {
public:
    using Clock = std::function<std::chrono::system_clock::time_point()>;
    // dir ends in '/'. onFailure runs once, on the writer thread, with the GBK message to log.
    WorkLogFile(std::string dir, int keepDays, std::function<void(const std::string&)> onFailure,
                Clock clock = &std::chrono::system_clock::now);
    ~WorkLogFile() override; // writes what is queued, then ends the writer
    WorkLogFile(const WorkLogFile&) = delete;
    WorkLogFile& operator=(const WorkLogFile&) = delete;

    void LineAppended(const std::string& line) override;
    void Cleared() override {}
    // Returns once every line appended so far has been handled (tests, shutdown).
    void Flush();

    // Lines waiting beyond this many are dropped: the relay never waits for the disk.
    static constexpr std::size_t kMaxQueued = 100000;

private:
    struct Entry {
        std::chrono::system_clock::time_point time;
        std::string line;
    };
    void Run();
    void NewDayIfDue();
    void Write(const Entry& entry);
    bool OpenDay(std::chrono::sys_days day);
    void Fail(const std::string& path, std::chrono::sys_days day);

    std::string dir_;
    int keepDays_;
    std::function<void(const std::string&)> onFailure_;
    Clock clock_;
    std::string failureText_;

    std::mutex mutex_;
    std::condition_variable wake_, done_;
    std::deque<Entry> queue_;
    std::size_t queued_ = 0, handled_ = 0;
    bool stopping_ = false;

    // The writer thread's own state.
    std::FILE* file_ = nullptr;
    std::chrono::sys_days fileDay_{}, today_{};
    std::set<std::chrono::sys_days> written_; // the days whose files this process has opened
    bool reported_ = false;
    std::chrono::sys_days failedDay_{};
    bool failed_ = false;

    std::thread writer_; // last: starts after the state above exists
};

} // namespace app
