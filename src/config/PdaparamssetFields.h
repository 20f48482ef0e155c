// What the parameter dialog Tfrm_PDAParam edits, as plain data, and the rules that fill it from
// the two configuration files, add a handheld number to a station's list and save it. The dialog
// copies its controls into ParamFields and back; everything it decides is decided here.
#pragma once

#include "text/Messages.h"
#include "text/Stations.h"

#include <array>
#include <optional>
#include <string>
#include <vector>

namespace config {

// One tab "基站n".
struct StationFields {
    std::string Port;                   // "串口设置": the chosen port, "" for no choice
    std::string BaseIdDecimal;          // "基站ID": decimal digits
    std::string HandheldNumber;         // "手持编号": the number to add
    std::vector<std::string> Handhelds; // the list: three-digit texts in the order of addition
};

struct ParamFields {
    std::string Directory; // "路径设置": the menu directory, ending in '/'
    int Delay = 2;         // "延时", 2 to 50
    bool TestMode = false; // "是否测试模式"
    std::string TestText;  // "通信测试提示"
    bool FileMode = false; // the hidden "通信模式": "文件方式" when true, else "消息方式"
    std::vector<std::string> PortChoices; // the choices of all four port selectors
    std::array<StationFields, kStationCount> Stations;
};

inline constexpr int kMinDialogDelay = 2;
inline constexpr int kMaxDialogDelay = 50;
inline constexpr unsigned long kMaxHandheldNumber = 191;

// The two files of a program directory (ending in '/').
struct ParamFiles {
    std::string Settings; // dcfilepath.ini
    std::string Registry; // 基站.ini
};
ParamFiles ParamFilesOf(const std::string& programDir);

struct OpenedParams {
    ParamFields Fields;
    // A stored number that is not one: the opening stopped there, and the fields after it keep
    // their defaults. Shown to the operator when the dialog opens.
    std::optional<std::string> Report;
};

// The opening: the directory field gets defaultDirectory, the port selectors portChoices; then the
// parameter file's "Menu" section and the registration file's first four sections fill the
// fields, each key defaulting to the field's content.
OpenedParams OpenParams(const ParamFiles& files, const std::string& defaultDirectory,
                        std::vector<std::string> portChoices);

enum class AddResult {
    Added,        // appended; the number field is emptied
    NoPort,       // "请选择串口"
    NoBaseId,     // "请设置基站ID"
    NoNumber,     // the number field is empty: nothing happens
    NotANumber,   // the field holds something other than digits (pasted text)
    TooLarge,     // "手持机号不能大于191"
    AlreadyListed // nothing happens; the field keeps its content
};

// The add button of one tab.
AddResult AddHandheld(StationFields& station);
// The message the add button shows for a result, if any.
std::optional<OperatorMessage> AddMessage(AddResult result, const StationFields& station);

// "保存": writes the parameter file (keeping every line it does not own) and the registration
// file anew, both or neither. Returns "参数设置完成" when both are written; otherwise the reason,
// and both files are as they were: a base-station ID field that holds no number, or a file that
// cannot be written (read-only directory, full disk).
OperatorMessage SaveParams(const ParamFields& fields, const ParamFiles& files);

} // namespace config
