// HexCodec: conversions between byte strings, hex text and numbers, and the check values of the
// base-station link. Frames are built, compared and logged as hex text and become bytes only when
// handed to a port. Pure functions; no state.
#pragma once

#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace HexCodec {

using TArrayChar = std::vector<std::uint8_t>;
using TByteArr = TArrayChar;

// Raised by HexByteToInt and HexSum16 for text that is not a hex number.
struct EConvertError : std::invalid_argument {
    using std::invalid_argument::invalid_argument;
};

std::string BytesToHex(const std::string& bytes);
std::string BytesToHex(const TByteArr& bytes);

// Decodes min(len/2, capacity) bytes into dest (resized to at least that); stops at the first pair
// that is not hex, leaving that byte and the rest 0. False (dest untouched) when nothing fits.
bool HexToBytes(const std::string& hex, TArrayChar& dest, std::size_t capacity);

// All len/2 bytes of the hex text, zeros after an early stop included.
std::string HexToText(const std::string& hex);

// Upper-case hex of value, at least minDigits digits; negative values as 32-bit two's complement.
std::string ToHex(std::int32_t value, int minDigits);

// The value of one or more hex digits. Throws EConvertError.
std::int64_t HexByteToInt(const std::string& hex);

// 16-bit sum of the complete pairs, 4 digits. Throws EConvertError on a pair that is not hex.
std::string HexSum16(const std::string& hex);

// Sum of the decoded bytes reduced per step to width 2, 4 or 6 digits; at least `width` digits.
std::string HexSum(const std::string& hex, int width);

// Sum of bytes[first..last] reduced as HexSum does; 0 when last < first.
std::int64_t ByteSum(std::span<const std::uint8_t> bytes, int first, int last, int width);

// CRC-16/MODBUS of every byte but the last, 4 digits high byte first; FFFF for 0 or 1 byte.
std::string TextCrc(const std::string& text);

} // namespace HexCodec
