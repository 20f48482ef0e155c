#include "app/MetricsFile.h"

#include "app/Metrics.h"
#include "text/Files.h"

#include <filesystem>

namespace app {

MetricsFile::MetricsFile(std::string dir, std::function<std::string(bool)> text,
                         std::function<void(const std::string&)> log)
    : dir_(std::move(dir)), path_(dir_ + kMetricsFile), text_(std::move(text)),
      log_(std::move(log)) {
    timer_.setInterval(kInterval);
    connect(&timer_, &QTimer::timeout, this, [this] { Write(true); });
}

void MetricsFile::Start() {
    std::error_code ignored; // a directory that cannot be made shows in the write's failure
    std::filesystem::create_directories(dir_, ignored);
    Write(true);
    timer_.start();
}

void MetricsFile::Finish() {
    if (finished_) {
        return;
    }
    finished_ = true;
    timer_.stop();
    Write(false);
}

// The exchange files' durability: the file matters only while someone scrapes it.
void MetricsFile::Write(bool running) {
    try {
        text::WriteFileAtomic(path_, text_(running), text::Durability::Cached);
        failing_ = false;
    } catch (const text::FileError& e) {
        if (!failing_) {
            log_(e.what());
        }
        failing_ = true;
    }
}

} // namespace app
