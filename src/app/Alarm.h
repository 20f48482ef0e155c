// The operator's alarm: the host gone, base station 1 out (it carries the downloads and the scan
// waits for it), or a request waiting longer than 30 s. Judged from the status snapshot; its
// texts are GBK, for the tray, the main window and the work log.
#pragma once

#include "app/StatusSnapshot.h"

#include <string>

namespace app {

struct Alarm {
    bool hostGone = false;
    bool stationOneOut = false;
    bool stuck = false;

    bool Any() const { return hostGone || stationOneOut || stuck; }
    bool operator==(const Alarm& other) const = default;
};

Alarm AlarmOf(const RelaySnapshot& snapshot);
// The alarm the operator is shown, from the last two looks: station 1 counts as out only when
// it was out at the look before as well, so that the scan reopening its port after the
// parameter dialog (out for a moment) raises nothing.
Alarm Confirmed(const Alarm& seen, const Alarm& seenBefore);
// A cause that `before` did not have: a new alarm, worth a message of its own.
bool NewCause(const Alarm& before, const Alarm& now);
// Why, e.g. "主程序已不在运行；基站1未连接"; "" when there is no alarm.
std::string AlarmText(const Alarm& alarm);
// The work-log line of a change: "报警：" and why, or "报警解除，恢复正常".
std::string AlarmLogLine(const Alarm& alarm);

} // namespace app
