#include "admin/Baseset.h"

#include "widgetkit/OperatorMessageBox.h"
#include "widgetkit/QtText.h"

#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace admin {

namespace {

using widgetkit::FromGbk;

constexpr int kVisibleChannels = 12;

QString U(const char* utf8) {
    return QString::fromUtf8(utf8);
}

} // namespace

Tfrm_baseSet::Tfrm_baseSet(const std::vector<std::string>& names, BasePorts& ports, Waits& waits,
                           const std::array<std::string, kStationCount>& baseIds,
                           std::array<std::string, kStationCount>& channelText, QWidget* parent)
    : QDialog(parent), baseIds_(baseIds), channelText_(channelText),
      sequence_(ports, waits, channelText) {
    setWindowTitle(U("无线基站设置程序"));
    ShowMessage = [this](const OperatorMessage& m) { widgetkit::ShowOperatorMessage(this, m); };

    ComboBox1 = new QComboBox(this);
    for (const std::string& name : names) {
        ComboBox1->addItem(FromGbk(name));
    }
    ComboBox1->setCurrentIndex(-1);
    ComboBox1->setMinimumContentsLength(8);
    btn_Close = new QPushButton(U("关  闭"), this);
    auto* top = new QHBoxLayout;
    top->addWidget(new QLabel(U("基站选择"), this));
    top->addWidget(ComboBox1);
    top->addStretch();
    top->addWidget(btn_Close);

    auto* channelBox = new QGroupBox(U("频道设置"), this);
    Edit1 = new QLineEdit(channelBox);
    Edit1->setReadOnly(true);
    ComboBox2 = new QComboBox(channelBox);
    for (const std::string& channel : ChannelChoices()) {
        ComboBox2->addItem(QString::fromStdString(channel));
    }
    ComboBox2->setCurrentIndex(-1);
    // The 64 channels open as a scrolling list of a normal height, not a menu the height of the
    // screen: the list-view popup honours the visible count in every style.
    ComboBox2->setMaxVisibleItems(kVisibleChannels);
    ComboBox2->setStyleSheet(QStringLiteral("QComboBox { combobox-popup: 0; }"));
    auto* channelForm = new QFormLayout(channelBox);
    channelForm->addRow(U("基站ID："), Edit1);
    channelForm->addRow(U("信道："), ComboBox2);

    auto* timeBox = new QGroupBox(U("时间"), this);
    Label4 = new QLabel(timeBox);
    Label4->setStyleSheet("color: red");
    Label5 = new QLabel(U("（秒：分：时：日：星期：月：年）"), timeBox);
    auto* timeForm = new QFormLayout(timeBox);
    timeForm->addRow(U("当前时间："), Label4);
    timeForm->addRow(QString(), Label5);

    btn_Set = new QPushButton(U("设置"), this);
    auto* bottom = new QHBoxLayout;
    bottom->addStretch();
    bottom->addWidget(btn_Set);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(channelBox);
    layout->addWidget(timeBox);
    layout->addLayout(bottom);

    connect(ComboBox1, &QComboBox::activated, this, &Tfrm_baseSet::StationChosen);
    connect(btn_Set, &QPushButton::clicked, this, &Tfrm_baseSet::SetPressed);
    connect(btn_Close, &QPushButton::clicked, this, &QDialog::reject);
    connect(&Timer1, &QTimer::timeout, this, &Tfrm_baseSet::ShowClock);
    ShowClock();
    Timer1.start(1000);
}

void Tfrm_baseSet::ShowClock() {
    Label4->setText(FromGbk(ClockText(LocalNow())));
}

void Tfrm_baseSet::StationChosen(int entry) {
    const StationChoice choice = ChooseStation(entry, baseIds_, channelText_);
    if (choice.Error) {
        ShowMessage(*choice.Error);
    }
    if (choice.IdField) {
        Edit1->setText(FromGbk(*choice.IdField));
    }
    if (choice.Channel) {
        ComboBox2->setCurrentIndex(*choice.Channel);
    }
}

// The waits of the sequence handle events, this button's clicks among them: a press while a
// setting runs is ignored rather than interleaving two settings' frames.
void Tfrm_baseSet::SetPressed() {
    if (setting_) {
        return;
    }
    setting_ = true;
    const auto message = sequence_.Run(ComboBox1->currentIndex(), ComboBox2->currentIndex(),
                                       Edit1->text().toStdString());
    setting_ = false;
    if (message) {
        ShowMessage(*message);
    }
}

} // namespace admin
