#include "log_row.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <ctime>

namespace {

// Rows inserted by other software can hold any 64-bit value; none may garble or crash the line.
TEST(LogRow, TimesOutsideTheUsualRangeStillFormat) {
    setenv("TZ", "UTC0", 1);
    tzset();
    EXPECT_EQ(format_local_time(-1), "19691231 23:59:59");
    EXPECT_EQ(format_local_time(INT64_MAX), "9223372036854775807");
    EXPECT_EQ(format_local_time(INT64_MIN), "-9223372036854775808");
}

}  // namespace
