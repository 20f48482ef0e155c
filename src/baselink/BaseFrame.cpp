#include "baselink/BaseFrame.h"

#include "baselink/xyTypeConv.h"

namespace BaseFrame {

using HexCodec::BytesToHex;
using HexCodec::ByteSum;
using HexCodec::HexSum16;
using HexCodec::TextCrc;
using HexCodec::ToHex;

std::string BuildReply(int operation, std::uint8_t baseByte, std::uint8_t handheld,
                       const std::string& text, const std::string& timeHex, bool success) {
    std::string f = "AA32" + ToHex(baseByte, 2) + ToHex(handheld, 2);
    f += ToHex(static_cast<std::int32_t>(text.size() + 10 + timeHex.size() / 2), 4);
    f += timeHex;
    f += ToHex(operation + kOperationBase, 2);
    f += ToHex(handheld, 2);
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

namespace {

RequestCheck Verdict(RequestVerdict verdict, std::size_t length) {
    RequestCheck check;
    check.Verdict = verdict;
    check.Length = length;
    return check;
}

std::size_t BodyLength(std::span<const std::uint8_t> b) {
    return b[kLengthOffset] * 256u + b[kLengthOffset + 1];
}

bool EndsWithTrailer(std::span<const std::uint8_t> b, std::size_t bodyLength) {
    const std::size_t trailer = kBodyOffset + bodyLength - kTrailerBytes;
    return bodyLength >= kTrailerBytes && b[trailer] == kTrailer[0] &&
           b[trailer + 1] == kTrailer[1];
}

bool SumMatches(std::span<const std::uint8_t> b, std::size_t bodyLength) {
    const std::size_t check = kBodyOffset + bodyLength;
    const int last = static_cast<int>(check) - 1;
    return ByteSum(b, static_cast<int>(kBodyOffset), last, 4) == b[check] * 256 + b[check + 1];
}

RequestFrame ReadFields(std::span<const std::uint8_t> b, std::size_t bodyLength) {
    RequestFrame f;
    f.BaseByte = b[kStationOffset];
    f.Handheld = b[kHandheldOffset];
    auto time = b.subspan(kTimeOffset, kTimeBytes);
    f.TimeHex = BytesToHex(std::string(time.begin(), time.end()));
    f.Operation = static_cast<int>(b[kOperationOffset]) - kOperationBase;
    auto data = b.subspan(kDataOffset, kBodyOffset + bodyLength - kTrailerBytes - kDataOffset);
    f.Data.assign(data.begin(), data.end());
    return f;
}

} // namespace

RequestCheck CheckRequest(std::span<const std::uint8_t> b) {
    if (b.size() < 2) {
        bool mayStart = b.empty() || b[kLeadOffset] == kLead;
        return Verdict(mayStart ? RequestVerdict::Incomplete : RequestVerdict::NotAFrame,
                       mayStart ? 2 : 0);
    }
    if (b[kLeadOffset] != kLead || b[kKindOffset] != kRequestKind) {
        return Verdict(RequestVerdict::NotAFrame, 0);
    }
    if (b.size() < kBodyOffset) {
        return Verdict(RequestVerdict::Incomplete, kBodyOffset);
    }
    const std::size_t bodyLength = BodyLength(b);
    const std::size_t frameLength = bodyLength + kEnvelopeBytes;
    if (b.size() < frameLength) {
        return Verdict(RequestVerdict::Incomplete, frameLength);
    }
    if (!EndsWithTrailer(b, bodyLength)) {
        return Verdict(RequestVerdict::BadTrailer, frameLength);
    }
    if (!SumMatches(b, bodyLength)) {
        return Verdict(RequestVerdict::BadSum, frameLength);
    }
    if (bodyLength < kMinRequestBody) {
        return Verdict(RequestVerdict::NoRequest, frameLength);
    }
    RequestCheck check = Verdict(RequestVerdict::Request, frameLength);
    check.Frame = ReadFields(b, bodyLength);
    return check;
}

} // namespace BaseFrame
