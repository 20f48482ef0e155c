#include "BaseSimCommands.h"

#include "text/Gbk.h"

#include <cctype>
#include <charconv>
#include <stdexcept>

namespace basesim {
namespace {

bool IsSpace(char c) {
    return c == ' ' || c == '\t';
}

// Splits off the next blank-separated token; pos moves to the blank after it.
std::string_view NextToken(std::string_view line, std::size_t& pos) {
    while (pos < line.size() && IsSpace(line[pos])) {
        ++pos;
    }
    std::size_t start = pos;
    while (pos < line.size() && !IsSpace(line[pos])) {
        ++pos;
    }
    return line.substr(start, pos - start);
}

std::string_view TrimBlanks(std::string_view s) {
    while (!s.empty() && IsSpace(s.front())) {
        s.remove_prefix(1);
    }
    while (!s.empty() && IsSpace(s.back())) {
        s.remove_suffix(1);
    }
    return s;
}

bool StartsWith(std::string_view s, std::string_view prefix) {
    return s.substr(0, prefix.size()) == prefix;
}

std::optional<Bytes> Gbk(std::string_view utf8, std::string& error) {
    try {
        return text::ToGbk(utf8);
    } catch (const std::exception&) {
        error = "text has no GBK form";
        return std::nullopt;
    }
}

std::optional<Bytes> ParseQuoted(std::string_view q, std::string& error) {
    Bytes out;
    std::string pending; // UTF-8 text not yet converted
    auto flush = [&]() {
        auto gbk = Gbk(pending, error);
        pending.clear();
        if (!gbk) {
            return false;
        }
        out += *gbk;
        return true;
    };
    std::size_t i = 1;
    for (; i < q.size() && q[i] != '"'; ++i) {
        if (q[i] != '\\') {
            pending += q[i];
            continue;
        }
        if (++i >= q.size()) {
            break;
        }
        char e = q[i];
        if (e == 'x') {
            auto byte = ParseHex(q.substr(i + 1, 2));
            if (i + 2 >= q.size() || !byte || byte->size() != 1) {
                error = "bad \\x escape";
                return std::nullopt;
            }
            if (!flush()) {
                return std::nullopt;
            }
            out += *byte;
            i += 2;
        } else if (e == 'n' || e == 'r' || e == 't' || e == '0' || e == '\\' || e == '"') {
            pending += e == 'n' ? '\n' : e == 'r' ? '\r' : e == 't' ? '\t' : e == '0' ? '\0' : e;
        } else {
            error = std::string("unknown escape \\") + e;
            return std::nullopt;
        }
    }
    if (i >= q.size() || !TrimBlanks(q.substr(i + 1)).empty()) {
        error = "unterminated quoted text";
        return std::nullopt;
    }
    if (!flush()) {
        return std::nullopt;
    }
    return out;
}

std::optional<Command> ParseRequest(std::string_view line, std::size_t pos, std::string& error) {
    Command c;
    c.type = CommandType::Request;
    auto handheld = ParseInt(NextToken(line, pos), 0, 255);
    if (!handheld) {
        error = "req: handheld must be 0..255";
        return std::nullopt;
    }
    c.handheld = *handheld;
    std::string_view opToken = NextToken(line, pos);
    auto op = ParseOperationByte(opToken);
    if (!op) {
        error = "req: unknown operation '" + std::string(opToken) + "'";
        return std::nullopt;
    }
    c.opByte = *op;
    // Options, then the data after exactly one blank.
    std::string_view rest = pos < line.size() ? line.substr(pos + 1) : std::string_view();
    while (StartsWith(rest, "t=") || StartsWith(rest, "st=")) {
        std::size_t p = 0;
        std::string_view token = NextToken(rest, p);
        std::string_view value = token.substr(token.find('=') + 1);
        if (token[0] == 't') {
            c.time = ParseTime(value);
            if (!c.time) {
                error = "req: time must be 12 hex digits or hh:mm:ss";
                return std::nullopt;
            }
        } else {
            c.station = ParseStation(value);
            if (!c.station) {
                error = "req: station must be hex 00..FF";
                return std::nullopt;
            }
        }
        rest = p < rest.size() ? rest.substr(p + 1) : std::string_view();
    }
    auto data = ParseData(rest, error);
    if (!data) {
        error = "req: " + error;
        return std::nullopt;
    }
    c.bytes = *data;
    return c;
}

} // namespace

const char* AnswerModeName(AnswerMode mode) {
    switch (mode) {
    case AnswerMode::None:
        return "off";
    case AnswerMode::Short:
        return "short";
    case AnswerMode::Normal:
        break;
    }
    return "on";
}

std::optional<int> ParseInt(std::string_view text, int min, int max) {
    int value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size() || value < min ||
        value > max) {
        return std::nullopt;
    }
    return value;
}

