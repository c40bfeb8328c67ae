#include "account_store.h"

#include <crypt.h>
#include <fcntl.h>
#include <sqlite3.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

namespace {

struct db_closer {
    void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
struct stmt_finalizer {
    void operator()(sqlite3_stmt* stmt) const { sqlite3_finalize(stmt); }
};
using db_ptr = std::unique_ptr<sqlite3, db_closer>;
using stmt_ptr = std::unique_ptr<sqlite3_stmt, stmt_finalizer>;

const char* const SCHEMA =
    "CREATE TABLE IF NOT EXISTS accounts ("
    " user_name TEXT PRIMARY KEY NOT NULL,"
    " password_hash TEXT NOT NULL,"
    " level TEXT NOT NULL,"
    " timeout INTEGER NOT NULL,"
    " user_group TEXT NOT NULL,"
    " long_name TEXT NOT NULL,"
    " status INTEGER NOT NULL DEFAULT 1,"
    " login_fail_cnt INTEGER NOT NULL DEFAULT 0)";

// mkdir -p of the folder that holds path.
bool make_parent_dirs(const std::string& path, std::string& error) {
    for (size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1)) {
        const std::string dir = path.substr(0, slash);
        if (mkdir(dir.c_str(), 0755) != 0 && errno != EEXIST) {
            error = "cannot create " + dir + ": " + std::strerror(errno);
            return false;
        }
    }
    return true;
}

bool fail(sqlite3* db, const std::string& what, std::string& error) {
    error = what + ": " + sqlite3_errmsg(db);
    return false;
}

// Opens the store and begins an immediate transaction; closing the connection without
// commit() rolls it back.
db_ptr open_store(const std::string& path, std::string& error) {
    if (!make_parent_dirs(path, error)) return nullptr;
    // Created here first so that the hashes (and SQLite's journal, which copies the
    // database file's mode) are readable by the owner only.
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        error = "cannot open " + path + ": " + std::strerror(errno);
        return nullptr;
    }
    close(fd);
    sqlite3* raw = nullptr;
    int rc = sqlite3_open_v2(path.c_str(), &raw, SQLITE_OPEN_READWRITE, nullptr);
    db_ptr db(raw);
    if (rc != SQLITE_OK) {
        fail(raw, "cannot open " + path, error);
        return nullptr;
    }
    sqlite3_busy_timeout(db.get(), store_busy_ms);
    if (sqlite3_exec(db.get(), "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK) {
        fail(db.get(), path, error);
        return nullptr;
    }
    if (sqlite3_exec(db.get(), SCHEMA, nullptr, nullptr, nullptr) != SQLITE_OK) {
        fail(db.get(), path, error);
        return nullptr;
    }
    return db;
}

bool commit(sqlite3* db, std::string& error) {
    return sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK || fail(db, "commit", error);
}

stmt_ptr prepare(sqlite3* db, const char* sql, std::string& error) {
    sqlite3_stmt* raw = nullptr;
    if (sqlite3_prepare_v2(db, sql, -1, &raw, nullptr) != SQLITE_OK) fail(db, "prepare", error);
    return stmt_ptr(raw);
}

void bind_text(sqlite3_stmt* stmt, int index, const std::string& text) {
    sqlite3_bind_text(stmt, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
}

std::string column_text(sqlite3_stmt* stmt, int index) {
    const unsigned char* text = sqlite3_column_text(stmt, index);
    return text ? std::string(reinterpret_cast<const char*>(text), static_cast<size_t>(sqlite3_column_bytes(stmt, index)))
                : std::string();
}

// Steps a statement that returns no rows and reports whether it changed one.
store_result_e run_change(sqlite3* db, sqlite3_stmt* stmt, store_result_e when_unchanged, std::string& error) {
    if (sqlite3_step(stmt) != SQLITE_DONE) {
        fail(db, "write", error);
        return store_result_e::failed;
    }
    const bool changed = sqlite3_changes(db) > 0;
    // Committed even when nothing changed: a new database keeps its table.
    if (!commit(db, error)) return store_result_e::failed;
    return changed ? store_result_e::ok : when_unchanged;
}

// Empty on failure. Done before the transaction begins: hashing is deliberately slow.
std::string hash_password(const std::string& password, std::string& error) {
    char salt[CRYPT_GENSALT_OUTPUT_SIZE];
    if (!crypt_gensalt_rn(nullptr, 0, nullptr, 0, salt, sizeof salt)) {
        error = std::string("cannot make a salt: ") + std::strerror(errno);
        return {};
    }
    auto work = std::make_unique<crypt_data>();
    const char* hash = crypt_rn(password.c_str(), salt, work.get(), sizeof *work);
    std::string out = hash ? hash : "";
    explicit_bzero(work.get(), sizeof *work);  // the work area holds the password
    if (out.empty() || out[0] == '*') {
        error = std::string("cannot hash the password: ") + std::strerror(errno);
        return {};
    }
    return out;
}

}  // namespace

store_result_e add_account(const std::string& db_path, const account_s& account, const std::string& password,
                           std::string& error) {
    const std::string hash = hash_password(password, error);
    if (hash.empty()) return store_result_e::failed;
    db_ptr db = open_store(db_path, error);
    if (!db) return store_result_e::failed;
    stmt_ptr stmt = prepare(db.get(),
                            "INSERT INTO accounts (user_name, password_hash, level, timeout, user_group, long_name)"
                            " VALUES (?1, ?2, ?3, ?4, ?5, ?6) ON CONFLICT (user_name) DO NOTHING",
                            error);
    if (!stmt) return store_result_e::failed;
    bind_text(stmt.get(), 1, account.user_name);
    bind_text(stmt.get(), 2, hash);
    bind_text(stmt.get(), 3, account.level);
    sqlite3_bind_int(stmt.get(), 4, account.timeout);
    bind_text(stmt.get(), 5, account.group);
    bind_text(stmt.get(), 6, account.long_name);
    return run_change(db.get(), stmt.get(), store_result_e::exists, error);
}

store_result_e update_account(const std::string& db_path, const std::string& user_name, std::optional<int> status,
                              const std::optional<std::string>& password, std::string& error) {
    std::string hash;
    if (password) {
        hash = hash_password(*password, error);
        if (hash.empty()) return store_result_e::failed;
    }
    db_ptr db = open_store(db_path, error);
    if (!db) return store_result_e::failed;
    stmt_ptr stmt = prepare(db.get(),
                            "UPDATE accounts SET status = coalesce(?2, status),"
                            " password_hash = coalesce(?3, password_hash) WHERE user_name = ?1",
                            error);
    if (!stmt) return store_result_e::failed;
    bind_text(stmt.get(), 1, user_name);
    if (status) sqlite3_bind_int(stmt.get(), 2, *status);  // unbound parameters are NULL
    if (password) bind_text(stmt.get(), 3, hash);
    return run_change(db.get(), stmt.get(), store_result_e::unknown, error);
}

store_result_e count_failed_login(const std::string& db_path, const std::string& user_name, std::string& error) {
    db_ptr db = open_store(db_path, error);
    if (!db) return store_result_e::failed;
    stmt_ptr stmt = prepare(
        db.get(), "UPDATE accounts SET login_fail_cnt = min(login_fail_cnt + 1, 2147483647) WHERE user_name = ?1",
        error);
    if (!stmt) return store_result_e::failed;
    bind_text(stmt.get(), 1, user_name);
    return run_change(db.get(), stmt.get(), store_result_e::unknown, error);
}

store_result_e find_account(const std::string& db_path, const std::string& user_name, account_s& out,
                            std::string& error) {
    db_ptr db = open_store(db_path, error);
    if (!db) return store_result_e::failed;
    stmt_ptr stmt = prepare(db.get(),
                            "SELECT user_name, long_name, level, user_group, timeout, status, login_fail_cnt"
                            " FROM accounts WHERE user_name = ?1",
                            error);
    if (!stmt) return store_result_e::failed;
    bind_text(stmt.get(), 1, user_name);
    const int rc = sqlite3_step(stmt.get());
    if (rc == SQLITE_ROW) {
        out.user_name = column_text(stmt.get(), 0);
        out.long_name = column_text(stmt.get(), 1);
        out.level = column_text(stmt.get(), 2);
        out.group = column_text(stmt.get(), 3);
        out.timeout = sqlite3_column_int(stmt.get(), 4);
        out.status = sqlite3_column_int(stmt.get(), 5);
        out.login_fail_cnt = sqlite3_column_int(stmt.get(), 6);
    } else if (rc != SQLITE_DONE) {
        fail(db.get(), "read", error);
        return store_result_e::failed;
    }
    stmt.reset();
    if (!commit(db.get(), error)) return store_result_e::failed;
    return rc == SQLITE_ROW ? store_result_e::ok : store_result_e::unknown;
}
