#include "desktop/xinxi.h"

#include "desktop/Icons.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace desktop {

Tfrm_tishi::Tfrm_tishi(QWidget* parent)
    : QDialog(parent), Label1(new QLabel(this)),
      btn_Start(new QPushButton(QString::fromUtf8("开始"), this)),
      btn_Cancel(new QPushButton(QString::fromUtf8("取消"), this)) {
    setWindowTitle(QString::fromUtf8("提示"));
    setWindowIcon(ProgramIcon());
    setModal(true);
    Label1->setText(
        QString::fromUtf8("现在将需要更新菜库的PDA开机,在此\n之前开机的,请重新开关机."));
    QFont font = Label1->font();
    font.setPointSizeF(font.pointSizeF() * 1.25);
    Label1->setFont(font);
    QPalette red = Label1->palette();
    red.setColor(QPalette::WindowText, Qt::red);
    Label1->setPalette(red);
    btn_Start->setDefault(true);
    connect(btn_Start, &QPushButton::clicked, this, &QDialog::accept);
    connect(btn_Cancel, &QPushButton::clicked, this, &QDialog::reject);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(btn_Start);
    buttons->addWidget(btn_Cancel);
    buttons->addStretch();
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 20, 24, 16);
    layout->setSpacing(18);
    layout->addWidget(Label1);
    layout->addLayout(buttons);
    setFixedSize(sizeHint());
}

} // namespace desktop
