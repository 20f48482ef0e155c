// Rebuilds the download image from the image packets and splits the packets into broadcast
// cycles. Within a cycle the relay sends blocks in rising index order, beginning with block 0, so
// a good packet whose block index is not above the previous one begins a new cycle. A start frame,
// the "cycle" command and the end of the program also close the running cycle.
#pragma once

#include "BaseSimFrames.h"

#include <optional>
#include <string>
#include <vector>

namespace basesim {

struct CycleSummary {
    int cycle = 0;
    int packets = 0;         // every packet of the cycle, bad ones included
    int bad = 0;             // packets whose length, zero field or sum failed
    int distinct = 0;        // different blocks received
    int duplicates = 0;      // good packets of a block already received in this cycle
    int changed = 0;         // blocks whose bytes differ from an earlier cycle's copy
    int count = -1;          // count field of the cycle's first good packet
    bool countSteady = true; // every good packet carried that count
    std::vector<int> blocks; // block indexes in arrival order (good packets)
};

// "0-3,5,9-10" for the sorted distinct indexes.
std::string BlockRanges(std::vector<int> blocks);

class ImageRebuilder {
public:
    explicit ImageRebuilder(std::size_t minimumSize) : minimumSize_(minimumSize) {}

    // A good packet; returns the summary of the cycle that this packet closed, if any.
    std::optional<CycleSummary> Packet(const PacketFrame& packet);
    // A packet that failed its checks: counted in the running cycle, not applied.
    void BadPacket();
    // Closes the running cycle, if it has packets.
    std::optional<CycleSummary> EndCycle();

    bool Empty() const { return received_ == 0; }
    int CycleNumber() const { return cycleNumber_; }
    int BlocksReceived() const { return received_; }
    // The image: at least minimumSize bytes, FF where no block arrived.
    std::string Image() const;

private:
    void StartCycle();

    std::size_t minimumSize_;
    std::string image_;
    std::vector<bool> have_;
    int received_ = 0;
    int cycleNumber_ = 0;
    bool inCycle_ = false;
    int lastBlock_ = -1;
    CycleSummary current_;
    std::vector<bool> inThisCycle_;
};

} // namespace basesim
