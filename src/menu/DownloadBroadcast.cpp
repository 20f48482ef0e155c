#include "menu/DownloadBroadcast.h"

#include "baselink/xyTypeConv.h"
#include "menu/DownloadImage.h"
#include "text/Files.h"
#include "text/Gbk.h"
#include "text/Stations.h"
#include "worklog/WorkLog.h"

#include <algorithm>
#include <optional>
#include <random>

namespace menu {

// --- blocks and packets ---------------------------------------------------------------------

namespace download {
namespace {

bool IsFf(std::string_view block, std::size_t i) {
    return static_cast<unsigned char>(block[i]) == 0xFF;
}

} // namespace

const std::string& StartFrame() {
    // Head AA, command 33, 00 00, data length 4, the data and the 16-bit sum of the data.
    static const std::string frame = [] {
        const std::string data = "55AA5AA5";
        return HexCodec::HexToText("AA33"
                                   "0000"
                                   "0004" +
                                   data + HexCodec::HexSum16(data));
    }();
    return frame;
}

std::size_t BlockCount(std::size_t imageLength) {
    return std::min(imageLength / kBlockSize, kMaxBlocks);
}

std::string_view Block(std::string_view image, std::size_t k) {
    return image.substr(k * kBlockSize, kBlockSize);
}

bool CountsAsValid(std::string_view block) {
    return !(IsFf(block, 0) && IsFf(block, 1) && IsFf(block, 2));
}

bool IsSent(std::string_view block) {
    for (std::size_t i : {0, 1, 18, 19, 20}) {
        if (!IsFf(block, i)) {
            return true;
        }
    }
    return false;
}

std::uint16_t ValidBlockCount(std::string_view image) {
    std::uint16_t count = 0;
    for (std::size_t k = 0; k < BlockCount(image.size()); ++k) {
        if (CountsAsValid(Block(image, k))) {
            ++count;
        }
    }
    return count;
}

std::string PacketHex(std::uint16_t validCount, std::size_t k, std::string_view block) {
    std::string hex = "0A";
    hex += HexCodec::ToHex(validCount, 4);
    hex += "00000000";
    hex += HexCodec::ToHex(static_cast<std::int32_t>(k & 0xFFFF), 4);
    hex += HexCodec::BytesToHex(std::string(block));
    hex += HexCodec::HexSum16(hex);
    return hex;
}

} // namespace download

// --- the download ---------------------------------------------------------------------------

namespace {

// Counts the cycle sequences on the stack, also when one ends by an error.
class RunningSequence {
public:
    explicit RunningSequence(int& count) : count_(count) { ++count_; }
    ~RunningSequence() { --count_; }
    RunningSequence(const RunningSequence&) = delete;
    RunningSequence& operator=(const RunningSequence&) = delete;

private:
    int& count_;
};

std::string FourDigitHex(std::size_t n) {
    return HexCodec::ToHex(static_cast<std::int32_t>(n), 4);
}

} // namespace

DownloadBroadcast::DownloadBroadcast(DownloadPorts& ports, DownloadView& view,
                                     const std::string& menuDir, bool debugLogging, WorkLog& log,
                                     Waits& waits, DownloadPacing pacing)
    : ports_(ports), view_(view), menuDir_(menuDir), debugLogging_(debugLogging), log_(log),
      waits_(waits), pacing_(pacing) {}

void DownloadBroadcast::startDownload() {
    const PackResult prepared = prepareDownload(menuDir_, log_);
    if (!prepared) {
        view_.ShowDownloadMessage(prepared.message, prepared.box);
        return;
    }
    stopFlag_ = false;
    counts_.running = true;
    counts_.cycle = 0;
    counts_.packets = 0;
    view_.SetDownloadCommandsEnabled(false);
    ports_.SetBaseOneDtr(true);
    ports_.SetBaseOneDtr(false);
    SendStartFrame();
}

void DownloadBroadcast::stopDownload() {
    stopFlag_ = true;
    counts_.running = false;
    ++stops_;
    view_.SetCycleProgress(0, progressMaximum_);
    view_.SetCycleLabel("");
    Wait(pacing_.stopWait);
    view_.SetDownloadCommandsEnabled(true);
}

void DownloadBroadcast::onBroadcastNotice(const std::string& /*chunk*/) {
    RunningSequence running(sequencesRunning_);
    const unsigned stopsAtStart = stops_;
    for (int cycle = 1; !StopRequested(stopsAtStart); ++cycle) {
        view_.SetCycleLabel(CycleLabel(cycle));
        counts_.cycle = cycle;
        ++counts_.cyclesTotal;
        Wait(BeforeCycleWait());
        if (waits_.Ending() || RunCycle(stopsAtStart) == CycleEnd::ImageUnreadable) {
            return;
        }
    }
}

void DownloadBroadcast::onReadyNotice(const std::string& /*chunk*/) {
    Wait(pacing_.readyWait);
    if (waits_.Ending()) {
        return;
    }
    view_.StopHideTimer();
    if (view_.AskDownloadPrompt()) {
        SendStartFrame();
    }
}

void DownloadBroadcast::SendStartFrame() {
    for (int slot = 1; slot <= kStationCount; ++slot) {
        ports_.WriteToPort(slot, download::StartFrame());
    }
}

// A sequence ends at the stop flag, at any stop made since it began (a later start clears the
// flag, but not for a sequence that was left waiting under the stop), and when the program ends.
bool DownloadBroadcast::StopRequested(unsigned stopsAtStart) const {
    return stopFlag_ || stops_ != stopsAtStart || waits_.Ending();
}

DownloadBroadcast::CycleEnd DownloadBroadcast::RunCycle(unsigned stopsAtStart) {
    const std::string path = MenuPath(menuDir_, kImageFile);
    std::optional<std::string> image;
    try {
        image = text::ReadWholeFile(path);
    } catch (const text::FileError& e) {
        EndOnUnreadableImage(e.what());
        return CycleEnd::ImageUnreadable;
    }
    log_.Append(text::Fixed("下发文件：") + text::SystemTextToGbk(menuDir_) + kImageFile);

    progressMaximum_ = static_cast<int>(download::BlockCount(image->size()));
    progress_ = 0;
    view_.SetCycleProgress(progress_, progressMaximum_);

    const std::uint16_t validCount = download::ValidBlockCount(*image);
    if (debugLogging_) {
        log_.Append(text::Fixed("有效数据包数：") + FourDigitHex(validCount));
    }
    const std::optional<std::size_t> sent = SendBlocks(*image, validCount, stopsAtStart);
    if (!sent) {
        return CycleEnd::Stopped;
    }
    if (debugLogging_) {
        log_.Append(text::Fixed("下载数据包数：") + FourDigitHex(*sent));
    }
    return CycleEnd::Completed;
}

// The sending pass; the number of packets sent, or nothing when the download stopped.
std::optional<std::size_t> DownloadBroadcast::SendBlocks(std::string_view image,
                                                         std::uint16_t validCount,
                                                         unsigned stopsAtStart) {
    std::size_t sent = 0;
    for (std::size_t k = 0; k < download::BlockCount(image.size()); ++k) {
        if (StopRequested(stopsAtStart)) {
            return std::nullopt;
        }
        const std::string_view block = download::Block(image, k);
        if (!download::IsSent(block)) {
            AdvanceProgress();
            continue;
        }
        ports_.SendToBase(download::PacketHex(validCount, k, block), 1);
        AdvanceProgress();
        ++sent;
        ++counts_.packets;
        ++counts_.packetsTotal;
        if (k == 0) {
            Wait(pacing_.afterBlockZero);
            if (waits_.Ending()) {
                return std::nullopt;
            }
        }
        Wait(pacing_.afterPacket);
    }
    return sent;
}

void DownloadBroadcast::AdvanceProgress() {
    view_.SetCycleProgress(++progress_, progressMaximum_);
}

// The image cannot be read: the download ends as after a stop, without the stop's wait since
// nothing is on its way, and the operator sees why.
void DownloadBroadcast::EndOnUnreadableImage(const std::string& message) {
    stopFlag_ = true;
    counts_.running = false;
    ++stops_;
    progress_ = 0;
    view_.SetCycleProgress(0, progressMaximum_);
    view_.SetCycleLabel("");
    view_.SetDownloadCommandsEnabled(true);
    view_.ShowDownloadMessage(message, MessageBox::Error);
}

void DownloadBroadcast::Wait(DownloadPacing::Ms duration) const {
    const auto ms = static_cast<unsigned>(std::max<DownloadPacing::Ms::rep>(duration.count(), 0));
    waits_.Wait(ms / 1000, ms % 1000);
}

// 1 s plus a random 0 to 799 ms, the generator seeded anew from the clock for every draw.
DownloadPacing::Ms DownloadBroadcast::BeforeCycleWait() const {
    if (pacing_.beforeCycleRandom == 0) {
        return pacing_.beforeCycle;
    }
    std::mt19937 random(static_cast<std::mt19937::result_type>(
        std::chrono::system_clock::now().time_since_epoch().count()));
    return pacing_.beforeCycle + DownloadPacing::Ms(random() % pacing_.beforeCycleRandom);
}

std::string DownloadBroadcast::CycleLabel(int cycle) const {
    return text::Fixed("现在正在下载第") + std::to_string(cycle) +
           text::Fixed("次，请检测PDA是否全部下载完成");
}

} // namespace menu
