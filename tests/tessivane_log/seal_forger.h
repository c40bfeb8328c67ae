// The seal formats of tessivane_log(1) computed with OpenSSL and SQLite directly, so tests can
// seal entries of earlier periods by hand and forge seals as an attacker with the current key
// would. Byte strings are std::string; keys and digests are 32 raw bytes.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <string>

std::string hex(const std::string& bytes);
std::string unhex(const std::string& hex_digits);

std::string sha256(const std::string& bytes);
std::string hmac_sha256(const std::string& key, const std::string& message);

// The keys: key 0 from the 16-byte seed, each next one from the one before.
std::string first_key(const std::string& seed);
std::string key_of_period(const std::string& seed, int64_t period);

// The digest of the entry at rowid in logs, from its values as stored.
std::string entry_digest(sqlite3* db, int64_t rowid);

struct hand_seal_s {
    int64_t seq = 0, rowid = 0, setup = 1, period = 0;
};

// Writes (or replaces) the seal of hand_seal after the seal whose chain value is previous_chain
// (32 zero bytes before the first), MACed with key; returns its chain value.
std::string write_seal(sqlite3* db, const hand_seal_s& seal, const std::string& previous_chain,
                       const std::string& key);

// The chain value stored with seal seq.
std::string stored_chain(sqlite3* db, int64_t seq);
