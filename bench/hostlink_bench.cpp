// Host message round trips: a post to an echoing peer process and its answer, first on the
// bare carrier (poll), then through the relay's endpoint on the event loop.
#include "BenchUtil.h"
#include "app/PumpWait.h"
#include "hostlink/HostEndpoint.h"
#include "hostlink/HostSocket.h"

#include <QCoreApplication>
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr unsigned kRelay = 1;
constexpr unsigned kEcho = 2;
constexpr int kRounds = 20000;

// The peer: answers every message with the same parameters until it gets code 16.
pid_t StartEcho(const std::string& dir) {
    pid_t pid = ::fork();
    if (pid == 0) {
        hostlink::HostSocket s;
        if (!s.Open(dir, kEcho).empty()) {
            ::_exit(1);
        }
        for (;;) {
            pollfd fd{s.Fd(), POLLIN, 0};
            ::poll(&fd, 1, 1000);
            while (auto m = s.Receive()) {
                if (m->second == 16) {
                    ::_exit(0);
                }
                s.Post(kRelay, *m);
            }
        }
    }
    while (!hostlink::WindowExists(dir, kEcho)) {
        ::usleep(1000);
    }
    return pid;
}

void Report(const char* what, std::vector<double>& us, double cpu, double wall) {
    std::sort(us.begin(), us.end());
    std::printf("%s: %d round trips in %.3f s; per round trip p50 %.1f us, p99 %.1f us, max %.1f "
                "us; relay-side cpu %.2f us per round trip\n",
                what, kRounds, wall, us[us.size() / 2], us[us.size() * 99 / 100], us.back(),
                1e6 * cpu / kRounds);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    char tmpl[] = "/tmp/dcr-bench-hostlink-XXXXXX";
    const std::string dir = ::mkdtemp(tmpl);
    pid_t echo = StartEcho(dir);

    {
        hostlink::HostSocket relay;
        relay.Open(dir, kRelay);
        std::vector<double> us;
        double cpu0 = bench::CpuSeconds(), wall0 = bench::WallSeconds();
        for (int i = 0; i < kRounds; ++i) {
            double t0 = bench::WallSeconds();
            relay.Post(kEcho, {1, 1});
            for (;;) {
                pollfd fd{relay.Fd(), POLLIN, 0};
                ::poll(&fd, 1, 1000);
                if (relay.Receive()) {
                    break;
                }
            }
            us.push_back(1e6 * (bench::WallSeconds() - t0));
        }
        Report("carrier (poll)", us, bench::CpuSeconds() - cpu0, bench::WallSeconds() - wall0);
    }
    {
        hostlink::HostEndpoint relay;
        std::string reason;
        relay.Open(dir, kRelay, reason);
        std::vector<double> us;
        int received = 0;
        QObject::connect(&relay, &hostlink::HostEndpoint::MessageReceived,
                         [&](quint32, qint32) { ++received; });
        double cpu0 = bench::CpuSeconds(), wall0 = bench::WallSeconds();
        for (int i = 0; i < kRounds; ++i) {
            double t0 = bench::WallSeconds();
            relay.Post(kEcho, 1, 1);
            while (received <= i) {
                QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
            }
            us.push_back(1e6 * (bench::WallSeconds() - t0));
        }
        Report("endpoint (event loop)", us, bench::CpuSeconds() - cpu0,
               bench::WallSeconds() - wall0);
        relay.Post(kEcho, 0, 16);
    }
    int status = 0;
    ::waitpid(echo, &status, 0);
    std::filesystem::remove_all(dir);
    return 0;
}
