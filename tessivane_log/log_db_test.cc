#include "log_db.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

// Losing a round to another append must cost milliseconds, not seconds, and the deadline holds.
TEST(LogDb, BusyWaitsGrowFromOneMillisecondAndStopAtTheDeadline) {
    EXPECT_EQ(busy_wait_ms(0, kBusyDeadlineMs), 1);
    EXPECT_EQ(busy_wait_ms(1, kBusyDeadlineMs), std::min<int64_t>(2, kLongestBusyWaitMs));
    EXPECT_EQ(busy_wait_ms(30, kBusyDeadlineMs), kLongestBusyWaitMs);
    int64_t total = 0;
    int retries = 0;
    for (int64_t left = kBusyDeadlineMs; busy_wait_ms(retries, left) > 0; ++retries) {
        const int64_t wait = busy_wait_ms(retries, left);
        EXPECT_LE(wait, kLongestBusyWaitMs);
        total += wait;
        left -= wait;
    }
    EXPECT_EQ(total, kBusyDeadlineMs);
    EXPECT_EQ(busy_wait_ms(1000000, 1), 1);
    EXPECT_EQ(busy_wait_ms(INT32_MAX, kBusyDeadlineMs), kLongestBusyWaitMs);
    EXPECT_EQ(busy_wait_ms(0, 0), 0);
    EXPECT_EQ(busy_wait_ms(7, -3), 0);
}

}  // namespace
