#include "app/DownloadPage.h"

#include "menu/DownloadImage.h"
#include "text/Files.h"

#include <algorithm>

namespace app {

using std::chrono::milliseconds;

CycleSchedule::CycleSchedule(std::string_view image, const menu::DownloadPacing& pacing) {
    namespace dl = menu::download;
    const std::size_t blocks = dl::BlockCount(image.size());
    sentBefore_.assign(blocks + 1, 0);
    pauseFrom_.assign(blocks + 1, milliseconds{0});
    for (std::size_t k = 0; k < blocks; ++k) {
        sentBefore_[k + 1] = sentBefore_[k] + (dl::IsSent(dl::Block(image, k)) ? 1 : 0);
    }
    for (std::size_t k = blocks; k-- > 0;) {
        milliseconds pause{0};
        if (dl::IsSent(dl::Block(image, k))) {
            pause = pacing.afterPacket + (k == 0 ? pacing.afterBlockZero : milliseconds{0});
        }
        pauseFrom_[k] = pauseFrom_[k + 1] + pause;
    }
}

// At position p the block p - 1 has just been handled and its pause begins.
CycleSchedule::At CycleSchedule::Position(int position) const {
    if (Empty()) {
        return {};
    }
    const std::size_t p = std::min<std::size_t>(static_cast<std::size_t>(std::max(position, 0)),
                                                sentBefore_.size() - 1);
    return {sentBefore_[p], sentBefore_.back(), pauseFrom_[p == 0 ? 0 : p - 1]};
}

std::string CycleProgressText(const CycleSchedule::At& at) {
    const long long seconds = (at.left.count() + 999) / 1000;
    std::string left = std::to_string(seconds) + text::Fixed(" 秒");
    if (seconds >= 60) {
        left = std::to_string(seconds / 60) + text::Fixed(" 分 ") + std::to_string(seconds % 60) +
               text::Fixed(" 秒");
    }
    return text::Fixed("已发送数据包 ") + std::to_string(at.sent) + " / " +
           std::to_string(at.toSend) + text::Fixed("，本次循环剩余约 ") + left;
}

// Position 0 begins a cycle, or resets the bar when the download stops or ends: the text is
// cleared. The first block done reads the image that the cycle sends, to know its packets.
void DownloadPage::SetCycleProgress(int position, int maximum) {
    view_.SetProgress(position, maximum);
    if (position == 0) {
        schedule_ = {};
        view_.SetProgressText("");
        return;
    }
    if (schedule_.Empty()) {
        const auto image = text::ReadFile(menu::MenuPath(menuDir_, menu::kImageFile));
        if (!image) {
            return; // the bar alone; the cycle itself reports an unreadable image
        }
        schedule_ = CycleSchedule(*image, pacing_);
    }
    view_.SetProgressText(CycleProgressText(schedule_.Position(position)));
}

void DownloadPage::SetDownloadCommandsEnabled(bool enabled) {
    for (Command c :
         {Command::StartDownload, Command::ParamSet, Command::BaseSet, Command::Conn2Router}) {
        view_.SetCommandEnabled(c, enabled);
    }
}

void DownloadPage::ShowDownloadMessage(const std::string& text, menu::MessageBox box) {
    if (box == menu::MessageBox::Error) {
        view_.ShowError(text);
    } else {
        view_.ShowMessage(WindowCaption(), text);
    }
}

} // namespace app
