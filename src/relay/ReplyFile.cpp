#include "relay/ReplyFile.h"

#include "relay/OperationNames.h"
#include "text/Gbk.h"

#include <vector>

namespace relay {

namespace {

const std::string kLineEnd = "\r\n";

bool EndsWithLineBreak(const std::string& bytes) {
    return !bytes.empty() && (bytes.back() == '\r' || bytes.back() == '\n');
}

// Name field: characters 1 to 5 of the trimmed header; handheld field: from the 5th on.
constexpr std::size_t kNameWidth = 5;
constexpr std::size_t kHandheldFrom = 4;

} // namespace

ReplyFile ParseReplyFile(const std::string& bytes) {
    ReplyFile reply;
    const std::vector<std::string> lines = text::SplitLines(bytes);
    if (lines.size() < 2) {
        return reply;
    }
    const std::string header = text::Trim(lines[0]);
    const int operation = FindOperationName(text::Trim(header.substr(0, kNameWidth)));
    if (operation < 0) {
        return reply;
    }
    reply.Recognised = true;
    reply.Operation = operation;
    if (header.size() > kHandheldFrom) {
        reply.HandheldField = text::Trim(header.substr(kHandheldFrom));
    }
    for (std::size_t i = 1; i < lines.size(); ++i) {
        reply.Copy += lines[i] + kLineEnd;
    }
    reply.Body =
        EndsWithLineBreak(bytes) ? reply.Copy : reply.Copy.substr(0, reply.Copy.size() - 2);
    return reply;
}

std::string HandheldReplyText(const std::string& body) {
    std::string_view kept(body);
    if (kept.size() > kMaxReplyBytes) {
        kept = kept.substr(0, kMaxReplyBytes);
    }
    return text::DropLastGbkChars(kept, 2);
}

bool ReplyStatusOk(const std::string& handheldField, const std::string& handheldDec) {
    return text::Trim(handheldField) != text::Trim(handheldDec);
}

} // namespace relay
