#include "text/SystemReason.h"

#include "text/Gbk.h"

#include <cerrno>
#include <cstring>

namespace text {

namespace {

// The wording of glibc's simplified Chinese messages for the failures this program meets.
const char* ChineseReason(int errnum) {
    switch (errnum) {
    case EPERM:
        return "不允许的操作";
    case ENOENT:
        return "没有那个文件或目录";
    case EIO:
        return "输入/输出错误";
    case ENXIO:
        return "没有那个设备或地址";
    case EBADF:
        return "错误的文件描述符";
    case EAGAIN:
        return "资源暂时不可用";
    case ENOMEM:
        return "无法分配内存";
    case EACCES:
        return "权限不够";
    case EBUSY:
        return "设备或资源忙";
    case EEXIST:
        return "文件已存在";
    case ENODEV:
        return "没有那个设备";
    case ENOTDIR:
        return "不是目录";
    case EISDIR:
        return "是一个目录";
    case EINVAL:
        return "无效的参数";
    case ENFILE:
        return "系统中打开的文件过多";
    case EMFILE:
        return "打开的文件过多";
    case ENOTTY:
        return "对设备不适当的 ioctl 操作";
    case ETXTBSY:
        return "文本文件忙";
    case EFBIG:
        return "文件过大";
    case ENOSPC:
        return "设备上没有空间";
    case EROFS:
        return "只读文件系统";
    case EPIPE:
        return "断开的管道";
    case ENAMETOOLONG:
        return "文件名过长";
    case ENOTEMPTY:
        return "目录非空";
    case ELOOP:
        return "符号连接的层数过多";
    case ENOTSOCK:
        return "对非套接字进行套接字操作";
    case EPROTOTYPE:
        return "协议错误的套接字类型";
    case EADDRINUSE:
        return "地址已在使用";
    case ECONNRESET:
        return "连接被对方重置";
    case ECONNREFUSED:
        return "拒绝连接";
    case ETIMEDOUT:
        return "连接超时";
    case EDQUOT:
        return "超出磁盘限额";
    default:
        return nullptr;
    }
}

} // namespace

std::string SystemReason(int errnum) {
    if (const char* reason = ChineseReason(errnum)) {
        return Fixed(reason);
    }
    return Fixed("系统错误 ") + std::to_string(errnum) + " (" +
           SystemTextToGbk(std::strerror(errnum)) + ")";
}

std::string FileFailure(const char* what, const std::string& path, int errnum) {
    return ToGbk(what) + " " + SystemTextToGbk(path) + Fixed("：") + SystemReason(errnum);
}

} // namespace text
