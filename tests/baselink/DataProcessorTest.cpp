#include "baselink/DataProcessor.h"
#include "baselink/BaseFrame.h"
#include "baselink/xyTypeConv.h"
#include "support/EventPump.h"
#include "text/Gbk.h"
#include "worklog/WorkLog.h"

#include <QCoreApplication>
#include <deque>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <random>
#include <stdexcept>

using namespace std::chrono_literals;

namespace {

const std::string kWorkedRequest =
    "AA31026C001F2916150000004C434E5330303930303038303030203939392020202020AABB0645";

std::string Bytes(const std::string& hex) {
    return HexCodec::HexToText(hex);
}

// A request frame from handheld 5 whose data is `data`.
std::string Request(const std::string& data, int operation = 7) {
    return Bytes(BaseFrame::BuildRequest(2, 5, "000000000000", operation, data));
}

// The window after a full chunk: one read interval and the time to fill another read.
constexpr auto kWindow = 100ms + 178ms;

struct PipelineFixture : ::testing::Test {
    WorkLog log;
    std::vector<RequestFrame> frames;
    std::vector<std::pair<std::string, int>> answers;
    std::vector<std::string> notices, readies;
    bool debug = false;
    ReceivePipeline::Clock::time_point now{};
    std::unique_ptr<ReceivePipeline> pipe;

    void SetUp() override { Make(); }
    void Make() {
        PipelineHandlers h;
        h.BaseAnswer = [this](const std::string& s, int slot) { answers.emplace_back(s, slot); };
        h.BroadcastNotice = [this](const std::string& s) { notices.push_back(s); };
        h.ReadyNotice = [this](const std::string& s) { readies.push_back(s); };
        h.HandleRequest = [this](const RequestFrame& f) { frames.push_back(f); };
        Make(h);
    }
    void Make(const PipelineHandlers& h) {
        pipe = std::make_unique<ReceivePipeline>(log, debug, h, AssemblyTiming{},
                                                 [this] { return now; });
    }
    void Receive(const std::string& bytes, int slot = 1) {
        pipe->Comm1ReceiveData(slot, bytes.data(), static_cast<int>(bytes.size()));
    }
    // Sends bytes as the port's reader delivers them: full chunks of 2048, then the rest.
    void ReceiveBurst(const std::string& bytes, int slot = 1) {
        for (std::size_t at = 0; at < bytes.size(); at += 2048) {
            Receive(bytes.substr(at, 2048), slot);
            now += 10ms;
        }
    }
    void Ticks(int n) {
        for (int i = 0; i < n; ++i) {
            pipe->tim_DataProcTimer();
        }
    }
};

} // namespace

TEST_F(PipelineFixture, FramesOfAChunkAreHandedOverOnePerTick) {
    Receive(Bytes(kWorkedRequest + kWorkedRequest));
    Ticks(1);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].Handheld, 108);
    EXPECT_EQ(frames[0].Data, "CNS0090008000 999     ");
    Ticks(1);
    EXPECT_EQ(frames.size(), 2u);
    EXPECT_EQ(pipe->ReadyFrames(), 0u);
}

// Garbage, a bad sum, cut frames (one claiming more than the chunk holds) and a frame too short
// for a request, each followed in its chunk by a good frame: the good frame is found at once,
// and nothing is held afterwards.
TEST_F(PipelineFixture, GarbageInAChunkIsSkippedToTheNextFrame) {
    const std::string good = Bytes(kWorkedRequest);
    const std::string badSum = good.substr(0, good.size() - 1) + "\x46";
    const std::string tooShort = Bytes("AA31026C0002AABB0165");
    const std::string claimsMore = Request(std::string(3000, 'x')).substr(0, 100);
    for (const std::string& front :
         {Bytes("AA310000000112345678"), badSum, good.substr(0, 20), claimsMore, tooShort}) {
        frames.clear();
        Receive(front + good);
        Ticks(3);
        EXPECT_EQ(frames.size(), 1u) << HexCodec::BytesToHex(front);
        EXPECT_EQ(pipe->HeldBytes(1), 0u);
    }
}

