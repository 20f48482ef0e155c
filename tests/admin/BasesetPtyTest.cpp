// The base-station dialog's sequence over pseudo-terminals, headless: the main controller opens
// the dialog with its ports, waits and channel texts, and dcrelay-basesim stations at the far
// ends apply the frames and answer the query.
#include "admin/BasesetSequence.h"

#include "app/MainController.h"
#include "app/PumpWait.h"
#include "support/BaseSim.h"
#include "support/EventPump.h"
#include "support/Instance.h"
#include "support/RecordingView.h"
#include "text/Gbk.h"

#include <gtest/gtest.h>

using namespace std::chrono_literals;
using testsupport::BaseSim;
using testsupport::SimLine;

namespace {

struct BasesetPtyTest : ::testing::Test {
    static void SetUpTestSuite() { testsupport::EnsureCoreApplication(); }
    void TearDown() override { app::SetProgramEnding(false); }

    void SetUp() override {
        testsupport::InstanceSettings settings;
        settings.ports = {"COM1", "COM2", "", ""};
        settings.ids = {"0A", "03", "", ""};
        inst = std::make_unique<testsupport::Instance>(settings);
        for (const char* port : {"COM1", "COM2"}) {
            sims.push_back(std::make_unique<BaseSim>(
                std::vector<std::string>{"--link", inst->Port(port), "--stay", "--channel", "3"}));
            ASSERT_TRUE(sims.back()->Start()) << sims.back()->Error();
        }
        controller = std::make_unique<app::MainController>(inst->Dir(), app::Markers{}, view,
                                                           inst->RuntimeDir(), "");
        ASSERT_TRUE(controller->Create());
        ASSERT_TRUE(testsupport::PumpUntil([&] { return !controller->Scan().Scanning(); }, 10s));
    }

    // "基站设置", then in the dialog: choose `entry`, choose `channel`, press "设置".
    std::string Set(int entry, int channel) {
        std::string shown;
        view.onBaseStationDialog = [&](const app::BaseStationAccess& access) {
            const admin::StationChoice choice =
                admin::ChooseStation(entry, access.baseIds, access.channelText);
            idField = choice.IdField.value_or(idField); // the field keeps what it showed
            admin::BaseSetSequence sequence(access.ports, access.waits, access.channelText);
            const auto message = sequence.Run(entry, channel, idField);
            shown = message ? text::ToUtf8(message->Text) : "";
        };
        controller->BaseStationSettings();
        return shown;
    }
    std::string Channel(int slot) { return text::ToUtf8(controller->Scan().ChannelText[slot]); }

    std::unique_ptr<testsupport::Instance> inst;
    std::vector<std::unique_ptr<BaseSim>> sims;
    testsupport::RecordingView view;
    std::unique_ptr<app::MainController> controller;
    std::string idField; // the dialog's ID field
};

// The station reports the clock frame, then the channel frame, then the query.
void ExpectSetting(BaseSim& station, int id, int channel) {
    const auto clock = station.WaitForKind("clock", 2s);
    ASSERT_TRUE(clock);
    EXPECT_TRUE(clock->Bool("ok")) << clock->Text();
    const auto setid = station.Next(2s);
    ASSERT_TRUE(setid);
    EXPECT_EQ(setid->Kind(), "setid");
    EXPECT_EQ(setid->Int("id"), id);
    EXPECT_EQ(setid->Int("channel"), channel);
    const auto query = station.Next(2s);
    ASSERT_TRUE(query);
    EXPECT_EQ(query->Kind(), "query");
}

TEST_F(BasesetPtyTest, ASettingThatTakesThenOneTheStationIgnores) {
    ASSERT_EQ(Channel(1), "03");
    EXPECT_EQ(Set(0, 4), "设置成功");
    ExpectSetting(*sims[0], 10, 5);
    EXPECT_EQ(Channel(0), "05");
    for (int slot : {1, 2, 3}) {
        EXPECT_EQ(Channel(slot), "基站未连接");
    }

    sims[1]->Send("answer off");
    ASSERT_TRUE(sims[1]->WaitFor([](const SimLine& l) { return l.Str("answer") == "off"; }, 2s));
    EXPECT_EQ(Set(1, 6), "设置失败");
    ExpectSetting(*sims[1], 3, 7);
    EXPECT_EQ(Channel(0), "基站未连接");

    controller->ConnectBaseStations(); // station 1 answers again; a fifth entry resets its text
    ASSERT_TRUE(testsupport::PumpUntil([&] { return Channel(0) == "05"; }, 5s));
    EXPECT_EQ(Set(4, 4), "");
    EXPECT_EQ(Channel(0), "基站未连接");
    EXPECT_FALSE(sims[0]->WaitForKind("clock", 300ms));
}

} // namespace
