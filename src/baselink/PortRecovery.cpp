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
    s.closedByScan = false;
    s.portName = portName;
    s.outSince = now;
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
    ReleaseScanned();
    if (owner_.MayReopen()) {
        for (int slot = 1; slot <= kStationCount; ++slot) {
            if (SlotAt(slot).lost && now >= SlotAt(slot).nextTry) {
                TryReopen(slot, now);
            }
        }
    }
    if (!AnyOut()) {
        timer_.stop();
    }
}

// The slots whose port the scan had closed: sent what they kept once the scan has opened the
// port again; logged as not sent when the scan has left it closed.
void PortRecovery::ReleaseScanned() {
    for (int slot = 1; slot <= kStationCount; ++slot) {
        Slot& s = SlotAt(slot);
        if (!s.closedByScan || owner_.ClosedByScan(slot)) {
            continue;
        }
        s.closedByScan = false;
        if (owner_.PortOpen(slot)) {
            SendKept(slot);
            continue;
        }
        std::deque<StationReply> unsent;
        unsent.swap(s.kept);
        for (const StationReply& reply : unsent) {
            owner_.Log(NotSentLine(slot, reply));
        }
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
    SendKept(slot);
}

void PortRecovery::SendKept(int slot) {
    Slot& s = SlotAt(slot);
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
    Slot& s = SlotAt(slot);
    if (!s.lost && !s.closedByScan && !TakeOut(slot)) {
        return false;
    }
    if (HoldOver(s, now_())) {
        LogDropped(slot, reply);
        return true;
    }
    s.kept.push_back(reply);
    owner_.Log(StationAndPort(slot, s.portName) +
               text::Fixed(s.lost ? " 已断开，向PDA " : " 正在重新打开，向PDA ") + reply.Handheld +
               text::Fixed(" 的回复 ") + reply.Operation +
               text::Fixed(s.lost ? " 暂存，串口恢复后发送" : " 暂存，串口打开后发送"));
    return true;
}

// Whether the slot's port is out though nothing has said so yet: hung up before its notice
// came, or closed by the scan to be opened again.
bool PortRecovery::TakeOut(int slot) {
    if (const std::optional<std::string> hungUp = owner_.HungUpPort(slot)) {
        HungUp(slot, *hungUp);
        return true;
    }
    const std::optional<std::string> closed = owner_.ClosedByScan(slot);
    if (!closed) {
        return false;
    }
    Slot& s = SlotAt(slot);
    s.closedByScan = true;
    s.portName = *closed;
    s.outSince = now_();
    timer_.start();
    return true;
}

void PortRecovery::GiveUp() {
    for (int slot = 1; slot <= kStationCount; ++slot) {
        Slot& s = SlotAt(slot);
        std::deque<StationReply> unsent;
        unsent.swap(s.kept);
        for (const StationReply& reply : unsent) {
            owner_.Log(StationAndPort(slot, s.portName) + text::Fixed(" 未恢复，程序结束，向PDA ") +
                       reply.Handheld + text::Fixed(" 的回复 ") + reply.Operation +
                       text::Fixed(" 未发送，已丢弃"));
        }
    }
}

bool PortRecovery::HoldOver(const Slot& s, Clock::time_point now) const {
    return now - s.outSince >= kReplyHold;
}

void PortRecovery::DropOverdue(Clock::time_point now) {
    for (int slot = 1; slot <= kStationCount; ++slot) {
        Slot& s = SlotAt(slot);
        if ((s.lost || s.closedByScan) && !s.kept.empty() && HoldOver(s, now)) {
            std::deque<StationReply> overdue;
            overdue.swap(s.kept);
            for (const StationReply& reply : overdue) {
                LogDropped(slot, reply);
            }
        }
    }
}

void PortRecovery::LogDropped(int slot, const StationReply& reply) {
    const Slot& s = SlotAt(slot);
    owner_.Log(StationAndPort(slot, s.portName) +
               text::Fixed(s.lost ? " 断开已超过 " : " 未打开已超过 ") +
               std::to_string(kReplyHold.count()) + text::Fixed(" 秒，向PDA ") + reply.Handheld +
               text::Fixed(" 的回复 ") + reply.Operation + text::Fixed(" 未发送，已丢弃"));
}

bool PortRecovery::AnyOut() const {
    return std::any_of(slots_.begin(), slots_.end(),
                       [](const Slot& s) { return s.lost || s.closedByScan; });
}
