// The menu download page of the main window as the download sees it: the cycle label and
// progress bar, the rule that a download disables "开始下载", "参数设置", "基站设置" and
// "连接基站" ("停止下载" stays enabled), its messages and its prompt.
#pragma once

#include "app/HideRule.h"
#include "app/MainView.h"
#include "menu/DownloadBroadcast.h"

namespace app {

class DownloadPage : public menu::DownloadView {
public:
    DownloadPage(MainView& view, HideRule& hideRule) : view_(view), hideRule_(hideRule) {}

    void SetCycleLabel(const std::string& text) override { view_.SetCycleLabel(text); }
    void SetCycleProgress(int position, int maximum) override {
        view_.SetProgress(position, maximum);
    }
    void SetDownloadCommandsEnabled(bool enabled) override;
    void StopHideTimer() override { hideRule_.Stop(); }
    void ShowDownloadMessage(const std::string& text, menu::MessageBox box) override;
    bool AskDownloadPrompt() override { return view_.AskDownloadPrompt(); }

private:
    MainView& view_;
    HideRule& hideRule_;
};

} // namespace app
