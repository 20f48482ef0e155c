#include "app/OperationRecords.h"

#include <gtest/gtest.h>

TEST(OperationRecords, TrimmedIdsMatchExactlyInStoredOrder) {
    const std::deque<app::OperationRecord> records{{" 0A ", "005 ", "DL", "a"},
                                                   {"0a", "005", "DL", "b"},
                                                   {"0A", "007", "DC", "c"},
                                                   {"0A", " 005", "TC", "d"}};
    const auto rows = app::RecordsOf(records, "0A", "005");
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].BaseId, "0A");
    EXPECT_EQ(rows[0].Handheld, "005");
    EXPECT_EQ(rows[0].Data, "a");
    EXPECT_EQ(rows[1].Type, "TC");
}
