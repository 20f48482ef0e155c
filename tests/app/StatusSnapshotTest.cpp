// The status snapshot's judgement and renderings, and the question and answer on the status
// socket, on snapshots made here.
#include "app/StatusSnapshot.h"
#include "app/Alarm.h"
#include "app/Metrics.h"
#include "support/TempDir.h"
#include "text/Gbk.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace std::chrono_literals;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

namespace {

app::RelaySnapshot Healthy() {
    app::RelaySnapshot s;
    s.pid = 42;
    s.programDir = "/srv/r/";
    s.stations[0] = {1, "COM1", "/dev/ttyUSB0", "02", "06", app::StationState::Open, {}, 0};
    for (int slot = 2; slot <= 4; ++slot) {
        s.stations[static_cast<std::size_t>(slot - 1)].slot = slot;
    }
    s.host.handle = 7;
    s.host.windowExists = true;
    s.log = {text::ToGbk("收到主程序句柄:7"), "DL\r\nAA32"};
    return s;
}

TEST(StatusSnapshot, DegradedByAStationOutTheHostGoneOrARequestWaitingTooLong) {
    app::RelaySnapshot s = Healthy();
    EXPECT_FALSE(app::Assess(s).degraded);

    s.host.waiting = 3;
    s.host.oldestWaiting = app::Moment{0, 30000};
    EXPECT_FALSE(app::Assess(s).degraded) << "30 s is not yet older than 30 s";
    s.host.oldestWaiting->ageMs = 30001;
    EXPECT_THAT(app::Assess(s).problems,
                ElementsAre("queue stuck: the oldest of 3 waiting requests has waited 30 s"));
    EXPECT_FALSE(app::Assess(s, 60s).degraded);

    s = Healthy();
    s.host.windowExists = false;
    EXPECT_THAT(app::Assess(s).problems, ElementsAre("host gone: its window 7 does not exist"));
    s.host.standalone = true;
    EXPECT_FALSE(app::Assess(s).degraded) << "standalone debug expects no host";

    s = Healthy();
    for (auto state :
         {app::StationState::Closed, app::StationState::Reopening, app::StationState::Silent}) {
        s.stations[0].state = state;
        EXPECT_TRUE(app::Assess(s).degraded);
    }
    s.stations[0].state = app::StationState::NotConfigured;
    EXPECT_FALSE(app::Assess(s).degraded);
}

// Station 1 is shown out only from its second look on; the other causes at once.
TEST(StatusSnapshot, TheAlarmShowsStationOneOutAtItsSecondLook) {
    const app::Alarm out{false, true, false}, gone{true, false, false}, none{};
    EXPECT_EQ(app::Confirmed(out, none), none);
    EXPECT_EQ(app::Confirmed(out, out), out);
    EXPECT_EQ(app::Confirmed(gone, none), gone);
    EXPECT_EQ(app::Confirmed(none, out), none);
}

TEST(StatusSnapshot, TextAndJsonSayTheSame) {
    app::RelaySnapshot s = Healthy();
    s.stations[0].state = app::StationState::Reopening;
    s.stations[0].heldReplies = 2;
    s.handhelds.push_back({"02", "005", 3, {0, 4000}});
    const app::Health health = app::Assess(s);
    const std::string shown = app::StatusText(s, health);
    EXPECT_THAT(shown, HasSubstr("health: degraded\n  base station 1 (COM1): hung up, being "
                                 "reopened\n"));
    EXPECT_THAT(shown, HasSubstr("answers held 2"));
    EXPECT_THAT(shown, HasSubstr("  02-005: 3 requests, the last "));
    EXPECT_THAT(shown, HasSubstr("  收到主程序句柄:7\n  DL\n  AA32\n"));

    const QJsonObject json =
        QJsonDocument::fromJson(QByteArray::fromStdString(app::StatusJson(s, health))).object();
    EXPECT_EQ(json["health"].toString(), "degraded");
    const QJsonObject station = json["stations"].toArray()[0].toObject();
    EXPECT_EQ(station["state"].toString(), "reopening");
    EXPECT_EQ(station["held_replies"].toInt(), 2);
    EXPECT_TRUE(station["last_frame"].isNull());
    EXPECT_EQ(
        json["handhelds"].toArray()[0].toObject()["last_request"].toObject()["age_ms"].toInt(),
        4000);
    EXPECT_EQ(json["log"].toArray()[0].toString(), QString::fromUtf8("收到主程序句柄:7"));
}

TEST(StatusSnapshot, QuestionAndAnswerTravelWhole) {
    const auto asked = app::ParseQuestion(app::FormatQuestion({true, 5s}));
    ASSERT_TRUE(asked);
    EXPECT_TRUE(asked->json);
    EXPECT_EQ(asked->stuckAfter, 5s);
    EXPECT_FALSE(app::ParseQuestion("status max-wait=x"));
    EXPECT_FALSE(app::ParseQuestion("handover 5"));

    app::RelaySnapshot s = Healthy();
    s.host.windowExists = false;
    const auto answer = app::ParseAnswer(app::FormatAnswer(s, {}));
    ASSERT_TRUE(answer);
    EXPECT_TRUE(answer->degraded);
    EXPECT_EQ(answer->programDir, "/srv/r/");
    EXPECT_THAT(answer->body, HasSubstr("dcrelay pid 42 in /srv/r/"));
    EXPECT_FALSE(app::ParseAnswer("unknown question\n"));
}

} // namespace

namespace {

TEST(Metrics, TheDirectoryIsTheProgramDirectorysUnlessAbsoluteAndBucketsHoldTheirBound) {
    const testsupport::TempDir dir;
    const std::string ini = dir.Write("dcfilepath.ini", "[Support]\r\nmetrics=prom\r\n");
    EXPECT_EQ(app::LoadMetricsDir(ini, "/srv/r/"), "/srv/r/prom/");
    dir.Write("dcfilepath.ini", "[Support]\r\nmetrics=/var/lib/node/\r\n");
    EXPECT_EQ(app::LoadMetricsDir(ini, "/srv/r/"), "/var/lib/node/");
    dir.Write("dcfilepath.ini", "[Support]\r\nlogfile=1\r\n");
    EXPECT_EQ(app::LoadMetricsDir(ini, "/srv/r/"), "");

    app::Histogram h;
    h.Observe(0.05);
    h.Observe(400);
    EXPECT_EQ(h.CountUpTo(0), 1u) << "le is inclusive";
    EXPECT_EQ(h.CountUpTo(app::Histogram::kBounds.size() - 1), 1u);
    EXPECT_EQ(h.Count(), 2u);
}

} // namespace
