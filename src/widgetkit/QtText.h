// GBK byte text shown in widgets: converted to UTF-8 for display only, never back.
#pragma once

#include "text/Gbk.h"

#include <QString>
#include <string_view>

namespace widgetkit {

inline QString FromGbk(std::string_view gbk) {
    return QString::fromStdString(text::ToUtf8(gbk));
}

} // namespace widgetkit
