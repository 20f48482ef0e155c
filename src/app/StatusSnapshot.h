// The relay's state as support and monitoring see it from outside: one snapshot, collected on the
// main thread at the moment of the question, judged healthy or degraded, and rendered as text
// for a person or as one JSON object for a program. Texts in the snapshot are GBK as the relay
// holds them; both renderings are UTF-8.
#pragma once

#include "text/Stations.h"

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace app {

// When something happened: its wall-clock time and how long ago it was (by the steady clock, so
// that a clock jump does not make an old event new).
struct Moment {
    std::int64_t unixMs = 0;
    std::int64_t ageMs = 0;
};

enum class StationState {
    NotConfigured, // no port or no base-station ID in the parameter file
    Closed,        // configured, but its port is not open (it could not be opened)
    Reopening,     // its port hung up (the adapter pulled) and is being reopened
    Silent,        // its port is open, but the station has not answered its query
    Open,          // open, and the station answered with its channel
};

struct StationStatus {
    int slot = 0;
    std::string port;    // the port name of the parameter file
    std::string device;  // the device the name leads to
    std::string baseId;  // the configured base-station ID
    std::string channel; // the channel it answered with ("06"), empty before an answer
    StationState state = StationState::NotConfigured;
    std::optional<Moment> lastFrame; // the last bytes the station sent
    std::size_t heldReplies = 0;     // answers kept for it while its port is out
};

struct HostStatus {
    unsigned handle = 0;
    bool standalone = false; // standalone debug: no host at all, none expected
    bool windowExists = false;
    std::optional<Moment> lastNotification; // the relay told the host to read a request
    std::optional<Moment> lastReplyReady;   // the host said a reply is ready
    std::size_t waiting = 0; // requests not yet answered, the one with the host included
    std::optional<Moment> oldestWaiting; // since when the oldest of them waits
};

struct HandheldStatus {
    std::string baseId;   // two hex digits, as the request carried it
    std::string handheld; // three digits
    std::uint64_t requests = 0;
    Moment lastRequest;
};

struct DownloadStatus {
    bool running = false;           // started and not stopped
    int cycle = 0;                  // the cycle under way (or the last one), 0 before the first
    std::uint64_t packets = 0;      // packets sent since the download started
    std::uint64_t cyclesTotal = 0;  // cycles begun since the relay started
    std::uint64_t packetsTotal = 0; // packets sent since the relay started
};

struct RelaySnapshot {
    long pid = 0;
    std::string programDir; // ends in '/'
    std::int64_t nowUnixMs = 0;
    Moment started;
    std::array<StationStatus, kStationCount> stations;
    HostStatus host;
    std::vector<HandheldStatus> handhelds; // those seen since start
    DownloadStatus download;
    std::vector<std::string> log; // the newest work-log lines, oldest first (GBK)
};

// How many work-log lines a snapshot carries.
constexpr std::size_t kStatusLogLines = 20;
// A request that has waited this long for its answer means the queue is stuck.
constexpr std::chrono::seconds kStuckAfter{30};

// A station that is configured but cannot carry requests.
bool StationOut(const StationStatus& station);
// The host is gone: the relay expects one and its window does not exist.
bool HostGone(const HostStatus& host);

struct Health {
    bool degraded = false;
    std::vector<std::string> problems; // one line each, UTF-8
};
// Degraded when a station is out, the host is gone or the oldest waiting request is older than
// stuckAfter.
Health Assess(const RelaySnapshot& snapshot, std::chrono::seconds stuckAfter = kStuckAfter);

// For a person: one section per part, the problems first.
std::string StatusText(const RelaySnapshot& snapshot, const Health& health);
// The same as one JSON object.
std::string StatusJson(const RelaySnapshot& snapshot, const Health& health);

// The question a tool asks the relay's status socket, one line: "status", optionally "json" and
// "max-wait=<seconds>".
struct StatusQuestion {
    bool json = false;
    std::chrono::seconds stuckAfter = kStuckAfter;
};
std::string FormatQuestion(const StatusQuestion& question);
// Nothing for any other text.
std::optional<StatusQuestion> ParseQuestion(const std::string& line);

// The answer: a header ("health: healthy" or "degraded", "dir: <program dir>"), an empty line,
// then the rendered status.
std::string FormatAnswer(const RelaySnapshot& snapshot, const StatusQuestion& question);
struct StatusAnswer {
    bool degraded = false;
    std::string programDir;
    std::string body;
};
// Nothing when the text is not such an answer.
std::optional<StatusAnswer> ParseAnswer(const std::string& text);

} // namespace app
