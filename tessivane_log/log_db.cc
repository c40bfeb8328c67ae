#include "log_db.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "log_row.h"

namespace {

constexpr int kBusySeconds = 10;

int retry_until_deadline(void* deadline, int /*count*/) {
    if (time(nullptr) >= *static_cast<const time_t*>(deadline)) return 0;
    sleep(1);
    return 1;
}

void report_failure(const char* what, sqlite3* db) {
    std::fprintf(stderr, "db::%s() failed: %s\n", what, sqlite3_errmsg(db));
}

// Steps stmt to its end, printing every row; reports a statement that stops with an error.
void print_rows(sqlite3* db, sqlite3_stmt* stmt, const char* unknown_type_format) {
    int rc;
    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
        const std::string line = format_row(stmt, unknown_type_format);
        std::fwrite(line.data(), 1, line.size(), stdout);
        std::fflush(stdout);
    }
    if (rc != SQLITE_DONE) report_failure("search", db);
}

}  // namespace

bool open_log_db(log_db_s& log, const char* path) {
    log.deadline = time(nullptr) + kBusySeconds;
    const int rc = sqlite3_open_v2(path, &log.db, SQLITE_OPEN_READWRITE, nullptr);
    if (rc != SQLITE_OK) {
        std::printf("db::open() failed %s, %d \n", path, rc);
        std::fflush(stdout);
        close_log_db(log);
        return false;
    }
    sqlite3_busy_handler(log.db, retry_until_deadline, &log.deadline);
    return true;
}

void close_log_db(log_db_s& log) {
    sqlite3_close(log.db);
    log.db = nullptr;
}

bool append_entry(log_db_s& log, const log_entry_s& e) {
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(log.db, PSTMT_INSERT_LINE, -1, &stmt, nullptr) != SQLITE_OK) {
        report_failure("append", log.db);
        return false;
    }
    auto bind_field = [stmt](int index, const char* field, size_t size) {
        sqlite3_bind_text(stmt, index, field, static_cast<int>(field_length(field, size)),
                          SQLITE_STATIC);
    };
    sqlite3_bind_int64(stmt, 1, e.date);
    bind_field(2, e.text1, sizeof e.text1);
    bind_field(3, e.text2, sizeof e.text2);
    bind_field(4, e.text3, sizeof e.text3);
    bind_field(5, e.message, sizeof e.message);
    const bool stored = sqlite3_step(stmt) == SQLITE_DONE;
    if (!stored) report_failure("append", log.db);
    sqlite3_finalize(stmt);
    return stored;
}

void search_all(log_db_s& log, int32_t limit) {
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(log.db, PSTMT_SEARCH_ALL, -1, &stmt, nullptr) != SQLITE_OK) {
        report_failure("search", log.db);
        return;
    }
    sqlite3_bind_int(stmt, 1, limit);
    print_rows(log.db, stmt, "error: Not known type :%d\n");
    sqlite3_finalize(stmt);
}

void search_range(log_db_s& log, int64_t from, int64_t to, int32_t limit) {
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(log.db, PSTMT_SEARCH_RANGE, -1, &stmt, nullptr) != SQLITE_OK) {
        report_failure("search", log.db);
        return;
    }
    sqlite3_bind_int64(stmt, 1, std::min(from, to));
    sqlite3_bind_int64(stmt, 2, std::max(from, to));
    sqlite3_bind_int(stmt, 3, limit);
    print_rows(log.db, stmt, "error: Unknown column type: %d\n");
    sqlite3_finalize(stmt);
}
