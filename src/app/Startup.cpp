#include "app/Startup.h"

#include "text/Files.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <limits>
#include <stdexcept>
#include <unistd.h>

namespace app {

std::string ProgramDirectory(const std::string& argv0) {
    std::string path = argv0;
    if (path.find('/') == std::string::npos) {
        char buffer[4096];
        ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
        path = n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string("./x");
    } else if (path[0] != '/') {
        char cwd[4096];
        if (::getcwd(cwd, sizeof cwd) != nullptr) {
            path = std::string(cwd) + "/" + path;
        }
    }
    return text::DirName(path);
}

Markers ReadMarkers(const std::string& programDir) {
    Markers m;
    m.DebugLogging = text::FileExists(programDir + "debug.txt");
    m.StandaloneDebug = text::FileExists(programDir + "debug2.txt");
    return m;
}

RunMode ChooseRunMode(const Markers& markers, int argumentCount) {
    if (markers.StandaloneDebug) {
        return RunMode::StandaloneDebug;
    }
    return argumentCount >= 1 ? RunMode::StartedByHost : RunMode::Neither;
}

unsigned ParseHostHandle(const std::string& argument) {
    // A decimal integer with an optional sign, as a 32-bit value; the handle keeps its bits.
    const char* begin = argument.c_str();
    char* end = nullptr;
    errno = 0;
    long long value = std::strtoll(begin, &end, 10);
    bool digits =
        end != begin && *end == '\0' && argument.find_first_of(" \t\r\n") == std::string::npos;
    if (!digits || errno == ERANGE || value < std::numeric_limits<int>::min() ||
        value > static_cast<long long>(std::numeric_limits<unsigned>::max())) {
        throw std::invalid_argument("'" + argument + "' is not a valid integer value");
    }
    return static_cast<unsigned>(value);
}

} // namespace app
