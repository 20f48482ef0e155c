#include "desktop/Unit1.h"

#include "admin/Baseset.h"
#include "app/HeadlessView.h"
#include "config/Pdaparamsset.h"
#include "desktop/Icons.h"
#include "desktop/OpLog.h"
#include "desktop/TrayIcon.h"
#include "desktop/xinxi.h"
#include "widgetkit/OperatorMessageBox.h"
#include "widgetkit/QtText.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QTabWidget>
#include <QTextBlock>
#include <QTextCursor>
#include <QTimer>
#include <QToolButton>
#include <QToolTip>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace desktop {

using widgetkit::FromGbk;
using widgetkit::ShowOperatorMessage;

namespace {

// Sizes of the layout, in logical pixels.
constexpr int kWidth = 908;
constexpr int kHeight = 589;
constexpr int kCommandBarHeight = 41;
constexpr int kLeftColumnWidth = 161;
constexpr int kStripHeight = 33;
constexpr int kTreeIndent = 22;
constexpr int kListIconSize = 32;
constexpr int kLogFlushMs = 200;    // work-log lines reach the text area in batches this often
constexpr int kFocusSettleMs = 250; // a focus lost for less than this keeps the window up
constexpr int kBringUpMs = 500;     // a focus lost this soon after bringing the window up
constexpr int kStatusMs = 1000;     // the tray's tip follows the relay's state this often

QString U(const char* utf8) {
    return QString::fromUtf8(utf8);
}

QToolButton* CommandButton(const QString& caption, QWidget* parent) {
    auto* button = new QToolButton(parent);
    button->setText(caption);
    QFont bold = button->font();
    bold.setBold(true);
    button->setFont(bold);
    button->setToolButtonStyle(Qt::ToolButtonTextOnly);
    button->setMinimumWidth(88);
    button->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Expanding);
    return button;
}

void SetTextColour(QWidget* widget, const QColor& colour) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, colour);
    widget->setPalette(palette);
}

} // namespace

TForm1::TForm1(Dialogs dialogs)
    : QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowCloseButtonHint),
      dialogs_(dialogs), hidesToTray_(QSystemTrayIcon::isSystemTrayAvailable()) {
    setWindowTitle(U("无线点菜机管理"));
    setWindowIcon(ProgramIcon());
    setFixedSize(kWidth, kHeight);

    PageControl1 = new QTabWidget(this);
    PageControl1->addTab(BuildUserPage(), U("用户"));
    PageControl1->addTab(BuildDownloadPage(), U("菜单下载"));
    PageControl1->addTab(BuildDataPage(), U("数据中心"));
    PageControl1->setCurrentIndex(2);

    auto* body = new QHBoxLayout;
    body->setContentsMargins(0, 0, 0, 0);
    body->setSpacing(2);
    body->addWidget(BuildLeftColumn());
    body->addWidget(PageControl1, 1);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(2, 2, 2, 2);
    layout->setSpacing(2);
    layout->addWidget(BuildCommandBar());
    layout->addLayout(body, 1);

    BuildTray();
    ConnectCommands();
    PlaceOnScreen();
}

TForm1::~TForm1() = default;

app::MainController& TForm1::CreateController(const std::string& programDir,
                                              const app::Markers& markers,
                                              const std::string& runtimeDir,
                                              const std::string& runtimeRefusal,
                                              menu::DownloadPacing pacing) {
    controller_ = std::make_unique<app::MainController>(programDir, markers, *this, runtimeDir,
                                                        runtimeRefusal, pacing);
    commands_ = controller_.get();
    state_ = controller_.get();
    ShowStatus();
    return *controller_;
}

QWidget* TForm1::BuildCommandBar() {
    auto* bar = new QFrame(this);
    bar->setFrameShape(QFrame::StyledPanel);
    bar->setFixedHeight(kCommandBarHeight);
    btn_ParamSet = CommandButton(U("参数设置"), bar);
    btn_BaseSet = CommandButton(U("基站设置"), bar);
    btn_Conn2Router = CommandButton({}, bar);
    act_ScanBaseSet = new QAction(U("连接基站"), this);
    btn_Conn2Router->setDefaultAction(act_ScanBaseSet);
    auto* row = new QHBoxLayout(bar);
    row->setContentsMargins(4, 3, 4, 3);
    row->addWidget(btn_ParamSet);
    row->addWidget(btn_BaseSet);
    row->addWidget(btn_Conn2Router);
    lbl_Alarm = new QLabel(bar); // takes the room left, cut there; its tip holds it whole
    lbl_Alarm->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    lbl_Alarm->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    SetTextColour(lbl_Alarm, Qt::red);
    row->addWidget(lbl_Alarm, 1);
    return bar;
}

