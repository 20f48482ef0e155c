// One JSON object per output line, as the simulators print their events: keys in the order they
// are added, values are strings, integers, milliseconds or Booleans. Strings must be UTF-8;
// control characters are escaped. Raw nests objects and arrays made beforehand (the relay's
// status).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace simjson {

class JsonLine {
public:
    JsonLine& Str(std::string_view key, std::string_view value);
    JsonLine& Int(std::string_view key, std::int64_t value);
    JsonLine& Bool(std::string_view key, bool value);
    JsonLine& Ms(std::string_view key, double milliseconds); // three decimals
    JsonLine& Strings(std::string_view key, const std::vector<std::string>& values);
    // A value that is JSON text already (an object, an array, null).
    JsonLine& Raw(std::string_view key, std::string_view json);
    // The object text, without a line end.
    std::string Text() const { return body_ + "}"; }

private:
    void Key(std::string_view key);
    std::string body_ = "{";
};

// The text between the quotes of a JSON string.
std::string JsonEscape(std::string_view utf8);
// An array of values that are JSON text already.
std::string JsonArray(const std::vector<std::string>& values);

} // namespace simjson
