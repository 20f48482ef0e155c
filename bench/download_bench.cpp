// The menu download broadcasting the example menu (examples/menu) with production pacing through
// a TComm to a pseudo-terminal's far end, for about 10 s (or argv[1] seconds): processor time of
// the main thread (the broadcast and its waits) and of the whole process (with the port's reader
// and writer threads and the far end's drain thread). Target: main thread below 2% of one core.
#include "BenchUtil.h"
#include "app/PumpWait.h"
#include "baselink/PdaReply.h"
#include "baselink/SerialComm.h"
#include "menu/DownloadBroadcast.h"
#include "menu/DownloadImage.h"
#include "support/PtyPair.h"
#include "worklog/WorkLog.h"

#include <QCoreApplication>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>

namespace fs = std::filesystem;

namespace {

double ThreadCpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// Slot 1 is the pseudo-terminal; the other slots have no port.
struct BenchLink : menu::DownloadPorts, menu::DownloadView, BasePorts {
    explicit BenchLink(TComm& comm)
        : comm(comm), sender(baseIds, *this, log, [](int) { return std::string(); }) {}

    void WriteToPort(int slot, const std::string& bytes) override { SendData(slot, bytes); }
    void SetBaseOneDtr(bool enabled) override {
        comm.SetDtrControl(enabled ? TDtrControl::DtrEnable : TDtrControl::DtrDisable);
    }
    void SendToBase(const std::string& hex, int slot) override {
        ++packets;
        sender.SendToBase(hex, slot);
    }
    bool SendData(int slot, const std::string& bytes) override {
        return slot == 1 && comm.SendData(bytes.data(), static_cast<std::uint16_t>(bytes.size()));
    }
    void SetCycleLabel(const std::string&) override { ++cycles; }
    void SetCycleProgress(int, int) override {}
    void SetDownloadCommandsEnabled(bool) override {}
    void StopHideTimer() override {}
    void ShowDownloadMessage(const std::string& text, menu::MessageBox) override {
        std::fprintf(stderr, "message: %s\n", text.c_str());
    }
    bool AskDownloadPrompt() override { return true; }

    TComm& comm;
    WorkLog log;
    std::array<std::string, kStationCount> baseIds{"02", "", "", ""};
    BaseSender sender;
    int packets = 0;
    int cycles = 0;
};

std::string ExampleMenuCopy() {
    char tmpl[] = "/tmp/dcr-bench-download-XXXXXX";
    const std::string dir = std::string(::mkdtemp(tmpl)) + "/";
    for (const auto& e : fs::directory_iterator(DCRELAY_SOURCE_DIR "/examples/menu")) {
        if (e.path().extension() == ".txt") {
            fs::copy_file(e.path(), dir + e.path().filename().string());
        }
    }
    return dir;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 10;
    const std::string menuDir = ExampleMenuCopy();

    testsupport::PtyPair pty;
    TComm comm;
    comm.SetCommName(pty.DevicePath());
    comm.SetTag(1);
    comm.SetBaudRate(115200);
    comm.SetOutx_XonXoffFlow(false);
    comm.SetInx_XonXoffFlow(false);
    comm.SetXonChar(0);
    comm.SetXoffChar(0);
    comm.OpenComm();

    BenchLink link(comm);
    app::PumpWaits waits;
    menu::DownloadBroadcast broadcast(link, link, menuDir, false, link.log, waits);
    broadcast.startDownload(); // prepares FF.bin and sends the start frame
    pty.WaitReceived(menu::download::StartFrame().size(), std::chrono::seconds(1));
    const std::size_t startBytes = pty.ReceivedCount();

    double wall0 = 0, thread0 = 0, process0 = 0;
    double wall = 0, thread = 0, process = 0;
    auto stop = [&] {
        wall = bench::WallSeconds() - wall0;
        thread = ThreadCpuSeconds() - thread0;
        process = bench::CpuSeconds() - process0;
        app::SetProgramEnding(true); // ends the stop's wait and the cycles at once
        broadcast.stopDownload();
    };
    QTimer::singleShot(0, [&] {
        wall0 = bench::WallSeconds();
        thread0 = ThreadCpuSeconds();
        process0 = bench::CpuSeconds();
        QTimer::singleShot(seconds * 1000, stop);
        broadcast.onBroadcastNotice("\x5A");
        app.quit();
    });
    app.exec();
    comm.CloseComm();
    fs::remove_all(menuDir);

    const std::size_t packetBytes = pty.ReceivedCount() - startBytes;
    std::printf("bench-download: broadcast of examples/menu, production pacing, %.1f s\n", wall);
    std::printf("  cycles begun %d, packets sent %d, bytes at the far end %zu (%zu packets)\n",
                link.cycles, link.packets, packetBytes, packetBytes / menu::download::kPacketSize);
    std::printf("  main thread processor time: %.3f s = %.2f%% of one core (target < 2%%)\n",
                thread, 100.0 * thread / wall);
    std::printf("  whole process processor time: %.3f s = %.2f%% of one core\n", process,
                100.0 * process / wall);
    return 0;
}
