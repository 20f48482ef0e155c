// TForm1: the main window. It owns the main controller, draws the controller's state (the
// handheld view, the command enabling, the download page, the work log) and forwards the
// operator's actions to it through MainCommands; it holds no relay logic.
#pragma once

#include "app/MainCommands.h"
#include "app/MainController.h"
#include "app/MainView.h"

#include <QElapsedTimer>
#include <QStringList>
#include <QWidget>
#include <memory>

class QAction;
class QComboBox;
class QFrame;
class QLabel;
class QHelpEvent;
class QListWidget;
class QMenu;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QTabWidget;
class QTimer;
class QToolButton;
class QTreeWidget;

namespace desktop {

class TTrayIcon;

// How the window's message boxes and prompts are answered.
enum class Dialogs {
    Shown,     // modal, answered by the operator
    Unattended // nobody sees the window: written to standard error, default button taken
};

class TForm1 : public QWidget, public app::MainView {
    Q_OBJECT
public:
    explicit TForm1(Dialogs dialogs = Dialogs::Shown);
    ~TForm1() override;

    // Creates the controller that this window shows; the arguments are the controller's.
    app::MainController& CreateController(const std::string& programDir,
                                          const app::Markers& markers,
                                          const std::string& runtimeDir,
                                          const std::string& runtimeRefusal,
                                          menu::DownloadPacing pacing = {});
    app::MainController& Controller() { return *controller_; }
    // The event loop's first showing of the window: with a notification area the hide rule
    // hides it again; without one it stays up, since nothing else could bring it back.
    void FirstShowing();

    // MainView.
    void ShowMessage(const std::string& caption, const std::string& text) override;
    void ShowError(const std::string& message) override;
    void ShowMainWindow() override;
    void HideMainWindow() override;
    void SetCommandEnabled(app::Command command, bool enabled) override;
    void HandheldViewChanged() override;
    void SetCycleLabel(const std::string& text) override;
    void SetProgress(int position, int maximum) override;
    void SetProgressText(const std::string& text) override;
    bool AskDownloadPrompt() override;
    void OpenParameterDialog(const std::string& programDir) override;
    void OpenBaseStationDialog(const std::vector<std::string>& names,
                               const app::BaseStationAccess& access) override;
    void ShowOperationRecords(const std::vector<app::OperationRecord>& rows) override;
    // The tray's warning icon and tip, a message for a new alarm, and the status line.
    bool ShowAlarm(const std::string& reasons, bool fresh) override;
    // The work log's changes: Memo1 follows the log.
    void LineAppended(const std::string& line) override;
    void Cleared() override;
    void OldestDropped(std::size_t count) override;

    // Controls, named as on the window.
    QToolButton* btn_ParamSet;
    QToolButton* btn_BaseSet;
    QToolButton* btn_Conn2Router;
    QLabel* lbl_Alarm; // the alarm's status line, beside the commands
    QAction* act_ScanBaseSet;
    QTreeWidget* TreeView1;
    QLabel* Label6;
    QComboBox* ComboBox1;
    QLabel* Label8;
    QTabWidget* PageControl1;
    QListWidget* ListView1;
    QMenu* PopupMenu2; // "查看工作日志"
    QPushButton* Button9;
    QPushButton* Button12;
    QLabel* Label5; // the note beside the download buttons
    QProgressBar* ProgressBar1;
    QLabel* Label7;
    QPlainTextEdit* Memo1;
    QFrame* Panel3; // the strip below the log
    QPushButton* Button11;
    TTrayIcon* TrayIcon1;
    QMenu* PopupMenu1; // "显示窗口"
    QAction* N1;
    QTimer* tim_Status; // the tray's tip follows the relay's state

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void ShowHandheldDetail(QWidget* viewport, QHelpEvent* event);

private:
    QWidget* BuildCommandBar();
    QWidget* BuildLeftColumn();
    QWidget* BuildUserPage();
    QWidget* BuildDownloadPage();
    QWidget* BuildDataPage();
    void BuildTray();
    void ShowStatus();
    void ConnectCommands();
    void PlaceOnScreen();

    // Drawing the handheld view from the controller's model.
    void DrawTree();
    void DrawSelector();
    void DrawList();

    // The operator's actions on the handheld view.
    void SelectorChosen(int index);
    void TreeSelected();
    void ListSelected(int row);
    void ListContextMenu(const QPoint& at);
    void ApplicationStateChanged(Qt::ApplicationState state);
    void FocusSettled(bool lostWhileBroughtUp);

    void FollowNewestLine();
    void FlushLog();
    void RemoveOldestShown(std::size_t count);
    void AppendPending();

    std::unique_ptr<app::MainController> controller_;
    // The controller as the window sees it: the operator's commands and the state it draws.
    app::MainCommands* commands_ = nullptr;
    const app::MainState* state_ = nullptr;
    QTimer* logFlush_;
    QStringList pendingLines_;    // appended, not yet in Memo1
    std::size_t pendingDrop_ = 0; // oldest lines dropped from the log, not yet from Memo1
    std::size_t shownLines_ = 0;  // lines in Memo1
    bool followLog_ = true;       // Memo1 keeps its newest line in view
    Dialogs dialogs_;
    bool hidesToTray_; // with a notification area the window hides; without one it minimises
    bool firstShowing_ = true;
    QElapsedTimer broughtUp_; // since the window was last brought up
    bool drawing_ = false;    // set while the view draws, so drawn changes are not forwarded
};

} // namespace desktop
