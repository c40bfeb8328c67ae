#include "seal_chain.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "log_db.h"

namespace {

constexpr char kEntryLabel[] = "tessivane_log entry";
constexpr char kChainLabel[] = "tessivane_log chain";

void put_be64(std::string& out, int64_t value) {
    const uint64_t u = static_cast<uint64_t>(value);
    for (int i = 0; i < 8; ++i)
        out += static_cast<char>(u >> (56 - 8 * i));
}

// The whole message goes to the library in one call: per-field calls cost more than hashing.
digest_t sha256_of(sha256_s& sha, const std::string& bytes) {
    sha.begin();
    sha.add(bytes.data(), bytes.size());
    return sha.end();
}

bool exec(sqlite3* db, const char* sql) {
    return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

// The newest set-up (setup.setup stays 0 when there is none); a non-zero SQLite code on failure.
int latest_setup(sqlite3* db, setup_s& setup) {
    const stmt_ptr stmt =
        prepare_statement(db,
                          "SELECT setup, start, interval, first_seq, setup_seals FROM seal_setup "
                          "ORDER BY setup DESC LIMIT 1");
    if (!stmt)
        return sqlite3_errcode(db);
    const int rc = sqlite3_step(stmt.get());
    if (rc == SQLITE_ROW) {
        setup = {sqlite3_column_int64(stmt.get(), 0), sqlite3_column_int64(stmt.get(), 1),
                 sqlite3_column_int64(stmt.get(), 2), sqlite3_column_int64(stmt.get(), 3),
                 sqlite3_column_int64(stmt.get(), 4)};
    }
    return rc == SQLITE_ROW || rc == SQLITE_DONE ? SQLITE_OK : rc;
}

// The newest seal (seq 0 when there is none); a non-zero SQLite code on failure.
int last_seal(sqlite3* db, seal_s& seal) {
    const stmt_ptr stmt = prepare_statement(
        db, "SELECT seq, log_rowid, setup, period, chain FROM seals ORDER BY seq DESC LIMIT 1");
    if (!stmt)
        return sqlite3_errcode(db);
    const int rc = sqlite3_step(stmt.get());
    if (rc == SQLITE_ROW) {
        seal.seq = sqlite3_column_int64(stmt.get(), 0);
        seal.log_rowid = sqlite3_column_int64(stmt.get(), 1);
        seal.setup = sqlite3_column_int64(stmt.get(), 2);
        seal.period = sqlite3_column_int64(stmt.get(), 3);
        if (!read_digest_column(stmt.get(), 4, seal.chain))
            return SQLITE_CORRUPT;
    }
    return rc == SQLITE_ROW || rc == SQLITE_DONE ? SQLITE_OK : rc;
}

// Writes seals; the hashing contexts and the statement are made once for all it writes.
struct sealer_s {
    sha256_s sha;
    hmac_sha256_s hmac;
    stmt_ptr insert;

    explicit sealer_s(sqlite3* db)
        : insert(prepare_statement(db, "INSERT INTO seals VALUES(?,?,?,?,?,?,?)")) {}

    bool ok() const { return insert && sha.ok() && hmac.ok(); }

    // Makes the seal after previous for the current row of row, MACed with key.
    bool seal_row(seal_s& previous, sqlite3_stmt* row, const seal_key_s& key) {
        seal_s s;
        s.seq = previous.seq + 1;
        s.log_rowid = sqlite3_column_int64(row, 0);
        s.setup = key.setup;
        s.period = key.period;
        s.digest = entry_digest(sha, row);
        s.chain = chain_value(sha, previous.chain, s);
        s.mac = hmac.mac(s.chain.data(), s.chain.size());
        if (!sha.ok() || !hmac.ok())
            return false;
        sqlite3_stmt* st = insert.get();
        sqlite3_reset(st);
        sqlite3_bind_int64(st, 1, s.seq);
        sqlite3_bind_int64(st, 2, s.log_rowid);
        sqlite3_bind_int64(st, 3, s.setup);
        sqlite3_bind_int64(st, 4, s.period);
        sqlite3_bind_blob(st, 5, s.digest.data(), static_cast<int>(s.digest.size()), SQLITE_STATIC);
        sqlite3_bind_blob(st, 6, s.chain.data(), static_cast<int>(s.chain.size()), SQLITE_STATIC);
        sqlite3_bind_blob(st, 7, s.mac.data(), static_cast<int>(s.mac.size()), SQLITE_STATIC);
        if (sqlite3_step(st) != SQLITE_DONE)
            return false;
        previous = s;
        return true;
    }
};

std::string key_file_problem(const std::string& key_path, const std::string& why) {
    return "the sealing key " + key_path + " is " + why;
}

// The part of a sealed append after the entry went in at rowid: moves the entry past the last
// seal's row when SQLite gave it a row id that a deleted entry had (a seal must never point at
// two entries), evolves the key and writes the seal. On failure why says what went wrong.
bool seal_appended_entry(sqlite3* db, int64_t rowid, int64_t date, const std::string& key_path,
                         seal_key_s& key, const seal_s& last, std::string& why) {
    auto failed = [&why](const std::string& what) {
        why = what;
        return false;
    };
    if (last.seq > 0 && rowid <= last.log_rowid) {
        const stmt_ptr move = prepare_statement(db, "UPDATE logs SET rowid = ? WHERE rowid = ?");
        if (!move)
            return failed(sqlite3_errmsg(db));
        sqlite3_bind_int64(move.get(), 1, last.log_rowid + 1);
        sqlite3_bind_int64(move.get(), 2, rowid);
        if (sqlite3_step(move.get()) != SQLITE_DONE)
            return failed(sqlite3_errmsg(db));
        rowid = last.log_rowid + 1;
    }
    const stmt_ptr row = prepare_statement(db, "SELECT rowid, * FROM logs WHERE rowid = ?");
    if (!row)
        return failed(sqlite3_errmsg(db));
    sqlite3_bind_int64(row.get(), 1, rowid);
    if (sqlite3_step(row.get()) != SQLITE_ROW)
        return failed(sqlite3_errmsg(db));

    sealer_s sealer(db);
    if (!sealer.ok())
        return failed("the seal could not be computed (OpenSSL unavailable)");
    // Never behind the period of the last seal or of the clock: periods only go forward, also
    // when the clock is set back or a key file from a backup is put back.
    int64_t period = std::max(key.period, period_of(date, key.start, key.interval));
    if (last.setup == key.setup)
        period = std::max(period, last.period);
    if (period > key.period) {
        if (!evolve_key(sealer.sha, key, period))
            return failed("the next key could not be computed");
        std::string replace_why;
        if (!replace_key_file(key_path, key, replace_why)) {
            // The seal is still sound; only the older key stays readable until an append
            // manages to replace the file.
            std::fprintf(stderr,
                         "tessivane_log: append: cannot replace the sealing key %s (%s): the key "
                         "of an earlier period is still on disk\n",
                         key_path.c_str(), replace_why.c_str());
        }
    }
    sealer.hmac.set_key(key.key);
    seal_s previous = last;
    if (!sealer.seal_row(previous, row.get(), key))
        return failed(sqlite3_errmsg(db));
    return true;
}

}  // namespace

bool read_digest_column(sqlite3_stmt* stmt, int column, digest_t& out) {
    if (sqlite3_column_type(stmt, column) != SQLITE_BLOB ||
        sqlite3_column_bytes(stmt, column) != static_cast<int>(out.size()))
        return false;
    std::memcpy(out.data(), sqlite3_column_blob(stmt, column), out.size());
    return true;
}

bool log_is_sealed(sqlite3* db) {
    return sqlite3_table_column_metadata(db, "main", "seal_setup", nullptr, nullptr, nullptr,
                                         nullptr, nullptr, nullptr) == SQLITE_OK;
}

digest_t entry_digest(sha256_s& sha, sqlite3_stmt* row) {
    const int columns = sqlite3_column_count(row);
    std::string bytes(kEntryLabel, sizeof kEntryLabel - 1);
    bytes.reserve(1024);
    put_be64(bytes, sqlite3_column_int64(row, 0));
    put_be64(bytes, columns - 1);
    for (int i = 1; i < columns; ++i) {
        const int type = sqlite3_column_type(row, i);
        bytes += static_cast<char>(type);
        if (type == SQLITE_INTEGER) {
            put_be64(bytes, sqlite3_column_int64(row, i));
        } else if (type == SQLITE_FLOAT) {
            const double d = sqlite3_column_double(row, i);
            int64_t bits;
            std::memcpy(&bits, &d, sizeof bits);
            put_be64(bytes, bits);
        } else if (type == SQLITE_TEXT || type == SQLITE_BLOB) {
            // Text comes as stored (a UTF-8 database converts nothing); blob asks for no
            // conversion either way.
            const void* value = type == SQLITE_TEXT
                                    ? static_cast<const void*>(sqlite3_column_text(row, i))
                                    : sqlite3_column_blob(row, i);
            const int length = sqlite3_column_bytes(row, i);
            put_be64(bytes, length);
            bytes.append(static_cast<const char*>(value), static_cast<size_t>(length));
        }
    }
    return sha256_of(sha, bytes);
}

digest_t chain_value(sha256_s& sha, const digest_t& previous, const seal_s& seal) {
    std::string bytes(kChainLabel, sizeof kChainLabel - 1);
    bytes.append(reinterpret_cast<const char*>(previous.data()), previous.size());
    put_be64(bytes, seal.seq);
    put_be64(bytes, seal.log_rowid);
    put_be64(bytes, seal.setup);
    put_be64(bytes, seal.period);
    bytes.append(reinterpret_cast<const char*>(seal.digest.data()), seal.digest.size());
    return sha256_of(sha, bytes);
}

bool append_sealed(sqlite3* db, sqlite3_stmt* insert, int64_t date, const std::string& key_path) {
    if (!exec(db, "BEGIN IMMEDIATE")) {
        report_db_failure("append", db);
        return false;
    }
    auto fail = [db] {
        report_db_failure("append", db);
        exec(db, "ROLLBACK");
        return false;
    };
    setup_s setup;
    seal_s last;
    if (latest_setup(db, setup) != SQLITE_OK || last_seal(db, last) != SQLITE_OK)
        return fail();
    seal_key_s key;
    std::string unsealed_why;
    if (setup.setup == 0) {
        // Tables without a set-up: setup-keys never finished; the log is not sealed.
    } else if (!read_key_file(key_path, key, unsealed_why)) {
        unsealed_why = key_file_problem(key_path, unsealed_why);
    } else if (key.setup != setup.setup || key.start != setup.start ||
               key.interval != setup.interval) {
        unsealed_why =
            key_file_problem(key_path, "of setup " + std::to_string(key.setup) +
                                           ", the log is at setup " + std::to_string(setup.setup));
    }
    if (sqlite3_step(insert) != SQLITE_DONE)
        return fail();
    if (setup.setup != 0 && unsealed_why.empty()) {
        exec(db, "SAVEPOINT seal");
        if (!seal_appended_entry(db, sqlite3_last_insert_rowid(db), date, key_path, key, last,
                                 unsealed_why)) {
            exec(db, "ROLLBACK TO seal");
        }
        exec(db, "RELEASE seal");
    }
    if (!exec(db, "COMMIT"))
        return fail();
    if (!unsealed_why.empty())
        std::fprintf(stderr, "tessivane_log: append: entry stored without a seal: %s\n",
                     unsealed_why.c_str());
    return true;
}

setup_e setup_sealing(sqlite3* db, const std::string& key_path, int64_t interval, bool force,
                      int64_t now, setup_result_s& result) {
    auto fail = [db, &result](const std::string& why) {
        result.why = why.empty() ? sqlite3_errmsg(db) : why;
        exec(db, "ROLLBACK");
        return setup_e::failed;
    };
    if (!exec(db, "BEGIN IMMEDIATE"))
        return fail("");
    setup_s previous;
    seal_s last;
    if (!exec(db, kSealTablesSql) || latest_setup(db, previous) != SQLITE_OK ||
        last_seal(db, last) != SQLITE_OK)
        return fail("");
    if (previous.setup != 0 && !force) {
        result.setup = previous.setup;
        result.start = previous.start;
        exec(db, "ROLLBACK");
        return setup_e::already_sealed;
    }
    seal_key_s key;
    key.setup = previous.setup + 1;
    key.start = previous.setup != 0 ? std::max(now, previous.start + 1) : now;
    key.interval = interval;
    result.key.start = key.start;
    result.key.interval = interval;
    if (!random_bytes(result.key.seed.data(), result.key.seed.size()))
        return fail("the system gave no random bytes for the key");

    sealer_s sealer(db);
    key.key = first_key(sealer.sha, result.key.seed);
    sealer.hmac.set_key(key.key);
    const stmt_ptr rows =
        prepare_statement(db, "SELECT rowid, * FROM logs WHERE rowid > ? ORDER BY rowid");
    if (!rows || !sealer.ok())
        return fail("");
    sqlite3_bind_int64(rows.get(), 1, last.seq > 0 ? last.log_rowid : INT64_MIN);
    const int64_t first_seq = last.seq + 1;
    int rc;
    while ((rc = sqlite3_step(rows.get())) == SQLITE_ROW) {
        if (!sealer.seal_row(last, rows.get(), key))
            return fail("");
    }
    if (rc != SQLITE_DONE)
        return fail("");
    result.sealed_now = last.seq + 1 - first_seq;

    const stmt_ptr add = prepare_statement(db, "INSERT INTO seal_setup VALUES(?,?,?,?,?)");
    if (!add)
        return fail("");
    const int64_t values[] = {key.setup, key.start, key.interval, first_seq, result.sealed_now};
    for (int i = 0; i < 5; ++i)
        sqlite3_bind_int64(add.get(), i + 1, values[i]);
    if (sqlite3_step(add.get()) != SQLITE_DONE)
        return fail("");
    std::string why;
    if (!replace_key_file(key_path, key, why))
        return fail("cannot write the sealing key " + key_path + ": " + why);
    if (!exec(db, "COMMIT")) {
        // The key file names a set-up the log does not have: appends store their entries
        // without a seal and say so until setup-keys --force succeeds.
        if (previous.setup == 0)
            std::remove(key_path.c_str());
        return fail("");
    }
    result.setup = key.setup;
    result.start = key.start;
    return setup_e::done;
}
