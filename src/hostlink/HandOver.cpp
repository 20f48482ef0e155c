#include "hostlink/HandOver.h"

#include "text/Decimal.h"

#include <limits>
#include <stdexcept>

namespace hostlink {
namespace {

const std::string kVerb = "handover ";

} // namespace

std::string HandOverMessage(unsigned handle) {
    return kVerb + std::to_string(handle);
}

std::optional<unsigned> ParseHandOver(const std::string& message) {
    if (message.rfind(kVerb, 0) != 0) {
        return std::nullopt;
    }
    try {
        return static_cast<unsigned>(
            text::ParseDecimal(std::string_view(message).substr(kVerb.size()),
                               {false, 0, std::numeric_limits<std::uint32_t>::max()}));
    } catch (const std::invalid_argument&) {
        return std::nullopt;
    }
}

} // namespace hostlink
