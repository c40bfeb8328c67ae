// Runs the built tessivane_log against a database that each test builds by hand with SQLite.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "common/files.h"
#include "common/process.h"

namespace {

const std::string kDb = LOG_DB_PATH;

double seconds_since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

std::vector<std::string> split_lines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1) {
        lines.push_back(text.substr(start, nl - start));
    }
    return lines;
}

// hh:mm:ss of a time on 1970-01-12 (1,000,000 s after the epoch is 13:46:40).
std::string day12(int offset) {
    const int s = 13 * 3600 + 46 * 60 + 40 + offset;
    char buf[32];
    std::snprintf(buf, sizeof buf, "19700112 %02d:%02d:%02d", s / 3600, s / 60 % 60, s % 60);
    return buf;
}

class LogTool : public ::testing::Test {
protected:
    void SetUp() override {
        remove_db();
        std::filesystem::create_directories(std::filesystem::path(kDb).parent_path());
    }
    void TearDown() override { remove_db(); }

    static void remove_db() {
        std::remove(kDb.c_str());
        std::remove((kDb + "-journal").c_str());
    }

    static void exec(const std::string& sql, const std::string& path = kDb) {
        sqlite3* db = nullptr;
        ASSERT_EQ(
            sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr),
            SQLITE_OK);
        char* err = nullptr;
        const int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &err);
        EXPECT_EQ(rc, SQLITE_OK) << (err ? err : "");
        sqlite3_free(err);
        sqlite3_close(db);
    }

    static void create_table() {
        exec("CREATE TABLE logs(date INTEGER, who TEXT, what TEXT, where_ TEXT, message TEXT)");
    }

    // Rows offset = 0..count-1 at date 1000000 + offset, inserted in a scrambled order.
    static void insert_rows(int count) {
        exec(
            "INSERT INTO logs WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n "
            "WHERE i + 1 < " +
            std::to_string(count) +
            ") "
            "SELECT 1000000 + (i * 7919) % " +
            std::to_string(count) + ", 'u' || ((i * 7919) % " + std::to_string(count) +
            "), 'd', 'e', 'm' FROM n");
    }

    // Every stored row as "typeof(date):date|text1|text2|text3|message", in insertion order.
    static std::vector<std::string> stored_rows(const std::string& path = kDb) {
        std::vector<std::string> rows;
        sqlite3* db = nullptr;
        sqlite3_stmt* st = nullptr;
        if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK &&
            sqlite3_prepare_v2(db, "SELECT * FROM logs ORDER BY rowid", -1, &st, nullptr) ==
                SQLITE_OK) {
            while (sqlite3_step(st) == SQLITE_ROW) {
                std::string row = sqlite3_column_type(st, 0) == SQLITE_INTEGER ? "integer:" : "?:";
                for (int i = 0; i < 5; ++i) {
                    if (i > 0)
                        row += '|';
                    const unsigned char* text = sqlite3_column_text(st, i);
                    row += text ? reinterpret_cast<const char*>(text) : "NULL";
                }
                rows.push_back(row);
            }
        }
        sqlite3_finalize(st);
        sqlite3_close(db);
        return rows;
    }

    static run_result_s run(std::vector<std::string> args, const std::string& tz = "UTC0") {
        args.insert(args.begin(), LOG_TOOL);
        run_options_s opt;
        opt.set_env = {{"TZ", tz}};
        return run_program(args, opt);
    }
};

TEST_F(LogTool, VersionUsageAndUnknownCommand) {
    run_result_s r = run({"version"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "<tessivane_log> version : 1.3.5\n");

    r = run({});
    EXPECT_EQ(r.status, 246);
    EXPECT_EQ(r.out, std::string("Usage: ") + LOG_TOOL + " <command> [<options>]\n");

    r = run({"delete", "1"});
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.out + r.err, "");
}

