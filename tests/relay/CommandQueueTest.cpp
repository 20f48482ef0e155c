#include "RelayRecorders.h"

#include "app/RetryTimer.h"
#include "config/AppSettings.h"
#include "config/HandheldRegistry.h"
#include "relay/CommandQueue.h"
#include "support/EventPump.h"
#include "text/Gbk.h"
#include "worklog/WorkLog.h"

#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>

using namespace relaytest;
using namespace std::chrono_literals;
using text::ToGbk;

namespace {

class QueueTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { testsupport::EnsureCoreApplication(); } // the retry timer
    QueueTest() : host(dir.Dir() + "T1.txt") {
        settings.ExchangeDir = dir.Dir();
        for (const char* key : {"02001", "02002", "02003"}) {
            registry.Keys.insert(key);
        }
    }
    void Submit(int handheld, int operation = 9, const std::string& data = "0000012") {
        queue.SubmitRequest(operation, 0x02, static_cast<std::uint8_t>(handheld), data, kTime);
    }
    std::string ZzccRecord(int handheld) {
        return "ZZCC 00" + std::to_string(handheld) + "\r\n0000012\r\n";
    }

    TempDir dir;
    config::AppSettings settings;
    config::HandheldRegistry registry;
    RecordingView view;
    RecordingHost host;
    WorkLog log;
    ScriptedWaits waits;
    relay::RequestBuilder builder{settings, registry, view, host};
    app::QtRetryTimer retry;
    relay::CommandQueue queue{builder, log, waits, retry};
};

const std::string kWriting = ToGbk("写文件 R1.TXT");
const std::string kQueued = ToGbk("待处理命令缓存不为空,当前命令已排入命令队列，等待处理。");
const std::string kDropped = ToGbk("从命令缓存删除与当前回复对应的命令.");
const std::string kNext = ToGbk("命令缓存中仍然有命令等待处理.处理下一命令.");

} // namespace

TEST_F(QueueTest, FirstRequestGoesToTheHostAtOnce) {
    Submit(1);
    EXPECT_EQ(log.Lines(), std::vector<std::string>{kWriting});
    EXPECT_EQ(host.notified, std::vector<std::string>{ZzccRecord(1)});
    EXPECT_EQ(waits.waits, std::vector<unsigned>{10});
    ASSERT_EQ(queue.Size(), 1u);
    EXPECT_EQ(queue.Head().Operation, 9);
    EXPECT_EQ(queue.Head().BaseByte, 0x02);
    EXPECT_EQ(queue.Head().Handheld, 1);
    EXPECT_EQ(queue.Head().Time, kTime);
}

TEST_F(QueueTest, RequestWhileOneIsWithTheHostOnlyWaits) {
    Submit(1);
    Submit(2);
    EXPECT_EQ(log.Lines(), (std::vector<std::string>{kWriting, kQueued}));
    EXPECT_EQ(host.notified.size(), 1u);
    EXPECT_EQ(text::ReadFile(dir.Dir() + "T1.txt"), ZzccRecord(1));
    EXPECT_EQ(waits.waits.size(), 1u);
    EXPECT_EQ(queue.Size(), 2u);
}

TEST_F(QueueTest, CompleteHeadHandsOnTheNextOneNotificationPerFile) {
    Submit(1);
    Submit(2);
    Submit(3);
    queue.CompleteHead();
    EXPECT_EQ(host.notified, (std::vector<std::string>{ZzccRecord(1), ZzccRecord(2)}));
    EXPECT_EQ(queue.Size(), 2u);
    EXPECT_EQ(queue.Head().Handheld, 2);
    queue.CompleteHead();
    queue.CompleteHead();
    EXPECT_EQ(host.notified,
              (std::vector<std::string>{ZzccRecord(1), ZzccRecord(2), ZzccRecord(3)}));
    EXPECT_TRUE(queue.Empty());
    EXPECT_EQ(log.Lines(), (std::vector<std::string>{kWriting, kQueued, kQueued, kDropped, kNext,
                                                     kDropped, kNext, kDropped}));
    queue.CompleteHead(); // empty: nothing
    EXPECT_EQ(log.LineCount(), 8u);
    Submit(1); // idle again: straight to the host
    EXPECT_EQ(host.notified.size(), 4u);
}