TEST_F(PipelineFixture, AnIncompleteFrameOnOnePortNeverDelaysAnother) {
    // Base station 1: a full chunk whose frame claims 3,000 bytes, then silence.
    std::string cut = Request(std::string(3000, 'x')).substr(0, 2048);
    Receive(cut, 1);
    Receive(Bytes(kWorkedRequest), 2);
    Ticks(1);
    ASSERT_EQ(frames.size(), 1u) << "base station 2 is answered at once";
    EXPECT_EQ(pipe->HeldBytes(1), 2048u);
    now += kWindow;
    Ticks(1);
    EXPECT_EQ(pipe->HeldBytes(1), 2048u) << "the rest may still come";
    now += 1ms;
    Ticks(1);
    EXPECT_EQ(pipe->HeldBytes(1), 0u) << "given up";
    // Again, with a frame that claims 60,000 bytes; after the window, before a tick gives it up,
    // a full chunk that begins with a request: the stale frame does not hold the request.
    std::string longCut = Request(std::string(60000, 'x')).substr(0, 2048);
    Receive(longCut, 1);
    now += kWindow + 1ms;
    Receive(Bytes(kWorkedRequest) + longCut.substr(0, 2048 - 39), 1);
    Ticks(1);
    EXPECT_EQ(frames.size(), 2u);
}

// The continuation of a frame longer than one chunk is taken whatever its first bytes: here 5A,
// a broadcast notice's first byte.
TEST_F(PipelineFixture, AFrameLongerThanOneChunkIsHandedOverWhole) {
    std::string order = Request(std::string(2048 - 13, 'a') + std::string(450, 'Z'));
    ReceiveBurst(order);
    Ticks(2);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].Data.size(), 2485u);
    EXPECT_TRUE(notices.empty());
}

// A full chunk that ends where its frames end leaves nothing to continue: an answer (AA 00) or a
// broadcast notice (5A) right behind it is sorted by its first bytes.
TEST_F(PipelineFixture, AnAnswerOrANoticeRightAfterAFullChunkOfWholeFramesIsHandled) {
    const std::string half = Request(std::string(1024 - 17, 'b'));
    ASSERT_EQ(half.size(), 1024u);
    Receive(half + half);
    now += 10ms;
    Receive(Bytes("AA00000000000005"));
    Receive(half + half);
    now += 10ms;
    Receive(Bytes("5A"));
    Ticks(4);
    EXPECT_EQ(frames.size(), 4u);
    ASSERT_EQ(answers.size(), 1u);
    EXPECT_EQ(answers[0].first, Bytes("AA00000000000005"));
    EXPECT_EQ(notices, std::vector<std::string>{"\x5A"});
}

TEST_F(PipelineFixture, GarbageBehindLongHeadsIsHeldAtMostOneClaimedFrame) {
    std::mt19937 rng(3);
    std::string garbage;
    while (garbage.size() < 300 * 1024) {
        garbage += Bytes("AA310205FFFF");
        for (int i = 0; i < 500; ++i) {
            garbage += static_cast<char>(rng());
        }
    }
    for (std::size_t at = 0; at < garbage.size(); at += 2048) {
        Receive(garbage.substr(at, 2048));
        now += 10ms;
        ASSERT_LT(pipe->HeldBytes(1), 65543u + 2048u) << at;
    }
    now += kWindow + 1ms;
    Receive(Bytes(kWorkedRequest));
    Ticks(1);
    EXPECT_EQ(frames.size(), 1u);
}

TEST_F(PipelineFixture, DispatchSortsChunksByTheirFirstBytes) {
    debug = true;
    Make();
    Receive(Bytes("AA0000000000000005"), 2);
    Receive(Bytes("AA"), 3);
    Receive(Bytes("5A"));
    Receive(Bytes("AA4F01"));
    Receive(Bytes("BBCC"));
    Receive(Bytes("DDEE"));
    Receive(Bytes("ABBA"));
    ASSERT_EQ(answers.size(), 2u);
    EXPECT_EQ(answers[0].second, 2);
    EXPECT_EQ(answers[1].first, "\xAA");
    EXPECT_EQ(notices.size(), 1u);
    EXPECT_EQ(readies.size(), 1u);
    EXPECT_EQ(pipe->ReadyFrames(), 0u);
    // Answers never reach the debug log; everything else does.
    ASSERT_EQ(log.LineCount(), 5u);
    EXPECT_EQ(log.Lines()[0].substr(log.Lines()[0].size() - 2), "5A");
}

TEST_F(PipelineFixture, LogOfMoreThan300LinesIsClearedWhenAChunkArrives) {
    for (int i = 0; i < 300; ++i) {
        log.Append("x");
    }
    Receive(Bytes("BBCC"));
    EXPECT_EQ(log.LineCount(), 300u);
    log.Append("x");
    Receive(Bytes("BBCC"));
    EXPECT_EQ(log.LineCount(), 0u);
}

