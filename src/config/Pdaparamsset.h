// Tfrm_PDAParam: the parameter dialog. It shows config::ParamFields in its controls, copies the
// controls back into them for each action, and leaves every decision to PdaparamssetFields: the
// opening from the two files, adding a handheld number, and saving both files.
#pragma once

#include "config/PdaparamssetFields.h"
#include "text/Stations.h"

#include <QDialog>
#include <array>
#include <functional>
#include <optional>
#include <string>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QListWidget;
class QPushButton;
class QRadioButton;
class QSpinBox;
class QTabWidget;
class QToolButton;

namespace config {

class Tfrm_PDAParam : public QDialog {
    Q_OBJECT
public:
    // The dialog over the two configuration files of programDir (ending in '/'), with the ports
    // that programDir's ports/ folder and the computer offer.
    explicit Tfrm_PDAParam(const std::string& programDir, QWidget* parent = nullptr);

    // How a message reaches the operator: a modal box on the dialog (tests record them).
    std::function<void(const OperatorMessage&)> ShowMessage;
    // The picker behind "选择": a chosen directory, or an empty text when cancelled.
    std::function<QString(const QString& start)> PickDirectory;

    // The controls of one tab "基站n".
    struct StationTab {
        QComboBox* Port;
        QLineEdit* BaseId;
        QLineEdit* Handheld;
        QToolButton* Add;
        QListWidget* List;
        QPushButton* DeleteSelected; // "删除选择"
        QPushButton* ClearAll;       // "清除所有"
    };

    QLineEdit* Edit1; // the directory
    QPushButton* btn_Choose;
    QSpinBox* SpinEdit1; // "延时"
    QCheckBox* CheckBox1;
    QLineEdit* Edit2;                // the test text
    QRadioButton* FileModeChoice;    // "文件方式", never shown
    QRadioButton* MessageModeChoice; // "消息方式", never shown
    QTabWidget* PageControl1;
    std::array<StationTab, kStationCount> Tabs;
    QPushButton* btn_Save;
    QPushButton* btn_Exit;

    // What the controls hold now.
    ParamFields Fields() const;

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* BuildPaths();
    QWidget* BuildStationTab(StationTab& tab);
    QWidget* BuildButtons();
    void ConnectActions();

    void Show(const ParamFields& fields);
    void ShowStation(const StationTab& tab, const StationFields& station);
    StationFields StationOf(const StationTab& tab) const;

    void ChooseDirectory();
    void AddNumber(StationTab& tab);
    void DeleteSelected(StationTab& tab);
    void Save();

    ParamFiles files_;
    std::vector<std::string> portChoices_;
    std::string directory_; // the directory field's bytes, as they go into the file
    std::string testText_;  // the stored test text, kept as read while its field is unchanged
    std::optional<std::string> openingReport_;
};

} // namespace config
