#include "BaseSimImage.h"

#include <algorithm>

namespace basesim {

std::string BlockRanges(std::vector<int> blocks) {
    std::sort(blocks.begin(), blocks.end());
    blocks.erase(std::unique(blocks.begin(), blocks.end()), blocks.end());
    std::string out;
    for (std::size_t i = 0; i < blocks.size();) {
        std::size_t j = i;
        while (j + 1 < blocks.size() && blocks[j + 1] == blocks[j] + 1) {
            ++j;
        }
        if (!out.empty()) {
            out += ',';
        }
        out += std::to_string(blocks[i]);
        if (j > i) {
            out += '-' + std::to_string(blocks[j]);
        }
        i = j + 1;
    }
    return out;
}

void ImageRebuilder::StartCycle() {
    inCycle_ = true;
    lastBlock_ = -1;
    current_ = CycleSummary{};
    current_.cycle = ++cycleNumber_;
    inThisCycle_.assign(inThisCycle_.size(), false);
}

std::optional<CycleSummary> ImageRebuilder::Packet(const PacketFrame& packet) {
    std::optional<CycleSummary> closed;
    if (inCycle_ && packet.block <= lastBlock_) {
        closed = EndCycle();
    }
    if (!inCycle_) {
        StartCycle();
    }
    std::size_t k = static_cast<std::size_t>(packet.block);
    std::size_t offset = k * kBlockSize;
    if (image_.size() < offset + kBlockSize) {
        image_.resize(offset + kBlockSize, '\xFF');
        have_.resize(k + 1, false);
    }
    if (inThisCycle_.size() < k + 1) {
        inThisCycle_.resize(k + 1, false);
    }
    CycleSummary& c = current_;
    ++c.packets;
    c.blocks.push_back(packet.block);
    if (c.count < 0) {
        c.count = packet.count;
    } else if (c.count != packet.count) {
        c.countSteady = false;
    }
    if (inThisCycle_[k]) {
        ++c.duplicates;
    } else {
        inThisCycle_[k] = true;
        ++c.distinct;
    }
    if (have_[k]) {
        if (image_.compare(offset, kBlockSize, packet.data) != 0) {
            ++c.changed;
        }
    } else {
        have_[k] = true;
        ++received_;
    }
    image_.replace(offset, kBlockSize, packet.data);
    lastBlock_ = packet.block;
    return closed;
}

void ImageRebuilder::BadPacket() {
    if (!inCycle_) {
        StartCycle();
    }
    ++current_.packets;
    ++current_.bad;
}

std::optional<CycleSummary> ImageRebuilder::EndCycle() {
    if (!inCycle_) {
        return std::nullopt;
    }
    inCycle_ = false;
    return current_;
}

std::string ImageRebuilder::Image() const {
    std::string image = image_;
    if (image.size() < minimumSize_) {
        image.resize(minimumSize_, '\xFF');
    }
    return image;
}

} // namespace basesim