TEST_F(LogTool, AppendStoresOneEntryStampedNow) {
    create_table();
    const long long before = time(nullptr);
    const run_result_s r = run({"append", "alice", "K2-0042", "login", "hello, world"});
    const long long after = time(nullptr);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out + r.err, "");
    const std::vector<std::string> rows = stored_rows();
    ASSERT_EQ(rows.size(), 1u);
    const long long stamped = std::stoll(rows[0].substr(rows[0].find(':') + 1));
    EXPECT_GE(stamped, before);
    EXPECT_LE(stamped, after);
    EXPECT_EQ(rows[0], "integer:" + std::to_string(stamped) + "|alice|K2-0042|login|hello, world");
}

TEST_F(LogTool, AppendWithWrongArgumentCountWritesNothing) {
    create_table();
    for (const auto& args : {std::vector<std::string>{"append", "a", "b", "c"},
                             std::vector<std::string>{"append", "a", "b", "c", "d", "e"}}) {
        const run_result_s r = run(args);
        EXPECT_EQ(r.status, 255);
        EXPECT_EQ(r.out + r.err, "");
    }
    EXPECT_TRUE(stored_rows().empty());
}

TEST_F(LogTool, AppendCutsFieldsAtTheirSizes) {
    create_table();
    const std::string a(100, 'a'), b(64, 'b'), c(65, 'c'), m(600, 'm');
    ASSERT_EQ(run({"append", a, b, c, m}).status, 0);
    const std::vector<std::string> rows = stored_rows();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].substr(rows[0].find('|')),
              "|" + a.substr(0, 64) + "|" + b + "|" + c.substr(0, 64) + "|" + m.substr(0, 512));
}

TEST_F(LogTool, MissingDatabaseIsReportedAndStaysMissing) {
    const std::string line = "db::open() failed " + kDb + ", 14 \n";
    run_result_s r = run({"append", "a", "b", "c", "d"});
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.out, line);
    for (const auto& args : {std::vector<std::string>{"search_all"},
                             std::vector<std::string>{"search_by_date", "1", "2"}}) {
        r = run(args);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, line);
    }
    EXPECT_FALSE(file_exists(kDb));
}

TEST_F(LogTool, StatementFailuresNameTheCause) {
    exec("CREATE TABLE other(x)");
    run_result_s r = run({"append", "a", "b", "c", "d"});
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "db::append() failed: no such table: logs\n");

    r = run({"search_all"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "db::search() failed: no such table: logs\n");

    ASSERT_TRUE(write_file(kDb, std::string(4096, 'x')));
    r = run({"append", "a", "b", "c", "d"});
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.err, "db::append() failed: file is not a database\n");
    EXPECT_EQ(read_file(kDb), std::string(4096, 'x'));
}

