#include "hostlink/RuntimeDir.h"

#include "text/Gbk.h"
#include "text/SystemReason.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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

std::string Shown(const std::string& path) {
    return "[" + text::SystemTextToGbk(path) + "]";
}

RuntimeDirResult Refused(const std::string& path, const std::string& what,
                         const std::string& remedy) {
    RuntimeDirResult result;
    result.path = path;
    result.reason = text::Fixed("主程序通信目录") + Shown(path) + what;
    result.remedy = remedy;
    return result;
}

// Another directory of this user's own, for when the refused one cannot be mended.
const std::string& OwnDirectoryHint() {
    return text::Fixed("或设置环境变量 DCRELAY_RUNTIME_DIR 为本用户自己的目录");
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
    const std::string shown = text::SystemTextToGbk(path);
    if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
        const int error = errno;
        return Refused(path, text::Fixed("无法创建:") + text::SystemReason(error),
                       text::Fixed("请检查其上级目录是否存在、是否可写,") + OwnDirectoryHint());
    }
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) {
        const int error = errno;
        return Refused(path, text::Fixed("无法访问:") + text::SystemReason(error),
                       text::Fixed("请检查其上级目录,") + OwnDirectoryHint());
    }
    if (S_ISLNK(st.st_mode)) {
        return Refused(path, text::Fixed("是符号链接,可能指向他人的目录"),
                       text::Fixed("请删除该链接(rm ") + shown +
                           text::Fixed("),程序启动时会重新建立该目录"));
    }
    if (!S_ISDIR(st.st_mode)) {
        return Refused(path, text::Fixed("不是目录"),
                       text::Fixed("请删除或移走该文件(") + shown +
                           text::Fixed("),程序启动时会重新建立该目录"));
    }
    if (st.st_uid != ::geteuid()) {
        return Refused(path, text::Fixed("属于其他用户(uid ") + std::to_string(st.st_uid) + ")",
                       text::Fixed("请由该用户运行本程序,或删除该目录后重新启动,") +
                           OwnDirectoryHint());
    }
    if ((st.st_mode & 077) != 0) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
        return Refused(path, text::Fixed("其他用户可以访问(权限 ") + mode + ")",
                       text::Fixed("请执行 chmod 700 ") + shown + text::Fixed(" 后重新启动"));
    }
    RuntimeDirResult result;
    result.ok = true;
    result.path = path;
    return result;
}

std::string CannotRunMessage(const std::string& reason, const std::string& remedy) {
    return reason + text::Fixed(",程序不能运行。") + remedy + text::Fixed("。");
}

} // namespace hostlink
