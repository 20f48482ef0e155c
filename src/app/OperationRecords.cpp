#include "app/OperationRecords.h"

#include "text/Gbk.h"

namespace app {

std::vector<OperationRecord> RecordsOf(const std::deque<OperationRecord>& records,
                                       const std::string& baseId, const std::string& handheld) {
    std::vector<OperationRecord> rows;
    for (const OperationRecord& record : records) {
        OperationRecord row = record;
        row.BaseId = text::Trim(record.BaseId);
        row.Handheld = text::Trim(record.Handheld);
        if (row.BaseId == baseId && row.Handheld == handheld) {
            rows.push_back(std::move(row));
        }
    }
    return rows;
}

} // namespace app