TEST_F(LogTool, AppendToLockedDatabaseFailsAfterDeadline) {
    create_table();
    sqlite3* holder = nullptr;
    ASSERT_EQ(sqlite3_open(kDb.c_str(), &holder), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(holder, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);

    const time_t start = time(nullptr);
    const run_result_s r = run({"append", "a", "b", "c", "d"});
    const time_t took = time(nullptr) - start;
    sqlite3_exec(holder, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(holder);

    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.err, "db::append() failed: database is locked\n");
    EXPECT_GE(took, 9);
    EXPECT_LE(took, 13);
    EXPECT_TRUE(stored_rows().empty());
}

// A lock that is released well before the deadline must not cost the writer whole seconds.
TEST_F(LogTool, AppendGoesThroughSoonAfterALockIsReleased) {
    create_table();
    sqlite3* holder = nullptr;
    ASSERT_EQ(sqlite3_open(kDb.c_str(), &holder), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(holder, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
    const auto start = std::chrono::steady_clock::now();
    std::thread release([holder] {
        std::this_thread::sleep_for(std::chrono::milliseconds(1200));
        sqlite3_exec(holder, "ROLLBACK", nullptr, nullptr, nullptr);
    });
    const run_result_s r = run({"append", "a", "b", "c", "d"});
    const double took = seconds_since(start);
    release.join();
    sqlite3_close(holder);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(stored_rows().size(), 1u);
    EXPECT_GE(took, 1.2);
    EXPECT_LT(took, 1.7);
}

// Writers that only wait for each other's short appends all get through, and together they take
// about as long as the same appends made one after another.
TEST_F(LogTool, ConcurrentAppendsAreAllStoredWithoutSlowingDown) {
    exec(read_file(LOG_SCHEMA_FILE));
    constexpr int kWriters = 8;
    constexpr int kEach = 25;
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < kWriters * kEach; ++i) {
        ASSERT_EQ(run({"append", "alone", "x", "y", std::to_string(i)}).status, 0);
    }
    const double one_after_another = seconds_since(start);
    exec("DELETE FROM logs");

    // Bounded: a writer stops starting appends once the run is far beyond any sound figure.
    const double budget = 4 * one_after_another + 20;
    std::atomic<int> failed{0}, not_run{0};
    std::vector<std::thread> writers;
    start = std::chrono::steady_clock::now();
    for (int w = 0; w < kWriters; ++w) {
        writers.emplace_back([&, w] {
            for (int i = 0; i < kEach; ++i) {
                if (seconds_since(start) > budget) {
                    not_run += kEach - i;
                    return;
                }
                const run_result_s r =
                    run({"append", "w" + std::to_string(w), "x", "y", std::to_string(i)});
                if (r.status != 0 || !r.err.empty())
                    ++failed;
            }
        });
    }
    for (std::thread& t : writers)
        t.join();
    const double together = seconds_since(start);

    EXPECT_EQ(failed, 0);
    EXPECT_EQ(not_run, 0);
    std::set<std::string> stored;
    for (const std::string& row : stored_rows())
        stored.insert(row.substr(row.find('|')));
    for (int w = 0; w < kWriters; ++w) {
        for (int i = 0; i < kEach; ++i) {
            EXPECT_EQ(stored.count("|w" + std::to_string(w) + "|x|y|" + std::to_string(i)), 1u)
                << "writer " << w << " entry " << i;
        }
    }
    EXPECT_EQ(stored.size(), static_cast<size_t>(kWriters * kEach));
    EXPECT_LT(together, 1.25 * one_after_another + 0.5)
        << "one after another " << one_after_another << " s, together " << together << " s";
}

TEST_F(LogTool, SearchAllPrintsNewestFirstWithDefaultLimit) {
    create_table();
    insert_rows(150);
    run_result_s r = run({"search_all"});
    EXPECT_EQ(r.status, 0);
    std::vector<std::string> lines = split_lines(r.out);
    ASSERT_EQ(lines.size(), 100u);
    for (int k = 0; k < 100; ++k) {
        EXPECT_EQ(lines[k], day12(149 - k) + ",u" + std::to_string(149 - k) + ",d,e,m");
    }
    EXPECT_EQ(split_lines(run({"search_all", " 3"}).out).size(), 3u);
}

TEST_F(LogTool, SearchByDateIsClosedRangeInEitherOrder) {
    create_table();
    insert_rows(1100);
    const std::string newest = day12(1099) + ",u1099,d,e,m\n";
    const std::string expected =
        day12(20) + ",u20,d,e,m\n" + day12(19) + ",u19,d,e,m\n" + day12(18) + ",u18,d,e,m\n";
    EXPECT_EQ(run({"search_by_date", "1000018", "1000020"}).out, expected);
    EXPECT_EQ(run({"search_by_date", "1000020", "1000018"}).out, expected);
    EXPECT_EQ(run({"search_by_date", "1000018", "1000020", "1"}).out, day12(20) + ",u20,d,e,m\n");

    const run_result_s all = run({"search_by_date", "0", "2000000"});
    EXPECT_EQ(all.status, 0);
    EXPECT_EQ(split_lines(all.out).size(), 1000u);
    EXPECT_EQ(all.out.substr(0, newest.size()), newest);

    const run_result_s one_bound = run({"search_by_date", "1000018"});
    EXPECT_EQ(one_bound.status, 255);
    EXPECT_EQ(one_bound.out + one_bound.err, "");
}

TEST_F(LogTool, EmptyTablePrintsNothing) {
    create_table();
    for (const auto& args : {std::vector<std::string>{"search_all"},
                             std::vector<std::string>{"search_by_date", "0", "4294967295"}}) {
        const run_result_s r = run(args);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out + r.err, "");
    }
}

// The formats themselves are pinned in log_row_test.cc; here the zone and 64-bit bounds.
TEST_F(LogTool, PrintsTimesInLocalZoneAndPast2038) {
    create_table();
    exec(
        "INSERT INTO logs VALUES(1700000000, 'a', 'b', 'c', 'd'), (4102444800, 'e', 'f', 'g', 'h'),"
        "(2147483648, 'i', 'j', 'k', 'l')");
    EXPECT_EQ(run({"search_all", "1"}, "IST-5:30").out, "21000101 05:30:00,e,f,g,h\n");
    EXPECT_EQ(run({"search_by_date", "4102444800", "2147483648"}).out,
              "21000101 00:00:00,e,f,g,h\n20380119 03:14:08,i,j,k,l\n");
}

TEST_F(LogTool, OddValuesKeepOneRowPerLine) {
    create_table();
    ASSERT_EQ(run({"append", "a", "b", "c", "two\nlines\r"}).status, 0);
    EXPECT_EQ(stored_rows()[0].substr(stored_rows()[0].find('|')), "|a|b|c|two\nlines\r");
    const std::string printed = run({"search_all"}).out;
    EXPECT_EQ(printed.substr(printed.find(',')), ",a,b,c,two\\nlines\\r\n");

    // Columns without a declared type keep whatever storage class other software put there.
    exec(
        "DROP TABLE logs; CREATE TABLE logs(date, a, b, c, d);"
        "INSERT INTO logs VALUES(50, NULL, 7, 2.5, x'01')");
    EXPECT_EQ(run({"search_by_date", "0", "100"}).out,
              "19700101 00:00:50,error: Unknown column type: 5\n,7,"
              "error: Unknown column type: 2\n,error: Unknown column type: 4\n\n");
    exec("UPDATE logs SET date = NULL");
    EXPECT_EQ(run({"search_all"}).out,
              "error: Not known type :5\n,error: Not known type :5\n,7,"
              "error: Not known type :2\n,error: Not known type :4\n\n");
}

TEST_F(LogTool, ShippedSchemaServesTheTool) {
    exec(read_file(LOG_SCHEMA_FILE));
    ASSERT_EQ(run({"append", "a", "b", "c", "d"}).status, 0);
    EXPECT_EQ(split_lines(run({"search_all"}).out).size(), 1u);

    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(kDb.c_str(), &db), SQLITE_OK);
    for (const char* sql : {"EXPLAIN QUERY PLAN SELECT * FROM `logs` ORDER BY date DESC LIMIT 100",
                            "EXPLAIN QUERY PLAN SELECT * FROM `logs` WHERE date BETWEEN 1 AND 2 "
                            "ORDER BY date DESC LIMIT 100"}) {
        sqlite3_stmt* st = nullptr;
        ASSERT_EQ(sqlite3_prepare_v2(db, sql, -1, &st, nullptr), SQLITE_OK);
        std::string plan;
        while (sqlite3_step(st) == SQLITE_ROW) {
            plan += reinterpret_cast<const char*>(sqlite3_column_text(st, 3));
        }
        sqlite3_finalize(st);
        EXPECT_NE(plan.find("USING INDEX logs_date"), std::string::npos) << plan;
    }
    sqlite3_close(db);
}

TEST_F(LogTool, CreateScriptMakesTheDatabaseOnlyOnce) {
    const std::string db = std::string(SCRATCH_DIR) + "/product/logs/logs";
    std::filesystem::remove_all(SCRATCH_DIR);
    const std::vector<std::string> cmd = {"/bin/sh", CREATE_LOG_DB_SCRIPT, LOG_SCHEMA_FILE, db};
    ASSERT_EQ(run_program(cmd).status, 0);
    EXPECT_TRUE(stored_rows(db).empty());
    EXPECT_EQ(std::filesystem::status(db).permissions() & std::filesystem::perms::all,
              std::filesystem::perms(0644));
    exec("INSERT INTO logs VALUES(1, 'a', 'b', 'c', 'd')", db);
    ASSERT_EQ(run_program(cmd).status, 0);
    EXPECT_EQ(stored_rows(db).size(), 1u);
    EXPECT_FALSE(file_exists(db + ".partial"));
}

}  // namespace
