// bench-window [LINES]
//  1. the idle relay with its window shown under Xvfb and jwm, four base stations simulated on
//     open ports, nothing arriving: the relay process's processor time over 20 s (target: below
//     1% of one core);
//  2. 100,000 (or LINES) work-log lines appended to the main window offscreen (the log and its
//     text area keep the newest lines): the time taken and the resident size before, at 20,000
//     lines and after.
#include "BenchUtil.h"
#include "FourStations.h"
#include "desktop/Unit1.h"
#include "support/BaseSim.h"
#include "support/EventPump.h"
#include "support/Instance.h"
#include "support/WaitUntil.h"
#include "support/XSession.h"
#include "text/Gbk.h"

#include <QApplication>
#include <QPlainTextEdit>
#include <QTabWidget>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <unistd.h>

using namespace std::chrono_literals;
using testsupport::BaseSim;

namespace {

double ResidentMiB() {
    std::ifstream statm("/proc/self/statm");
    long size = 0, resident = 0;
    statm >> size >> resident;
    return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) / 1048576.0;
}

void IdleWindowUnderX() {
    testsupport::XSession x;
    if (!x.Start()) {
        std::printf("idle window: %s\n", x.Error().c_str());
        return;
    }
    bench::FourStations stations;
    std::string error;
    if (!stations.Start(error)) {
        std::printf("idle window: no simulator: %s\n", error.c_str());
        return;
    }
    testsupport::Instance& inst = stations.inst;
    BaseSim host({"--runtime-dir", inst.RuntimeDir(), "--exchange", inst.Exchange(), "--stdin",
                  "--", inst.Relay()},
                 BaseSim::BuiltProgram("dcrelay-hostsim"));
    host.SetReadyEvent("started");
    if (!host.Start()) {
        std::printf("idle window: %s\n", host.Error().c_str());
        return;
    }
    long relay = host.Seen().back().Int("relay_pid");

    stations.sims[0]->WaitForKind("query", 5s);
    std::string window;
    testsupport::WaitUntil([&] { return !(window = x.WindowNamed("无线点菜机管理")).empty(); },
                           5000);
    sleep(2); // past the first showing and its hide
    host.Send("show");
    bool shown = testsupport::WaitUntil([&] { return x.Viewable(window); }, 3000);
    double c0 = bench::CpuSecondsOf(relay);
    double w0 = bench::WallSeconds();
    sleep(20);
    double cpu = bench::CpuSecondsOf(relay) - c0;
    double wall = bench::WallSeconds() - w0;
    std::printf("idle relay with its window %s under Xvfb, four open ports: cpu %.3f s in %.2f s "
                "= %.3f%% of one core (target < 1%%)\n",
                shown && x.Viewable(window) ? "shown" : "NOT SHOWN", cpu, wall, 100 * cpu / wall);
    host.Send("close");
    host.WaitForEvent("exit", 5s);
}

void ManyLines(int count) {
    testsupport::Instance inst;
    desktop::TForm1 window(desktop::Dialogs::Unattended);
    window.CreateController(inst.Dir(), app::Markers{}, inst.RuntimeDir(), "");
    WorkLog log; // the window's text area follows it as it follows the controller's
    log.AddListener(&window);
    window.PageControl1->setCurrentIndex(2);
    window.show();
    testsupport::PumpFor(200ms);
    double before = ResidentMiB();
    double at20k = 0;
    const std::string line =
        text::ToGbk("数据包:基站2 PDA:5 操作:9 时间:291615000000 数据:") + std::string(40, 'x');
    double w0 = bench::WallSeconds();
    for (int i = 1; i <= count; ++i) {
        log.Append(line + std::to_string(i));
        if (i % 1000 == 0) {
            QCoreApplication::processEvents(); // the text area repaints as it would
        }
        if (i == 20000) {
            at20k = ResidentMiB();
        }
    }
    testsupport::PumpFor(300ms); // the last batch reaches the text area
    double wall = bench::WallSeconds() - w0;
    std::printf("%d log lines into the window: %.2f s (%.1f us a line); resident %.1f MiB "
                "before, %.1f MiB at 20000 lines, %.1f MiB after; log %zu lines, text area %d "
                "lines\n",
                count, wall, wall * 1e6 / count, before, at20k, ResidentMiB(), log.LineCount(),
                window.Memo1->blockCount());
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        IdleWindowUnderX(); // before this process's own application: it sets DISPLAY for the relay
    }
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication application(argc, argv);
    ManyLines(argc > 1 ? std::atoi(argv[1]) : 100000);
    return 0;
}