QWidget* TForm1::BuildLeftColumn() {
    auto* column = new QWidget(this);
    column->setFixedWidth(kLeftColumnWidth);
    TreeView1 = new QTreeWidget(column);
    TreeView1->setHeaderHidden(true);
    TreeView1->setIndentation(kTreeIndent);
    TreeView1->setIconSize(QSize(16, 16));
    TreeView1->setSelectionMode(QAbstractItemView::SingleSelection);

    auto* strip = new QWidget(column);
    strip->setFixedHeight(kStripHeight);
    Label6 = new QLabel(U("基站"), strip);
    ComboBox1 = new QComboBox(strip);
    // The selector gives way to the status label, which must show "基站未连接" whole.
    ComboBox1->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    ComboBox1->setMinimumContentsLength(1);
    ComboBox1->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    Label8 = new QLabel(strip);
    Label8->setSizePolicy(QSizePolicy::Minimum, QSizePolicy::Preferred);
    SetTextColour(Label8, Qt::red);
    auto* row = new QHBoxLayout(strip);
    row->setContentsMargins(2, 2, 2, 2);
    row->setSpacing(3);
    row->addWidget(Label6);
    row->addWidget(ComboBox1, 1);
    row->addWidget(Label8);

    auto* layout = new QVBoxLayout(column);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(TreeView1, 1);
    layout->addWidget(strip);
    return column;
}

QWidget* TForm1::BuildUserPage() {
    auto* page = new QWidget(this);
    ListView1 = new QListWidget(page);
    ListView1->setViewMode(QListView::IconMode);
    ListView1->setIconSize(QSize(kListIconSize, kListIconSize));
    ListView1->setGridSize(QSize(72, 64));
    ListView1->setMovement(QListView::Static);
    ListView1->setResizeMode(QListView::Adjust);
    ListView1->setWrapping(true);
    ListView1->setSelectionMode(QAbstractItemView::SingleSelection);
    ListView1->setContextMenuPolicy(Qt::CustomContextMenu);
    PopupMenu2 = new QMenu(this);
    PopupMenu2->addAction(U("查看工作日志"), this, [this] { commands_->ShowOperationRecords(); });
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(ListView1);
    return page;
}

QWidget* TForm1::BuildDownloadPage() {
    auto* page = new QWidget(this);
    Button9 = new QPushButton(U("开始下载"), page);
    Button12 = new QPushButton(U("停止下载"), page);
    Label5 = new QLabel(U("当所有点菜机下载完菜库后，请手动停止下载"), page);
    ProgressBar1 = new QProgressBar(page);
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setValue(0);
    ProgressBar1->setTextVisible(false); // until a cycle tells how far it is
    Label7 = new QLabel(page);
    QFont large = Label7->font();
    large.setPointSizeF(large.pointSizeF() * 1.6);
    large.setBold(true);
    Label7->setFont(large);
    Label7->setWordWrap(true);
    SetTextColour(Label7, Qt::blue);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(Button9);
    buttons->addWidget(Button12);
    buttons->addSpacing(12);
    buttons->addWidget(Label5, 1);
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(12, 12, 12, 12);
    layout->setSpacing(16);
    layout->addLayout(buttons);
    layout->addWidget(ProgressBar1);
    layout->addWidget(Label7);
    layout->addStretch();
    return page;
}

QWidget* TForm1::BuildDataPage() {
    auto* page = new QWidget(this);
    Memo1 = new QPlainTextEdit(page);
    Memo1->setLineWrapMode(QPlainTextEdit::NoWrap);
    Memo1->setUndoRedoEnabled(false);
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo1->installEventFilter(this);
    FollowNewestLine();
    logFlush_ = new QTimer(this);
    logFlush_->setInterval(kLogFlushMs);
    connect(logFlush_, &QTimer::timeout, this, &TForm1::FlushLog);
    Panel3 = new QFrame(page);
    Panel3->setFrameShape(QFrame::StyledPanel);
    Panel3->setFixedHeight(kStripHeight + 8);
    Panel3->installEventFilter(this);
    Button11 = new QPushButton(U("清除"), Panel3);
    auto* strip = new QHBoxLayout(Panel3);
    strip->setContentsMargins(6, 4, 6, 4);
    strip->addStretch();
    strip->addWidget(Button11);
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(Memo1, 1);
    layout->addWidget(Panel3);
    return page;
}

