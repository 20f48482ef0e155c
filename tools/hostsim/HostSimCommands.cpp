#include "HostSimCommands.h"

#include "HostSimRules.h"
#include "text/Decimal.h"
#include "text/Gbk.h"

#include <csignal>
#include <limits>
#include <stdexcept>

namespace hostsim {
namespace {

// What is wrong with a verb's arguments, said after the verb ("wait needs milliseconds").
struct Complaint : std::invalid_argument {
    using std::invalid_argument::invalid_argument;
};

// Reads the arguments of one verb into c; throws Complaint, or std::invalid_argument from
// DecodeText.
using ArgumentReader = void (*)(const std::string& args, Command& c);

void Fail(const char* complaint) {
    throw Complaint(complaint);
}

std::int64_t Decimal(const std::string& digits, const char* complaint) {
    try {
        return text::ParseDecimal(digits, {true, std::numeric_limits<std::int32_t>::min(),
                                           std::numeric_limits<std::uint32_t>::max()});
    } catch (const std::invalid_argument&) {
        throw Complaint(complaint);
    }
}

template <int DefaultMs> void Millis(const std::string& args, Command& c) {
    const std::int64_t ms = args.empty() ? DefaultMs : Decimal(args, "needs milliseconds");
    if (ms < 0 || ms > 86400000) {
        Fail("needs milliseconds");
    }
    c.ms = static_cast<int>(ms);
}

void PostCodes(const std::string& args, Command& c) {
    const std::size_t blank = args.find(' ');
    constexpr const char* kComplaint = "needs CODE or FIRST CODE";
    if (args.empty()) {
        Fail(kComplaint);
    }
    if (blank != std::string::npos) {
        c.first = static_cast<std::uint32_t>(Decimal(args.substr(0, blank), kComplaint));
    }
    const std::string code = blank == std::string::npos ? args : text::Trim(args.substr(blank));
    c.code = static_cast<std::int32_t>(Decimal(code, kComplaint));
}

void OptionalCode(const std::string& args, Command& c) {
    if (!args.empty()) {
        c.code = static_cast<std::int32_t>(Decimal(args, "needs a code"));
    }
}

template <std::int32_t Code> void FixedCode(const std::string& args, Command& c) {
    if (!args.empty()) {
        Fail("takes no arguments");
    }
    c.code = Code;
}

void NoArguments(const std::string& args, Command&) {
    if (!args.empty()) {
        Fail("takes no arguments");
    }
}

void Body(const std::string& args, Command& c) {
    c.text = DecodeText(args);
}

void OptionalBody(const std::string& args, Command& c) {
    if (!args.empty()) {
        Body(args, c);
    }
}

void Rule(const std::string& args, Command& c) {
    auto rule = SplitRule(args);
    if (!rule) {
        Fail("needs MNEMONIC=TEXT");
    }
    c.mnemonic = rule->first;
    c.text = rule->second;
}

void SignalName(const std::string& args, Command& c) {
    if (args.empty() || args == "TERM") {
        c.signal = SIGTERM;
    } else if (args == "INT") {
        c.signal = SIGINT;
    } else if (args == "KILL") {
        c.signal = SIGKILL;
    } else {
        Fail("is TERM, INT or KILL");
    }
}

void AsGiven(const std::string& args, Command& c) {
    c.text = args;
}

struct VerbRow {
    std::string_view name;
    Verb verb;
    ArgumentReader read;
};

const VerbRow kVerbs[] = {
    {"wait", Verb::Wait, Millis<0>},
    {"wait-notify", Verb::WaitNotify, Millis<10000>},
    {"wait-announce", Verb::WaitAnnounce, Millis<10000>},
    {"post", Verb::Post, PostCodes},
    {"show", Verb::Post, FixedCode<12>},
    {"close", Verb::Post, FixedCode<13>},
    {"ready", Verb::Ready, OptionalCode},
    {"reply", Verb::Reply, Body},
    {"reply-for", Verb::ReplyFor, Rule},
    {"reply-clear", Verb::ReplyClear, NoArguments},
    {"no-reply", Verb::NoReply, NoArguments},
    {"auto-reply", Verb::AutoReply, NoArguments},
    {"answer", Verb::Answer, OptionalBody},
    {"write-reply", Verb::WriteReply, Body},
    {"remove-reply", Verb::RemoveReply, NoArguments},
    {"signal", Verb::Signal, SignalName},
    {"echo", Verb::Echo, AsGiven},
};

} // namespace

ParsedLine ParseCommand(std::string_view line) {
    ParsedLine parsed;
    const std::string trimmed = text::Trim(line);
    if (trimmed.empty() || trimmed[0] == '#') {
        return parsed;
    }
    const std::size_t end = trimmed.find_first_of(" \t");
    const std::string verb = trimmed.substr(0, end);
    const std::string args = end == std::string::npos ? "" : text::Trim(trimmed.substr(end));
    for (const VerbRow& row : kVerbs) {
        if (row.name != verb) {
            continue;
        }
        Command c;
        c.verb = row.verb;
        try {
            row.read(args, c);
            parsed.command = c;
        } catch (const Complaint& e) {
            parsed.error = verb + " " + e.what();
        } catch (const std::invalid_argument& e) {
            parsed.error = verb + ": " + e.what();
        }
        return parsed;
    }
    parsed.error = "unknown command " + verb;
    return parsed;
}

} // namespace hostsim
