// The simulator's commands, one per line, from a script file or standard input:
//   req HANDHELD OP [t=TIME] [st=STATION] [DATA]   send a handheld request
//   wait MS | notice | ready | raw HEX | cycle | channel N | answer on|off|short | id HEX
//   mark NAME | quit
// Blank lines and lines starting with '#' are ignored.
#pragma once

#include "BaseSimFrames.h"

#include <optional>
#include <string>
#include <string_view>

namespace basesim {

enum class AnswerMode { Normal, None, Short };
const char* AnswerModeName(AnswerMode mode);

enum class CommandType {
    Request,
    Wait,
    Notice,
    Ready,
    Raw,
    Cycle,
    Channel,
    Answer,
    Id,
    Mark,
    Quit
};

struct Command {
    CommandType type = CommandType::Quit;
    // Request: handheld, operation byte, optional time field and station, data (GBK bytes).
    int handheld = 0;
    std::uint8_t opByte = kFirstOpByte;
    std::optional<Bytes> time;
    std::optional<std::uint8_t> station;
    Bytes bytes;    // request data, or the bytes of raw
    int number = 0; // wait: milliseconds; channel: channel number; id: identifier
    AnswerMode answer = AnswerMode::Normal;
    std::string name; // mark
};

struct ParsedLine {
    std::optional<Command> command; // nothing for a blank line or a comment
    std::string error;              // set when the line is not a valid command
};

ParsedLine ParseCommand(std::string_view line);

// Operation argument: a decimal operation number (-76..179), a name or mnemonic (DL, KT, ...), or
// 0xHH for the raw operation byte.
std::optional<std::uint8_t> ParseOperationByte(std::string_view token);
// Request data: hex:HEX, a "quoted" text with \\ \" \n \r \t \xHH escapes, or the text as it is;
// text is UTF-8 and is sent as GBK.
std::optional<Bytes> ParseData(std::string_view data, std::string& error);
// t=HHMMSSxxxxxx style 12 hex digits (the field as sent) or t=hh:mm:ss.
std::optional<Bytes> ParseTime(std::string_view value);
std::optional<int> ParseInt(std::string_view text, int min, int max);
std::optional<std::uint8_t> ParseStation(std::string_view hex);

} // namespace basesim
