#include "baselink/xyTypeConv.h"

#include "text/Gbk.h"

#include <algorithm>

namespace HexCodec {
namespace {

const char kDigits[] = "0123456789ABCDEF";

// Reduces a running sum to the width's modulus; other widths are not reduced.
std::int64_t Reduce(std::int64_t sum, int width) {
    switch (width) {
    case 2:
        return sum % 0x100;
    case 4:
        return sum % 0x10000;
    case 6:
        return sum % 0x1000000;
    default:
        return sum;
    }
}

std::string NotHex(const std::string& hex) {
    return "'$" + hex + "' is not a valid integer value";
}

} // namespace

std::string BytesToHex(const std::string& bytes) {
    std::string hex;
    hex.reserve(bytes.size() * 2);
    for (unsigned char b : bytes) {
        hex += kDigits[b >> 4];
        hex += kDigits[b & 0x0F];
    }
    return hex;
}

std::string BytesToHex(const TByteArr& bytes) {
    return BytesToHex(std::string(bytes.begin(), bytes.end()));
}

bool HexToBytes(const std::string& hex, TArrayChar& dest, std::size_t capacity) {
    std::size_t count = std::min(hex.size() / 2, capacity);
    if (count == 0) {
        return false;
    }
    if (dest.size() < count) {
        dest.resize(count);
    }
    std::fill(dest.begin(), dest.begin() + static_cast<std::ptrdiff_t>(count), 0);
    for (std::size_t i = 0; i < count; ++i) {
        int hi = text::HexDigitValue(hex[2 * i]);
        int lo = text::HexDigitValue(hex[2 * i + 1]);
        if (hi < 0 || lo < 0) {
            break;
        }
        dest[i] = static_cast<std::uint8_t>(hi * 16 + lo);
    }
    return true;
}

std::string HexToText(const std::string& hex) {
    TArrayChar buffer(hex.size() / 2);
    HexToBytes(hex, buffer, buffer.size());
    return std::string(buffer.begin(), buffer.end());
}

std::string ToHex(std::int32_t value, int minDigits) {
    auto v = static_cast<std::uint32_t>(value);
    std::string hex;
    do {
        hex.insert(hex.begin(), kDigits[v & 0x0F]);
        v >>= 4;
    } while (v != 0);
    if (static_cast<int>(hex.size()) < minDigits) {
        hex.insert(0, static_cast<std::size_t>(minDigits) - hex.size(), '0');
    }
    return hex;
}

std::int64_t HexByteToInt(const std::string& hex) {
    // Read as a "$"-prefixed integer: at most 8 digits, a 32-bit value.
    if (hex.empty() || hex.size() > 8) {
        throw EConvertError(NotHex(hex));
    }
    std::int64_t value = 0;
    for (char c : hex) {
        int d = text::HexDigitValue(c);
        if (d < 0) {
            throw EConvertError(NotHex(hex));
        }
        value = value * 16 + d;
    }
    return value;
}

std::string HexSum16(const std::string& hex) {
    std::int64_t sum = 0;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        sum = (sum + HexByteToInt(hex.substr(i, 2))) % 0x10000;
    }
    return ToHex(static_cast<std::int32_t>(sum), 4);
}

std::string HexSum(const std::string& hex, int width) {
    TArrayChar bytes(hex.size() / 2);
    HexToBytes(hex, bytes, bytes.size());
    std::int64_t sum = ByteSum(bytes, 0, static_cast<int>(bytes.size()) - 1, width);
    return ToHex(static_cast<std::int32_t>(sum), width);
}

std::int64_t ByteSum(std::span<const std::uint8_t> bytes, int first, int last, int width) {
    std::int64_t sum = 0;
    for (int i = first; i <= last; ++i) {
        sum = Reduce(sum + bytes[static_cast<std::size_t>(i)], width);
    }
    return sum;
}

std::string TextCrc(const std::string& text) {
    std::uint32_t crc = 0xFFFF;
    for (std::size_t i = 0; i + 1 < text.size(); ++i) {
        crc ^= static_cast<unsigned char>(text[i]);
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 1) ? (crc >> 1) ^ 0xA001 : crc >> 1;
        }
    }
    return ToHex(static_cast<std::int32_t>(crc), 4);
}

} // namespace HexCodec
