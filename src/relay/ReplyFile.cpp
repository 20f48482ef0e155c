#include "relay/ReplyFile.h"

#include "relay/OperationNames.h"
#include "text/Gbk.h"

#include <algorithm>
#include <string_view>

namespace relay {

namespace {

const std::string kLineEnd = "\r\n";

bool IsLineBreak(char c) {
    return c == '\r' || c == '\n';
}

// The position after the line break at `at` (CR LF, lone CR or lone LF).
std::size_t AfterLineBreak(const std::string& bytes, std::size_t at) {
    return bytes[at] == '\r' && at + 1 < bytes.size() && bytes[at + 1] == '\n' ? at + 2 : at + 1;
}

// The lines from `from` on, each ended by CR LF, in one pass: no line is held on its own, so
// a file of nothing but line breaks costs no more than its size.
std::string LinesWithCrLf(const std::string& bytes, std::size_t from) {
    std::string lines;
    lines.reserve(bytes.size() - from + 2);
    for (std::size_t i = from; i < bytes.size();) {
        const std::size_t lineBreak = std::min(bytes.find_first_of("\r\n", i), bytes.size());
        lines.append(bytes, i, lineBreak - i);
        if (lineBreak == bytes.size()) {
            break;
        }
        lines += kLineEnd;
        i = AfterLineBreak(bytes, lineBreak);
    }
    if (!IsLineBreak(bytes.back())) {
        lines += kLineEnd;
    }
    return lines;
}

// Name field: characters 1 to 5 of the trimmed header; handheld field: from the 5th on.
constexpr std::size_t kNameWidth = 5;
constexpr std::size_t kHandheldFrom = 4;

} // namespace

ReplyFile ParseReplyFile(const std::string& bytes) {
    ReplyFile reply;
    const std::size_t headerEnd = bytes.find_first_of("\r\n");
    if (headerEnd == std::string::npos) {
        return reply; // one line
    }
    const std::size_t bodyStart = AfterLineBreak(bytes, headerEnd);
    if (bodyStart == bytes.size()) {
        return reply; // one line and its line break
    }
    const std::string header = text::Trim(std::string_view(bytes).substr(0, headerEnd));
    const int operation = FindOperationName(text::Trim(header.substr(0, kNameWidth)));
    if (operation < 0) {
        return reply;
    }
    reply.Recognised = true;
    reply.Operation = operation;
    if (header.size() > kHandheldFrom) {
        reply.HandheldField = text::Trim(header.substr(kHandheldFrom));
    }
    reply.Copy = LinesWithCrLf(bytes, bodyStart);
    reply.Body = reply.Copy;
    if (!IsLineBreak(bytes.back())) {
        reply.Body.resize(reply.Body.size() - 2);
    }
    return reply;
}

std::string HandheldReplyText(const std::string& body) {
    std::string_view kept(body);
    if (kept.size() > kMaxReplyBytes) {
        kept = kept.substr(0, kMaxReplyBytes);
    }
    return text::DropLastGbkChars(kept, 2);
}

bool ReplyStatusOk(const std::string& handheldField, std::uint8_t handheld) {
    return text::Trim(handheldField) != std::to_string(handheld);
}

} // namespace relay
