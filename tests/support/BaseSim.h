// Runs dcrelay-basesim as a child process for end-to-end tests: starts it with arguments, waits
// for its ready line, reads its JSON lines with a time-out, sends commands to its standard input
// and stops it.
#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace testsupport {

// One output line of the simulator: a flat JSON object of strings, integers and Booleans.
class SimLine {
public:
    // Nothing when the text is not a flat JSON object.
    static std::optional<SimLine> Parse(const std::string& text);

    bool Has(const std::string& key) const { return values_.count(key) != 0; }
    // The value as written: strings unescaped, numbers and Booleans as their text; "" if absent.
    std::string Str(const std::string& key) const;
    long long Int(const std::string& key, long long otherwise = -1) const;
    bool Bool(const std::string& key) const { return Str(key) == "true"; }
    // "kind" for received frames, "event" for everything else.
    std::string Kind() const { return Str("kind"); }
    std::string Event() const { return Str("event"); }
    const std::string& Text() const { return text_; }

private:
    std::map<std::string, std::string> values_;
    std::string text_;
};

class BaseSim {
public:
    using Clock = std::chrono::steady_clock;
    using Match = std::function<bool(const SimLine&)>;

    // The installed simulator next to the test programs' build.
    static std::string DefaultProgram();

    explicit BaseSim(std::vector<std::string> args, std::string program = DefaultProgram());
    ~BaseSim(); // stops the child if it still runs
    BaseSim(const BaseSim&) = delete;
    BaseSim& operator=(const BaseSim&) = delete;

    // The event line that tells the child is ready ("ready" for the base-station simulator;
    // "started" serves for the host simulator, which runs through the same class).
    void SetReadyEvent(std::string event) { readyEvent_ = std::move(event); }
    // Standard error of the child (and of the programs it starts) goes to this file, created
    // anew, instead of the test's own: for children that write much, or whose lines a test reads.
    void SetErrorFile(std::string path) { errorFile_ = std::move(path); }
    // A program of the build next to the test programs (build/bin/<name>).
    static std::string BuiltProgram(const std::string& name);
    // Starts the child and waits for its ready event. False (see Error) on failure.
    bool Start(std::chrono::milliseconds timeout = std::chrono::seconds(5));
    const std::string& Error() const { return error_; }
    pid_t Pid() const { return pid_; }
    // The pseudo-terminal's slave device from the ready line.
    const std::string& DevicePath() const { return devicePath_; }

    // Writes one command line (a line end is added). False when the input is closed.
    bool Send(const std::string& command);
    void CloseInput();

    // The next line, or nothing after the time-out or at the end of the child's output.
    std::optional<SimLine> Next(std::chrono::milliseconds timeout);
    // Reads lines until one matches; the others stay in Seen().
    std::optional<SimLine> WaitFor(const Match& match, std::chrono::milliseconds timeout);
    std::optional<SimLine> WaitForKind(const std::string& kind, std::chrono::milliseconds timeout);
    std::optional<SimLine> WaitForEvent(const std::string& event,
                                        std::chrono::milliseconds timeout);
    // Every line read so far, in order.
    const std::vector<SimLine>& Seen() const { return seen_; }

    // Waits for the child to end by itself; its exit status, or -1 on time-out (it keeps running).
    int WaitExit(std::chrono::milliseconds timeout);
    // SIGTERM, then SIGKILL after the time-out; the exit status (128 + signal when killed).
    int Stop(std::chrono::milliseconds timeout = std::chrono::seconds(5));

private:
    bool ReadMore(Clock::time_point deadline);
    int Reap(bool block);

    std::vector<std::string> args_;
    std::string program_;
    pid_t pid_ = -1;
    int toChild_ = -1;
    int fromChild_ = -1;
    int status_ = -1;
    std::string buffer_;
    std::vector<SimLine> seen_;
    std::string devicePath_;
    std::string error_;
    std::string readyEvent_ = "ready";
    std::string errorFile_;
};

} // namespace testsupport
