// dcrelay-instance status against a running relay: dcrelay-hostsim starts the relay in a
// temporary installation, dcrelay-basesim plays base station 1; each exit status of the check.
#include "hostlink/PrivateStream.h"
#include "support/BaseSim.h"
#include "support/Command.h"
#include "support/Instance.h"
#include "support/Leftovers.h"
#include "support/WaitUntil.h"
#include "text/Files.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <iostream>
#include <sys/wait.h>

using namespace std::chrono_literals;
using ::testing::HasSubstr;
using testsupport::BaseSim;
using testsupport::Instance;
using testsupport::WaitUntil;

namespace {

struct StatusRun {
    int status = -1;
    std::string output;
};

StatusRun RunStatus(const std::string& dir, const std::string& options = "") {
    const testsupport::CommandRun done = testsupport::RunCommand(
        BaseSim::BuiltProgram("dcrelay-instance") + " status " + dir + " " + options);
    return {done.status, done.output};
}

QJsonObject Json(const StatusRun& run) {
    return QJsonDocument::fromJson(QByteArray::fromStdString(run.output)).object();
}

struct StatusTest : ::testing::Test {
    Instance inst;
    std::unique_ptr<BaseSim> base;
    std::unique_ptr<BaseSim> host;
    testsupport::OrphanCatcher orphans;
    pid_t relay = -1;

    std::string LogFile() const { return inst.Dir() + "relay.log"; }
    std::string LogLines() const { return text::ReadFile(LogFile()).value_or(""); }
    static int Count(const std::string& log, const std::string& line) {
        int n = 0;
        for (std::size_t at = 0; (at = log.find(line + "\n", at)) != std::string::npos; ++at) {
            ++n;
        }
        return n;
    }
    void TearDown() override {
        if (HasFailure()) {
            std::cerr << text::ReadFile(LogFile()).value_or("") << std::flush;
        }
        if (host && host->WaitExit(0ms) < 0) {
            host->Send("close");
            host->WaitExit(5s);
        }
        if (relay > 0 && ::kill(relay, 0) == 0) {
            ::kill(relay, SIGTERM);
            orphans.WaitExit(relay, 5s);
        }
    }

