#include "app/Metrics.h"

#include "config/IniFile.h"
#include "text/Gbk.h"

#include <cstdio>

namespace app {
namespace {

// A label value: backslash, double quote and line feed escaped; UTF-8.
std::string LabelValue(const std::string& gbk) {
    std::string out;
    for (char c : text::ToUtf8(gbk)) {
        if (c == '\\' || c == '"') {
            out += '\\';
            out += c;
        } else if (c == '\n') {
            out += "\\n";
        } else {
            out += c;
        }
    }
    return out;
}

std::string Number(double value) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.15g", value);
    return buffer;
}

std::string Seconds(std::int64_t ms) {
    return Number(static_cast<double>(ms) / 1000.0);
}

class Exposition {
public:
    // Starts a metric family.
    Exposition& Family(const char* name, const char* type, const char* help) {
        name_ = name;
        out_ += std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " " + type + "\n";
        return *this;
    }
    // One sample of the family; labels already formatted ("slot=\"1\"").
    Exposition& Sample(const std::string& value, const std::string& labels = "",
                       const char* suffix = "") {
        out_ += name_ + suffix + (labels.empty() ? "" : "{" + labels + "}") + " " + value + "\n";
        return *this;
    }
    Exposition& Sample(std::uint64_t value, const std::string& labels = "") {
        return Sample(std::to_string(value), labels);
    }
    std::string Text() const { return out_; }

private:
    std::string name_;
    std::string out_;
};

std::string Label(const char* name, const std::string& gbk) {
    return std::string(name) + "=\"" + LabelValue(gbk) + "\"";
}

void Requests(Exposition& e, const MetricsCounters& c) {
    e.Family("dcrelay_requests_total", "counter",
             "Handheld requests received in good frames, refused ones included.");
    for (const auto& [key, count] : c.requests) {
        e.Sample(count, Label("base_id", key.first) + "," + Label("operation", key.second));
    }
    e.Family("dcrelay_answers_total", "counter", "Answers sent to handhelds, by status.");
    for (const char* status : {"OK", "NO"}) {
        const auto found = c.answers.find(status);
        e.Sample(found == c.answers.end() ? 0 : found->second, Label("status", status));
    }
    e.Family("dcrelay_refusals_total", "counter",
             "Requests refused by the relay itself, by reason.");
    e.Sample(c.refusedUnregistered, Label("reason", "unregistered"));
    e.Sample(c.refusedUnknownOperation, Label("reason", "unknown_operation"));
}

void Queue(Exposition& e, const HostStatus& host) {
    e.Family("dcrelay_requests_waiting", "gauge",
             "Requests not yet answered by the host, the one with the host included.");
    e.Sample(host.waiting);
    e.Family("dcrelay_oldest_request_age_seconds", "gauge",
             "How long the oldest waiting request has waited; 0 when none waits.");
    e.Sample(Seconds(host.oldestWaiting ? host.oldestWaiting->ageMs : 0));
    e.Family("dcrelay_host_up", "gauge",
             "1 while the host program's window exists (or none is expected), else 0.");
    e.Sample(HostGone(host) ? 0 : 1);
}

void Stations(Exposition& e, const RelaySnapshot& s, const MetricsCounters& c) {
    e.Family("dcrelay_station_up", "gauge",
             "1 while a configured base station's port is open and the station has answered.");
    for (const StationStatus& st : s.stations) {
        if (st.state != StationState::NotConfigured) {
            e.Sample(StationOut(st) ? 0 : 1, Label("slot", std::to_string(st.slot)) + "," +
                                                 Label("port", st.port) + "," +
                                                 Label("base_id", st.baseId));
        }
    }
    e.Family("dcrelay_port_hangups_total", "counter",
             "Times a base station's port hung up (its device vanished).");
    for (std::size_t i = 0; i < c.hangUps.size(); ++i) {
        e.Sample(c.hangUps[i], Label("slot", std::to_string(i + 1)));
    }
}

void AnswerTimes(Exposition& e, const Histogram& h) {
    e.Family("dcrelay_request_answer_seconds", "histogram",
             "Time from a request joining the queue to the delivery of the host's answer.");
    for (std::size_t i = 0; i < Histogram::kBounds.size(); ++i) {
        e.Sample(std::to_string(h.CountUpTo(i)), "le=\"" + Number(Histogram::kBounds[i]) + "\"",
                 "_bucket");
    }
    e.Sample(std::to_string(h.Count()), "le=\"+Inf\"", "_bucket");
    e.Sample(Number(h.Sum()), "", "_sum");
    e.Sample(std::to_string(h.Count()), "", "_count");
}

void Process(Exposition& e, const RelaySnapshot& s, const MetricsCounters& c, bool running) {
    e.Family("dcrelay_download_cycles_total", "counter", "Download cycles begun since start.");
    e.Sample(s.download.cyclesTotal);
    e.Family("dcrelay_download_packets_total", "counter", "Download packets sent since start.");
    e.Sample(s.download.packetsTotal);
    e.Family("dcrelay_download_running", "gauge", "1 while a download runs.");
    e.Sample(s.download.running ? 1 : 0);
    e.Family("dcrelay_worklog_file_errors_total", "counter",
             "Failures to write the work-log file.");
    e.Sample(c.workLogFileErrors);
    e.Family("dcrelay_start_time_seconds", "gauge", "When the relay started, in Unix time.");
    e.Sample(Seconds(s.started.unixMs));
    e.Family("dcrelay_running", "gauge",
             "1 while the relay runs; 0 in the file it leaves when it ends.");
    e.Sample(running ? 1 : 0);
}

} // namespace

void Histogram::Observe(double seconds) {
    for (std::size_t i = 0; i < kBounds.size(); ++i) {
        if (seconds <= kBounds[i]) {
            ++inBucket_[i];
            break;
        }
    }
    ++count_;
    sum_ += seconds;
}

std::uint64_t Histogram::CountUpTo(std::size_t i) const {
    std::uint64_t n = 0;
    for (std::size_t k = 0; k <= i && k < inBucket_.size(); ++k) {
        n += inBucket_[k];
    }
    return n;
}

std::string MetricsText(const RelaySnapshot& snapshot, const MetricsCounters& counters,
                        bool running) {
    Exposition e;
    Requests(e, counters);
    Queue(e, snapshot.host);
    Stations(e, snapshot, counters);
    AnswerTimes(e, counters.answerSeconds);
    Process(e, snapshot, counters, running);
    return e.Text();
}

std::string LoadMetricsDir(const std::string& iniPath, const std::string& programDir) {
    const config::IniFile ini = config::IniFile::FromFile(iniPath);
    const std::string dir = text::Trim(ini.ReadString("Support", "metrics", ""));
    if (dir.empty()) {
        return "";
    }
    const std::string absolute = dir.front() == '/' ? dir : programDir + dir;
    return absolute.back() == '/' ? absolute : absolute + "/";
}

} // namespace app
