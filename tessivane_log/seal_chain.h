// The seals of the audit log: one row per entry in the table `seals` beside `logs`, chained to
// the seal before it and MACed with the key of its period (seal_key.h).
//
//   digest = SHA-256("tessivane_log entry" || BE64(row id) || BE64(column count) || per column:
//            type byte (1 integer, 2 real, 3 text, 4 blob, 5 null), then the value: integer as
//            BE64, real as BE64 of its IEEE-754 bits, text and blob as BE64(length) || bytes,
//            null as nothing)                                 -- the values exactly as stored
//   chain  = SHA-256("tessivane_log chain" || previous chain (32 zero bytes before the first) ||
//            BE64(seq) || BE64(row id) || BE64(setup) || BE64(period) || digest)
//   mac    = HMAC-SHA-256(key of the seal's period, chain)
// BE64 is a 64-bit two's-complement number, most significant byte first.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <string>

#include "log_crypto.h"
#include "seal_key.h"

// The sealing tables; setup-keys creates them, nothing else does.
inline constexpr char kSealTablesSql[] =
    "CREATE TABLE IF NOT EXISTS seal_setup("
    "setup INTEGER PRIMARY KEY, start INTEGER NOT NULL, interval INTEGER NOT NULL,"
    "first_seq INTEGER NOT NULL, setup_seals INTEGER NOT NULL);"
    "CREATE TABLE IF NOT EXISTS seals("
    "seq INTEGER PRIMARY KEY, log_rowid INTEGER NOT NULL, setup INTEGER NOT NULL,"
    "period INTEGER NOT NULL, digest BLOB NOT NULL, chain BLOB NOT NULL, mac BLOB NOT NULL);";

// One set-up of sealing: a row of seal_setup. Its first setup_seals seals (from first_seq) were
// made by setup-keys for the entries already in the log, all in period 0.
struct setup_s {
    int64_t setup = 0;
    int64_t start = 0;
    int64_t interval = 0;
    int64_t first_seq = 0;
    int64_t setup_seals = 0;
};

// One row of seals.
struct seal_s {
    int64_t seq = 0;
    int64_t log_rowid = 0;
    int64_t setup = 0;
    int64_t period = 0;
    digest_t digest{};
    digest_t chain{};
    digest_t mac{};
};

// Whether setup-keys has run on this database: a look at the schema the connection has already
// read, so an append on a log that is not sealed pays nothing for it.
bool log_is_sealed(sqlite3* db);

// A column holding a 32-byte blob into out; false (out untouched) for anything else.
bool read_digest_column(sqlite3_stmt* stmt, int column, digest_t& out);

// The digest of the current row of row, whose column 0 is the row id and whose further columns
// are the entry's values ("SELECT rowid, * FROM logs ...").
digest_t entry_digest(sha256_s& sha, sqlite3_stmt* row);

// The chain value of seal (its digest included) after the seal whose chain value is previous.
digest_t chain_value(sha256_s& sha, const digest_t& previous, const seal_s& seal);

// Appends the entry whose values are bound to insert (PSTMT_INSERT_LINE) to a sealed log, with
// its seal, in one write transaction, so concurrent appenders queue and the chain never forks.
// The key moves on to the period of date (replacing the key file) inside that transaction. When
// the key file is missing or unusable, or the seal cannot be written, the entry is stored
// without a seal and one line on standard error says so. Returns false, after one line on
// standard error naming the SQLite cause, when the entry was not stored.
bool append_sealed(sqlite3* db, sqlite3_stmt* insert, int64_t date, const std::string& key_path);

enum class setup_e { done, already_sealed, failed };

struct setup_result_s {
    int64_t setup = 0;       // the new set-up's number; when already_sealed the existing one's
    int64_t start = 0;       // of that set-up
    int64_t sealed_now = 0;  // entries that had no seal and got one from setup-keys
    verification_key_s key;  // the new set-up's verification key
    std::string why;         // when failed
};

// setup-keys: creates the sealing tables where missing, starts a new set-up (refused with
// already_sealed on a sealed log unless force), seals every entry after the last sealed one
// with the new key 0, and writes the key file at key_path, all before one commit. The new
// set-up starts at now, or one second after the last one's start so no two share a start.
setup_e setup_sealing(sqlite3* db, const std::string& key_path, int64_t interval, bool force,
                      int64_t now, setup_result_s& result);
