// The handheld page of the main window (tree, selector, status label and list): the view's data
// (THandheldView) kept in step with the registry, the scan's channel texts, the log-ins and the
// operator's selections, and redrawn through MainView after every change. Serves the scan
// (ScanView, with its rule for the command bar), the registry load (RegistryView) and the relay
// (log-ins).
#pragma once

#include "admin/HandheldView.h"
#include "app/MainView.h"
#include "baselink/BaseConnection.h"
#include "config/HandheldRegistry.h"
#include "relay/RelayInterfaces.h"
#include "text/Stations.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>

namespace config {
struct AppSettings;
}

namespace app {

class HandheldPanel : public ScanView, public config::RegistryView, public relay::HandheldView {
public:
    // channelText: the scan's ChannelText of the four stations.
    HandheldPanel(MainView& view, const config::AppSettings& settings,
                  const std::array<std::string, kStationCount>& channelText);

    const admin::THandheldView& Data() const { return data_; }
    void SetTreeSelectionHandling(bool on) { data_.TreeSelectionHandling = on; }
    // The base-station ID and the number of the handheld selected in the list, or nothing. The
    // ID is that of the station chosen in the selector (choice 0..3 is station 1..4), else empty.
    std::optional<std::pair<std::string, std::string>> SelectedHandheld() const;
    // The same for list item `item`, and for the tree's child `handheld` of the top-level node
    // `station` (the ID of the base station whose section name is the node's caption). Nothing
    // when there is no such item or node.
    std::optional<std::pair<std::string, std::string>> ListHandheld(int item) const;
    std::optional<std::pair<std::string, std::string>> TreeHandheld(int station,
                                                                    int handheld) const;

    // The operator's selections.
    void ChooseStation(int choice);
    void SelectTreeNode(int station, int handheld);
    void SelectListItem(int item);

    // ScanView.
    void SetBaseCommandsEnabled(bool enabled) override;
    void SetChannelLabel(const std::string& text) override;
    std::string ChannelLabel() const override { return data_.Label8; }
    int SelectedStation() const override { return data_.ComboBox1Index; }
    void RefreshHandheldPage() override;
    // RegistryView.
    void RegistryLoaded(config::HandheldRegistry& registry, bool selectFirstStation) override;
    // relay::HandheldView.
    void MarkLoggedIn(std::uint8_t baseByte, std::uint8_t handheld) override;

private:
    void ShowTreeStatesInList();

    MainView& view_;
    const config::AppSettings& settings_;
    const std::array<std::string, kStationCount>& channelText_;
    admin::THandheldView data_;
};

} // namespace app
