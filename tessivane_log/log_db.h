// The audit log database: one connection per command, one statement per connection.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <ctime>

#include "log_entry.h"

inline constexpr char PSTMT_INSERT_LINE[] = "INSERT INTO `logs` VALUES(?,?,?,?,?)";
inline constexpr char PSTMT_SEARCH_ALL[] = "SELECT * FROM `logs` ORDER BY date DESC LIMIT ?";
inline constexpr char PSTMT_SEARCH_RANGE[] =
    "SELECT * FROM `logs` WHERE date BETWEEN ? AND ? ORDER BY date DESC LIMIT ?";

struct log_db_s {
    sqlite3* db = nullptr;
    time_t deadline = 0;  // read by the busy handler for as long as db is open
};

// Opens an existing database read-write; never creates it (a missing file stays missing and is
// reported). Installs the busy handler that retries once a second until 10 s after this call.
// On failure prints "db::open() failed <path>, <code> \n" on standard output and returns false;
// nothing is left open.
bool open_log_db(log_db_s& log, const char* path);
void close_log_db(log_db_s& log);

// Inserts one entry. Returns false, after one line naming the SQLite cause on standard error,
// when the entry was not stored (table missing, still locked at the deadline, read-only, full).
bool append_entry(log_db_s& log, const log_entry_s& entry);

// Print the matching rows newest first, one line each, flushing standard output after every row.
// A failing statement is reported on standard error; the rows printed before it stay printed.
void search_all(log_db_s& log, int32_t limit);
void search_range(log_db_s& log, int64_t from, int64_t to, int32_t limit);