    void StartRelay(std::vector<std::string> hostArgs = {}) {
        base = std::make_unique<BaseSim>(
            std::vector<std::string>{"--link", inst.Port("COM1"), "--stay", "--channel", "6"});
        ASSERT_TRUE(base->Start()) << base->Error();
        std::vector<std::string> args{"--runtime-dir", inst.RuntimeDir(), "--exchange",
                                      inst.Exchange(), "--stdin"};
        args.insert(args.end(), hostArgs.begin(), hostArgs.end());
        args.insert(args.end(), {"--", inst.Relay()});
        host = std::make_unique<BaseSim>(args, BaseSim::BuiltProgram("dcrelay-hostsim"));
        host->SetReadyEvent("started");
        host->SetErrorFile(LogFile());
        ASSERT_TRUE(host->Start()) << host->Error();
        ASSERT_TRUE(host->WaitFor([](const auto& l) { return l.Kind() == "announcement"; }, 5s));
        relay = static_cast<pid_t>(host->Seen().front().Int("relay_pid"));
        orphans.Watch(relay);
        ASSERT_TRUE(WaitUntil([&] { return RunStatus(inst.Dir()).status == 0; }, 10000))
            << RunStatus(inst.Dir()).output;
    }
};

TEST_F(StatusTest, AHealthyRelayTellsItsStateAndAFloodOfQuestionsChangesNoAnswer) {
    StartRelay({"--reply", "好的\\n"});
    base->Send("req 5 DL t=120000000000 CNS0090008000 999     ");
    ASSERT_TRUE(base->WaitForKind("reply", 8s));

    StatusRun run = RunStatus(inst.Dir());
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_THAT(run.output, HasSubstr("health: healthy\n"));
    EXPECT_THAT(run.output,
                HasSubstr("  1  COM1 -> " + inst.Port("COM1") + ", ID 02, channel 06: open\n"));
    EXPECT_THAT(run.output, HasSubstr("  2  not configured\n"));
    EXPECT_THAT(run.output, HasSubstr("  window " + std::to_string(host->Pid()) + ": exists\n"));
    EXPECT_THAT(run.output, HasSubstr("  requests waiting 0\n"));
    EXPECT_THAT(run.output, HasSubstr("  02-005: 1 requests, the last "));
    EXPECT_THAT(run.output, HasSubstr("download: not running\n"));
    EXPECT_THAT(run.output, HasSubstr("work log (the last "));
    EXPECT_THAT(run.output, HasSubstr("\n  由 基站1 发送\n"));

    const QJsonObject json = Json(RunStatus(inst.Dir(), "--json"));
    EXPECT_EQ(json["health"].toString(), "healthy");
    EXPECT_EQ(json["pid"].toInteger(), relay);
    const QJsonObject station = json["stations"].toArray()[0].toObject();
    EXPECT_EQ(station["state"].toString(), "open");
    EXPECT_EQ(station["channel"].toString(), "06");
    EXPECT_GT(station["last_frame"].toObject()["unix_ms"].toInteger(), 0);
    EXPECT_TRUE(json["host"].toObject()["window_exists"].toBool());
    EXPECT_FALSE(json["host"].toObject()["last_reply_ready"].isNull());
    EXPECT_EQ(json["handhelds"].toArray()[0].toObject()["handheld"].toString(), "005");
    EXPECT_THAT(json["log"].toArray().last().toString().toStdString(),
                HasSubstr("从命令缓存删除与当前回复对应的命令"));

    // Questions as fast as the relay answers them, while handhelds are answered.
    std::atomic<bool> asking{true};
    std::atomic<int> answered{0};
    std::thread flood([&] {
        while (asking) {
            answered +=
                hostlink::AskPrivateStream(inst.RuntimeDir(), hostlink::kStatusSocket, "status", 2s)
                    .kind == hostlink::PrivateAnswer::Kind::Answered;
        }
    });
    for (int handheld : {5, 108, 5, 108}) {
        base->Send("req " + std::to_string(handheld) + " KT 01");
        const auto reply = base->WaitForKind("reply", 8s);
        ASSERT_TRUE(reply);
        EXPECT_EQ(reply->Int("handheld"), handheld);
        EXPECT_EQ(reply->Str("text"), "好的");
        EXPECT_TRUE(reply->Bool("ok"));
    }
    asking = false;
    flood.join();
    EXPECT_GT(answered, 20);
    EXPECT_THAT(RunStatus(inst.Dir()).output, HasSubstr("  02-108: 2 requests"));

    // The relay that runs is not this installation's.
    const Instance other;
    ::setenv("DCRELAY_RUNTIME_DIR", inst.RuntimeDir().c_str(), 1);
    run = RunStatus(other.Dir());
    EXPECT_EQ(run.status, 3) << run.output;
    EXPECT_THAT(run.output, HasSubstr("the relay that runs serves " + inst.Dir()));
}

TEST_F(StatusTest, AKilledHostIsGone) {
    StartRelay();
    ::kill(host->Pid(), SIGKILL);
    ASSERT_EQ(host->WaitExit(5s), 128 + SIGKILL);
    const StatusRun run = RunStatus(inst.Dir());
    EXPECT_EQ(run.status, 1) << run.output;
    EXPECT_THAT(run.output, HasSubstr("host gone: its window " + std::to_string(host->Pid()) +
                                      " does not exist"));
    EXPECT_TRUE(Json(RunStatus(inst.Dir(), "--json"))["host"].toObject()["gone"].toBool());
    EXPECT_TRUE(WaitUntil([&] { return Count(LogLines(), "报警：主程序已不在运行") == 1; }, 3000))
        << LogLines();
}

TEST_F(StatusTest, AStationWhosePortHungUpIsOutWithTheAnswersHeldForIt) {
    StartRelay({"--reply", "好的\\n", "--reply-delay", "1500"});
    base->Send("req 5 KT 01");
    ASSERT_TRUE(host->WaitForEvent("request", 5s));
    base->Stop(); // its pseudo-terminal closes: the port hangs up
    StatusRun run;
    EXPECT_TRUE(WaitUntil(
        [&] {
            run = RunStatus(inst.Dir());
            return run.output.find("answers held 1") != std::string::npos;
        },
        8000))
        << run.output;
    EXPECT_EQ(run.status, 1);
    EXPECT_THAT(run.output, HasSubstr("base station 1 (COM1): hung up, being reopened\n"));
    const QJsonObject station = Json(RunStatus(inst.Dir(), "--json"))["stations"][0].toObject();
    EXPECT_EQ(station["state"].toString(), "reopening");
    EXPECT_TRUE(station["out"].toBool());

    // The alarm without a window: one work-log line as it comes, one as it goes.
    base = std::make_unique<BaseSim>(
        std::vector<std::string>{"--link", inst.Port("COM1"), "--stay", "--channel", "6"});
    ASSERT_TRUE(base->Start()) << base->Error();
    EXPECT_TRUE(WaitUntil([&] { return RunStatus(inst.Dir()).status == 0; }, 8000));
    EXPECT_TRUE(WaitUntil([&] { return Count(LogLines(), "报警解除，恢复正常") == 1; }, 3000));
    EXPECT_EQ(Count(LogLines(), "报警：基站1未连接"), 1) << LogLines();
}

TEST_F(StatusTest, ARequestThatWaitsTooLongMeansAStuckQueue) {
    StartRelay({"--no-reply"});
    base->Send("req 5 KT 01");
    ASSERT_TRUE(host->WaitForEvent("request", 5s));
    StatusRun run = RunStatus(inst.Dir());
    EXPECT_EQ(run.status, 0) << "not yet 30 s: " << run.output;
    EXPECT_THAT(run.output, HasSubstr("requests waiting 1, the oldest for "));
    EXPECT_TRUE(
        WaitUntil([&] { return (run = RunStatus(inst.Dir(), "--max-wait 1")).status == 1; }, 5000))
        << run.output;
    EXPECT_THAT(run.output, HasSubstr("queue stuck: the oldest of 1 waiting requests has waited"));
}

TEST(StatusOfNoRelay, IsNotRunning) {
    const Instance inst;
    StatusRun run = RunStatus(inst.Dir());
    EXPECT_EQ(run.status, 3);
    EXPECT_THAT(run.output, HasSubstr("not running: no relay of this user runs"));
    run = RunStatus(inst.Dir(), "--json");
    EXPECT_EQ(run.status, 3);
    EXPECT_FALSE(Json(run)["running"].toBool(true));
}

} // namespace
