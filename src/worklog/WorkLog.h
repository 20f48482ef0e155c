// The operator's running account of what the system does: lines of GBK text, stored exactly as
// appended, in memory only. Listeners (the main window's text area, standard error) see each
// change as it happens.
//
// The log is bounded: a relay that runs for weeks with base station 1 switched off logs its
// search twice a second and nothing empties the log then. Once it holds more than kCapacity
// lines, the oldest are dropped in one batch, leaving the newest kCapacity - kDropBatch.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

class WorkLogListener {
public:
    virtual ~WorkLogListener() = default;
    virtual void LineAppended(const std::string& line) = 0;
    virtual void Cleared() = 0;
    // The oldest `count` lines were dropped to keep the log bounded.
    virtual void OldestDropped(std::size_t /*count*/) {}
};

class WorkLog {
public:
    void Append(const std::string& line);
    void Clear();
    std::size_t LineCount() const { return lines_.size(); }
    const std::vector<std::string>& Lines() const { return lines_; }

    // The receive pipeline empties the log once it holds more than this many lines.
    static constexpr std::size_t kMaxLinesBeforeClear = 300;
    static constexpr std::size_t kCapacity = 20000;
    static constexpr std::size_t kDropBatch = 1000;

    void AddListener(WorkLogListener* listener);
    void RemoveListener(WorkLogListener* listener);

private:
    void DropOldest(std::size_t count);

    std::vector<std::string> lines_;
    std::vector<WorkLogListener*> listeners_;
};

// Writes every appended line to standard error as UTF-8, one line feed after each entry.
class StderrLogListener : public WorkLogListener {
public:
    void LineAppended(const std::string& line) override;
    void Cleared() override {}
};
