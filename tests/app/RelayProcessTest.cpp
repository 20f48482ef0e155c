// The relay program end to end: dcrelay-hostsim starts dcrelay in a temporary installation and
// plays the host; dcrelay-basesim plays base station 1 with its handhelds.
#include "baselink/xyTypeConv.h"
#include "hostlink/HostSocket.h"
#include "support/BaseSim.h"
#include "support/EnvGuard.h"
#include "support/Instance.h"
#include "support/Leftovers.h"
#include "support/WaitUntil.h"
#include "support/XSession.h"
#include "text/Files.h"
#include "text/Gbk.h"

#include <algorithm>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <iostream>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace std::chrono_literals;
using testsupport::BaseSim;
using testsupport::Instance;
using testsupport::InstanceSettings;
using testsupport::SimLine;

namespace {

std::string B(int n) {
    return std::string(static_cast<std::size_t>(n), ' ');
}

// The order data of two items and the request record the host must receive for it.
const std::string kFixed = std::string("0000012") + "4 " + "xx" + "000000000001";
const std::string kBlock1 = std::string("00101") + "   2" + "ABCDEFGHIJKL" + "01" + "0" + "zzzz";
const std::string kBlock2 = std::string("00207") + "  10" + B(12) + "02" + "1" + "zzzz";
const std::string kOrderRecord =
    "DC   108\r\n" + ("0000012" + B(12) + "000000000001" + B(6) + "15:16:29") + "\r\n" +
    ("0000012 00101" + B(4) + "2 ABCDEFGHIJKL 01 0 15:16:29" + B(6) + "4 ") + "\r\n" +
    ("0000012 00207" + B(3) + "10" + B(14) + "02 1 15:16:29" + B(6) + "4 ") + "\r\n";

struct RelayProcessTest : ::testing::Test {
    std::unique_ptr<Instance> inst;
    std::unique_ptr<BaseSim> base;
    std::unique_ptr<BaseSim> base2; // when the settings give base station 2 a port
    std::unique_ptr<BaseSim> host;

    // The relay's work log (its standard error) goes to a file, shown when a test fails.
    std::string LogFile() const { return inst->Dir() + "relay.log"; }
    void TearDown() override {
        if (HasFailure() && inst) {
            std::cerr << text::ReadFile(LogFile()).value_or("") << std::flush;
        }
    }
    std::unique_ptr<BaseSim> Station(const std::string& port, const std::string& id) {
        auto sim = std::make_unique<BaseSim>(
            std::vector<std::string>{"--link", inst->Port(port), "--id", id, "--stay"});
        EXPECT_TRUE(sim->Start()) << sim->Error();
        return sim;
    }
    void StartAll(std::vector<std::string> hostArgs, const InstanceSettings& s = {}) {
        if (!inst) {
            inst = std::make_unique<Instance>(s);
        }
        base = Station("COM1", "02");
        if (!s.ports[1].empty()) {
            base2 = Station(s.ports[1], s.ids[1]);
        }
        std::vector<std::string> args{"--runtime-dir", inst->RuntimeDir(), "--exchange",
                                      inst->Exchange(), "--stdin"};
        args.insert(args.end(), hostArgs.begin(), hostArgs.end());
        args.push_back("--");
        args.push_back(inst->Relay());
        host = std::make_unique<BaseSim>(args, BaseSim::BuiltProgram("dcrelay-hostsim"));
        host->SetReadyEvent("started");
        host->SetErrorFile(LogFile());
        ASSERT_TRUE(host->Start()) << host->Error();
        ASSERT_TRUE(
            host->WaitFor([](const SimLine& l) { return l.Str("kind") == "announcement"; }, 5s));
        // Connected: the station's answer to the query has been taken as a chunk of its own,
        // so a request sent now cannot share it.
        ASSERT_TRUE(base->WaitFor([](const SimLine& l) { return l.Kind() == "query"; }, 5s));
        ASSERT_TRUE(WaitForLogLine("成功连接基站", 5s));
    }
    // Waits until the relay's work log holds a line containing `part` (UTF-8).
    bool WaitForLogLine(const std::string& part, std::chrono::milliseconds timeout) {
        return testsupport::WaitUntil(
            [&] { return text::ReadFile(LogFile()).value_or("").find(part) != std::string::npos; },
            timeout.count());
    }
    std::optional<SimLine> Reply(std::chrono::milliseconds t = 5s) {
        return base->WaitForKind("reply", t);
    }
    std::optional<SimLine> Request(std::chrono::milliseconds t = 5s) {
        return host->WaitForEvent("request", t);
    }
    int EndRelay() {
        host->Send("close");
        return host->WaitExit(5s);
    }
    // Posts `count` messages with code `code` to the relay as fast as it takes them.
    bool PostBurst(int count, std::int32_t code) {
        const auto pid = static_cast<unsigned>(host->Seen().front().Int("relay_pid"));
        const auto deadline = std::chrono::steady_clock::now() + 60s;
        for (int i = 0; i < count; ++i) {
            while (!hostlink::PostMessage(inst->RuntimeDir(), pid, {1, code})) {
                if (std::chrono::steady_clock::now() > deadline) {
                    return false; // the relay takes no more messages
                }
                std::this_thread::sleep_for(100us);
            }
        }
        return true;
    }
};

} // namespace

