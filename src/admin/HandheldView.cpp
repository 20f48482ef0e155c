#include "admin/HandheldView.h"

#include "baselink/xyTypeConv.h"
#include "config/HandheldRegistry.h"
#include "text/Decimal.h"
#include "text/Gbk.h"

namespace admin {

void THandheldView::RebuildHandheldView(const config::HandheldRegistry& registry,
                                        bool selectFirstStation) {
    ListView1.clear();
    ListView1Index = -1;
    TreeView1.clear();
    ComboBox1 = registry.SectionNames;
    ComboBox1Index = -1;
    for (const auto& station : registry.Stations) {
        TreeNode node{station.SectionName, 0, {}};
        for (const auto& handheld : station.Handhelds) {
            node.Children.push_back({handheld.Number, kRegistered, {}});
        }
        TreeView1.push_back(std::move(node));
    }
    if (!selectFirstStation || ComboBox1.empty()) {
        return;
    }
    ComboBox1Index = 0;
    FillHandheldList(ComboBox1[0]);
}

void THandheldView::FillHandheldList(const std::string& sectionName) {
    ListView1.clear();
    ListView1Index = -1;
    for (const auto& node : TreeView1) {
        if (node.Caption != sectionName) {
            continue;
        }
        for (const auto& child : node.Children) {
            ListView1.push_back({child.Caption, child.State});
        }
    }
}

void THandheldView::SelectorChange(const std::array<std::string, kStationCount>& channelText) {
    if (ComboBox1.empty()) {
        return;
    }
    bool chosen = ComboBox1Index >= 0 && ComboBox1Index < static_cast<int>(ComboBox1.size());
    FillHandheldList(chosen ? ComboBox1[static_cast<std::size_t>(ComboBox1Index)] : "");
    if (ComboBox1Index >= 0 && ComboBox1Index < kStationCount) {
        Label8 = channelText[static_cast<std::size_t>(ComboBox1Index)];
    }
}

void THandheldView::ChooseStation(int choice,
                                  const std::array<std::string, kStationCount>& channelText) {
    ComboBox1Index = choice >= 0 && choice < static_cast<int>(ComboBox1.size()) ? choice : -1;
    SelectorChange(channelText);
}

void THandheldView::SelectTreeNode(int station, int handheld,
                                   const std::array<std::string, kStationCount>& channelText) {
    if (!TreeSelectionHandling || station < 0 || station >= static_cast<int>(TreeView1.size())) {
        return;
    }
    const TreeNode& node = TreeView1[static_cast<std::size_t>(station)];
    if (handheld < 0) {
        ChooseStation(SelectorIndexOf(node.Caption), channelText);
        return;
    }
    if (handheld >= static_cast<int>(node.Children.size())) {
        return;
    }
    const std::string caption = node.Children[static_cast<std::size_t>(handheld)].Caption;
    if (!StationChosen(node.Caption)) {
        ChooseStation(SelectorIndexOf(node.Caption), channelText);
    }
    SelectListItem(caption);
}

int THandheldView::SelectorIndexOf(const std::string& name) const {
    for (std::size_t i = 0; i < ComboBox1.size(); ++i) {
        if (ComboBox1[i] == name) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

bool THandheldView::StationChosen(const std::string& name) const {
    return ComboBox1Index >= 0 && ComboBox1Index < static_cast<int>(ComboBox1.size()) &&
           ComboBox1[static_cast<std::size_t>(ComboBox1Index)] == name;
}

void THandheldView::SelectListItem(const std::string& caption) {
    ListView1Index = -1;
    for (std::size_t i = 0; i < ListView1.size(); ++i) {
        if (ListView1[i].Caption == caption) {
            ListView1Index = static_cast<int>(i);
            return;
        }
    }
}

void THandheldView::MarkLoggedIn(std::uint8_t baseByte, std::uint8_t handheld,
                                 const std::array<std::string, kStationCount>& baseIds,
                                 const std::array<std::string, kStationCount>& channelText) {
    const std::string baseId = HexCodec::ToHex(baseByte, 2);
    const std::string number3 = text::ZeroPadded(handheld, 3);

    std::string stationName;
    for (int slot = 1; slot <= kStationCount; ++slot) {
        if (baseIds[static_cast<std::size_t>(slot - 1)] == baseId) {
            stationName = text::Fixed("基站") + std::to_string(slot); // the last match wins
        }
    }
    for (auto& node : TreeView1) {
        if (node.Caption != stationName) {
            continue;
        }
        for (auto& child : node.Children) {
            if (child.Caption == number3) {
                child.State = kLoggedIn;
                return;
            }
        }
    }
    SelectorChange(channelText);
}

} // namespace admin
