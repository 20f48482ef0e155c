// What the operator and support learn of the traffic: the operation records, each handheld's
// activity and the work-log file.
#include "app/OperationRecorder.h"
#include "app/WorkLogFile.h"
#include "config/AppSettings.h"
#include "config/HandheldRegistry.h"
#include "relay/PdaRequest.h"
#include "relay/RelayRecorders.h"
#include "text/Files.h"
#include "text/Gbk.h"

#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

using relaytest::RecordingQueue;
using relaytest::RecordingSender;
using relaytest::TempDir;
using namespace std::chrono;

namespace {

const std::string kTime = "291615000000";

// An order of two items: the fixed part (its last byte the item count), then the item blocks.
std::string Order() {
    std::string fixed = "A01    " + std::string(16, ' ') + '\x02';
    auto item = [](const std::string& code, const std::string& qty) {
        return code + qty + std::string(28 - code.size() - qty.size(), ' ');
    };
    return fixed + item("01001", "   2") + item("01002", "  1 ");
}

struct RecorderTest : ::testing::Test {
    RecorderTest() { registry.Keys.insert("0A005"); }
    void Handle(int operationByte, int base, int handheld, const std::string& data = "x") {
        relaytest::HandleRequestByte(decoder, operationByte, base, handheld, kTime, data);
    }
    config::AppSettings settings;
    config::HandheldRegistry registry;
    RecordingSender link;
    RecordingQueue queue;
    WorkLog log;
    std::string now = "10:00:00";
    app::OperationRecorder recorder{link, [this] { return now; }};
    relay::RequestDecoder decoder{settings, registry, recorder, queue, log};
    void SetUp() override { decoder.SetEvents(&recorder); }
};

sys_days Day(int y, unsigned m, unsigned d) {
    return year{y} / month{m} / day{d};
}
system_clock::time_point Noon(sys_days d) {
    const year_month_day ymd{d};
    std::tm local{};
    local.tm_year = static_cast<int>(ymd.year()) - 1900;
    local.tm_mon = static_cast<int>(static_cast<unsigned>(ymd.month())) - 1;
    local.tm_mday = static_cast<int>(static_cast<unsigned>(ymd.day()));
    local.tm_hour = 12;
    local.tm_isdst = -1;
    return system_clock::from_time_t(std::mktime(&local));
}
void Touch(const std::string& path) {
    std::ofstream(path) << "x";
}

} // namespace

TEST_F(RecorderTest, ALogInAndAnOrderFillThreeRecordsForTheirHandheldOnly) {
    Handle(0x4C, 0x0A, 5, "CNS0090008000 999     ");
    Handle(0x53, 0x0A, 5, Order());
    recorder.SendPdaReply(0, 0x0A, 5, text::ToGbk("欢迎\r\n光临"), kTime, true);
    ASSERT_EQ(link.sent.size(), 1u); // the answer still goes out

    const auto rows = app::RecordsOf(recorder.Records(), "0A", "005");
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0].Type, "DL");
    EXPECT_EQ(rows[0].Data, "10:00:00 CNS0090008000 999");
    EXPECT_EQ(rows[1].Type, "DC");
    EXPECT_EQ(text::ToUtf8(rows[1].Data), "10:00:00 共2项 01001×2 01002×1");
    EXPECT_EQ(rows[2].Type, "DL");
    EXPECT_EQ(text::ToUtf8(rows[2].Data), "10:00:00 欢迎 光临");
    EXPECT_FALSE(rows[0].Answer || rows[1].Answer) << "requests";
    EXPECT_TRUE(rows[2].Answer) << "the answer";
    EXPECT_TRUE(app::RecordsOf(recorder.Records(), "0B", "005").empty());
}

TEST_F(RecorderTest, TheNewestTenThousandRecordsAreKept) {
    for (int i = 0; i <= 10000; ++i) {
        recorder.SendPdaReply(0, 0x0A, 5, std::to_string(i), kTime, true);
    }
    ASSERT_EQ(recorder.Records().size(), 10000u);
    EXPECT_EQ(recorder.Records().front().Data, "10:00:00 1");
    EXPECT_EQ(recorder.Records().back().Data, "10:00:00 10000");
}

TEST_F(RecorderTest, CountersAndLastSeenFollowRefusedAndAcceptedRequests) {
    EXPECT_EQ(recorder.ActivityOf("0A", "005"), nullptr);
    Handle(0x4B, 0x0A, 5); // unknown operation, answered NO
    now = "10:00:05";
    Handle(0x4C, 0x0A, 5, "CNS");
    Handle(0x4C, 0x0A, 9, "CNS"); // not registered
    const app::HandheldActivity* a = recorder.ActivityOf("0A", "005");
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->Requests, 2);
    EXPECT_EQ(a->UnknownOperation, 1);
    EXPECT_EQ(a->Unregistered, 0);
    EXPECT_EQ(text::ToUtf8(app::ActivityDetail(a)),
              "请求 2 次，最近 10:00:05，上次回复 NO，拒绝：未注册 0 次，操作类型错 1 次");
    EXPECT_EQ(recorder.ActivityOf("0A", "009")->Unregistered, 1);
    EXPECT_EQ(recorder.Records().size(), 3u); // one accepted request, two refusals' answers
}

