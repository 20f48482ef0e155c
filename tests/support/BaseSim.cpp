#include "support/BaseSim.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace testsupport {
namespace {

void AppendUtf8(std::string& out, unsigned cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// A JSON string starting at s[i] == '"'; i ends after the closing quote.
std::optional<std::string> ParseString(const std::string& s, std::size_t& i) {
    std::string out;
    for (++i; i < s.size(); ++i) {
        char c = s[i];
        if (c == '"') {
            ++i;
            return out;
        }
        if (c != '\\') {
            out += c;
            continue;
        }
        if (++i >= s.size()) {
            return std::nullopt;
        }
        switch (s[i]) {
        case 'n':
            out += '\n';
            break;
        case 'r':
            out += '\r';
            break;
        case 't':
            out += '\t';
            break;
        case 'u': {
            if (i + 4 >= s.size()) {
                return std::nullopt;
            }
            AppendUtf8(out, static_cast<unsigned>(std::stoul(s.substr(i + 1, 4), nullptr, 16)));
            i += 4;
            break;
        }
        default:
            out += s[i];
        }
    }
    return std::nullopt;
}

void SkipBlanks(const std::string& s, std::size_t& i) {
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) {
        ++i;
    }
}

} // namespace

std::optional<SimLine> SimLine::Parse(const std::string& text) {
    SimLine line;
    line.text_ = text;
    std::size_t i = 0;
    SkipBlanks(text, i);
    if (i >= text.size() || text[i] != '{') {
        return std::nullopt;
    }
    ++i;
    SkipBlanks(text, i);
    if (i < text.size() && text[i] == '}') {
        return line;
    }
    while (i < text.size()) {
        SkipBlanks(text, i);
        if (i >= text.size() || text[i] != '"') {
            return std::nullopt;
        }
        auto key = ParseString(text, i);
        SkipBlanks(text, i);
        if (!key || i >= text.size() || text[i] != ':') {
            return std::nullopt;
        }
        ++i;
        SkipBlanks(text, i);
        std::optional<std::string> value;
        if (i < text.size() && text[i] == '"') {
            value = ParseString(text, i);
        } else {
            // A number, a Boolean, or an array kept as its raw text (brackets inside strings
            // do not count).
            std::size_t start = i;
            int depth = 0;
            bool inString = false;
            while (i < text.size() &&
                   (inString || depth > 0 || (text[i] != ',' && text[i] != '}'))) {
                char c = text[i];
                if (inString) {
                    if (c == '\\') {
                        ++i;
                    } else if (c == '"') {
                        inString = false;
                    }
                } else if (c == '"') {
                    inString = true;
                } else if (c == '[') {
                    ++depth;
                } else if (c == ']') {
                    --depth;
                }
                ++i;
            }
            value = text.substr(start, i - start);
            while (!value->empty() && value->back() == ' ') {
                value->pop_back();
            }
        }
        if (!value) {
            return std::nullopt;
        }
        line.values_[*key] = *value;
        SkipBlanks(text, i);
        if (i < text.size() && text[i] == ',') {
            ++i;
            continue;
        }
        if (i < text.size() && text[i] == '}') {
            return line;
        }
        return std::nullopt;
    }
    return std::nullopt;
}

std::string SimLine::Str(const std::string& key) const {
    auto it = values_.find(key);
    return it == values_.end() ? std::string() : it->second;
}

long long SimLine::Int(const std::string& key, long long otherwise) const {
    std::string v = Str(key);
    if (v.empty()) {
        return otherwise;
    }
    char* end = nullptr;
    long long n = std::strtoll(v.c_str(), &end, 10);
    return *end == '\0' ? n : otherwise;
}

std::string BaseSim::DefaultProgram() {
    if (const char* env = std::getenv("DCRELAY_BASESIM")) {
        return env;
    }
    char self[4096];
    ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    std::string dir = n > 0 ? std::string(self, static_cast<std::size_t>(n)) : std::string();
    dir = dir.substr(0, dir.rfind('/') + 1);
    return dir + "../bin/dcrelay-basesim"; // tests live in build/tests, programs in build/bin
}

std::string BaseSim::BuiltProgram(const std::string& name) {
    std::string basesim = DefaultProgram();
    return basesim.substr(0, basesim.rfind('/') + 1) + name;
}

BaseSim::BaseSim(std::vector<std::string> args, std::string program)
    : args_(std::move(args)), program_(std::move(program)) {}

BaseSim::~BaseSim() {
    if (pid_ > 0 && status_ < 0) {
        Stop();
    }
    CloseInput();
    if (fromChild_ >= 0) {
        close(fromChild_);
    }
}

