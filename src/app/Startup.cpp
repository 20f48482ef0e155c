#include "app/Startup.h"

#include "text/Decimal.h"
#include "text/Files.h"
#include "text/Gbk.h"

#include <limits>
#include <sys/stat.h>
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
    // A signed or unsigned 32-bit decimal; the handle keeps its bits.
    const text::DecimalRule rule{true, std::numeric_limits<std::int32_t>::min(),
                                 std::numeric_limits<std::uint32_t>::max()};
    try {
        return static_cast<unsigned>(text::ParseDecimal(argument, rule));
    } catch (const std::invalid_argument&) {
        throw std::invalid_argument(text::Fixed("主程序句柄“") + text::SystemTextToGbk(argument) +
                                    text::Fixed("”不是十进制整数，无法与餐饮软件通信。"));
    }
}

std::optional<std::string> NoBusAutolaunch(const char* busAddress, const char* xdgRuntimeDir) {
    if (busAddress != nullptr && *busAddress != '\0') {
        return std::nullopt;
    }
    struct stat st {};
    if (xdgRuntimeDir != nullptr && *xdgRuntimeDir != '\0' &&
        ::stat((std::string(xdgRuntimeDir) + "/bus").c_str(), &st) == 0 && S_ISSOCK(st.st_mode)) {
        return std::nullopt;
    }
    return std::string("disabled:");
}

} // namespace app
