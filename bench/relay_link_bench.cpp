// bench-relay-link [REQUESTS [--window-first]]
//  1. ticks and wall time to decode 1,000 valid frames queued at once;
//  2. processor time of the idle relay (controller in this process) with four open ports and
//     nothing arriving, over 10 s (target: below 1% of one core);
//  3. the relay process with dcrelay-basesim and dcrelay-hostsim: REQUESTS (default 1000)
//     requests from four handhelds; the relay's own time per request is the time from the
//     request burst to its reply, less the required waits (100 ms read silence, 20 ms and
//     100 ms before reading the reply) and the host simulator's own time, which it reports with
//     each answer (target: median below 5 ms); every request answered exactly once. Run twice:
//     the relay headless, then with its main window on the offscreen platform, or the other way
//     round with --window-first (target: median within 1 ms of headless);
//  4. the headless relay against the floor (bench-floor-relay: the same hops and waits and
//     nothing else), REQUESTS each, asked in turn (target: the relay's median at most 1.5 times
//     the floor's).
// bench-relay-link REQUESTS --floor [--exchange-in DIR] [--floor-copies]: only step 4; with the
// exchange directories in DIR (/dev/shm, say), to tell the file system's part from the relay's;
// with a floor that also writes the reply copy R2.txt, to show that file's part.
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
#include <memory>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

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

// One relay, or the floor in its place, between its own base-station and host simulators in
// a temporary installation.
class Link {
public:
    // program: "" for the relay of the installation, else the program and its arguments after
    // the port and the exchange directory. exchangeIn: a directory (on another file system) to
    // hold the exchange directory instead of the installation; "" for none.
    Link(const std::vector<std::string>& program, bool logFile, const std::string& exchangeIn = "")
        : inst_(Settings()) {
        if (!exchangeIn.empty()) {
            MoveExchange(exchangeIn);
        }
        if (logFile) {
            std::ofstream(inst_.Dir() + "dcfilepath.ini", std::ios::app)
                << "[Support]\r\nlogfile=1\r\n";
        }
        base_ = std::make_unique<BaseSim>(
            std::vector<std::string>{"--link", inst_.Port("COM1"), "--stay", "--gap", "0"});
        if (!base_->Start()) {
            error_ = base_->Error();
            return;
        }
        std::vector<std::string> args{"--runtime-dir",
                                      inst_.RuntimeDir(),
                                      "--exchange",
                                      inst_.Exchange(),
                                      "--reply",
                                      "OK\\n",
                                      "--"};
        if (program.empty()) {
            args.push_back(inst_.Relay());
        } else {
            args.insert(args.end(), {program[0], inst_.Port("COM1"), inst_.Exchange()});
            args.insert(args.end(), program.begin() + 1, program.end());
        }
        host_ = std::make_unique<BaseSim>(args, BaseSim::BuiltProgram("dcrelay-hostsim"));
        host_->SetReadyEvent("started");
        host_->Start();
        base_->WaitForKind("query", 5s);
        testsupport::PumpFor(500ms);
    }

    const std::string& Error() const { return error_; }
    const std::string& Dir() const { return inst_.Dir(); }
    std::string RuntimeDir() const { return inst_.RuntimeDir(); }
    long RelayPid() const {
        return host_->Seen().empty() ? 0 : host_->Seen().front().Int("relay_pid");
    }

    // Request i from one of four handhelds: the time from the request burst to its reply, less
    // the required waits (100 ms read silence, 20 ms and 100 ms before reading the reply) and
    // the host simulator's own time; nothing when no reply came.
    std::optional<double> Request(int i) {
        static const int kHandhelds[4] = {5, 108, 12, 200};
        std::string data = "n" + std::to_string(i);
        double t0 = bench::WallSeconds();
        base_->Send("req " + std::to_string(kHandhelds[i % 4]) + " KT " + data);
        auto reply = base_->WaitForKind("reply", 5s);
        double t1 = bench::WallSeconds();
        auto hostLine = host_->WaitForEvent("answered", 1s);
        if (!reply) {
            return std::nullopt;
        }
        const std::string hostMs = hostLine ? hostLine->Str("host_ms") : "";
        return (t1 - t0) * 1000 - 100 - 20 - 100 - (hostMs.empty() ? 0 : std::stod(hostMs));
    }

