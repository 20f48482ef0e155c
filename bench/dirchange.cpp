// bench-dirchange [SECONDS]: processor time of an active watcher on an idle directory over
// SECONDS (default 10), as a share of one core; then the time from a file change to its event.
#include "desktop/DirChange.h"
#include "BenchUtil.h"

#include <QCoreApplication>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

void RunEventLoopFor(QCoreApplication& app, int ms) {
    QTimer::singleShot(ms, Qt::PreciseTimer, &app, &QCoreApplication::quit);
    app.exec();
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
    std::string dir = std::filesystem::temp_directory_path() / "bench-dirchange-XXXXXX";
    dir = std::string(::mkdtemp(dir.data())) + "/";
    for (const char* name : {"T1.txt", "R1.TXT", "R2.txt"}) {
        ::close(::open((dir + name).c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644));
    }

    desktop::TDirChange watcher;
    Clock::time_point changed;
    std::vector<double> latenciesUs;
    watcher.OnChangeWriteTime = [&](desktop::TDirChange&, const desktop::TDirEntry&,
                                    const desktop::TDirEntry&) {
        latenciesUs.push_back(
            std::chrono::duration<double, std::micro>(Clock::now() - changed).count());
    };
    desktop::RestartOn(watcher, dir);
    if (!watcher.Active()) {
        std::fprintf(stderr, "bench-dirchange: cannot watch %s\n", dir.c_str());
        return 1;
    }

    const double cpuBefore = bench::CpuSeconds();
    const auto wallBefore = Clock::now();
    RunEventLoopFor(app, seconds * 1000);
    const double cpu = bench::CpuSeconds() - cpuBefore;
    const double wall = std::chrono::duration<double>(Clock::now() - wallBefore).count();
    std::printf("idle watcher: %.3f ms processor time in %.2f s = %.4f %% of one core "
                "(target below 1 %%)\n",
                cpu * 1e3, wall, 100.0 * cpu / wall);

    constexpr int kChanges = 50;
    for (int i = 0; i < kChanges; ++i) {
        const std::size_t before = latenciesUs.size();
        int fd = ::open((dir + "R1.TXT").c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
        changed = Clock::now();
        (void)!::write(fd, "x", 1);
        ::close(fd);
        while (latenciesUs.size() == before) {
            QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
        }
        RunEventLoopFor(app, 5); // timestamps of the next write differ
    }
    std::sort(latenciesUs.begin(), latenciesUs.end());
    std::printf("change to event: median %.0f us, max %.0f us over %d writes\n",
                latenciesUs[latenciesUs.size() / 2], latenciesUs.back(), kChanges);

    watcher.SetActive(false);
    std::filesystem::remove_all(dir);
    return 0;
}
