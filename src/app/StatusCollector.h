// Collects the relay's status snapshot from the parts that the main controller owns, on the
// main thread. It only reads: asking for the status changes nothing in the relay.
#pragma once

#include "app/RelayActivity.h"
#include "app/StatusSnapshot.h"

#include <string>

class BaseConnection;
class PortRecovery;
class WorkLog;
class TComm;

namespace config {
struct AppSettings;
}
namespace hostlink {
class HostLink;
}
namespace menu {
class DownloadBroadcast;
}
namespace relay {
class CommandQueue;
}

namespace app {

class BaseStationPorts;

struct StatusParts {
    const std::string& programDir;
    const config::AppSettings& settings;
    const BaseConnection& scan;
    const BaseStationPorts& ports;
    const PortRecovery& recovery;
    const hostlink::HostLink& host;
    const bool& standalone; // standalone debug: no host expected
    const relay::CommandQueue& queue;
    const menu::DownloadBroadcast& download;
    const WorkLog& log;
    const RelayActivity& activity;
};

RelaySnapshot CollectStatus(const StatusParts& parts);

} // namespace app
