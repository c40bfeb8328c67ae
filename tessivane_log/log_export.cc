#include "log_export.h"

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>
#include <sys/stat.h>

#include <cstdio>

#include "log_db.h"
#include "log_file.h"
#include "log_row.h"
#include "seal_chain.h"

const char kCsvHeader[] = "row_id,time,text1,text2,text3,message,seal\r\n";

namespace {

constexpr const char* kFieldNames[] = {"text1", "text2", "text3", "message"};

// Length of the well-formed UTF-8 sequence at bytes[i], 0 when there is none.
size_t utf8_sequence_length(const std::string& bytes, size_t i) {
    const auto at = [&bytes](size_t k) {
        return static_cast<unsigned char>(bytes[k]);
    };
    const unsigned char lead = at(i);
    if (lead < 0x80)
        return 1;
    size_t length;
    unsigned char low = 0x80, high = 0xBF;  // the allowed range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0)
            low = 0xA0;  // no overlong forms
        if (lead == 0xED)
            high = 0x9F;  // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0)
            low = 0x90;
        if (lead == 0xF4)
            high = 0x8F;  // nothing past U+10FFFF
    } else {
        return 0;
    }
    if (i + length > bytes.size() || at(i + 1) < low || at(i + 1) > high)
        return 0;
    for (size_t k = 2; k < length; ++k) {
        if (at(i + k) < 0x80 || at(i + k) > 0xBF)
            return 0;
    }
    return length;
}

// The stored value as text: text and blob as their bytes, numbers in decimal, null as nothing.
std::string value_text(sqlite3_stmt* row, int column) {
    char buf[64];
    switch (sqlite3_column_type(row, column)) {
    case SQLITE_INTEGER:
        std::snprintf(buf, sizeof buf, "%lld",
                      static_cast<long long>(sqlite3_column_int64(row, column)));
        return buf;
    case SQLITE_FLOAT:
        std::snprintf(buf, sizeof buf, "%.17g", sqlite3_column_double(row, column));
        return buf;
    case SQLITE_TEXT:
    case SQLITE_BLOB: {
        const void* bytes = sqlite3_column_blob(row, column);
        return bytes ? std::string(static_cast<const char*>(bytes),
                                   static_cast<size_t>(sqlite3_column_bytes(row, column)))
                     : std::string();
    }
    default:
        return "";
    }
}

std::string time_text(sqlite3_stmt* row) {
    if (sqlite3_column_count(row) < 2)
        return "";
    if (sqlite3_column_type(row, 1) == SQLITE_INTEGER)
        return format_utc_time(stored_date_seconds(sqlite3_column_int64(row, 1)));
    return value_text(row, 1);
}

// The four text fields are columns 2 to 5; a table with fewer gives empty fields.
bool has_column(sqlite3_stmt* row, int column) {
    return column < sqlite3_column_count(row);
}

bool write_text(int fd, const std::string& text) {
    return write_all(fd, text.data(), text.size());
}

}  // namespace

void append_csv_field(std::string& line, const std::string& field) {
    if (field.find_first_of(",\"\r\n") == std::string::npos) {
        line += field;
        return;
    }
    line += '"';
    for (char c : field) {
        if (c == '"')
            line += '"';
        line += c;
    }
    line += '"';
}

bool is_valid_utf8(const std::string& bytes) {
    for (size_t i = 0; i < bytes.size();) {
        const size_t n = utf8_sequence_length(bytes, i);
        if (n == 0)
            return false;
        i += n;
    }
    return true;
}

std::string to_valid_utf8(const std::string& bytes) {
    std::string out;
    for (size_t i = 0; i < bytes.size();) {
        const size_t n = utf8_sequence_length(bytes, i);
        if (n == 0) {
            out += "\xEF\xBF\xBD";
            ++i;
        } else {
            out.append(bytes, i, n);
            i += n;
        }
    }
    return out;
}

std::string csv_entry(sqlite3_stmt* row, entry_status_e status) {
    std::string line = std::to_string(sqlite3_column_int64(row, 0)) + ",";
    append_csv_field(line, time_text(row));
    for (int column = 2; column <= 5; ++column) {
        line += ',';
        if (has_column(row, column))
            append_csv_field(line, value_text(row, column));
    }
    line += ',';
    append_csv_field(line, status_name(status));
    line += "\r\n";
    return line;
}

