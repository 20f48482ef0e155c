// Brings back a base-station port whose device vanished after it was opened (a USB adapter
// pulled, a pseudo-terminal whose far end closed): one work-log line names the station and its
// port, and the port is reopened as soon as a device is there again under the same name. The
// other stations are not touched. The replies for the station meanwhile are kept in order and
// sent once the port is back, for up to kReplyHold after the hang-up; later they are dropped,
// each with a work-log line. Replies for a port that the base-station scan has closed to open it
// again are kept the same way until the scan has opened it; those whose port the scan leaves
// closed are logged as not sent.
#pragma once

#include "baselink/ReplyHold.h"
#include "text/Stations.h"

#include <QTimer>
#include <array>
#include <chrono>
#include <deque>
#include <functional>
#include <optional>
#include <string>

// What the recovery needs of the ports' owner.
class PortReopener {
public:
    virtual ~PortReopener() = default;
    // False while someone else opens and closes the ports (the base-station scan, the end of the
    // program); reopening waits until then.
    virtual bool MayReopen() const = 0;
    // Brings the slot's port back on its device; false when the device is not there (the port
    // is then closed).
    virtual bool ReopenSlot(int slot) = 0;
    // The name of the slot's port when it is open on a device that has hung up, its notice
    // perhaps still on its way; nothing otherwise.
    virtual std::optional<std::string> HungUpPort(int slot) const = 0;
    // The name of the slot's port while the base-station scan has closed it to open it again;
    // nothing otherwise.
    virtual std::optional<std::string> ClosedByScan(int slot) const = 0;
    // Whether the slot's port is open on a device that has not hung up.
    virtual bool PortOpen(int slot) const = 0;
    // Sends the replies kept while the slot's port was out, in order, now that it is back.
    virtual void SendKept(int slot, std::deque<StationReply> replies) = 0;
    virtual void Log(const std::string& line) = 0;
};

class PortRecovery : public ReplyHold {
public:
    using Clock = std::chrono::steady_clock;
    using Now = std::function<Clock::time_point()>;

    // How often a lost port is tried while its device is missing.
    static constexpr std::chrono::milliseconds kRetryInterval{500};
    // A port that hangs up again this soon after being reopened is failing: each such relapse
    // doubles the wait before the next reopening, up to kLongestWait.
    static constexpr std::chrono::seconds kSettleTime{10};
    static constexpr std::chrono::seconds kLongestWait{30};
    // How long after a hang-up the station's replies are kept for it.
    static constexpr std::chrono::seconds kReplyHold{30};

    explicit PortRecovery(PortReopener& owner, Now now = Clock::now);

    // The port of slot 1 to 4, open as portName, hung up. A slot already being recovered is not
    // logged again.
    void HungUp(int slot, const std::string& portName);
    // One round: tries every lost slot whose turn has come. Its timer runs it while a slot is
    // lost; tests call it directly.
    void Tick();
    bool Lost(int slot) const { return SlotAt(slot).lost; }

    // ReplyHold: keeps the reply while the slot's port is out, for up to kReplyHold after the
    // hang-up or the scan's closing (a hang-up whose notice has not arrived yet counts from now).
    bool Keep(int slot, const StationReply& reply) override;
    // The replies kept for slot 1 to 4.
    std::size_t HeldReplies(int slot) const { return SlotAt(slot).kept.size(); }
    // The program ends: every reply still kept is dropped, each with a work-log line.
    void GiveUp();

private:
    struct Slot {
        bool lost = false;
        bool closedByScan = false;
        std::string portName;
        Clock::time_point outSince{};
        std::deque<StationReply> kept;
        Clock::time_point nextTry{};
        Clock::time_point reopenedAt{};
        bool everReopened = false;
        Clock::duration backoff{};
    };

    Slot& SlotAt(int slot) { return slots_[static_cast<std::size_t>(slot - 1)]; }
    const Slot& SlotAt(int slot) const { return slots_[static_cast<std::size_t>(slot - 1)]; }
    Clock::duration NextBackoff(const Slot& s, Clock::time_point now) const;
    void TryReopen(int slot, Clock::time_point now);
    bool TakeOut(int slot);
    void ReleaseScanned();
    void SendKept(int slot);
    bool HoldOver(const Slot& s, Clock::time_point now) const;
    void DropOverdue(Clock::time_point now);
    void LogDropped(int slot, const StationReply& reply);
    bool AnyOut() const;

    PortReopener& owner_;
    Now now_;
    std::array<Slot, kStationCount> slots_;
    QTimer timer_;
};
