// Time to load a registration file of 10,000 handheld entries (target: below 50 ms), and for
// comparison files of 1,000 and 5,000, so that a return to time quadratic in the entries shows.
#include "config/HandheldRegistry.h"
#include "text/Files.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace {

// The file SaveRegistry writes for `entries` handhelds spread over the four stations.
std::string RegistryFile(std::size_t entries) {
    std::array<std::vector<std::string>, kStationCount> handhelds;
    for (std::size_t i = 0; i < entries; ++i) {
        handhelds[i % kStationCount].push_back(std::to_string(i));
    }
    return config::RegistryFileBytes(handhelds);
}

double LoadMilliseconds(const std::string& path, const config::AppSettings& settings) {
    config::HandheldRegistry registry;
    const auto start = std::chrono::steady_clock::now();
    config::LoadRegistry(registry, path, settings, nullptr);
    const auto end = std::chrono::steady_clock::now();
    return std::chrono::duration<double, std::milli>(end - start).count();
}

} // namespace

int main() {
    const std::string dir = std::filesystem::temp_directory_path() / "dcrelay-bench-registry";
    std::filesystem::create_directories(dir);
    const std::string path = dir + "/registry.ini";
    config::AppSettings settings;
    settings.BaseId = {"01", "02", "03", "04"};
    for (const std::size_t entries : {1000, 5000, 10000}) {
        text::WriteFileAtomic(path, RegistryFile(entries));
        double best = 1e9;
        for (int run = 0; run < 5; ++run) {
            best = std::min(best, LoadMilliseconds(path, settings));
        }
        std::printf("registry of %5zu entries: loaded in %.2f ms (best of 5)\n", entries, best);
    }
    std::filesystem::remove_all(dir);
    return 0;
}
