// dcrelay-basesim end to end: the program runs as a child, the test stands where the relay would,
// on the far side of its pseudo-terminal, opened through the link with plain termios.
#include "support/BaseSim.h"
#include "BaseSimFrames.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;
using testsupport::BaseSim;
using testsupport::SimLine;

const std::string kWorkedRequest =
    "AA31026C001F2916150000004C434E5330303930303038303030203939392020202020AABB0645";
const std::string kWorkedReply = "AA32026C00132916150000004C6C4F4B03008097616263AABB054B";
const std::string kFailedReply = "AA32026C0010FFFFFFFFFFFF4C6C4E4F0000FFFFAABB0AB2";

using basesim::Hex;
std::string Bytes(const std::string& hex) {
    return *basesim::ParseHex(hex);
}

std::string Packet(int count, int block, char fill) {
    std::string p = "\x0A";
    p += static_cast<char>(count >> 8);
    p += static_cast<char>(count & 0xFF);
    p += std::string(4, '\0');
    p += static_cast<char>(block >> 8);
    p += static_cast<char>(block & 0xFF);
    p += std::string(64, fill);
    const unsigned sum = basesim::Sum16(p);
    p += static_cast<char>((sum >> 8) & 0xFF);
    p += static_cast<char>(sum & 0xFF);
    return p;
}

// The relay's side of the link: the device opened as a serial port is opened.
class Device {
public:
    explicit Device(const std::string& path) {
        fd_ = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd_ < 0) {
            ADD_FAILURE() << "cannot open " << path << ": " << std::strerror(errno);
            return;
        }
        termios t{};
        tcgetattr(fd_, &t);
        cfmakeraw(&t);
        t.c_cflag |= CLOCAL | CREAD;
        tcsetattr(fd_, TCSANOW, &t);
    }
    ~Device() {
        if (fd_ >= 0) {
            close(fd_);
        }
    }
    bool Ok() const { return fd_ >= 0; }
    void Write(const std::string& bytes) {
        ASSERT_EQ(write(fd_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
    // Reads until `count` bytes came or the time ran out.
    std::string Read(std::size_t count, std::chrono::milliseconds timeout) {
        std::string got;
        auto deadline = std::chrono::steady_clock::now() + timeout;
        while (got.size() < count) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) {
                break;
            }
            pollfd p{fd_, POLLIN, 0};
            if (poll(&p, 1, static_cast<int>(left.count())) <= 0) {
                break;
            }
            char buf[512];
            ssize_t n = read(fd_, buf, std::min(sizeof buf, count - got.size()));
            if (n > 0) {
                got.append(buf, static_cast<std::size_t>(n));
            }
        }
        return got;
    }

private:
    int fd_ = -1;
};

class BaseSimTest : public ::testing::Test {
protected:
    void SetUp() override { link_ = dir_.File("COM1"); }
    void TearDown() override { sim_.reset(); }
    // Starts the simulator with a link in the test directory and opens the device through it.
    void Start(std::vector<std::string> args) {
        args.insert(args.begin(), {"--link", link_});
        sim_ = std::make_unique<BaseSim>(args);
        ASSERT_TRUE(sim_->Start()) << sim_->Error();
        device_ = std::make_unique<Device>(link_);
        ASSERT_TRUE(device_->Ok());
    }
    std::optional<SimLine> Frame(const std::string& kind) { return sim_->WaitForKind(kind, 2s); }

    testsupport::TempDir dir_{"basesim-test"};
    std::string link_;
    std::unique_ptr<BaseSim> sim_;
    std::unique_ptr<Device> device_;
};

TEST_F(BaseSimTest, QueryAnswers) {
    struct Case {
        std::vector<std::string> args;
        std::string answer; // "" for none
    } cases[] = {
        {{}, "AA00000000000000"},
        {{"--channel", "5"}, "AA00000000000004"},
        {{"--channel=256"}, "AA000000000000FF"}, // the relay shows 256
        {{"--short-answer", "--channel", "5"}, "AA000000000000"},
        {{"--no-answer"}, ""},
    };
    for (const Case& c : cases) {
        Start(c.args);
        device_->Write(Bytes("AA00000000000000"));
        auto query = Frame("query");
        ASSERT_TRUE(query);
        EXPECT_TRUE(query->Bool("ok"));
        EXPECT_EQ(query->Bool("answered"), !c.answer.empty());
        // Exactly the answer and nothing after it.
        std::string got = device_->Read(c.answer.size() / 2 + 1, c.answer.empty() ? 400ms : 1s);
        EXPECT_EQ(Hex(got), c.answer) << c.args.size();
        EXPECT_EQ(sim_->Stop(), 0);
    }
}