TEST_F(PipelineFixture, AnErrorInTheDecoderConsumesTheFrame) {
    PipelineHandlers h;
    std::vector<std::string> errors;
    int calls = 0;
    h.HandleRequest = [&](const RequestFrame&) {
        ++calls;
        throw std::runtime_error("boom");
    };
    h.UnhandledError = [&](const std::string& m) { errors.push_back(m); };
    Make(h);
    Receive(Bytes(kWorkedRequest));
    Ticks(5);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(errors, std::vector<std::string>{"boom"});
    EXPECT_FALSE(pipe->Busy());
}

// The port would swallow it without a trace: the work log names the station and the error, and
// the next chunk is handled.
TEST_F(PipelineFixture, AnErrorInTheDispatchLeavesOneWorkLogLine) {
    PipelineHandlers h;
    h.BaseAnswer = [&](const std::string&, int slot) {
        answers.emplace_back("", slot);
        if (answers.size() == 1) {
            throw std::runtime_error("boom");
        }
    };
    Make(h);
    Receive(Bytes("AA0000000000000005"), 2);
    ASSERT_EQ(log.LineCount(), 1u);
    EXPECT_EQ(log.Lines()[0], text::Fixed("处理基站2 的串口数据出错，数据已丢弃，信息：") + "boom");
    Receive(Bytes("AA0000000000000005"), 2);
    EXPECT_EQ(answers.size(), 2u);
    EXPECT_EQ(log.LineCount(), 1u);
}

TEST_F(PipelineFixture, NestedTicksDuringAHandOverDoNothing) {
    PipelineHandlers h;
    h.HandleRequest = [&](const RequestFrame& f) {
        frames.push_back(f);
        Receive(Bytes(kWorkedRequest)); // arrives during the hand-over
        pipe->tim_DataProcTimer();
    };
    Make(h);
    Receive(Bytes(kWorkedRequest));
    Ticks(1);
    EXPECT_EQ(frames.size(), 1u);
    EXPECT_EQ(pipe->ReadyFrames(), 1u);
}

// Bursts from two base stations, chunk by chunk interleaved: each burst begins with a frame and
// mixes good frames with garbage (heads claiming any length among it). Every good frame is
// handed over once, in its port's order.
TEST_F(PipelineFixture, RandomBurstsFromTwoPorts) {
    std::mt19937 rng(12345);
    auto randomBytes = [&](std::size_t n) {
        std::string s(n, '\0');
        for (auto& c : s) {
            c = static_cast<char>(rng() % 5 == 0 ? 0xAA : rng() % 3 == 0 ? 0x31 : rng());
        }
        return s;
    };
    for (int round = 0; round < 40; ++round) {
        frames.clear();
        Make();
        std::map<int, std::vector<std::string>> sent;
        std::map<int, std::deque<std::string>> chunks; // "" is a silence after a burst
        for (int slot : {1, 2}) {
            for (int burst = 0; burst < 3; ++burst) {
                std::string bytes;
                const int pieces = 1 + static_cast<int>(rng() % 12);
                for (int piece = 0; piece < pieces; ++piece) {
                    if (piece > 0 && rng() % 2 == 0) {
                        bytes += randomBytes(rng() % 700);
                        continue;
                    }
                    std::string data = std::to_string(slot) + "/" + std::to_string(rng());
                    data += std::string(rng() % (rng() % 4 == 0 ? 3000 : 60), 'd');
                    sent[slot].push_back(data);
                    bytes += Request(data);
                }
                for (std::size_t at = 0; at < bytes.size(); at += 2048) {
                    chunks[slot].push_back(bytes.substr(at, 2048));
                }
                chunks[slot].push_back("");
            }
        }
        std::map<int, ReceivePipeline::Clock::time_point> resume;
        while (!chunks[1].empty() || !chunks[2].empty()) {
            for (int slot : {1, 2}) {
                if (chunks[slot].empty() || resume[slot] > now) {
                    continue;
                }
                if (chunks[slot].front().empty()) {
                    resume[slot] = now + kWindow + 1ms;
                } else {
                    Receive(chunks[slot].front(), slot);
                }
                chunks[slot].pop_front();
            }
            now += 1ms;
            Ticks(1);
        }
        now += kWindow + 1ms;
        Ticks(200);
        std::map<int, std::vector<std::string>> got;
        for (const auto& f : frames) {
            got[f.Data[0] - '0'].push_back(f.Data);
        }
        ASSERT_EQ(got, sent) << round;
    }
}

