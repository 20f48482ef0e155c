#include "baselink/FrameAssembler.h"

#include <algorithm>

using BaseFrame::RequestFrame;
using BaseFrame::RequestVerdict;

std::optional<FrameAssembler::Clock::time_point> FrameAssembler::Deadline() const {
    if (held_.empty()) {
        return std::nullopt;
    }
    return lastChunk_ + timing_.ReadInterval + timing_.FillTime;
}

bool FrameAssembler::Continues(Clock::time_point now) const {
    return !held_.empty() && lastFull_ &&
           now <= lastChunk_ + timing_.ReadInterval + timing_.FillTime;
}

std::vector<RequestFrame> FrameAssembler::Add(std::span<const std::uint8_t> chunk,
                                              Clock::time_point now) {
    std::vector<RequestFrame> found;
    if (!Continues(now)) {
        Cut(found, true);
    }
    held_.insert(held_.end(), chunk.begin(), chunk.end());
    lastChunk_ = now;
    lastFull_ = chunk.size() >= timing_.FullChunk;
    Cut(found, !lastFull_);
    return found;
}

std::vector<RequestFrame> FrameAssembler::Expire(Clock::time_point now) {
    std::vector<RequestFrame> found;
    if (!held_.empty() && !Continues(now)) {
        Cut(found, true);
    }
    return found;
}

// Hands on every frame at the front, skips what is not one to the next AA 31 in one step, and
// keeps an incomplete frame unless `final`, when it is skipped like garbage.
void FrameAssembler::Cut(std::vector<RequestFrame>& found, bool final) {
    std::size_t at = 0;
    while (at < held_.size()) {
        auto check = BaseFrame::CheckRequest(std::span(held_).subspan(at));
        switch (check.Verdict) {
        case RequestVerdict::Request:
            found.push_back(std::move(check.Frame));
            at += check.Length;
            break;
        case RequestVerdict::NoRequest:
            at += check.Length; // checked, but too short to carry a request: dropped whole
            break;
        case RequestVerdict::Incomplete:
            if (!final) {
                held_.erase(held_.begin(), held_.begin() + static_cast<std::ptrdiff_t>(at));
                return;
            }
            at = NextStart(at);
            break;
        default:
            at = NextStart(at);
            break;
        }
    }
    held_.clear();
}

// The next position after `from` where a frame may begin: an AA 31, or a last byte AA whose 31
// may come with the next chunk; the end when there is none.
std::size_t FrameAssembler::NextStart(std::size_t from) const {
    const std::uint8_t head[] = {BaseFrame::kLead, BaseFrame::kRequestKind};
    auto it = std::search(held_.begin() + static_cast<std::ptrdiff_t>(from) + 1, held_.end(),
                          std::begin(head), std::end(head));
    if (it != held_.end()) {
        return static_cast<std::size_t>(it - held_.begin());
    }
    const std::size_t last = held_.size() - 1;
    return last > from && held_[last] == BaseFrame::kLead ? last : held_.size();
}
