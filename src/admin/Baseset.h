// Tfrm_baseSet: the base-station dialog. It shows the station choice, the channel list and the
// computer's clock, and runs BaseSetSequence on the main window's ports when "设置" is pressed.
#pragma once

#include "admin/BasesetSequence.h"
#include "text/Stations.h"

#include <QDialog>
#include <QTimer>
#include <array>
#include <functional>
#include <string>
#include <vector>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace admin {

class Tfrm_baseSet : public QDialog {
    Q_OBJECT
public:
    // names: the choices of the base-station list (choice k stands for base station k+1);
    // the rest is the main window's: its ports, its waits, the configured IDs and the channel
    // texts that its receive path sets.
    Tfrm_baseSet(const std::vector<std::string>& names, BasePorts& ports, Waits& waits,
                 const std::array<std::string, kStationCount>& baseIds,
                 std::array<std::string, kStationCount>& channelText, QWidget* parent = nullptr);

    // How a message reaches the operator: a modal box on the dialog (tests record them).
    std::function<void(const OperatorMessage&)> ShowMessage;
    QComboBox* ComboBox1; // "基站选择"
    QPushButton* btn_Close;
    QLineEdit* Edit1;     // "基站ID："
    QComboBox* ComboBox2; // "信道："
    QLabel* Label4;       // the clock
    QLabel* Label5;       // the order hint
    QPushButton* btn_Set;
    QTimer Timer1; // refreshes the clock every second

private:
    void StationChosen(int entry);
    void SetPressed();
    void ShowClock();

    const std::array<std::string, kStationCount>& baseIds_;
    std::array<std::string, kStationCount>& channelText_;
    BaseSetSequence sequence_;
    bool setting_ = false;
};

} // namespace admin