// The newest line stays in view unless the operator scrolls back to read; a hidden window keeps
// following, so that it shows again on the newest lines.
void TForm1::FollowNewestLine() {
    QScrollBar* bar = Memo1->verticalScrollBar();
    connect(bar, &QScrollBar::valueChanged, this, [this, bar](int value) {
        if (Memo1->isVisible()) {
            followLog_ = value >= bar->maximum();
        }
    });
    connect(bar, &QScrollBar::rangeChanged, this, [this, bar](int, int maximum) {
        if (followLog_) {
            bar->setValue(maximum);
        }
    });
}

void TForm1::BuildTray() {
    PopupMenu1 = new QMenu(this);
    N1 = PopupMenu1->addAction(U("显示窗口"));
    connect(N1, &QAction::triggered, this, [this] { commands_->ShowFromTray(); });
    TrayIcon1 = new TTrayIcon(this);
    TrayIcon1->SetIcon(ProgramIcon());
    TrayIcon1->SetMenu(PopupMenu1);
    TrayIcon1->SetToolTip(FromGbk(app::WindowCaption()));
    TrayIcon1->OnDblClick = [this](TTrayIcon*) { commands_->ShowFromTray(); };
    TrayIcon1->OnRightClick = [this](TTrayIcon*, Qt::MouseButton, Qt::KeyboardModifiers, int x,
                                     int y) { PopupMenu1->popup(QPoint(x, y)); };
    TrayIcon1->OnEndSession = [this](TTrayIcon*) {
        if (controller_) {
            controller_->EndProgram();
        }
    };
    TrayIcon1->SetActive(true);
    tim_Status = new QTimer(this);
    tim_Status->setInterval(kStatusMs);
    connect(tim_Status, &QTimer::timeout, this, &TForm1::ShowStatus);
    tim_Status->start();
}

// The tray's tip: the program's name and the relay's state in one line. Set only when it
// changed, since a StatusNotifierItem host is told of every change.
void TForm1::ShowStatus() {
    if (state_ == nullptr) {
        return;
    }
    const QString tip = FromGbk(app::TrayToolTip(state_->Status()));
    if (tip.left(TTrayIcon::kMaxToolTip) != TrayIcon1->ToolTip()) {
        TrayIcon1->SetToolTip(tip);
    }
}

void TForm1::ConnectCommands() {
    TreeView1->viewport()->installEventFilter(this); // the handhelds' detail tooltips
    ListView1->viewport()->installEventFilter(this);
    connect(btn_ParamSet, &QToolButton::clicked, this, [this] { commands_->ParameterSettings(); });
    connect(btn_BaseSet, &QToolButton::clicked, this, [this] { commands_->BaseStationSettings(); });
    connect(act_ScanBaseSet, &QAction::triggered, this,
            [this] { commands_->ConnectBaseStations(); });
    connect(ComboBox1, &QComboBox::activated, this, &TForm1::SelectorChosen);
    connect(TreeView1, &QTreeWidget::itemSelectionChanged, this, &TForm1::TreeSelected);
    connect(ListView1, &QListWidget::currentRowChanged, this, &TForm1::ListSelected);
    connect(ListView1, &QListWidget::customContextMenuRequested, this, &TForm1::ListContextMenu);
    connect(Button9, &QPushButton::clicked, this, [this] { commands_->StartDownload(); });
    connect(Button12, &QPushButton::clicked, this, [this] { commands_->StopDownload(); });
    connect(Button11, &QPushButton::clicked, this, [this] { commands_->ClearLog(); });
    connect(qApp, &QGuiApplication::applicationStateChanged, this,
            &TForm1::ApplicationStateChanged);
}

void TForm1::PlaceOnScreen() {
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect area = screen->availableGeometry();
        move(area.center() - QPoint(kWidth / 2, kHeight / 2));
    }
}

// The window rules.

void TForm1::FirstShowing() {
    firstShowing_ = false;
    showNormal();
    if (hidesToTray_) {
        commands_->WindowActivated(); // hides through the hide timer, as an activation does
    }
}

