// The simulated host program, free of sockets and processes: it is given the time (milliseconds
// of a steady clock since the simulator started) with every call, reads and writes the exchange
// files, and reports what to print, post and signal through Output. The program around it owns
// the endpoint, the relay process, standard input and the poll loop, and may give it the clock
// itself, to measure how long its own answers take.
//
// Every line has "t" (milliseconds since the simulator started) and "event":
//   started     handle, runtime_dir, exchange, relay_pid, command (the argument vector),
//               carrier: "datagram" or "stream"
//   connected, disconnected   (stream carrier) the relay's connection opened, ended
//   message     first, second, kind: "announcement" (first == second), "notify" (1, 1), "other"
//   request     seq, file, then mnemonic, header, size, text (UTF-8), hex; or missing: true
//   reply       seq (0 for write-reply), file, size, text, hex
//   post        to, first, second, sent
//   answered    seq, host_ms: from the notification to the reply-ready post, as the clock saw it:
//               the simulator's own time (reading, writing, any reply delay), not the relay's
//   unanswered  seq, reason: "no-reply" or "no rule"
//   command     line;  echo: text;  error: message
//   exit        status (the relay's exit code, or 128 + signal), signal when it was killed;
//               the last line, except with --stay
#pragma once

#include "HostSimCommands.h"
#include "HostSimOptions.h"
#include "JsonLine.h"
#include "hostlink/HostProtocol.h"

#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace hostsim {

using Ms = double;

class Output {
public:
    virtual ~Output() = default;
    virtual void Line(const std::string& json) = 0; // one JSON line, no line end
    // Posts to the relay's window; false when the message could not be sent.
    virtual bool Post(unsigned window, const hostlink::HostMessage& message) = 0;
    virtual void Signal(int signal) = 0; // to the relay process
};

// The relay has been started.
struct Started {
    unsigned handle = 0; // the simulator's own window
    std::string runtimeDir;
    int relayPid = 0; // also the relay's window until it announces one
    std::vector<std::string> command;
};

class Simulator {
public:
    // The time now, on the clock of the calls' times.
    using Clock = std::function<Ms()>;

    // Without a clock, the time given with a call stands for every moment of that call.
    Simulator(Options options, Output& output, Clock clock = {});

    void RelayStarted(Ms now, const Started& started);
    void Received(Ms now, const hostlink::HostMessage& message);
    void Command(std::string line); // queued; runs at the next Tick, waits included
    // The simulator itself is asked to end: the relay gets SIGTERM, and SIGKILL 2 s later.
    void Stop(Ms now);
    void Tick(Ms now); // does everything that is due
    // The next moment Tick has something to do, or nothing.
    std::optional<Ms> NextDeadline() const;
    void Error(Ms now, const std::string& message);
    // The stream carrier's connection from the relay has opened or ended.
    void Connection(Ms now, bool open);
    // The last line: the relay's exit status, and the signal that ended it (0: none).
    void RelayEnded(Ms now, int status, int signal);

private:
    struct Pending {
        int seq = 0;
        std::string request;
        Ms notified = 0;
        std::optional<Ms> answerAt;
    };
    enum class Wait { None, Time, Notify, Announce };

    simjson::JsonLine Event(Ms now, const char* event) const;
    void Emit(const simjson::JsonLine& line) { out_.Line(line.Text()); }
    void OnNotify(Ms now);
    void AnswerDue(Ms now);
    void Answer(Ms now, Pending& p, std::optional<std::string> body);
    void EmitReply(Ms now, int seq, const std::string& path, const std::string& bytes);
    // Returns the moment the message went out.
    Ms Post(Ms now, std::uint32_t first, std::int32_t second);
    void EndRelay(Ms now);
    void RunCommands(Ms now);
    void Execute(Ms now, const hostsim::Command& c);
    void Answer(Ms now, const hostsim::Command& c);
    void WriteReply(Ms now, const std::string& bytes);
    void RemoveReply(Ms now);
    bool WaitDone(Ms now);

    Options o_;
    Output& out_;
    Clock clock_;
    unsigned handle_ = 0;
    unsigned relayHandle_ = 0;
    bool autoReply_ = true;
    int notifications_ = 0;
    int notificationsWaited_ = 0;
    bool announced_ = false;
    std::deque<Pending> pending_;

    std::deque<std::string> commands_;
    Wait wait_ = Wait::None;
    Ms waitUntil_ = 0;

    std::optional<Ms> timeoutAt_;
    bool stopRequested_ = false;
    std::optional<Ms> killAt_;
};

} // namespace hostsim
