#include "app/StatusCollector.h"
#include "text/Stations.h"

#include "app/BaseStationPorts.h"
#include "baselink/BaseConnection.h"
#include "baselink/PortRecovery.h"
#include "baselink/SerialPortList.h"
#include "config/AppSettings.h"
#include "hostlink/HostLink.h"
#include "menu/DownloadBroadcast.h"
#include "relay/CommandQueue.h"
#include "text/Gbk.h"
#include "worklog/WorkLog.h"

#include <unistd.h>

namespace app {
namespace {

std::optional<Moment> At(const std::optional<Stamp>& stamp, const Stamp& now) {
    return stamp ? std::optional(stamp->At(now)) : std::nullopt;
}

// The station's channel once it has answered; "" before.
std::string Answered(const std::string& channelText) {
    return channelText == text::Fixed("基站未连接") ? "" : channelText;
}

StationState StateOf(const StatusParts& p, int slot, const StationStatus& s) {
    const TComm& comm = p.ports.Comm(slot);
    if (s.port.empty() || s.baseId.empty()) {
        return StationState::NotConfigured;
    }
    if (p.recovery.Lost(slot) || comm.HungUp()) {
        return StationState::Reopening;
    }
    if (!comm.Opened()) {
        return StationState::Closed;
    }
    return s.channel.empty() ? StationState::Silent : StationState::Open;
}

StationStatus Station(const StatusParts& p, int slot, const Stamp& now) {
    const auto i = static_cast<std::size_t>(slot - 1);
    StationStatus s;
    s.slot = slot;
    s.port = text::Trim(p.settings.PortName[i]);
    s.device = s.port.empty() ? "" : ResolvePortDevice(s.port, p.programDir);
    s.baseId = p.settings.BaseId[i];
    s.channel = Answered(p.scan.ChannelText[i]);
    s.state = StateOf(p, slot, s);
    s.lastFrame = At(p.activity.LastFrame(slot), now);
    s.heldReplies = p.recovery.HeldReplies(slot);
    return s;
}

HostStatus Host(const StatusParts& p, const Stamp& now) {
    HostStatus h;
    h.handle = p.host.HostHandle();
    h.standalone = p.standalone;
    h.windowExists = p.host.HostWindowExists();
    h.lastNotification = At(p.activity.LastNotification(), now);
    h.lastReplyReady = At(p.activity.LastReplyReady(), now);
    h.waiting = p.queue.Size();
    if (!p.queue.Empty()) {
        const auto age = now.steady - p.queue.Head().Since;
        h.oldestWaiting =
            Stamp{now.wall - std::chrono::duration_cast<std::chrono::system_clock::duration>(age),
                  p.queue.Head().Since}
                .At(now);
    }
    return h;
}

DownloadStatus Download(const menu::DownloadBroadcast& download) {
    const menu::DownloadBroadcast::Counts& c = download.Progress();
    // A station's ready notice starts cycles without the start button.
    const bool running = c.running || download.SequencesRunning() > 0;
    return {running, c.cycle, c.packets, c.cyclesTotal, c.packetsTotal};
}

} // namespace

RelaySnapshot CollectStatus(const StatusParts& p) {
    const Stamp now = p.activity.Now();
    RelaySnapshot s;
    s.pid = static_cast<long>(::getpid());
    s.programDir = p.programDir;
    s.nowUnixMs = Stamp{now.wall, now.steady}.At(now).unixMs;
    s.started = p.activity.Started().At(now);
    for (int slot = 1; slot <= kStationCount; ++slot) {
        s.stations[static_cast<std::size_t>(slot - 1)] = Station(p, slot, now);
    }
    s.host = Host(p, now);
    for (const auto& [key, seen] : p.activity.Handhelds()) {
        s.handhelds.push_back({key.first, key.second, seen.requests, seen.last.At(now)});
    }
    s.download = Download(p.download);
    const std::vector<std::string>& lines = p.log.Lines();
    const std::size_t from = lines.size() > kStatusLogLines ? lines.size() - kStatusLogLines : 0;
    s.log.assign(lines.begin() + static_cast<std::ptrdiff_t>(from), lines.end());
    return s;
}

} // namespace app
