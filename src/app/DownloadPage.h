// The menu download page of the main window as the download sees it: the cycle label and
// progress bar, the rule that a download disables "开始下载", "参数设置", "基站设置" and
// "连接基站" ("停止下载" stays enabled), its messages and its prompt. The bar counts the image's
// blocks; its text tells the operator how far the cycle is in packets and in time.
#pragma once

#include "app/HideRule.h"
#include "app/MainView.h"
#include "menu/DownloadBroadcast.h"

#include <chrono>
#include <string>
#include <string_view>
#include <vector>

namespace app {

// A cycle's packets and pauses, from the image and the pacing, by the bar's position (the
// number of blocks done).
class CycleSchedule {
public:
    CycleSchedule() = default;
    CycleSchedule(std::string_view image, const menu::DownloadPacing& pacing);

    struct At {
        std::size_t sent = 0;              // packets sent so far in this cycle
        std::size_t toSend = 0;            // packets the cycle sends in all
        std::chrono::milliseconds left{0}; // the pauses still to come, the current one included
    };
    At Position(int position) const;
    bool Empty() const { return sentBefore_.empty(); }

private:
    std::vector<std::size_t> sentBefore_; // packets among the first p blocks, p = 0 .. blocks
    std::vector<std::chrono::milliseconds> pauseFrom_; // the pauses of block p and after
};

// "已发送数据包 12 / 40，本次循环剩余约 4 秒" (GBK).
std::string CycleProgressText(const CycleSchedule::At& at);

class DownloadPage : public menu::DownloadView {
public:
    // menuDir: the settings' menu directory, read when a cycle begins.
    DownloadPage(MainView& view, HideRule& hideRule, const std::string& menuDir,
                 const menu::DownloadPacing& pacing)
        : view_(view), hideRule_(hideRule), menuDir_(menuDir), pacing_(pacing) {}

    void SetCycleLabel(const std::string& text) override { view_.SetCycleLabel(text); }
    void SetCycleProgress(int position, int maximum) override;
    void SetDownloadCommandsEnabled(bool enabled) override;
    void StopHideTimer() override { hideRule_.Stop(); }
    void ShowDownloadMessage(const std::string& text, menu::MessageBox box) override;
    bool AskDownloadPrompt() override { return view_.AskDownloadPrompt(); }

private:
    MainView& view_;
    HideRule& hideRule_;
    const std::string& menuDir_;
    menu::DownloadPacing pacing_;
    CycleSchedule schedule_; // of the running cycle; empty while none runs
};

} // namespace app