std::optional<std::uint8_t> ParseStation(std::string_view hex) {
    if (hex.size() == 1) {
        return ParseStation("0" + std::string(hex));
    }
    auto b = ParseHex(hex);
    if (hex.size() != 2 || !b || b->size() != 1) {
        return std::nullopt;
    }
    return static_cast<std::uint8_t>((*b)[0]);
}

std::optional<std::uint8_t> ParseOperationByte(std::string_view token) {
    if (StartsWith(token, "0x") || StartsWith(token, "0X")) {
        return ParseStation(token.substr(2));
    }
    if (auto number = ParseInt(token, -kFirstOpByte, 255 - kFirstOpByte)) {
        return static_cast<std::uint8_t>(*number + kFirstOpByte);
    }
    if (auto op = OperationByName(token)) {
        return static_cast<std::uint8_t>(*op + kFirstOpByte);
    }
    return std::nullopt;
}

std::optional<Bytes> ParseData(std::string_view data, std::string& error) {
    if (StartsWith(data, "hex:")) {
        auto bytes = ParseHex(data.substr(4));
        if (!bytes) {
            error = "data hex: needs pairs of hex digits";
        }
        return bytes;
    }
    if (StartsWith(data, "\"")) {
        return ParseQuoted(data, error);
    }
    return Gbk(data, error);
}

std::optional<Bytes> ParseTime(std::string_view value) {
    if (value.size() == 12) {
        return ParseHex(value);
    }
    if (value.size() != 8 || value[2] != ':' || value[5] != ':') {
        return std::nullopt;
    }
    auto h = ParseInt(value.substr(0, 2), 0, 23);
    auto m = ParseInt(value.substr(3, 2), 0, 59);
    auto s = ParseInt(value.substr(6, 2), 0, 59);
    if (!h || !m || !s) {
        return std::nullopt;
    }
    return TimeField(*h, *m, *s);
}

ParsedLine ParseCommand(std::string_view line) {
    ParsedLine result;
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) {
        line.remove_suffix(1);
    }
    std::size_t pos = 0;
    std::string_view verb = NextToken(line, pos);
    if (verb.empty() || verb[0] == '#') {
        return result;
    }
    std::string_view args = TrimBlanks(line.substr(pos));
    Command c;
    std::string& error = result.error;
    auto noArgs = [&](CommandType type) {
        if (!args.empty()) {
            error = std::string(verb) + " takes no arguments";
            return;
        }
        c.type = type;
        result.command = c;
    };
    if (verb == "req") {
        if (auto r = ParseRequest(line, pos, error)) {
            result.command = *r;
        }
    } else if (verb == "wait") {
        if (auto ms = ParseInt(args, 0, 3600000)) {
            c.type = CommandType::Wait;
            c.number = *ms;
            result.command = c;
        } else {
            error = "wait: milliseconds 0..3600000";
        }
    } else if (verb == "notice") {
        noArgs(CommandType::Notice);
    } else if (verb == "ready") {
        noArgs(CommandType::Ready);
    } else if (verb == "cycle") {
        noArgs(CommandType::Cycle);
    } else if (verb == "quit") {
        noArgs(CommandType::Quit);
    } else if (verb == "raw") {
        auto bytes = ParseHex(args);
        if (bytes && !bytes->empty()) {
            c.type = CommandType::Raw;
            c.bytes = *bytes;
            result.command = c;
        } else {
            error = "raw: needs pairs of hex digits";
        }
    } else if (verb == "channel") {
        if (auto n = ParseInt(args, 1, 256)) {
            c.type = CommandType::Channel;
            c.number = *n;
            result.command = c;
        } else {
            error = "channel: 1..256";
        }
    } else if (verb == "answer") {
        c.type = CommandType::Answer;
        if (args == "on") {
            c.answer = AnswerMode::Normal;
        } else if (args == "off") {
            c.answer = AnswerMode::None;
        } else if (args == "short") {
            c.answer = AnswerMode::Short;
        } else {
            error = "answer: on, off or short";
            return result;
        }
        result.command = c;
    } else if (verb == "id") {
        if (auto id = ParseStation(args)) {
            c.type = CommandType::Id;
            c.number = *id;
            result.command = c;
        } else {
            error = "id: hex 00..FF";
        }
    } else if (verb == "mark") {
        c.type = CommandType::Mark;
        c.name = std::string(args);
        result.command = c;
    } else {
        error = "unknown command '" + std::string(verb) + "'";
    }
    return result;
}

} // namespace basesim
