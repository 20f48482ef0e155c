#include "hostlink/RuntimeDir.h"

#include "text/Gbk.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace hostlink {
namespace {

std::string Env(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? std::string(value) : std::string();
}

std::string WithoutFinalSlash(std::string path) {
    while (path.size() > 1 && path.back() == '/') {
        path.pop_back();
    }
    return path;
}

std::string Refusal(const std::string& path, const std::string& why) {
    return text::Fixed("主程序通信目录[") + text::SystemTextToGbk(path) +
           text::Fixed("]不可用,不与主程序通信:") + why;
}

} // namespace

std::string RuntimeDirPath() {
    std::string own = Env("DCRELAY_RUNTIME_DIR");
    if (!own.empty()) {
        return WithoutFinalSlash(own);
    }
    std::string xdg = Env("XDG_RUNTIME_DIR");
    if (!xdg.empty()) {
        return WithoutFinalSlash(xdg) + "/dcrelay";
    }
    return "/tmp/dcrelay-" + std::to_string(::getuid());
}

RuntimeDirResult PrepareRuntimeDir(const std::string& path) {
    RuntimeDirResult result;
    result.path = path;
    if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
        result.reason = Refusal(path, text::Fixed("无法创建 ") + std::strerror(errno));
        return result;
    }
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        result.reason = Refusal(path, text::Fixed("不是目录"));
        return result;
    }
    if (st.st_uid != ::geteuid()) {
        result.reason = Refusal(path, text::Fixed("属于其他用户"));
        return result;
    }
    if ((st.st_mode & 077) != 0) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
        result.reason = Refusal(path, text::Fixed("其他用户可以访问(权限 ") + mode + ")");
        return result;
    }
    result.ok = true;
    return result;
}

} // namespace hostlink
