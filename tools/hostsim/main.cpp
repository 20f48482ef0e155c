// dcrelay-hostsim: plays the host program. Binds its own window, starts the relay with its handle
// as argument 1, answers every request notification from its reply rules, runs script and
// standard-input commands, and prints every event as one JSON line on standard output.
// The relay's own standard output goes to standard error, so standard output holds only events.
//
// Every line has "t" (ms since the simulator started) and "event":
//   started     handle, runtime_dir, exchange, relay_pid, command (the argument vector)
//   message     first, second, kind: "announcement" (first == second), "notify" (1, 1), "other"
//   request     seq, file, then mnemonic, header, size, text (UTF-8), hex; or missing: true
//   reply       seq (0 for write-reply), file, size, text, hex
//   post        to, first, second, sent
//   answered    seq, host_ms: from the notification to the reply-ready post
//   unanswered  seq, reason: "no-reply" or "no rule"
//   command     line;  echo: text;  error: message
//   exit        status (the relay's exit code, or 128 + signal), signal when it was killed
// The simulator's exit code is the relay's status.

#include "HostSimRules.h"
#include "hostlink/HostProtocol.h"
#include "hostlink/HostSocket.h"
#include "hostlink/RuntimeDir.h"
#include "text/Files.h"
#include "text/Gbk.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <fstream>
#include <optional>
#include <poll.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using hostsim::JsonString;

const char kUsage[] =
    "usage: dcrelay-hostsim [options] -- RELAY [ARGS...]\n"
    "  --handle N            own window handle (default: own process id)\n"
    "  --runtime-dir DIR     runtime directory, also passed to the relay\n"
    "  --exchange DIR        exchange directory (default: current directory)\n"
    "  --reply TEXT          reply body for every request without a rule of its own\n"
    "  --reply-for M=TEXT    reply body for requests whose mnemonic is M\n"
    "  --ready-code N        code of the reply-ready message (default 1)\n"
    "  --reply-delay MS      wait before answering (default 0)\n"
    "  --handheld-field F    handheld field of reply headers: copy, plain or none\n"
    "  --no-reply            never answer on its own\n"
    "  --script FILE         commands, one a line\n"
    "  --stdin               read commands from standard input (after the script)\n"
    "  --handle-arg TEXT     pass TEXT as argument 1 instead of the handle\n"
    "  --no-handle-arg       start the relay without argument 1\n"
    "  --timeout S           end the relay after S seconds\n"
    "TEXT: UTF-8, written as GBK; escapes \\n (CR LF), \\r, \\t, \\\\, \\xHH (one byte).\n"
    "Commands (script and standard input), one a line, '#' starts a comment:\n"
    "  wait MS | wait-notify [MS] | wait-announce [MS]\n"
    "  post CODE | post FIRST CODE | show | close | ready [CODE]\n"
    "  reply TEXT | reply-for M=TEXT | reply-clear | no-reply | auto-reply\n"
    "  answer [TEXT] | write-reply TEXT | remove-reply | signal TERM|INT|KILL | echo TEXT\n";

struct Options {
    std::optional<unsigned> handle;
    std::string runtimeDir;
    std::string exchange = ".";
    hostsim::ReplyRules rules;
    std::int32_t readyCode = 1;
    int replyDelayMs = 0;
    hostsim::HandheldField field = hostsim::HandheldField::Copy;
    bool noReply = false;
    std::string script;
    bool readStdin = false;
    std::optional<std::string> handleArg;
    bool noHandleArg = false;
    double timeoutS = 0;
    std::vector<std::string> command;
};

[[noreturn]] void UsageError(const std::string& message) {
    std::fprintf(stderr, "dcrelay-hostsim: %s\n%s", message.c_str(), kUsage);
    std::exit(2);
}

long ParseNumber(const std::string& option, const std::string& value, long min, long max) {
    char* end = nullptr;
    errno = 0;
    long n = std::strtol(value.c_str(), &end, 10);
    if (value.empty() || *end != '\0' || errno == ERANGE || n < min || n > max) {
        UsageError(option + " needs a number from " + std::to_string(min) + " to " +
                   std::to_string(max) + ", not '" + value + "'");
    }
    return n;
}

bool SplitRule(const std::string& rule, std::string& mnemonic, std::string& body) {
    std::size_t eq = rule.find('=');
    if (eq == std::string::npos) {
        return false;
    }
    mnemonic = rule.substr(0, eq);
    body = hostsim::DecodeText(rule.substr(eq + 1));
    return true;
}

