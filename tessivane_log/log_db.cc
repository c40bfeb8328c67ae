#include "log_db.h"

#include <time.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "log_row.h"
#include "seal_chain.h"
#include "seal_key.h"

namespace {

int64_t now_ms() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

int retry_until_deadline(void* deadline, int retry) {
    const int64_t wait = busy_wait_ms(retry, *static_cast<const int64_t*>(deadline) - now_ms());
    if (wait == 0)
        return 0;
    const timespec pause{static_cast<time_t>(wait / 1000),
                         static_cast<long>(wait % 1000) * 1000000};
    nanosleep(&pause, nullptr);
    return 1;
}

stmt_ptr prepare(sqlite3* db, const char* sql, const char* what) {
    stmt_ptr stmt = prepare_statement(db, sql);
    if (!stmt)
        report_db_failure(what, db);
    return stmt;
}

// Steps stmt to its end, printing every row; reports a statement that stops with an error.
void print_rows(sqlite3* db, sqlite3_stmt* stmt, const char* unknown_type_format) {
    int rc;
    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
        const std::string line = format_row(stmt, unknown_type_format);
        std::fwrite(line.data(), 1, line.size(), stdout);
        std::fflush(stdout);
    }
    if (rc != SQLITE_DONE)
        report_db_failure("search", db);
}

}  // namespace

stmt_ptr prepare_statement(sqlite3* db, const char* sql) {
    sqlite3_stmt* raw = nullptr;
    sqlite3_prepare_v2(db, sql, -1, &raw, nullptr);
    return stmt_ptr(raw);
}

void report_db_failure(const char* what, sqlite3* db) {
    std::fprintf(stderr, "db::%s() failed: %s\n", what, sqlite3_errmsg(db));
}

int64_t busy_wait_ms(int retry, int64_t left_ms) {
    if (left_ms <= 0)
        return 0;
    const int64_t grown = int64_t{1} << std::clamp(retry, 0, 20);
    return std::min({grown, kLongestBusyWaitMs, left_ms});
}

void renew_busy_deadline(log_db_s& log) {
    log.deadline_ms = now_ms() + kBusyDeadlineMs;
}

read_slice_s::read_slice_s(log_db_s& log, int64_t length_ms)
    : log_(log), length_ms_(length_ms), start_ms_(now_ms()) {}

bool read_slice_s::over() {
    // A step of a walk takes a microsecond or two; the clock every 32 keeps its cost out of sight.
    return length_ms_ <= 0 || (++calls_ % 32 == 0 && now_ms() - start_ms_ >= length_ms_);
}

void read_slice_s::next() {
    start_ms_ = now_ms();
    renew_busy_deadline(log_);
}

key_range_reader_s::key_range_reader_s(sqlite3* db, const char* sql, const char* last_sql)
    : stmt_(prepare_statement(db, sql)) {
    const stmt_ptr last = prepare_statement(db, last_sql);
    if (!stmt_ || !last || sqlite3_step(last.get()) != SQLITE_ROW)
        return;
    ok_ = true;
    done_ = sqlite3_column_type(last.get(), 0) == SQLITE_NULL;
    last_ = sqlite3_column_int64(last.get(), 0);
}

int key_range_reader_s::step() {
    if (done_ || (at_last_ && !running_)) {
        done_ = true;
        return SQLITE_DONE;
    }
    if (!running_) {
        sqlite3_reset(stmt_.get());
        sqlite3_bind_int64(stmt_.get(), 1, next_);
        sqlite3_bind_int64(stmt_.get(), 2, last_);
        running_ = true;
    }
    const int rc = sqlite3_step(stmt_.get());
    if (rc == SQLITE_ROW) {
        current_ = sqlite3_column_int64(stmt_.get(), 0);
        // The last key may be INT64_MAX: the next one is only taken below it.
        at_last_ = current_ >= last_;
        next_ = at_last_ ? current_ : current_ + 1;
    } else if (rc == SQLITE_DONE) {
        done_ = true;
        running_ = false;
    }
    return rc;
}

void key_range_reader_s::pause(bool again) {
    if (!running_)
        return;
    sqlite3_reset(stmt_.get());
    running_ = false;
    if (again) {
        next_ = current_;
        at_last_ = false;
    }
}

bool open_log_db(log_db_s& log, const char* path) {
    const int rc = open_log_db_quiet(log, path, SQLITE_OPEN_READWRITE);
    if (rc != SQLITE_OK) {
        std::printf("db::open() failed %s, %d \n", path, rc);
        std::fflush(stdout);
        return false;
    }
    return true;
}

int open_log_db_quiet(log_db_s& log, const char* path, int flags) {
    log.deadline_ms = now_ms() + kBusyDeadlineMs;
    log.path = path;
    sqlite3* raw = nullptr;
    const int rc = sqlite3_open_v2(path, &raw, flags, nullptr);
    log.db.reset(raw);
    if (rc != SQLITE_OK) {
        log.db.reset();
        return rc;
    }
    sqlite3_busy_handler(raw, retry_until_deadline, &log.deadline_ms);
    return SQLITE_OK;
}

bool append_entry(log_db_s& log, const log_entry_s& e) {
    const stmt_ptr stmt = prepare(log.db.get(), PSTMT_INSERT_LINE, "append");
    if (!stmt)
        return false;
    auto bind_field = [&stmt](int index, const char* field, size_t size) {
        sqlite3_bind_text(stmt.get(), index, field, static_cast<int>(field_length(field, size)),
                          SQLITE_STATIC);
    };
    sqlite3_bind_int64(stmt.get(), 1, e.date);
    bind_field(2, e.text1, sizeof e.text1);
    bind_field(3, e.text2, sizeof e.text2);
    bind_field(4, e.text3, sizeof e.text3);
    bind_field(5, e.message, sizeof e.message);
    if (log_is_sealed(log.db.get()))
        return append_sealed(log.db.get(), stmt.get(), e.date, key_file_path(log.path));
    const bool stored = sqlite3_step(stmt.get()) == SQLITE_DONE;
    if (!stored)
        report_db_failure("append", log.db.get());
    return stored;
}

void search_all(log_db_s& log, int32_t limit) {
    const stmt_ptr stmt = prepare(log.db.get(), PSTMT_SEARCH_ALL, "search");
    if (!stmt)
        return;
    sqlite3_bind_int(stmt.get(), 1, limit);
    print_rows(log.db.get(), stmt.get(), "error: Not known type :%d\n");
}

void search_range(log_db_s& log, int64_t from, int64_t to, int32_t limit) {
    const stmt_ptr stmt = prepare(log.db.get(), PSTMT_SEARCH_RANGE, "search");
    if (!stmt)
        return;
    sqlite3_bind_int64(stmt.get(), 1, std::min(from, to));
    sqlite3_bind_int64(stmt.get(), 2, std::max(from, to));
    sqlite3_bind_int(stmt.get(), 3, limit);
    print_rows(log.db.get(), stmt.get(), "error: Unknown column type: %d\n");
}
