// The metrics file for a chain's monitoring: DIR/dcrelay.prom, replaced whole every 10 s and once
// more as the relay ends, so that node exporter's textfile collector never reads half a file.
// A failure to write is one work-log line, and one more only after a write has succeeded again.
#pragma once

#include <QObject>
#include <QTimer>
#include <chrono>
#include <functional>
#include <string>

namespace app {

class MetricsFile : public QObject {
public:
    static constexpr std::chrono::seconds kInterval{10};

    // text(running) makes the file's content; log takes a work-log line (GBK).
    MetricsFile(std::string dir, std::function<std::string(bool running)> text,
                std::function<void(const std::string&)> log);

    // Writes now; the timer writes every kInterval from the start on.
    void Start();
    // The last write, with the relay shown as ended. Later calls do nothing.
    void Finish();
    const std::string& Path() const { return path_; }

private:
    void Write(bool running);

    std::string dir_;
    std::string path_;
    std::function<std::string(bool)> text_;
    std::function<void(const std::string&)> log_;
    QTimer timer_;
    bool failing_ = false;
    bool finished_ = false;
};

} // namespace app
