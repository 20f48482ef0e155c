#include "app/DownloadPage.h"

namespace app {

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
