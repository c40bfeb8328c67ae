// One result row of the log as the single text line other software reads.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <string>

// "%Y%m%d %H:%M:%S" in local time (TZ honoured); the plain number when the time cannot be
// broken down (a year beyond what struct tm holds).
std::string format_local_time(int64_t seconds);

// "YYYY-MM-DDTHH:MM:SSZ" (ISO 8601, UTC); the plain number when the time cannot be broken down.
std::string format_utc_time(int64_t seconds);

// The time a stored integer date stands for: a value that fits in 32 bits is read as unsigned,
// as it always was (entries stamped after 2038-01-19 by a 32-bit writer are stored wrapped to
// negative); wider values keep their sign.
int64_t stored_date_seconds(int64_t value);

// A line feed or carriage return inside a value becomes the two characters \n or \r, so one row
// stays one line; everything else is copied as is, up to the first zero byte.
void append_escaped_text(std::string& line, const unsigned char* text, size_t length);

// The current row of stmt: columns in order joined by ",", ended by a newline; an integer first
// column is a date shown in local time (a 32-bit value read as unsigned). A column of an
// unexpected storage class is replaced by unknown_type_format (one "%d" for the type code).
std::string format_row(sqlite3_stmt* stmt, const char* unknown_type_format);