Options ParseOptions(int argc, char** argv) {
    Options o;
    int i = 1;
    auto value = [&](const std::string& option) -> std::string {
        if (i + 1 >= argc) {
            UsageError(option + " needs a value");
        }
        return argv[++i];
    };
    for (; i < argc; ++i) {
        std::string a = argv[i];
        try {
            if (a == "--") {
                ++i;
                break;
            } else if (a == "--handle") {
                o.handle = static_cast<unsigned>(ParseNumber(a, value(a), 0, 4294967295L));
            } else if (a == "--runtime-dir") {
                o.runtimeDir = value(a);
            } else if (a == "--exchange") {
                o.exchange = value(a);
            } else if (a == "--reply") {
                o.rules.SetDefault(hostsim::DecodeText(value(a)));
            } else if (a == "--reply-for") {
                std::string mnemonic, body;
                if (!SplitRule(value(a), mnemonic, body)) {
                    UsageError("--reply-for needs MNEMONIC=TEXT");
                }
                o.rules.SetFor(mnemonic, body);
            } else if (a == "--ready-code") {
                o.readyCode = static_cast<std::int32_t>(
                    ParseNumber(a, value(a), -2147483647L - 1, 2147483647L));
            } else if (a == "--reply-delay") {
                o.replyDelayMs = static_cast<int>(ParseNumber(a, value(a), 0, 3600000));
            } else if (a == "--handheld-field") {
                if (!hostsim::ParseHandheldField(value(a), o.field)) {
                    UsageError("--handheld-field is copy, plain or none");
                }
            } else if (a == "--no-reply") {
                o.noReply = true;
            } else if (a == "--script") {
                o.script = value(a);
            } else if (a == "--stdin") {
                o.readStdin = true;
            } else if (a == "--handle-arg") {
                o.handleArg = value(a);
            } else if (a == "--no-handle-arg") {
                o.noHandleArg = true;
            } else if (a == "--timeout") {
                o.timeoutS = static_cast<double>(ParseNumber(a, value(a), 1, 86400));
            } else if (a == "--help" || a == "-h") {
                std::fputs(kUsage, stdout);
                std::exit(0);
            } else {
                UsageError("unknown option " + a);
            }
        } catch (const std::invalid_argument& e) {
            UsageError(a + ": " + e.what());
        }
    }
    for (; i < argc; ++i) {
        o.command.push_back(argv[i]);
    }
    if (o.command.empty()) {
        UsageError("no relay command after --");
    }
    if (!o.exchange.empty() && o.exchange.back() != '/') {
        o.exchange += '/';
    }
    return o;
}

// Self-pipe for SIGCHLD, SIGTERM and SIGINT.
int signalPipe[2] = {-1, -1};
volatile sig_atomic_t stopRequested = 0;

void OnSignal(int sig) {
    if (sig != SIGCHLD) {
        stopRequested = 1;
    }
    int saved = errno;
    char byte = 0;
    [[maybe_unused]] ssize_t n = ::write(signalPipe[1], &byte, 1);
    errno = saved;
}

struct Pending {
    int seq = 0;
    std::string request;
    Clock::time_point notified;
    std::optional<Clock::time_point> answerAt;
};

class HostSim {
public:
    explicit HostSim(Options options) : o_(std::move(options)), start_(Clock::now()) {
        autoReply_ = !o_.noReply;
    }

    int Run();

private:
    // Output.
    void Emit(const std::string& event, const std::string& fields);
    void Error(const std::string& message) { Emit("error", "\"message\":" + JsonString(message)); }

    // Setup.
    bool OpenEndpoint();
    bool StartRelay();
    void LoadScript();

    // Events.
    void ReadMessages();
    void OnMessage(const hostlink::HostMessage& m);
    void OnNotify();
    void AnswerDue();
    void Answer(Pending& p, std::optional<std::string> body);
    void Post(std::uint32_t first, std::int32_t second);
    void ReadStdin();
    bool ReapRelay();

    // Commands.
    void RunCommands();
    bool Execute(const std::string& line); // false: the command waits
    bool WaitDone();

    double Ms(Clock::time_point t) const {
        return std::chrono::duration<double, std::milli>(t - start_).count();
    }
    std::string ExchangePath(const std::string& name) const { return o_.exchange + name; }
    int PollTimeout() const;

