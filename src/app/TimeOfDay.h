// The local time of day as the operator reads it in records and in the work-log file.
#pragma once

#include <chrono>
#include <ctime>
#include <string>

namespace app {

// "15:16:29", or "15:16:29.042" with milliseconds.
inline std::string TimeOfDay(std::chrono::system_clock::time_point t, bool millis = false) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(t);
    std::tm local{};
    localtime_r(&seconds, &local);
    char buffer[16];
    std::strftime(buffer, sizeof buffer, "%H:%M:%S", &local);
    std::string text = buffer;
    if (millis) {
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch());
        const int part = static_cast<int>(ms.count() % 1000);
        text += '.';
        text += static_cast<char>('0' + part / 100);
        text += static_cast<char>('0' + part / 10 % 10);
        text += static_cast<char>('0' + part % 10);
    }
    return text;
}

inline std::string TimeOfDayNow() {
    return TimeOfDay(std::chrono::system_clock::now());
}

} // namespace app
