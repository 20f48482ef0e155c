#include "app/Alarm.h"

#include "text/Gbk.h"

#include <chrono>

namespace app {

Alarm AlarmOf(const RelaySnapshot& s) {
    Alarm alarm;
    alarm.hostGone = HostGone(s.host);
    alarm.stationOneOut = StationOut(s.stations[0]);
    alarm.stuck = s.host.oldestWaiting &&
                  s.host.oldestWaiting->ageMs >
                      std::chrono::duration_cast<std::chrono::milliseconds>(kStuckAfter).count();
    return alarm;
}

Alarm Confirmed(const Alarm& seen, const Alarm& seenBefore) {
    Alarm shown = seen;
    shown.stationOneOut = seen.stationOneOut && seenBefore.stationOneOut;
    return shown;
}

bool NewCause(const Alarm& before, const Alarm& now) {
    return (now.hostGone && !before.hostGone) || (now.stationOneOut && !before.stationOneOut) ||
           (now.stuck && !before.stuck);
}

std::string AlarmText(const Alarm& alarm) {
    std::string text;
    const auto add = [&text](const std::string& reason) {
        text += (text.empty() ? "" : text::Fixed("；")) + reason;
    };
    if (alarm.hostGone) {
        add(text::Fixed("主程序已不在运行"));
    }
    if (alarm.stationOneOut) {
        add(text::Fixed("基站1未连接"));
    }
    if (alarm.stuck) {
        add(text::Fixed("有请求等待主程序回复已超过") + std::to_string(kStuckAfter.count()) +
            text::Fixed("秒"));
    }
    return text;
}

std::string AlarmLogLine(const Alarm& alarm) {
    return alarm.Any() ? text::Fixed("报警：") + AlarmText(alarm)
                       : text::Fixed("报警解除，恢复正常");
}

} // namespace app
