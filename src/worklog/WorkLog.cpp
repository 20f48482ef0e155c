#include "worklog/WorkLog.h"

#include "text/Gbk.h"

#include <algorithm>
#include <cstdio>

void WorkLog::Append(const std::string& line) {
    lines_.push_back(line);
    for (WorkLogListener* l : listeners_) {
        l->LineAppended(line);
    }
    if (lines_.size() > kCapacity) {
        DropOldest(lines_.size() - (kCapacity - kDropBatch));
    }
}

void WorkLog::DropOldest(std::size_t count) {
    lines_.erase(lines_.begin(), lines_.begin() + static_cast<std::ptrdiff_t>(count));
    for (WorkLogListener* l : listeners_) {
        l->OldestDropped(count);
    }
}

void WorkLog::Clear() {
    lines_.clear();
    for (WorkLogListener* l : listeners_) {
        l->Cleared();
    }
}

void WorkLog::AddListener(WorkLogListener* listener) {
    listeners_.push_back(listener);
}

void WorkLog::RemoveListener(WorkLogListener* listener) {
    listeners_.erase(std::remove(listeners_.begin(), listeners_.end(), listener), listeners_.end());
}

void StderrLogListener::LineAppended(const std::string& line) {
    std::string utf8 = text::ToUtf8(line) + "\n";
    std::fwrite(utf8.data(), 1, utf8.size(), stderr);
    std::fflush(stderr);
}
