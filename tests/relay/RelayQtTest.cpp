// The relay with its real waits, which handle events: host messages arrive inside them.
#include "RelayRecorders.h"

#include "app/PumpWait.h"
#include "app/RetryTimer.h"
#include "config/AppSettings.h"
#include "config/HandheldRegistry.h"
#include "relay/Relay.h"
#include "support/EventPump.h"
#include "worklog/WorkLog.h"

#include <QTimer>
#include <gtest/gtest.h>

using namespace relaytest;

namespace {

class RelayQtTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { testsupport::EnsureCoreApplication(); }
    RelayQtTest() : host(dir.Dir() + "T1.txt") {
        settings.ExchangeDir = dir.Dir();
        registry.Keys.insert("02001");
        registry.Keys.insert("02002");
    }
    ~RelayQtTest() override { app::SetProgramEnding(false); }
    void WriteReply(const std::string& content) {
        text::WriteFileAtomic(dir.Dir() + "R1.TXT", content);
    }

    TempDir dir;
    config::AppSettings settings;
    config::HandheldRegistry registry;
    WorkLog log;
    RecordingSender sender;
    RecordingView view;
    RecordingHost host;
    app::PumpWaits waits;
    app::QtRetryTimer retry;
    relay::Relay relay{{settings, registry, log, sender, view, host, waits, retry}};
};

} // namespace

TEST_F(RelayQtTest, FromRequestToReplyAndOnToTheNext) {
    relay.HandleRequest(0, 2, 1, kTime, "CNS0090008000 999     ");
    relay.HandleRequest(9, 2, 2, kTime, "0000012");
    EXPECT_EQ(host.notified, std::vector<std::string>{"DL   001\r\nCNS0090008 000  999      \r\n"});
    EXPECT_EQ(view.marked, std::vector<std::string>{"0201"});
    WriteReply("DL   001\r\nwelcome\r\n");
    relay.HandleReply();
    ASSERT_EQ(sender.sent.size(), 1u);
    EXPECT_EQ(sender.sent[0], (SentReply{0, "0201", "1", "welcome", kTime, true}));
    EXPECT_EQ(host.notified.back(), "ZZCC 002\r\n0000012\r\n");
    EXPECT_EQ(relay.Queue().Head().Handheld, 2);
}

TEST_F(RelayQtTest, ReplyReadyDuringTheWaitIsNotRunNested) {
    relay.HandleRequest(9, 2, 1, kTime, "0000012");
    relay.HandleRequest(9, 2, 2, kTime, "0000012");
    WriteReply("ZZCC 1\r\nfor one\r\n");
    QTimer::singleShot(30, [&] { relay.HandleReply(); });
    relay.HandleReply();
    ASSERT_EQ(sender.sent.size(), 1u);
    EXPECT_EQ(sender.sent[0].text, "for one");
    EXPECT_EQ(relay.Queue().Head().Handheld, 2);
}

TEST_F(RelayQtTest, ProgramEndingEndsTheWaitForTheReplyFile) {
    relay.HandleRequest(9, 2, 1, kTime, "0000012");
    QTimer::singleShot(50, [] { app::SetProgramEnding(true); });
    relay.HandleReply(); // R1.TXT never comes
    EXPECT_TRUE(sender.sent.empty());
    EXPECT_EQ(relay.Queue().Size(), 1u);
}
