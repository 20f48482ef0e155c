// The relay's own work per request, without the host's or the radio's time: composing request
// records (the largest order of 255 items among them), reading replies, and one full round trip
// request -> T1.txt -> R1.TXT -> reply -> next request through the real files. Waits take no
// time here, so the figures are the relay's processing alone. Prints microseconds per operation.
#include "BenchUtil.h"

#include "baselink/PdaReplySender.h"
#include "config/AppSettings.h"
#include "config/HandheldRegistry.h"
#include "relay/Relay.h"
#include "relay/ReplyFile.h"
#include "relay/RequestRecord.h"
#include "text/Files.h"
#include "text/Gbk.h"
#include "worklog/WorkLog.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <utility>

namespace {

struct NoWaits : Waits {
    std::function<void()> duringNext; // runs inside the next wait, once
    void Wait(unsigned, unsigned) override {
        if (duringNext) {
            std::exchange(duringNext, nullptr)();
        }
    }
    bool Ending() const override { return false; }
};
struct NoRetry : relay::RetryTimer {
    void Start(unsigned, std::function<void()>) override {}
    void Stop() override {}
    bool Active() const override { return false; }
};
struct CountingSender : PdaReplySender {
    std::size_t sent = 0;
    void SendPdaReply(int, std::uint8_t, std::uint8_t, const std::string&, const std::string&,
                      bool) override {
        ++sent;
    }
};
struct NoView : relay::HandheldView {
    void MarkLoggedIn(std::uint8_t, std::uint8_t) override {}
};

// Microseconds per call of f, run n times.
double PerCall(std::size_t n, const std::function<void()>& f) {
    const double start = bench::WallSeconds();
    for (std::size_t i = 0; i < n; ++i) {
        f();
    }
    return (bench::WallSeconds() - start) * 1e6 / static_cast<double>(n);
}

std::string OrderData(unsigned items) {
    std::string data = "0000012" + std::string("4 ") + "xx" + "000000000001";
    data += static_cast<char>(items);
    for (unsigned i = 0; i < items; ++i) {
        data += "00101" + std::string("   2") + "ABCDEFGHIJKL" + "01" + "0" + "zzzz";
    }
    return data;
}

} // namespace

int main() {
    const std::string time = "291615000000";
    std::size_t sink = 0;

    const std::string bigOrder = OrderData(255);
    const std::string smallOrder = OrderData(3);
    std::printf(
        "compose DC, 255 items (%zu bytes of data): %.2f us\n", bigOrder.size(),
        PerCall(2000, [&] { sink += relay::ComposeRequestRecord(7, 108, bigOrder, time).size(); }));
    std::printf("compose DC, 3 items: %.3f us\n", PerCall(200000, [&] {
                    sink += relay::ComposeRequestRecord(7, 108, smallOrder, time).size();
                }));
    const std::string login = "CNS0090008000 999     ";
    std::printf("compose DL: %.3f us\n", PerCall(200000, [&] {
                    sink += relay::ComposeRequestRecord(0, 108, login, time).size();
                }));

    std::string reply = "ZZCC 5\r\n";
    for (int i = 0; i < 60; ++i) {
        reply += text::ToGbk("宫保鸡丁已下单，请稍候") + "\r\n";
    }
    std::printf("parse and cut a reply of %zu bytes: %.2f us\n", reply.size(), PerCall(100000, [&] {
                    relay::ReplyFile r = relay::ParseReplyFile(reply);
                    sink += relay::HandheldReplyText(r.Body).size();
                }));

    // Round trip through the exchange files; the host answers every request at once. The relay
    // writes its exchange files to the page cache only (no fsync); the stand-in host does the
    // same, so that its write is not charged to the relay.
    std::string tmpl = (std::filesystem::temp_directory_path() / "bench-relay-XXXXXX").string();
    const std::string dir = std::string(::mkdtemp(tmpl.data())) + "/";
    config::AppSettings settings;
    settings.ExchangeDir = dir;
    config::HandheldRegistry registry;
    registry.Keys.insert("02005");
    WorkLog log;
    CountingSender sender;
    NoView view;
    NoWaits waits;
    NoRetry retry;
    struct Host : relay::HostNotifier {
        std::string dir;
        void NotifyHost() override {
            text::WriteFileAtomic(dir + "R1.TXT", "ZZCC 5\r\n" + text::ToGbk("已收到") + "\r\n",
                                  text::Durability::Cached);
        }
    } host;
    host.dir = dir;
    relay::Relay relay({settings, registry, log, sender, view, host, waits, retry});
    const std::size_t rounds = 500;
    const double roundTrip = PerCall(rounds, [&] {
        relay.HandleRequest(9, 2, 5, time, "0000012");
        relay.HandleReply();
        if (log.LineCount() > 300) {
            log.Clear();
        }
    });
    std::printf("round trip request -> T1.txt -> R1.TXT -> reply -> R2.txt (three atomic writes "
                "and renames without fsync, one of them the stand-in host's): %.1f us, %zu "
                "replies\n",
                roundTrip, sender.sent);

    // Hostile input: a reply file of 10 MB of line breaks, and a flood of reply-ready messages
    // that arrive while a run waits.
    struct StaleHost : relay::HostNotifier {
        void NotifyHost() override {}
    } stale;
    relay::Relay hostile({settings, registry, log, sender, view, stale, waits, retry});
    if (std::FILE* f = std::fopen((dir + "R1.TXT").c_str(), "wb")) {
        const std::string breaks(100'000, '\n');
        std::fputs("ZZCC 5\r\n", f);
        for (int i = 0; i < 100; ++i) {
            std::fwrite(breaks.data(), 1, breaks.size(), f);
        }
        std::fclose(f);
    }
    const long rssBefore = bench::PeakRssKiB();
    double start = bench::WallSeconds();
    hostile.HandleRequest(9, 2, 5, time, "0000012");
    hostile.HandleReply();
    std::printf("reply file of 10 MB of line breaks: %.1f ms, peak memory +%ld KiB\n",
                (bench::WallSeconds() - start) * 1e3, bench::PeakRssKiB() - rssBefore);
    const int flood = 1000000;
    hostile.HandleRequest(9, 2, 5, time, "0000012");
    waits.duringNext = [&] {
        for (int i = 0; i < flood; ++i) {
            hostile.ReplyReady();
        }
    };
    const std::size_t sentBefore = sender.sent;
    start = bench::WallSeconds();
    hostile.ReplyReady();
    std::printf("%d reply-ready messages during one run: %.3f us each, %zu handheld answered, "
                "%zu work-log lines\n",
                flood, (bench::WallSeconds() - start) * 1e6 / flood, sender.sent - sentBefore,
                log.LineCount());
    std::filesystem::remove_all(dir);
    return sink == 0 ? 1 : 0;
}
