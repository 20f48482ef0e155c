// Names compared without regard to ASCII letter case. The texts are GBK bytes: a trail byte of a
// two-byte character may lie in the ASCII letter range, so only bytes that stand alone as a
// character are folded; two-byte characters compare exactly.
#pragma once

#include <string>
#include <string_view>

namespace config {

// The text with every stand-alone ASCII upper-case letter made lower case.
std::string FoldCase(std::string_view s);

bool EqualsNoCase(std::string_view a, std::string_view b);

struct LessNoCase {
    using is_transparent = void;
    bool operator()(std::string_view a, std::string_view b) const;
};

// Length in bytes of the GBK character that starts at s[i]: 2 for a lead byte 0x81..0xFE
// followed by a trail byte 0x40..0xFE (not 0x7F), else 1.
std::size_t GbkCharLength(std::string_view s, std::size_t i);

} // namespace config
