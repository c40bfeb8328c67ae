#include "account_store.h"

#include <crypt.h>
#include <fcntl.h>
#include <sqlite3.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>

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

// mkdir -p of the folder that holds path. Not std::filesystem::create_directories: its folders
// get 0777 less the umask, these 0755 less the umask.
bool make_parent_dirs(const std::string& path, std::string& error) {
    const std::filesystem::path folder = std::filesystem::path(path).parent_path();
    std::filesystem::path dir = folder.root_path();
    for (const std::filesystem::path& part : folder.relative_path()) {
        dir /= part;
        if (mkdir(dir.c_str(), 0755) != 0 && errno != EEXIST) {
            error = "cannot create " + dir.string() + ": " + std::strerror(errno);
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
    if (!make_parent_dirs(path, error))
        return nullptr;
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
    if (sqlite3_exec(db.get(), "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK ||
        sqlite3_exec(db.get(), SCHEMA, nullptr, nullptr, nullptr) != SQLITE_OK) {
        fail(db.get(), path, error);
        return nullptr;
    }
    return db;
}

bool commit(sqlite3* db, std::string& error) {
    return sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK ||
           fail(db, "commit", error);
}

void bind_text(sqlite3_stmt* stmt, int index, const std::string& text) {
    sqlite3_bind_text(stmt, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
}

// One operation: a connection in an immediate transaction and its statement, whose ?1 is the
// user name. The statement is finalized before the connection closes.
struct operation_s {
    db_ptr db;
    stmt_ptr stmt;
};

bool begin_operation(const std::string& db_path, const char* sql, const std::string& user_name,
                     operation_s& op, std::string& error) {
    op.db = open_store(db_path, error);
    if (!op.db)
        return false;
    sqlite3_stmt* raw = nullptr;
    if (sqlite3_prepare_v2(op.db.get(), sql, -1, &raw, nullptr) != SQLITE_OK) {
        return fail(op.db.get(), "prepare", error);
    }
    op.stmt.reset(raw);
    bind_text(raw, 1, user_name);
    return true;
}

std::string column_text(sqlite3_stmt* stmt, int index) {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, index));
    return text ? std::string(text, static_cast<size_t>(sqlite3_column_bytes(stmt, index)))
                : std::string();
}

// Steps a statement that returns no rows and reports whether it changed one.
store_result_e run_change(operation_s& op, store_result_e when_unchanged, std::string& error) {
    sqlite3* db = op.db.get();
    if (sqlite3_step(op.stmt.get()) != SQLITE_DONE) {
        fail(db, "write", error);
        return store_result_e::failed;
    }
    const bool changed = sqlite3_changes(db) > 0;
    // Committed even when nothing changed: a new database keeps its table.
    if (!commit(db, error))
        return store_result_e::failed;
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

store_result_e add_account(const std::string& db_path, const account_s& account,
                           const std::string& password, std::string& error) {
    const std::string hash = hash_password(password, error);
    operation_s op;
    if (hash.empty() ||
        !begin_operation(
            db_path,
            "INSERT INTO accounts (user_name, password_hash, level, timeout, user_group, long_name)"
            " VALUES (?1, ?2, ?3, ?4, ?5, ?6) ON CONFLICT (user_name) DO NOTHING",
            account.user_name, op, error)) {
        return store_result_e::failed;
    }
    bind_text(op.stmt.get(), 2, hash);
    bind_text(op.stmt.get(), 3, account.level);
    sqlite3_bind_int(op.stmt.get(), 4, account.timeout);
    bind_text(op.stmt.get(), 5, account.group);
    bind_text(op.stmt.get(), 6, account.long_name);
    return run_change(op, store_result_e::exists, error);
}

store_result_e update_account(const std::string& db_path, const std::string& user_name,
                              std::optional<int> status, const std::optional<std::string>& password,
                              std::string& error) {
    const std::string hash = password ? hash_password(*password, error) : std::string();
    operation_s op;
    if ((password && hash.empty()) ||
        !begin_operation(db_path,
                         "UPDATE accounts SET status = coalesce(?2, status),"
                         " password_hash = coalesce(?3, password_hash) WHERE user_name = ?1",
                         user_name, op, error)) {
        return store_result_e::failed;
    }
    if (status)
        sqlite3_bind_int(op.stmt.get(), 2, *status);  // unbound parameters are NULL
    if (password)
        bind_text(op.stmt.get(), 3, hash);
    return run_change(op, store_result_e::unknown, error);
}

store_result_e count_failed_login(const std::string& db_path, const std::string& user_name,
                                  std::string& error) {
    operation_s op;
    if (!begin_operation(db_path,
                         "UPDATE accounts SET login_fail_cnt = min(login_fail_cnt + 1, 2147483647)"
                         " WHERE user_name = ?1",
                         user_name, op, error)) {
        return store_result_e::failed;
    }
    return run_change(op, store_result_e::unknown, error);
}

namespace {

const char* const FIND_SQL =
    "SELECT user_name, long_name, level, user_group, timeout, status, login_fail_cnt"
    " FROM accounts WHERE user_name = ?1";

// Steps the lookup statement of an operation and fills out from its row.
store_result_e read_account(sqlite3* db, sqlite3_stmt* stmt, account_s& out, std::string& error) {
    const int rc = sqlite3_step(stmt);
    if (rc == SQLITE_DONE)
        return store_result_e::unknown;
    if (rc != SQLITE_ROW) {
        fail(db, "read", error);
        return store_result_e::failed;
    }
    out.user_name = column_text(stmt, 0);
    out.long_name = column_text(stmt, 1);
    out.level = column_text(stmt, 2);
    out.group = column_text(stmt, 3);
    out.timeout = sqlite3_column_int(stmt, 4);
    out.status = sqlite3_column_int(stmt, 5);
    out.login_fail_cnt = sqlite3_column_int(stmt, 6);
    return store_result_e::ok;
}

// A lookup needs no write access, so an existing store is read through a read-only connection:
// a store the caller may not write (or a read-only file system) still answers. Empty when the
// store cannot be read that way (missing, without its table, a journal left to roll back).
std::optional<store_result_e> find_read_only(const std::string& db_path,
                                             const std::string& user_name, account_s& out,
                                             std::string& error) {
    struct stat st {};
    if (stat(db_path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size == 0)
        return std::nullopt;
    sqlite3* raw_db = nullptr;
    const int rc = sqlite3_open_v2(db_path.c_str(), &raw_db, SQLITE_OPEN_READONLY, nullptr);
    const db_ptr db(raw_db);
    if (rc != SQLITE_OK)
        return std::nullopt;
    sqlite3_busy_timeout(raw_db, store_busy_ms);
    sqlite3_stmt* raw_stmt = nullptr;
    if (sqlite3_prepare_v2(raw_db, FIND_SQL, -1, &raw_stmt, nullptr) != SQLITE_OK)
        return std::nullopt;
    const stmt_ptr stmt(raw_stmt);
    bind_text(raw_stmt, 1, user_name);
    return read_account(raw_db, raw_stmt, out, error);
}

}  // namespace

store_result_e find_account(const std::string& db_path, const std::string& user_name,
                            account_s& out, std::string& error) {
    if (const auto found = find_read_only(db_path, user_name, out, error))
        return *found;
    // As on any first use: the store and its table are made, then looked in.
    operation_s op;
    if (!begin_operation(db_path, FIND_SQL, user_name, op, error))
        return store_result_e::failed;
    const store_result_e result = read_account(op.db.get(), op.stmt.get(), out, error);
    if (result == store_result_e::failed)
        return result;
    op.stmt.reset();
    if (!commit(op.db.get(), error))
        return store_result_e::failed;
    return result;
}