    Options o_;
    Clock::time_point start_;
    std::string runtimeDir_;
    hostlink::HostSocket socket_;
    unsigned handle_ = 0;
    pid_t relay_ = -1;
    unsigned relayHandle_ = 0;
    std::optional<int> exitStatus_;
    std::string exitFields_;

    bool autoReply_ = true;
    int notifications_ = 0;
    int notificationsWaited_ = 0;
    bool announced_ = false;
    std::deque<Pending> pending_;

    std::deque<std::string> commands_;
    bool stdinOpen_ = false;
    std::string stdinBuffer_;
    enum class Wait { None, Time, Notify, Announce } wait_ = Wait::None;
    Clock::time_point waitUntil_;

    std::optional<Clock::time_point> timeoutAt_;
    std::optional<Clock::time_point> killAt_;
};

void HostSim::Emit(const std::string& event, const std::string& fields) {
    char t[32];
    std::snprintf(t, sizeof t, "%.3f", Ms(Clock::now()));
    std::string line = std::string("{\"t\":") + t + ",\"event\":" + JsonString(event);
    if (!fields.empty()) {
        line += "," + fields;
    }
    line += "}\n";
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fflush(stdout);
}

bool HostSim::OpenEndpoint() {
    if (!o_.runtimeDir.empty()) {
        ::setenv("DCRELAY_RUNTIME_DIR", o_.runtimeDir.c_str(), 1);
    }
    hostlink::RuntimeDirResult dir = hostlink::PrepareRuntimeDir();
    if (!dir.ok) {
        Error(text::ToUtf8(dir.reason));
        return false;
    }
    runtimeDir_ = dir.path;
    handle_ = o_.handle ? *o_.handle : static_cast<unsigned>(::getpid());
    std::string error = socket_.Open(runtimeDir_, handle_);
    if (!error.empty()) {
        Error("cannot bind " + hostlink::WindowPath(runtimeDir_, handle_) + ": " + error);
        return false;
    }
    return true;
}

bool HostSim::StartRelay() {
    std::vector<std::string> args;
    args.push_back(o_.command[0]);
    if (!o_.noHandleArg) {
        args.push_back(o_.handleArg ? *o_.handleArg : std::to_string(handle_));
    }
    args.insert(args.end(), o_.command.begin() + 1, o_.command.end());
    std::vector<char*> argv;
    for (auto& a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);

    std::fflush(stdout);
    relay_ = ::fork();
    if (relay_ < 0) {
        Error(std::string("fork: ") + std::strerror(errno));
        return false;
    }
    if (relay_ == 0) {
        // The relay's output goes to standard error, so standard output holds only events.
        int null = ::open("/dev/null", O_RDONLY);
        if (null >= 0) {
            ::dup2(null, 0);
        }
        ::dup2(2, 1);
        std::signal(SIGPIPE, SIG_DFL);
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        ::execvp(argv[0], argv.data());
        std::fprintf(stderr, "dcrelay-hostsim: cannot start %s: %s\n", argv[0],
                     std::strerror(errno));
        ::_exit(127);
    }
    relayHandle_ = static_cast<unsigned>(relay_);
    std::string command = "[";
    for (std::size_t i = 0; i < args.size(); ++i) {
        command += (i ? "," : "") + JsonString(args[i]);
    }
    command += "]";
    Emit("started", "\"handle\":" + std::to_string(handle_) + ",\"runtime_dir\":" +
                        JsonString(runtimeDir_) + ",\"exchange\":" + JsonString(o_.exchange) +
                        ",\"relay_pid\":" + std::to_string(relay_) + ",\"command\":" + command);
    return true;
}

void HostSim::LoadScript() {
    if (o_.script.empty()) {
        return;
    }
    std::ifstream in(o_.script);
    if (!in) {
        Error("cannot read script " + o_.script);
        return;
    }
    std::string line;
    while (std::getline(in, line)) {
        commands_.push_back(line);
    }
}

void HostSim::ReadMessages() {
    while (auto m = socket_.Receive()) {
        OnMessage(*m);
    }
}

void HostSim::OnMessage(const hostlink::HostMessage& m) {
    std::string kind = "other";
    if (m.first == hostlink::kNotifyFirst && m.second == hostlink::kNotifySecond) {
        kind = "notify";
    } else if (m.first == static_cast<std::uint32_t>(m.second)) {
        kind = "announcement";
    }
    Emit("message", "\"first\":" + std::to_string(m.first) + ",\"second\":" +
                        std::to_string(m.second) + ",\"kind\":" + JsonString(kind));
    if (kind == "announcement") {
        announced_ = true;
        relayHandle_ = m.first;
    } else if (kind == "notify") {
        OnNotify();
    }
}

