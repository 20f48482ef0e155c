#include "app/HeadlessView.h"

#include "text/Gbk.h"

#include <cstdio>

namespace app {
namespace {

void ToStderr(const std::string& gbk) {
    std::string utf8 = text::ToUtf8(gbk) + "\n";
    std::fwrite(utf8.data(), 1, utf8.size(), stderr);
    std::fflush(stderr);
}

} // namespace

void HeadlessView::ShowMessage(const std::string& caption, const std::string& text) {
    ToStderr("[" + caption + "] " + text + " [OK]");
}

void HeadlessView::ShowError(const std::string& message) {
    ToStderr("[error] " + message + " [OK]");
}

bool HeadlessView::AskDownloadPrompt() {
    ToStderr("[" + text::Fixed("提示") + "] " + text::Fixed("现在将需要更新菜库的PDA开机,在此") +
             " " + text::Fixed("之前开机的,请重新开关机.") + " [" + text::Fixed("开始") + "]");
    return true;
}

} // namespace app
