// A main view for controller tests: records what the controller asks of the window, and lets a
// test act inside each modal dialog as the operator would.
#pragma once

#include "app/MainView.h"

#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace testsupport {

class RecordingView : public app::MainView {
public:
    void ShowMessage(const std::string& caption, const std::string& text) override {
        messages.push_back(caption + ": " + text);
    }
    void ShowError(const std::string& message) override { messages.push_back("error: " + message); }
    void ShowMainWindow() override { visible = true; }
    void HideMainWindow() override { visible = false; }
    void SetCommandEnabled(app::Command command, bool enabled) override {
        enabledCommands[command] = enabled;
        commandChanges.emplace_back(command, enabled);
    }
    void HandheldViewChanged() override { ++handheldViewChanges; }
    void SetCycleLabel(const std::string&) override {}
    void SetProgress(int, int) override {}
    void SetProgressText(const std::string&) override {}
    bool AskDownloadPrompt() override { return true; }
    void OpenParameterDialog(const std::string& programDir) override {
        parameterDialogs.push_back(programDir);
        if (onParameterDialog) {
            onParameterDialog();
        }
    }
    void OpenBaseStationDialog(const std::vector<std::string>& names,
                               const app::BaseStationAccess& access) override {
        baseStationDialogs.push_back(names);
        if (onBaseStationDialog) {
            onBaseStationDialog(access);
        }
    }
    void ShowOperationRecords(const std::vector<app::OperationRecord>& rows) override {
        operationRecordViews.push_back(rows);
    }
    void LineAppended(const std::string&) override {}
    void Cleared() override {}

    bool visible = false;
    std::map<app::Command, bool> enabledCommands;
    std::vector<std::pair<app::Command, bool>> commandChanges; // in order
    std::vector<std::string> messages;                         // caption + ": " + text, GBK
    int handheldViewChanges = 0;
    std::vector<std::string> parameterDialogs;                // the program directory given
    std::vector<std::vector<std::string>> baseStationDialogs; // the names offered
    std::vector<std::vector<app::OperationRecord>> operationRecordViews;
    std::function<void()> onParameterDialog;
    std::function<void(const app::BaseStationAccess&)> onBaseStationDialog;
};

} // namespace testsupport
