#include "RelayRecorders.h"

#include "app/RetryTimer.h"
#include "config/AppSettings.h"
#include "config/HandheldRegistry.h"
#include "relay/CommandQueue.h"
#include "relay/ReplyFile.h"
#include "relay/ReplyHandler.h"
#include "text/Gbk.h"
#include "worklog/WorkLog.h"

#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace relaytest;
using text::ToGbk;

namespace {

struct ParseCase {
    std::string file;
    bool recognised;
    int operation;
    std::string handheldField;
    std::string body;
};

} // namespace

TEST(ReplyFile, Recognition) {
    const std::vector<ParseCase> cases = {
        {"QCJE 5\r\nbody\r\n", true, 30, "5", "body\r\n"},
        {"YDKT 5\r\nbody\r\n", false, 0, "", ""},
        {"ZZQC 5\r\nbody", true, 34, "5", "body"},
        {"DL   005\r\nx\r\n", true, 0, "005", "x\r\n"},
        {"CLQC 5\r\nx\r\n", true, 36, "5", "x\r\n"},
        {"GQ\r\nx\r\n", true, 26, "", "x\r\n"},
        {"  \tKT   12  \r\nx\r\n", true, 2, "12", "x\r\n"},
        {"DL005\r\nx\r\n", false, 0, "", ""},
        {"dl   5\r\nx\r\n", false, 0, "", ""},
        {"DL   5\r\n", false, 0, "", ""},
        {"DL   5", false, 0, "", ""},
        {"", false, 0, "", ""},
        {"\r\nx\r\n", false, 0, "", ""},
        {"HT   5\rone\ntwo\r\n\r\n", true, 3, "5", "one\r\ntwo\r\n\r\n"},
        {"HT   5\n\n", true, 3, "5", "\r\n"},
    };
    for (const ParseCase& c : cases) {
        relay::ReplyFile r = relay::ParseReplyFile(c.file);
        EXPECT_EQ(r.Recognised, c.recognised) << c.file;
        if (c.recognised) {
            EXPECT_EQ(r.Operation, c.operation) << c.file;
            EXPECT_EQ(r.HandheldField, c.handheldField) << c.file;
            EXPECT_EQ(r.Body, c.body) << c.file;
        }
    }
    EXPECT_EQ(relay::ParseReplyFile("ZZQC 5\r\nbody").Copy, "body\r\n");
    EXPECT_EQ(relay::ParseReplyFile("ZZQC 5\ra\rb\r").Copy, "a\r\nb\r\n");
}