void TForm1::ApplicationStateChanged(Qt::ApplicationState state) {
    // Another program's window took the focus: the main window stops being the active window.
    // Moving between the window and its own dialogs keeps the application active.
    if (state != Qt::ApplicationActive && isVisible() && !isMinimized() && commands_) {
        const bool whileBroughtUp = broughtUp_.isValid() && broughtUp_.elapsed() < kBringUpMs;
        QTimer::singleShot(kFocusSettleMs, this,
                           [this, whileBroughtUp] { FocusSettled(whileBroughtUp); });
    }
}

// The window manager may move the focus for a moment while the window is brought up: to the
// tray that was clicked, or a focus change left over from the last hiding arrives late. The
// decision waits until the focus has settled; a focus lost while the window was being brought
// up is asked back instead of hiding the window.
void TForm1::FocusSettled(bool lostWhileBroughtUp) {
    if (QGuiApplication::applicationState() == Qt::ApplicationActive || !isVisible() ||
        isMinimized()) {
        return;
    }
    if (lostWhileBroughtUp) {
        activateWindow();
        return;
    }
    commands_->WindowDeactivated();
}

void TForm1::closeEvent(QCloseEvent* event) {
    event->ignore();
    QTimer::singleShot(0, this, [this] { commands_->CloseRequest(); });
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
    if (watched == Memo1 && event->type() == QEvent::KeyPress) {
        int key = static_cast<QKeyEvent*>(event)->key();
        return key == Qt::Key_Return || key == Qt::Key_Enter; // Enter inserts no line break
    }
    if (event->type() == QEvent::ToolTip &&
        (watched == TreeView1->viewport() || watched == ListView1->viewport())) {
        ShowHandheldDetail(static_cast<QWidget*>(watched), static_cast<QHelpEvent*>(event));
        return true;
    }
    if (watched == Panel3 && event->type() == QEvent::MouseButtonRelease) {
        close(); // the strip itself, outside "清除": a close request
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

// A handheld's activity since start, as the tooltip of its tree node or list item.
void TForm1::ShowHandheldDetail(QWidget* viewport, QHelpEvent* event) {
    std::string detail;
    if (viewport == ListView1->viewport()) {
        if (QListWidgetItem* item = ListView1->itemAt(event->pos())) {
            detail = state_->ListItemDetail(ListView1->row(item));
        }
    } else if (QTreeWidgetItem* item = TreeView1->itemAt(event->pos()); item && item->parent()) {
        detail = state_->TreeNodeDetail(TreeView1->indexOfTopLevelItem(item->parent()),
                                        item->parent()->indexOfChild(item));
    }
    if (detail.empty()) {
        QToolTip::hideText();
    } else {
        QToolTip::showText(event->globalPos(), FromGbk(detail), viewport);
    }
}

void TForm1::ShowMainWindow() {
    if (!hidesToTray_ && isMinimized()) {
        showNormal();
    } else {
        show();
    }
    raise();
    activateWindow();
    broughtUp_.start();
}

void TForm1::HideMainWindow() {
    if (hidesToTray_ || firstShowing_) {
        hide();
    } else {
        showMinimized();
    }
}

// Dialogs.

bool TForm1::ShowAlarm(const std::string& reasons, bool fresh) {
    const QString why = FromGbk(reasons);
    const QString caption = FromGbk(app::WindowCaption());
    TrayIcon1->SetIcon(why.isEmpty() ? ProgramIcon() : AlarmIcon());
    TrayIcon1->SetToolTip(why.isEmpty() ? caption : caption + U("：") + why);
    lbl_Alarm->setText(why.isEmpty() ? QString() : U("⚠ ") + why);
    lbl_Alarm->setToolTip(why);
    if (fresh) {
        TrayIcon1->PlatformIcon().showMessage(caption, why, QSystemTrayIcon::Warning);
    }
    return dialogs_ == Dialogs::Shown;
}

void TForm1::ShowMessage(const std::string& caption, const std::string& text) {
    if (dialogs_ == Dialogs::Unattended) {
        app::HeadlessView().ShowMessage(caption, text);
        return;
    }
    widgetkit::ShowMessageBox(this, QMessageBox::NoIcon, FromGbk(caption), FromGbk(text));
}

void TForm1::ShowError(const std::string& message) {
    if (dialogs_ == Dialogs::Unattended) {
        app::HeadlessView().ShowError(message);
        return;
    }
    ShowOperatorMessage(this, {MessageKind::Error, message});
}

bool TForm1::AskDownloadPrompt() {
    if (dialogs_ == Dialogs::Unattended) {
        return app::HeadlessView().AskDownloadPrompt();
    }
    Tfrm_tishi prompt(this);
    return prompt.exec() == QDialog::Accepted;
}

// The two settings dialogs. Nobody could answer them unattended: each sequence then goes on as
// after "退出" or "关  闭".
void TForm1::OpenParameterDialog(const std::string& programDir) {
    if (dialogs_ == Dialogs::Unattended) {
        return;
    }
    config::Tfrm_PDAParam dialog(programDir, this);
    dialog.exec();
}

void TForm1::OpenBaseStationDialog(const std::vector<std::string>& names,
                                   const app::BaseStationAccess& access) {
    if (dialogs_ == Dialogs::Unattended) {
        return;
    }
    admin::Tfrm_baseSet dialog(names, access.ports, access.waits, access.baseIds,
                               access.channelText, this);
    dialog.exec();
}

void TForm1::ShowOperationRecords(const std::vector<app::OperationRecord>& rows) {
    if (dialogs_ == Dialogs::Unattended) {
        return; // the viewer only shows; nothing to answer
    }
    desktop::ShowOperationRecords(this, rows);
}

// Commands and the download page.

void TForm1::SetCommandEnabled(app::Command command, bool enabled) {
    switch (command) {
    case app::Command::ParamSet:
        btn_ParamSet->setEnabled(enabled);
        break;
    case app::Command::BaseSet:
        btn_BaseSet->setEnabled(enabled);
        break;
    case app::Command::Conn2Router:
        act_ScanBaseSet->setEnabled(enabled);
        break;
    case app::Command::StartDownload:
        Button9->setEnabled(enabled);
        break;
    }
}

void TForm1::SetCycleLabel(const std::string& text) {
    Label7->setText(FromGbk(text));
}

void TForm1::SetProgress(int position, int maximum) {
    ProgressBar1->setRange(0, maximum);
    ProgressBar1->setValue(position);
}

void TForm1::SetProgressText(const std::string& text) {
    ProgressBar1->setFormat(FromGbk(text)); // the texts hold no %v, %m or %p
    ProgressBar1->setTextVisible(!text.empty());
}

// The handheld view.

void TForm1::HandheldViewChanged() {
    drawing_ = true;
    DrawTree();
    DrawSelector();
    DrawList();
    Label8->setText(FromGbk(state_->HandheldPage().Label8));
    drawing_ = false;
}

void TForm1::DrawTree() {
    const auto& nodes = state_->HandheldPage().TreeView1;
    bool same = TreeView1->topLevelItemCount() == static_cast<int>(nodes.size());
    for (int i = 0; same && i < TreeView1->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* item = TreeView1->topLevelItem(i);
        const auto& node = nodes[static_cast<std::size_t>(i)];
        same = item->text(0) == FromGbk(node.Caption) &&
               item->childCount() == static_cast<int>(node.Children.size());
    }
    if (!same) {
        TreeView1->clear();
        for (const auto& node : nodes) {
            auto* station = new QTreeWidgetItem(TreeView1, {FromGbk(node.Caption)});
            for (const auto& child : node.Children) {
                new QTreeWidgetItem(station, {FromGbk(child.Caption)});
            }
            station->setExpanded(true);
        }
    }
    for (int i = 0; i < TreeView1->topLevelItemCount(); ++i) {
        QTreeWidgetItem* station = TreeView1->topLevelItem(i);
        const auto& children = nodes[static_cast<std::size_t>(i)].Children;
        for (int c = 0; c < station->childCount(); ++c) {
            station->child(c)->setIcon(
                0, HandheldStateIcon(children[static_cast<std::size_t>(c)].State));
        }
    }
}

void TForm1::DrawSelector() {
    const auto& page = state_->HandheldPage();
    QStringList names;
    for (const std::string& name : page.ComboBox1) {
        names << FromGbk(name);
    }
    QStringList shown;
    for (int i = 0; i < ComboBox1->count(); ++i) {
        shown << ComboBox1->itemText(i);
    }
    if (names != shown) {
        ComboBox1->clear();
        ComboBox1->addItems(names);
    }
    ComboBox1->setCurrentIndex(page.ComboBox1Index);
}

// The list is refilled only when its items changed, and a changed state only turns its item's
// icon, so that a redraw for the tree's sake or a log-in keeps the list's scroll position.
void TForm1::DrawList() {
    const auto& items = state_->HandheldPage().ListView1;
    bool same = ListView1->count() == static_cast<int>(items.size());
    for (int i = 0; same && i < ListView1->count(); ++i) {
        same = ListView1->item(i)->text() == FromGbk(items[static_cast<std::size_t>(i)].Caption);
    }
    if (!same) {
        ListView1->clear();
        for (const auto& item : items) {
            new QListWidgetItem(FromGbk(item.Caption), ListView1);
        }
    }
    for (int i = 0; i < ListView1->count(); ++i) {
        QListWidgetItem* shown = ListView1->item(i);
        const int state = items[static_cast<std::size_t>(i)].State;
        if (shown->data(Qt::UserRole) != state) {
            shown->setIcon(HandheldStateIcon(state));
            shown->setData(Qt::UserRole, state);
        }
    }
    ListView1->setCurrentRow(state_->HandheldPage().ListView1Index);
}

void TForm1::SelectorChosen(int index) {
    if (!drawing_) {
        commands_->SelectStation(index);
    }
}

void TForm1::TreeSelected() {
    if (drawing_) {
        return;
    }
    const QList<QTreeWidgetItem*> selected = TreeView1->selectedItems();
    if (selected.isEmpty()) {
        commands_->SelectTreeNode(-1, -1);
        return;
    }
    QTreeWidgetItem* item = selected.front();
    QTreeWidgetItem* parent = item->parent();
    if (parent == nullptr) {
        commands_->SelectTreeNode(TreeView1->indexOfTopLevelItem(item), -1);
    } else {
        commands_->SelectTreeNode(TreeView1->indexOfTopLevelItem(parent),
                                  parent->indexOfChild(item));
    }
}

void TForm1::ListSelected(int row) {
    if (!drawing_) {
        commands_->SelectListItem(row);
    }
}

void TForm1::ListContextMenu(const QPoint& at) {
    PopupMenu2->popup(ListView1->viewport()->mapToGlobal(at));
}

// Memo1 follows the work log, newest line in view. Lines reach it in batches, five times a
// second at most: laying out and painting one line at a time costs a text area about ten times
// more, and a repaint (a few milliseconds) would otherwise follow each request as it is relayed.
// The batch timer runs while lines keep coming, so its ticks do not follow the requests' pace.

void TForm1::LineAppended(const std::string& line) {
    pendingLines_ << FromGbk(line);
    if (!logFlush_->isActive()) {
        logFlush_->start();
    }
}

void TForm1::Cleared() {
    pendingLines_.clear();
    pendingDrop_ = 0;
    shownLines_ = 0;
    Memo1->clear();
}

void TForm1::OldestDropped(std::size_t count) {
    pendingDrop_ += count;
}

void TForm1::FlushLog() {
    if (pendingLines_.isEmpty() && pendingDrop_ == 0) {
        logFlush_->stop();
        return;
    }
    // Dropped lines leave the text area first, then the batch not yet shown.
    const std::size_t fromShown = std::min(pendingDrop_, shownLines_);
    RemoveOldestShown(fromShown);
    pendingLines_.erase(pendingLines_.begin(),
                        pendingLines_.begin() + static_cast<qsizetype>(pendingDrop_ - fromShown));
    pendingDrop_ = 0;
    AppendPending();
}

void TForm1::RemoveOldestShown(std::size_t count) {
    if (count == 0) {
        return;
    }
    if (count == shownLines_) {
        Memo1->clear();
    } else {
        // Selected by position: moving a cursor block by block lays out every block it passes.
        QTextCursor cursor(Memo1->document());
        cursor.setPosition(Memo1->document()->findBlockByNumber(static_cast<int>(count)).position(),
                           QTextCursor::KeepAnchor);
        cursor.removeSelectedText();
    }
    shownLines_ -= count;
}

void TForm1::AppendPending() {
    if (pendingLines_.isEmpty()) {
        return;
    }
    Memo1->appendPlainText(pendingLines_.join(QLatin1Char('\n')));
    shownLines_ += static_cast<std::size_t>(pendingLines_.size());
    pendingLines_.clear();
}

} // namespace desktop
