#include "seal_forger.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <cstring>

namespace {

std::string be64(int64_t value) {
    std::string out(8, '\0');
    for (int i = 0; i < 8; ++i)
        out[i] = static_cast<char>(static_cast<uint64_t>(value) >> (56 - 8 * i));
    return out;
}

std::string column_bytes(sqlite3_stmt* st, int i) {
    const void* p = sqlite3_column_blob(st, i);
    return p ? std::string(static_cast<const char*>(p), sqlite3_column_bytes(st, i)) : "";
}

}  // namespace

std::string hex(const std::string& bytes) {
    static const char d[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out += d[c >> 4];
        out += d[c & 15];
    }
    return out;
}

std::string unhex(const std::string& hex_digits) {
    std::string out;
    for (size_t i = 0; i + 1 < hex_digits.size(); i += 2)
        out += static_cast<char>(std::stoi(hex_digits.substr(i, 2), nullptr, 16));
    return out;
}

std::string sha256(const std::string& bytes) {
    unsigned char out[32];
    unsigned int n = 0;
    EVP_Digest(bytes.data(), bytes.size(), out, &n, EVP_sha256(), nullptr);
    return std::string(reinterpret_cast<char*>(out), n);
}

std::string hmac_sha256(const std::string& key, const std::string& message) {
    unsigned char out[32];
    unsigned int n = 0;
    HMAC(EVP_sha256(), key.data(), static_cast<int>(key.size()),
         reinterpret_cast<const unsigned char*>(message.data()), message.size(), out, &n);
    return std::string(reinterpret_cast<char*>(out), n);
}

std::string first_key(const std::string& seed) {
    return sha256("tessivane_log sealing key" + seed);
}

std::string key_of_period(const std::string& seed, int64_t period) {
    std::string key = first_key(seed);
    for (int64_t i = 0; i < period; ++i)
        key = sha256("tessivane_log next key" + key);
    return key;
}

std::string entry_digest(sqlite3* db, int64_t rowid) {
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db, "SELECT * FROM logs WHERE rowid = ?", -1, &st, nullptr);
    sqlite3_bind_int64(st, 1, rowid);
    std::string bytes = "tessivane_log entry" + be64(rowid);
    if (sqlite3_step(st) == SQLITE_ROW) {
        const int columns = sqlite3_column_count(st);
        bytes += be64(columns);
        for (int i = 0; i < columns; ++i) {
            const int type = sqlite3_column_type(st, i);
            bytes += static_cast<char>(type);
            if (type == SQLITE_INTEGER) {
                bytes += be64(sqlite3_column_int64(st, i));
            } else if (type == SQLITE_FLOAT) {
                const double d = sqlite3_column_double(st, i);
                int64_t bits;
                std::memcpy(&bits, &d, sizeof bits);
                bytes += be64(bits);
            } else if (type != SQLITE_NULL) {
                const std::string value = column_bytes(st, i);
                bytes += be64(static_cast<int64_t>(value.size())) + value;
            }
        }
    }
    sqlite3_finalize(st);
    return sha256(bytes);
}

std::string write_seal(sqlite3* db, const hand_seal_s& s, const std::string& previous_chain,
                       const std::string& key) {
    const std::string digest = entry_digest(db, s.rowid);
    const std::string chain = sha256("tessivane_log chain" + previous_chain + be64(s.seq) +
                                     be64(s.rowid) + be64(s.setup) + be64(s.period) + digest);
    const std::string mac = hmac_sha256(key, chain);
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db, "INSERT OR REPLACE INTO seals VALUES(?,?,?,?,?,?,?)", -1, &st, nullptr);
    const int64_t numbers[] = {s.seq, s.rowid, s.setup, s.period};
    for (int i = 0; i < 4; ++i)
        sqlite3_bind_int64(st, i + 1, numbers[i]);
    const std::string* blobs[] = {&digest, &chain, &mac};
    for (int i = 0; i < 3; ++i)
        sqlite3_bind_blob(st, i + 5, blobs[i]->data(), static_cast<int>(blobs[i]->size()),
                          SQLITE_TRANSIENT);
    sqlite3_step(st);
    sqlite3_finalize(st);
    return chain;
}

std::string stored_chain(sqlite3* db, int64_t seq) {
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db, "SELECT chain FROM seals WHERE seq = ?", -1, &st, nullptr);
    sqlite3_bind_int64(st, 1, seq);
    std::string chain = sqlite3_step(st) == SQLITE_ROW ? column_bytes(st, 0) : "";
    sqlite3_finalize(st);
    return chain;
}
