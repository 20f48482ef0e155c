// The host simulator's reply rules: reply texts as given, request headers and reply files.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace hostsim {

// A reply text as given on the command line or in a script: UTF-8, written as GBK, with the
// escapes \n (a line break, written CR LF), \r, \t, \\ and \xHH (one byte, taken as it is).
// Throws std::invalid_argument on a bad escape or a character without a GBK form.
std::string DecodeText(std::string_view text);

// A rule "MNEMONIC=TEXT": the mnemonic and the decoded body, or nothing without '='.
std::optional<std::pair<std::string, std::string>> SplitRule(const std::string& rule);

// The header line of a request record: the mnemonic padded to five characters, then the
// handheld number. An empty request file has an empty mnemonic.
struct RequestHeader {
    std::string line;     // the first line, without its line break
    std::string mnemonic; // characters 1..5, blanks removed
    std::string handheld; // characters 6.., blanks removed
};
RequestHeader ParseRequestHeader(std::string_view requestFile);

// The operation name that answers a request mnemonic (the names equal the mnemonics except one).
std::string ReplyName(const std::string& mnemonic);

// What the reply header carries as the handheld field, and so the status the handheld reads:
// NO when the field is the handheld's plain number.
enum class HandheldField {
    Copy,  // the number as the request header has it ("005" reads OK, "108" reads NO)
    Plain, // without leading zeros ("5"): a refusal
    None,  // nothing: OK, as a host answers
};
bool ParseHandheldField(std::string_view text, HandheldField& field);

// The reply file: the header (name padded to five characters, then the handheld field), CR LF,
// the body, and a final CR LF unless the body is empty or already ends in a line break.
std::string ComposeReply(std::string_view requestFile, const std::string& body,
                         HandheldField field);

class ReplyRules {
public:
    void SetDefault(std::string body) { default_ = std::move(body); }
    void SetFor(const std::string& mnemonic, std::string body) { byMnemonic_[mnemonic] = body; }
    void Clear();
    bool Empty() const { return !default_ && byMnemonic_.empty(); }
    // The body for a request with this mnemonic, or nothing when no rule answers it.
    std::optional<std::string> BodyFor(const std::string& mnemonic) const;

private:
    std::optional<std::string> default_;
    std::map<std::string, std::string> byMnemonic_;
};

} // namespace hostsim
