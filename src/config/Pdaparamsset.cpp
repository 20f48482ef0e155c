#include "config/Pdaparamsset.h"

#include "baselink/SerialPortInfo.h"
#include "baselink/SerialPortList.h"
#include "config/AppSettings.h"
#include "text/Files.h"
#include "text/Gbk.h"
#include "widgetkit/OperatorMessageBox.h"
#include "widgetkit/QtText.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QFileDialog>
#include <QFormLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSpinBox>
#include <QTabWidget>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>
#include <vector>

namespace config {

namespace {

using widgetkit::FromGbk;

constexpr int kDigitFieldLength = 3;

QString U(const char* utf8) {
    return QString::fromUtf8(utf8);
}

QString FromPath(const std::string& bytes) {
    return QFile::decodeName(QByteArray::fromStdString(bytes));
}

// A field's text as GBK bytes; a character without a GBK form stays as its UTF-8 bytes.
std::string ToBytes(const QString& s) {
    return text::SystemTextToGbk(s.toStdString());
}

bool HasGbkForm(const QString& s) {
    try {
        text::ToGbk(s.toStdString());
        return true;
    } catch (const std::invalid_argument&) {
        return false;
    }
}

// Where a port choice leads, for its tooltip.
QString PortToolTip(const std::string& name, const std::string& programDir) {
    const PortInfo info = DescribePort(name, programDir);
    QStringList lines;
    if (!info.Link.empty()) {
        lines << U("链接到 ") + FromPath(info.Link);
    }
    lines << (info.Device.empty() ? U("设备不存在") : U("设备 ") + FromPath(info.Device));
    if (!info.Maker.empty() || !info.Model.empty()) {
        QString adapter = U("USB 串口：") + QString::fromStdString(info.Maker + " " + info.Model);
        if (!info.Serial.empty()) {
            adapter += U("，序列号 ") + QString::fromStdString(info.Serial);
        }
        lines << adapter.simplified();
    }
    return lines.join('\n');
}

// The add button's picture: a green plus, drawn at each size asked for.
QIcon PlusIcon() {
    QIcon icon;
    for (int size : {16, 32}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        const qreal bar = size / 5.0;
        const qreal middle = (size - bar) / 2;
        painter.setBrush(QColor(0x2e, 0x8b, 0x57));
        painter.setPen(Qt::NoPen);
        painter.drawRoundedRect(QRectF(middle, 1, bar, size - 2), bar / 3, bar / 3);
        painter.drawRoundedRect(QRectF(1, middle, size - 2, bar), bar / 3, bar / 3);
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

QLineEdit* DigitField(QWidget* parent) {
    auto* field = new QLineEdit(parent);
    field->setMaximumWidth(60);
    return field;
}

} // namespace

Tfrm_PDAParam::Tfrm_PDAParam(const std::string& programDir, QWidget* parent)
    : QDialog(parent), files_(ParamFilesOf(programDir)) {
    setWindowTitle(U("参数设置"));
    ShowMessage = [this](const OperatorMessage& m) { widgetkit::ShowOperatorMessage(this, m); };
    PickDirectory = [this](const QString& start) {
        return QFileDialog::getExistingDirectory(this, U("选择"), start);
    };

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(BuildPaths());
    PageControl1 = new QTabWidget(this);
    for (std::size_t n = 0; n < Tabs.size(); ++n) {
        PageControl1->addTab(BuildStationTab(Tabs[n]), U("基站") + QString::number(n + 1));
    }
    layout->addWidget(PageControl1);
    layout->addWidget(BuildButtons());
    ConnectActions();

    OpenedParams opened =
        OpenParams(files_, DefaultMenuDir(programDir), SerialPortList(programDir));
    portChoices_ = opened.Fields.PortChoices;
    // Each port's tooltip reads the file system: once per port, shared by the four tabs.
    std::vector<QString> tips;
    for (const std::string& name : portChoices_) {
        tips.push_back(PortToolTip(name, programDir));
    }
    for (const StationTab& tab : Tabs) {
        for (std::size_t i = 0; i < portChoices_.size(); ++i) {
            tab.Port->addItem(QString::fromStdString(portChoices_[i]));
            tab.Port->setItemData(tab.Port->count() - 1, tips[i], Qt::ToolTipRole);
        }
    }
    Show(opened.Fields);
    openingReport_ = opened.Report;

    adjustSize();
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        move(screen->availableGeometry().center() - rect().center());
    }
}

QWidget* Tfrm_PDAParam::BuildPaths() {
    auto* box = new QWidget(this);
    auto* form = new QFormLayout(box);
    form->setContentsMargins(0, 0, 0, 0);

    Edit1 = new QLineEdit(box);
    Edit1->setReadOnly(true);
    Edit1->setMinimumWidth(320);
    btn_Choose = new QPushButton(U("选择"), box);
    auto* pathRow = new QHBoxLayout;
    pathRow->addWidget(Edit1, 1);
    pathRow->addWidget(btn_Choose);
    form->addRow(U("路径设置"), pathRow);

    SpinEdit1 = new QSpinBox(box);
    SpinEdit1->setRange(kMinDialogDelay, kMaxDialogDelay);
    CheckBox1 = new QCheckBox(U("是否测试模式"), box);
    auto* delayRow = new QHBoxLayout;
    delayRow->addWidget(SpinEdit1);
    delayRow->addSpacing(24);
    delayRow->addWidget(CheckBox1);
    delayRow->addStretch();
    form->addRow(U("延时"), delayRow);

    Edit2 = new QLineEdit(box);
    form->addRow(U("通信测试提示 ："), Edit2);

    // Never shown: it carries "filemode" from reading to saving.
    auto* mode = new QGroupBox(U("通信模式"), box);
    FileModeChoice = new QRadioButton(U("文件方式"), mode);
    MessageModeChoice = new QRadioButton(U("消息方式"), mode);
    MessageModeChoice->setChecked(true);
    auto* modeRow = new QHBoxLayout(mode);
    modeRow->addWidget(FileModeChoice);
    modeRow->addWidget(MessageModeChoice);
    mode->hide();
    return box;
}

QWidget* Tfrm_PDAParam::BuildStationTab(StationTab& tab) {
    auto* page = new QWidget(this);
    tab.Port = new QComboBox(page);
    tab.Port->setMinimumContentsLength(8);
    tab.BaseId = DigitField(page);
    tab.Handheld = DigitField(page);
    tab.Add = new QToolButton(page);
    tab.Add->setIcon(PlusIcon());
    tab.Add->setToolTip(U("添加"));
    tab.List = new QListWidget(page);
    tab.DeleteSelected = new QPushButton(U("删除选择"), page);
    tab.ClearAll = new QPushButton(U("清除所有"), page);
    for (QLineEdit* field : {tab.BaseId, tab.Handheld}) {
        field->installEventFilter(this);
    }

    auto* form = new QFormLayout;
    form->addRow(U("串口设置"), tab.Port);
    form->addRow(U("基站ID"), tab.BaseId);
    auto* numberRow = new QHBoxLayout;
    numberRow->addWidget(tab.Handheld);
    numberRow->addWidget(tab.Add);
    numberRow->addStretch();
    form->addRow(U("手持编号"), numberRow);
    auto* listButtons = new QHBoxLayout;
    listButtons->addWidget(tab.DeleteSelected);
    listButtons->addWidget(tab.ClearAll);
    auto* listColumn = new QVBoxLayout;
    listColumn->addWidget(tab.List);
    listColumn->addLayout(listButtons);
    auto* row = new QHBoxLayout(page);
    row->addLayout(form);
    row->addLayout(listColumn, 1);
    return page;
}

QWidget* Tfrm_PDAParam::BuildButtons() {
    auto* bar = new QWidget(this);
    btn_Save = new QPushButton(U("保存"), bar);
    btn_Exit = new QPushButton(U("退出"), bar);
    btn_Save->setAutoDefault(false);
    btn_Exit->setAutoDefault(false);
    auto* row = new QHBoxLayout(bar);
    row->setContentsMargins(0, 0, 0, 0);
    row->addWidget(btn_Save);
    row->addStretch();
    row->addWidget(btn_Exit);
    return bar;
}

void Tfrm_PDAParam::ConnectActions() {
    connect(btn_Choose, &QPushButton::clicked, this, &Tfrm_PDAParam::ChooseDirectory);
    connect(btn_Save, &QPushButton::clicked, this, &Tfrm_PDAParam::Save);
    connect(btn_Exit, &QPushButton::clicked, this, &QDialog::reject);
    for (StationTab& tab : Tabs) {
        StationTab* t = &tab;
        connect(tab.Add, &QToolButton::clicked, this, [this, t] { AddNumber(*t); });
        connect(tab.DeleteSelected, &QPushButton::clicked, this, [this, t] { DeleteSelected(*t); });
        connect(tab.List, &QListWidget::itemDoubleClicked, this, [this, t] { DeleteSelected(*t); });
        connect(tab.ClearAll, &QPushButton::clicked, tab.List, &QListWidget::clear);
    }
}

void Tfrm_PDAParam::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (openingReport_) {
        const OperatorMessage report{MessageKind::Error, *openingReport_};
        openingReport_.reset();
        QTimer::singleShot(0, this, [this, report] { ShowMessage(report); });
    }
}

// The digit fields take digits (at most three) and backspace; every other typed character is
// dropped. Keys that type nothing (arrows, Delete, shortcuts such as paste) work as usual.
bool Tfrm_PDAParam::eventFilter(QObject* watched, QEvent* event) {
    auto* field = qobject_cast<QLineEdit*>(watched);
    if (field == nullptr || event->type() != QEvent::KeyPress) {
        return QDialog::eventFilter(watched, event);
    }
    const QString typed = static_cast<QKeyEvent*>(event)->text();
    if (typed.isEmpty() || !typed[0].isPrint()) {
        return false;
    }
    const bool digit = typed.size() == 1 && typed[0] >= '0' && typed[0] <= '9';
    const bool full = field->text().size() >= kDigitFieldLength && !field->hasSelectedText();
    return !digit || full;
}

void Tfrm_PDAParam::Show(const ParamFields& f) {
    directory_ = f.Directory;
    Edit1->setText(FromPath(directory_));
    SpinEdit1->setValue(f.Delay);
    CheckBox1->setChecked(f.TestMode);
    testText_ = f.TestText;
    Edit2->setText(FromGbk(testText_));
    (f.FileMode ? FileModeChoice : MessageModeChoice)->setChecked(true);
    for (std::size_t n = 0; n < Tabs.size(); ++n) {
        ShowStation(Tabs[n], f.Stations[n]);
    }
}

void Tfrm_PDAParam::ShowStation(const StationTab& tab, const StationFields& station) {
    const auto chosen = std::find(portChoices_.begin(), portChoices_.end(), station.Port);
    tab.Port->setCurrentIndex(station.Port.empty() || chosen == portChoices_.end()
                                  ? -1
                                  : static_cast<int>(chosen - portChoices_.begin()));
    tab.BaseId->setText(FromGbk(station.BaseIdDecimal));
    tab.Handheld->setText(FromGbk(station.HandheldNumber));
    tab.List->clear();
    for (const std::string& number : station.Handhelds) {
        tab.List->addItem(FromGbk(number));
    }
}

StationFields Tfrm_PDAParam::StationOf(const StationTab& tab) const {
    StationFields station;
    const int port = tab.Port->currentIndex();
    if (port >= 0) {
        station.Port = portChoices_[static_cast<std::size_t>(port)];
    }
    station.BaseIdDecimal = ToBytes(tab.BaseId->text());
    station.HandheldNumber = ToBytes(tab.Handheld->text());
    for (int row = 0; row < tab.List->count(); ++row) {
        station.Handhelds.push_back(ToBytes(tab.List->item(row)->text()));
    }
    return station;
}

ParamFields Tfrm_PDAParam::Fields() const {
    ParamFields f;
    f.Directory = directory_;
    f.Delay = SpinEdit1->value();
    f.TestMode = CheckBox1->isChecked();
    f.TestText = Edit2->text() == FromGbk(testText_) ? testText_ : ToBytes(Edit2->text());
    f.FileMode = FileModeChoice->isChecked();
    f.PortChoices = portChoices_;
    for (std::size_t n = 0; n < Tabs.size(); ++n) {
        f.Stations[n] = StationOf(Tabs[n]);
    }
    return f;
}

void Tfrm_PDAParam::ChooseDirectory() {
    const QString chosen = PickDirectory(Edit1->text());
    if (chosen.isEmpty()) {
        return;
    }
    directory_ = QFile::encodeName(chosen).toStdString();
    if (directory_.back() != '/') {
        directory_ += '/';
    }
    Edit1->setText(FromPath(directory_));
}

void Tfrm_PDAParam::AddNumber(StationTab& tab) {
    StationFields station = StationOf(tab);
    const AddResult result = AddHandheld(station);
    if (const auto message = AddMessage(result, station)) {
        ShowMessage(*message);
    }
    if (result == AddResult::Added) {
        ShowStation(tab, station);
        tab.List->setCurrentRow(tab.List->count() - 1);
    }
}

void Tfrm_PDAParam::DeleteSelected(StationTab& tab) {
    const QList<QListWidgetItem*> selected = tab.List->selectedItems();
    if (selected.isEmpty()) {
        return;
    }
    delete tab.List->takeItem(tab.List->row(selected.front()));
    tab.List->setCurrentRow(-1);
    tab.List->clearSelection();
}

void Tfrm_PDAParam::Save() {
    if (Edit2->text() != FromGbk(testText_) && !HasGbkForm(Edit2->text())) {
        ShowMessage(
            {MessageKind::Error, text::Fixed("通信测试提示中有GBK无法表示的字符，参数没有保存。")});
        return;
    }
    ShowMessage(SaveParams(Fields(), files_));
}

} // namespace config
