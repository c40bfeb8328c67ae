// export: a consistent copy of the database, or every entry with its seal status as CSV or
// JSON Lines, for inspectors and for verifying on another machine.
#pragma once

#include <sqlite3.h>

#include <string>
#include <vector>

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

// Copies the database db with SQLite's online backup into a new file that replaces file
// (file_replace), so a copy is whole or absent. False with why set on failure; refuses to
// overwrite the database itself.
bool export_database(sqlite3* db, const std::string& db_path, const std::string& file,
                     std::string& why);

enum class export_format_e { csv, jsonl };

// Writes every entry with its status as verify judges it (verify_log with keys) to file,
// replacing it whole. report receives verify's findings. False with why set when the log cannot
// be read or the file cannot be written; the entries' statuses never make it fail.
bool export_entries(sqlite3* db, const std::vector<verification_key_s>& keys,
                    export_format_e format, const std::string& file, verify_report_s& report,
                    std::string& why);