TEST_F(RelayProcessTest, OneServiceFromLogInToTheHostsClose) {
    StartAll({"--reply-for", "DL=欢迎\\n", "--reply-for", "DC=下单成功\\n", "--reply", "好\\n"});

    // Handheld 5 logs in: the host gets the record, the handheld the host's reply.
    base->Send("req 5 DL t=291615000000 CNS0090008000 999     ");
    auto req = Request();
    ASSERT_TRUE(req);
    EXPECT_EQ(req->Str("mnemonic"), "DL");
    auto reply = Reply();
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->Int("handheld"), 5);
    EXPECT_EQ(reply->Str("text"), "欢迎");
    EXPECT_EQ(reply->Str("status"), "OK");
    EXPECT_TRUE(reply->Bool("ok"));

    // An order of two items from handheld 108 reaches the host as the exact order record.
    base->Send("req 108 DC t=291615000000 hex:" +
               HexCodec::BytesToHex(kFixed + "\x02" + kBlock1 + kBlock2));
    req = Request();
    ASSERT_TRUE(req);
    EXPECT_EQ(req->Str("hex"), HexCodec::BytesToHex(kOrderRecord));
    reply = Reply();
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->Int("handheld"), 108);
    EXPECT_EQ(reply->Str("text"), "下单成功");

    // An unregistered handheld is refused without reaching the host.
    base->Send("req 9 KT 01");
    reply = Reply();
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->Str("text"), "编号为：009的手持机未在02号基站注册，请重新注册。");
    EXPECT_EQ(reply->Str("status"), "NO");

    // Three quick requests are queued and answered in order, each once.
    base->Send("req 5 KT 01");
    base->Send("req 108 KT 02");
    base->Send("req 5 HT 03");
    std::vector<long long> order;
    for (int i = 0; i < 3; ++i) {
        reply = Reply(8s);
        ASSERT_TRUE(reply) << i;
        order.push_back(reply->Int("handheld"));
    }
    EXPECT_EQ(order, (std::vector<long long>{5, 108, 5}));
    EXPECT_FALSE(Reply(400ms)) << "nothing is answered twice";

    EXPECT_EQ(EndRelay(), 0);
}

TEST_F(RelayProcessTest, AHostThatNeverAnswersKeepsLaterRequestsWaiting) {
    StartAll({"--no-reply"});
    base->Send("req 5 KT 01");
    ASSERT_TRUE(Request());
    base->Send("req 108 KT 02");
    base->Send("req 5 KT 03");
    EXPECT_FALSE(Request(1500ms)) << "only the head request is with the host";
    EXPECT_FALSE(Reply(100ms));
    // Once the host answers, the next one follows.
    host->Send("answer 好\\n");
    ASSERT_TRUE(Reply());
    auto next = Request();
    ASSERT_TRUE(next);
    EXPECT_EQ(EndRelay(), 0);
}

TEST_F(RelayProcessTest, ASecondReplyReadyDuringTheFirstAnswersEachRequestOnce) {
    StartAll({"--no-reply"});
    base->Send("req 5 KT 01");
    ASSERT_TRUE(Request());
    base->Send("req 108 KT 02");
    EXPECT_FALSE(Request(500ms));
    // Two reply-ready messages at once for the first request.
    host->Send("write-reply KT   005\\n1\\n");
    host->Send("ready");
    host->Send("ready");
    auto first = Reply();
    ASSERT_TRUE(first);
    EXPECT_EQ(first->Int("handheld"), 5);
    // The second request goes to the host and waits for its own reply: the repeated message
    // must not answer it with the first request's file.
    ASSERT_TRUE(Request());
    EXPECT_FALSE(Reply(700ms));
    host->Send("write-reply KT   108\\n2\\n");
    host->Send("ready");
    auto second = Reply();
    ASSERT_TRUE(second);
    EXPECT_EQ(second->Int("handheld"), 108);
    EXPECT_FALSE(Reply(500ms));
    EXPECT_EQ(EndRelay(), 0);
}

