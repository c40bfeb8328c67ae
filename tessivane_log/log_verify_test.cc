#include "log_verify.h"

#include <gtest/gtest.h>

#include <ctime>
#include <string>
#include <utility>
#include <vector>

#include "common/files.h"
#include "common/scratch.h"
#include "log_db.h"
#include "seal_chain.h"

namespace {

struct walk_s {
    verify_e verdict = verify_e::cannot_check;
    std::string report;
    std::vector<std::pair<int64_t, entry_status_e>> statuses;
};

walk_s verify_in_slices(const std::string& path, const verification_key_s& key, int64_t slice_ms) {
    log_db_s log;
    EXPECT_EQ(open_log_db_quiet(log, path.c_str(), SQLITE_OPEN_READONLY), SQLITE_OK);
    walk_s walk;
    verify_report_s report;
    std::string why;
    walk.verdict = verify_log(
        log, {key}, report, why,
        [&walk](sqlite3_stmt* row, entry_status_e status) {
        if (row)
            walk.statuses.emplace_back(sqlite3_column_int64(row, 0), status);
        },
        slice_ms);
    walk.report = format_report(report, walk.verdict == verify_e::pass) + why;
    return walk;
}

// Cut into slices at every step, the walk judges every entry as one read of the whole log
// does: no seal is skipped or taken twice where a slice ends, also around deleted entries.
TEST(LogVerify, SlicesJudgeEveryEntryAsOneReadDoes) {
    scratch_dir_s dir("log_verify");
    ASSERT_TRUE(dir.ok());
    const std::string path = dir.file("logs");
    setup_result_s setup;
    {
        log_db_s log;
        ASSERT_EQ(open_log_db_quiet(log, path.c_str(), SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE),
                  SQLITE_OK);
        sqlite3_exec(log.db.get(),
                     "CREATE TABLE logs(date INTEGER, text1 TEXT, text2 TEXT, text3 TEXT, "
                     "message TEXT); INSERT INTO logs VALUES(1000, 'a', 'K2', 'e', 'm'), "
                     "(1001, 'b', 'K2', 'e', 'm')",
                     nullptr, nullptr, nullptr);
        ASSERT_EQ(
            setup_sealing(log.db.get(), key_file_path(path), 900, false, time(nullptr), setup),
            setup_e::done);
        for (const char* who : {"c", "d", "e", "f"})
            ASSERT_TRUE(append_entry(log, make_entry(time(nullptr), who, "K2", "e", "m")));
    }
    const std::string pristine = read_file(path);
    const char* tamperings[] = {
        "",
        "UPDATE logs SET message = 'x' WHERE rowid = 3",
        "DELETE FROM logs WHERE rowid IN (2, 3)",
        "DELETE FROM logs WHERE rowid = 3; DELETE FROM seals WHERE log_rowid = 3",
        "DELETE FROM logs WHERE rowid >= 5",
        "DELETE FROM logs WHERE rowid = 6; INSERT INTO logs VALUES(1000, 'i', 'K2', 'e', 'm')",
        "INSERT INTO logs(rowid, date, text1) VALUES(-1, 1, 'first')",
        "DELETE FROM seals WHERE seq = 1",
    };
    for (const char* sql : tamperings) {
        SCOPED_TRACE(sql);
        ASSERT_TRUE(write_file(path, pristine));
        {
            log_db_s log;
            ASSERT_EQ(open_log_db_quiet(log, path.c_str(), SQLITE_OPEN_READWRITE), SQLITE_OK);
            ASSERT_EQ(sqlite3_exec(log.db.get(), sql, nullptr, nullptr, nullptr), SQLITE_OK);
        }
        const walk_s whole = verify_in_slices(path, setup.key, INT64_MAX);
        const walk_s sliced = verify_in_slices(path, setup.key, 0);
        EXPECT_EQ(sliced.verdict, whole.verdict);
        EXPECT_EQ(sliced.report, whole.report);
        EXPECT_EQ(sliced.statuses, whole.statuses);
        EXPECT_EQ(whole.verdict, *sql ? verify_e::fail : verify_e::pass) << whole.report;
    }
}

}  // namespace
