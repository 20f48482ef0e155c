// The system's reason for a failure (an errno value) as the operator reads it: Chinese GBK text,
// whatever the session's locale. Every message and work-log line that carries a system reason
// takes it from here.
#pragma once

#include <string>

namespace text {

// "设备上没有空间" for ENOSPC, and so on; a value without a text of its own reads
// "系统错误 <n>" followed by the system's own wording in parentheses.
std::string SystemReason(int errnum);

// "<what> <path>：<reason>", e.g. FileFailure("无法写入", path, ENOSPC). what is fixed UTF-8
// text, path a file system path (UTF-8); the result is GBK.
std::string FileFailure(const char* what, const std::string& path, int errnum);

} // namespace text
