#include "HostSimRules.h"

#include "text/Gbk.h"

#include <algorithm>
#include <stdexcept>

namespace hostsim {
namespace {

std::string FirstLine(std::string_view s) {
    std::size_t end = s.find_first_of("\r\n");
    return std::string(s.substr(0, end));
}

} // namespace

std::string DecodeText(std::string_view text) {
    std::string out;
    std::string run; // UTF-8 text not yet converted
    auto flush = [&] {
        out += text::ToGbk(run);
        run.clear();
    };
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            run += text[i];
            continue;
        }
        if (i + 1 >= text.size()) {
            throw std::invalid_argument("a '\\' ends the text");
        }
        char e = text[++i];
        switch (e) {
        case 'n':
            run += "\r\n";
            break;
        case 'r':
            run += '\r';
            break;
        case 't':
            run += '\t';
            break;
        case '\\':
            run += '\\';
            break;
        case 'x': {
            int hi = i + 1 < text.size() ? text::HexDigitValue(text[i + 1]) : -1;
            int lo = i + 2 < text.size() ? text::HexDigitValue(text[i + 2]) : -1;
            if (hi < 0 || lo < 0) {
                throw std::invalid_argument("\\x needs two hexadecimal digits");
            }
            flush();
            out += static_cast<char>(hi * 16 + lo);
            i += 2;
            break;
        }
        default:
            throw std::invalid_argument(std::string("unknown escape \\") + e);
        }
    }
    flush();
    return out;
}

std::optional<std::pair<std::string, std::string>> SplitRule(const std::string& rule) {
    const std::size_t eq = rule.find('=');
    if (eq == std::string::npos) {
        return std::nullopt;
    }
    return std::make_pair(rule.substr(0, eq), DecodeText(rule.substr(eq + 1)));
}

RequestHeader ParseRequestHeader(std::string_view requestFile) {
    RequestHeader h;
    h.line = FirstLine(requestFile);
    h.mnemonic = text::Trim(std::string_view(h.line).substr(0, 5));
    h.handheld = h.line.size() > 5 ? text::Trim(std::string_view(h.line).substr(5)) : "";
    return h;
}

std::string ReplyName(const std::string& mnemonic) {
    return mnemonic == "YDKT" ? "QCJE" : mnemonic;
}

bool ParseHandheldField(std::string_view text, HandheldField& field) {
    if (text == "copy") {
        field = HandheldField::Copy;
    } else if (text == "plain") {
        field = HandheldField::Plain;
    } else if (text == "none") {
        field = HandheldField::None;
    } else {
        return false;
    }
    return true;
}

std::string ComposeReply(std::string_view requestFile, const std::string& body,
                         HandheldField field) {
    RequestHeader request = ParseRequestHeader(requestFile);
    std::string handheld;
    if (field == HandheldField::Copy) {
        handheld = request.handheld;
    } else if (field == HandheldField::Plain) {
        std::size_t first = request.handheld.find_first_not_of('0');
        handheld = first == std::string::npos ? (request.handheld.empty() ? "" : "0")
                                              : request.handheld.substr(first);
    }
    std::string header = ReplyName(request.mnemonic);
    if (!header.empty() || !handheld.empty()) {
        header.resize(std::max<std::size_t>(header.size() + 1, 5), ' ');
    }
    std::string reply = header + handheld + "\r\n" + body;
    if (!body.empty() && body.back() != '\n' && body.back() != '\r') {
        reply += "\r\n";
    }
    return reply;
}

void ReplyRules::Clear() {
    default_.reset();
    byMnemonic_.clear();
}

std::optional<std::string> ReplyRules::BodyFor(const std::string& mnemonic) const {
    auto it = byMnemonic_.find(mnemonic);
    if (it != byMnemonic_.end()) {
        return it->second;
    }
    return default_;
}

} // namespace hostsim
