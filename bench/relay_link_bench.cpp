// bench-relay-link [REQUESTS [--window-first]]
//  1. ticks and wall time to decode 1,000 valid frames queued at once;
//  2. processor time of the idle relay (controller in this process) with four open ports and
//     nothing arriving, over 10 s (target: below 1% of one core);
//  3. the relay process with dcrelay-basesim and dcrelay-hostsim: REQUESTS (default 1000)
//     requests from four handhelds; the relay's own time per request is the time from the
//     request burst to its reply, less the required waits (100 ms read silence, 20 ms and
//     100 ms before reading the reply) and the host simulator's own time (target: median
//     below 5 ms); every request answered exactly once. Run twice: the relay headless, then
//     with its main window on the offscreen platform, or the other way round with --window-first
//     (target: median within 1 ms of headless).
// bench-relay-link REQUESTS --status: only step 3, headless, with status questions at 100 per
// second on the relay's status socket in every other block of 20 requests, so that both halves
// share the machine's load; twice, the first block once without and once with the questions
// (target: the medians with and without within 0.3 ms in both).
// bench-relay-link REQUESTS --insight [--on-first]: only step 3, headless, twice in the same run,
// without and with the work-log file switched on (--on-first: with it first; the operation records
// are always kept), and the recorder's own cost per request and answer with a full table (target:
// the two medians within 0.5 ms).
#include "BenchUtil.h"
#include "FourStations.h"
#include "app/HeadlessView.h"
#include "app/MainController.h"
#include "app/OperationRecorder.h"
#include "app/PumpWait.h"
#include "baselink/BaseFrame.h"
#include "baselink/DataProcessor.h"
#include "baselink/xyTypeConv.h"
#include "hostlink/PrivateStream.h"
#include "support/BaseSim.h"
#include "support/EventPump.h"
#include "support/Instance.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <thread>
#include <utility>

using namespace std::chrono_literals;
using testsupport::BaseSim;
using testsupport::SimLine;

