// The simulated base station, free of devices and clocks: it is given the time (milliseconds of a
// steady clock) with every call, and reports what to write and print through Output. The program
// around it owns the pseudo-terminal, standard input and the poll loop.
#pragma once

#include "BaseSimCommands.h"
#include "BaseSimFrames.h"
#include "BaseSimImage.h"

#include <cstdint>
#include <ctime>
#include <deque>
#include <functional>
#include <optional>
#include <string>

namespace basesim {

using Millis = std::int64_t;

struct Options {
    std::uint8_t id = 0x02;
    int channel = 1; // 1..256; the answer carries channel - 1
    AnswerMode answer = AnswerMode::Normal;
    bool notice = true;
    Millis noticeDelay = 500;
    Millis gap = 150; // least silence between two bursts, so that each starts a chunk at the relay
    Millis frameTimeout = 250; // a partial frame older than this is reported as truncated
    std::string imageOut;
    std::size_t imageSize = 786432;
    bool packetHex = false;
    bool stay = false; // keep running after standard input ends
};

class Output {
public:
    virtual ~Output() = default;
    virtual void Line(const std::string& json) = 0; // one JSON line, no line end
    virtual void Write(const Bytes& burst) = 0;     // one burst to the relay
};

class Simulator {
public:
    // wallClock gives the local wall-clock seconds (the station's clock runs at an offset to it).
    Simulator(
        Options options, Output& output,
        std::function<std::time_t()> wallClock = [] { return std::time(nullptr); });

    void Command(Millis now, std::string_view line); // queued; runs in order, waits included
    void Received(Millis now, std::string_view bytes);
    void InputEnded(Millis now);
    void Tick(Millis now); // does everything that is due
    // The next moment Tick has something to do, or nothing.
    std::optional<Millis> NextDeadline() const;
    bool Finished() const { return finished_; }
    const char* FinishReason() const { return finishReason_; }
    // Closes the running cycle and writes the image; called once at the end.
    void Shutdown();

    const Options& Settings() const { return options_; }

private:
    struct Burst {
        Bytes bytes;
        std::string what;
    };

    void RunCommands(Millis now);
    void Execute(Millis now, const basesim::Command& c);
    void SendRequest(const basesim::Command& c);
    void Queue(Bytes bytes, std::string what, bool first = false);
    void WriteDue(Millis now);
    void HandleFrame(Millis now, const Frame& frame);
    void HandlePacket(const Frame& frame, JsonLine& line);
    void ReportCycle(const std::optional<CycleSummary>& summary);
    void WriteImage();
    void Error(std::string_view message, std::string_view line);
    void Config(const char* why);
    std::tm StationTime() const;

    Options options_;
    Output& out_;
    std::function<std::time_t()> wallClock_;
    std::time_t clockOffset_ = 0;

    std::deque<std::string> commands_;
    Millis waitUntil_ = 0;
    bool inputEnded_ = false;
    bool quitting_ = false;
    bool finished_ = false;
    const char* finishReason_ = "";

    std::deque<Burst> bursts_;
    std::optional<Millis> lastWrite_;

    FrameSplitter splitter_;
    Millis lastReceived_ = 0;
    std::optional<Millis> noticeAt_;
    ImageRebuilder image_;
    bool imageDirty_ = false;
};

} // namespace basesim
