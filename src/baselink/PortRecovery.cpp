#include "baselink/PortRecovery.h"

#include "text/Gbk.h"

#include <algorithm>

namespace {

// How often the timer looks for a slot whose turn has come.
constexpr int kTickMs = 100;

std::string StationAndPort(int slot, const std::string& portName) {
    return text::Fixed("基站") + std::to_string(slot) + text::Fixed(" 的串口 ") + portName;
}

} // namespace

PortRecovery::PortRecovery(PortReopener& owner, Now now) : owner_(owner), now_(std::move(now)) {
    timer_.setInterval(kTickMs);
    QObject::connect(&timer_, &QTimer::timeout, [this] { Tick(); });
}

void PortRecovery::HungUp(int slot, const std::string& portName) {
    if (slot < 1 || slot > kStationCount || SlotAt(slot).lost) {
        return;
    }
    Slot& s = SlotAt(slot);
    const Clock::time_point now = now_();
    s.lost = true;
    s.portName = portName;
    s.lostAt = now;
    s.backoff = NextBackoff(s, now);
    s.nextTry = now + s.backoff; // at once, unless it keeps failing
    owner_.Log(StationAndPort(slot, portName) + text::Fixed(" 已断开，设备恢复后自动重新打开"));
    timer_.start();
}

// The first hang-up is answered at once (the first try also releases the dead device); a relapse
// soon after a reopening waits twice as long as the last time.
PortRecovery::Clock::duration PortRecovery::NextBackoff(const Slot& s,
                                                        Clock::time_point now) const {
    if (!s.everReopened || now - s.reopenedAt >= kSettleTime) {
        return Clock::duration::zero();
    }
    const Clock::duration doubled = std::max<Clock::duration>(kRetryInterval, 2 * s.backoff);
    return std::min<Clock::duration>(doubled, kLongestWait);
}

void PortRecovery::Tick() {
    const Clock::time_point now = now_();
    DropOverdue(now);
    if (!owner_.MayReopen()) {
        return;
    }
    for (int slot = 1; slot <= kStationCount; ++slot) {
        if (SlotAt(slot).lost && now >= SlotAt(slot).nextTry) {
            TryReopen(slot, now);
        }
    }
    if (!AnyLost()) {
        timer_.stop();
    }
}

void PortRecovery::TryReopen(int slot, Clock::time_point now) {
    Slot& s = SlotAt(slot);
    if (!owner_.ReopenSlot(slot)) {
        s.nextTry = now + kRetryInterval;
        return;
    }
    s.lost = false;
    s.everReopened = true;
    s.reopenedAt = now;
    owner_.Log(StationAndPort(slot, s.portName) + text::Fixed(" 已重新打开"));
    if (!s.kept.empty()) {
        std::deque<StationReply> kept;
        kept.swap(s.kept);
        owner_.SendKept(slot, std::move(kept));
    }
}

bool PortRecovery::Keep(int slot, const StationReply& reply) {
    if (slot < 1 || slot > kStationCount) {
        return false;
    }
    if (!SlotAt(slot).lost) {
        const std::optional<std::string> portName = owner_.HungUpPort(slot);
        if (!portName) {
            return false;
        }
        HungUp(slot, *portName);
    }
    Slot& s = SlotAt(slot);
    if (HoldOver(s, now_())) {
        LogDropped(slot, reply);
        return true;
    }
    s.kept.push_back(reply);
    owner_.Log(StationAndPort(slot, s.portName) + text::Fixed(" 已断开，向PDA ") + reply.Handheld +
               text::Fixed(" 的回复 ") + reply.Operation + text::Fixed(" 暂存，串口恢复后发送"));
    return true;
}

bool PortRecovery::HoldOver(const Slot& s, Clock::time_point now) const {
    return now - s.lostAt >= kReplyHold;
}

void PortRecovery::DropOverdue(Clock::time_point now) {
    for (int slot = 1; slot <= kStationCount; ++slot) {
        Slot& s = SlotAt(slot);
        if (s.lost && !s.kept.empty() && HoldOver(s, now)) {
            std::deque<StationReply> overdue;
            overdue.swap(s.kept);
            for (const StationReply& reply : overdue) {
                LogDropped(slot, reply);
            }
        }
    }
}

void PortRecovery::LogDropped(int slot, const StationReply& reply) {
    owner_.Log(StationAndPort(slot, SlotAt(slot).portName) + text::Fixed(" 断开已超过 ") +
               std::to_string(kReplyHold.count()) + text::Fixed(" 秒，向PDA ") + reply.Handheld +
               text::Fixed(" 的回复 ") + reply.Operation + text::Fixed(" 未发送，已丢弃"));
}

bool PortRecovery::AnyLost() const {
    return std::any_of(slots_.begin(), slots_.end(), [](const Slot& s) { return s.lost; });
}
