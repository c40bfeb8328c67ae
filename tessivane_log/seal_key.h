// The sealing key and its one-way evolution, the key file beside the database, and the
// verification key an administrator keeps off the machine.
//
// From a random 16-byte seed: key 0 = SHA-256("tessivane_log sealing key" || seed), and the key
// of period i + 1 = SHA-256("tessivane_log next key" || key of period i). Period i of a set-up
// is [start + i * interval, start + (i + 1) * interval); a time before start is in period 0.
// The machine keeps only the current period's key; the verification key (the seed, start and
// interval) gives every key, so it must not stay on the machine.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "log_crypto.h"

using seed_t = std::array<uint8_t, 16>;

// What the key file holds: the key of one period of one set-up.
struct seal_key_s {
    int64_t setup = 0;     // 1 for the first setup-keys, one more for every --force
    int64_t start = 0;     // seconds since 1970, the start of period 0
    int64_t interval = 0;  // seconds, at least 1
    int64_t period = 0;
    digest_t key{};
};

// What the verification key text holds.
struct verification_key_s {
    seed_t seed{};
    int64_t start = 0;
    int64_t interval = 0;
};

int64_t period_of(int64_t time, int64_t start, int64_t interval);

digest_t first_key(sha256_s& sha, const seed_t& seed);
digest_t next_key(sha256_s& sha, const digest_t& key);

// Moves key forward to period (never back); false when the library failed.
bool evolve_key(sha256_s& sha, seal_key_s& key, int64_t period);

// Lower-case hex, two digits a byte.
std::string hex_of(const uint8_t* bytes, size_t size);

// "<db>.sealkey"
std::string key_file_path(const std::string& db_path);

// The key file, six lines, each ended by a line feed:
//   tessivane_log sealing key
//   setup <n>
//   start <seconds since 1970>
//   interval <seconds>
//   period <n>
//   key <64 lower-case hex digits>
std::string format_key_file(const seal_key_s& key);
// Exactly that form (numbers in decimal, no sign, interval at least 1); false otherwise.
bool parse_key_file(const std::string& text, seal_key_s& key);

// Reads the key file; on failure returns false with why set to a short phrase for a message
// ("missing", "unreadable: <errno text>", "not a sealing key file").
bool read_key_file(const std::string& path, seal_key_s& key, std::string& why);

// Replaces the key file with key: a new owner-only file beside it, synced, renamed over the old
// one, the folder synced; the old file's bytes are then overwritten with zeros, so the old key
// does not linger in the freed blocks where the file system reuses them in place. Temporary
// files of earlier writers that were killed are removed first (callers hold the database's write
// lock, so no other writer is at work). On failure returns false with why set (errno text); the
// old file is then unchanged.
bool replace_key_file(const std::string& path, const seal_key_s& key, std::string& why);

// "xxxxxxxx-xxxxxxxx-xxxxxxxx-xxxxxxxx/<start>/<interval>": the seed in lower-case hex in four
// groups, start and interval (seconds) in decimal.
std::string format_verification_key(const verification_key_s& key);
// Accepts that form with the hex in either case and the dashes in the seed optional; false on
// anything else.
bool parse_verification_key(const std::string& text, verification_key_s& key);
