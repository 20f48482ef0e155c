// The handheld registry view as data: the tree of base stations with their handhelds, the
// base-station selector, the handheld list of the chosen station and the red status label. The
// window draws it; everything it does is decided here, so it runs and is tested headless.
#pragma once

#include "text/Stations.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace config {
class HandheldRegistry;
}

namespace admin {

inline constexpr int kRegistered = 1; // state icon 1
inline constexpr int kLoggedIn = 2;   // state icon 2, the terminal with a red lamp

struct TreeNode {
    std::string Caption;
    int State = 0; // top-level nodes carry no icon
    std::vector<TreeNode> Children;
};

struct ListItem {
    std::string Caption;
    int State = kRegistered;
};

class THandheldView {
public:
    std::vector<TreeNode> TreeView1;
    std::vector<std::string> ComboBox1; // the selector's choices
    int ComboBox1Index = -1;
    std::vector<ListItem> ListView1;
    int ListView1Index = -1;
    std::string Label8;
    // The tree's selection-change handling; off while the first rebuild runs at start-up.
    bool TreeSelectionHandling = true;

    void RebuildHandheldView(const config::HandheldRegistry& registry, bool selectFirstStation);
    void FillHandheldList(const std::string& sectionName);
    // The selector-change action: refills the list and shows the chosen station's channel.
    // channelText: the four stations' ChannelText.
    void SelectorChange(const std::array<std::string, kStationCount>& channelText);
    // The operator chooses in the selector (-1: no choice), then the selector-change action.
    void ChooseStation(int choice, const std::array<std::string, kStationCount>& channelText);
    // The tree's selection-change action for the top-level node `station`, or for its child
    // `handheld` (-1: the station node itself), both counted from 0. Nothing happens while
    // TreeSelectionHandling is off or when no such node exists.
    void SelectTreeNode(int station, int handheld,
                        const std::array<std::string, kStationCount>& channelText);
    // baseByte and handheld: the request frame's base-station ID and handheld number.
    // baseIds: the configured IDs of the four slots.
    void MarkLoggedIn(std::uint8_t baseByte, std::uint8_t handheld,
                      const std::array<std::string, kStationCount>& baseIds,
                      const std::array<std::string, kStationCount>& channelText);

private:
    int SelectorIndexOf(const std::string& name) const;
    bool StationChosen(const std::string& name) const;
    void SelectListItem(const std::string& caption);
};

} // namespace admin
