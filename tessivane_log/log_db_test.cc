#include "log_db.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

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

// A walk that pauses after every row still reads every row once, in key order, from the
// lowest key to the last one there was when it began; rows added past that are left out,
// rows ahead of it are read as they are when it gets there.
TEST(LogDb, KeyRangeReaderGoesOnAfterEveryPauseUpToItsEnd) {
    sqlite3* raw = nullptr;
    sqlite3_open(":memory:", &raw);
    const db_ptr db(raw);
    auto exec = [&db](const char* sql) {
        EXPECT_EQ(sqlite3_exec(db.get(), sql, nullptr, nullptr, nullptr), SQLITE_OK) << sql;
    };
    exec(
        "CREATE TABLE t(v); INSERT INTO t(rowid, v) VALUES (-9223372036854775808, 'min'), "
        "(-5, 'a'), (7, 'b'), (9223372036854775807, 'max')");
    // during runs after the first row; again pauses so that the row is read once more.
    auto walk = [&](const char* during, bool again) {
        key_range_reader_s reader(db.get(),
                                  "SELECT rowid, v FROM t WHERE rowid BETWEEN ?1 AND ?2 "
                                  "ORDER BY rowid",
                                  "SELECT max(rowid) FROM t");
        EXPECT_TRUE(reader.ok());
        std::string seen;
        int rc;
        for (int n = 0; (rc = reader.step()) == SQLITE_ROW; ++n) {
            seen += reinterpret_cast<const char*>(sqlite3_column_text(reader.row(), 1));
            seen += ' ';
            if (n == 0 && during)
                exec(during);
            reader.pause(again && n % 2 == 0);
        }
        EXPECT_EQ(rc, SQLITE_DONE);
        EXPECT_EQ(reader.step(), SQLITE_DONE);
        return seen;
    };
    EXPECT_EQ(walk(nullptr, false), "min a b max ");
    EXPECT_EQ(walk(nullptr, true), "min min a a b b max max ");
    exec("DELETE FROM t WHERE v = 'max'");
    EXPECT_EQ(walk("INSERT INTO t(rowid, v) VALUES (8, 'past'), (3, 'ahead'); "
                   "DELETE FROM t WHERE rowid = -5",
                   false),
              "min ahead b ");
    exec("DELETE FROM t");
    EXPECT_EQ(walk(nullptr, false), "");
}

}  // namespace
