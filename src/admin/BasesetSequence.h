// What the base-station dialog Tfrm_baseSet does, without its widgets: the choice of a base
// station and the set button's sequence, which sets the station's clock and channel through the
// main window's ports and reads the channel back from the answer that the receive path records.
#pragma once

#include "admin/BasesetFrames.h"
#include "text/Messages.h"
#include "text/Stations.h"
#include "text/Waits.h"

#include <array>
#include <chrono>
#include <functional>
#include <optional>
#include <string>

class BasePorts;

namespace admin {

// What choosing entry `entry` of the base-station list changes.
struct StationChoice {
    std::optional<std::string> IdField;   // the ID field's new text; nothing: unchanged
    std::optional<int> Channel;           // the channel entry to select, -1 for none
    std::optional<OperatorMessage> Error; // a BaseId that is not hexadecimal text
};

// Entries 0..3 stand for base stations 1..4; later entries change nothing. A station whose
// BaseId is empty changes nothing either, so the ID field keeps the previous station's ID.
StationChoice ChooseStation(int entry, const std::array<std::string, kStationCount>& baseIds,
                            const std::array<std::string, kStationCount>& channelText);

// The set button. Frames go straight to the chosen slot's port (a closed port drops them), each
// followed by a pause of 40 ms in which nothing else runs; the waits of 900 ms and 100 ms are
// the program's waits, during which the receive path sets the station's channel text.
class BaseSetSequence {
public:
    using Pause = std::function<void(std::chrono::milliseconds)>;
    using Clock = std::function<LocalTime()>;

    BaseSetSequence(BasePorts& ports, Waits& waits,
                    std::array<std::string, kStationCount>& channelText,
                    Pause pause = BlockingPause, Clock clock = LocalNow);

    // entry: the chosen base-station entry, channel: the chosen channel entry (-1: none);
    // idField: the ID field's text (decimal). Returns the message to show, if any.
    std::optional<OperatorMessage> Run(int entry, int channel, const std::string& idField);

    // Sleeps without handling events.
    static void BlockingPause(std::chrono::milliseconds duration);

private:
    void Send(int slot, const std::string& hex);

    BasePorts& ports_;
    Waits& waits_;
    std::array<std::string, kStationCount>& channelText_;
    Pause pause_;
    Clock clock_;
};

} // namespace admin
