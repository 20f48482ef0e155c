// Cuts the request frames of one base station out of the chunks its port delivers. A port's
// reader ends a chunk after a read interval of silence or when its 2048-byte buffer is full, and
// a base station sends its frames in bursts, so a burst goes on past the end of a chunk only
// after a full chunk. The chunk that follows a full chunk before the port's next chunk is due
// belongs to the same burst and is cut with it, but only while the port holds an incomplete frame:
// after a full chunk that ended on a frame's end, the next chunk is sorted by its first bytes like
// any other. An incomplete frame at the end of a burst is given up (searched for later frames,
// then dropped).
#pragma once

#include "baselink/BaseFrame.h"
#include "baselink/xyTypeConv.h"

#include <chrono>
#include <cstddef>
#include <optional>
#include <span>
#include <vector>

struct AssemblyTiming {
    // The ports' ReadIntervalTimeout: the silence that ends a chunk.
    std::chrono::milliseconds ReadInterval{100};
    // The time a port needs to fill its read buffer: 2048 bytes of 10 bits at 115200 baud.
    std::chrono::milliseconds FillTime{178};
    // The most one read of a port delivers.
    std::size_t FullChunk = 2048;
};

class FrameAssembler {
public:
    using Clock = std::chrono::steady_clock;

    explicit FrameAssembler(AssemblyTiming timing = {}) : timing_(timing) {}

    // Whether a chunk arriving at `now` continues an incomplete frame of the last chunk: that
    // chunk was full, it left bytes held, and the port's next chunk would be due by now if the
    // bytes went on.
    bool Continues(Clock::time_point now) const;

    // Adds a chunk that arrived at `now` and returns the frames it completes, in order. Held
    // bytes that the chunk does not continue are given up first, their frames returned first.
    std::vector<BaseFrame::RequestFrame> Add(std::span<const std::uint8_t> chunk,
                                             Clock::time_point now);

    // Gives up the held bytes when no continuation can come any more; returns the frames found
    // behind the incomplete one.
    std::vector<BaseFrame::RequestFrame> Expire(Clock::time_point now);

    // When the held bytes are given up if nothing continues them; nothing when none are held.
    std::optional<Clock::time_point> Deadline() const;

    const HexCodec::TByteArr& Held() const { return held_; }

private:
    void Cut(std::vector<BaseFrame::RequestFrame>& found, bool final);
    std::size_t NextStart(std::size_t from) const;

    AssemblyTiming timing_;
    HexCodec::TByteArr held_;
    Clock::time_point lastChunk_{};
    bool lastFull_ = false;
};
