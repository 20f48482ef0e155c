// Everything the main controller asks of a person or a widget. The main window implements it;
// without a display the headless implementation writes each message to standard error and
// answers with the default button.
#pragma once

#include <string>

namespace app {

// The commands that long operations enable and disable.
enum class Command {
    ParamSet,     // "参数设置" btn_ParamSet
    BaseSet,      // "基站设置" btn_BaseSet
    Conn2Router,  // "连接基站" btn_Conn2Router
    StartDownload // "开始下载" Button9
};

class MainView {
public:
    virtual ~MainView() = default;
    // A modal message box with an OK button (GBK texts).
    virtual void ShowMessage(const std::string& caption, const std::string& text) = 0;
    // An error that escaped an event handler, shown as the toolkit's error box.
    virtual void ShowError(const std::string& message) = 0;
    virtual void ShowMainWindow() = 0;
    virtual void HideMainWindow() = 0;
    virtual void SetCommandEnabled(Command command, bool enabled) = 0;
    // The handheld view's data changed (tree, selector, list or status label): redraw it.
    virtual void HandheldViewChanged() = 0;
    // The menu download page.
    virtual void SetCycleLabel(const std::string& text) = 0;
    virtual void SetProgress(int position, int maximum) = 0;
    // The download prompt: true for "开始", false for "取消" or a closed dialog.
    virtual bool AskDownloadPrompt() = 0;
};

} // namespace app