TEST(WorkLogFile, DayFilesPastTheLimitAreTheExpiredOnes) {
    const std::vector<std::string> names{"dcrelay-20261202.log", "dcrelay-20261203.log",
                                         "dcrelay-2026120x.log", "notes.txt"};
    EXPECT_EQ(app::ExpiredLogFiles(names, Day(2026, 12, 9), 7),
              std::vector<std::string>{"dcrelay-20261202.log"});
}

TEST(WorkLogFile, LinesGoToTheDaysFileAndOldFilesGoWhenTheDayBegins) {
    TempDir tmp;
    const std::string logs = tmp.Dir() + "logs/";
    std::filesystem::create_directories(logs);
    Touch(logs + "dcrelay-20261202.log");
    Touch(logs + "dcrelay-20261203.log");
    system_clock::time_point now = Noon(Day(2026, 12, 9));
    int failures = 0;
    app::WorkLogFile file(
        logs, 7, [&](const std::string&) { ++failures; }, [&] { return now; });

    file.LineAppended(text::ToGbk("收到主程序句柄:1"));
    file.Flush();
    EXPECT_EQ(text::ReadFile(logs + "dcrelay-20261209.log"),
              "12:00:00.000 " + text::ToGbk("收到主程序句柄:1") + "\n");
    EXPECT_FALSE(text::FileExists(logs + "dcrelay-20261202.log"));
    EXPECT_TRUE(text::FileExists(logs + "dcrelay-20261203.log"));

    now = Noon(Day(2026, 12, 10));
    file.LineAppended("next");
    file.Flush();
    EXPECT_TRUE(text::FileExists(logs + "dcrelay-20261210.log"));
    EXPECT_FALSE(text::FileExists(logs + "dcrelay-20261203.log"));
    EXPECT_EQ(failures, 0);
}

// The wall clock jumps 30 days ahead and back: the day written before the jump keeps its lines,
// and a file dated after the clock's day is not taken for an old one.
TEST(WorkLogFile, AClockJumpLeavesTheWrittenDaysAndLaterDaysWhole) {
    TempDir tmp;
    const std::string logs = tmp.Dir() + "logs/";
    std::filesystem::create_directories(logs);
    Touch(logs + "dcrelay-20270118.log"); // dated 40 days ahead
    system_clock::time_point now = Noon(Day(2026, 12, 9));
    app::WorkLogFile file(logs, 30, nullptr, [&] { return now; });
    file.LineAppended("before");
    file.Flush();
    const auto before = text::ReadFile(logs + "dcrelay-20261209.log");
    ASSERT_TRUE(before);
    EXPECT_TRUE(text::FileExists(logs + "dcrelay-20270118.log"));

    now += days(30);
    file.LineAppended("after");
    file.Flush();
    EXPECT_EQ(text::ReadFile(logs + "dcrelay-20261209.log"), before);
    EXPECT_EQ(text::ReadFile(logs + "dcrelay-20270108.log"), "12:00:00.000 after\n");

    now -= days(30);
    file.LineAppended("again");
    file.Flush();
    EXPECT_TRUE(text::FileExists(logs + "dcrelay-20270108.log"));
    EXPECT_TRUE(text::FileExists(logs + "dcrelay-20270118.log"));
    EXPECT_EQ(text::ReadFile(logs + "dcrelay-20261209.log"), *before + "12:00:00.000 again\n");
}

TEST(WorkLogFile, AnUnwritableDirectoryIsReportedOnce) {
    TempDir tmp;
    Touch(tmp.Dir() + "logs"); // a file where the directory should be: nothing can be made there
    std::vector<std::string> reports;
    app::WorkLogFile file(tmp.Dir() + "logs/", 7,
                          [&](const std::string& m) { reports.push_back(m); });
    file.LineAppended("one");
    file.LineAppended("two");
    file.Flush();
    file.LineAppended("three");
    file.Flush();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_NE(text::ToUtf8(reports[0]).find("工作日志文件无法写入"), std::string::npos);
}

TEST(WorkLogFile, TheSwitchIsInTheSupportSection) {
    TempDir tmp;
    const std::string ini = tmp.Dir() + "dcfilepath.ini";
    EXPECT_FALSE(app::LoadWorkLogFileSettings(ini).On);
    std::ofstream(ini) << "[Menu]\r\nPath=x\r\n[Support]\r\nlogfile=1\r\nlogdays=3\r\n";
    const auto s = app::LoadWorkLogFileSettings(ini);
    EXPECT_TRUE(s.On);
    EXPECT_EQ(s.KeepDays, 3);
}
