// Metrics for a chain's monitoring: the relay's counters since start and its state of the moment,
// in the text exposition format that Prometheus' node exporter reads from a directory with its
// textfile collector. Every metric has its HELP and TYPE lines; names begin with "dcrelay_".
#pragma once

#include "app/StatusSnapshot.h"
#include "text/Stations.h"

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <utility>

namespace app {

// A histogram of durations in seconds, with the exposition format's cumulative buckets.
class Histogram {
public:
    // Upper bounds in seconds: a host answers in well under a second; tens of seconds mean a
    // queue that drains slowly or a host that hangs.
    static constexpr std::array<double, 12> kBounds{0.05, 0.1, 0.25, 0.5, 1,   2.5,
                                                    5,    10,  30,   60,  120, 300};

    void Observe(double seconds);
    // Observations up to kBounds[i], cumulative.
    std::uint64_t CountUpTo(std::size_t i) const;
    std::uint64_t Count() const { return count_; }
    double Sum() const { return sum_; }

private:
    std::array<std::uint64_t, kBounds.size()> inBucket_{};
    std::uint64_t count_ = 0;
    double sum_ = 0;
};

struct MetricsCounters {
    // Requests decoded from good frames, refused ones included: (base-station ID, operation).
    std::map<std::pair<std::string, std::string>, std::uint64_t> requests;
    // Answers sent to handhelds by status ("OK", "NO").
    std::map<std::string, std::uint64_t> answers;
    std::uint64_t refusedUnregistered = 0;
    std::uint64_t refusedUnknownOperation = 0;
    std::array<std::uint64_t, kStationCount> hangUps{}; // by slot
    Histogram answerSeconds; // from joining the queue to the answer's delivery
    std::uint64_t workLogFileErrors = 0;
};

// The file's whole text. running: false in the last one the relay writes as it ends.
std::string MetricsText(const RelaySnapshot& snapshot, const MetricsCounters& counters,
                        bool running);

// The file the relay writes into the metrics directory.
inline const std::string kMetricsFile = "dcrelay.prom";

// "[Support] metrics=DIR" of the parameter file: the directory (made absolute against the
// program directory, ending in '/'), or "" when the key is missing or empty.
std::string LoadMetricsDir(const std::string& iniPath, const std::string& programDir);

} // namespace app
