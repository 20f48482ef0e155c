// The relay's state in one line, for the tray icon's tip (and whatever else sums the relay up
// for the operator). The controller fills RelayStatus; the texts are made here only.
#pragma once

#include <cstddef>
#include <string>

namespace app {

struct RelayStatus {
    int stationsAnswering = 0;       // base stations whose last query was answered
    int stationsConfigured = 0;      // slots with a serial port in the parameter file
    bool hostPresent = false;        // the host's window exists
    std::size_t requestsWaiting = 0; // requests not yet answered by the host
};

// "基站应答 1/2，主机在线，待答请求 0" (GBK).
std::string RelayStatusText(const RelayStatus& status);
// "无线点菜机管理：" and the status line (GBK); the tray keeps its first 62 characters.
std::string TrayToolTip(const RelayStatus& status);

} // namespace app