TEST(ReplyFile, TextForTheHandheld) {
    const std::string xie = ToGbk("谢");
    ASSERT_EQ(xie.size(), 2u);
    std::string gbk500, oddGbk = "a";
    for (int i = 0; i < 500; ++i) {
        gbk500 += xie;
        oddGbk += xie;
    }
    struct Case {
        std::string body, expected;
    };
    const std::vector<Case> cases = {
        {ToGbk("谢谢") + "\r\n", ToGbk("谢谢")},
        {"12345", "123"},
        {"12345\r\n", "12345"},
        {std::string(1000, 'x'), std::string(810, 'x')},
        {std::string(812, 'x'), std::string(810, 'x')},
        {std::string(811, 'x') + "\r\n", std::string(810, 'x')}, // cut inside the CR LF
        {gbk500, gbk500.substr(0, 808)},
        // The cut leaves half a character at the end: it goes with the next whole character.
        {oddGbk, oddGbk.substr(0, 809)},
        {"\r\n", ""},
        {"", ""},
        {"a" + xie, ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(relay::HandheldReplyText(c.body), c.expected) << c.body.size() << " bytes";
    }
}

TEST(ReplyFile, Status) {
    EXPECT_FALSE(relay::ReplyStatusOk("5", 5));
    EXPECT_FALSE(relay::ReplyStatusOk(" 5 ", 5));
    EXPECT_FALSE(relay::ReplyStatusOk("123", 123));
    EXPECT_TRUE(relay::ReplyStatusOk("005", 5));
    EXPECT_TRUE(relay::ReplyStatusOk("", 5));
    EXPECT_TRUE(relay::ReplyStatusOk("6", 5));
}

namespace {

class ReplyTest : public ::testing::Test {
protected:
    ReplyTest() : host(dir.Dir() + "T1.txt") {
        settings.ExchangeDir = dir.Dir();
        for (const char* key : {"02001", "02002", "02003", "02005"}) {
            registry.Keys.insert(key);
        }
    }
    void Submit(int handheld, int operation = 9) {
        queue.SubmitRequest(operation, 0x02, static_cast<std::uint8_t>(handheld), "0000012", kTime);
    }
    void WriteReply(const std::string& content, const std::string& name = "R1.TXT") {
        text::WriteFileAtomic(dir.Dir() + name, content);
    }
    std::string Path(const std::string& name) const { return dir.Dir() + name; }
    // A work-log line that begins with `start` (or is it).
    bool Logged(const std::string& start) const {
        for (const std::string& l : log.Lines()) {
            if (l.rfind(start, 0) == 0) {
                return true;
            }
        }
        return false;
    }

    TempDir dir;
    config::AppSettings settings;
    config::HandheldRegistry registry;
    RecordingView view;
    RecordingHost host;
    RecordingSender sender;
    WorkLog log;
    ScriptedWaits waits;
    relay::RequestBuilder builder{settings, registry, view, host};
    app::QtRetryTimer retry;
    relay::CommandQueue queue{builder, log, waits, retry};
    relay::ReplyHandler handler{settings, queue, sender, log, waits};
};

const std::string kFallbackLine =
    ToGbk("R1.TXT文件无内容,系统无回复数据,统一回复\"成功\", 请与管理员联系");
const std::string kSuccess = ToGbk("成功");

} // namespace

TEST_F(ReplyTest, RecognisedReplyIsSentCopiedAndCompleted) {
    Submit(5, 30);
    Submit(1);
    waits.waits.clear();
    log.Clear();
    WriteReply("QCJE 5\r\n" + ToGbk("谢谢") + "\r\n");
    handler.HandleReply();
    EXPECT_EQ(sender.sent,
              (std::vector<SentReply>{{30, "0205", "5", ToGbk("谢谢"), kTime, false}}));
    EXPECT_EQ(text::ReadFile(Path("R2.txt")), ToGbk("谢谢") + "\r\n");
    EXPECT_EQ(waits.waits, std::vector<unsigned>{100});
    EXPECT_EQ(log.Lines(),
              (std::vector<std::string>{ToGbk("读取到 R1.TXT "), ToGbk("发送信息到点菜机"),
                                        ToGbk("从命令缓存删除与当前回复对应的命令."),
                                        ToGbk("命令缓存中仍然有命令等待处理.处理下一命令.")}));
    EXPECT_EQ(host.notified.back(), "ZZCC 001\r\n0000012\r\n");
    EXPECT_EQ(queue.Head().Handheld, 1);
    EXPECT_TRUE(text::FileExists(Path("R1.TXT"))); // never removed
}

TEST_F(ReplyTest, StatusFromTheHandheldField) {
    Submit(5);
    WriteReply("ZZCC 005\r\nok\r\n");
    handler.HandleReply();
    Submit(5);
    WriteReply("ZZCC 5\r\nno\r\n");
    handler.HandleReply();
    ASSERT_EQ(sender.sent.size(), 2u);
    EXPECT_TRUE(sender.sent[0].success);
    EXPECT_FALSE(sender.sent[1].success);
}

TEST_F(ReplyTest, UnusableReplyFilesGetSuccess) {
    for (const std::string& file :
         {std::string("ZZCC 5\r\n"), std::string(""), std::string("YDKT 5\r\nbody\r\n")}) {
        Submit(5, 30);
        WriteReply(file);
        handler.HandleReply();
        EXPECT_EQ(sender.sent.back(), (SentReply{0, "0205", "5", kSuccess, kTime, true})) << file;
        EXPECT_EQ(log.Lines()[log.LineCount() - 2], kFallbackLine);
    }
    EXPECT_EQ(sender.sent.size(), 3u);
    EXPECT_FALSE(text::FileExists(Path("R2.txt")));
    EXPECT_TRUE(queue.Empty());
}

TEST_F(ReplyTest, EmptyQueueDoesNotTouchTheReplyFile) {
    handler.HandleReply(); // R1.TXT missing: no waiting for it
    EXPECT_EQ(waits.waits, std::vector<unsigned>{100});
    EXPECT_TRUE(sender.sent.empty());
    EXPECT_TRUE(log.Lines().empty());
}

TEST_F(ReplyTest, WaitsForTheReplyFileUnderEitherSpelling) {
    Submit(5);
    waits.waits.clear();
    waits.during[4] = [&] { WriteReply("ZZCC 5\r\nabc\r\n", "r1.txt"); };
    handler.HandleReply();
    EXPECT_EQ(waits.waits, (std::vector<unsigned>{100, 10, 10, 10}));
    ASSERT_EQ(sender.sent.size(), 1u);
    EXPECT_EQ(sender.sent[0].text, "abc");
}

TEST_F(ReplyTest, ProgramEndingStopsTheWaitAndSendsNothing) {
    Submit(5);
    waits.during[3] = [&] { waits.ending = true; };
    waits.during[5] = [&] { ADD_FAILURE() << "went on waiting"; };
    handler.HandleReply();
    EXPECT_TRUE(sender.sent.empty());
    EXPECT_EQ(queue.Size(), 1u);
    EXPECT_FALSE(handler.Running());
}

// A FIFO (or any file that is not a regular one) is refused without waiting for a writer, and
// a symbolic link is not followed, even to a well-formed reply.
TEST_F(ReplyTest, AReplyFileThatIsNoRegularFileIsRefusedAndAnsweredWithSuccess) {
    WriteReply("ZZCC 5\r\nabc\r\n", "elsewhere.txt");
    const std::vector<std::function<void()>> makeReplyFile = {
        [&] { ASSERT_EQ(::mkfifo(Path("R1.TXT").c_str(), 0644), 0); },
        [&] { std::filesystem::create_symlink(Path("elsewhere.txt"), Path("R1.TXT")); },
    };
    for (const auto& make : makeReplyFile) {
        std::filesystem::remove(Path("R1.TXT"));
        log.Clear();
        make();
        Submit(5);
        handler.HandleReply();
        EXPECT_TRUE(
            Logged(ToGbk("读取 R1.TXT 出错，信息：") + Path("R1.TXT") + ToGbk(" 不是普通文件")));
        EXPECT_EQ(sender.sent.back(), (SentReply{0, "0205", "5", kSuccess, kTime, true}));
    }
    EXPECT_EQ(sender.sent.size(), 2u);
    EXPECT_FALSE(text::FileExists(Path("R2.txt")));
}

// Of a reply file over 1 MiB the first MiB is read: the handheld's answer is whole.
TEST_F(ReplyTest, AHugeReplyFileIsReadOnlyAsFarAsTheLimit) {
    WriteReply("ZZCC 5\r\n" + std::string(3 * relay::kMaxReplyFileBytes, 'x'));
    Submit(5);
    handler.HandleReply();
    ASSERT_EQ(sender.sent.size(), 1u);
    EXPECT_EQ(sender.sent[0].text, std::string(810, 'x'));
    EXPECT_TRUE(Logged(ToGbk("R1.TXT 超过 1 MiB")));
    EXPECT_EQ(text::ReadFile(Path("R2.txt"))->size(), relay::kMaxReplyFileBytes - 8 + 2);
}

// The copy is reported (work log, and the error goes to the caller for the error box), but
// the handheld is answered and the next request goes to the host.
TEST_F(ReplyTest, ACopyThatCannotBeWrittenIsReportedAndTheQueueGoesOn) {
    std::filesystem::create_directories(Path("R2.txt/full"));
    Submit(5);
    Submit(1);
    WriteReply("ZZCC 5\r\nabc\r\n");
    EXPECT_THROW(handler.HandleReply(), text::FileError);
    EXPECT_TRUE(Logged(ToGbk("写文件 R2.txt 出错，信息：")));
    EXPECT_EQ(sender.sent, (std::vector<SentReply>{{9, "0205", "5", "abc", kTime, false}}));
    EXPECT_EQ(queue.Head().Handheld, 1);
    EXPECT_EQ(host.notified.back(), "ZZCC 001\r\n0000012\r\n");
    EXPECT_FALSE(handler.Running());
}

// Messages that come while a run waits are recorded, not run inside the wait: however many
// come, the request is answered once and no message adds waits of its own.
TEST_F(ReplyTest, AFloodOfMessagesDuringAWaitIsRecordedNotNested) {
    auto flood = [&] {
        for (int i = 0; i < 10000; ++i) {
            handler.ReplyReady();
        }
    };
    Submit(5);
    WriteReply("ZZCC 5\r\nabc\r\n");
    waits.waits.clear();
    waits.during[1] = flood;
    handler.ReplyReady();
    EXPECT_EQ(sender.sent.size(), 1u);
    EXPECT_EQ(waits.waits, (std::vector<unsigned>{20, 100}));
    // While nothing is with the host, one message stands for all that come with it.
    waits.waits.clear();
    waits.during[1] = flood;
    handler.ReplyReady();
    EXPECT_EQ(waits.waits, (std::vector<unsigned>{20, 100, 20, 100}));
    EXPECT_EQ(sender.sent.size(), 1u);
    EXPECT_LT(log.LineCount(), 20u) << "no line of its own for each repeat";
}

// A second reply-ready message during the waits of the first belongs to the same request: it
// must neither answer the next request with the old reply nor drop that request.
TEST_F(ReplyTest, NestedReplyReadyAnswersEachRequestOnce) {
    Submit(1);
    Submit(2);
    WriteReply("ZZCC 1\r\nfor one\r\n");
    waits.waits.clear();
    waits.during[1] = [&] { handler.HandleReply(); }; // inside the first 100 ms wait
    handler.HandleReply();
    ASSERT_EQ(sender.sent.size(), 1u);
    EXPECT_EQ(sender.sent[0].handheld, "1");
    EXPECT_EQ(sender.sent[0].text, "for one");
    EXPECT_TRUE(Logged(ToGbk("上一回复仍在处理,本次回复通知稍后处理.")));
    EXPECT_TRUE(Logged(ToGbk("与本次回复通知对应的命令已回复,不再重复回复.")));
    EXPECT_EQ(queue.Head().Handheld, 2); // with the host, not answered with the old reply
    EXPECT_EQ(host.notified.back(), "ZZCC 002\r\n0000012\r\n");

    WriteReply("ZZCC 2\r\nfor two\r\n");
    handler.HandleReply();
    ASSERT_EQ(sender.sent.size(), 2u);
    EXPECT_EQ(sender.sent[1].handheld, "2");
    EXPECT_EQ(sender.sent[1].text, "for two");
    EXPECT_TRUE(queue.Empty());
}

TEST_F(ReplyTest, ReplyReadyWhileWaitingForTheFileIsTheSameRequest) {
    Submit(1);
    Submit(2);
    waits.waits.clear();
    waits.during[2] = [&] { handler.HandleReply(); };
    waits.during[3] = [&] { WriteReply("ZZCC 1\r\nfor one\r\n"); };
    handler.HandleReply();
    ASSERT_EQ(sender.sent.size(), 1u);
    EXPECT_EQ(sender.sent[0].handheld, "1");
    EXPECT_EQ(queue.Head().Handheld, 2);
}

TEST_F(ReplyTest, NestedMessagesAreHandledInOrder) {
    // Three requests; the host answers each one quickly, and its messages for the second and
    // third arrive while the relay still handles the first.
    Submit(1);
    Submit(2);
    Submit(3);
    WriteReply("ZZCC 1\r\none\r\n");
    host.onNotify = [&] {
        const std::string number = host.notified.back().substr(7, 1);
        WriteReply("ZZCC " + number + "\r\nreply " + number + "\r\n");
        handler.HandleReply(); // the host's message comes before the running one returns
    };
    handler.HandleReply();
    ASSERT_EQ(sender.sent.size(), 3u);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(sender.sent[static_cast<std::size_t>(i)].handheld, std::to_string(i + 1));
    }
    EXPECT_EQ(sender.sent[1].text, "reply 2");
    EXPECT_EQ(sender.sent[2].text, "reply 3");
    EXPECT_TRUE(queue.Empty());
}