TEST(PipelineTimer, RunsWhileThereIsWorkAndStopsWhenIdle) {
    testsupport::EnsureCoreApplication();
    WorkLog log;
    int handed = 0;
    PipelineHandlers h;
    h.HandleRequest = [&](const RequestFrame&) { ++handed; };
    ReceivePipeline pipe(log, false, h);
    pipe.Start();
    EXPECT_FALSE(pipe.TimerActive());
    std::string f = Bytes(kWorkedRequest);
    const std::string two = f + f;
    pipe.Comm1ReceiveData(1, two.data(), static_cast<int>(two.size()));
    EXPECT_TRUE(pipe.TimerActive()) << "for the second frame";
    EXPECT_TRUE(testsupport::PumpUntil([&] { return handed == 2; }, 2s));
    QCoreApplication::processEvents();
    EXPECT_FALSE(pipe.TimerActive());
    // A full chunk of an unfinished frame wakes the timer to give it up.
    std::string cut = Request(std::string(3000, 'x')).substr(0, 2048);
    pipe.Comm1ReceiveData(1, cut.data(), static_cast<int>(cut.size()));
    EXPECT_TRUE(pipe.TimerActive());
    EXPECT_TRUE(testsupport::PumpUntil([&] { return pipe.HeldBytes(1) == 0; }, 2s));
    QCoreApplication::processEvents();
    EXPECT_FALSE(pipe.TimerActive());
    // Two ports' unfinished frames, the later one behind a good frame: once that is handed
    // over, the timer wakes for the earlier deadline.
    pipe.Comm1ReceiveData(1, cut.data(), static_cast<int>(cut.size()));
    testsupport::PumpFor(150ms);
    const std::string behind = f + cut.substr(0, 2048 - f.size());
    pipe.Comm1ReceiveData(2, behind.data(), static_cast<int>(behind.size()));
    EXPECT_TRUE(testsupport::PumpUntil([&] { return pipe.HeldBytes(1) == 0; }, 2s));
    EXPECT_GT(pipe.HeldBytes(2), 0u) << "station 2's frame may still be continued";
}

// An idle pipeline takes a chunk's arrival for a tick: its first frame is handed on at once, the
// others one per tick, and a chunk that arrives during a hand-over waits behind them.
TEST(PipelineTimer, AnIdlePipelineHandsTheFirstFrameOnAtOnce) {
    testsupport::EnsureCoreApplication();
    WorkLog log;
    std::vector<std::string> handed;
    std::function<void(const std::string&)> receive;
    PipelineHandlers h;
    h.HandleRequest = [&](const RequestFrame& f) {
        handed.push_back(f.Data);
        if (f.Data == "a") {
            receive(Request("c"));
        }
    };
    ReceivePipeline pipe(log, false, h);
    receive = [&](const std::string& bytes) {
        pipe.Comm1ReceiveData(1, bytes.data(), static_cast<int>(bytes.size()));
    };
    pipe.Start();
    receive(Request("a") + Request("b"));
    EXPECT_EQ(handed, std::vector<std::string>{"a"});
    EXPECT_TRUE(testsupport::PumpUntil([&] { return handed.size() == 3; }, 2s));
    EXPECT_EQ(handed, (std::vector<std::string>{"a", "b", "c"}));
    receive(Request("d"));
    EXPECT_EQ(handed.size(), 4u);
}

// An error that escapes even the error report of a hand-over that a chunk's arrival ran ends in
// the work log, and the pipeline is not left busy.
TEST(PipelineTimer, AnErrorEscapingAHandOverLeavesThePipelineFree) {
    testsupport::EnsureCoreApplication();
    WorkLog log;
    int handed = 0;
    PipelineHandlers h;
    h.HandleRequest = [&](const RequestFrame&) {
        if (++handed == 1) {
            throw std::runtime_error("boom");
        }
    };
    h.UnhandledError = [](const std::string& m) { throw std::runtime_error(m + " again"); };
    ReceivePipeline pipe(log, false, h);
    pipe.Start();
    const std::string f = Bytes(kWorkedRequest);
    pipe.Comm1ReceiveData(1, f.data(), static_cast<int>(f.size()));
    EXPECT_EQ(log.LineCount(), 1u);
    EXPECT_FALSE(pipe.Busy());
    pipe.Comm1ReceiveData(1, f.data(), static_cast<int>(f.size()));
    EXPECT_EQ(handed, 2);
}
