// The hex codec and frame building: conversions agree with each other, and every frame built
// from any texts either is refused or carries lengths and check values that match its bytes.
#include "FuzzSupport.h"
#include "baselink/BaseFrame.h"
#include "baselink/xyTypeConv.h"
#include "text/Decimal.h"
#include "text/Gbk.h"

#include <cstdlib>
#include <fuzzer/FuzzedDataProvider.h>
#include <stdexcept>

using namespace HexCodec;

namespace {

bool IsUpperHex(const std::string& s) {
    return s.find_first_not_of("0123456789ABCDEF") == std::string::npos;
}

void CheckConversions(const std::string& s, FuzzedDataProvider& in) {
    const std::string hex = BytesToHex(s);
    FUZZ_CHECK(hex.size() == 2 * s.size() && IsUpperHex(hex) && HexToText(hex) == s);
    FUZZ_CHECK(HexToText(s).size() == s.size() / 2);

    TArrayChar dest(in.ConsumeIntegralInRange<std::size_t>(0, 8), 0x55);
    const std::size_t capacity = in.ConsumeIntegralInRange<std::size_t>(0, 64);
    const std::size_t count = std::min(s.size() / 2, capacity);
    FUZZ_CHECK(HexToBytes(s, dest, capacity) == (count > 0));
    FUZZ_CHECK(count == 0 || dest.size() >= count);

    try {
        const std::int64_t value = HexByteToInt(s);
        FUZZ_CHECK(s.size() <= 8 && value == std::strtoll(s.c_str(), nullptr, 16));
    } catch (const EConvertError&) {
    }
    try {
        const std::string sum = HexSum16(s);
        FUZZ_CHECK(sum.size() == 4 && sum == HexSum(s, 4));
    } catch (const EConvertError&) {
    }
    const int width = in.ConsumeIntegralInRange(1, 8);
    FUZZ_CHECK(HexSum(s, width).size() >= static_cast<std::size_t>(width));
    FUZZ_CHECK(TextCrc(s).size() == 4 && IsUpperHex(TextCrc(s)));
    const std::int32_t number = in.ConsumeIntegral<std::int32_t>();
    const int digits = in.ConsumeIntegralInRange(0, 12);
    const std::string numberHex = ToHex(number, digits);
    FUZZ_CHECK(IsUpperHex(numberHex) && numberHex.size() >= static_cast<std::size_t>(digits));
    FUZZ_CHECK(std::strtoull(numberHex.c_str(), nullptr, 16) == static_cast<std::uint32_t>(number));
}

// Frame bytes as the base station reads them: big-endian numbers, the body between head and sum.
unsigned Word(const std::string& f, std::size_t at) {
    return static_cast<unsigned char>(f[at]) * 256u + static_cast<unsigned char>(f[at + 1]);
}

void CheckEnvelope(const std::string& frameHex, char kind) {
    FUZZ_CHECK(frameHex.size() % 2 == 0 && IsUpperHex(frameHex));
    const std::string f = HexToText(frameHex);
    FUZZ_CHECK(f.size() >= BaseFrame::kEnvelopeBytes + 2);
    FUZZ_CHECK(static_cast<unsigned char>(f[0]) == 0xAA && f[1] == kind);
    const std::size_t body = Word(f, 4);
    FUZZ_CHECK(f.size() == body + BaseFrame::kEnvelopeBytes);
    FUZZ_CHECK(f.substr(body + 4, 2) == "\xAA\xBB");
    const TByteArr bytes(f.begin(), f.end());
    FUZZ_CHECK(ByteSum(bytes, 6, static_cast<int>(body) + 5, 4) == Word(f, body + 6));
}

void CheckReply(FuzzedDataProvider& in) {
    const int operation = in.ConsumeIntegralInRange(0, 36);
    const std::uint8_t station = in.ConsumeIntegral<std::uint8_t>();
    const std::uint8_t handheld = in.ConsumeIntegral<std::uint8_t>();
    const std::string timeHex = BytesToHex(in.ConsumeBytesAsString(6));
    const bool success = in.ConsumeBool();
    const std::string text = in.ConsumeRandomLengthString(1024);
    const std::string frame =
        BaseFrame::BuildReply(operation, station, handheld, text, timeHex, success);
    if (timeHex.size() != 12) {
        return;
    }
    CheckEnvelope(frame, 0x32);
    const std::string f = HexToText(frame);
    FUZZ_CHECK(static_cast<unsigned char>(f[2]) == station);
    FUZZ_CHECK(static_cast<unsigned char>(f[3]) == handheld);
    FUZZ_CHECK(static_cast<unsigned char>(f[13]) == handheld);
    FUZZ_CHECK(Word(f, 4) == text.size() + 16);
    FUZZ_CHECK(static_cast<unsigned char>(f[12]) == operation + BaseFrame::kOperationBase);
    FUZZ_CHECK(f.substr(14, 2) == (success ? "OK" : "NO"));
    FUZZ_CHECK(f.substr(20, text.size()) == text);
}

void CheckRequest(FuzzedDataProvider& in) {
    const std::uint8_t station = in.ConsumeIntegral<std::uint8_t>();
    const std::uint8_t handheld = in.ConsumeIntegral<std::uint8_t>();
    const std::string timeHex = BytesToHex(in.ConsumeBytesAsString(6));
    const int operation = in.ConsumeIntegralInRange(0, 36);
    const std::string data = in.ConsumeRandomLengthString(2048);
    if (timeHex.size() != 12) {
        return;
    }
    const std::string frame = BaseFrame::BuildRequest(station, handheld, timeHex, operation, data);
    CheckEnvelope(frame, 0x31);
    FUZZ_CHECK(HexToText(frame).substr(13, data.size()) == data);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    const std::string s = in.ConsumeRandomLengthString(512);
    CheckConversions(s, in);
    try {
        const std::int64_t value = text::ParseDecimal(s);
        FUZZ_CHECK(std::to_string(value) == std::to_string(std::strtol(s.c_str(), nullptr, 10)));
    } catch (const std::invalid_argument&) {
    }
    CheckReply(in);
    CheckRequest(in);
    return 0;
}
