// The main view without a display: every message box and prompt goes to standard error as UTF-8
// and is answered with its default button; the rest is kept as state for tests to read.
#pragma once

#include "app/MainView.h"

#include <map>
#include <string>
#include <vector>

namespace app {

class HeadlessView : public MainView {
public:
    void ShowMessage(const std::string& caption, const std::string& text) override;
    void ShowError(const std::string& message) override;
    void ShowMainWindow() override { visible = true; }
    void HideMainWindow() override { visible = false; }
    void SetCommandEnabled(Command command, bool enabled) override {
        enabledCommands[command] = enabled;
    }
    void HandheldViewChanged() override { ++handheldViewChanges; }
    void SetCycleLabel(const std::string& text) override { cycleLabel = text; }
    void SetProgress(int position, int maximum) override {
        progress = position;
        progressMax = maximum;
    }
    bool AskDownloadPrompt() override;

    bool visible = false;
    std::map<Command, bool> enabledCommands;
    std::vector<std::string> messages; // caption + ": " + text, GBK
    int handheldViewChanges = 0;
    std::string cycleLabel;
    int progress = 0;
    int progressMax = 0;
    int prompts = 0;
};

} // namespace app
