// Tfrm_OpLog: the operation record viewer, a modal list of one handheld's operation records.
#pragma once

#include <QDialog>
#include <string>
#include <vector>

class QPushButton;
class QTableWidget;

namespace desktop {

// One operation record: four GBK texts.
struct OperationRecord {
    std::string BaseId;
    std::string Handheld; // three digits
    std::string Type;
    std::string Data;
};

class Tfrm_OpLog : public QDialog {
    Q_OBJECT
public:
    explicit Tfrm_OpLog(QWidget* parent = nullptr);

    // Writes the record into the last row (running number, the trimmed base-station ID and
    // handheld number, type and data) and adds a new empty row below it.
    void AddRecord(const OperationRecord& record);

    QTableWidget* StringGrid1;
    QPushButton* btn_OK; // "确定"
};

// The records of one handheld: base-station ID and handheld number, trimmed, equal the given
// texts exactly (letter case counts). Opens the viewer modally with them.
void ShowOperationRecords(QWidget* parent, const std::vector<OperationRecord>& records,
                          const std::string& baseId, const std::string& handheld);

} // namespace desktop
