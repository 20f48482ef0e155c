// Garbage as a noisy or hostile base station sends it, for tests and benchmarks of the receive
// pipeline.
#pragma once

#include <cstddef>
#include <string>

namespace testsupport {

// `size` bytes: every 509 bytes a request head that claims the longest body (AA 31 02 05 FF FF),
// random bytes between them.
std::string LinkNoise(std::size_t size, unsigned seed);

} // namespace testsupport
