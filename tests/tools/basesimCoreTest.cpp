// The simulator's core without devices: frames built and checked, the stream cut into frames,
// commands, image cycles and the station's timing, driven with a hand-made clock.
#include "BaseSimCommands.h"
#include "BaseSimFrames.h"
#include "BaseSimImage.h"
#include "BaseSimulator.h"
#include "support/BaseSim.h"

#include <gtest/gtest.h>
#include <memory>

namespace basesim {
namespace {

const std::string kWorkedRequest =
    "AA31026C001F2916150000004C434E5330303930303038303030203939392020202020AABB0645";
const std::string kWorkedReply = "AA32026C00132916150000004C6C4F4B03008097616263AABB054B";
const std::string kFailedReply = "AA32026C0010FFFFFFFFFFFF4C6C4E4F0000FFFFAABB0AB2";

Bytes B(const std::string& hex) {
    return *ParseHex(hex);
}

testsupport::SimLine Parsed(const JsonLine& line) {
    return *testsupport::SimLine::Parse(line.Text());
}

Bytes Packet(int count, int block, char fill) {
    Bytes p = "\x0A";
    p += static_cast<char>(count >> 8);
    p += static_cast<char>(count & 0xFF);
    p += Bytes(4, '\0');
    p += static_cast<char>(block >> 8);
    p += static_cast<char>(block & 0xFF);
    p += Bytes(kBlockSize, fill);
    unsigned sum = Sum16(p);
    p += static_cast<char>(sum >> 8);
    p += static_cast<char>(sum & 0xFF);
    return p;
}

TEST(BaseSimCheckValues, CrcLeavesOutTheLastByte) {
    EXPECT_EQ(CrcAllButLast(""), 0xFFFF);
    EXPECT_EQ(CrcAllButLast("A"), 0xFFFF);
    EXPECT_EQ(CrcAllButLast("616263"), 0x8097);
    EXPECT_EQ(CrcAllButLast("123456789"), 0x37DD);
    EXPECT_EQ(Sum16(Bytes(257, '\xFF')), (257 * 255) % 65536);
}

TEST(BaseSimCommands, RequestCommandBuildsTheWorkedRequest) {
    for (std::string op : {"DL", "dl", "0", "0x4C"}) {
        auto parsed = ParseCommand("req 108 " + op + " t=291615000000 CNS0090008000 999     ");
        ASSERT_TRUE(parsed.command) << op << ": " << parsed.error;
        RequestFrame r;
        r.handheld = static_cast<std::uint8_t>(parsed.command->handheld);
        r.opByte = parsed.command->opByte;
        r.time = *parsed.command->time;
        r.data = parsed.command->bytes;
        EXPECT_EQ(Hex(BuildRequest(r)), kWorkedRequest) << op;
    }
}

TEST(BaseSimCommands, OperationForms) {
    struct Case {
        const char* token;
        int byte; // -1: refused
    } cases[] = {{"36", 0x70},   {"37", 0x71},   {"-1", 0x4B},   {"0x4b", 0x4B}, {"CLQC", 0x70},
                 {"YDKT", 0x6A}, {"QCJE", 0x6A}, {"KHKH", 0x5E}, {"179", 0xFF},  {"180", -1},
                 {"-77", -1},    {"XX", -1},     {"0x", -1},     {"0x123", -1}};
    for (const Case& c : cases) {
        auto byte = ParseOperationByte(c.token);
        if (c.byte < 0) {
            EXPECT_FALSE(byte) << c.token;
        } else {
            ASSERT_TRUE(byte) << c.token;
            EXPECT_EQ(*byte, c.byte) << c.token;
        }
    }
}

TEST(BaseSimCommands, DataForms) {
    struct Case {
        const char* line;
        const char* dataHex; // nullptr: refused
    } cases[] = {
        {"req 1 KT", ""},
        {"req 1 KT hex:4142 00", "414200"},
        {"req 1 KT \"a b \\\"\\\\\\x00\\x81\"", "61206220225C0081"},
        {"req 1 KT  two", "2074776F"}, // one blank separates; the second is data
        {"req 1 KT 成功", "B3C9B9A6"}, // sent as GBK
        {"req 1 KT \"成\\x41功\"", "B3C941B9A6"},
        {"req 1 KT t=15:16:29 st=0A x", "78"},
        {"req 1 KT hex:414", nullptr},
        {"req 1 KT \"open", nullptr},
        {"req 1 KT \"bad\\q\"", nullptr},
        {"req 1 KT t=25:00:00 x", nullptr},
        {"req 256 KT x", nullptr},
        {"req x KT", nullptr},
    };
    for (const Case& c : cases) {
        auto parsed = ParseCommand(c.line);
        if (!c.dataHex) {
            EXPECT_FALSE(parsed.command) << c.line;
            EXPECT_FALSE(parsed.error.empty()) << c.line;
            continue;
        }
        ASSERT_TRUE(parsed.command) << c.line << ": " << parsed.error;
        EXPECT_EQ(Hex(parsed.command->bytes), c.dataHex) << c.line;
    }
    auto timed = ParseCommand("req 1 KT t=15:16:29 st=0A x");
    EXPECT_EQ(Hex(*timed.command->time), "291615000000");
    EXPECT_EQ(*timed.command->station, 0x0A);
}

TEST(BaseSimCommands, OtherCommands) {
    EXPECT_EQ(ParseCommand("wait 250").command->number, 250);
    EXPECT_EQ(ParseCommand("raw AA 31 0b").command->bytes, B("AA310B"));
    EXPECT_EQ(ParseCommand("channel 256").command->number, 256);
    EXPECT_EQ(ParseCommand("answer short").command->answer, AnswerMode::Short);
    EXPECT_EQ(ParseCommand("id 0a").command->number, 10);
    EXPECT_EQ(ParseCommand("mark step 2").command->name, "step 2");
    EXPECT_EQ(ParseCommand("quit\r\n").command->type, CommandType::Quit);
    for (const char* empty : {"", "   ", "# comment", "  # indented"}) {
        auto p = ParseCommand(empty);
        EXPECT_FALSE(p.command) << empty;
        EXPECT_TRUE(p.error.empty()) << empty;
    }
    for (const char* bad : {"wait", "wait -1", "raw", "raw A", "channel 0", "channel 257",
                            "answer maybe", "id 100", "quit now", "frobnicate"}) {
        EXPECT_FALSE(ParseCommand(bad).error.empty()) << bad;
    }
}

TEST(BaseSimFrames, ReplyChecks) {
    struct Case {
        std::string hex;
        bool sum, crc, len, ok;
        std::string status, text;
    } cases[] = {
        {kWorkedReply, true, true, true, true, "OK", "abc"},
        {kFailedReply, true, true, true, true, "NO", ""},
        // last text byte changed: CRC still holds (it leaves the last digit out), sum fails
        {"AA32026C00132916150000004C6C4F4B03008097616264AABB054B", false, true, true, false, "OK",
         "abd"},
        // first text byte changed and the sum mended: only the CRC catches it
        {"AA32026C00132916150000004C6C4F4B03008097626263AABB054C", true, false, true, false, "OK",
         "bbc"},
        // text length says 4 where L says 3
        {"AA32026C00132916150000004C6C4F4B04008097616263AABB054C", true, true, false, false, "OK",
         "abc"},
    };
    for (const Case& c : cases) {
        JsonLine line;
        CheckReply(Frame{FrameKind::Reply, B(c.hex), false}, line);
        auto l = Parsed(line);
        EXPECT_EQ(l.Bool("sum_ok"), c.sum) << c.hex;
        EXPECT_EQ(l.Bool("crc_ok"), c.crc) << c.hex;
        EXPECT_EQ(l.Bool("len_ok"), c.len) << c.hex;
        EXPECT_EQ(l.Bool("ok"), c.ok) << c.hex;
        EXPECT_EQ(l.Str("status"), c.status) << c.hex;
        EXPECT_EQ(l.Str("text"), c.text) << c.hex;
        EXPECT_EQ(l.Str("station"), "02");
        EXPECT_EQ(l.Int("handheld"), 108);
        EXPECT_EQ(l.Str("op"), "DL");
    }
}

TEST(BaseSimFrames, SetIdAndClockFrames) {
    JsonLine setid;
    auto s = CheckSetId(Frame{FrameKind::SetId, B("AA40000000020A04000E"), false}, setid);
    ASSERT_TRUE(s);
    EXPECT_EQ(s->id, 10);
    EXPECT_EQ(s->channel, 5);
    JsonLine badSum;
    EXPECT_FALSE(CheckSetId(Frame{FrameKind::SetId, B("AA40000000020A04000F"), false}, badSum));
    EXPECT_FALSE(Parsed(badSum).Bool("sum_ok"));

    JsonLine clock;
    auto t = CheckClock(Frame{FrameKind::Clock,
                              B("AA410000000709050810070324"
                                "0054"),
                              false},
                        clock);
    ASSERT_TRUE(t);
    auto l = Parsed(clock);
    EXPECT_EQ(l.Str("clock"), "2024-03-10 08:05:09");
    EXPECT_TRUE(l.Bool("weekday_ok"));
    EXPECT_TRUE(l.Bool("ok"));
    // Sunday sent as weekday 1: applied, but reported as not right.
    JsonLine monday;
    EXPECT_TRUE(CheckClock(Frame{FrameKind::Clock,
                                 B("AA41000000070905081001032400"
                                   "4E"),
                                 false},
                           monday));
    EXPECT_FALSE(Parsed(monday).Bool("weekday_ok"));
    EXPECT_FALSE(Parsed(monday).Bool("ok"));
    // Minutes 0x5A is not BCD.
    JsonLine notBcd;
    EXPECT_FALSE(CheckClock(Frame{FrameKind::Clock,
                                  B("AA410000000709"
                                    "5A"
                                    "0810070324"
                                    "00A9"),
                                  false},
                            notBcd));
    EXPECT_EQ(Weekday(2024, 3, 10), 7);
    EXPECT_EQ(Weekday(2000, 1, 1), 6);
    EXPECT_EQ(Weekday(2024, 2, 29), 4);
}

TEST(BaseSimFrames, PacketChecks) {
    Bytes good = Packet(2, 0x0102, '\x11');
    JsonLine line;
    auto p = CheckPacket(Frame{FrameKind::Packet, good, false}, line);
    ASSERT_TRUE(p);
    EXPECT_EQ(p->block, 0x0102);
    EXPECT_EQ(p->count, 2);
    Bytes badSum = good;
    badSum[74] ^= 1;
    Bytes notZero = good;
    notZero[4] = 1; // the sum no longer matches either, but the zero field is reported
    for (const Bytes& bad : {badSum, notZero}) {
        JsonLine l;
        EXPECT_FALSE(CheckPacket(Frame{FrameKind::Packet, bad, false}, l));
        EXPECT_FALSE(Parsed(l).Bool("ok"));
    }
}

// The stream from the relay is cut the same way however the reads split or join it.
TEST(BaseSimSplitter, SameFramesAtEverySplit) {
    Bytes stream = B(kWorkedReply) + B("AA00000000000000") + B("AA330000000455AA5AA501FE") +
                   Packet(1, 0, 'x') + B("1234") + B(kFailedReply) + B("AA40000000020A04000E");
    std::vector<std::string> expected = {"reply",   "query", "start", "packet",
                                         "unknown", "reply", "setid"};
    auto cut = [](const std::vector<std::string_view>& pieces) {
        FrameSplitter s;
        std::vector<std::string> kinds;
        Bytes joined;
        for (std::string_view piece : pieces) {
            s.Feed(piece);
            while (auto f = s.Next()) {
                kinds.push_back(KindName(f->kind));
                joined += f->bytes;
            }
        }
        EXPECT_FALSE(s.HasPartial());
        return std::make_pair(kinds, joined);
    };
    for (std::size_t at = 0; at <= stream.size(); ++at) {
        std::string_view v(stream);
        auto [kinds, joined] = cut({v.substr(0, at), v.substr(at)});
        EXPECT_EQ(kinds, expected) << "split at " << at;
        EXPECT_EQ(joined, stream);
    }
    std::vector<std::string_view> bytes;
    for (std::size_t i = 0; i < stream.size(); ++i) {
        bytes.push_back(std::string_view(stream).substr(i, 1));
    }
    EXPECT_EQ(cut(bytes).first, expected);
}

TEST(BaseSimSplitter, PartialFrameFlushesAsTruncated) {
    FrameSplitter s;
    s.Feed(B("AA32026C0013291615"));
    EXPECT_FALSE(s.Next());
    auto f = s.Flush();
    ASSERT_TRUE(f);
    EXPECT_TRUE(f->truncated);
    EXPECT_EQ(f->kind, FrameKind::Reply);
    EXPECT_FALSE(s.HasPartial());
    s.Feed("\xAA");
    EXPECT_FALSE(s.Next()); // a lone AA waits for its kind byte
}

TEST(BaseSimImage, CyclesAndRebuild) {
    ImageRebuilder r(256);
    auto packet = [](int block, char fill, int count = 2) {
        return PacketFrame{count, block, Bytes(kBlockSize, fill)};
    };
    EXPECT_FALSE(r.Packet(packet(0, 'a')));
    EXPECT_FALSE(r.Packet(packet(2, 'c')));
    r.BadPacket();
    auto first = r.Packet(packet(0, 'a')); // block 0 again: a new cycle
    ASSERT_TRUE(first);
    EXPECT_EQ(first->cycle, 1);
    EXPECT_EQ(first->packets, 3);
    EXPECT_EQ(first->bad, 1);
    EXPECT_EQ(first->distinct, 2);
    EXPECT_EQ(BlockRanges(first->blocks), "0,2");
    EXPECT_FALSE(r.Packet(packet(2, 'C', 3))); // changed, and the count field moved
    auto second = r.EndCycle();
    ASSERT_TRUE(second);
    EXPECT_EQ(second->cycle, 2);
    EXPECT_EQ(second->changed, 1);
    EXPECT_FALSE(second->countSteady);
    EXPECT_FALSE(r.EndCycle());
    std::string image = r.Image();
    ASSERT_EQ(image.size(), 256u);
    EXPECT_EQ(image.substr(0, 64), Bytes(64, 'a'));
    EXPECT_EQ(image.substr(64, 64), Bytes(64, '\xFF'));
    EXPECT_EQ(image.substr(128, 64), Bytes(64, 'C'));
    // A block beyond the least size grows the image.
    r.Packet(packet(5, 'f'));
    EXPECT_EQ(r.Image().size(), 384u);
    EXPECT_EQ(BlockRanges({7, 1, 2, 3, 5, 3, 9, 8}), "1-3,5,7-9");
}

// The station's timing with a hand-made clock.
struct Recorder : Output {
    std::vector<std::pair<Millis, Bytes>> writes;
    std::vector<testsupport::SimLine> lines;
    Millis now = 0;
    void Line(const std::string& json) override {
        lines.push_back(*testsupport::SimLine::Parse(json));
    }
    void Write(const Bytes& burst) override { writes.emplace_back(now, burst); }
    int Count(const std::string& kindOrEvent) const {
        int n = 0;
        for (const auto& l : lines) {
            n += l.Kind() == kindOrEvent || l.Event() == kindOrEvent;
        }
        return n;
    }
};

struct SimulatorTest : ::testing::Test {
    Recorder out;
    Options options;
    std::unique_ptr<Simulator> sim;
    void Make() {
        sim = std::make_unique<Simulator>(options, out, [] { return std::time_t(0); });
    }
    void At(Millis t) {
        out.now = t;
        sim->Tick(t);
    }
    void Command(Millis t, const std::string& line) {
        out.now = t;
        sim->Command(t, line);
    }
    void Receive(Millis t, const Bytes& bytes) {
        out.now = t;
        sim->Received(t, bytes);
    }
};

TEST_F(SimulatorTest, BurstsKeepTheGapAndAnswersGoFirst) {
    options.gap = 150;
    Make();
    Command(1000, "req 1 KT t=000000000000 a");
    Command(1000, "req 2 KT t=000000000000 b");
    Command(1000, "req 3 KT t=000000000000 c");
    ASSERT_EQ(out.writes.size(), 1u);
    Receive(1010, B("AA00000000000000"));
    EXPECT_EQ(sim->NextDeadline(), 1150);
    At(1149);
    EXPECT_EQ(out.writes.size(), 1u);
    At(1150);
    ASSERT_EQ(out.writes.size(), 2u);
    EXPECT_EQ(Hex(out.writes[1].second), "AA00000000000000"); // channel 1 is index 0
    At(1300);
    At(1450);
    ASSERT_EQ(out.writes.size(), 4u);
    EXPECT_EQ(static_cast<unsigned char>(out.writes[3].second[3]), 3);
    EXPECT_FALSE(sim->NextDeadline());
}

TEST_F(SimulatorTest, NoticeAfterStartFrameAndWaitHoldsCommands) {
    options.noticeDelay = 400;
    options.gap = 0;
    Make();
    Receive(100, B("AA330000000455AA5AA501FE"));
    EXPECT_EQ(sim->NextDeadline(), 500);
    At(499);
    EXPECT_TRUE(out.writes.empty());
    At(500);
    ASSERT_EQ(out.writes.size(), 1u);
    EXPECT_EQ(Hex(out.writes[0].second), "5A");

    Command(600, "wait 100");
    Command(600, "ready");
    EXPECT_EQ(out.writes.size(), 1u);
    At(700);
    ASSERT_EQ(out.writes.size(), 2u);
    EXPECT_EQ(Hex(out.writes[1].second), "AA4F");
}

TEST_F(SimulatorTest, SetIdChangesAnswerAndRequestsAndBadStartGetsNoNotice) {
    options.gap = 0;
    Make();
    Receive(0, B("AA40000000020A04000E"));
    Receive(10, B("AA00000000000000"));
    Command(20, "req 5 KT t=000000000000 ");
    ASSERT_EQ(out.writes.size(), 2u);
    EXPECT_EQ(Hex(out.writes[0].second), "AA00000000000004");
    EXPECT_EQ(out.writes[1].second[2], '\x0A');
    Receive(30, B("AA330000000455AA5AA501FF"));
    EXPECT_FALSE(sim->NextDeadline());
}

TEST_F(SimulatorTest, EndOfInputEndsAfterQueuedWorkUnlessStaying) {
    options.gap = 100;
    Make();
    Command(0, "notice");
    Command(0, "notice");
    sim->InputEnded(0);
    EXPECT_FALSE(sim->Finished());
    At(100);
    EXPECT_TRUE(sim->Finished());
    EXPECT_STREQ(sim->FinishReason(), "eof");

    options.stay = true;
    Make();
    sim->InputEnded(0);
    At(10000);
    EXPECT_FALSE(sim->Finished());
    EXPECT_FALSE(sim->NextDeadline()); // nothing to do: no busy waiting
    Command(10000, "quit");
    EXPECT_TRUE(sim->Finished());
}

TEST_F(SimulatorTest, PartialFrameReportedAfterSilence) {
    options.frameTimeout = 250;
    Make();
    Receive(0, B("AA32026C0013"));
    EXPECT_EQ(out.Count("reply"), 0);
    EXPECT_EQ(sim->NextDeadline(), 250);
    At(250);
    ASSERT_EQ(out.Count("reply"), 1);
    EXPECT_TRUE(out.lines.back().Bool("truncated"));
    EXPECT_FALSE(out.lines.back().Bool("ok"));
}

TEST_F(SimulatorTest, CommandErrorsAreReportedAndWorkGoesOn) {
    options.gap = 0;
    Make();
    Command(0, "req 1 NOPE x");
    Command(0, "notice");
    ASSERT_EQ(out.Count("error"), 1);
    EXPECT_EQ(out.writes.size(), 1u);
}

} // namespace
} // namespace basesim
