#include "JsonLine.h"

#include <cstdio>

namespace simjson {

std::string JsonEscape(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size() + 2);
    for (char c : utf8) {
        unsigned char u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else if (u < 0x20 || u == 0x7F) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04X", u);
            out += buf;
        } else {
            out += c;
        }
    }
    return out;
}

void JsonLine::Key(std::string_view key) {
    if (body_.size() > 1) {
        body_ += ',';
    }
    body_ += '"';
    body_ += JsonEscape(key);
    body_ += "\":";
}

JsonLine& JsonLine::Str(std::string_view key, std::string_view value) {
    Key(key);
    body_ += '"';
    body_ += JsonEscape(value);
    body_ += '"';
    return *this;
}

JsonLine& JsonLine::Int(std::string_view key, std::int64_t value) {
    Key(key);
    body_ += std::to_string(value);
    return *this;
}

JsonLine& JsonLine::Bool(std::string_view key, bool value) {
    Key(key);
    body_ += value ? "true" : "false";
    return *this;
}

JsonLine& JsonLine::Ms(std::string_view key, double milliseconds) {
    Key(key);
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.3f", milliseconds);
    body_ += buf;
    return *this;
}

JsonLine& JsonLine::Strings(std::string_view key, const std::vector<std::string>& values) {
    Key(key);
    body_ += '[';
    for (std::size_t i = 0; i < values.size(); ++i) {
        body_ += (i ? ",\"" : "\"") + JsonEscape(values[i]) + '"';
    }
    body_ += ']';
    return *this;
}

JsonLine& JsonLine::Raw(std::string_view key, std::string_view json) {
    Key(key);
    body_ += json;
    return *this;
}

std::string JsonArray(const std::vector<std::string>& values) {
    std::string out = "[";
    for (std::size_t i = 0; i < values.size(); ++i) {
        out += (i ? "," : "") + values[i];
    }
    return out + "]";
}

} // namespace simjson
