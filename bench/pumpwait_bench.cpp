// Processor time of a 2 s PumpWait as a share of its wall time (target: below 2%).
#include "BenchUtil.h"
#include "app/PumpWait.h"

#include <QCoreApplication>
#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    double cpu0 = bench::CpuSeconds();
    double wall0 = bench::WallSeconds();
    app::PumpWait(2, 0);
    double cpu = bench::CpuSeconds() - cpu0;
    double wall = bench::WallSeconds() - wall0;
    std::printf("PumpWait(2, 0): wall %.3f s, cpu %.4f s, share %.2f%% (target < 2%%)\n", wall, cpu,
                100.0 * cpu / wall);
    return 0;
}
