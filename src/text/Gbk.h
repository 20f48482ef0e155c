// GBK byte text: every text the system reads, writes or sends is a std::string of GBK bytes.
// Fixed texts are written in the source as UTF-8 and converted once (ToGbk); conversion back to
// UTF-8 happens only for display and never fails.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace text {

// UTF-8 to GBK. Meant for the system's own fixed texts; throws std::invalid_argument when a
// character has no GBK form, which is a programming error.
std::string ToGbk(std::string_view utf8);

// The GBK form of a fixed UTF-8 text, converted on first use and kept: Fixed("成功").
const std::string& Fixed(const char* utf8);

// A text of the system (a file path, an error reason: UTF-8) made fit for a GBK message or
// work-log line: converted when it has a GBK form, else kept as its bytes.
std::string SystemTextToGbk(std::string_view utf8);

// GBK to UTF-8 for widgets and standard error. A byte that does not start a valid GBK character
// shows as U+FFFD and conversion goes on with the next byte.
std::string ToUtf8(std::string_view gbk);

// A blank is any byte 0x00..0x20; bytes of 0x80 and above are never blanks.
inline bool IsBlank(char c) {
    return static_cast<unsigned char>(c) <= 0x20;
}
std::string Trim(std::string_view s);
std::string TrimLeft(std::string_view s);
std::string TrimRight(std::string_view s);

// The value of one hexadecimal digit (either case), or -1 for any other byte.
inline int HexDigitValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// Lines split at CR LF, lone CR and lone LF; a final line break adds no empty line.
std::vector<std::string> SplitLines(std::string_view s);

// The text up to (not including) its first 0x00 byte.
std::string_view CutAtNul(std::string_view s);

// GBK characters: a lead byte 0x81..0xFE followed by a trail byte 0x40..0xFE (not 0x7F) is one
// character; any other byte is one character on its own.
// Length in bytes (1 or 2) of the character that starts at s[i].
std::size_t GbkCharLength(std::string_view s, std::size_t i);
std::size_t GbkCharCount(std::string_view s);
// Removes the last n characters; a dangling lead byte at the end counts as one character.
std::string DropLastGbkChars(std::string_view s, std::size_t n);

// Names compared without regard to ASCII letter case. A trail byte of a two-byte character may
// lie in the ASCII letter range, so only bytes that stand alone as a character are folded;
// two-byte characters compare exactly.
std::string FoldCase(std::string_view s); // stand-alone upper-case letters made lower case
bool EqualsNoCase(std::string_view a, std::string_view b);
struct LessNoCase {
    using is_transparent = void;
    bool operator()(std::string_view a, std::string_view b) const;
};

} // namespace text
