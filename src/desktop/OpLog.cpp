#include "desktop/OpLog.h"

#include "desktop/Icons.h"
#include "widgetkit/QtText.h"

#include <QHeaderView>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace desktop {

using widgetkit::FromGbk;

namespace {

// Headers and widths of the grid's five columns; column 0 is the fixed column of row numbers.
struct Column {
    const char* header;
    int width;
};
constexpr Column kColumns[] = {{"", 20}, {"基站", 63}, {"手持", 57}, {"类型", 81}, {"数据", 172}};
constexpr int kDataColumn = 4;
constexpr int kWiderData = 260; // the dialog opens wider than the grid's columns, for the data

QTableWidgetItem* FixedCell(const QString& text) {
    auto* item = new QTableWidgetItem(text);
    item->setFlags(Qt::ItemIsEnabled);
    item->setBackground(QPalette().button());
    return item;
}

// Answers are told from requests by their type ("DL 回复") and a tinted row.
QString TypeText(const app::OperationRecord& record) {
    return FromGbk(record.Type) + QString::fromUtf8(record.Answer ? " 回复" : " 请求");
}

} // namespace

Tfrm_OpLog::Tfrm_OpLog(QWidget* parent)
    : QDialog(parent), StringGrid1(new QTableWidget(0, 5, this)),
      btn_OK(new QPushButton(QString::fromUtf8("确定"), this)) {
    setWindowTitle(QString::fromUtf8("操作记录"));
    setWindowIcon(ProgramIcon());
    setModal(true);
    StringGrid1->verticalHeader()->hide();
    StringGrid1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    StringGrid1->setWordWrap(false);
    StringGrid1->horizontalHeader()->setMinimumSectionSize(kColumns[0].width);
    StringGrid1->horizontalHeader()->setStretchLastSection(true); // the data takes the width
    int width = 0;
    for (int c = 0; c < 5; ++c) {
        StringGrid1->setHorizontalHeaderItem(
            c, new QTableWidgetItem(QString::fromUtf8(kColumns[c].header)));
        StringGrid1->setColumnWidth(c, kColumns[c].width);
        width += kColumns[c].width;
    }
    StringGrid1->setMinimumWidth(width + 2 * StringGrid1->frameWidth() + 20);
    connect(btn_OK, &QPushButton::clicked, this, &QDialog::accept);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(StringGrid1);
    layout->addWidget(btn_OK, 0, Qt::AlignHCenter);
    resize(sizeHint().width() + kWiderData, 300);
}

void Tfrm_OpLog::AddRecord(const app::OperationRecord& record) {
    const int row = StringGrid1->rowCount();
    StringGrid1->insertRow(row);
    StringGrid1->setItem(row, 0, FixedCell(QString::number(row + 1)));
    const QString cells[] = {FromGbk(record.BaseId), FromGbk(record.Handheld), TypeText(record),
                             FromGbk(record.Data)};
    const QString whole = cells[2] + QLatin1Char('\n') + cells[3]; // the whole data, as a tip
    for (int c = 1; c <= kDataColumn; ++c) {
        auto* item = new QTableWidgetItem(cells[c - 1]);
        item->setToolTip(whole);
        if (record.Answer) {
            item->setBackground(QColor(0xE8, 0xF1, 0xFB));
        }
        StringGrid1->setItem(row, c, item);
    }
}

void ShowOperationRecords(QWidget* parent, const std::vector<app::OperationRecord>& rows) {
    Tfrm_OpLog dialog(parent);
    for (const app::OperationRecord& row : rows) {
        dialog.AddRecord(row);
    }
    dialog.exec();
}

} // namespace desktop
