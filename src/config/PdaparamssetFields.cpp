#include "config/PdaparamssetFields.h"

#include "config/AppSettings.h"
#include "config/HandheldRegistry.h"
#include "config/IniFile.h"
#include "text/Decimal.h"
#include "text/Files.h"
#include "text/Gbk.h"

#include <algorithm>

namespace config {

namespace {

std::string ThreeDigits(unsigned long value) {
    return text::ZeroPadded(static_cast<std::int64_t>(value), 3);
}

std::string Numbered(const char* key, std::size_t n) {
    return key + std::to_string(n);
}

// The choice whose text equals `stored` without regard to case; "" when there is none.
std::string ChoiceNoCase(const std::vector<std::string>& choices, const std::string& stored) {
    for (const std::string& choice : choices) {
        if (text::EqualsNoCase(choice, stored)) {
            return choice;
        }
    }
    return std::string();
}

const std::string& kOverwriteWarning() {
    return text::Fixed("没有读入；现在保存会以对话框中的内容覆盖两个文件。");
}

std::string BadStoredId(std::size_t n, const std::string& value) {
    return text::Fixed("参数文件中基站") + std::to_string(n) + text::Fixed("的基站ID“") + value +
           text::Fixed("”不是有效的十六进制数，其后的设置和各基站的手持机号") + kOverwriteWarning();
}

std::string BadStoredHandheld(const std::string& section, const std::string& value) {
    return text::Fixed("基站.ini中“") + section + text::Fixed("”的手持机号“") + value +
           text::Fixed("”不是有效的数字，其后的手持机号") + kOverwriteWarning();
}

// The "Menu" section, in the dialog's order. Stops at a stored ID that is not hexadecimal and
// returns its report.
std::optional<std::string> ReadSettings(const IniFile& ini, ParamFields& f) {
    const char* menu = kSettingsSection;
    f.Directory = ini.ReadString(menu, "Path", f.Directory);
    f.TestText = ini.ReadString(menu, "teststr", f.TestText);
    f.Delay = std::clamp(ini.ReadInteger(menu, "Delay", f.Delay), kMinDialogDelay, kMaxDialogDelay);
    f.FileMode = ini.ReadBool(menu, "filemode", f.FileMode);
    f.TestMode = ini.ReadBool(menu, "test", f.TestMode);
    for (std::size_t n = 1; n <= kStationCount; ++n) {
        StationFields& station = f.Stations[n - 1];
        station.Port = ChoiceNoCase(f.PortChoices, ini.ReadString(menu, Numbered("COM", n), ""));
    }
    for (std::size_t n = 1; n <= kStationCount; ++n) {
        StationFields& station = f.Stations[n - 1];
        const std::string stored = ini.ReadString(menu, Numbered("jzdz", n), station.BaseIdDecimal);
        if (stored.empty()) {
            continue;
        }
        const auto value = ParseIniInteger("$" + stored);
        if (!value) {
            return BadStoredId(n, stored);
        }
        station.BaseIdDecimal = ThreeDigits(static_cast<unsigned long>(*value));
    }
    return std::nullopt;
}

// The first four sections fill the four lists. Stops at a stored number that is not a number and
// returns its report.
std::optional<std::string> ReadRegistry(const IniFile& ini, ParamFields& f) {
    const std::vector<std::string> sections = ini.Sections();
    const std::size_t count = std::min(sections.size(), static_cast<std::size_t>(kStationCount));
    for (std::size_t p = 0; p < count; ++p) {
        for (const std::string& key : ini.Keys(sections[p])) {
            const std::string stored = ini.ReadString(sections[p], key, "");
            if (stored.empty()) {
                continue;
            }
            const auto number = DecimalDigitsValue(stored);
            if (!number) {
                return BadStoredHandheld(sections[p], stored);
            }
            f.Stations[p].Handhelds.push_back(ThreeDigits(*number));
        }
    }
    return std::nullopt;
}

SettingsFields ToSettingsFields(const ParamFields& f) {
    SettingsFields s;
    s.Directory = f.Directory;
    s.Delay = std::clamp(f.Delay, kMinDialogDelay, kMaxDialogDelay);
    s.FileMode = f.FileMode;
    s.TestMode = f.TestMode;
    s.TestText = f.TestText;
    for (std::size_t i = 0; i < kStationCount; ++i) {
        s.PortName[i] = f.Stations[i].Port;
        s.BaseIdDecimal[i] = f.Stations[i].BaseIdDecimal;
    }
    return s;
}

// The first base-station ID field that holds something other than a number.
std::optional<OperatorMessage> CheckBaseIds(const ParamFields& f) {
    for (std::size_t i = 0; i < kStationCount; ++i) {
        const std::string& id = f.Stations[i].BaseIdDecimal;
        if (!BaseIdHexText(id)) {
            return OperatorMessage{MessageKind::Error,
                                   text::Fixed("基站") + std::to_string(i + 1) +
                                       text::Fixed("的基站ID“") + id +
                                       text::Fixed("”不是数字，参数没有保存。")};
        }
    }
    return std::nullopt;
}

} // namespace

ParamFiles ParamFilesOf(const std::string& programDir) {
    return {programDir + kSettingsFileName, programDir + kRegistryFileName};
}

OpenedParams OpenParams(const ParamFiles& files, const std::string& defaultDirectory,
                        std::vector<std::string> portChoices) {
    OpenedParams opened;
    opened.Fields.Directory = defaultDirectory;
    opened.Fields.PortChoices = std::move(portChoices);
    opened.Report = ReadSettings(IniFile::FromFile(files.Settings), opened.Fields);
    if (!opened.Report) {
        opened.Report = ReadRegistry(IniFile::FromFile(files.Registry), opened.Fields);
    }
    return opened;
}

AddResult AddHandheld(StationFields& station) {
    if (station.Port.empty()) {
        return AddResult::NoPort;
    }
    if (text::Trim(station.BaseIdDecimal).empty()) {
        return AddResult::NoBaseId;
    }
    if (text::Trim(station.HandheldNumber).empty()) {
        return AddResult::NoNumber;
    }
    const auto number = DecimalDigitsValue(station.HandheldNumber);
    if (!number) {
        return AddResult::NotANumber;
    }
    if (*number > kMaxHandheldNumber) {
        return AddResult::TooLarge;
    }
    std::string entry = ThreeDigits(*number);
    auto& list = station.Handhelds;
    if (std::find(list.begin(), list.end(), entry) != list.end()) {
        return AddResult::AlreadyListed;
    }
    list.push_back(std::move(entry));
    station.HandheldNumber.clear();
    return AddResult::Added;
}

std::optional<OperatorMessage> AddMessage(AddResult result, const StationFields& station) {
    switch (result) {
    case AddResult::NoPort:
        return OperatorMessage{MessageKind::Plain, text::Fixed("请选择串口")};
    case AddResult::NoBaseId:
        return OperatorMessage{MessageKind::Plain, text::Fixed("请设置基站ID")};
    case AddResult::TooLarge:
        return OperatorMessage{MessageKind::Plain, text::Fixed("手持机号不能大于191")};
    case AddResult::NotANumber:
        return OperatorMessage{MessageKind::Error, text::Fixed("“") + station.HandheldNumber +
                                                       text::Fixed("”不是有效的手持机号")};
    case AddResult::Added:
    case AddResult::NoNumber:
    case AddResult::AlreadyListed:
        break;
    }
    return std::nullopt;
}

OperatorMessage SaveParams(const ParamFields& fields, const ParamFiles& files) {
    if (auto refusal = CheckBaseIds(fields)) {
        return *refusal;
    }
    std::array<std::vector<std::string>, kStationCount> lists;
    for (std::size_t i = 0; i < kStationCount; ++i) {
        lists[i] = fields.Stations[i].Handhelds;
    }
    try {
        std::string settings = SettingsFileAfterSave(files.Settings, ToSettingsFields(fields));
        text::WriteFilesAtomic(
            {{files.Settings, std::move(settings)}, {files.Registry, RegistryFileBytes(lists)}});
    } catch (const text::FileError& e) {
        return {MessageKind::Error, text::Fixed("参数没有保存，两个文件保持原样：") + e.what()};
    }
    return {MessageKind::Plain, text::Fixed("参数设置完成")};
}

} // namespace config
