#include "admin/BasesetFrames.h"

#include "baselink/xyTypeConv.h"
#include "text/Decimal.h"
#include "text/Gbk.h"

#include <cstdio>
#include <ctime>

namespace admin {

namespace {

constexpr int kChannelCount = 64;

std::string TwoDigits(int value) {
    return text::ZeroPadded(value, 2);
}

// One clock field as a byte whose two hex digits are the field's two decimal digits.
std::string Bcd(int value) {
    return TwoDigits(value % 100);
}

} // namespace

LocalTime LocalNow() {
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    ::localtime_r(&now, &tm);
    return LocalTimeOf(tm);
}

LocalTime LocalTimeOf(const std::tm& tm) {
    const int weekday = tm.tm_wday == 0 ? 7 : tm.tm_wday; // tm counts from Sunday = 0
    return {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, weekday,
            tm.tm_hour,        tm.tm_min,     tm.tm_sec};
}

std::string ClockFrame(const LocalTime& t) {
    const std::string data = Bcd(t.Second) + Bcd(t.Minute) + Bcd(t.Hour) + Bcd(t.Day) +
                             Bcd(t.Weekday) + Bcd(t.Month) + Bcd(t.Year - 2000);
    return "AA4100000007" + data + HexCodec::HexSum(data, 4);
}

std::string ChannelFrame(int id, int channelByte) {
    const std::string data = HexCodec::ToHex(id, 2) + HexCodec::ToHex(channelByte, 2);
    return "AA4000000002" + data + HexCodec::HexSum(data, 4);
}

std::string ClockText(const LocalTime& t) {
    char text[96];
    std::snprintf(text, sizeof text, "%d年%d月%d日 星期%d %d:%d:%d", t.Year, t.Month, t.Day,
                  t.Weekday, t.Hour, t.Minute, t.Second);
    return text::ToGbk(text);
}

const std::vector<std::string>& ChannelChoices() {
    static const std::vector<std::string> kChoices = [] {
        std::vector<std::string> choices;
        for (int channel = 1; channel <= kChannelCount; ++channel) {
            choices.push_back(TwoDigits(channel));
        }
        return choices;
    }();
    return kChoices;
}

} // namespace admin
