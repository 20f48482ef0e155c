// The main view without a display: keeps nothing. Every message box and prompt goes to standard
// error as UTF-8 and is answered with its default button; a dialog closes at once; the rest has
// nothing to draw. (The work log reaches standard error through the controller's own listener.)
#pragma once

#include "app/MainView.h"

namespace app {

class HeadlessView : public MainView {
public:
    void ShowMessage(const std::string& caption, const std::string& text) override;
    void ShowError(const std::string& message) override;
    void ShowMainWindow() override {}
    void HideMainWindow() override {}
    void SetCommandEnabled(Command, bool) override {}
    void HandheldViewChanged() override {}
    void SetCycleLabel(const std::string&) override {}
    void SetProgress(int, int) override {}
    void SetProgressText(const std::string&) override {}
    bool AskDownloadPrompt() override;
    void OpenParameterDialog(const std::string&) override {}
    void OpenBaseStationDialog(const std::vector<std::string>&, const BaseStationAccess&) override {
    }
    void ShowOperationRecords(const std::vector<OperationRecord>&) override {}
    void LineAppended(const std::string&) override {}
    void Cleared() override {}
};

} // namespace app