// The second start hands its host's handle over; the relay refuses it while its own host lives.
TEST_F(RelayProcessTest, ASecondInstanceEndsSilentlyAndTheRelayKeepsItsLivingHost) {
    StartAll({"--reply", "好\\n"});
    BaseSim second(
        {"--runtime-dir", inst->RuntimeDir(), "--exchange", inst->Exchange(), "--", inst->Relay()},
        BaseSim::BuiltProgram("dcrelay-hostsim"));
    second.SetReadyEvent("started");
    ASSERT_TRUE(second.Start());
    EXPECT_EQ(second.WaitExit(5s), 0);
    EXPECT_FALSE(
        second.WaitFor([](const SimLine& l) { return l.Str("kind") == "announcement"; }, 10ms));
    EXPECT_TRUE(
        WaitForLogLine("]仍在运行,不接受新启动的主程序句柄:" + std::to_string(second.Pid()), 5s));
    base->Send("req 5 KT 01");
    ASSERT_TRUE(Reply());
    EXPECT_TRUE(host->WaitForEvent("answered", 1s)) << "the first host still answers";
    EXPECT_EQ(EndRelay(), 0);
}

TEST_F(RelayProcessTest, ClosingMessageDuringTheWaitForAMissingReplyEndsTheRelay) {
    StartAll({"--no-reply"});
    base->Send("req 5 KT 01");
    ASSERT_TRUE(Request());
    host->Send("remove-reply");
    host->Send("ready"); // the relay now waits for R1.TXT, which never comes
    host->Send("wait 300");
    host->Send("post 16");
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(host->WaitExit(5s), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1500ms);
    EXPECT_FALSE(Reply(100ms)) << "nothing is sent at the end";
}

TEST_F(RelayProcessTest, SigtermEndsTheRelayAndFreesItsPortAndLock) {
    StartAll({});
    host->Send("signal TERM");
    EXPECT_EQ(host->WaitExit(5s), 0);
    while (base->Next(200ms)) {
        // Queries of the ended relay must not pass for the new relay's.
    }
    // A new relay on the same installation takes the lock and the port again.
    BaseSim again({"--runtime-dir", inst->RuntimeDir(), "--exchange", inst->Exchange(), "--stdin",
                   "--reply", "好\\n", "--", inst->Relay()},
                  BaseSim::BuiltProgram("dcrelay-hostsim"));
    again.SetReadyEvent("started");
    ASSERT_TRUE(again.Start());
    EXPECT_TRUE(
        again.WaitFor([](const SimLine& l) { return l.Str("kind") == "announcement"; }, 5s));
    ASSERT_TRUE(base->WaitFor([](const SimLine& l) { return l.Kind() == "query"; }, 5s));
    base->Send("req 5 KT 01");
    EXPECT_TRUE(Reply());
    again.Send("close");
    EXPECT_EQ(again.WaitExit(5s), 0);
}

TEST_F(RelayProcessTest, RunModesAtStartUp) {
    inst = std::make_unique<Instance>();
    auto run = [&](std::vector<std::string> extra) {
        std::vector<std::string> args{"--runtime-dir", inst->RuntimeDir(), "--exchange",
                                      inst->Exchange(), "--stdin"};
        args.insert(args.end(), extra.begin(), extra.end());
        args.push_back("--");
        args.push_back(inst->Relay());
        auto sim = std::make_unique<BaseSim>(args, BaseSim::BuiltProgram("dcrelay-hostsim"));
        sim->SetReadyEvent("started");
        EXPECT_TRUE(sim->Start());
        return sim;
    };
    // Neither an argument nor debug2.txt: the process ends at once, silently.
    auto none = run({"--no-handle-arg"});
    EXPECT_EQ(none->WaitExit(5s), 0);
    // A first argument that is not a decimal number is reported and nothing is announced.
    auto bad = run({"--handle-arg", "12ab"});
    EXPECT_EQ(bad->WaitExit(5s), 1);
    EXPECT_FALSE(
        bad->WaitFor([](const SimLine& l) { return l.Str("kind") == "announcement"; }, 10ms));
    // debug2.txt: standalone debug, the argument is ignored and nothing is posted at start-up.
    text::WriteFileAtomic(inst->Dir() + "debug2.txt", "");
    auto debug = run({});
    EXPECT_FALSE(
        debug->WaitFor([](const SimLine& l) { return l.Str("kind") == "announcement"; }, 700ms));
    debug->Send("close"); // the host's closing message still ends it
    EXPECT_EQ(debug->WaitExit(5s), 0);
}

