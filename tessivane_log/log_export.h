// export: a consistent copy of the database, or every entry with its seal status as CSV or
// JSON Lines, for inspectors and for verifying on another machine.
#pragma once

#include <sqlite3.h>

#include <string>
#include <vector>

#include "log_db.h"
#include "log_verify.h"
#include "seal_key.h"

// RFC 4180: the field as is, or in double quotes (quotes doubled) when it holds a comma, a
// double quote, a carriage return or a line feed.
void append_csv_field(std::string& line, const std::string& field);

// Whether bytes are well-formed UTF-8 (no overlong forms, no surrogates, nothing past
// U+10FFFF).
bool is_valid_utf8(const std::string& bytes);

// bytes with every byte that is not part of well-formed UTF-8 replaced by U+FFFD.
std::string to_valid_utf8(const std::string& bytes);

// One entry as CSV (ended by CR LF) or as one JSON object (ended by LF). row is the current
// row of "SELECT rowid, * FROM logs": the row id, then date and the four text fields. The time
// is ISO 8601 UTC when the date is an integer, else the stored value as text; a JSON value that
// is not valid UTF-8 is written with U+FFFD for the bad bytes and its exact bytes in hex in a
// member "<name>_hex" after it.
std::string csv_entry(sqlite3_stmt* row, entry_status_e status);
std::string json_entry(sqlite3_stmt* row, entry_status_e status);

// The CSV header line (CR LF ended).
extern const char kCsvHeader[];

// Copies the log into a new file that replaces file (file_replace), so a copy is whole or
// absent, while appends go on: with SQLite's online backup a few pages at a time, or, when
// appends keep making the backup start again, table by table in slices (copy_by_rows). False
// with why set on failure; refuses to overwrite the database itself.
bool export_database(log_db_s& log, const std::string& file, std::string& why);

// The copy export_database falls back on, into the empty database copy_path: the source's
// encoding, page size and version numbers, every table with its rows and their row ids (each
// table up to the row that was its last when the copy began, in slices; a table without row
// ids whole), then its indexes, views and triggers. The statistics of ANALYZE are left out.
// False with why set on failure, also for a log holding a virtual table.
bool copy_by_rows(log_db_s& log, const std::string& copy_path, std::string& why);

enum class export_format_e { csv, jsonl };

// Writes every entry with its status as verify judges it (verify_log with keys) to file,
// replacing it whole; the log is read in slices as verify reads it, up to the entry that was
// last when the export began. report receives verify's findings. False with why set when the
// log cannot be read or the file cannot be written; the entries' statuses never make it fail.
bool export_entries(log_db_s& log, const std::vector<verification_key_s>& keys,
                    export_format_e format, const std::string& file, verify_report_s& report,
                    std::string& why);
