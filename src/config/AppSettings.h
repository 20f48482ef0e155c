// The parameter file and its in-memory record.
#pragma once

#include "text/Stations.h"

#include <array>
#include <functional>
#include <optional>
#include <string>

namespace config {

// File names in the program directory. Names with Chinese characters are UTF-8 on disk; the
// section names inside the registration file are GBK.
inline constexpr char kSettingsFileName[] = "dcfilepath.ini";
inline constexpr char kRegistryFileName[] = "基站.ini";

// The one section of the parameter file.
inline constexpr char kSettingsSection[] = "Menu";

// "PDA 数据通信测试" in GBK: the test text when the file gives none.
const std::string& DefaultTestText();

struct AppSettings {
    std::string MenuDir, ExchangeDir;
    int DelaySetting = 3;
    bool FileMonitoring = false;
    bool TestMode = false;
    std::array<std::string, kStationCount> PortName, BaseId;
    std::string TestText;
};

// The menu directory when the parameter file names none: the program directory's "txt/" (in
// whatever letter case it exists), with its trailing '/'.
std::string DefaultMenuDir(const std::string& programDir);

// An empty MenuDir (empty after removing blanks) becomes DefaultMenuDir(programDir). Applied
// after every load, so that an empty "Path" means that directory after a reload too.
void ApplyMenuDirDefault(AppSettings& s, const std::string& programDir);

// Reads the parameter file into s. Every key that is missing leaves its field as it is.
// startWatcher is called when file monitoring turns from off to on, once ExchangeDir is read.
void LoadSettings(AppSettings& s, const std::string& iniPath,
                  const std::function<void()>& startWatcher = {});

// What the parameter dialog hands over when it saves.
struct SettingsFields {
    std::string Directory; // written as both "Path" and "WPath"
    int Delay = 2;
    bool FileMode = false; // the communication mode is the file mode
    bool TestMode = false;
    std::array<std::string, kStationCount> PortName; // empty where no port is chosen
    std::string TestText;
    std::array<std::string, kStationCount> BaseIdDecimal; // the base-station ID fields as typed
};

// Writes the fields into the "Menu" section, leaving every other line of the file as it was.
// A base-station ID field that is empty (after removing blanks) writes an empty value; one that
// holds a decimal number writes it as upper-case hexadecimal of at least two digits; one that
// holds anything else leaves the stored value as it was. Throws text::FileError when the file
// cannot be read or written; the file is then unchanged.
void SaveSettings(const std::string& iniPath, const SettingsFields& fields);
// The bytes SaveSettings writes: the file as it is with the fields written into it. Throws
// text::FileError when the file exists and cannot be read.
std::string SettingsFileAfterSave(const std::string& iniPath, const SettingsFields& fields);

// The value of a text of decimal digits only (blanks around it removed, at most 999999999);
// nothing for any other text, an empty one included.
std::optional<unsigned long> DecimalDigitsValue(const std::string& text);

// "10" -> "0A", "255" -> "FF", "300" -> "12C"; "" -> ""; nothing when the text (blanks removed)
// is not a decimal number.
std::optional<std::string> BaseIdHexText(const std::string& decimal);

} // namespace config