void HostSim::OnNotify() {
    Pending p;
    p.notified = Clock::now();
    p.seq = ++notifications_;
    std::string path = text::FindNoCase(o_.exchange, hostlink::kRequestFile);
    std::optional<std::string> request = text::ReadFile(path);
    if (!request) {
        Emit("request", "\"seq\":" + std::to_string(p.seq) + ",\"file\":" + JsonString(path) +
                            ",\"missing\":true");
    } else {
        p.request = *request;
        hostsim::RequestHeader h = hostsim::ParseRequestHeader(p.request);
        Emit("request", "\"seq\":" + std::to_string(p.seq) + ",\"file\":" + JsonString(path) +
                            ",\"mnemonic\":" + JsonString(text::ToUtf8(h.mnemonic)) +
                            ",\"header\":" + JsonString(text::ToUtf8(h.line)) +
                            ",\"size\":" + std::to_string(p.request.size()) +
                            ",\"text\":" + JsonString(text::ToUtf8(p.request)) +
                            ",\"hex\":" + JsonString(hostsim::Hex(p.request)));
    }
    std::string mnemonic = hostsim::ParseRequestHeader(p.request).mnemonic;
    if (!autoReply_) {
        Emit("unanswered", "\"seq\":" + std::to_string(p.seq) + ",\"reason\":\"no-reply\"");
    } else if (!o_.rules.BodyFor(mnemonic)) {
        Emit("unanswered", "\"seq\":" + std::to_string(p.seq) + ",\"reason\":\"no rule\"");
    } else {
        p.answerAt = p.notified + std::chrono::milliseconds(o_.replyDelayMs);
    }
    pending_.push_back(std::move(p));
    AnswerDue();
}

void HostSim::AnswerDue() {
    auto now = Clock::now();
    for (auto it = pending_.begin(); it != pending_.end();) {
        if (it->answerAt && *it->answerAt <= now) {
            Pending p = std::move(*it);
            it = pending_.erase(it);
            Answer(p, std::nullopt);
        } else {
            ++it;
        }
    }
}

void HostSim::Answer(Pending& p, std::optional<std::string> body) {
    if (!body) {
        body = o_.rules.BodyFor(hostsim::ParseRequestHeader(p.request).mnemonic);
    }
    std::string reply = hostsim::ComposeReply(p.request, body.value_or(""), o_.field);
    std::string path = ExchangePath(hostlink::kReplyFile);
    try {
        text::WriteFileAtomic(path, reply);
    } catch (const std::exception& e) {
        Error("cannot write " + path + ": " + e.what());
        return;
    }
    Emit("reply", "\"seq\":" + std::to_string(p.seq) + ",\"file\":" + JsonString(path) +
                      ",\"size\":" + std::to_string(reply.size()) +
                      ",\"text\":" + JsonString(text::ToUtf8(reply)) +
                      ",\"hex\":" + JsonString(hostsim::Hex(reply)));
    Post(handle_, o_.readyCode);
    char ms[32];
    std::snprintf(ms, sizeof ms, "%.3f",
                  std::chrono::duration<double, std::milli>(Clock::now() - p.notified).count());
    Emit("answered", "\"seq\":" + std::to_string(p.seq) + ",\"host_ms\":" + ms);
}

void HostSim::Post(std::uint32_t first, std::int32_t second) {
    bool sent = socket_.Post(relayHandle_, hostlink::HostMessage{first, second});
    Emit("post", "\"to\":" + std::to_string(relayHandle_) + ",\"first\":" + std::to_string(first) +
                     ",\"second\":" + std::to_string(second) +
                     ",\"sent\":" + (sent ? "true" : "false"));
}

void HostSim::ReadStdin() {
    char buffer[4096];
    ssize_t n = ::read(0, buffer, sizeof buffer);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) {
        return;
    }
    if (n <= 0) {
        stdinOpen_ = false;
        if (!stdinBuffer_.empty()) {
            commands_.push_back(stdinBuffer_);
            stdinBuffer_.clear();
        }
        return;
    }
    stdinBuffer_.append(buffer, static_cast<std::size_t>(n));
    for (std::size_t nl; (nl = stdinBuffer_.find('\n')) != std::string::npos;) {
        commands_.push_back(stdinBuffer_.substr(0, nl));
        stdinBuffer_.erase(0, nl + 1);
    }
}

