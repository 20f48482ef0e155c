#include "app/HandheldPanel.h"

#include "config/AppSettings.h"

namespace app {

HandheldPanel::HandheldPanel(MainView& view, const config::AppSettings& settings,
                             const std::array<std::string, kStationCount>& channelText)
    : view_(view), settings_(settings), channelText_(channelText) {}

void HandheldPanel::ChooseStation(int choice) {
    data_.ChooseStation(choice, channelText_);
    view_.HandheldViewChanged();
}

void HandheldPanel::SelectTreeNode(int station, int handheld) {
    data_.SelectTreeNode(station, handheld, channelText_);
    view_.HandheldViewChanged();
}

void HandheldPanel::SelectListItem(int item) {
    const bool exists = item >= 0 && item < static_cast<int>(data_.ListView1.size());
    data_.ListView1Index = exists ? item : -1;
}

std::optional<std::pair<std::string, std::string>> HandheldPanel::SelectedHandheld() const {
    return ListHandheld(data_.ListView1Index);
}

std::optional<std::pair<std::string, std::string>> HandheldPanel::ListHandheld(int item) const {
    if (item < 0 || static_cast<std::size_t>(item) >= data_.ListView1.size()) {
        return std::nullopt;
    }
    const int choice = data_.ComboBox1Index;
    return std::pair{choice >= 0 && choice < kStationCount
                         ? settings_.BaseId[static_cast<std::size_t>(choice)]
                         : "",
                     data_.ListView1[static_cast<std::size_t>(item)].Caption};
}

std::optional<std::pair<std::string, std::string>> HandheldPanel::TreeHandheld(int station,
                                                                               int handheld) const {
    if (station < 0 || static_cast<std::size_t>(station) >= data_.TreeView1.size()) {
        return std::nullopt;
    }
    const admin::TreeNode& node = data_.TreeView1[static_cast<std::size_t>(station)];
    if (handheld < 0 || static_cast<std::size_t>(handheld) >= node.Children.size()) {
        return std::nullopt;
    }
    std::string baseId;
    for (std::size_t slot = 1; slot <= kStationCount; ++slot) {
        if (config::StationSectionName(static_cast<int>(slot)) == node.Caption) {
            baseId = settings_.BaseId[slot - 1];
        }
    }
    return std::pair{baseId, node.Children[static_cast<std::size_t>(handheld)].Caption};
}

// "基站设置" and "开始下载" stay disabled while the scan searches.
void HandheldPanel::SetBaseCommandsEnabled(bool enabled) {
    view_.SetCommandEnabled(Command::BaseSet, enabled);
    view_.SetCommandEnabled(Command::StartDownload, enabled);
}

void HandheldPanel::SetChannelLabel(const std::string& text) {
    data_.Label8 = text;
    view_.HandheldViewChanged();
}

void HandheldPanel::RefreshHandheldPage() {
    data_.SelectorChange(channelText_);
    view_.HandheldViewChanged();
}

void HandheldPanel::RegistryLoaded(config::HandheldRegistry& registry, bool selectFirstStation) {
    data_.RebuildHandheldView(registry, selectFirstStation);
    view_.HandheldViewChanged();
}

// The list shows a log-in at once, as the tree does: its items take the states of the listed
// station's nodes, without a refill, so the selection and scroll position stay.
void HandheldPanel::MarkLoggedIn(std::uint8_t baseByte, std::uint8_t handheld) {
    data_.MarkLoggedIn(baseByte, handheld, settings_.BaseId, channelText_);
    ShowTreeStatesInList();
    view_.HandheldViewChanged();
}

void HandheldPanel::ShowTreeStatesInList() {
    const int choice = data_.ComboBox1Index;
    if (choice < 0 || static_cast<std::size_t>(choice) >= data_.ComboBox1.size()) {
        return;
    }
    for (const admin::TreeNode& node : data_.TreeView1) {
        if (node.Caption != data_.ComboBox1[static_cast<std::size_t>(choice)]) {
            continue;
        }
        for (admin::ListItem& item : data_.ListView1) {
            for (const admin::TreeNode& child : node.Children) {
                if (child.Caption == item.Caption) {
                    item.State = child.State;
                }
            }
        }
    }
}

} // namespace app
