#include <gtest/gtest.h>

#include <cstdio>

#include "decimal_scan.h"

namespace {

TEST(DecimalScan, SignIsConsumedEvenWithoutDigits) {
    TextSource in("  -x");
    EXPECT_FALSE(scan_decimal(in));
    EXPECT_EQ(in.peek(), 'x');
    TextSource end("");
    EXPECT_FALSE(scan_decimal(end));
    TextSource two(" 12 -3");
    EXPECT_EQ(scan_decimal(two), 12);
    EXPECT_EQ(scan_decimal(two), -3);
    EXPECT_EQ(two.peek(), EOF);
}

}  // namespace