TEST_F(ReplyTest, StrayReplyReadyWhileIdleDoesNotAnswerALaterRequest) {
    WriteReply("ZZCC 9\r\nstale\r\n");
    waits.during[1] = [&] { Submit(5); }; // arrives during the 100 ms wait
    handler.HandleReply();
    EXPECT_TRUE(sender.sent.empty());
    EXPECT_EQ(queue.Size(), 1u);
    WriteReply("ZZCC 5\r\nfresh\r\n");
    handler.HandleReply();
    ASSERT_EQ(sender.sent.size(), 1u);
    EXPECT_EQ(sender.sent[0].text, "fresh");
}

// The reply step taken as the message arrives: a second message during the 20 ms wait of the
// first belongs to the same request, although its own run starts first.
TEST_F(ReplyTest, ReplyReadyMatchesTheMessageBeforeItsWait) {
    Submit(1);
    Submit(2);
    WriteReply("ZZCC 1\r\nfor one\r\n");
    waits.waits.clear();
    waits.during[1] = [&] { handler.ReplyReady(); }; // inside the first message's 20 ms wait
    handler.ReplyReady();
    ASSERT_EQ(sender.sent.size(), 1u);
    EXPECT_EQ(sender.sent[0].handheld, "1");
    EXPECT_EQ(queue.Head().Handheld, 2);
    EXPECT_TRUE(Logged(ToGbk("读文件R1.TXT")));
    EXPECT_TRUE(Logged(ToGbk("与本次回复通知对应的命令已回复,不再重复回复.")));
    EXPECT_EQ(waits.waits.front(), 20u);
}

// A message that came while nothing was with the host, and the host's message for a request
// handed over meanwhile: the second answers that request.
TEST_F(ReplyTest, ReplyForARequestHandedOverDuringAStrayMessage) {
    waits.during[2] = [&] { // the stray message's 100 ms wait
        Submit(5);
        WriteReply("ZZCC 5\r\nfresh\r\n");
        handler.ReplyReady();
    };
    handler.ReplyReady();
    ASSERT_EQ(sender.sent.size(), 1u);
    EXPECT_EQ(sender.sent[0].text, "fresh");
    EXPECT_TRUE(queue.Empty());
}