// Started from a session whose X server is gone, the relay runs headless instead of aborting.
TEST_F(RelayProcessTest, ADisplayThatCannotBeReachedLeavesTheRelayRunningHeadless) {
    int number = 77; // a display that no X server on this machine has taken
    while (text::FileExists("/tmp/.X11-unix/X" + std::to_string(number)) ||
           text::FileExists("/tmp/.X" + std::to_string(number) + "-lock")) {
        ++number;
    }
    const std::string unreachable = ":" + std::to_string(number);
    testsupport::EnvGuard display("DISPLAY", unreachable.c_str());
    testsupport::EnvGuard wayland("WAYLAND_DISPLAY", nullptr);
    testsupport::EnvGuard platform("QT_QPA_PLATFORM", nullptr);
    testsupport::EnvGuard face("DCRELAY_FACE", nullptr);
    StartAll({});
    EXPECT_TRUE(WaitForLogLine("the display cannot be reached (DISPLAY=" + unreachable, 5s));
    EXPECT_EQ(EndRelay(), 0);
}

TEST_F(RelayProcessTest, StartUpRemovesWhatKilledRunsLeftBehind) {
    inst = std::make_unique<Instance>();
    const std::string dead = std::to_string(testsupport::DeadPid());
    const std::string exchangeTemp = inst->Exchange() + ".dcrelay-" + dead + "-T1aaaa";
    const std::string menuTemp = inst->Dir() + "txt/.dcrelay-" + dead + "-FFbbbb";
    text::WriteFileAtomic(exchangeTemp, "x");
    text::WriteFileAtomic(menuTemp, "x");
    ASSERT_TRUE(testsupport::LeaveStaleSocket(inst->RuntimeDir() + "/win-" + dead));
    StartAll({});
    EXPECT_FALSE(text::FileExists(exchangeTemp));
    EXPECT_FALSE(text::FileExists(menuTemp));
    EXPECT_FALSE(text::FileExists(inst->RuntimeDir() + "/win-" + dead));
    EXPECT_EQ(EndRelay(), 0);
}

TEST_F(RelayProcessTest, AStationWhoseDeviceVanishedAnswersAgainWithinTwoSecondsOfItsReturn) {
    InstanceSettings s;
    s.ports = {"COM1", "COM2", "", ""};
    s.ids = {"02", "03", "", ""};
    StartAll({"--reply", "好\\n"}, s);
    ASSERT_FALSE(base->WaitForKind("query", 1s)) << "the scan has ended";

    base->Send("quit"); // its pseudo-terminal and link go
    ASSERT_EQ(base->WaitExit(5s), 0);
    base2->Send("req 9 KT 01");
    EXPECT_TRUE(base2->WaitForKind("reply", 5s)) << "the other station keeps working";

    base = Station("COM1", "02"); // a new device under the same name
    const auto deadline = std::chrono::steady_clock::now() + 2s;
    std::optional<SimLine> reply;
    for (auto left = 2000ms; !reply && left > 0ms;
         left = std::chrono::duration_cast<std::chrono::milliseconds>(
             deadline - std::chrono::steady_clock::now())) {
        base->Send("req 5 KT 01"); // those sent before the port is open again are lost
        reply = Reply(std::min<std::chrono::milliseconds>(left, 250ms));
    }
    ASSERT_TRUE(reply) << "no answer within 2 s of the device's return";
    EXPECT_EQ(reply->Str("text"), "好");
    for (const SimLine& line : base->Seen()) {
        EXPECT_NE(line.Kind(), "query") << "reopened by the scan, not by the recovery";
    }
    EXPECT_EQ(EndRelay(), 0);
}

