// The handheld view as data: what a rebuild, a tree selection and a log-in leave in the tree,
// the selector, the list and the status label.
#include "admin/HandheldView.h"
#include "config/HandheldRegistry.h"
#include "text/Gbk.h"

#include <gtest/gtest.h>

using admin::kLoggedIn;
using admin::kRegistered;

namespace {

std::string Station(int n) {
    return config::StationSectionName(n);
}

struct HandheldViewTest : ::testing::Test {
    const std::array<std::string, 4> channels{"01", "02", text::Fixed("基站未连接"), "04"};
    const std::array<std::string, 4> baseIds{"0A", "0B", "", ""};
    config::HandheldRegistry registry;
    admin::THandheldView view;

    // Sections 基站1..基站3; 基站1 holds 005 and 007, 基站2 holds 010 and 011, 基站3 none.
    void Rebuild() {
        registry.SectionNames = {Station(1), Station(2), Station(3)};
        registry.Stations = {{Station(1), 1, {{"005"}, {"007"}}},
                             {Station(2), 2, {{"010"}, {"011"}}},
                             {Station(3), 3, {}}};
        view.RebuildHandheldView(registry, true);
    }
    std::vector<std::string> ListCaptions() const {
        std::vector<std::string> captions;
        for (const auto& item : view.ListView1) {
            captions.push_back(item.Caption);
        }
        return captions;
    }
};

} // namespace

TEST_F(HandheldViewTest, FirstSectionWithoutABaseIdIsChosenButHasNoNode) {
    registry.SectionNames = {Station(1), Station(2)};
    registry.Stations = {{Station(2), 2, {{"005"}}}};
    view.Label8 = "x";
    view.RebuildHandheldView(registry, true);
    EXPECT_EQ(view.ComboBox1, registry.SectionNames);
    EXPECT_EQ(view.ComboBox1Index, 0);
    ASSERT_EQ(view.TreeView1.size(), 1u);
    EXPECT_EQ(view.TreeView1[0].Caption, Station(2));
    EXPECT_TRUE(view.ListView1.empty());
    EXPECT_EQ(view.Label8, "x");
}

TEST_F(HandheldViewTest, SelectingAStationNodeChoosesItAndRefillsTheList) {
    Rebuild();
    view.SelectTreeNode(2, -1, channels); // a station without handhelds
    EXPECT_EQ(view.ComboBox1Index, 2);
    EXPECT_TRUE(view.ListView1.empty());
    EXPECT_EQ(view.Label8, channels[2]);
    view.SelectTreeNode(0, -1, channels);
    EXPECT_EQ(ListCaptions(), (std::vector<std::string>{"005", "007"}));
    EXPECT_EQ(view.Label8, "01");
}

TEST_F(HandheldViewTest, SelectingAHandheldUnderAnotherStationSwitchesAndSelectsIt) {
    Rebuild();
    view.SelectTreeNode(1, 1, channels);
    EXPECT_EQ(view.ComboBox1Index, 1);
    EXPECT_EQ(ListCaptions(), (std::vector<std::string>{"010", "011"}));
    EXPECT_EQ(view.Label8, "02");
    EXPECT_EQ(view.ListView1Index, 1);
}

TEST_F(HandheldViewTest, SelectingAHandheldOfTheChosenStationOnlySelectsIt) {
    Rebuild();
    view.MarkLoggedIn("0A07", baseIds, channels); // the tree changes, the list waits for a refill
    view.SelectTreeNode(0, 1, channels);
    EXPECT_EQ(view.ListView1Index, 1);
    EXPECT_EQ(view.ListView1[1].State, kRegistered) << "not refilled";
    EXPECT_EQ(view.Label8, "") << "the label is not touched";
}

TEST_F(HandheldViewTest, TreeSelectionDoesNothingWhileItsHandlingIsOff) {
    Rebuild();
    view.TreeSelectionHandling = false;
    view.SelectTreeNode(1, 0, channels);
    EXPECT_EQ(view.ComboBox1Index, 0);
    EXPECT_EQ(view.ListView1Index, -1);
    view.TreeSelectionHandling = true;
    view.SelectTreeNode(7, -1, channels); // no such node
    EXPECT_EQ(view.ComboBox1Index, 0);
}

TEST_F(HandheldViewTest, LogInMarksTheTreeAtOnceAndTheListOnItsNextRefill) {
    Rebuild();
    view.MarkLoggedIn("0A07", baseIds, channels);
    EXPECT_EQ(view.TreeView1[0].Children[1].State, kLoggedIn);
    EXPECT_EQ(view.TreeView1[0].Children[0].State, kRegistered);
    EXPECT_EQ(view.ListView1[1].State, kRegistered);
    view.ChooseStation(0, channels);
    EXPECT_EQ(view.ListView1[1].State, kLoggedIn);
}

TEST_F(HandheldViewTest, LogInThatMarksNothingRefillsTheList) {
    for (const char* address : {"0C05", "0A0A"}) { // no such BaseId; not under 基站1
        SCOPED_TRACE(address);
        Rebuild();
        view.MarkLoggedIn("0A07", baseIds, channels);
        view.MarkLoggedIn(address, baseIds, channels);
        EXPECT_EQ(view.TreeView1[0].Children[0].State, kRegistered);
        EXPECT_EQ(view.TreeView1[1].Children[0].State, kRegistered);
        EXPECT_EQ(view.ListView1[1].State, kLoggedIn) << "refilled";
        EXPECT_EQ(view.Label8, "01");
    }
}
