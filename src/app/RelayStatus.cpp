#include "app/RelayStatus.h"

#include "text/Gbk.h"

namespace app {

std::string RelayStatusText(const RelayStatus& status) {
    return text::Fixed("基站应答 ") + std::to_string(status.stationsAnswering) + "/" +
           std::to_string(status.stationsConfigured) + text::Fixed("，") +
           text::Fixed(status.hostPresent ? "主机在线" : "主机未连接") +
           text::Fixed("，待答请求 ") + std::to_string(status.requestsWaiting);
}

std::string TrayToolTip(const RelayStatus& status) {
    return text::Fixed("无线点菜机管理：") + RelayStatusText(status);
}

} // namespace app
