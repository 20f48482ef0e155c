// The frames of the base-station dialog Tfrm_baseSet, built as hex text, and its clock text.
// Pure functions of their arguments; the clock is read once by the caller (LocalNow).
#pragma once

#include <ctime>
#include <string>
#include <vector>

namespace admin {

// The computer's date and time as the dialog uses it.
struct LocalTime {
    int Year = 2000;
    int Month = 1;
    int Day = 1;
    int Weekday = 1; // 1 Monday .. 7 Sunday
    int Hour = 0;
    int Minute = 0;
    int Second = 0;
};

LocalTime LocalNow();
LocalTime LocalTimeOf(const std::tm& tm);

// AA 41 00 00 00 07, then second, minute, hour, day, weekday, month and year minus 2000, each
// as packed BCD, then the 16-bit sum of those seven bytes, big-endian.
std::string ClockFrame(const LocalTime& time);

// AA 40 00 00 00 02, the ID byte, the channel byte (channel number minus 1), then the 16-bit sum
// of the two, big-endian. id and channelByte must each fit one byte.
std::string ChannelFrame(int id, int channelByte);

// "2024年3月10日 星期7 8:5:9" in GBK: no leading zeros, weekday 1 Monday .. 7 Sunday.
std::string ClockText(const LocalTime& time);

// The channel list: "01" to "64"; entry i is channel i+1, sent as the channel byte i.
const std::vector<std::string>& ChannelChoices();

} // namespace admin
