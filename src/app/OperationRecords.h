// The operation records of the handhelds and the filter of their viewer. The table lives in the
// main controller, which adds a record for each accepted request and each answer sent.
#pragma once

#include <deque>
#include <string>
#include <vector>

namespace app {

struct OperationRecord {
    std::string BaseId;   // the base-station ID text
    std::string Handheld; // three digits
    std::string Type;
    std::string Data;
    bool Answer = false; // an answer sent to the handheld; else a request it sent
};

// The records of one handheld, in stored order: those whose base-station ID and handheld number,
// with blanks trimmed, equal the texts given exactly (letter case counts). The two texts come
// back trimmed.
std::vector<OperationRecord> RecordsOf(const std::deque<OperationRecord>& records,
                                       const std::string& baseId, const std::string& handheld);

} // namespace app