    // A reply that no request asked for.
    bool Extra() { return base_->WaitForKind("reply", 500ms).has_value(); }

    ~Link() {
        if (!movedExchange_.empty()) {
            std::filesystem::remove_all(movedExchange_);
        }
    }

private:
    // The installation's exchange directory becomes a link to a fresh directory in `parent`.
    void MoveExchange(const std::string& parent) {
        std::string dir = parent + "/dcr-exchange-XXXXXX";
        if (::mkdtemp(dir.data()) == nullptr) {
            error_ = "cannot make a directory in " + parent;
            return;
        }
        movedExchange_ = dir;
        std::string exchange = inst_.Exchange();
        exchange.pop_back();
        std::filesystem::remove(exchange);
        std::filesystem::create_symlink(dir, exchange);
    }

    static testsupport::InstanceSettings Settings() {
        testsupport::InstanceSettings s;
        s.registered = {"005", "108", "012", "200"};
        return s;
    }

    testsupport::Instance inst_;
    std::unique_ptr<BaseSim> base_, host_;
    std::string error_;
    std::string movedExchange_;
};

struct Times {
    std::vector<double> own;
    int lost = 0;

    void Add(std::optional<double> ms) {
        if (ms) {
            own.push_back(*ms);
        } else {
            ++lost;
        }
    }
    double At(double fraction) {
        std::sort(own.begin(), own.end());
        return own.empty() ? 0 : own[static_cast<std::size_t>(own.size() * fraction)];
    }
};

// The median of the relay's own time per request.
double EndToEnd(int count, const char* face, bool logFile = false) {
    ::setenv("DCRELAY_FACE", face, 1);
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    Link link({}, logFile);
    if (!link.Error().empty()) {
        std::printf("end to end: %s\n", link.Error().c_str());
        return 0;
    }
    Times t;
    for (int i = 0; i < count; ++i) {
        t.Add(link.Request(i));
    }
    const double median = t.At(0.5);
    std::printf("end to end, %s, %d requests from four handhelds: answered %zu, lost %d, extra "
                "%s; relay's own time per request median %.2f ms, 90%% %.2f ms (target median "
                "< 5 ms; includes the simulators' pipe and pty hops)\n",
                face, count, t.own.size(), t.lost, link.Extra() ? "yes" : "none", median,
                t.At(0.9));
    if (logFile) {
        std::uintmax_t bytes = 0;
        std::error_code error;
        for (const auto& f : std::filesystem::directory_iterator(link.Dir() + "logs", error)) {
            bytes += f.file_size();
        }
        std::printf("  with the work-log file on: %ju bytes written under logs/\n", bytes);
    }
    return median;
}

