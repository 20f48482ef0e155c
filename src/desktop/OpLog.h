// Tfrm_OpLog: the operation record viewer, a modal list of one handheld's operation records.
#pragma once

#include "app/OperationRecords.h"

#include <QDialog>
#include <vector>

class QPushButton;
class QTableWidget;

namespace desktop {

class Tfrm_OpLog : public QDialog {
    Q_OBJECT
public:
    explicit Tfrm_OpLog(QWidget* parent = nullptr);

    // Adds the record as a new last row: running number, base-station ID, handheld number, type
    // with "请求" or "回复", and data. Every cell's tip holds the type and the whole data; the
    // rows of answers are tinted.
    void AddRecord(const app::OperationRecord& record);

    QTableWidget* StringGrid1;
    QPushButton* btn_OK; // "确定"
};

// Opens the viewer modally with the rows of one handheld; it is discarded when it closes.
void ShowOperationRecords(QWidget* parent, const std::vector<app::OperationRecord>& rows);

} // namespace desktop
