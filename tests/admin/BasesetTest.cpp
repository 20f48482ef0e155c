// The base-station dialog without its widgets: the frames, the clock text, the choice of a
// station and the set sequence with recorded ports, pauses and waits.
#include "admin/BasesetSequence.h"

#include "baselink/PdaReply.h"
#include "baselink/xyTypeConv.h"
#include "text/Gbk.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace admin;
using ::testing::ElementsAre;

namespace {

const LocalTime kSunday{2024, 3, 10, 7, 8, 5, 9};

TEST(BasesetFrames, ClockFrameAndClockTextOfASunday) {
    std::tm tm{};
    tm.tm_year = 124, tm.tm_mon = 2, tm.tm_mday = 10, tm.tm_hour = 8, tm.tm_min = 5;
    tm.tm_sec = 9;
    std::mktime(&tm); // fills in the weekday: Sunday
    const LocalTime t = LocalTimeOf(tm);
    EXPECT_EQ(t.Weekday, 7);
    EXPECT_EQ(ClockFrame(t), "AA4100000007090508100703240054");
    EXPECT_EQ(text::ToUtf8(ClockText(t)), "2024年3月10日 星期7 8:5:9");
    EXPECT_EQ(ClockFrame({2031, 12, 31, 3, 23, 59, 58}), "AA410000000758592331031231014B");
}

TEST(BasesetFrames, ChannelFrameAndChannelList) {
    EXPECT_EQ(ChannelFrame(10, 4), "AA40000000020A04000E");
    EXPECT_EQ(ChannelFrame(255, 63), "AA4000000002FF3F013E");
    ASSERT_EQ(ChannelChoices().size(), 64u);
    EXPECT_EQ(ChannelChoices().front(), "01");
    EXPECT_EQ(ChannelChoices()[63], "64");
}

TEST(BasesetChoice, ShowsTheIdInDecimalAndTheReportedChannel) {
    const std::string off = text::Fixed("基站未连接");
    const std::array<std::string, kStationCount> ids{"0A", "", "zz", "ff"};
    const std::array<std::string, kStationCount> channels{"05", "07", "09", off};

    StationChoice first = ChooseStation(0, ids, channels);
    EXPECT_EQ(first.IdField, "10");
    EXPECT_EQ(first.Channel, 4);
    StationChoice empty = ChooseStation(1, ids, channels); // keeps the previous ID
    EXPECT_FALSE(empty.IdField || empty.Channel || empty.Error);
    StationChoice bad = ChooseStation(2, ids, channels);
    ASSERT_TRUE(bad.Error);
    EXPECT_EQ(bad.Error->Kind, MessageKind::Error);
    EXPECT_EQ(text::ToUtf8(bad.Error->Text), "基站ID“zz”不是十六进制数");
    EXPECT_FALSE(bad.IdField || bad.Channel);
    StationChoice unanswered = ChooseStation(3, ids, channels);
    EXPECT_EQ(unanswered.IdField, "255");
    EXPECT_FALSE(unanswered.Channel);
    const std::array<std::string, kStationCount> odd{"99", "", "", ""};
    EXPECT_EQ(ChooseStation(0, ids, odd).Channel, -1); // no entry equals "99"
    EXPECT_FALSE(ChooseStation(4, ids, channels).IdField);
}

// Ports, pauses and waits write one timeline; `answer` runs inside the 100 ms wait, where the
// receive path would record the station's answer.
struct Recorder : BasePorts, Waits {
    std::vector<std::string> timeline;
    std::function<void()> answer;
    std::array<std::string, kStationCount> channelText{"01", "02", "03", "04"};
    BaseSetSequence sequence{*this, *this, channelText,
                             [this](std::chrono::milliseconds d) {
                                 timeline.push_back("pause " + std::to_string(d.count()));
                             },
                             [] { return kSunday; }};

    bool SendData(int slot, const std::string& bytes) override {
        timeline.push_back(std::to_string(slot) + " " + HexCodec::BytesToHex(bytes));
        return true;
    }
    void Wait(unsigned seconds, unsigned milliseconds) override {
        timeline.push_back("wait " + std::to_string(seconds * 1000 + milliseconds));
        if (milliseconds == 100 && answer) {
            answer();
        }
    }
    bool Ending() const override { return false; }

    std::string Run(int entry, int channel, const std::string& id) {
        auto message = sequence.Run(entry, channel, id);
        return message ? text::ToUtf8(message->Text) : "";
    }
};

TEST(BasesetSequence, ClockThenChannelThenQueryWithPausesAndWaits) {
    Recorder r;
    r.answer = [&] { r.channelText[1] = "64"; };
    EXPECT_EQ(r.Run(1, 63, "10"), "设置成功");
    EXPECT_THAT(r.timeline, ElementsAre("2 AA4100000007090508100703240054", "pause 40",
                                        "2 AA40000000020A3F0049", "pause 40", "wait 900",
                                        "2 AA00000000000000", "pause 40", "wait 100"));
    std::array<std::string, kStationCount> expected;
    expected.fill(text::Fixed("基站未连接"));
    expected[1] = "64";
    EXPECT_EQ(r.channelText, expected);
}

TEST(BasesetSequence, AStationThatDoesNotTakeTheChannelFails) {
    Recorder silent;
    EXPECT_EQ(silent.Run(0, 4, "10"), "设置失败");
    Recorder other;
    other.answer = [&] { other.channelText[0] = "06"; };
    EXPECT_EQ(other.Run(0, 4, "10"), "设置失败");
}

TEST(BasesetSequence, RefusalsSendNothingAndChangeNothing) {
    const std::pair<std::tuple<int, int, std::string>, std::string> cases[] = {
        {{-1, 4, "10"}, "请选择基站"},
        {{0, -1, "10"}, "请选择信道"},
        {{0, 4, " "}, "请设置基站ID"},
        {{0, 4, "256"}, "基站ID 256 不在0到255之间，信道帧的一个字节放不下；没有发送任何数据。"},
    };
    for (const auto& [input, message] : cases) {
        Recorder r;
        const auto& [entry, channel, id] = input;
        EXPECT_EQ(r.Run(entry, channel, id), message);
        EXPECT_TRUE(r.timeline.empty()) << message;
        EXPECT_EQ(r.channelText[0], "01") << message;
    }
    Recorder highest;
    highest.Run(0, 4, "255");
    EXPECT_FALSE(highest.timeline.empty()) << "255 is the highest ID the frame carries";
}

TEST(BasesetSequence, AnEntryAfterTheFourthSendsNothingButResetsTheTexts) {
    Recorder r;
    EXPECT_EQ(r.Run(4, 4, "10"), "");
    EXPECT_THAT(r.timeline,
                ElementsAre("pause 40", "pause 40", "wait 900", "pause 40", "wait 100"));
    EXPECT_EQ(r.channelText[3], text::Fixed("基站未连接"));
}

} // namespace