// The headless relay and the floor, each with its own simulators, asked in turn, request by
// request, so that both meet the same load on the machine.
// copy: the floor also writes the relay's reply copy R2.txt.
void AgainstTheFloor(int count, const std::string& exchangeIn = "", bool copy = false) {
    ::setenv("DCRELAY_FACE", "headless", 1);
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    std::vector<std::string> floorProgram{BaseSim::BuiltProgram("bench-floor-relay")};
    if (copy) {
        floorProgram.push_back("--copy");
    }
    Link relay({}, false, exchangeIn);
    Link floor(floorProgram, false, exchangeIn);
    for (const Link* link : {&relay, &floor}) {
        if (!link->Error().empty()) {
            std::printf("relay against the floor: %s\n", link->Error().c_str());
            return;
        }
    }
    Times r, f;
    for (int i = 0; i < count; ++i) {
        r.Add(relay.Request(i));
        f.Add(floor.Request(i));
    }
    const double relayMedian = r.At(0.5), floorMedian = f.At(0.5);
    std::printf("relay against the floor%s, %d requests each, in turn%s%s: relay median %.2f ms "
                "(90%% %.2f, lost %d), floor median %.2f ms (90%% %.2f, lost %d); ratio %.2f "
                "(target at most 1.5)\n",
                copy ? " writing R2.txt too" : "", count,
                exchangeIn.empty() ? "" : ", exchange files in ", exchangeIn.c_str(), relayMedian,
                r.At(0.9), r.lost, floorMedian, f.At(0.9), f.lost,
                floorMedian > 0 ? relayMedian / floorMedian : 0.0);
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

// The relay's own time per request without and with status questions, in alternating blocks
// of 20 requests, the first block with them when `askedFirst`.
void WithStatusQuestions(int count, bool askedFirst) {
    ::setenv("DCRELAY_FACE", "headless", 1);
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    Link link({}, false);
    if (!link.Error().empty()) {
        std::printf("status questions: %s\n", link.Error().c_str());
        return;
    }
    const long relayPid = link.RelayPid();
    StatusFlood flood(link.RuntimeDir());
    const auto asking = [&](int i) { return ((i / 20) % 2 == 1) != askedFirst; };
    Times quiet, asked;
    double quietCpu = 0, askedCpu = 0; // the relay process's processor seconds in each
    for (int i = 0; i < count; ++i) {
        flood.SetAsking(asking(i));
        testsupport::PumpFor(asking(i) != asking(i - 1) ? 50ms : 0ms);
        const double cpu0 = bench::CpuSecondsOf(relayPid);
        (asking(i) ? asked : quiet).Add(link.Request(i));
        (asking(i) ? askedCpu : quietCpu) += bench::CpuSecondsOf(relayPid) - cpu0;
    }
    const double without = quiet.At(0.5), with = asked.At(0.5);
    std::printf("status questions at 100/s (%d answered), %s first: median %.2f ms without "
                "questions (%zu requests), %.2f ms with them (%zu); with minus without %+.2f ms "
                "(target within 0.3 ms); the relay's processor time per request %.2f ms without, "
                "%.2f ms with\n",
                flood.Answered(), askedFirst ? "questions" : "quiet", without, quiet.own.size(),
                with, asked.own.size(), with - without,
                quietCpu * 1000 / std::max<std::size_t>(1, quiet.own.size()),
                askedCpu * 1000 / std::max<std::size_t>(1, asked.own.size()));
}

// What keeping records costs: one accepted request and its answer, the table full.
class NoLink : public PdaReplySender {
public:
    void SendPdaReply(int, std::uint8_t, std::uint8_t, const std::string&, const std::string&,
                      bool) override {}
};

void RecorderCost() {
    NoLink link;
    app::OperationRecorder recorder(link);
    const relay::PdaRequest request{7, 2, 5, "291615000000", std::string(24 + 3 * 28, '1')};
    const int rounds = 50000;
    double w0 = bench::WallSeconds();
    for (int i = 0; i < rounds; ++i) {
        recorder.RequestAccepted(request);
        recorder.SendPdaReply(7, 0x02, 5, "OK", "291615000000", true);
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
    if (argc > 2 && std::strcmp(argv[2], "--floor") == 0) {
        std::string exchangeIn;
        bool copy = false;
        for (int i = 3; i < argc; ++i) {
            if (std::strcmp(argv[i], "--exchange-in") == 0 && i + 1 < argc) {
                exchangeIn = argv[++i];
            } else if (std::strcmp(argv[i], "--floor-copies") == 0) {
                copy = true;
            }
        }
        AgainstTheFloor(count, exchangeIn, copy);
        return 0;
    }
    if (argc > 2 && std::strcmp(argv[2], "--status") == 0) {
        for (const bool askedFirst : {false, true}) {
            WithStatusQuestions(count, askedFirst);
        }
        return 0;
    }
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
    DecodeThousandFrames();
    IdleRelay();
    // --window-first swaps the two runs, to tell the window's cost from that of running second.
    const bool windowFirst = argc > 2 && std::strcmp(argv[2], "--window-first") == 0;
    const auto [headless, window] = PairInOrder(
        windowFirst, [&] { return EndToEnd(count, "headless"); },
        [&] { return EndToEnd(count, "window"); });
    std::printf("window face: median %+.2f ms against headless (target within 1 ms)\n",
                window - headless);
    AgainstTheFloor(count);
    return 0;
}