namespace {

void DecodeThousandFrames() {
    WorkLog log;
    int handed = 0;
    PipelineHandlers h;
    h.HandleRequest = [&](const RequestFrame&) { ++handed; };
    ReceivePipeline pipe(log, false, h);
    std::string frame =
        HexCodec::HexToText(BaseFrame::BuildRequest(2, 5, "291615000000", 7, std::string(80, 'x')));
    for (int i = 0; i < 1000; ++i) {
        pipe.Comm1ReceiveData(1, frame.data(), static_cast<int>(frame.size()));
    }
    double w0 = bench::WallSeconds();
    long ticks = 0;
    while (handed < 1000) {
        pipe.tim_DataProcTimer();
        ++ticks;
    }
    double wall = bench::WallSeconds() - w0;
    std::printf("decode 1000 queued frames: %ld ticks, %.3f ms of processing (at 1 ms a tick: "
                "%.1f s)\n",
                ticks, wall * 1000, ticks / 1000.0);
}

void IdleRelay() {
    bench::FourStations stations;
    std::string error;
    if (!stations.Start(error)) {
        std::printf("idle relay: no simulator: %s\n", error.c_str());
        return;
    }
    testsupport::Instance& inst = stations.inst;
    app::HeadlessView view;
    app::MainController controller(inst.Dir(), app::Markers{}, view, inst.RuntimeDir(), "");
    controller.ClearLog();
    controller.Create();
    testsupport::PumpUntil([&] { return !controller.Scan().Scanning(); }, 10s);
    double c0 = bench::CpuSeconds();
    double w0 = bench::WallSeconds();
    app::PumpWait(10, 0);
    double cpu = bench::CpuSeconds() - c0;
    double wall = bench::WallSeconds() - w0;
    std::printf("idle relay, four open ports: cpu %.4f s in %.2f s = %.3f%% of one core "
                "(target < 1%%)\n",
                cpu, wall, 100 * cpu / wall);
}

// Status questions to the relay at 100 per second while it lives.
class StatusFlood {
public:
    explicit StatusFlood(const std::string& runtimeDir)
        : asker_([this, runtimeDir] {
              auto next = std::chrono::steady_clock::now();
              while (!stop_) {
                  if (asking_) {
                      answered_ += hostlink::AskPrivateStream(runtimeDir, hostlink::kStatusSocket,
                                                              "status json", 1s)
                                       .kind == hostlink::PrivateAnswer::Kind::Answered;
                  }
                  next += 10ms;
                  std::this_thread::sleep_until(next);
              }
          }) {}
    ~StatusFlood() {
        stop_ = true;
        asker_.join();
    }
    void SetAsking(bool asking) { asking_ = asking; }
    int Answered() const { return answered_; }

private:
    std::atomic<bool> stop_{false};
    std::atomic<bool> asking_{false};
    std::atomic<int> answered_{0};
    std::thread asker_;
};

// The relay's own times per request without and with status questions.
struct StatusSplit {
    bool askedFirst = false; // the first block of requests has the questions
    std::vector<double> quiet, asked;
    double quietCpu = 0, askedCpu = 0; // the relay process's processor seconds in each
};

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

// The median of the relay's own time per request.
double EndToEnd(int count, const char* face, bool logFile = false, StatusSplit* split = nullptr) {
    ::setenv("DCRELAY_FACE", face, 1);
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    testsupport::InstanceSettings s;
    s.registered = {"005", "108", "012", "200"};
    testsupport::Instance inst(s);
    if (logFile) {
        std::ofstream(inst.Dir() + "dcfilepath.ini", std::ios::app) << "[Support]\r\nlogfile=1\r\n";
    }
    BaseSim base({"--link", inst.Port("COM1"), "--stay", "--gap", "0"});
    if (!base.Start()) {
        std::printf("end to end: %s\n", base.Error().c_str());
        return 0;
    }
    BaseSim host({"--runtime-dir", inst.RuntimeDir(), "--exchange", inst.Exchange(), "--reply",
                  "OK\\n", "--", inst.Relay()},
                 BaseSim::BuiltProgram("dcrelay-hostsim"));
    host.SetReadyEvent("started");
    host.Start();
    base.WaitForKind("query", 5s);
    testsupport::PumpFor(500ms);
    const long relayPid = host.Seen().empty() ? 0 : host.Seen().front().Int("relay_pid");
    std::optional<StatusFlood> flood;
    if (split) {
        flood.emplace(inst.RuntimeDir());
    }
    const auto asking = [&](int i) { return split && ((i / 20) % 2 == 1) != split->askedFirst; };
    const int handhelds[4] = {5, 108, 12, 200};
    std::vector<double> own;
    std::map<std::string, int> answered;
    int lost = 0;
    for (int i = 0; i < count; ++i) {
        std::string data = "n" + std::to_string(i);
        if (flood) {
            flood->SetAsking(asking(i));
            testsupport::PumpFor(asking(i) != asking(i - 1) ? 50ms : 0ms);
        }
        const double relayCpu0 = split ? bench::CpuSecondsOf(relayPid) : 0;
        double t0 = bench::WallSeconds();
        base.Send("req " + std::to_string(handhelds[i % 4]) + " KT " + data);
        auto reply = base.WaitForKind("reply", 5s);
        double t1 = bench::WallSeconds();
        auto hostLine = host.WaitForEvent("answered", 1s);
        if (!reply) {
            ++lost;
            continue;
        }
        double hostMs =
            hostLine ? std::stod(hostLine->Str("host_ms").empty() ? "0" : hostLine->Str("host_ms"))
                     : 0;
        own.push_back((t1 - t0) * 1000 - 100 - 20 - 100 - hostMs);
        if (split) {
            (asking(i) ? split->asked : split->quiet).push_back(own.back());
            (asking(i) ? split->askedCpu : split->quietCpu) +=
                bench::CpuSecondsOf(relayPid) - relayCpu0;
        }
        ++answered[reply->Str("time") + reply->Str("text") + std::to_string(i)];
    }
    std::sort(own.begin(), own.end());
    double median = own.empty() ? 0 : own[own.size() / 2];
    double p90 = own.empty() ? 0 : own[own.size() * 9 / 10];
    bool extra = base.WaitForKind("reply", 500ms).has_value();
    std::printf("end to end, %s, %d requests from four handhelds: answered %zu, lost %d, extra "
                "%s; relay's own time per request median %.2f ms, 90%% %.2f ms (target median "
                "< 5 ms; includes the simulators' pipe and pty hops)\n",
                face, count, own.size(), lost, extra ? "yes" : "none", median, p90);
    if (flood) {
        std::printf("  with status questions at 100/s: %d answered\n", flood->Answered());
    }
    if (logFile) {
        std::uintmax_t bytes = 0;
        std::error_code error;
        for (const auto& f : std::filesystem::directory_iterator(inst.Dir() + "logs", error)) {
            bytes += f.file_size();
        }
        std::printf("  with the work-log file on: %ju bytes written under logs/\n", bytes);
    }
    return median;
}

// What keeping records costs: one accepted request and its answer, the table full.
class NoLink : public PdaReplySender {
public:
    void SendPdaReply(int, const std::string&, const std::string&, const std::string&,
                      const std::string&, bool) override {}
};

void RecorderCost() {
    NoLink link;
    app::OperationRecorder recorder(link);
    const relay::PdaRequest request{7, 2, 5, "291615000000", std::string(24 + 3 * 28, '1')};
    const int rounds = 50000;
    double w0 = bench::WallSeconds();
    for (int i = 0; i < rounds; ++i) {
        recorder.RequestAccepted(request);
        recorder.SendPdaReply(7, "0205", "5", "OK", "291615000000", true);
    }
    double us = (bench::WallSeconds() - w0) * 1e6 / rounds;
    std::printf("records: %.2f us per request and answer, %zu records kept\n", us,
                recorder.Records().size());
}

// Runs both halves of a comparison, the second first when `secondFirst`; their medians in the
// order given.
template <typename First, typename Second>
std::pair<double, double> PairInOrder(bool secondFirst, First first, Second second) {
    if (secondFirst) {
        const double b = second();
        return {first(), b};
    }
    const double a = first();
    return {a, second()};
}

} // namespace

