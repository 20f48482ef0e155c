#include "HostSimulator.h"

#include "baselink/xyTypeConv.h"
#include "text/Files.h"
#include "text/Gbk.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <unistd.h>

namespace hostsim {
namespace {

constexpr Ms kKillAfter = 2000; // after SIGTERM, before SIGKILL

} // namespace

Simulator::Simulator(Options options, Output& output, Clock clock)
    : o_(std::move(options)), out_(output), clock_(std::move(clock)), autoReply_(!o_.noReply) {}

simjson::JsonLine Simulator::Event(Ms now, const char* event) const {
    return simjson::JsonLine().Ms("t", now).Str("event", event);
}

void Simulator::Error(Ms now, const std::string& message) {
    Emit(Event(now, "error").Str("message", message));
}

// --- the relay's life ---

void Simulator::RelayStarted(Ms now, const Started& s) {
    handle_ = s.handle;
    relayHandle_ = static_cast<unsigned>(s.relayPid);
    if (o_.timeoutS > 0) {
        timeoutAt_ = now + o_.timeoutS * 1000.0;
    }
    Emit(Event(now, "started")
             .Int("handle", s.handle)
             .Str("runtime_dir", s.runtimeDir)
             .Str("exchange", o_.exchange)
             .Int("relay_pid", s.relayPid)
             .Strings("command", s.command)
             .Str("carrier", o_.stream ? "stream" : "datagram"));
}

void Simulator::Stop(Ms now) {
    stopRequested_ = true;
    Tick(now);
}

void Simulator::EndRelay(Ms now) {
    out_.Signal(SIGTERM);
    killAt_ = now + kKillAfter;
}

void Simulator::RelayEnded(Ms now, int status, int signal) {
    simjson::JsonLine line = Event(now, "exit").Int("status", status);
    if (signal != 0) {
        line.Int("signal", signal);
    }
    Emit(line);
}

void Simulator::Connection(Ms now, bool open) {
    Emit(Event(now, open ? "connected" : "disconnected"));
}

// --- messages and requests ---

void Simulator::Received(Ms now, const hostlink::HostMessage& m) {
    const char* kind = "other";
    if (m.first == hostlink::kNotifyFirst && m.second == hostlink::kNotifySecond) {
        kind = "notify";
    } else if (m.first == static_cast<std::uint32_t>(m.second)) {
        kind = "announcement";
    }
    Emit(Event(now, "message").Int("first", m.first).Int("second", m.second).Str("kind", kind));
    if (std::strcmp(kind, "announcement") == 0) {
        announced_ = true;
        relayHandle_ = m.first;
    } else if (std::strcmp(kind, "notify") == 0) {
        OnNotify(now);
    }
}

void Simulator::OnNotify(Ms now) {
    Pending p;
    p.notified = now;
    p.seq = ++notifications_;
    const std::string path = text::FindNoCase(o_.exchange, hostlink::kRequestFile);
    std::optional<std::string> request = text::ReadFile(path);
    simjson::JsonLine line = Event(now, "request").Int("seq", p.seq).Str("file", path);
    if (!request) {
        line.Bool("missing", true);
    } else {
        p.request = *request;
        RequestHeader h = ParseRequestHeader(p.request);
        line.Str("mnemonic", text::ToUtf8(h.mnemonic))
            .Str("header", text::ToUtf8(h.line))
            .Int("size", static_cast<std::int64_t>(p.request.size()))
            .Str("text", text::ToUtf8(p.request))
            .Str("hex", HexCodec::BytesToHex(p.request));
    }
    Emit(line);
    const char* unanswered = nullptr;
    if (!autoReply_) {
        unanswered = "no-reply";
    } else if (!o_.rules.BodyFor(ParseRequestHeader(p.request).mnemonic)) {
        unanswered = "no rule";
    } else {
        p.answerAt = now + o_.replyDelayMs;
    }
    if (unanswered != nullptr) {
        Emit(Event(now, "unanswered").Int("seq", p.seq).Str("reason", unanswered));
    }
    pending_.push_back(std::move(p));
    AnswerDue(now);
}

void Simulator::AnswerDue(Ms now) {
    for (auto it = pending_.begin(); it != pending_.end();) {
        if (it->answerAt && *it->answerAt <= now) {
            Pending p = std::move(*it);
            it = pending_.erase(it);
            Answer(now, p, std::nullopt);
        } else {
            ++it;
        }
    }
}

void Simulator::Answer(Ms now, Pending& p, std::optional<std::string> body) {
    if (!body) {
        body = o_.rules.BodyFor(ParseRequestHeader(p.request).mnemonic);
    }
    const std::string reply = ComposeReply(p.request, body.value_or(""), o_.field);
    const std::string path = o_.exchange + hostlink::kReplyFile;
    try {
        text::WriteFileAtomic(path, reply);
    } catch (const text::FileError& e) {
        Error(now, text::ToUtf8(e.what())); // names the file and the reason
        return;
    }
    EmitReply(now, p.seq, path, reply);
    const Ms posted = Post(now, handle_, o_.readyCode);
    Emit(Event(now, "answered").Int("seq", p.seq).Ms("host_ms", posted - p.notified));
}

void Simulator::EmitReply(Ms now, int seq, const std::string& path, const std::string& bytes) {
    Emit(Event(now, "reply")
             .Int("seq", seq)
             .Str("file", path)
             .Int("size", static_cast<std::int64_t>(bytes.size()))
             .Str("text", text::ToUtf8(bytes))
             .Str("hex", HexCodec::BytesToHex(bytes)));
}

Ms Simulator::Post(Ms now, std::uint32_t first, std::int32_t second) {
    const bool sent = out_.Post(relayHandle_, hostlink::HostMessage{first, second});
    const Ms posted = clock_ ? clock_() : now;
    Emit(Event(now, "post")
             .Int("to", relayHandle_)
             .Int("first", first)
             .Int("second", second)
             .Bool("sent", sent));
    return posted;
}

// --- time ---

void Simulator::Tick(Ms now) {
    AnswerDue(now);
    RunCommands(now);
    const bool timedOut = timeoutAt_ && now >= *timeoutAt_;
    if (timedOut) {
        Error(now, "timeout: ending the relay");
    }
    if (timedOut || (stopRequested_ && !killAt_)) {
        timeoutAt_.reset();
        stopRequested_ = false;
        EndRelay(now);
    } else if (killAt_ && now >= *killAt_) {
        out_.Signal(SIGKILL);
        killAt_.reset();
    }
}

std::optional<Ms> Simulator::NextDeadline() const {
    std::optional<Ms> next;
    auto consider = [&next](std::optional<Ms> t) {
        if (t && (!next || *t < *next)) {
            next = t;
        }
    };
    if (wait_ != Wait::None) {
        consider(waitUntil_);
    }
    for (const Pending& p : pending_) {
        consider(p.answerAt);
    }
    consider(timeoutAt_);
    consider(killAt_);
    return next;
}

// --- commands ---

void Simulator::Command(std::string line) {
    commands_.push_back(std::move(line));
}

// Commands run in order; a waiting command holds back the ones after it while messages and
// replies go on being handled.
void Simulator::RunCommands(Ms now) {
    while (WaitDone(now) && !commands_.empty()) {
        const std::string line = text::Trim(commands_.front());
        commands_.pop_front();
        ParsedLine parsed = ParseCommand(line);
        if (!parsed.command && parsed.error.empty()) {
            continue; // blank or a comment
        }
        Emit(Event(now, "command").Str("line", line));
        if (parsed.command) {
            Execute(now, *parsed.command);
        } else {
            Error(now, parsed.error);
        }
    }
}

bool Simulator::WaitDone(Ms now) {
    switch (wait_) {
    case Wait::None:
        return true;
    case Wait::Time:
        if (now < waitUntil_) {
            return false;
        }
        break;
    case Wait::Notify:
        if (notifications_ > notificationsWaited_) {
            ++notificationsWaited_;
            break;
        }
        if (now < waitUntil_) {
            return false;
        }
        Error(now, "wait-notify timed out");
        break;
    case Wait::Announce:
        if (announced_) {
            break;
        }
        if (now < waitUntil_) {
            return false;
        }
        Error(now, "wait-announce timed out");
        break;
    }
    wait_ = Wait::None;
    return true;
}

void Simulator::Execute(Ms now, const hostsim::Command& c) {
    switch (c.verb) {
    case Verb::Wait:
    case Verb::WaitNotify:
    case Verb::WaitAnnounce:
        wait_ = c.verb == Verb::Wait         ? Wait::Time
                : c.verb == Verb::WaitNotify ? Wait::Notify
                                             : Wait::Announce;
        waitUntil_ = now + c.ms;
        break;
    case Verb::Post:
        Post(now, c.first.value_or(handle_), *c.code);
        break;
    case Verb::Ready:
        Post(now, handle_, c.code.value_or(o_.readyCode));
        break;
    case Verb::Reply:
        o_.rules.SetDefault(*c.text);
        break;
    case Verb::ReplyFor:
        o_.rules.SetFor(c.mnemonic, *c.text);
        break;
    case Verb::ReplyClear:
        o_.rules.Clear();
        break;
    case Verb::NoReply:
    case Verb::AutoReply:
        autoReply_ = c.verb == Verb::AutoReply;
        break;
    case Verb::Answer:
        Answer(now, c);
        break;
    case Verb::WriteReply:
        WriteReply(now, *c.text);
        break;
    case Verb::RemoveReply:
        RemoveReply(now);
        break;
    case Verb::Signal:
        out_.Signal(c.signal);
        break;
    case Verb::Echo:
        Emit(Event(now, "echo").Str("text", *c.text));
        break;
    }
}

void Simulator::Answer(Ms now, const hostsim::Command& c) {
    if (pending_.empty()) {
        Error(now, "answer: no request waits for an answer");
        return;
    }
    Pending p = std::move(pending_.front());
    pending_.pop_front();
    Answer(now, p, c.text);
}

void Simulator::WriteReply(Ms now, const std::string& bytes) {
    const std::string path = o_.exchange + hostlink::kReplyFile;
    try {
        text::WriteFileAtomic(path, bytes);
    } catch (const text::FileError& e) {
        Error(now, "write-reply: " + text::ToUtf8(e.what()));
        return;
    }
    EmitReply(now, 0, path, bytes);
}

void Simulator::RemoveReply(Ms now) {
    std::string path;
    while (text::FileExists(path = text::FindNoCase(o_.exchange, hostlink::kReplyFile))) {
        if (::unlink(path.c_str()) != 0) {
            Error(now, "cannot remove " + path + ": " + std::strerror(errno));
            return;
        }
    }
}

} // namespace hostsim
