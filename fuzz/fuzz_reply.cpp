// The host's reply file: any bytes parse; a recognised reply gives a handheld text that fits the
// reply frame, never ends in half a character, and shows on screen.
#include "FuzzSupport.h"
#include "baselink/BaseFrame.h"
#include "baselink/xyTypeConv.h"
#include "relay/OperationNames.h"
#include "relay/ReplyFile.h"
#include "text/Gbk.h"

#include <cstdint>

namespace {

// True when n bytes of s end between two characters (a lead byte 0x81..0xFE and a trail byte
// 0x40..0xFE other than 0x7F are one character).
bool IsCharBoundary(const std::string& s, std::size_t n) {
    std::size_t i = 0;
    while (i < n) {
        const auto lead = static_cast<unsigned char>(s[i]);
        const auto trail = i + 1 < s.size() ? static_cast<unsigned char>(s[i + 1]) : 0;
        const bool pair =
            lead >= 0x81 && lead <= 0xFE && trail >= 0x40 && trail <= 0xFE && trail != 0x7F;
        i += pair ? 2 : 1;
    }
    return i == n;
}

void CheckRecognised(const relay::ReplyFile& reply) {
    FUZZ_CHECK(relay::IsKnownOperation(reply.Operation));
    FUZZ_CHECK(reply.Copy.starts_with(reply.Body));
    FUZZ_CHECK(reply.Copy.ends_with("\r\n"));
    const std::string text = relay::HandheldReplyText(reply.Body);
    FUZZ_CHECK(text.size() <= relay::kMaxReplyBytes && reply.Body.starts_with(text));
    FUZZ_CHECK(IsCharBoundary(reply.Body, text.size()));
    const bool ok = relay::ReplyStatusOk(reply.HandheldField, 5);
    const std::string frame = HexCodec::HexToText(
        BaseFrame::BuildReply(reply.Operation, 0x01, 5, text, "000000000000", ok));
    FUZZ_CHECK(frame.size() == text.size() + 24 && frame.substr(20, text.size()) == text);
    FUZZ_CHECK(!text::ToUtf8(text).empty() || text.empty());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const relay::ReplyFile reply = relay::ParseReplyFile(bytes);
    if (reply.Recognised) {
        CheckRecognised(reply);
    } else {
        FUZZ_CHECK(reply.Body.empty() && reply.Copy.empty());
    }
    return 0;
}
