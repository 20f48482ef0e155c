#include "baselink/DataProcessor.h"
#include "app/WorkLog.h"
#include "baselink/BaseFrame.h"
#include "baselink/xyTypeConv.h"
#include "support/EventPump.h"

#include <QCoreApplication>
#include <gtest/gtest.h>
#include <random>

namespace {

const std::string kWorkedRequest =
    "AA31026C001F2916150000004C434E5330303930303038303030203939392020202020AABB0645";

std::string Bytes(const std::string& hex) {
    return HexCodec::HexToText(hex);
}

struct PipelineFixture : ::testing::Test {
    WorkLog log;
    std::vector<RequestFrame> frames;
    std::vector<std::pair<std::string, int>> answers;
    std::vector<std::string> notices, readies;
    bool debug = false;
    std::unique_ptr<ReceivePipeline> pipe;

    void SetUp() override { Make(); }
    void Make() {
        PipelineHandlers h;
        h.BaseAnswer = [this](const std::string& s, int slot) { answers.emplace_back(s, slot); };
        h.BroadcastNotice = [this](const std::string& s) { notices.push_back(s); };
        h.ReadyNotice = [this](const std::string& s) { readies.push_back(s); };
        h.HandleRequest = [this](const RequestFrame& f) { frames.push_back(f); };
        pipe = std::make_unique<ReceivePipeline>(log, debug, h);
    }
    void Receive(const std::string& bytes, int slot = 1) {
        pipe->Comm1ReceiveData(slot, bytes.data(), static_cast<int>(bytes.size()));
    }
    // Ticks until a frame is handed over; returns the number of ticks (0 if none within limit).
    int TicksUntilFrame(int limit = 100) {
        std::size_t before = frames.size();
        for (int t = 1; t <= limit; ++t) {
            pipe->tim_DataProcTimer();
            if (frames.size() > before) {
                return t;
            }
        }
        return 0;
    }
};

} // namespace

TEST_F(PipelineFixture, WorkedRequestIsHandedOverOnTheSecondTick) {
    Receive(Bytes(kWorkedRequest));
    EXPECT_EQ(TicksUntilFrame(), 2);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].BaseByte, 2);
    EXPECT_EQ(frames[0].Handheld, 108);
    EXPECT_EQ(frames[0].Operation, 0);
    EXPECT_EQ(frames[0].TimeHex, "291615000000");
    EXPECT_EQ(frames[0].Data, "CNS0090008000 999     ");
    EXPECT_EQ(pipe->ExpectedLength(), 2);
    EXPECT_TRUE(pipe->AssemblyBuffer().empty());
}

TEST_F(PipelineFixture, TrailingByteWaitsForTheNextChunkThenIsDropped) {
    Receive(Bytes(kWorkedRequest + "00"));
    EXPECT_EQ(TicksUntilFrame(), 2);
    pipe->tim_DataProcTimer(); // buffer of 1 < 2: nothing queued, waits
    EXPECT_EQ(pipe->AssemblyBuffer().size(), 1u);
    Receive(Bytes(kWorkedRequest));
    pipe->tim_DataProcTimer(); // takes the chunk
    EXPECT_EQ(pipe->AssemblyBuffer().size(), 40u);
    EXPECT_EQ(TicksUntilFrame(), 2); // drops the 00, then decodes
}

TEST_F(PipelineFixture, TwoFramesInOneChunkGoInConsecutiveTicks) {
    Receive(Bytes(kWorkedRequest + kWorkedRequest));
    Receive(Bytes(kWorkedRequest)); // a further chunk must not be taken in between
    EXPECT_EQ(TicksUntilFrame(), 2);
    EXPECT_EQ(TicksUntilFrame(), 1);
    EXPECT_EQ(pipe->QueuedChunks(), 1u);
}

TEST_F(PipelineFixture, BadSumCostsOneTickPerByte) {
    std::string bad = kWorkedRequest.substr(0, kWorkedRequest.size() - 4) + "0646";
    Receive(Bytes(bad));
    pipe->tim_DataProcTimer(); // take
    for (int i = 0; i < 38; ++i) {
        pipe->tim_DataProcTimer();
        EXPECT_EQ(pipe->AssemblyBuffer().size(), 38u - i) << i;
    }
    EXPECT_TRUE(frames.empty());
    EXPECT_EQ(pipe->AssemblyBuffer().size(), 1u);
}

TEST_F(PipelineFixture, GarbageBeforeAFrameIsDroppedByteByByte) {
    // A chunk must start with AA 31 to be queued; garbage can follow the first frame.
    Receive(Bytes("AA31"
                  "0000"
                  "0001" +
                  kWorkedRequest)); // L = 1: trailer check fails
    int ticks = TicksUntilFrame();
    EXPECT_EQ(ticks, 1 + 6 + 1) << "take, six drops, decode";
}

TEST_F(PipelineFixture, ShortHeadLeavesExpectedLengthSix) {
    Receive(Bytes("AA31026C"));
    pipe->tim_DataProcTimer();
    pipe->tim_DataProcTimer();
    EXPECT_EQ(pipe->ExpectedLength(), 6);
    Receive(Bytes(kWorkedRequest));
    pipe->tim_DataProcTimer();
    EXPECT_EQ(pipe->AssemblyBuffer().size(), 43u);
}