bool HostSim::ReapRelay() {
    int status = 0;
    pid_t r = ::waitpid(relay_, &status, WNOHANG);
    if (r != relay_) {
        return false;
    }
    if (WIFEXITED(status)) {
        exitStatus_ = WEXITSTATUS(status);
        exitFields_ = "\"status\":" + std::to_string(*exitStatus_);
    } else {
        int sig = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
        exitStatus_ = 128 + sig;
        exitFields_ =
            "\"status\":" + std::to_string(*exitStatus_) + ",\"signal\":" + std::to_string(sig);
    }
    return true;
}

// Commands run in order; a waiting command holds back the ones after it while messages and
// replies go on being handled.
void HostSim::RunCommands() {
    while (WaitDone() && !commands_.empty()) {
        std::string line = commands_.front();
        commands_.pop_front();
        std::string trimmed = text::Trim(line);
        if (trimmed.empty() || trimmed[0] == '#') {
            continue;
        }
        Emit("command", "\"line\":" + JsonString(trimmed));
        Execute(trimmed);
    }
}

bool HostSim::WaitDone() {
    auto now = Clock::now();
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
        Error("wait-notify timed out");
        break;
    case Wait::Announce:
        if (announced_) {
            break;
        }
        if (now < waitUntil_) {
            return false;
        }
        Error("wait-announce timed out");
        break;
    }
    wait_ = Wait::None;
    return true;
}

bool HostSim::Execute(const std::string& line) {
    std::istringstream words(line);
    std::string verb;
    words >> verb;
    std::string rest;
    std::getline(words, rest);
    rest = text::Trim(rest);
    auto number = [&](long fallback) -> std::optional<long> {
        if (rest.empty()) {
            return fallback;
        }
        char* end = nullptr;
        long n = std::strtol(rest.c_str(), &end, 10);
        if (*end != '\0') {
            return std::nullopt;
        }
        return n;
    };
    try {
        if (verb == "wait" || verb == "wait-notify" || verb == "wait-announce") {
            auto ms = number(verb == "wait" ? 0 : 10000);
            if (!ms || *ms < 0) {
                Error(verb + " needs milliseconds");
                return true;
            }
            wait_ = verb == "wait" ? Wait::Time
                                   : (verb == "wait-notify" ? Wait::Notify : Wait::Announce);
            waitUntil_ = Clock::now() + std::chrono::milliseconds(*ms);
            return WaitDone();
        }
        if (verb == "post") {
            std::istringstream values(rest);
            long long a = 0, b = 0;
            if (!(values >> a)) {
                Error("post needs CODE or FIRST CODE");
            } else if (values >> b) {
                Post(static_cast<std::uint32_t>(a), static_cast<std::int32_t>(b));
            } else {
                Post(handle_, static_cast<std::int32_t>(a));
            }
        } else if (verb == "show") {
            Post(handle_, 12);
        } else if (verb == "close") {
            Post(handle_, 13);
        } else if (verb == "ready") {
            auto code = number(o_.readyCode);
            Post(handle_, code ? static_cast<std::int32_t>(*code) : o_.readyCode);
        } else if (verb == "reply") {
            o_.rules.SetDefault(hostsim::DecodeText(rest));
        } else if (verb == "reply-for") {
            std::string mnemonic, body;
            if (!SplitRule(rest, mnemonic, body)) {
                Error("reply-for needs MNEMONIC=TEXT");
            } else {
                o_.rules.SetFor(mnemonic, body);
            }
        } else if (verb == "reply-clear") {
            o_.rules.Clear();
        } else if (verb == "no-reply") {
            autoReply_ = false;
        } else if (verb == "auto-reply") {
            autoReply_ = true;
        } else if (verb == "answer") {
            if (pending_.empty()) {
                Error("answer: no request waits for an answer");
            } else {
                Pending p = std::move(pending_.front());
                pending_.pop_front();
                std::optional<std::string> body;
                if (!rest.empty()) {
                    body = hostsim::DecodeText(rest);
                }
                Answer(p, body);
            }
        } else if (verb == "write-reply") {
            std::string bytes = hostsim::DecodeText(rest);
            std::string path = ExchangePath(hostlink::kReplyFile);
            text::WriteFileAtomic(path, bytes);
            Emit("reply", "\"seq\":0,\"file\":" + JsonString(path) +
                              ",\"size\":" + std::to_string(bytes.size()) +
                              ",\"text\":" + JsonString(text::ToUtf8(bytes)) +
                              ",\"hex\":" + JsonString(hostsim::Hex(bytes)));
        } else if (verb == "remove-reply") {
            std::string path;
            while (text::FileExists(path = text::FindNoCase(o_.exchange, hostlink::kReplyFile))) {
                if (::unlink(path.c_str()) != 0) {
                    Error("cannot remove " + path + ": " + std::strerror(errno));
                    break;
                }
            }
        } else if (verb == "signal") {
            int sig = rest == "KILL" ? SIGKILL : rest == "INT" ? SIGINT : SIGTERM;
            if (!rest.empty() && rest != "KILL" && rest != "INT" && rest != "TERM") {
                Error("signal is TERM, INT or KILL");
            } else {
                ::kill(relay_, sig);
            }
        } else if (verb == "echo") {
            Emit("echo", "\"text\":" + JsonString(rest));
        } else {
            Error("unknown command " + verb);
        }
    } catch (const std::exception& e) {
        Error(verb + ": " + e.what());
    }
    return true;
}

