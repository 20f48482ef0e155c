// bench-garbage [SECONDS]
// The relay process (started by dcrelay-hostsim) with base station 1 played by dcrelay-basesim
// and base station 2 by a pseudo-terminal that receives garbage at the line's full speed
// (115200 baud: 11,520 bytes a second, request heads claiming the longest body among random
// bytes) for SECONDS (default 60). Meanwhile handheld 5 sends a request on base station 1 every
// 250 ms. Prints the answers and their times against a run without garbage, and the relay's
// resident memory and processor time (targets: every request answered, memory flat).
#include "BenchUtil.h"
#include "support/BaseSim.h"
#include "support/Instance.h"
#include "support/LinkNoise.h"
#include "support/PtyPair.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace std::chrono_literals;
using testsupport::BaseSim;
using testsupport::SimLine;

namespace {

constexpr double kLineBytesPerSecond = 115200 / 10.0;

// Writes noise to the far end at the line's speed until stopped, in 10 ms slices.
class NoiseWriter {
public:
    explicit NoiseWriter(testsupport::PtyPair& pty) : pty_(pty) {}
    void Start() {
        thread_ = std::thread([this] { Run(); });
    }
    void Stop() {
        stop_ = true;
        thread_.join();
    }
    std::size_t Written() const { return written_; }

private:
    void Run() {
        const std::string noise = testsupport::LinkNoise(1 << 20, 7);
        const double start = bench::WallSeconds();
        while (!stop_) {
            auto due =
                static_cast<std::size_t>((bench::WallSeconds() - start) * kLineBytesPerSecond);
            while (written_ < due) {
                std::size_t at = written_ % noise.size();
                std::size_t n = std::min(due - written_, noise.size() - at);
                pty_.Write(noise.substr(at, n));
                written_ += n;
            }
            std::this_thread::sleep_for(10ms);
        }
    }

    testsupport::PtyPair& pty_;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<std::size_t> written_{0};
};

struct Answers {
    std::vector<double> ms;
    int lost = 0;

    double Quantile(double q) {
        if (ms.empty()) {
            return 0;
        }
        std::sort(ms.begin(), ms.end());
        return ms[std::min(ms.size() - 1, static_cast<std::size_t>(q * ms.size()))];
    }
};

// One request and its reply; the host simulator's lines are read too, or its output would fill.
void Request(BaseSim& base, BaseSim& host, int n, Answers& answers) {
    double t0 = bench::WallSeconds();
    base.Send("req 5 KT " + std::to_string(n));
    auto reply = base.WaitForKind("reply", 5s);
    if (reply) {
        answers.ms.push_back((bench::WallSeconds() - t0) * 1000);
    } else {
        ++answers.lost;
    }
    while (host.Next(0ms)) {
    }
}

} // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 60;
    testsupport::InstanceSettings s;
    s.ports = {"COM1", "COM2", "", ""};
    s.ids = {"02", "03", "", ""};
    testsupport::Instance inst(s);
    testsupport::PtyPair noisy;
    noisy.LinkAs(inst.Port("COM2"));
    BaseSim base({"--link", inst.Port("COM1"), "--stay", "--gap", "0"});
    if (!base.Start()) {
        std::printf("no base-station simulator: %s\n", base.Error().c_str());
        return 1;
    }
    BaseSim host({"--runtime-dir", inst.RuntimeDir(), "--exchange", inst.Exchange(), "--stdin",
                  "--reply", "OK\\n", "--", inst.Relay()},
                 BaseSim::BuiltProgram("dcrelay-hostsim"));
    host.SetReadyEvent("started");
    if (!host.Start() || !base.WaitForKind("query", 5s)) {
        std::printf("the relay did not start: %s\n", host.Error().c_str());
        return 1;
    }
    int pid = -1;
    for (const SimLine& line : host.Seen()) {
        if (line.Event() == "started") {
            pid = static_cast<int>(line.Int("relay_pid"));
        }
    }
    std::this_thread::sleep_for(500ms);

    Answers quiet;
    for (int n = 0; n < 20; ++n) {
        Request(base, host, n, quiet);
    }
    NoiseWriter writer(noisy);
    const long rssBefore = bench::RssKiBOf(pid);
    long rssMax = rssBefore;
    std::vector<long> rssSamples;
    const double cpu0 = bench::CpuSecondsOf(pid);
    const double t0 = bench::WallSeconds();
    writer.Start();
    Answers noisyRun;
    double nextSample = t0 + 5;
    for (int n = 0; bench::WallSeconds() - t0 < seconds; ++n) {
        double sent = bench::WallSeconds();
        Request(base, host, n, noisyRun);
        if (bench::WallSeconds() >= nextSample) {
            rssSamples.push_back(bench::RssKiBOf(pid));
            rssMax = std::max(rssMax, rssSamples.back());
            nextSample += 5;
        }
        std::this_thread::sleep_for(std::max(0.0, 0.25 - (bench::WallSeconds() - sent)) * 1s);
    }
    writer.Stop();
    const double wall = bench::WallSeconds() - t0;
    const double cpu = bench::CpuSecondsOf(pid) - cpu0;
    const long rssAfter = bench::RssKiBOf(pid);
    bool extra = base.WaitForKind("reply", 500ms).has_value();

    std::printf("garbage on base station 2: %zu bytes in %.1f s = %.0f bytes/s (line speed %.0f)\n",
                writer.Written(), wall, writer.Written() / wall, kLineBytesPerSecond);
    std::printf("requests on base station 1 without garbage: %zu answered, %d lost; reply time "
                "median %.0f ms, max %.0f ms\n",
                quiet.ms.size(), quiet.lost, quiet.Quantile(0.5), quiet.Quantile(1));
    std::printf("requests on base station 1 during the garbage: %zu answered, %d lost, extra %s; "
                "reply time median %.0f ms, 90%% %.0f ms, max %.0f ms\n",
                noisyRun.ms.size(), noisyRun.lost, extra ? "yes" : "none", noisyRun.Quantile(0.5),
                noisyRun.Quantile(0.9), noisyRun.Quantile(1));
    std::printf("relay resident memory: %ld KiB before, %ld KiB max, %ld KiB after (every 5 s:",
                rssBefore, rssMax, rssAfter);
    for (long kib : rssSamples) {
        std::printf(" %ld", kib);
    }
    std::printf(")\nrelay processor time during the garbage: %.2f s in %.1f s = %.2f%% of one "
                "core\n",
                cpu, wall, 100 * cpu / wall);
    host.Send("close");
    host.WaitExit(5s);
    return noisyRun.lost == 0 && !extra ? 0 : 1;
}
