#include "baselink/BaseFrame.h"

#include "baselink/xyTypeConv.h"
#include "text/Decimal.h"
#include "text/Gbk.h"

namespace BaseFrame {

using HexCodec::BytesToHex;
using HexCodec::HexSum16;
using HexCodec::TextCrc;
using HexCodec::ToHex;

std::string BuildReply(int operation, const std::string& addressHex, const std::string& handheldDec,
                       const std::string& text, const std::string& timeHex, bool success) {
    std::string f = "AA32" + text::Trim(addressHex);
    f += ToHex(static_cast<std::int32_t>(text.size() + 10 + timeHex.size() / 2), 4);
    f += timeHex;
    f += ToHex(operation + kOperationBase, 2);
    f += ToHex(static_cast<std::int32_t>(text::ParseDecimal(handheldDec)), 2);
    f += success ? "4F4B" : "4E4F";
    std::string h4 = ToHex(static_cast<std::int32_t>(text.size()), 4);
    f += h4.substr(2, 2) + h4.substr(0, 2);
    std::string ht = BytesToHex(text);
    f += TextCrc(ht) + ht + "AABB";
    f += HexSum16(f.substr(12));
    return f;
}

std::string BuildRequest(std::uint8_t station, std::uint8_t handheld, const std::string& timeHex,
                         int operation, const std::string& data) {
    std::string body = timeHex + ToHex(operation + kOperationBase, 2) + BytesToHex(data) + "AABB";
    std::string f = "AA31" + ToHex(station, 2) + ToHex(handheld, 2) +
                    ToHex(static_cast<std::int32_t>(body.size() / 2), 4) + body;
    return f + HexSum16(body);
}

} // namespace BaseFrame
