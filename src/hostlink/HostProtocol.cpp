#include "hostlink/HostProtocol.h"

namespace hostlink {
namespace {

void PutUint32(unsigned char* out, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        out[i] = static_cast<unsigned char>(value >> (8 * i));
    }
}

std::uint32_t GetUint32(const unsigned char* in) {
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i) {
        value = (value << 8) | in[i];
    }
    return value;
}

} // namespace

Datagram EncodeMessage(const HostMessage& message) {
    Datagram d{};
    PutUint32(d.data(), kHostMessage);
    PutUint32(d.data() + 4, message.first);
    PutUint32(d.data() + 8, static_cast<std::uint32_t>(message.second));
    return d;
}

std::optional<HostMessage> DecodeMessage(const unsigned char* data, std::size_t size) {
    if (size != kDatagramSize || GetUint32(data) != kHostMessage) {
        return std::nullopt;
    }
    HostMessage m;
    m.first = GetUint32(data + 4);
    m.second = static_cast<std::int32_t>(GetUint32(data + 8));
    return m;
}

HostCode ClassifyHostCode(std::int32_t code) {
    if (code <= 0 || code > kLargestReplyCode) {
        return HostCode::Invalid;
    }
    switch (code) {
    case 11:
        return HostCode::NoOperation;
    case 12:
        return HostCode::ShowWindow;
    case 13:
    case 16:
        return HostCode::HostCloses;
    default:
        return HostCode::HandleOrReply;
    }
}

} // namespace hostlink
