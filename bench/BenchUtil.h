// Small helpers shared by the benchmark programs.
#pragma once

#include <chrono>
#include <sys/resource.h>

namespace bench {

// Processor time (user + system) of this process, in seconds.
inline double CpuSeconds() {
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
           static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

// The largest resident set this process has had, in KiB.
inline long PeakRssKiB() {
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return ru.ru_maxrss;
}

inline double WallSeconds() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

} // namespace bench
