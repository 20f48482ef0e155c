#include "support/LinkNoise.h"

#include <random>

namespace testsupport {

std::string LinkNoise(std::size_t size, unsigned seed) {
    static const std::string kHead("\xAA\x31\x02\x05\xFF\xFF", 6);
    std::mt19937 rng(seed);
    std::string noise;
    noise.reserve(size);
    while (noise.size() < size) {
        noise += noise.size() % 509 == 0 ? kHead : std::string(1, static_cast<char>(rng()));
    }
    noise.resize(size);
    return noise;
}

} // namespace testsupport
