#include "log_row.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstdlib>
#include <ctime>
#include <string>

namespace {

class LogRow : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("TZ", "UTC0", 1);
        tzset();
        ASSERT_EQ(sqlite3_open(":memory:", &db_), SQLITE_OK);
    }
    void TearDown() override { sqlite3_close(db_); }

    // The one row that sql selects, formatted.
    std::string row(const char* sql) {
        sqlite3_stmt* stmt = nullptr;
        EXPECT_EQ(sqlite3_prepare_v2(db_, sql, -1, &stmt, nullptr), SQLITE_OK);
        EXPECT_EQ(sqlite3_step(stmt), SQLITE_ROW);
        std::string line = format_row(stmt, "<%d>");
        sqlite3_finalize(stmt);
        return line;
    }

    sqlite3* db_ = nullptr;
};

TEST_F(LogRow, FormatsEachStorageClass) {
    EXPECT_EQ(row("SELECT 0, 'a', -5, NULL, 1.5, x'00'"), "19700101 00:00:00,a,-5,<5>,<2>,<4>\n");
}

TEST_F(LogRow, EscapesLineBreaksOnlyAndStopsAtZeroByte) {
    EXPECT_EQ(row("SELECT 'x' || char(10) || 'y' || char(13), 'back\\n', 'ab' || char(0) || 'cd'"),
              "x\\ny\\r,back\\n,ab\n");
}

TEST_F(LogRow, LocalTimeFollowsTz) {
    EXPECT_EQ(format_local_time(1700000000), "20231114 22:13:20");
    setenv("TZ", "IST-5:30", 1);
    tzset();
    EXPECT_EQ(format_local_time(1700000000), "20231115 03:43:20");
}

TEST_F(LogRow, TimesPast2038StayRight) {
    EXPECT_EQ(format_local_time(2147483648LL), "20380119 03:14:08");
    EXPECT_EQ(format_local_time(4102444800LL), "21000101 00:00:00");
    EXPECT_EQ(format_local_time(-1), "19691231 23:59:59");
    EXPECT_EQ(format_local_time(INT64_MAX), "9223372036854775807");
}

}  // namespace