// Base station 1's pseudo-terminal closes while the host answers its three queued requests, and
// a device is back under its name within 5 s: every answer arrives once, in order, and is
// logged as sent only after the port was reopened.
TEST_F(RelayProcessTest, AnswersForAStationBackWithinFiveSecondsArriveOnceInOrder) {
    StartAll({"--no-reply"});
    base->Send("req 5 KT 01");
    base->Send("req 108 KT 02");
    base->Send("req 5 HT 03");
    ASSERT_TRUE(Request());
    base->Send("quit");
    ASSERT_EQ(base->WaitExit(5s), 0);
    const auto out = std::chrono::steady_clock::now();
    ASSERT_TRUE(WaitForLogLine("基站1 的串口 COM1 已断开，设备恢复后自动重新打开", 5s));
    for (const std::string answer : {"一", "二", "三"}) {
        host->Send("answer " + answer + "\\n");
        if (answer != "三") {
            ASSERT_TRUE(Request()) << answer;
        }
    }
    ASSERT_TRUE(WaitForLogLine("向PDA 5 发送：HT", 5s)); // the last answer is built

    base = Station("COM1", "02");
    ASSERT_LT(std::chrono::steady_clock::now() - out, 5s);
    std::vector<std::pair<long long, std::string>> answers;
    while (auto reply = Reply(answers.size() < 3 ? 5s : 500ms)) {
        answers.emplace_back(reply->Int("handheld"), reply->Str("text"));
    }
    EXPECT_EQ(answers,
              (std::vector<std::pair<long long, std::string>>{{5, "一"}, {108, "二"}, {5, "三"}}));
    const std::string log = text::ReadFile(LogFile()).value_or("");
    const std::size_t hangUp = log.find("已断开，设备恢复后自动重新打开");
    const std::size_t reopened = log.find("已重新打开", hangUp);
    ASSERT_NE(reopened, std::string::npos);
    const std::string sent = "由 基站1 发送";
    EXPECT_EQ(log.find(sent, hangUp), log.find(sent, reopened)) << "logged as sent while out";
    EXPECT_EQ(EndRelay(), 0);
}

namespace {

// Starts a broadcast: the station's ready notice brings up the prompt (headless: "开始"), the
// start frame goes out and the station's notice starts the cycles; returns at the first packet.
bool StartBroadcast(BaseSim& base) {
    base.Send("ready");
    return base.WaitForKind("packet", 10s).has_value();
}

// The menu packed into FF.bin, as the start command would.
bool PackMenu(const Instance& inst) {
    std::string command =
        BaseSim::BuiltProgram("dcrelay-pack") + " " + inst.Dir() + "txt/ 2>/dev/null";
    return std::system(command.c_str()) == 0;
}

bool DeviceFree(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    bool free = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
    ::close(fd);
    return free;
}

} // namespace

TEST_F(RelayProcessTest, HostClosingDuringABroadcastEndsItWithNoFurtherPacket) {
    StartAll({});
    ASSERT_TRUE(PackMenu(*inst));
    ASSERT_TRUE(StartBroadcast(*base));
    host->Send("close");
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(host->WaitExit(5s), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
    EXPECT_FALSE(base->WaitForKind("packet", 2500ms)) << "a packet left after the close";
}

TEST_F(RelayProcessTest, SigtermDuringABroadcastEndsItAndFreesThePort) {
    StartAll({});
    ASSERT_TRUE(PackMenu(*inst));
    ASSERT_TRUE(StartBroadcast(*base));
    host->Send("signal TERM");
    EXPECT_EQ(host->WaitExit(5s), 0);
    EXPECT_FALSE(base->WaitForKind("packet", 2500ms));
    EXPECT_TRUE(DeviceFree(base->DevicePath()));
}

TEST_F(RelayProcessTest, RequestsAreAnsweredDuringABroadcast) {
    StartAll({"--reply", "好\\n"});
    ASSERT_TRUE(PackMenu(*inst));
    ASSERT_TRUE(StartBroadcast(*base)); // block 0 is out; the 2 s pause runs
    base->Send("req 5 KT 01");
    auto reply = Reply(5s);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->Str("text"), "好");
    EXPECT_TRUE(base->WaitForKind("packet", 5s)) << "the broadcast goes on";
    EXPECT_EQ(EndRelay(), 0);
}

TEST_F(RelayProcessTest, TenThousandReplyReadyMessagesInABurstAnswerTheRequestOnce) {
    StartAll({"--no-reply"});
    base->Send("req 5 KT 01");
    ASSERT_TRUE(Request());
    host->Send("write-reply KT   005\\n1\\n");
    ASSERT_TRUE(host->WaitForEvent("reply", 5s));
    ASSERT_TRUE(PostBurst(10000, 1))
        << "the relay stopped: " << host->WaitForEvent("exit", 1s).value_or(SimLine()).Text();
    auto reply = Reply(10s);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->Int("handheld"), 5);
    EXPECT_FALSE(Reply(700ms)) << "answered twice";
    EXPECT_EQ(EndRelay(), 0); // it lives, and takes the closing message behind the burst
}