TEST_F(PipelineFixture, CheckedFrameTooShortForARequestIsDroppedWhole) {
    // L = 2: only the trailer; L = 8: one byte short of an operation byte.
    for (const std::string body : {"AABB", "0102030405060708"}) {
        std::string b = body == "AABB" ? body : "010203040506AABB";
        std::string f = "AA31026C" + HexCodec::ToHex(static_cast<int>(b.size() / 2), 4) + b +
                        HexCodec::HexSum16(b);
        Receive(Bytes(f));
        pipe->tim_DataProcTimer();
        pipe->tim_DataProcTimer();
        EXPECT_TRUE(pipe->AssemblyBuffer().empty());
    }
    EXPECT_TRUE(frames.empty());
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
    EXPECT_EQ(pipe->QueuedChunks(), 0u);
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
    pipe = std::make_unique<ReceivePipeline>(log, false, h);
    Receive(Bytes(kWorkedRequest));
    for (int i = 0; i < 5; ++i) {
        pipe->tim_DataProcTimer();
    }
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(errors, std::vector<std::string>{"boom"});
    EXPECT_FALSE(pipe->Busy());
}

TEST_F(PipelineFixture, NestedTicksDuringAHandOverDoNothing) {
    PipelineHandlers h;
    int nested = 0;
    h.HandleRequest = [&](const RequestFrame& f) {
        frames.push_back(f);
        Receive(Bytes(kWorkedRequest)); // arrives during the hand-over
        pipe->tim_DataProcTimer();
        ++nested;
    };
    pipe = std::make_unique<ReceivePipeline>(log, false, h);
    Receive(Bytes(kWorkedRequest));
    pipe->tim_DataProcTimer();
    pipe->tim_DataProcTimer();
    EXPECT_EQ(frames.size(), 1u);
    EXPECT_EQ(pipe->QueuedChunks(), 1u);
}

// Random streams of valid frames, truncated frames and garbage: every valid frame that starts a
// chunk is handed over exactly once, and the buffer never holds more than it was given.
TEST_F(PipelineFixture, RandomChunkStreams) {
    std::mt19937 rng(12345);
    for (int round = 0; round < 200; ++round) {
        frames.clear();
        Make();
        std::size_t given = 0;
        int expected = 0;
        for (int c = 0; c < 20; ++c) {
            std::string chunk;
            int kind = static_cast<int>(rng() % 4);
            std::string data(rng() % 40, '\0');
            for (auto& ch : data) {
                ch = static_cast<char>(rng());
            }
            std::string frame = Bytes(BaseFrame::BuildRequest(static_cast<std::uint8_t>(rng()),
                                                              static_cast<std::uint8_t>(rng()),
                                                              "000000000000", rng() % 37, data));
            if (kind == 0) {
                chunk = frame;
                ++expected;
            } else if (kind == 1) {
                chunk = frame.substr(0, 2 + rng() % (frame.size() - 2)); // truncated
            } else if (kind == 2) {
                chunk = std::string("\xAA\x31", 2) + data; // garbage that starts like a frame
            } else {
                chunk = data; // plain garbage, mostly ignored by the dispatch
            }
            given += chunk.size();
            Receive(chunk);
            for (int t = 0; t < 5; ++t) {
                pipe->tim_DataProcTimer();
                ASSERT_LE(pipe->AssemblyBuffer().size(), given);
            }
        }
        for (int t = 0; t < 5000; ++t) {
            pipe->tim_DataProcTimer();
        }
        // A truncated frame followed by a valid one may swallow it (the length field claims
        // the later bytes): every frame handed over must be one that was sent, never more than
        // were sent.
        EXPECT_LE(static_cast<int>(frames.size()), expected);
    }
}

// Only valid frames, each its own chunk: every one arrives exactly once, in order.
TEST_F(PipelineFixture, EveryValidFrameOnceInOrder) {
    std::mt19937 rng(7);
    std::vector<std::string> sent;
    for (int i = 0; i < 300; ++i) {
        std::string data(rng() % 100, 'a');
        data += std::to_string(i);
        sent.push_back(data);
        Receive(Bytes(BaseFrame::BuildRequest(2, 5, "000000000000", i % 37, data)));
    }
    for (int t = 0; t < 2000; ++t) {
        pipe->tim_DataProcTimer();
    }
    ASSERT_EQ(frames.size(), sent.size());
    for (std::size_t i = 0; i < sent.size(); ++i) {
        EXPECT_EQ(frames[i].Data, sent[i]);
    }
}

TEST(PipelineTimer, StopsWhenIdleAndStartsOnAChunk) {
    testsupport::EnsureCoreApplication();
    WorkLog log;
    int handed = 0;
    PipelineHandlers h;
    h.HandleRequest = [&](const RequestFrame&) { ++handed; };
    ReceivePipeline pipe(log, false, h);
    pipe.Start();
    EXPECT_FALSE(pipe.TimerActive());
    std::string f = Bytes(kWorkedRequest);
    pipe.Comm1ReceiveData(1, f.data(), static_cast<int>(f.size()));
    EXPECT_TRUE(pipe.TimerActive());
    for (int i = 0; i < 200 && handed == 0; ++i) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    EXPECT_EQ(handed, 1);
    QCoreApplication::processEvents();
    EXPECT_FALSE(pipe.TimerActive());
}
