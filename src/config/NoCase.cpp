#include "config/NoCase.h"

namespace config {

std::size_t GbkCharLength(std::string_view s, std::size_t i) {
    const auto lead = static_cast<unsigned char>(s[i]);
    if (lead >= 0x81 && lead <= 0xFE && i + 1 < s.size()) {
        const auto trail = static_cast<unsigned char>(s[i + 1]);
        if (trail >= 0x40 && trail <= 0xFE && trail != 0x7F) {
            return 2;
        }
    }
    return 1;
}

std::string FoldCase(std::string_view s) {
    std::string folded(s);
    std::size_t i = 0;
    while (i < folded.size()) {
        const std::size_t length = GbkCharLength(folded, i);
        if (length == 1 && folded[i] >= 'A' && folded[i] <= 'Z') {
            folded[i] = static_cast<char>(folded[i] - 'A' + 'a');
        }
        i += length;
    }
    return folded;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && FoldCase(a) == FoldCase(b);
}

bool LessNoCase::operator()(std::string_view a, std::string_view b) const {
    return FoldCase(a) < FoldCase(b);
}

} // namespace config
