#include "app/WorkLogFile.h"

#include "app/TimeOfDay.h"
#include "config/IniFile.h"
#include "text/Files.h"
#include "text/Gbk.h"
#include "text/SystemReason.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <filesystem>

namespace app {

namespace {

namespace fs = std::filesystem;
using std::chrono::sys_days;

constexpr char kPrefix[] = "dcrelay-";
constexpr char kSuffix[] = ".log";
constexpr std::size_t kDateDigits = 8;

sys_days LocalDay(std::chrono::system_clock::time_point t) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(t);
    std::tm local{};
    localtime_r(&seconds, &local);
    return std::chrono::year{local.tm_year + 1900} /
           std::chrono::month{static_cast<unsigned>(local.tm_mon + 1)} /
           std::chrono::day{static_cast<unsigned>(local.tm_mday)};
}

std::string FileName(sys_days day) {
    const std::chrono::year_month_day ymd{day};
    char date[16];
    std::snprintf(date, sizeof date, "%04d%02u%02u", static_cast<int>(ymd.year()),
                  static_cast<unsigned>(ymd.month()), static_cast<unsigned>(ymd.day()));
    return kPrefix + std::string(date) + kSuffix;
}

// The date of a day file's name, or nothing for any other name.
std::optional<sys_days> DayOf(const std::string& name) {
    const std::size_t prefix = sizeof kPrefix - 1, suffix = sizeof kSuffix - 1;
    if (name.size() != prefix + kDateDigits + suffix || name.compare(0, prefix, kPrefix) != 0 ||
        name.compare(prefix + kDateDigits, suffix, kSuffix) != 0) {
        return std::nullopt;
    }
    int value = 0;
    for (std::size_t i = prefix; i < prefix + kDateDigits; ++i) {
        if (name[i] < '0' || name[i] > '9') {
            return std::nullopt;
        }
        value = value * 10 + (name[i] - '0');
    }
    const std::chrono::year_month_day ymd{
        std::chrono::year{value / 10000},
        std::chrono::month{static_cast<unsigned>(value / 100 % 100)},
        std::chrono::day{static_cast<unsigned>(value % 100)}};
    return ymd.ok() ? std::optional<sys_days>(ymd) : std::nullopt;
}

} // namespace

WorkLogFileSettings LoadWorkLogFileSettings(const std::string& iniPath) {
    const config::IniFile ini = config::IniFile::FromFile(iniPath);
    WorkLogFileSettings s;
    s.On = ini.ReadBool("Support", "logfile", false);
    const int days = ini.ReadInteger("Support", "logdays", s.KeepDays);
    s.KeepDays = days >= 1 ? days : s.KeepDays;
    return s;
}

std::vector<std::string> ExpiredLogFiles(const std::vector<std::string>& names, sys_days today,
                                         int keepDays, const std::set<sys_days>& kept) {
    std::vector<std::string> expired;
    for (const std::string& name : names) {
        const auto day = DayOf(name);
        if (day && *day < today && (today - *day).count() >= keepDays && !kept.contains(*day)) {
            expired.push_back(name);
        }
    }
    return expired;
}

WorkLogFile::WorkLogFile(std::string dir, int keepDays,
                         std::function<void(const std::string&)> onFailure, Clock clock)
    : dir_(std::move(dir)), keepDays_(keepDays), onFailure_(std::move(onFailure)),
      clock_(std::move(clock)), failureText_(text::Fixed("工作日志文件无法写入，今天不再写入：")),
      writer_([this] { Run(); }) {}

WorkLogFile::~WorkLogFile() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_one();
    writer_.join();
    if (file_) {
        std::fclose(file_);
    }
}

void WorkLogFile::LineAppended(const std::string& line) {
    {
        std::lock_guard lock(mutex_);
        ++queued_;
        if (queue_.size() >= kMaxQueued) {
            ++handled_; // dropped
            return;
        }
        queue_.push_back({clock_(), line});
    }
    wake_.notify_one();
}

void WorkLogFile::Flush() {
    std::unique_lock lock(mutex_);
    const std::size_t target = queued_;
    done_.wait(lock, [&] { return handled_ >= target; });
}

void WorkLogFile::Run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait_for(lock, std::chrono::minutes(1), [&] { return stopping_ || !queue_.empty(); });
        std::deque<Entry> batch;
        batch.swap(queue_);
        const bool stop = stopping_;
        lock.unlock();
        NewDayIfDue();
        for (const Entry& entry : batch) {
            Write(entry);
        }
        if (file_) {
            std::fflush(file_);
        }
        lock.lock();
        handled_ += batch.size();
        done_.notify_all();
        if (stop && queue_.empty()) {
            return;
        }
    }
}

// A day begins: its expired files go, and a day that failed before is tried again.
void WorkLogFile::NewDayIfDue() {
    const sys_days today = LocalDay(clock_());
    if (today == today_) {
        return;
    }
    today_ = today;
    std::error_code error;
    for (const std::string& name :
         ExpiredLogFiles(text::EntryNames(dir_), today, keepDays_, written_)) {
        fs::remove(dir_ + name, error);
    }
}

void WorkLogFile::Write(const Entry& entry) {
    const sys_days day = LocalDay(entry.time);
    if ((!file_ || day != fileDay_) && !OpenDay(day)) {
        return;
    }
    const std::string line = TimeOfDay(entry.time, true) + ' ' + entry.line + '\n';
    if (std::fwrite(line.data(), 1, line.size(), file_) != line.size()) {
        Fail(dir_ + FileName(day), day);
    }
}

bool WorkLogFile::OpenDay(sys_days day) {
    if (failed_ && failedDay_ == day) {
        return false;
    }
    if (file_) {
        std::fclose(file_);
        file_ = nullptr;
    }
    std::error_code error;
    fs::create_directories(dir_, error);
    const std::string path = dir_ + FileName(day);
    file_ = std::fopen(path.c_str(), "ab");
    if (!file_) {
        Fail(path, day);
        return false;
    }
    fileDay_ = day;
    written_.insert(day);
    failed_ = false;
    return true;
}

void WorkLogFile::Fail(const std::string& path, sys_days day) {
    const int error = errno;
    failed_ = true;
    failedDay_ = day;
    if (file_) {
        std::fclose(file_);
        file_ = nullptr;
    }
    if (!reported_ && onFailure_) {
        reported_ = true;
        onFailure_(failureText_ + text::SystemTextToGbk(path) + text::Fixed("（") +
                   text::SystemReason(error) + text::Fixed("）"));
    }
}

} // namespace app