int HostSim::PollTimeout() const {
    std::optional<Clock::time_point> next;
    auto consider = [&](std::optional<Clock::time_point> t) {
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
    if (!next) {
        return -1;
    }
    auto left = std::chrono::ceil<std::chrono::milliseconds>(*next - Clock::now()).count();
    return left < 0 ? 0 : static_cast<int>(std::min<long long>(left, 1000000));
}

int HostSim::Run() {
    if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        Error(std::string("pipe: ") + std::strerror(errno));
        return 1;
    }
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sa.sa_flags = SA_RESTART | SA_NOCLDSTOP;
    sigemptyset(&sa.sa_mask);
    ::sigaction(SIGCHLD, &sa, nullptr);
    ::sigaction(SIGTERM, &sa, nullptr);
    ::sigaction(SIGINT, &sa, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    if (!OpenEndpoint()) {
        return 1;
    }
    LoadScript();
    stdinOpen_ = o_.readStdin;
    if (!StartRelay()) {
        return 1;
    }
    if (o_.timeoutS > 0) {
        timeoutAt_ =
            Clock::now() + std::chrono::milliseconds(static_cast<long>(o_.timeoutS * 1000));
    }
    bool stopForwarded = false;
    while (!exitStatus_) {
        ReadMessages();
        AnswerDue();
        RunCommands();
        auto now = Clock::now();
        if ((stopRequested && !stopForwarded) || (timeoutAt_ && now >= *timeoutAt_)) {
            if (timeoutAt_ && now >= *timeoutAt_) {
                Error("timeout: ending the relay");
            }
            ::kill(relay_, SIGTERM);
            stopForwarded = true;
            timeoutAt_.reset();
            killAt_ = now + std::chrono::seconds(2);
        }
        if (killAt_ && now >= *killAt_) {
            ::kill(relay_, SIGKILL);
            killAt_.reset();
        }
        if (ReapRelay()) {
            break;
        }
        pollfd fds[3] = {{socket_.Fd(), POLLIN, 0}, {signalPipe[0], POLLIN, 0}, {0, 0, 0}};
        nfds_t count = 2;
        if (stdinOpen_) {
            fds[2] = {0, POLLIN, 0};
            count = 3;
        }
        int rc = ::poll(fds, count, PollTimeout());
        if (rc < 0 && errno != EINTR) {
            Error(std::string("poll: ") + std::strerror(errno));
            break;
        }
        if (fds[1].revents & POLLIN) {
            char drain[64];
            while (::read(signalPipe[0], drain, sizeof drain) > 0) {
            }
        }
        if (count == 3 && (fds[2].revents & (POLLIN | POLLHUP | POLLERR))) {
            ReadStdin();
        }
    }
    if (!exitStatus_) {
        ::kill(relay_, SIGKILL);
        while (!ReapRelay()) {
            ::usleep(1000);
        }
    }
    ReadMessages(); // what the relay posted just before it ended
    Emit("exit", exitFields_);
    return *exitStatus_;
}

} // namespace

int main(int argc, char** argv) {
    Options options = ParseOptions(argc, argv);
    HostSim sim(std::move(options));
    return sim.Run();
}
