// One flat JSON object per output line: keys in the order they are added, values are strings,
// integers or Booleans. Strings must be UTF-8; control characters are escaped.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace basesim {

class JsonLine {
public:
    JsonLine& Str(std::string_view key, std::string_view value);
    JsonLine& Int(std::string_view key, std::int64_t value);
    JsonLine& Bool(std::string_view key, bool value);
    // The object text, without a line end.
    std::string Text() const { return body_ + "}"; }

private:
    void Key(std::string_view key);
    std::string body_ = "{";
};

std::string JsonEscape(std::string_view utf8);

} // namespace basesim