int main(int argc, char** argv) {
    testsupport::EnsureCoreApplication();
    int count = argc > 1 ? std::atoi(argv[1]) : 1000;
    if (argc > 2 && std::strcmp(argv[2], "--insight") == 0) {
        // --on-first swaps the two runs, to tell the file's cost from that of running second.
        const bool onFirst = argc > 3 && std::strcmp(argv[3], "--on-first") == 0;
        RecorderCost();
        const auto [off, on] = PairInOrder(
            onFirst, [&] { return EndToEnd(count, "headless", false); },
            [&] { return EndToEnd(count, "headless", true); });
        std::printf("work-log file on minus off: %+.2f ms median (target within 0.5 ms)\n",
                    on - off);
        return 0;
    }
    if (argc > 2 && std::strcmp(argv[2], "--status") == 0) {
        for (const bool askedFirst : {false, true}) {
            StatusSplit split;
            split.askedFirst = askedFirst;
            EndToEnd(count, "headless", false, &split);
            const double quiet = Median(split.quiet), asked = Median(split.asked);
            std::printf("  %s first: median %.2f ms without questions (%zu requests), %.2f ms "
                        "with them (%zu); with minus without %+.2f ms (target within 0.3 ms); "
                        "the relay's processor time per request %.2f ms without, %.2f ms "
                        "with\n",
                        askedFirst ? "questions" : "quiet", quiet, split.quiet.size(), asked,
                        split.asked.size(), asked - quiet,
                        split.quietCpu * 1000 / std::max<std::size_t>(1, split.quiet.size()),
                        split.askedCpu * 1000 / std::max<std::size_t>(1, split.asked.size()));
        }
        return 0;
    }
    DecodeThousandFrames();
    IdleRelay();
    // --window-first swaps the two runs, to tell the window's cost from that of running second.
    const bool windowFirst = argc > 2 && std::strcmp(argv[2], "--window-first") == 0;
    const auto [headless, window] = PairInOrder(
        windowFirst, [&] { return EndToEnd(count, "headless"); },
        [&] { return EndToEnd(count, "window"); });
    std::printf("window face: median %+.2f ms against headless (target within 1 ms)\n",
                window - headless);
    return 0;
}
