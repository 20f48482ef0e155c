#include "app/StatusSnapshot.h"

#include "JsonLine.h"
#include "text/Decimal.h"
#include "text/Gbk.h"

#include <algorithm>
#include <ctime>
#include <stdexcept>

namespace app {
namespace {

using simjson::JsonLine;

// ASCII reads the same in both; only other texts need a conversion, which is the costly part of
// an answer.
std::string Utf8(const std::string& gbk) {
    const bool ascii = std::all_of(gbk.begin(), gbk.end(),
                                   [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    return ascii ? gbk : text::ToUtf8(gbk);
}

// The work-log entries in UTF-8, converted in one go (a NUL byte is in no GBK character).
std::vector<std::string> Utf8Entries(const std::vector<std::string>& entries) {
    std::string joined;
    for (const std::string& entry : entries) {
        joined += entry + '\0';
    }
    std::vector<std::string> out;
    const std::string converted = Utf8(joined);
    for (std::size_t at = 0; at < converted.size();) {
        const std::size_t end = converted.find('\0', at);
        out.push_back(converted.substr(at, end - at));
        at = end == std::string::npos ? converted.size() : end + 1;
    }
    return out;
}

std::string LocalTime(std::int64_t unixMs) {
    const std::time_t seconds = static_cast<std::time_t>(unixMs / 1000);
    std::tm local{};
    localtime_r(&seconds, &local);
    char buffer[32];
    std::strftime(buffer, sizeof buffer, "%Y-%m-%d %H:%M:%S", &local);
    return buffer;
}

std::string Duration(std::int64_t ms) {
    const std::int64_t s = ms / 1000;
    if (s < 120) {
        return std::to_string(s) + " s";
    }
    if (s < 7200) {
        return std::to_string(s / 60) + " min";
    }
    return std::to_string(s / 3600) + " h " + std::to_string(s / 60 % 60) + " min";
}

std::string When(const std::optional<Moment>& m) {
    return m ? LocalTime(m->unixMs) + " (" + Duration(m->ageMs) + " ago)" : "never";
}

const char* StateName(StationState state) {
    switch (state) {
    case StationState::NotConfigured:
        return "not_configured";
    case StationState::Closed:
        return "closed";
    case StationState::Reopening:
        return "reopening";
    case StationState::Silent:
        return "silent";
    case StationState::Open:
        return "open";
    }
    return "";
}

const char* StateText(StationState state) {
    switch (state) {
    case StationState::NotConfigured:
        return "not configured";
    case StationState::Closed:
        return "port not open (it could not be opened)";
    case StationState::Reopening:
        return "hung up, being reopened";
    case StationState::Silent:
        return "port open, no answer from the station";
    case StationState::Open:
        return "open";
    }
    return "";
}

std::string StationName(const StationStatus& s) {
    return "base station " + std::to_string(s.slot) + " (" + Utf8(s.port) + ")";
}

std::string MomentJson(const std::optional<Moment>& m) {
    if (!m) {
        return "null";
    }
    return JsonLine().Int("unix_ms", m->unixMs).Int("age_ms", m->ageMs).Text();
}

std::string StationJson(const StationStatus& s) {
    return JsonLine()
        .Int("slot", s.slot)
        .Str("port", Utf8(s.port))
        .Str("device", Utf8(s.device))
        .Str("base_id", Utf8(s.baseId))
        .Str("channel", Utf8(s.channel))
        .Str("state", StateName(s.state))
        .Bool("out", StationOut(s))
        .Raw("last_frame", MomentJson(s.lastFrame))
        .Int("held_replies", static_cast<std::int64_t>(s.heldReplies))
        .Text();
}

std::string HostJson(const HostStatus& h) {
    return JsonLine()
        .Int("handle", h.handle)
        .Bool("standalone", h.standalone)
        .Bool("window_exists", h.windowExists)
        .Bool("gone", HostGone(h))
        .Raw("last_notification", MomentJson(h.lastNotification))
        .Raw("last_reply_ready", MomentJson(h.lastReplyReady))
        .Int("waiting", static_cast<std::int64_t>(h.waiting))
        .Raw("oldest_waiting", MomentJson(h.oldestWaiting))
        .Text();
}

std::string HandheldJson(const HandheldStatus& h) {
    return JsonLine()
        .Str("base_id", Utf8(h.baseId))
        .Str("handheld", Utf8(h.handheld))
        .Int("requests", static_cast<std::int64_t>(h.requests))
        .Raw("last_request", MomentJson(h.lastRequest))
        .Text();
}

std::string DownloadJson(const DownloadStatus& d) {
    return JsonLine()
        .Bool("running", d.running)
        .Int("cycle", d.cycle)
        .Int("packets", static_cast<std::int64_t>(d.packets))
        .Int("cycles_total", static_cast<std::int64_t>(d.cyclesTotal))
        .Int("packets_total", static_cast<std::int64_t>(d.packetsTotal))
        .Text();
}

void StationLines(std::string& out, const StationStatus& s) {
    out += "  " + std::to_string(s.slot) + "  ";
    if (s.state == StationState::NotConfigured) {
        out += "not configured\n";
        return;
    }
    out += Utf8(s.port) + " -> " + Utf8(s.device) + ", ID " + Utf8(s.baseId) + ", channel " +
           (s.channel.empty() ? "-" : Utf8(s.channel)) + ": " + StateText(s.state) + "\n";
    out += "     last frame " + When(s.lastFrame) + ", answers held " +
           std::to_string(s.heldReplies) + "\n";
}

void HostLines(std::string& out, const HostStatus& h) {
    out += "host\n";
    if (h.standalone) {
        out += "  none: standalone debug\n";
    } else {
        out += "  window " + std::to_string(h.handle) +
               (h.windowExists ? ": exists\n" : ": does not exist (host gone)\n");
    }
    out += "  last notification " + When(h.lastNotification) + "\n";
    out += "  last reply-ready " + When(h.lastReplyReady) + "\n";
    out += "  requests waiting " + std::to_string(h.waiting);
    out += h.oldestWaiting ? ", the oldest for " + Duration(h.oldestWaiting->ageMs) + "\n" : "\n";
}

} // namespace

bool StationOut(const StationStatus& s) {
    return s.state != StationState::NotConfigured && s.state != StationState::Open;
}

bool HostGone(const HostStatus& h) {
    return !h.standalone && !h.windowExists;
}

Health Assess(const RelaySnapshot& snapshot, std::chrono::seconds stuckAfter) {
    Health health;
    for (const StationStatus& s : snapshot.stations) {
        if (StationOut(s)) {
            health.problems.push_back(StationName(s) + ": " + StateText(s.state));
        }
    }
    const HostStatus& host = snapshot.host;
    if (HostGone(host)) {
        health.problems.push_back(host.handle == 0
                                      ? std::string("no host: the relay knows no host window")
                                      : "host gone: its window " + std::to_string(host.handle) +
                                            " does not exist");
    }
    if (host.oldestWaiting &&
        host.oldestWaiting->ageMs >
            std::chrono::duration_cast<std::chrono::milliseconds>(stuckAfter).count()) {
        health.problems.push_back("queue stuck: the oldest of " + std::to_string(host.waiting) +
                                  " waiting requests has waited " +
                                  Duration(host.oldestWaiting->ageMs));
    }
    health.degraded = !health.problems.empty();
    return health;
}

std::string StatusText(const RelaySnapshot& s, const Health& health) {
    std::string out = "dcrelay pid " + std::to_string(s.pid) + " in " + s.programDir +
                      ", running since " + When(s.started) + "\n";
    out += std::string("health: ") + (health.degraded ? "degraded" : "healthy") + "\n";
    for (const std::string& problem : health.problems) {
        out += "  " + problem + "\n";
    }
    out += "base stations\n";
    for (const StationStatus& station : s.stations) {
        StationLines(out, station);
    }
    HostLines(out, s.host);
    out += "handhelds seen since start: " + std::to_string(s.handhelds.size()) + "\n";
    for (const HandheldStatus& h : s.handhelds) {
        out += "  " + Utf8(h.baseId) + "-" + Utf8(h.handheld) + ": " + std::to_string(h.requests) +
               " requests, the last " + When(h.lastRequest) + "\n";
    }
    out += "download: ";
    out += s.download.running ? "running, cycle " + std::to_string(s.download.cycle) + ", " +
                                    std::to_string(s.download.packets) + " packets sent\n"
                              : std::string("not running\n");
    out += "work log (the last " + std::to_string(s.log.size()) + " entries)\n";
    for (const std::string& entry : Utf8Entries(s.log)) {
        for (const std::string& line : text::SplitLines(entry)) {
            out += "  " + line + "\n";
        }
    }
    return out;
}

std::string StatusJson(const RelaySnapshot& s, const Health& health) {
    std::vector<std::string> stations, handhelds, log;
    for (const StationStatus& station : s.stations) {
        stations.push_back(StationJson(station));
    }
    for (const HandheldStatus& h : s.handhelds) {
        handhelds.push_back(HandheldJson(h));
    }
    log = Utf8Entries(s.log);
    return JsonLine()
        .Str("health", health.degraded ? "degraded" : "healthy")
        .Strings("problems", health.problems)
        .Int("pid", s.pid)
        .Str("program_dir", s.programDir)
        .Int("now_unix_ms", s.nowUnixMs)
        .Raw("started", MomentJson(s.started))
        .Raw("stations", simjson::JsonArray(stations))
        .Raw("host", HostJson(s.host))
        .Raw("handhelds", simjson::JsonArray(handhelds))
        .Raw("download", DownloadJson(s.download))
        .Strings("log", log)
        .Text();
}

// --- the question and the answer --------------------------------------------------------------

namespace {

const std::string kVerb = "status";
const std::string kMaxWait = "max-wait=";
const std::string kHealth = "health: ";
const std::string kDir = "dir: ";

} // namespace

std::string FormatQuestion(const StatusQuestion& q) {
    return kVerb + (q.json ? " json" : "") + " " + kMaxWait + std::to_string(q.stuckAfter.count());
}

std::optional<StatusQuestion> ParseQuestion(const std::string& line) {
    std::vector<std::string> words;
    for (std::size_t at = 0; at < line.size();) {
        const std::size_t end = std::min(line.find(' ', at), line.size());
        if (end > at) {
            words.push_back(line.substr(at, end - at));
        }
        at = end + 1;
    }
    if (words.empty() || words[0] != kVerb) {
        return std::nullopt;
    }
    StatusQuestion q;
    for (std::size_t i = 1; i < words.size(); ++i) {
        if (words[i] == "json") {
            q.json = true;
        } else if (words[i].rfind(kMaxWait, 0) == 0) {
            try {
                q.stuckAfter = std::chrono::seconds(text::ParseDecimal(
                    std::string_view(words[i]).substr(kMaxWait.size()), {false, 0, 86400}));
            } catch (const std::invalid_argument&) {
                return std::nullopt;
            }
        } else {
            return std::nullopt;
        }
    }
    return q;
}

std::string FormatAnswer(const RelaySnapshot& snapshot, const StatusQuestion& q) {
    const Health health = Assess(snapshot, q.stuckAfter);
    return kHealth + (health.degraded ? "degraded" : "healthy") + "\n" + kDir +
           snapshot.programDir + "\n\n" +
           (q.json ? StatusJson(snapshot, health) + "\n" : StatusText(snapshot, health));
}

std::optional<StatusAnswer> ParseAnswer(const std::string& text) {
    const std::size_t first = text.find('\n');
    const std::size_t second = first == std::string::npos ? first : text.find('\n', first + 1);
    if (second == std::string::npos || text.compare(0, kHealth.size(), kHealth) != 0 ||
        text.compare(first + 1, kDir.size(), kDir) != 0 || text.compare(second, 2, "\n\n") != 0) {
        return std::nullopt;
    }
    const std::string health = text.substr(kHealth.size(), first - kHealth.size());
    if (health != "healthy" && health != "degraded") {
        return std::nullopt;
    }
    StatusAnswer answer;
    answer.degraded = health == "degraded";
    answer.programDir = text.substr(first + 1 + kDir.size(), second - first - 1 - kDir.size());
    answer.body = text.substr(second + 2);
    return answer;
}

} // namespace app
