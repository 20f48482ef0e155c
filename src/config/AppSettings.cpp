#include "config/AppSettings.h"

#include "config/IniFile.h"
#include "text/Decimal.h"
#include "text/Files.h"
#include "text/Gbk.h"

#include <cstdio>

namespace config {

namespace {

// The dialog's number fields: digits only, far beyond any ID or number, and no overflow.
constexpr text::DecimalRule kNumberField{false, 0, 999999999};

constexpr int kMinDelay = 1;
constexpr int kMaxDelay = 200;

std::string Numbered(const char* key, int n) {
    return key + std::to_string(n);
}

} // namespace

const std::string& DefaultTestText() {
    return text::Fixed("PDA 数据通信测试");
}

std::string DefaultMenuDir(const std::string& programDir) {
    return text::FindNoCase(programDir, "txt") + "/";
}

void ApplyMenuDirDefault(AppSettings& s, const std::string& programDir) {
    if (text::Trim(s.MenuDir).empty()) {
        s.MenuDir = DefaultMenuDir(programDir);
    }
}

void LoadSettings(AppSettings& s, const std::string& iniPath,
                  const std::function<void()>& startWatcher) {
    const IniFile ini = IniFile::FromFile(iniPath);
    const char* menu = kSettingsSection;

    s.MenuDir = ini.ReadString(menu, "Path", s.MenuDir);
    s.ExchangeDir = ini.ReadString(menu, "WPath", s.ExchangeDir);

    const int delay = ini.ReadInteger(menu, "Delay", 0);
    if (delay >= kMinDelay && delay <= kMaxDelay) {
        s.DelaySetting = delay;
    }

    const bool wasMonitoring = s.FileMonitoring;
    s.FileMonitoring = ini.ReadBool(menu, "fileMode", s.FileMonitoring);
    if (!wasMonitoring && s.FileMonitoring && startWatcher) {
        startWatcher();
    }

    s.TestMode = ini.ReadBool(menu, "test", s.TestMode);

    for (int n = 1; n <= kStationCount; ++n) {
        s.PortName[n - 1] = ini.ReadString(menu, Numbered("COM", n), s.PortName[n - 1]);
    }
    for (int n = 1; n <= kStationCount; ++n) {
        s.BaseId[n - 1] = ini.ReadString(menu, Numbered("jzdz", n), s.BaseId[n - 1]);
    }

    s.TestText = ini.ReadString(menu, "testStr", s.TestText);
    if (text::Trim(s.TestText).empty()) {
        s.TestText = DefaultTestText();
    }
}

std::optional<unsigned long> DecimalDigitsValue(const std::string& text) {
    try {
        return static_cast<unsigned long>(text::ParseDecimal(text::Trim(text), kNumberField));
    } catch (const std::invalid_argument&) {
        return std::nullopt;
    }
}

std::optional<std::string> BaseIdHexText(const std::string& decimal) {
    if (text::Trim(decimal).empty()) {
        return std::string();
    }
    const auto value = DecimalDigitsValue(decimal);
    if (!value) {
        return std::nullopt;
    }
    char hex[32];
    std::snprintf(hex, sizeof hex, "%02lX", *value);
    return std::string(hex);
}

void SaveSettings(const std::string& iniPath, const SettingsFields& fields) {
    text::WriteFileAtomic(iniPath, SettingsFileAfterSave(iniPath, fields));
}

std::string SettingsFileAfterSave(const std::string& iniPath, const SettingsFields& f) {
    IniFile ini = IniFile::FromFileForUpdate(iniPath);
    const char* menu = kSettingsSection;

    ini.WriteString(menu, "Path", f.Directory);
    ini.WriteString(menu, "WPath", f.Directory);
    ini.WriteInteger(menu, "Delay", f.Delay);
    ini.WriteBool(menu, "filemode", f.FileMode);
    ini.WriteBool(menu, "test", f.TestMode);
    for (int n = 1; n <= kStationCount; ++n) {
        ini.WriteString(menu, Numbered("COM", n), f.PortName[n - 1]);
    }
    ini.WriteString(menu, "teststr", f.TestText);
    for (int n = 1; n <= kStationCount; ++n) {
        // A field that is no number keeps what the file holds.
        if (const auto hex = BaseIdHexText(f.BaseIdDecimal[n - 1])) {
            ini.WriteString(menu, Numbered("jzdz", n), *hex);
        }
    }
    return ini.Bytes();
}

} // namespace config
