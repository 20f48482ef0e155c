// The host simulator's commands, one a line, from a script file or standard input; the table of
// verbs is in HostSimCommands.cpp. Blank lines and lines starting with '#' are no commands.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace hostsim {

enum class Verb {
    Wait,         // wait MS
    WaitNotify,   // wait-notify [MS]: until the relay's next notification
    WaitAnnounce, // wait-announce [MS]: until the relay has announced itself
    Post,         // post CODE | post FIRST CODE
    Ready,        // ready [CODE], show (12), close (13)
    Reply,        // reply TEXT: the default body
    ReplyFor,     // reply-for M=TEXT
    ReplyClear,
    NoReply,
    AutoReply,
    Answer,      // answer [TEXT]: the oldest unanswered request, by the rules or with TEXT
    WriteReply,  // write-reply TEXT: the reply file as given
    RemoveReply, // the reply file under every spelling
    Signal,      // signal TERM|INT|KILL to the relay
    Echo,        // echo TEXT
};

struct Command {
    Verb verb = Verb::Echo;
    int ms = 0;                         // the waits
    std::optional<std::uint32_t> first; // post: FIRST when given (else the own handle)
    std::optional<std::int32_t> code;   // post, ready (else the ready code), show, close
    std::optional<std::string> text;    // reply bodies as GBK; echo as given; answer: nothing
                                        // means by the rules
    std::string mnemonic;               // reply-for
    int signal = 0;
};

struct ParsedLine {
    std::optional<Command> command; // nothing for a blank line, a comment or an error
    std::string error;
};

ParsedLine ParseCommand(std::string_view line);

} // namespace hostsim