TEST_F(RelayProcessTest, RequestsWhileTheExchangeDirectoryIsGoneAreAnsweredOnceItIsBack) {
    StartAll({"--reply", "好\\n"});
    std::filesystem::remove_all(inst->Exchange());
    base->Send("req 5 KT 01");
    base->Send("req 108 KT 02");
    EXPECT_FALSE(Request(1s)) << "no request file, no notification";
    std::filesystem::create_directory(inst->Exchange());
    for (long long handheld : {5, 108}) {
        auto reply = Reply();
        ASSERT_TRUE(reply) << handheld;
        EXPECT_EQ(reply->Int("handheld"), handheld);
    }
    EXPECT_FALSE(Reply(500ms)) << "answered twice";
    EXPECT_EQ(EndRelay(), 0);
}

TEST_F(RelayProcessTest, AStaleR1txtBesideTheHostsR1TXTIsNeverRead) {
    StartAll({"--reply", "新\\n"});
    text::WriteFileAtomic(inst->Exchange() + "R1.txt", "KT   005\r\n" + text::ToGbk("旧") + "\r\n");
    for (const char* request : {"req 5 KT 01", "req 108 KT 02"}) {
        base->Send(request);
        auto reply = Reply();
        ASSERT_TRUE(reply) << request;
        EXPECT_EQ(reply->Str("text"), "新") << request;
    }
    EXPECT_EQ(EndRelay(), 0);
}

// The exchange files are no way in: links in place of T1.txt and R2.txt are replaced by files of
// the relay's own, mode 0644, and their target stays as it was; an R1.TXT that is a link is not
// read, the handheld gets the fallback answer.
TEST_F(RelayProcessTest, LinksAmongTheExchangeFilesAreNeitherFollowedNorRead) {
    namespace fs = std::filesystem;
    inst = std::make_unique<Instance>();
    const std::string victim = inst->Dir() + "victim";
    text::WriteFileAtomic(victim, "keep");
    ASSERT_EQ(::chmod(victim.c_str(), 04755), 0);
    fs::create_symlink(victim, inst->Exchange() + "T1.txt");
    fs::create_symlink(victim, inst->Exchange() + "R2.txt");
    StartAll({"--no-reply"});

    base->Send("req 5 KT 01");
    ASSERT_TRUE(Request());
    text::WriteFileAtomic(inst->Dir() + "reply", "KT   005\r\n" + text::ToGbk("好") + "\r\n");
    fs::create_symlink(inst->Dir() + "reply", inst->Exchange() + "R1.TXT");
    host->Send("ready");
    auto reply = Reply();
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->Str("text"), "成功");
    EXPECT_TRUE(
        WaitForLogLine("读取 R1.TXT 出错，信息：" + inst->Exchange() + "R1.TXT 不是普通文件", 1s));

    base->Send("req 108 KT 02");
    ASSERT_TRUE(Request());
    host->Send("write-reply KT   108\\n2\\n"); // the host's own file in place of the link
    host->Send("ready");
    reply = Reply();
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->Str("text"), "2");
    for (const char* name : {"T1.txt", "R2.txt"}) {
        struct stat st {};
        ASSERT_EQ(::lstat((inst->Exchange() + name).c_str(), &st), 0);
        EXPECT_TRUE(S_ISREG(st.st_mode)) << name;
        EXPECT_EQ(st.st_mode & 07777, 0644u) << name;
    }
    struct stat st {};
    ASSERT_EQ(::stat(victim.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 04755u);
    EXPECT_EQ(text::ReadFile(victim), "keep");
    EXPECT_EQ(EndRelay(), 0);
}

// A stream host: the relay connects with its announcement, the request and the reply travel
// on the connection, and the closing message over it ends the relay, which ends the connection.
TEST_F(RelayProcessTest, AStreamHostIsServedAndItsClosingMessageEndsTheRelay) {
    StartAll({"--stream", "--reply-for", "DL=欢迎\\n"});
    const auto& seen = host->Seen();
    EXPECT_TRUE(std::any_of(seen.begin(), seen.end(),
                            [](const SimLine& l) { return l.Event() == "connected"; }));
    base->Send("req 5 DL t=291615000000 CNS0090008000 999     ");
    ASSERT_TRUE(Request());
    auto reply = Reply();
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->Str("text"), "欢迎");
    host->Send("close");
    EXPECT_TRUE(host->WaitForEvent("disconnected", 5s));
    EXPECT_EQ(host->WaitExit(5s), 0);
}