bool BaseSim::Start(std::chrono::milliseconds timeout) {
    // A child that has ended makes Send return false instead of killing the test.
    std::signal(SIGPIPE, SIG_IGN);
    int in[2], out[2];
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) {
        error_ = "pipe failed";
        return false;
    }
    std::vector<char*> argv;
    argv.push_back(program_.data());
    for (std::string& a : args_) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    int err = -1;
    if (!errorFile_.empty()) {
        err = open(errorFile_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (err < 0) {
            error_ = "cannot create " + errorFile_;
            return false;
        }
    }
    pid_ = fork();
    if (pid_ < 0) {
        if (err >= 0) {
            close(err);
        }
        error_ = "fork failed";
        return false;
    }
    if (pid_ == 0) {
        dup2(in[0], 0);
        dup2(out[1], 1);
        if (err >= 0) {
            dup2(err, 2);
        }
        execv(program_.c_str(), argv.data());
        _exit(127);
    }
    close(in[0]);
    close(out[1]);
    if (err >= 0) {
        close(err);
    }
    toChild_ = in[1];
    fromChild_ = out[0];
    fcntl(fromChild_, F_SETFL, fcntl(fromChild_, F_GETFL) | O_NONBLOCK);
    auto ready = WaitForEvent(readyEvent_, timeout);
    if (!ready) {
        error_ = "no ready line from " + program_;
        return false;
    }
    devicePath_ = ready->Str("path");
    return true;
}

bool BaseSim::Send(const std::string& command) {
    if (toChild_ < 0) {
        return false;
    }
    std::string line = command + "\n";
    std::size_t done = 0;
    while (done < line.size()) {
        ssize_t n = write(toChild_, line.data() + done, line.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

void BaseSim::CloseInput() {
    if (toChild_ >= 0) {
        close(toChild_);
        toChild_ = -1;
    }
}

bool BaseSim::ReadMore(Clock::time_point deadline) {
    if (fromChild_ < 0) {
        return false;
    }
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    pollfd p{fromChild_, POLLIN, 0};
    int rc = poll(&p, 1, static_cast<int>(std::max<long long>(0, left.count())));
    if (rc <= 0) {
        return false;
    }
    char buf[8192];
    ssize_t n = read(fromChild_, buf, sizeof buf);
    if (n <= 0) {
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            return true;
        }
        close(fromChild_);
        fromChild_ = -1;
        return false;
    }
    buffer_.append(buf, static_cast<std::size_t>(n));
    return true;
}

std::optional<SimLine> BaseSim::Next(std::chrono::milliseconds timeout) {
    auto deadline = Clock::now() + timeout;
    for (;;) {
        std::size_t nl = buffer_.find('\n');
        if (nl != std::string::npos) {
            std::string text = buffer_.substr(0, nl);
            buffer_.erase(0, nl + 1);
            auto line = SimLine::Parse(text);
            if (!line) {
                continue; // not a JSON line; the simulator prints only those
            }
            seen_.push_back(*line);
            return line;
        }
        if (!ReadMore(deadline) && (fromChild_ < 0 || Clock::now() >= deadline)) {
            return std::nullopt;
        }
    }
}

std::optional<SimLine> BaseSim::WaitFor(const Match& match, std::chrono::milliseconds timeout) {
    auto deadline = Clock::now() + timeout;
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        auto line = Next(std::max(left, std::chrono::milliseconds(0)));
        if (!line) {
            return std::nullopt;
        }
        if (match(*line)) {
            return line;
        }
    }
}

std::optional<SimLine> BaseSim::WaitForKind(const std::string& kind,
                                            std::chrono::milliseconds timeout) {
    return WaitFor([&kind](const SimLine& l) { return l.Kind() == kind; }, timeout);
}

std::optional<SimLine> BaseSim::WaitForEvent(const std::string& event,
                                             std::chrono::milliseconds timeout) {
    return WaitFor([&event](const SimLine& l) { return l.Event() == event; }, timeout);
}

int BaseSim::Reap(bool block) {
    if (pid_ <= 0 || status_ >= 0) {
        return status_;
    }
    int st = 0;
    pid_t r = waitpid(pid_, &st, block ? 0 : WNOHANG);
    if (r == pid_) {
        status_ = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
    }
    return status_;
}

int BaseSim::WaitExit(std::chrono::milliseconds timeout) {
    auto deadline = Clock::now() + timeout;
    while (Reap(false) < 0 && Clock::now() < deadline) {
        // Keep reading its output so that a full pipe cannot hold it up.
        if (!ReadMore(std::min(deadline, Clock::now() + std::chrono::milliseconds(10)))) {
            usleep(2000);
        }
    }
    return status_;
}

int BaseSim::Stop(std::chrono::milliseconds timeout) {
    if (pid_ <= 0) {
        return status_;
    }
    if (Reap(false) < 0) {
        kill(pid_, SIGTERM);
        if (WaitExit(timeout) < 0) {
            kill(pid_, SIGKILL);
            Reap(true);
        }
    }
    return status_;
}

} // namespace testsupport
