#include "app/OperationRecords.h"

#include "text/Gbk.h"

namespace app {

std::vector<OperationRecord> RecordsOf(const std::deque<OperationRecord>& records,
                                       const std::string& baseId, const std::string& handheld) {
    std::vector<OperationRecord> rows;
    for (const OperationRecord& record : records) {
        OperationRecord row{text::Trim(record.BaseId), text::Trim(record.Handheld), record.Type,
                            record.Data};
        if (row.BaseId == baseId && row.Handheld == handheld) {
            rows.push_back(std::move(row));
        }
    }
    return rows;
}

} // namespace app