TEST_F(QueueTest, QueuedDataWithZeroByteIsWrittenWhole) {
    Submit(1);
    const std::string data("AB\0CD", 5);
    Submit(2, 13, data);
    queue.CompleteHead();
    EXPECT_EQ(host.notified.back(), "LBKX 002\r\nAB\r\n");
    queue.CompleteHead();
    Submit(3);
    Submit(3, 2, data);
    queue.CompleteHead();
    EXPECT_EQ(host.notified.back(), std::string("KT   003\r\nAB\0C D \r\n", 19));
}

TEST_F(QueueTest, SubmitErrorGoesToTheCallerAndTheEntryStays) {
    settings.ExchangeDir = dir.Dir() + "missing/";
    EXPECT_THROW(Submit(1), text::FileError);
    EXPECT_TRUE(waits.waits.empty());
    EXPECT_EQ(queue.Size(), 1u);
    Submit(2);
    EXPECT_EQ(log.Lines().back(), kQueued);
}

TEST_F(QueueTest, HandOverErrorIsLoggedAndTheEntryStays) {
    Submit(1);
    Submit(2);
    settings.ExchangeDir = dir.Dir() + "missing/";
    queue.CompleteHead();
    EXPECT_EQ(queue.Size(), 1u);
    EXPECT_EQ(queue.Head().Handheld, 2);
    const std::string prefix = ToGbk("处理命令缓存中的命令出错.信息:");
    const std::string& failed = log.Lines()[log.LineCount() - 2];
    ASSERT_GT(failed.size(), prefix.size());
    EXPECT_EQ(failed.substr(0, prefix.size()), prefix);
    EXPECT_EQ(log.Lines().back(), ToGbk("请求文件 T1.txt 未写成,1秒后重试."));
    EXPECT_EQ(host.notified.size(), 1u);
}

// The head's request file is tried again until it is written; a head answered meanwhile (the
// host posted on its own) hands the retrying on to the next one.
TEST_F(QueueTest, ARequestFileThatCannotBeWrittenIsTriedAgainUntilItIs) {
    const std::string gone = dir.Dir() + "gone/";
    settings.ExchangeDir = gone;
    host.SetRequestFile(gone + "T1.txt");
    EXPECT_THROW(Submit(1), text::FileError);
    Submit(2);
    Submit(3);
    const std::string retryFailed = ToGbk("写文件 T1.txt 出错,1秒后重试.信息:");
    auto failedTries = [&] {
        return std::count_if(log.Lines().begin(), log.Lines().end(),
                             [&](const std::string& l) { return l.rfind(retryFailed, 0) == 0; });
    };
    ASSERT_TRUE(testsupport::PumpUntil([&] { return failedTries() == 2; }, 5s));
    std::filesystem::create_directory(gone);
    queue.CompleteHead();
    EXPECT_EQ(host.notified, std::vector<std::string>{ZzccRecord(2)});
    EXPECT_FALSE(queue.Retrying());
    std::filesystem::remove(gone + "T1.txt");
    std::filesystem::remove(gone);
    queue.CompleteHead();
    EXPECT_TRUE(queue.Retrying());
    std::filesystem::create_directory(gone);
    ASSERT_TRUE(testsupport::PumpUntil([&] { return host.notified.size() == 2; }, 3s));
    EXPECT_EQ(host.notified.back(), ZzccRecord(3));
    EXPECT_FALSE(queue.Retrying());
}

TEST_F(QueueTest, NoLongerRegisteredHeadStaysWithoutFile) {
    Submit(1);
    Submit(2);
    registry.Keys.erase("02002");
    queue.CompleteHead();
    EXPECT_EQ(host.notified.size(), 1u);
    EXPECT_EQ(queue.Head().Handheld, 2);
    EXPECT_EQ(log.Lines().back(), kNext);
}

TEST_F(QueueTest, SerialsTellEntriesApart) {
    EXPECT_EQ(queue.HeadSerial(), 0u);
    Submit(1);
    const auto first = queue.HeadSerial();
    Submit(1);
    queue.CompleteHead();
    EXPECT_NE(queue.HeadSerial(), first);
    EXPECT_NE(queue.HeadSerial(), 0u);
}
