#include "text/Decimal.h"

#include <stdexcept>

namespace text {

std::int64_t ParseDecimal(std::string_view text, const DecimalRule& rule) {
    auto fail = [text] {
        return std::invalid_argument("'" + std::string(text) + "' is not a valid integer value");
    };
    std::size_t i = 0;
    const bool negative = rule.signAllowed && !text.empty() && text[0] == '-';
    if (rule.signAllowed && !text.empty() && (text[0] == '+' || text[0] == '-')) {
        i = 1;
    }
    if (i == text.size()) {
        throw fail();
    }
    // The largest magnitude the sign allows: 2^63 for a negative value, 2^63 - 1 otherwise.
    const std::uint64_t limit =
        static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()) + (negative ? 1 : 0);
    std::uint64_t magnitude = 0;
    for (; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9') {
            throw fail();
        }
        const auto digit = static_cast<std::uint64_t>(text[i] - '0');
        if (magnitude > (limit - digit) / 10) {
            throw fail();
        }
        magnitude = magnitude * 10 + digit;
    }
    // Two's complement: 0 - magnitude is the negative value, also for 2^63.
    const auto value = static_cast<std::int64_t>(negative ? 0 - magnitude : magnitude);
    if (value < rule.min || value > rule.max) {
        throw fail();
    }
    return value;
}

std::string ZeroPadded(std::int64_t value, std::size_t digits) {
    const auto bits = static_cast<std::uint64_t>(value);
    std::string s = std::to_string(value < 0 ? 0 - bits : bits);
    if (s.size() < digits) {
        s.insert(0, digits - s.size(), '0');
    }
    return value < 0 ? "-" + s : s;
}

} // namespace text
