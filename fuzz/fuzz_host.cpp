// Host messages: any datagram decodes to nothing or to a message that encodes back to the same
// 12 bytes, and every code has one meaning.
#include "FuzzSupport.h"
#include "hostlink/HostProtocol.h"

#include <algorithm>
#include <cstdint>

using namespace hostlink;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::optional<HostMessage> message = DecodeMessage(data, size);
    FUZZ_CHECK(!message || size == kDatagramSize);
    if (!message) {
        return 0;
    }
    const Datagram again = EncodeMessage(*message);
    FUZZ_CHECK(std::equal(again.begin(), again.end(), data));
    const HostCode code = ClassifyHostCode(message->second);
    const bool inRange = message->second > 0 && message->second <= kLargestReplyCode;
    FUZZ_CHECK((code == HostCode::Invalid) == !inRange);
    return 0;
}
