#include "text/Decimal.h"

#include <gtest/gtest.h>
#include <stdexcept>

using namespace text;

TEST(Decimal, ReadsDigitsUnderTheCallersRule) {
    EXPECT_EQ(ParseDecimal("-2147483648"), -2147483648LL);
    EXPECT_EQ(ParseDecimal("+0042"), 42);
    const DecimalRule digitsOnly{false, 0, 999};
    EXPECT_EQ(ParseDecimal("007", digitsOnly), 7);
    for (const char* bad :
         {"", "-", "2147483648", "1x", " 5", "5\n", "- 5", "99999999999999999999"}) {
        EXPECT_THROW(ParseDecimal(bad), std::invalid_argument) << bad;
    }
    for (const char* bad : {"+5", "-0", "1000"}) {
        EXPECT_THROW(ParseDecimal(bad, digitsOnly), std::invalid_argument) << bad;
    }
}

TEST(Decimal, ZeroPaddedKeepsLongerNumbersWhole) {
    EXPECT_EQ(ZeroPadded(5, 3), "005");
    EXPECT_EQ(ZeroPadded(256, 2), "256");
    EXPECT_EQ(ZeroPadded(-5, 3), "-005");
}