std::string json_entry(sqlite3_stmt* row, entry_status_e status) {
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
    auto text_member = [&writer](const std::string& name, const std::string& value) {
        writer.Key(name.c_str());
        const bool valid = is_valid_utf8(value);
        const std::string shown = valid ? value : to_valid_utf8(value);
        writer.String(shown.data(), static_cast<rapidjson::SizeType>(shown.size()));
        if (!valid) {
            writer.Key((name + "_hex").c_str());
            writer.String(
                hex_of(reinterpret_cast<const uint8_t*>(value.data()), value.size()).c_str());
        }
    };
    writer.StartObject();
    writer.Key("row_id");
    writer.Int64(sqlite3_column_int64(row, 0));
    text_member("time", time_text(row));
    for (int column = 2; column <= 5; ++column) {
        const std::string name = kFieldNames[column - 2];
        if (has_column(row, column) && sqlite3_column_type(row, column) == SQLITE_NULL) {
            writer.Key(name.c_str());
            writer.Null();
        } else {
            text_member(name, has_column(row, column) ? value_text(row, column) : "");
        }
    }
    writer.Key("seal");
    writer.String(status_name(status));
    writer.EndObject();
    return std::string(buffer.GetString(), buffer.GetSize()) + "\n";
}

bool export_database(sqlite3* db, const std::string& db_path, const std::string& file,
                     std::string& why) {
    struct stat target {
    }, source{};
    if (stat(file.c_str(), &target) == 0 && stat(db_path.c_str(), &source) == 0 &&
        target.st_dev == source.st_dev && target.st_ino == source.st_ino) {
        why = "the copy would replace the database itself";
        return false;
    }
    replacement_file_s out(file, ".export-");
    if (!out.ok()) {
        why = out.why();
        return false;
    }
    sqlite3* raw = nullptr;
    const int rc = sqlite3_open_v2(out.temp_path().c_str(), &raw, SQLITE_OPEN_READWRITE, nullptr);
    db_ptr copy(raw);
    if (rc != SQLITE_OK) {
        why = copy ? sqlite3_errmsg(copy.get()) : sqlite3_errstr(rc);
        return false;
    }
    // One step copies every page under one read lock: the copy is one state of the log, and
    // appends wait (their busy handler) only for as long as the copy takes.
    sqlite3_backup* backup = sqlite3_backup_init(copy.get(), "main", db, "main");
    if (!backup) {
        why = sqlite3_errmsg(copy.get());
        return false;
    }
    // A log still locked when the busy handler's deadline passes fails here, as an append would.
    const int step = sqlite3_backup_step(backup, -1);
    sqlite3_backup_finish(backup);
    if (step != SQLITE_DONE) {
        why = sqlite3_errstr(step);
        return false;
    }
    copy.reset();  // the last step committed and synced the copy
    if (!out.commit(default_file_mode())) {
        why = out.why();
        return false;
    }
    return true;
}

bool export_entries(sqlite3* db, const std::vector<verification_key_s>& keys,
                    export_format_e format, const std::string& file, verify_report_s& report,
                    std::string& why) {
    replacement_file_s out(file, ".export-");
    if (!out.ok()) {
        why = out.why();
        return false;
    }
    bool written = format == export_format_e::jsonl || write_text(out.fd(), kCsvHeader);
    std::string pending;
    auto write_entry = [&](sqlite3_stmt* row, entry_status_e status) {
        pending +=
            format == export_format_e::csv ? csv_entry(row, status) : json_entry(row, status);
        if (pending.size() >= 1 << 16) {
            written = written && write_text(out.fd(), pending);
            pending.clear();
        }
    };
    if (log_is_sealed(db)) {
        if (verify_log(db, keys, report, why, write_entry) == verify_e::cannot_check)
            return false;
    } else {
        // Never sealed: every entry is unsealed, and there is nothing to check.
        report = {};
        const stmt_ptr rows = prepare_statement(db, "SELECT rowid, * FROM logs ORDER BY rowid");
        int rc = rows ? SQLITE_ROW : SQLITE_ERROR;
        while (rows && (rc = sqlite3_step(rows.get())) == SQLITE_ROW) {
            ++report.entries;
            ++report.unsealed;
            write_entry(rows.get(), entry_status_e::unsealed);
        }
        if (rc != SQLITE_DONE) {
            why = sqlite3_errmsg(db);
            return false;
        }
    }
    written = written && write_text(out.fd(), pending);
    if (!written) {
        why = "cannot write " + file;
        return false;
    }
    if (!out.commit(default_file_mode())) {
        why = out.why();
        return false;
    }
    return true;
}