TEST_F(BaseSimTest, RequestCommandSendsTheWorkedRequestAsOneBurst) {
    Start({});
    sim_->Send("req 108 DL t=291615000000 CNS0090008000 999     ");
    EXPECT_EQ(Hex(device_->Read(39, 2s)), kWorkedRequest);
    auto sent = sim_->WaitForEvent("sent", 2s);
    ASSERT_TRUE(sent);
    EXPECT_EQ(sent->Str("what"), "request");
    EXPECT_EQ(sent->Str("hex"), kWorkedRequest);

    // Two requests in a row are kept apart by the gap, so each starts a chunk at the relay.
    sim_->Send("req 1 KT t=000000000000 a");
    sim_->Send("req 2 KT t=000000000000 b");
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(device_->Read(18, 2s).size(), 18u);
    EXPECT_EQ(device_->Read(18, 2s).size(), 18u);
    EXPECT_GE(std::chrono::steady_clock::now() - t0, 140ms);

    sim_->Send("req 300 DL x");
    auto error = sim_->WaitForEvent("error", 2s);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->Str("line"), "req 300 DL x");
}

TEST_F(BaseSimTest, RepliesArePrintedWithTheirChecks) {
    Start({});
    // The worked reply split across two writes, then two replies joined in one write, the
    // second one corrupted in its last text byte.
    std::string reply = Bytes(kWorkedReply);
    device_->Write(reply.substr(0, 10));
    std::this_thread::sleep_for(30ms);
    device_->Write(reply.substr(10));
    std::string corrupted = reply;
    corrupted[22] = 'd';
    device_->Write(Bytes(kFailedReply) + corrupted);

    auto ok = Frame("reply");
    ASSERT_TRUE(ok);
    EXPECT_EQ(ok->Str("hex"), kWorkedReply);
    EXPECT_EQ(ok->Str("station"), "02");
    EXPECT_EQ(ok->Int("handheld"), 108);
    EXPECT_EQ(ok->Int("operation"), 0);
    EXPECT_EQ(ok->Str("op"), "DL");
    EXPECT_EQ(ok->Str("status"), "OK");
    EXPECT_EQ(ok->Str("time"), "291615000000");
    EXPECT_EQ(ok->Str("text"), "abc");
    EXPECT_EQ(ok->Int("text_len"), 3);
    for (const char* key : {"sum_ok", "crc_ok", "len_ok", "trailer_ok", "ok"}) {
        EXPECT_TRUE(ok->Bool(key)) << key;
    }
    auto failed = Frame("reply");
    ASSERT_TRUE(failed);
    EXPECT_EQ(failed->Str("status"), "NO");
    EXPECT_EQ(failed->Str("time"), "FFFFFFFFFFFF");
    EXPECT_EQ(failed->Str("text"), "");
    EXPECT_TRUE(failed->Bool("ok"));
    auto bad = Frame("reply");
    ASSERT_TRUE(bad);
    EXPECT_FALSE(bad->Bool("sum_ok"));
    EXPECT_FALSE(bad->Bool("ok"));
    EXPECT_EQ(bad->Str("text"), "abd");

    // A GBK text comes out as UTF-8.
    device_->Write(Bytes("AA32026C00142916150000004C6C4F4B0400E047B3C9B9A6AABB0711"));
    auto gbk = Frame("reply");
    ASSERT_TRUE(gbk);
    EXPECT_EQ(gbk->Str("text"), "成功");
    EXPECT_TRUE(gbk->Bool("crc_ok"));

    device_->Write("\x12\x34");
    auto unknown = Frame("unknown");
    ASSERT_TRUE(unknown);
    EXPECT_EQ(unknown->Str("hex"), "1234");
}

TEST_F(BaseSimTest, StartFrameGetsABroadcastNotice) {
    Start({"--notice-delay", "100"});
    auto t0 = std::chrono::steady_clock::now();
    device_->Write(Bytes("AA330000000455AA5AA501FE"));
    EXPECT_EQ(Hex(device_->Read(2, 2s)), "5A");
    EXPECT_GE(std::chrono::steady_clock::now() - t0, 95ms);
    auto start = Frame("start");
    ASSERT_TRUE(start);
    EXPECT_TRUE(start->Bool("ok"));
    EXPECT_TRUE(start->Bool("notice"));
    sim_->Stop();

    Start({"--no-notice"});
    device_->Write(Bytes("AA330000000455AA5AA501FE"));
    EXPECT_EQ(device_->Read(1, 400ms), "");
    sim_->Send("notice");
    sim_->Send("ready");
    EXPECT_EQ(Hex(device_->Read(3, 2s)), "5AAA4F");
}

