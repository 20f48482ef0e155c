// Serial port component on pseudo-terminals:
//  1. delay from the last byte of a burst to its OnReceiveData on the main thread
//     (target: ReadIntervalTimeout + at most 5 ms, median);
//  2. throughput of SendData to the far end, in download-packet and in large calls;
//  3. processor time of four open, idle ports over 10 s (target: below 1% of one core).
#include "BenchUtil.h"
#include "app/PumpWait.h"
#include "baselink/SerialComm.h"
#include "support/EventPump.h"
#include "support/PtyPair.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <thread>
#include <vector>

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

void Configure(TComm& comm, const std::string& device) {
    comm.SetCommName(device);
    comm.SetBaudRate(115200);
    comm.SetOutx_XonXoffFlow(false);
    comm.SetInx_XonXoffFlow(false);
}

double Percentile(std::vector<double> v, double p) {
    std::sort(v.begin(), v.end());
    return v[static_cast<std::size_t>(p * (v.size() - 1))];
}

void DeliveryDelay() {
    testsupport::PtyPair pty;
    TComm comm;
    Configure(comm, pty.DevicePath());
    Clock::time_point delivered;
    int chunks = 0;
    comm.OnReceiveData = [&](TComm*, const char*, std::uint16_t) {
        delivered = Clock::now();
        ++chunks;
    };
    comm.OpenComm();
    const std::string burst(75, 'A');
    std::vector<double> delays;
    for (int i = 0; i < 40; ++i) {
        const int before = chunks;
        pty.Write(burst);
        const auto lastByte = Clock::now();
        testsupport::PumpUntil([&] { return chunks > before; }, 2s);
        delays.push_back(std::chrono::duration<double, std::milli>(delivered - lastByte).count());
        std::this_thread::sleep_for(10ms);
    }
    std::printf("delivery delay after a 75-byte burst (ReadIntervalTimeout %u ms, %zu bursts):\n"
                "  median %.2f ms, 90%% %.2f ms, max %.2f ms -> %.2f ms over the interval "
                "(target <= 5)\n",
                comm.ReadIntervalTimeout(), delays.size(), Percentile(delays, 0.5),
                Percentile(delays, 0.9), Percentile(delays, 1.0),
                Percentile(delays, 0.5) - comm.ReadIntervalTimeout());
}

void Throughput(std::size_t callSize, std::size_t total) {
    testsupport::PtyPair pty;
    TComm comm;
    Configure(comm, pty.DevicePath());
    comm.OpenComm();
    const std::string block(callSize, 'Z');
    const auto start = Clock::now();
    const double cpuStart = bench::CpuSeconds();
    for (std::size_t sent = 0; sent < total; sent += callSize) {
        comm.SendData(block.data(), static_cast<std::uint16_t>(block.size()));
    }
    const auto queued = Clock::now();
    pty.WaitReceived(total, 60s);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    std::printf("SendData %zu-byte calls, %zu MiB: %.1f MiB/s to the far end, queueing %.2f us "
                "per call, processor %.2f s\n",
                callSize, total >> 20, total / seconds / (1 << 20),
                std::chrono::duration<double, std::micro>(queued - start).count() /
                    (total / callSize),
                bench::CpuSeconds() - cpuStart);
}

void IdlePorts() {
    std::vector<std::unique_ptr<testsupport::PtyPair>> ptys;
    std::vector<std::unique_ptr<TComm>> comms;
    for (int i = 0; i < 4; ++i) {
        ptys.push_back(std::make_unique<testsupport::PtyPair>());
        comms.push_back(std::make_unique<TComm>());
        Configure(*comms.back(), ptys.back()->DevicePath());
        comms.back()->OpenComm();
    }
    app::PumpWait(0, 100); // let the writers report idle
    const double cpu = bench::CpuSeconds();
    const double wall = bench::WallSeconds();
    app::PumpWait(10, 0);
    const double used = bench::CpuSeconds() - cpu;
    const double elapsed = bench::WallSeconds() - wall;
    std::printf("four open idle ports for %.1f s: processor %.2f ms = %.3f%% of one core "
                "(target < 1%%)\n",
                elapsed, used * 1000, 100 * used / elapsed);
}

} // namespace

int main() {
    testsupport::EnsureCoreApplication();
    DeliveryDelay();
    Throughput(75, 8u << 20);
    Throughput(4096, 64u << 20);
    IdlePorts();
    return 0;
}
