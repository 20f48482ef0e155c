#include "HostSimOptions.h"

#include "text/Decimal.h"

#include <stdexcept>

namespace hostsim {

const char kUsage[] =
    "usage: dcrelay-hostsim [options] -- RELAY [ARGS...]\n"
    "  --handle N            own window handle (default: own process id)\n"
    "  --runtime-dir DIR     runtime directory, also passed to the relay\n"
    "  --stream              listen on a stream socket: the relay connects, and messages\n"
    "                        travel on that connection both ways\n"
    "  --exchange DIR        exchange directory (default: current directory)\n"
    "  --reply TEXT          reply body for every request without a rule of its own\n"
    "  --reply-for M=TEXT    reply body for requests whose mnemonic is M\n"
    "  --ready-code N        code of the reply-ready message (default 1)\n"
    "  --reply-delay MS      wait before answering (default 0)\n"
    "  --handheld-field F    handheld field of reply headers: none (default: the\n"
    "                        handheld reads OK), copy (\"108\" reads NO from 100 on)\n"
    "                        or plain (every answer reads NO)\n"
    "  --no-reply            never answer on its own\n"
    "  --script FILE         commands, one a line\n"
    "  --stdin               read commands from standard input (after the script)\n"
    "  --handle-arg TEXT     pass TEXT as argument 1 instead of the handle\n"
    "  --no-handle-arg       start the relay without argument 1\n"
    "  --timeout S           end the relay after S seconds\n"
    "  --stay                go on serving after the relay ends (a second start that handed\n"
    "                        this host to the relay already running), until standard input\n"
    "                        ends or a signal\n"
    "Every event is one JSON line on standard output; its \"t\" is the time in milliseconds\n"
    "since the simulator started.\n"
    "TEXT: UTF-8, written as GBK; escapes \\n (CR LF), \\r, \\t, \\\\, \\xHH (one byte).\n"
    "Commands (script and standard input), one a line, '#' starts a comment:\n"
    "  wait MS | wait-notify [MS] | wait-announce [MS]\n"
    "  post CODE | post FIRST CODE | show | close | ready [CODE]\n"
    "  reply TEXT | reply-for M=TEXT | reply-clear | no-reply | auto-reply\n"
    "  answer [TEXT] | write-reply TEXT | remove-reply | signal TERM|INT|KILL | echo TEXT\n";

namespace {

struct UsageError : std::invalid_argument {
    using std::invalid_argument::invalid_argument;
};

std::int64_t Number(const std::string& option, const std::string& value, std::int64_t min,
                    std::int64_t max) {
    try {
        return text::ParseDecimal(value, {true, min, max});
    } catch (const std::invalid_argument&) {
        throw UsageError(option + " needs a number from " + std::to_string(min) + " to " +
                         std::to_string(max) + ", not '" + value + "'");
    }
}

class Parser {
public:
    explicit Parser(const std::vector<std::string>& args) : args_(args) {}

    ParsedOptions Run() {
        ParsedOptions parsed;
        try {
            while (i_ < args_.size() && args_[i_] != "--" && !parsed.help) {
                parsed.help = Option(args_[i_++], parsed.options);
            }
            if (parsed.help) {
                return parsed;
            }
            Finish(parsed.options);
        } catch (const UsageError& e) {
            parsed.error = e.what();
        }
        return parsed;
    }

private:
    std::string Value(const std::string& option) {
        if (i_ >= args_.size()) {
            throw UsageError(option + " needs a value");
        }
        return args_[i_++];
    }

    // True for --help.
    bool Option(const std::string& a, Options& o) {
        try {
            if (a == "--handle") {
                o.handle = static_cast<unsigned>(Number(a, Value(a), 0, 4294967295LL));
            } else if (a == "--runtime-dir") {
                o.runtimeDir = Value(a);
            } else if (a == "--stream") {
                o.stream = true;
            } else if (a == "--exchange") {
                o.exchange = Value(a);
            } else if (a == "--reply") {
                o.rules.SetDefault(DecodeText(Value(a)));
            } else if (a == "--reply-for") {
                auto rule = SplitRule(Value(a));
                if (!rule) {
                    throw UsageError("--reply-for needs MNEMONIC=TEXT");
                }
                o.rules.SetFor(rule->first, rule->second);
            } else if (a == "--ready-code") {
                o.readyCode =
                    static_cast<std::int32_t>(Number(a, Value(a), -2147483647LL - 1, 2147483647LL));
            } else if (a == "--reply-delay") {
                o.replyDelayMs = static_cast<int>(Number(a, Value(a), 0, 3600000));
            } else if (a == "--handheld-field") {
                if (!ParseHandheldField(Value(a), o.field)) {
                    throw UsageError("--handheld-field is copy, plain or none");
                }
            } else if (a == "--no-reply") {
                o.noReply = true;
            } else if (a == "--script") {
                o.script = Value(a);
            } else if (a == "--stdin") {
                o.readStdin = true;
            } else if (a == "--handle-arg") {
                o.handleArg = Value(a);
            } else if (a == "--no-handle-arg") {
                o.noHandleArg = true;
            } else if (a == "--timeout") {
                o.timeoutS = static_cast<int>(Number(a, Value(a), 1, 86400));
            } else if (a == "--stay") {
                o.stay = true;
            } else if (a == "--help" || a == "-h") {
                return true;
            } else {
                throw UsageError("unknown option " + a);
            }
        } catch (const UsageError&) {
            throw;
        } catch (const std::invalid_argument& e) { // a reply text that cannot be decoded
            throw UsageError(a + ": " + e.what());
        }
        return false;
    }

    void Finish(Options& o) {
        if (i_ < args_.size()) {
            ++i_; // "--"
        }
        o.command.assign(args_.begin() + static_cast<std::ptrdiff_t>(i_), args_.end());
        if (o.command.empty()) {
            throw UsageError("no relay command after --");
        }
        if (!o.exchange.empty() && o.exchange.back() != '/') {
            o.exchange += '/';
        }
    }

    const std::vector<std::string>& args_;
    std::size_t i_ = 0;
};

} // namespace

ParsedOptions ParseOptions(const std::vector<std::string>& args) {
    return Parser(args).Run();
}

} // namespace hostsim