// The stream host's end is the host gone, not its closing: the relay logs it and goes on
// answering handhelds until it is ended.
TEST_F(RelayProcessTest, AStreamHostsEndLeavesTheRelayRunning) {
    StartAll({"--stream", "--no-reply"});
    const std::string handle = host->Seen().front().Str("handle");
    const std::string relayWindow =
        inst->RuntimeDir() + "/win-" + host->Seen().front().Str("relay_pid");
    const auto relay = static_cast<pid_t>(host->Seen().front().Int("relay_pid"));
    ::kill(host->Pid(), SIGKILL);
    host->WaitExit(5s);
    ASSERT_TRUE(WaitForLogLine("/win-" + handle + "]的连接已断开", 5s));
    base->Send("req 9 KT 01");
    EXPECT_TRUE(Reply()) << "the relay still answers";
    EXPECT_TRUE(text::FileExists(relayWindow));
    EXPECT_FALSE(WaitForLogLine("收到窗口关闭信息", 100ms));
    ::kill(relay, SIGTERM);
    EXPECT_TRUE(testsupport::WaitUntil([&] { return !text::FileExists(relayWindow); }, 5000));
}

namespace {

// Lines of the work log that contain `part` (UTF-8).
std::size_t CountLogLines(const std::string& log, const std::string& part) {
    std::size_t count = 0;
    for (std::size_t at = log.find(part); at != std::string::npos; at = log.find(part, at + 1)) {
        ++count;
    }
    return count;
}

} // namespace

// A host killed without its closing message, then started again: its new relay hands the new
// handle to the running one, which gives the new host every waiting request, each once.
TEST_F(RelayProcessTest, AHostKilledAndStartedAgainGetsEveryWaitingRequestOnce) {
    testsupport::OrphanCatcher orphans;
    StartAll({"--no-reply"});
    const auto relay = static_cast<pid_t>(host->Seen().front().Int("relay_pid"));
    const pid_t dead = host->Pid();
    orphans.Watch(relay);
    ::kill(dead, SIGKILL);
    ASSERT_EQ(host->WaitExit(5s), 128 + SIGKILL);
    base->Send("req 5 KT 01");
    base->Send("req 108 KT 02");
    base->Send("req 5 HT 03");
    ASSERT_TRUE(testsupport::WaitUntil(
        [&] {
            return CountLogLines(text::ReadFile(LogFile()).value_or(""), "已排入命令队列") == 2;
        },
        5000));
    EXPECT_EQ(CountLogLines(text::ReadFile(LogFile()).value_or(""),
                            "主程序窗口[句柄:" + std::to_string(dead) + "]已不存在"),
              1u);

    BaseSim again({"--runtime-dir", inst->RuntimeDir(), "--exchange", inst->Exchange(), "--stdin",
                   "--stay", "--reply", "好\\n", "--", inst->Relay()},
                  BaseSim::BuiltProgram("dcrelay-hostsim"));
    again.SetReadyEvent("started");
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(again.Start());
    std::vector<long long> answered;
    while (answered.size() < 3) {
        auto reply = Reply(std::chrono::duration_cast<std::chrono::milliseconds>(
            start + 2s - std::chrono::steady_clock::now()));
        if (!reply) {
            break;
        }
        answered.push_back(reply->Int("handheld"));
    }
    EXPECT_EQ(answered, (std::vector<long long>{5, 108, 5})) << "within 2 s of the host's start";
    EXPECT_FALSE(Reply(500ms)) << "answered twice";
    auto announced =
        again.WaitFor([](const SimLine& l) { return l.Str("kind") == "announcement"; }, 1s);
    ASSERT_TRUE(announced);
    EXPECT_EQ(announced->Int("first"), relay);
    auto first = again.WaitForEvent("request", 1s);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->Str("header"), "KT   005") << "the head's request file written again";
    EXPECT_TRUE(
        WaitForLogLine("已不存在,改用新启动的主程序句柄:" + std::to_string(again.Pid()), 1s));

    again.Send("close");
    EXPECT_EQ(orphans.WaitExit(relay, 5s), 0);
    again.CloseInput();
    EXPECT_EQ(again.WaitExit(5s), 0) << "its own relay handed over and ended at once";
}

