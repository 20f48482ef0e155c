// The menu download: the start command prepares FF.bin and asks the base stations to start; a
// broadcast notice from a base station runs the cycles that send every non-empty 64-byte block of
// the image to base station 1, paced by waits that keep the event loop running, until the stop
// command. Everything runs on the main thread; a cycle sequence runs inside the handling of the
// chunk that carried the notice.
#pragma once

#include "menu/MenuPacker.h"
#include "text/Waits.h"

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

class WorkLog;

namespace menu {

// The base-station ports as the download uses them.
class DownloadPorts {
public:
    virtual ~DownloadPorts() = default;
    // Writes bytes straight to the port of slot 1..4; a port that is not open drops them.
    virtual void WriteToPort(int slot, const std::string& bytes) = 0;
    // The DTR control of slot 1's port: enabled or disabled, applied at once on an open port.
    virtual void SetBaseOneDtr(bool enabled) = 0;
    // Sends a hex-text frame to the slot when it has a BaseId (BaseSender::SendToBase).
    virtual void SendToBase(const std::string& hex, int slot) = 0;
};

// What the download shows and asks. Texts are GBK.
class DownloadView {
public:
    virtual ~DownloadView() = default;
    virtual void SetCycleLabel(const std::string& text) = 0;
    virtual void SetCycleProgress(int position, int maximum) = 0;
    // "开始下载", "参数设置", "基站设置" and "连接基站" together.
    virtual void SetDownloadCommandsEnabled(bool enabled) = 0;
    // Stops the hide timer Timer1, cancelling a pending hide of the main window.
    virtual void StopHideTimer() = 0;
    virtual void ShowDownloadMessage(const std::string& text, MessageBox box) = 0;
    // The modal prompt on a ready notice: true for "开始", false for "取消" or a closed dialog.
    virtual bool AskDownloadPrompt() = 0;
};

// Every pause of the download. Production values by default.
struct DownloadPacing {
    using Ms = std::chrono::milliseconds;
    Ms beforeCycle{1000};
    unsigned beforeCycleRandom = 800; // plus a random 0 .. this - 1 ms
    Ms afterBlockZero{2000};
    Ms afterPacket{90};
    Ms stopWait{5000};
    Ms readyWait{500};
};

// The image in 64-byte blocks and the 75-byte packets that carry them, as pure functions.
namespace download {

inline constexpr std::size_t kBlockSize = 64;
inline constexpr std::size_t kPacketSize = 75;
// The packet's index field has 16 bits: blocks past this many cannot be named.
inline constexpr std::size_t kMaxBlocks = 65536;

// "AA330000000455AA5AA501FE" as bytes.
const std::string& StartFrame();

// The image length divided by 64, remainder dropped, at most kMaxBlocks.
std::size_t BlockCount(std::size_t imageLength);
std::string_view Block(std::string_view image, std::size_t k);

// Counting test: valid unless bytes 0, 1 and 2 are all FF.
bool CountsAsValid(std::string_view block);
// Sending test: sent unless bytes 0, 1, 18, 19 and 20 are all FF.
bool IsSent(std::string_view block);
// The number of blocks of the image that pass the counting test, modulo 65536.
std::uint16_t ValidBlockCount(std::string_view image);

// The packet for block k as hex text: 0A, count, 00000000, k, the 64 bytes, the 16-bit sum.
std::string PacketHex(std::uint16_t validCount, std::size_t k, std::string_view block);

} // namespace download

class DownloadBroadcast {
public:
    // menuDir is read at each use (the settings' MenuDir, which a reload may change). Every pause
    // is spent in `waits`, whose end of the program also ends the cycles.
    DownloadBroadcast(DownloadPorts& ports, DownloadView& view, const std::string& menuDir,
                      bool debugLogging, WorkLog& log, Waits& waits, DownloadPacing pacing = {});

    // The start button: prepares FF.bin, clears the stop flag, disables the four commands,
    // pulses DTR on slot 1 and sends the start frame to slots 1 to 4.
    void startDownload();
    // The stop button: sets the stop flag, clears the page, waits and enables the commands.
    void stopDownload();
    // A chunk that begins with 5A: runs cycles until the download stops. Returns only then.
    void onBroadcastNotice(const std::string& chunk);
    // A chunk that begins with AA 4F: waits, stops the hide timer and asks the prompt; "开始"
    // sends the start frame again.
    void onReadyNotice(const std::string& chunk);

    // State, for the controller and tests.
    bool StopFlag() const { return stopFlag_; }
    int SequencesRunning() const { return sequencesRunning_; }

    // How far the download is, for support and monitoring.
    struct Counts {
        bool running = false;      // started and neither stopped nor ended
        int cycle = 0;             // the cycle under way, or the last one
        std::uint64_t packets = 0; // sent since the start
        std::uint64_t cyclesTotal = 0;
        std::uint64_t packetsTotal = 0;
    };
    const Counts& Progress() const { return counts_; }

private:
    // Why a cycle ended.
    enum class CycleEnd { Completed, Stopped, ImageUnreadable };

    void SendStartFrame();
    bool StopRequested(unsigned stopsAtStart) const;
    CycleEnd RunCycle(unsigned stopsAtStart);
    std::optional<std::size_t> SendBlocks(std::string_view image, std::uint16_t validCount,
                                          unsigned stopsAtStart);
    void AdvanceProgress();
    void EndOnUnreadableImage(const std::string& message);
    void Wait(DownloadPacing::Ms duration) const;
    DownloadPacing::Ms BeforeCycleWait() const;
    std::string CycleLabel(int cycle) const;

    DownloadPorts& ports_;
    DownloadView& view_;
    const std::string& menuDir_;
    bool debugLogging_;
    WorkLog& log_;
    Waits& waits_;
    DownloadPacing pacing_;

    std::atomic<bool> stopFlag_{false};
    // Counts every stop, so that a sequence left waiting under a stop never resumes sending
    // after a later start has cleared the flag again.
    unsigned stops_ = 0;
    int sequencesRunning_ = 0;
    int progress_ = 0;
    int progressMaximum_ = 0;
    Counts counts_;
};

} // namespace menu
