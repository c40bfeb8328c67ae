#include "log_export.h"

#include <rapidjson/encodings.h>
#include <rapidjson/memorystream.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>
#include <sys/stat.h>

#include <cstdio>
#include <memory>
#include <optional>

#include "log_db.h"
#include "log_file.h"
#include "log_row.h"
#include "seal_chain.h"

const char kCsvHeader[] = "row_id,time,text1,text2,text3,message,seal\r\n";

namespace {

constexpr const char* kFieldNames[] = {"text1", "text2", "text3", "message"};

// Length of the well-formed UTF-8 sequence at bytes[i] (no overlong forms, no surrogates, nothing
// past U+10FFFF), 0 when there is none.
size_t utf8_sequence_length(const std::string& bytes, size_t i) {
    rapidjson::MemoryStream in(bytes.data() + i, bytes.size() - i);
    struct discard_s {
        void Put(char) {}
    } out;
    return rapidjson::UTF8<char>::Validate(in, out) ? in.Tell() : 0;
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

// A step copies this many pages under the log's read lock: about a millisecond.
constexpr int kBackupPagesPerStep = 256;
// An append that commits between two steps makes the backup start again from the first page;
// after this many restarts appends are taken to go on, and the copy is made by rows instead.
constexpr int kBackupRestarts = 3;
// Rows of a table that copy_by_rows copies in one read of the log: a few milliseconds.
constexpr int kRowsPerSlice = 2000;

bool exec(sqlite3* db, const std::string& sql) {
    return sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
}

// text between two quote characters, each inside doubled: an SQL name (") or string (').
std::string quoted(const std::string& text, char quote) {
    std::string out(1, quote);
    for (char c : text) {
        if (c == quote)
            out += quote;
        out += c;
    }
    return out + quote;
}

bool commit_copy(replacement_file_s& out, std::string& why) {
    if (out.commit(default_file_mode()))
        return true;
    why = out.why();
    return false;
}

struct backup_finisher {
    void operator()(sqlite3_backup* backup) const { sqlite3_backup_finish(backup); }
};

enum class backup_e { done, restarted_too_often, failed };

// SQLite's online backup of the log into the empty database copy_path, a few pages per read.
// Between two steps an append can commit: its lock request (PENDING) holds the next step off
// until it has, so the steps need no pause between them.
backup_e backup_in_steps(log_db_s& log, const std::string& copy_path, std::string& why) {
    sqlite3* raw = nullptr;
    const int rc = sqlite3_open_v2(copy_path.c_str(), &raw, SQLITE_OPEN_READWRITE, nullptr);
    db_ptr copy(raw);
    if (rc != SQLITE_OK) {
        why = copy ? sqlite3_errmsg(copy.get()) : sqlite3_errstr(rc);
        return backup_e::failed;
    }
    // The copy is synced once it is whole (replacement_file_s::commit), not in the last step,
    // which still holds the log's read lock.
    exec(copy.get(), "PRAGMA synchronous = OFF");
    const std::unique_ptr<sqlite3_backup, backup_finisher> backup(
        sqlite3_backup_init(copy.get(), "main", log.db.get(), "main"));
    if (!backup) {
        why = sqlite3_errmsg(copy.get());
        return backup_e::failed;
    }
    for (int copied = 0, restarts = 0;;) {
        renew_busy_deadline(log);
        const int step = sqlite3_backup_step(backup.get(), kBackupPagesPerStep);
        if (step == SQLITE_DONE)
            return backup_e::done;
        // A log still locked when the busy handler's deadline passes fails here, as an append
        // would.
        if (step != SQLITE_OK) {
            why = sqlite3_errstr(step);
            return backup_e::failed;
        }
        const int progress =
            sqlite3_backup_pagecount(backup.get()) - sqlite3_backup_remaining(backup.get());
        if (progress < copied + kBackupPagesPerStep && ++restarts > kBackupRestarts)
            return backup_e::restarted_too_often;
        copied = progress;
    }
}

// A table of the log as copy_by_rows copies it.
struct table_copy_s {
    std::string name;             // quoted
    std::string create;           // its CREATE TABLE
    std::string columns;          // those a row is inserted with (not generated), quoted
    bool rowids = true;           // false for a table WITHOUT ROWID, copied whole
    std::optional<int64_t> last;  // its last row id when the copy began; none when empty
};

std::string column_string(sqlite3_stmt* stmt, int column) {
    const unsigned char* text = sqlite3_column_text(stmt, column);
    return text ? reinterpret_cast<const char*>(text) : "";
}

// The tables of the attached log "source" with their last row ids, and the SQL of what is made
// after the rows. The caller holds one read transaction around it.
bool read_schema(sqlite3* db, std::vector<table_copy_s>& tables,
                 std::vector<std::string>& after_rows, std::string& why) {
    const stmt_ptr objects = prepare_statement(
        db,
        "SELECT type, name, sql FROM source.sqlite_master WHERE sql IS NOT NULL ORDER BY rowid");
    const stmt_ptr columns =
        prepare_statement(db, "SELECT name FROM pragma_table_xinfo(?1, 'source') WHERE hidden = 0");
    const stmt_ptr kind = prepare_statement(
        db, "SELECT wr FROM pragma_table_list WHERE schema = 'source' AND name = ?1");
    int rc = objects && columns && kind ? SQLITE_ROW : SQLITE_ERROR;
    while (rc == SQLITE_ROW && (rc = sqlite3_step(objects.get())) == SQLITE_ROW) {
        const std::string type = column_string(objects.get(), 0);
        const std::string name = column_string(objects.get(), 1);
        const std::string sql = column_string(objects.get(), 2);
        if (type != "table") {
            after_rows.push_back(sql);
            continue;
        }
        // SQLite makes its own tables: the sequence table with the first AUTOINCREMENT table,
        // the statistics with ANALYZE.
        if (sqlite3_strnicmp(name.c_str(), "sqlite_", 7) == 0)
            continue;
        if (sqlite3_strnicmp(sql.c_str(), "CREATE VIRTUAL", 14) == 0) {
            why = "the log holds the virtual table " + name +
                  ", which a copy made while appends go on cannot take";
            return false;
        }
        table_copy_s table{quoted(name, '"'), sql, "", true, std::nullopt};
        for (sqlite3_stmt* st : {columns.get(), kind.get()}) {
            sqlite3_reset(st);
            sqlite3_bind_text(st, 1, name.c_str(), -1, SQLITE_TRANSIENT);
        }
        while ((rc = sqlite3_step(columns.get())) == SQLITE_ROW)
            table.columns +=
                (table.columns.empty() ? "" : ", ") + quoted(column_string(columns.get(), 0), '"');
        if (rc != SQLITE_DONE || (rc = sqlite3_step(kind.get())) != SQLITE_ROW)
            break;
        table.rowids = sqlite3_column_int(kind.get(), 0) == 0;
        if (table.rowids) {
            const stmt_ptr last =
                prepare_statement(db, ("SELECT max(rowid) FROM source." + table.name).c_str());
            if (!last || (rc = sqlite3_step(last.get())) != SQLITE_ROW)
                break;
            if (sqlite3_column_type(last.get(), 0) != SQLITE_NULL)
                table.last = sqlite3_column_int64(last.get(), 0);
        }
        tables.push_back(table);
        rc = SQLITE_ROW;
    }
    if (rc != SQLITE_DONE) {
        why = sqlite3_errmsg(db);
        return false;
    }
    return true;
}

// The rows of table from source into main, up to its last row id. Each slice goes through the
// in-memory table temp.slice: only reading it holds the log's lock, not writing it into the copy,
// which may be a slow file (a memory stick).
bool copy_rows(log_db_s& copy, const table_copy_s& table) {
    sqlite3* db = copy.db.get();
    if (!exec(db, "CREATE TEMP TABLE slice(" + table.columns + ")"))
        return false;
    const std::string rowid = table.rowids ? "rowid, " : "";
    const stmt_ptr read = prepare_statement(
        db, ("INSERT INTO temp.slice(" + rowid + table.columns + ") SELECT " + rowid +
             table.columns + " FROM source." + table.name +
             (table.rowids ? " WHERE rowid BETWEEN ?1 AND ?2 ORDER BY rowid LIMIT " +
                                 std::to_string(kRowsPerSlice)
                           : ""))
                .c_str());
    const stmt_ptr write = prepare_statement(
        db, ("INSERT INTO main." + table.name + "(" + rowid + table.columns + ") SELECT " + rowid +
             table.columns + " FROM temp.slice ORDER BY rowid")
                .c_str());
    bool more = read && write && (!table.rowids || table.last);
    for (int64_t next = INT64_MIN; more;) {
        renew_busy_deadline(copy);
        sqlite3_bind_int64(read.get(), 1, next);
        sqlite3_bind_int64(read.get(), 2, table.last.value_or(0));
        if (sqlite3_step(read.get()) != SQLITE_DONE)
            return false;
        sqlite3_reset(read.get());
        const int64_t copied = sqlite3_last_insert_rowid(db);
        more = table.rowids && sqlite3_changes(db) == kRowsPerSlice && copied < *table.last;
        if (more)
            next = copied + 1;
        if (sqlite3_step(write.get()) != SQLITE_DONE || !exec(db, "DELETE FROM temp.slice"))
            return false;
        sqlite3_reset(write.get());
    }
    return read && write && exec(db, "DROP TABLE temp.slice");
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

bool export_database(log_db_s& log, const std::string& file, std::string& why) {
    struct stat target {
    }, source{};
    if (stat(file.c_str(), &target) == 0 && stat(log.path.c_str(), &source) == 0 &&
        target.st_dev == source.st_dev && target.st_ino == source.st_ino) {
        why = "the copy would replace the database itself";
        return false;
    }
    {
        replacement_file_s out(file, ".export-");
        if (!out.ok()) {
            why = out.why();
            return false;
        }
        switch (backup_in_steps(log, out.temp_path(), why)) {
        case backup_e::done:
            return commit_copy(out, why);
        case backup_e::failed:
            return false;
        case backup_e::restarted_too_often:
            break;
        }
    }
    replacement_file_s out(file, ".export-");
    if (!out.ok()) {
        why = out.why();
        return false;
    }
    return copy_by_rows(log, out.temp_path(), why) && commit_copy(out, why);
}

bool copy_by_rows(log_db_s& log, const std::string& copy_path, std::string& why) {
    // Settings an empty database takes only before it holds anything; the encoding also before
    // the log is attached to it, which needs the same.
    std::string settings;
    for (const char* name :
         {"encoding", "page_size", "auto_vacuum", "user_version", "application_id"}) {
        const stmt_ptr get =
            prepare_statement(log.db.get(), (std::string("PRAGMA ") + name).c_str());
        if (!get || sqlite3_step(get.get()) != SQLITE_ROW) {
            why = sqlite3_errmsg(log.db.get());
            return false;
        }
        settings += std::string("PRAGMA main.") + name + " = " +
                    quoted(reinterpret_cast<const char*>(sqlite3_column_text(get.get(), 0)), '\'') +
                    ";";
    }
    // The file is synced once it is whole (replacement_file_s::commit); a copy cut short is
    // thrown away, so it needs no journal.
    settings +=
        "PRAGMA main.journal_mode = OFF; PRAGMA main.synchronous = OFF; "
        "PRAGMA temp_store = MEMORY;";
    log_db_s copy;
    if (const int rc = open_log_db_quiet(copy, copy_path.c_str(), SQLITE_OPEN_READWRITE);
        rc != SQLITE_OK) {
        why = sqlite3_errstr(rc);
        return false;
    }
    sqlite3* db = copy.db.get();
    auto failed = [db, &why] {
        why = sqlite3_errmsg(db);
        return false;
    };
    const stmt_ptr attach = prepare_statement(db, "ATTACH ?1 AS source");
    if (!exec(db, settings) || !attach)
        return failed();
    sqlite3_bind_text(attach.get(), 1, log.path.c_str(), -1, SQLITE_STATIC);
    if (sqlite3_step(attach.get()) != SQLITE_DONE)
        return failed();

    std::vector<table_copy_s> tables;
    std::vector<std::string> after_rows;  // indexes, views, triggers
    if (!exec(db, "BEGIN"))
        return failed();
    const bool read = read_schema(db, tables, after_rows, why);
    exec(db, "COMMIT");
    if (!read)
        return false;
    for (const table_copy_s& table : tables) {
        if (!exec(db, table.create))
            return failed();
    }
    for (const table_copy_s& table : tables) {
        if (!copy_rows(copy, table))
            return failed();
    }
    renew_busy_deadline(copy);
    const bool sequence_kept =
        sqlite3_table_column_metadata(db, "main", "sqlite_sequence", nullptr, nullptr, nullptr,
                                      nullptr, nullptr, nullptr) != SQLITE_OK ||
        exec(db,
             "DELETE FROM main.sqlite_sequence; INSERT INTO "
             "main.sqlite_sequence SELECT * FROM source.sqlite_sequence");
    if (!sequence_kept)
        return failed();
    for (const std::string& sql : after_rows) {
        if (!exec(db, sql))
            return failed();
    }
    return exec(db, "DETACH source") || failed();
}

bool export_entries(log_db_s& log, const std::vector<verification_key_s>& keys,
                    export_format_e format, const std::string& file, verify_report_s& report,
                    std::string& why) {
    replacement_file_s out(file, ".export-");
    if (!out.ok()) {
        why = out.why();
        return false;
    }
    bool written = format == export_format_e::jsonl || write_text(out.fd(), kCsvHeader);
    // Written out between the slices of the walk: a slow file (a memory stick) never keeps
    // the log locked.
    std::string pending;
    auto write_entry = [&](sqlite3_stmt* row, entry_status_e status) {
        if (!row) {
            written = written && write_text(out.fd(), pending);
            pending.clear();
        } else {
            pending +=
                format == export_format_e::csv ? csv_entry(row, status) : json_entry(row, status);
        }
    };
    if (log_is_sealed(log.db.get())) {
        if (verify_log(log, keys, report, why, write_entry) == verify_e::cannot_check)
            return false;
    } else {
        // Never sealed: every entry is unsealed, and there is nothing to check.
        report = {};
        key_range_reader_s rows(log.db.get(), kEntriesInRangeSql, kLastEntrySql);
        read_slice_s slice(log);
        int rc = rows.ok() ? SQLITE_ROW : SQLITE_ERROR;
        while (rows.ok() && (rc = rows.step()) == SQLITE_ROW) {
            ++report.entries;
            ++report.unsealed;
            write_entry(rows.row(), entry_status_e::unsealed);
            if (slice.over()) {
                rows.pause();
                write_entry(nullptr, entry_status_e::unsealed);
                slice.next();
            }
        }
        if (rc != SQLITE_DONE) {
            why = sqlite3_errmsg(log.db.get());
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