// A runtime directory the relay cannot trust: it does not run, and says why and what to do.
TEST_F(RelayProcessTest, ARefusedRuntimeDirectoryStopsTheRelayWithTheReasonAndTheRemedy) {
    inst = std::make_unique<Instance>();
    struct Case {
        std::string name;
        std::function<void(const std::string&)> make;
        std::string says;   // UTF-8, after "主程序通信目录[<path>]"
        std::string remedy; // UTF-8
        const char* face;
    };
    const std::string target = inst->RuntimeDir();
    const Case cases[] = {
        {"foreign",
         [](const std::string& p) {
             ::mkdir(p.c_str(), 0700);
             [[maybe_unused]] int rc = ::chown(p.c_str(), 65534, 65534);
         },
         "属于其他用户(uid 65534)", "DCRELAY_RUNTIME_DIR", "headless"},
        {"open",
         [](const std::string& p) {
             ::mkdir(p.c_str(), 0700);
             ::chmod(p.c_str(), 0755);
         },
         "其他用户可以访问(权限 0755)", "请执行 chmod 700 " + inst->Dir() + "open", "headless"},
        {"link",
         [&](const std::string& p) {
             [[maybe_unused]] int rc = ::symlink(target.c_str(), p.c_str());
         },
         "是符号链接,可能指向他人的目录", "请删除该链接(rm " + inst->Dir() + "link)", "window"},
    };
    testsupport::EnvGuard runtime("DCRELAY_RUNTIME_DIR");
    testsupport::EnvGuard face("DCRELAY_FACE");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string dir = inst->Dir() + c.name;
        c.make(dir);
        runtime.Set(dir.c_str());
        face.Set(c.face);
        // Bounded: a relay that runs anyway is killed after 5 s.
        FILE* out = ::popen(("timeout -s KILL 5 " + inst->Relay() + " 4321 2>&1").c_str(), "r");
        std::string said;
        char buffer[4096];
        for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, out)) > 0;) {
            said.append(buffer, n);
        }
        const int status = ::pclose(out);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
        EXPECT_NE(said.find("主程序通信目录[" + dir + "]" + c.says + ",程序不能运行。"),
                  std::string::npos)
            << said;
        EXPECT_NE(said.find(c.remedy), std::string::npos) << said;
        EXPECT_TRUE(std::filesystem::is_empty(dir)) << "no lock, no window";
    }
}

namespace {

// Session bus processes (dbus-launch, dbus-daemon) started from a program of this test: they
// carry the test's runtime directory in their environment.
int SessionBusesStartedWith(const std::string& runtimeDir) {
    const std::string mark = "DCRELAY_RUNTIME_DIR=" + runtimeDir + std::string(1, '\0');
    int found = 0;
    for (const auto& e : std::filesystem::directory_iterator("/proc")) {
        const std::string proc = e.path().string();
        const std::string comm = text::ReadFile(proc + "/comm").value_or("");
        if ((comm == "dbus-launch\n" || comm == "dbus-daemon\n") &&
            text::ReadFile(proc + "/environ").value_or("").find(mark) != std::string::npos) {
            ++found;
        }
    }
    return found;
}

} // namespace

// The X server dies under a relay with its window: Qt ends the program (status 1), and it takes
// its window's socket and its lock file along; without a session bus it has started none.
TEST_F(RelayProcessTest, ADisplayThatDiesTakesTheSocketAndTheLockAndLeavesNoSessionBus) {
    testsupport::EnvGuard display("DISPLAY");
    testsupport::EnvGuard platform("QT_QPA_PLATFORM");
    testsupport::EnvGuard wayland("WAYLAND_DISPLAY");
    testsupport::EnvGuard face("DCRELAY_FACE", "window");
    testsupport::EnvGuard bus("DBUS_SESSION_BUS_ADDRESS", nullptr);
    testsupport::EnvGuard xdg("XDG_RUNTIME_DIR", nullptr);
    testsupport::XSession x;
    ASSERT_TRUE(x.Start()) << x.Error();
    StartAll({});
    const std::string window = hostlink::WindowPath(
        inst->RuntimeDir(), static_cast<unsigned>(host->Seen().front().Int("relay_pid")));
    const std::string lock = inst->RuntimeDir() + "/无线点菜机管理1.lock";
    ASSERT_TRUE(text::FileExists(window));
    ASSERT_TRUE(text::FileExists(lock));
    EXPECT_EQ(SessionBusesStartedWith(inst->RuntimeDir()), 0) << "a session bus was started";

    x.KillServer();
    EXPECT_EQ(host->WaitExit(10s), 1);
    EXPECT_FALSE(text::FileExists(window));
    EXPECT_FALSE(text::FileExists(lock));
    EXPECT_EQ(SessionBusesStartedWith(inst->RuntimeDir()), 0) << "a session bus was left";
}
