// The host's reply file R1.TXT: a header line naming the operation and the handheld, then the
// reply text for the handheld.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace relay {

struct ReplyFile {
    bool Recognised = false; // at least two lines and a header naming an operation
    int Operation = 0;       // the operation the header names
    std::string HandheldField;
    // The lines after the header as they stand in the file, every line break as CR LF; a final
    // line break only when the file ends with one.
    std::string Body;
    // The reply copy R2.txt: the lines after the header, each ended by CR LF.
    std::string Copy;
};

ReplyFile ParseReplyFile(const std::string& bytes);

// Of a longer reply file only this many first bytes are read: enough for the header and all
// that the handheld receives, and a bound on the memory a stray or hostile file can take. The
// reply copy then holds the text of these bytes only.
constexpr std::size_t kMaxReplyFileBytes = 1024 * 1024;

// The handheld receives at most this many bytes of the body, less its last two characters.
constexpr std::size_t kMaxReplyBytes = 812;

// The text sent to the handheld: the body cut to 812 bytes, then its last two characters
// removed (a double-byte GBK character counts as one; half a character left by the cut counts
// as one too, so the result never ends in half a character).
std::string HandheldReplyText(const std::string& body);

// Status OK unless the header's handheld field equals the request's handheld number in decimal.
bool ReplyStatusOk(const std::string& handheldField, std::uint8_t handheld);

} // namespace relay
