#include "text/Decimal.h"

#include <gtest/gtest.h>
#include <limits>
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

TEST(Decimal, ReachesBothEndsOfTheWhole64BitRange) {
    const DecimalRule whole{true, std::numeric_limits<std::int64_t>::min(),
                            std::numeric_limits<std::int64_t>::max()};
    EXPECT_EQ(ParseDecimal("9223372036854775807", whole), std::numeric_limits<std::int64_t>::max());
    EXPECT_EQ(ParseDecimal("9223372036854775720", whole), 9223372036854775720LL);
    EXPECT_EQ(ParseDecimal("-9223372036854775808", whole),
              std::numeric_limits<std::int64_t>::min());
    EXPECT_EQ(ParseDecimal("-1000000000000000000", whole), -1000000000000000000LL);
    for (const char* bad :
         {"9223372036854775808", "-9223372036854775809", "18446744073709551616"}) {
        EXPECT_THROW(ParseDecimal(bad, whole), std::invalid_argument) << bad;
    }
}

TEST(Decimal, ZeroPaddedKeepsLongerNumbersWhole) {
    EXPECT_EQ(ZeroPadded(5, 3), "005");
    EXPECT_EQ(ZeroPadded(256, 2), "256");
    EXPECT_EQ(ZeroPadded(-5, 3), "-005");
}
