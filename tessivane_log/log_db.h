// The audit log database: one connection per command, one statement per connection.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <memory>
#include <string>

#include "log_entry.h"

inline constexpr char PSTMT_INSERT_LINE[] = "INSERT INTO `logs` VALUES(?,?,?,?,?)";
inline constexpr char PSTMT_SEARCH_ALL[] = "SELECT * FROM `logs` ORDER BY date DESC LIMIT ?";
inline constexpr char PSTMT_SEARCH_RANGE[] =
    "SELECT * FROM `logs` WHERE date BETWEEN ? AND ? ORDER BY date DESC LIMIT ?";
// The entries of a walk (key_range_reader_s): the row id, then the values as stored.
inline constexpr char kEntriesInRangeSql[] =
    "SELECT rowid, * FROM logs WHERE rowid BETWEEN ?1 AND ?2 ORDER BY rowid";
inline constexpr char kLastEntrySql[] = "SELECT max(rowid) FROM logs";

// How long a locked database is waited for, counted from the open.
inline constexpr int64_t kBusyDeadlineMs = 10000;
// The longest single wait: a writer that lost a round to another short append looks again
// soon, so only a database held until the deadline makes an append fail. Longer waits leave the
// database idle between appends while every writer sleeps (with 20 ms, eight writers took four
// times as long as the same appends made one after another); a retry costs a few system calls.
inline constexpr int64_t kLongestBusyWaitMs = 2;

struct db_closer {
    void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
using db_ptr = std::unique_ptr<sqlite3, db_closer>;

struct stmt_finalizer {
    void operator()(sqlite3_stmt* stmt) const { sqlite3_finalize(stmt); }
};
using stmt_ptr = std::unique_ptr<sqlite3_stmt, stmt_finalizer>;

struct log_db_s {
    // Declared before db, so it outlives the connection whose busy handler reads it.
    int64_t deadline_ms = 0;  // on the monotonic clock
    std::string path;
    db_ptr db;
};

// Opens an existing database read-write; never creates it (a missing file stays missing and is
// reported). Installs the busy handler that retries until kBusyDeadlineMs after this call.
// On failure prints "db::open() failed <path>, <code> \n" on standard output and returns false;
// nothing is left open. The connection closes with log.
bool open_log_db(log_db_s& log, const char* path);

// The same with the given open flags and without the message, for the commands beyond the
// original four: returns the SQLite result code (SQLITE_OK when open); on failure nothing is
// left open.
int open_log_db_quiet(log_db_s& log, const char* path, int flags);

// Moves log's busy deadline to kBusyDeadlineMs from now, for each read of a long walk: it waits
// for a locked database as long as an append does, counted from that read's start.
void renew_busy_deadline(log_db_s& log);

// A walk over a log of any size reads in slices of at most kReadSliceMs, each its own read
// transaction (SQLite ends an autocommit read once no statement is active), so an append waits
// for one slice at most: the lock it takes to commit (PENDING) keeps the next slice from
// starting before it has committed.
inline constexpr int64_t kReadSliceMs = 5;

// The clock of a walk's slices.
class read_slice_s {
public:
    // length_ms 0 ends a slice at every call of over().
    explicit read_slice_s(log_db_s& log, int64_t length_ms = kReadSliceMs);
    // Whether the current slice has run its time (the clock is read every few calls).
    bool over();
    // Starts the next slice, with the busy deadline renewed; the caller has paused every
    // statement of the walk before.
    void next();

private:
    log_db_s& log_;
    int64_t length_ms_;
    int64_t start_ms_;
    unsigned calls_ = 0;
};

// Steps a query over keys in ascending order across the slices of a walk. sql binds the first
// key to read as ?1 and the last as ?2 and gives the key (a row id) in column 0; last_sql gives
// the walk's last key (null: nothing to read), read at construction so that the caller can fix
// the ends of several readers in one read transaction. Rows added past that key while the walk
// goes on are left out; rows before it are read as they are when their slice reads them.
class key_range_reader_s {
public:
    key_range_reader_s(sqlite3* db, const char* sql, const char* last_sql);
    // False when a statement could not be prepared or last_sql failed (cause in sqlite3_errmsg).
    bool ok() const { return ok_; }
    // SQLITE_ROW with row() current, SQLITE_DONE past the last key, or the SQLite error code.
    int step();
    sqlite3_stmt* row() const { return stmt_.get(); }
    // Ends this reader's part of the read transaction. The next step reads on from the key after
    // the current row, or from the current row again when again is true.
    void pause(bool again = false);

private:
    stmt_ptr stmt_;
    bool ok_ = false;
    bool done_ = false;     // past the last key
    bool running_ = false;  // stepped since the last pause
    bool at_last_ = false;  // the current row has the last key
    int64_t next_ = INT64_MIN, last_ = 0, current_ = 0;
};

// A prepared statement, or null (the cause in sqlite3_errmsg(db)).
stmt_ptr prepare_statement(sqlite3* db, const char* sql);

// "db::<what>() failed: <SQLite message>" on standard error.
void report_db_failure(const char* what, sqlite3* db);

// The busy handler's schedule: how many milliseconds to wait before retry number `retry`
// (0 for the first) when left_ms remain before the deadline; 0 means give up. The waits grow
// from 1 ms, never pass kLongestBusyWaitMs and never reach past the deadline.
int64_t busy_wait_ms(int retry, int64_t left_ms);

// Inserts one entry, with its seal when the log is sealed (seal_chain.h). Returns false, after
// one line naming the SQLite cause on standard error, when the entry was not stored (table
// missing, still locked at the deadline, read-only, full).
bool append_entry(log_db_s& log, const log_entry_s& entry);

// Print the matching rows newest first, one line each, flushing standard output after every row.
// A failing statement is reported on standard error; the rows printed before it stay printed.
void search_all(log_db_s& log, int32_t limit);
void search_range(log_db_s& log, int64_t from, int64_t to, int32_t limit);
