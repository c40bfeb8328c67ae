#include "log_row.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace {

std::string format_time(int64_t seconds, bool local, const char* pattern) {
    const time_t t = static_cast<time_t>(seconds);
    tm parts{};
    char buf[256];
    if ((local ? localtime_r(&t, &parts) : gmtime_r(&t, &parts)) == nullptr ||
        std::strftime(buf, sizeof buf, pattern, &parts) == 0) {
        std::snprintf(buf, sizeof buf, "%" PRId64, seconds);
    }
    return buf;
}

}  // namespace

std::string format_local_time(int64_t seconds) {
    return format_time(seconds, true, "%Y%m%d %H:%M:%S");
}

std::string format_utc_time(int64_t seconds) {
    return format_time(seconds, false, "%Y-%m-%dT%H:%M:%SZ");
}

int64_t stored_date_seconds(int64_t value) {
    const bool wrapped = value < 0 && value >= INT32_MIN;
    return wrapped ? value + (int64_t{1} << 32) : value;
}

void append_escaped_text(std::string& line, const unsigned char* text, size_t length) {
    for (size_t i = 0; i < length && text[i] != '\0'; ++i) {
        const char c = static_cast<char>(text[i]);
        if (c == '\n') {
            line += "\\n";
        } else if (c == '\r') {
            line += "\\r";
        } else {
            line += c;
        }
    }
}

std::string format_row(sqlite3_stmt* stmt, const char* unknown_type_format) {
    std::string line;
    const int columns = sqlite3_column_count(stmt);
    char buf[64];
    for (int i = 0; i < columns; ++i) {
        if (i > 0)
            line += ',';
        const int type = sqlite3_column_type(stmt, i);
        if (type == SQLITE_INTEGER) {
            const int64_t value = sqlite3_column_int64(stmt, i);
            if (i == 0) {
                line += format_local_time(stored_date_seconds(value));
            } else {
                std::snprintf(buf, sizeof buf, "%" PRId64, value);
                line += buf;
            }
        } else if (type == SQLITE_TEXT) {
            const unsigned char* text = sqlite3_column_text(stmt, i);
            append_escaped_text(line, text, static_cast<size_t>(sqlite3_column_bytes(stmt, i)));
        } else {
            std::snprintf(buf, sizeof buf, unknown_type_format, type);
            line += buf;
        }
    }
    line += '\n';
    return line;
}
