#include "BaseSimJson.h"

#include <cstdio>

namespace basesim {

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

} // namespace basesim
