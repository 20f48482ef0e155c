// Decimal numbers as text: reading them with the conversion error the operator sees, and writing
// them with leading zeros.
#pragma once

#include <cstdint>
#include <limits>
#include <string>
#include <string_view>

namespace text {

// What a caller accepts: digits only (no blanks anywhere), a leading '+' or '-' when signed, and
// a value from min to max.
struct DecimalRule {
    bool signAllowed = true;
    std::int64_t min = std::numeric_limits<std::int32_t>::min();
    std::int64_t max = std::numeric_limits<std::int32_t>::max();
};

// The value of `text` under `rule` (by default a signed 32-bit integer). Throws
// std::invalid_argument with the message "'<text>' is not a valid integer value" otherwise.
std::int64_t ParseDecimal(std::string_view text, const DecimalRule& rule = {});

// The value in decimal with leading zeros to at least `digits` digits (the sign comes first):
// ZeroPadded(5, 3) is "005", ZeroPadded(1234, 3) is "1234".
std::string ZeroPadded(std::int64_t value, std::size_t digits);

} // namespace text
