#include "log_row.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <string>

#include "log_db.h"

namespace {

void use_zone(const char* tz) {
    setenv("TZ", tz, 1);
    tzset();
}

// The search line of "SELECT <values>" from an in-memory database.
std::string line_of(const std::string& values, const char* unknown = "?%d") {
    sqlite3* raw = nullptr;
    sqlite3_open(":memory:", &raw);
    const db_ptr db(raw);
    const stmt_ptr row = prepare_statement(db.get(), ("SELECT " + values).c_str());
    EXPECT_TRUE(row && sqlite3_step(row.get()) == SQLITE_ROW) << values;
    return row ? format_row(row.get(), unknown) : "";
}

// Rows inserted by other software can hold any 64-bit value; none may garble or crash the line.
TEST(LogRow, TimesOutsideTheUsualRangeStillFormat) {
    use_zone("UTC0");
    EXPECT_EQ(format_local_time(-1), "19691231 23:59:59");
    EXPECT_EQ(format_local_time(INT64_MAX), "9223372036854775807");
    EXPECT_EQ(format_local_time(INT64_MIN), "-9223372036854775808");
    EXPECT_EQ(format_utc_time(0), "1970-01-01T00:00:00Z");
    EXPECT_EQ(format_utc_time(INT64_MAX), "9223372036854775807");
}

// A date that fits in 32 bits reads as unsigned seconds; only wider values carry a sign.
TEST(LogRow, DatesPrintInLocalTimeAndPast2038) {
    use_zone("UTC0");
    EXPECT_EQ(line_of("1700000000, 'a', 'b', 'c', 'd'"), "20231114 22:13:20,a,b,c,d\n");
    EXPECT_EQ(line_of("4102444800, 'e'"), "21000101 00:00:00,e\n");
    EXPECT_EQ(line_of("2147483648, 'i'"), "20380119 03:14:08,i\n");
    EXPECT_EQ(line_of("-1, 'm'"), "21060207 06:28:15,m\n");
    EXPECT_EQ(line_of("-2147483648, 'q'"), "20380119 03:14:08,q\n");
    EXPECT_EQ(line_of("-2147483649, 'u'"), "19011213 20:45:51,u\n");
    use_zone("IST-5:30");
    EXPECT_EQ(line_of("4102444800, 'e'"), "21000101 05:30:00,e\n");
    use_zone("UTC0");
}

TEST(LogRow, ValuesKeepOneRowPerLine) {
    use_zone("UTC0");
    EXPECT_EQ(line_of("50, 'two' || char(10) || 'lines' || char(13), 7"),
              "19700101 00:00:50,two\\nlines\\r,7\n");
    EXPECT_EQ(line_of("NULL, NULL, 2.5, x'01'", "<%d>"), "<5>,<5>,<2>,<4>\n");
}

}  // namespace
