#include "BaseSimulator.h"

#include "text/Files.h"
#include "text/Gbk.h"

#include <algorithm>

namespace basesim {
namespace {

constexpr std::size_t kMaxRequestData = 0xFFFF - 9; // the body length field is 16 bits

} // namespace

Simulator::Simulator(Options options, Output& output, std::function<std::time_t()> wallClock)
    : options_(std::move(options)), out_(output), wallClock_(std::move(wallClock)),
      image_(options_.imageSize) {}

// --- entry points ---

void Simulator::Command(Millis now, std::string_view line) {
    if (!quitting_) {
        commands_.emplace_back(line);
    }
    Tick(now);
}

void Simulator::Received(Millis now, std::string_view bytes) {
    splitter_.Feed(bytes);
    lastReceived_ = now;
    while (auto frame = splitter_.Next()) {
        HandleFrame(now, *frame);
    }
    Tick(now);
}

void Simulator::InputEnded(Millis now) {
    inputEnded_ = true;
    Tick(now);
}

void Simulator::Tick(Millis now) {
    if (finished_) {
        return;
    }
    if (splitter_.HasPartial() && now - lastReceived_ >= options_.frameTimeout) {
        HandleFrame(now, *splitter_.Flush());
    }
    if (noticeAt_ && now >= *noticeAt_) {
        noticeAt_.reset();
        Queue(BroadcastNotice(), "notice");
    }
    RunCommands(now);
    if (!quitting_ && inputEnded_ && !options_.stay && commands_.empty() && now >= waitUntil_) {
        quitting_ = true;
        finishReason_ = "eof";
    }
    WriteDue(now);
    if (quitting_ && bursts_.empty()) {
        finished_ = true;
    }
}

std::optional<Millis> Simulator::NextDeadline() const {
    std::optional<Millis> next;
    auto consider = [&next](Millis t) { next = next ? std::min(*next, t) : t; };
    if (finished_) {
        return next;
    }
    if (!quitting_ && (!commands_.empty() || (inputEnded_ && !options_.stay))) {
        consider(waitUntil_);
    }
    if (splitter_.HasPartial()) {
        consider(lastReceived_ + options_.frameTimeout);
    }
    if (noticeAt_) {
        consider(*noticeAt_);
    }
    if (!bursts_.empty()) {
        consider(lastWrite_ ? *lastWrite_ + options_.gap : 0);
    }
    return next;
}

void Simulator::Shutdown() {
    ReportCycle(image_.EndCycle());
    if (imageDirty_) {
        WriteImage();
    }
}

// --- commands ---

void Simulator::RunCommands(Millis now) {
    while (!quitting_ && !commands_.empty() && now >= waitUntil_) {
        std::string line = std::move(commands_.front());
        commands_.pop_front();
        ParsedLine parsed = ParseCommand(line);
        if (!parsed.error.empty()) {
            Error(parsed.error, line);
        } else if (parsed.command) {
            Execute(now, *parsed.command);
        }
    }
}

void Simulator::Execute(Millis now, const basesim::Command& c) {
    switch (c.type) {
    case CommandType::Request:
        SendRequest(c);
        break;
    case CommandType::Wait:
        waitUntil_ = now + c.number;
        break;
    case CommandType::Notice:
        Queue(BroadcastNotice(), "notice");
        break;
    case CommandType::Ready:
        Queue(ReadyNotice(), "ready");
        break;
    case CommandType::Raw:
        Queue(c.bytes, "raw");
        break;
    case CommandType::Cycle:
        ReportCycle(image_.EndCycle());
        break;
    case CommandType::Channel:
        options_.channel = c.number;
        Config("command");
        break;
    case CommandType::Answer:
        options_.answer = c.answer;
        Config("command");
        break;
    case CommandType::Id:
        options_.id = static_cast<std::uint8_t>(c.number);
        Config("command");
        break;
    case CommandType::Mark:
        out_.Line(JsonLine().Str("event", "mark").Str("name", c.name).Text());
        break;
    case CommandType::Quit:
        quitting_ = true;
        finishReason_ = "quit";
        commands_.clear();
        break;
    }
}

std::tm Simulator::StationTime() const {
    std::time_t t = wallClock_() + clockOffset_;
    std::tm tm{};
    localtime_r(&t, &tm);
    return tm;
}

void Simulator::SendRequest(const basesim::Command& c) {
    if (c.bytes.size() > kMaxRequestData) {
        Error("req: data longer than " + std::to_string(kMaxRequestData) + " bytes", "");
        return;
    }
    RequestFrame r;
    r.station = c.station.value_or(options_.id);
    r.handheld = static_cast<std::uint8_t>(c.handheld);
    if (c.time) {
        r.time = *c.time;
    } else {
        std::tm tm = StationTime();
        r.time = TimeField(tm.tm_hour, tm.tm_min, tm.tm_sec);
    }
    r.opByte = c.opByte;
    r.data = c.bytes;
    Queue(BuildRequest(r), "request");
}

// --- writing ---

void Simulator::Queue(Bytes bytes, std::string what, bool first) {
    if (first) {
        bursts_.push_front({std::move(bytes), std::move(what)});
    } else {
        bursts_.push_back({std::move(bytes), std::move(what)});
    }
}

void Simulator::WriteDue(Millis now) {
    while (!bursts_.empty() && (!lastWrite_ || now >= *lastWrite_ + options_.gap)) {
        Burst burst = std::move(bursts_.front());
        bursts_.pop_front();
        out_.Write(burst.bytes);
        lastWrite_ = now;
        out_.Line(JsonLine()
                      .Str("event", "sent")
                      .Str("what", burst.what)
                      .Int("length", static_cast<std::int64_t>(burst.bytes.size()))
                      .Str("hex", Hex(burst.bytes))
                      .Text());
    }
}

// --- frames received ---

void Simulator::HandleFrame(Millis now, const Frame& frame) {
    JsonLine line;
    bool withHex = true;
    switch (frame.kind) {
    case FrameKind::Reply:
        CheckReply(frame, line);
        break;
    case FrameKind::Query: {
        bool answered = CheckQuery(frame, line) && options_.answer != AnswerMode::None;
        line.Bool("answered", answered);
        if (answered) {
            Queue(BuildAnswer(options_.channel, options_.answer == AnswerMode::Short), "answer",
                  true);
        }
        break;
    }
    case FrameKind::SetId: {
        auto s = CheckSetId(frame, line);
        line.Bool("applied", s.has_value());
        if (s) {
            options_.id = s->id;
            options_.channel = s->channel;
        }
        break;
    }
    case FrameKind::Clock: {
        auto t = CheckClock(frame, line);
        std::tm tm{};
        if (t) {
            tm.tm_year = 100 + t->year;
            tm.tm_mon = t->month - 1;
            tm.tm_mday = t->day;
            tm.tm_hour = t->hour;
            tm.tm_min = t->minute;
            tm.tm_sec = t->second;
            tm.tm_isdst = -1;
        }
        std::time_t set = t ? std::mktime(&tm) : -1;
        line.Bool("applied", set != -1);
        if (set != -1) {
            clockOffset_ = set - wallClock_();
        }
        break;
    }
    case FrameKind::Start: {
        ReportCycle(image_.EndCycle());
        bool notice = CheckStart(frame, line) && options_.notice;
        line.Bool("notice", notice);
        if (notice) {
            noticeAt_ = now + options_.noticeDelay;
        }
        break;
    }
    case FrameKind::Packet:
        HandlePacket(frame, line);
        withHex = options_.packetHex;
        break;
    case FrameKind::Unknown:
        line.Str("kind", "unknown");
        break;
    }
    line.Int("length", static_cast<std::int64_t>(frame.bytes.size()));
    if (frame.truncated) {
        line.Bool("truncated", true);
    }
    if (withHex) {
        line.Str("hex", Hex(frame.bytes));
    }
    out_.Line(line.Text());
}

void Simulator::HandlePacket(const Frame& frame, JsonLine& line) {
    JsonLine checks;
    auto packet = CheckPacket(frame, checks);
    if (packet) {
        ReportCycle(image_.Packet(*packet));
        imageDirty_ = true;
    } else {
        image_.BadPacket();
    }
    line = checks;
    line.Int("cycle", image_.CycleNumber());
}

void Simulator::ReportCycle(const std::optional<CycleSummary>& summary) {
    if (!summary) {
        return;
    }
    const CycleSummary& c = *summary;
    JsonLine line;
    line.Str("event", "cycle")
        .Int("cycle", c.cycle)
        .Int("packets", c.packets)
        .Int("bad", c.bad)
        .Int("distinct", c.distinct)
        .Int("duplicates", c.duplicates)
        .Int("changed", c.changed)
        .Int("count", c.count)
        .Bool("count_steady", c.countSteady)
        .Int("first", c.blocks.empty() ? -1 : c.blocks.front())
        .Int("last", c.blocks.empty() ? -1 : c.blocks.back())
        .Str("blocks", BlockRanges(c.blocks))
        .Int("image_blocks", image_.BlocksReceived());
    out_.Line(line.Text());
    if (imageDirty_) {
        WriteImage();
    }
}

void Simulator::WriteImage() {
    if (options_.imageOut.empty() || image_.Empty()) {
        return;
    }
    std::string image = image_.Image();
    try {
        text::WriteFileAtomic(options_.imageOut, image);
        imageDirty_ = false;
        out_.Line(JsonLine()
                      .Str("event", "image")
                      .Str("path", options_.imageOut)
                      .Int("bytes", static_cast<std::int64_t>(image.size()))
                      .Int("blocks", image_.BlocksReceived())
                      .Text());
    } catch (const text::FileError& e) {
        Error("image not written: " + text::ToUtf8(e.what()), "");
    }
}

// --- reports ---

void Simulator::Error(std::string_view message, std::string_view line) {
    out_.Line(JsonLine().Str("event", "error").Str("message", message).Str("line", line).Text());
}

void Simulator::Config(const char* why) {
    out_.Line(JsonLine()
                  .Str("event", "config")
                  .Str("why", why)
                  .Str("id", Hex(Bytes(1, static_cast<char>(options_.id))))
                  .Int("channel", options_.channel)
                  .Str("answer", AnswerModeName(options_.answer))
                  .Text());
}

} // namespace basesim
