// Everything the main controller asks of a person or a widget. The main window implements it;
// without a display the headless implementation writes each message to standard error and
// answers with the default button.
#pragma once

#include "app/OperationRecords.h"
#include "baselink/PdaReply.h"
#include "text/Gbk.h"
#include "text/Stations.h"
#include "text/Waits.h"
#include "worklog/WorkLog.h"

#include <array>
#include <string>
#include <vector>

namespace app {

// The main window's caption, also the caption of its message boxes.
inline const std::string& WindowCaption() {
    return text::Fixed("无线点菜机管理");
}

// The commands that long operations enable and disable. "停止下载" is never disabled.
enum class Command {
    ParamSet,     // "参数设置" btn_ParamSet
    BaseSet,      // "基站设置" btn_BaseSet
    Conn2Router,  // "连接基站" btn_Conn2Router
    StartDownload // "开始下载" Button9
};

// What the base-station dialog works on, all owned by the main controller: the four ports (a
// frame goes straight to the chosen slot's port; a closed port drops it), the waits during which
// the station's answer is handled, the configured IDs, and the channel texts that the receive
// path sets (the dialog resets all four before it changes a station, then reads one).
struct BaseStationAccess {
    BasePorts& ports;
    Waits& waits;
    const std::array<std::string, kStationCount>& baseIds;
    std::array<std::string, kStationCount>& channelText;
};

// The work log's changes reach the view as a WorkLogListener (the window's text area).
class MainView : public WorkLogListener {
public:
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
    // The bar's text: how far the cycle is (GBK); empty while no cycle runs.
    virtual void SetProgressText(const std::string& text) = 0;
    // The download prompt: true for "开始", false for "取消" or a closed dialog.
    virtual bool AskDownloadPrompt() = 0;

    // The modal dialogs; each returns when its dialog has closed.
    // The parameter dialog over the two configuration files of programDir (ends in '/').
    virtual void OpenParameterDialog(const std::string& programDir) = 0;
    // The base-station dialog; names become its selector's choices (choice k: station k+1).
    virtual void OpenBaseStationDialog(const std::vector<std::string>& names,
                                       const BaseStationAccess& access) = 0;
    // The operation record viewer with the rows of one handheld.
    virtual void ShowOperationRecords(const std::vector<OperationRecord>& rows) = 0;

    // The alarm changed: why (GBK), or "" when all is normal again; `fresh` when a cause is new.
    // Returns true when a person sees it; else the controller writes it to the work log.
    virtual bool ShowAlarm(const std::string& /*reasons*/, bool /*fresh*/) { return false; }
};

} // namespace app
