// The handheld view as data: what a rebuild, a tree selection and a log-in leave in the tree,
// the selector, the list and the status label.
#include "admin/HandheldView.h"
#include "config/HandheldRegistry.h"

#include <gtest/gtest.h>

using admin::kLoggedIn;
using admin::kRegistered;
using config::StationSectionName;

namespace {

struct HandheldViewTest : ::testing::Test {
    const std::array<std::string, kStationCount> channels{"01", "02", "03", "04"};
    const std::array<std::string, kStationCount> baseIds{"0A", "0B", "", ""};
    config::HandheldRegistry registry;
    admin::THandheldView view;

    // 基站1 holds 005 and 007, 基站2 holds 010 and 011, 基站3 none.
    void Rebuild() {
        registry.SectionNames = {StationSectionName(1), StationSectionName(2),
                                 StationSectionName(3)};
        registry.Stations = {{StationSectionName(1), 1, {{"005"}, {"007"}}},
                             {StationSectionName(2), 2, {{"010"}, {"011"}}},
                             {StationSectionName(3), 3, {}}};
        view.RebuildHandheldView(registry, true);
    }
};

} // namespace

TEST_F(HandheldViewTest, FirstSectionWithoutABaseIdIsChosenButHasNoNode) {
    registry.SectionNames = {StationSectionName(1), StationSectionName(2)};
    registry.Stations = {{StationSectionName(2), 2, {{"005"}}}};
    view.Label8 = "x";
    view.RebuildHandheldView(registry, true);
    EXPECT_EQ(view.ComboBox1, registry.SectionNames);
    EXPECT_EQ(view.ComboBox1Index, 0);
    ASSERT_EQ(view.TreeView1.size(), 1u);
    EXPECT_EQ(view.TreeView1[0].Caption, StationSectionName(2));
    EXPECT_TRUE(view.ListView1.empty());
    EXPECT_EQ(view.Label8, "x");
}

TEST_F(HandheldViewTest, SelectingAStationNodeChoosesItAndRefillsTheList) {
    Rebuild();
    view.SelectTreeNode(2, -1, channels); // a station without handhelds
    EXPECT_EQ(view.ComboBox1Index, 2);
    EXPECT_TRUE(view.ListView1.empty());
    EXPECT_EQ(view.Label8, "03");
}

TEST_F(HandheldViewTest, SelectingAHandheldUnderAnotherStationSwitchesAndSelectsIt) {
    Rebuild();
    view.SelectTreeNode(1, 1, channels);
    EXPECT_EQ(view.ComboBox1Index, 1);
    ASSERT_EQ(view.ListView1.size(), 2u);
    EXPECT_EQ(view.ListView1[0].Caption, "010");
    EXPECT_EQ(view.Label8, "02");
    EXPECT_EQ(view.ListView1Index, 1);
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

// A log-in on 0A (基站1) from handheld 7 shows in the tree at once; the list keeps its icon, also
// when the handheld is then selected under the chosen station, until a refill.
TEST_F(HandheldViewTest, LogInMarksTheTreeAtOnceAndTheListOnItsNextRefill) {
    Rebuild();
    view.MarkLoggedIn(0x0A, 7, baseIds, channels);
    EXPECT_EQ(view.TreeView1[0].Children[1].State, kLoggedIn);
    EXPECT_EQ(view.TreeView1[0].Children[0].State, kRegistered);
    view.Label8 = "";
    view.SelectTreeNode(0, 1, channels);
    EXPECT_EQ(view.ListView1Index, 1);
    EXPECT_EQ(view.ListView1[1].State, kRegistered);
    EXPECT_EQ(view.Label8, "") << "a handheld of the chosen station only selects it";
    view.ChooseStation(0, channels);
    EXPECT_EQ(view.ListView1[1].State, kLoggedIn);
}

TEST_F(HandheldViewTest, LogInThatMarksNothingRefillsTheList) {
    // No such BaseId; 010 is not under 基站1.
    for (const auto& [base, handheld] : {std::pair{0x0C, 5}, std::pair{0x0A, 0x0A}}) {
        SCOPED_TRACE(handheld);
        Rebuild();
        view.MarkLoggedIn(0x0A, 7, baseIds, channels);
        view.MarkLoggedIn(base, handheld, baseIds, channels);
        EXPECT_EQ(view.TreeView1[0].Children[0].State, kRegistered);
        EXPECT_EQ(view.TreeView1[1].Children[0].State, kRegistered);
        EXPECT_EQ(view.ListView1[1].State, kLoggedIn) << "refilled";
    }
}