TEST_F(BaseSimTest, PacketsRebuildTheImage) {
    std::string image = dir_.File("rebuilt.bin");
    Start({"--image-out", image, "--image-size", "256"});
    device_->Write(Packet(2, 0, 'a'));
    device_->Write(Packet(2, 2, 'c'));
    std::string bad = Packet(2, 1, 'b');
    bad[74] ^= 1;
    device_->Write(bad);
    device_->Write(Packet(2, 0, 'a') + Packet(2, 2, 'c')); // a second cycle

    auto cycle = sim_->WaitForEvent("cycle", 2s);
    ASSERT_TRUE(cycle);
    EXPECT_EQ(cycle->Int("cycle"), 1);
    EXPECT_EQ(cycle->Int("packets"), 3);
    EXPECT_EQ(cycle->Int("bad"), 1);
    EXPECT_EQ(cycle->Str("blocks"), "0,2");
    EXPECT_EQ(cycle->Int("count"), 2);
    ASSERT_TRUE(sim_->WaitForEvent("image", 2s));

    sim_->Send("quit");
    auto last = sim_->WaitForEvent("cycle", 2s);
    ASSERT_TRUE(last);
    EXPECT_EQ(last->Int("cycle"), 2);
    EXPECT_EQ(last->Int("packets"), 2);
    EXPECT_EQ(last->Int("changed"), 0);
    EXPECT_EQ(sim_->WaitExit(2s), 0);

    int packets = 0, badPackets = 0;
    for (const SimLine& l : sim_->Seen()) {
        if (l.Kind() == "packet") {
            ++packets;
            badPackets += !l.Bool("sum_ok");
        }
    }
    EXPECT_EQ(packets, 5);
    EXPECT_EQ(badPackets, 1);
    std::ifstream in(image, std::ios::binary);
    std::string rebuilt((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(rebuilt, std::string(64, 'a') + std::string(64, '\xFF') + std::string(64, 'c') +
                           std::string(64, '\xFF'));
}

TEST_F(BaseSimTest, ChannelAndClockFramesAreApplied) {
    Start({});
    device_->Write(Bytes("AA40000000020A04000E"));
    auto setid = Frame("setid");
    ASSERT_TRUE(setid);
    EXPECT_EQ(setid->Int("id"), 10);
    EXPECT_EQ(setid->Int("channel"), 5);
    EXPECT_TRUE(setid->Bool("applied"));
    device_->Write(Bytes("AA00000000000000"));
    EXPECT_EQ(Hex(device_->Read(8, 2s)), "AA00000000000004");

    device_->Write(Bytes("AA41000000070905081007032400"
                         "54"));
    auto clock = Frame("clock");
    ASSERT_TRUE(clock);
    EXPECT_EQ(clock->Str("clock"), "2024-03-10 08:05:09");
    EXPECT_TRUE(clock->Bool("ok"));
    EXPECT_TRUE(clock->Bool("applied"));
    // A request without a time carries the station's clock; its station byte is the new ID.
    sim_->Send("req 1 KT x");
    std::string request = device_->Read(18, 2s);
    ASSERT_EQ(request.size(), 18u);
    EXPECT_EQ(request[2], '\x0A');
    EXPECT_EQ(Hex(request.substr(7, 2)), "0508"); // minutes, hours
}

TEST_F(BaseSimTest, LinkIsReplacedAndRemovedOnEveryWayOut) {
    struct Case {
        const char* how;
        std::vector<std::string> args;
    } cases[] = {{"quit", {}}, {"eof", {}}, {"signal", {"--stay"}}};
    for (const Case& c : cases) {
        { std::ofstream(link_) << "stale"; }
        Start(c.args);
        char target[256] = {};
        ASSERT_GT(readlink(link_.c_str(), target, sizeof target - 1), 0);
        EXPECT_EQ(std::string(target), sim_->DevicePath());
        if (std::string(c.how) == "quit") {
            sim_->Send("quit");
        } else {
            sim_->CloseInput();
        }
        if (std::string(c.how) == "signal") {
            EXPECT_EQ(sim_->WaitExit(300ms), -1); // --stay keeps it running after input ends
            kill(sim_->Pid(), SIGTERM);
        }
        EXPECT_EQ(sim_->WaitExit(3s), 0) << c.how;
        auto exit = sim_->WaitForEvent("exit", 1s);
        ASSERT_TRUE(exit) << c.how;
        EXPECT_EQ(exit->Str("reason"), c.how);
        struct stat st;
        EXPECT_NE(lstat(link_.c_str(), &st), 0) << c.how;
        device_.reset();
    }
}

TEST_F(BaseSimTest, ScriptRunsWithItsWaitsAndEndsTheProgram) {
    std::string script = dir_.File("script.txt");
    std::ofstream(script) << "# a log-in, then a notice\n"
                             "req 108 DL t=291615000000 \"CNS0090008000 999     \"\r\n"
                             "\n"
                             "wait 200\n"
                             "raw 5A 01\n"
                             "mark done\n"
                             "quit\n";
    Start({"--script", script, "--gap", "0"});
    EXPECT_EQ(Hex(device_->Read(39, 2s)), kWorkedRequest);
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(Hex(device_->Read(2, 2s)), "5A01");
    EXPECT_GE(std::chrono::steady_clock::now() - t0, 100ms);
    ASSERT_TRUE(sim_->WaitForEvent("mark", 2s));
    EXPECT_EQ(sim_->WaitExit(2s), 0); // ends by its script although standard input is open
}

TEST(BaseSimProgram, BadArgumentsAreRefused) {
    for (std::vector<std::string> args : std::vector<std::vector<std::string>>{
             {"--channel", "0"}, {"--id", "1FF"}, {"--bogus"}, {"--script", "/nonexistent/x"}}) {
        BaseSim sim(args);
        EXPECT_FALSE(sim.Start(2s)) << args[0];
        EXPECT_EQ(sim.WaitExit(2s), 2) << args[0];
    }
}

} // namespace
