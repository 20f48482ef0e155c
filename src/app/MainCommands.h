// The main window's side of the seam: what the operator can do (MainCommands) and what the
// window draws (MainState). The main controller implements both; the window forwards each user
// action to MainCommands and redraws from MainState when MainView says that something changed.
#pragma once

#include "admin/HandheldView.h"
#include "app/RelayStatus.h"
#include "worklog/WorkLog.h"

#include <string>

namespace app {

class MainCommands {
public:
    virtual ~MainCommands() = default;
    // "参数设置": the parameter dialog, then both files reloaded, the handheld view rebuilt and
    // "连接基站" started, whether or not the operator saved.
    virtual void ParameterSettings() = 0;
    // "基站设置": the base-station dialog with the selector's names; nothing is reloaded after.
    virtual void BaseStationSettings() = 0;
    // "连接基站" (act_ScanBaseSet).
    virtual void ConnectBaseStations() = 0;
    virtual void StartDownload() = 0; // "开始下载"
    virtual void StopDownload() = 0;  // "停止下载"
    // The base-station selector's choice changed (-1: no choice).
    virtual void SelectStation(int choice) = 0;
    // The tree's selection changed: the top-level node `station`, or its child `handheld` (-1:
    // the station node itself), both counted from 0; station -1: no node selected.
    virtual void SelectTreeNode(int station, int handheld) = 0;
    // The handheld list's selection changed (-1: none).
    virtual void SelectListItem(int item) = 0;
    // "查看工作日志" on the handheld list: the viewer for the selected handheld, if any.
    virtual void ShowOperationRecords() = 0;
    virtual void ClearLog() = 0; // "清除"
    // The close box, or a click on the strip below the work log.
    virtual void CloseRequest() = 0;
    // "显示窗口" or a double-click on the tray icon.
    virtual void ShowFromTray() = 0;
    // The main window became, or stopped being, the active window (the hide rule).
    virtual void WindowActivated() = 0;
    virtual void WindowDeactivated() = 0;
};

class MainState {
public:
    virtual ~MainState() = default;
    // The tree, the selector with its status label, and the handheld list.
    virtual const admin::THandheldView& HandheldPage() const = 0;
    // The work log's lines (the window's text area follows it as a WorkLogListener).
    virtual const WorkLog& Log() const = 0;
    // The activity of a handheld since start, as one GBK line for a tooltip or detail line: the
    // tree's child `handheld` of top-level node `station`, or list item `item`. Empty when there
    // is no such node or item.
    virtual std::string TreeNodeDetail(int station, int handheld) const = 0;
    virtual std::string ListItemDetail(int item) const = 0;
    // The stations answering, the host's presence and the requests waiting, as of now.
    virtual RelayStatus Status() const = 0;
};

} // namespace app
