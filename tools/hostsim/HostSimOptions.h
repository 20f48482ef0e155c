// The host simulator's command line.
#pragma once

#include "HostSimRules.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace hostsim {

extern const char kUsage[];

struct Options {
    std::optional<unsigned> handle; // own window handle; default: own process id
    std::string runtimeDir;
    bool stream = false;         // a stream window instead of a datagram one
    std::string exchange = "./"; // always ends in '/'
    ReplyRules rules;
    std::int32_t readyCode = 1;
    int replyDelayMs = 0;
    HandheldField field = HandheldField::None; // an empty field: the handheld reads OK
    bool noReply = false;
    std::string script;
    bool readStdin = false;
    std::optional<std::string> handleArg;
    bool noHandleArg = false;
    int timeoutS = 0;  // 0: none
    bool stay = false; // goes on after the relay has ended, until standard input ends
    std::vector<std::string> command; // the relay and its own arguments
};

struct ParsedOptions {
    Options options;
    bool help = false;
    std::string error; // the complaint when the command line is wrong
};

// args: the arguments after the program name.
ParsedOptions ParseOptions(const std::vector<std::string>& args);

} // namespace hostsim
