// The account store: one SQLite database file, table "accounts", keyed by the user name
// compared byte for byte. Every call opens its own connection and does its work in one
// immediate transaction (a lookup in one read), so several processes may call at once; a call that finds the
// database locked waits up to store_busy_ms before it fails. The database, its table and
// any missing parent folders are created on first use. Passwords are stored only as salted
// libcrypt hashes (the library's preferred method, yescrypt on Debian 12).
#pragma once

#include <optional>
#include <string>

struct account_s {
    std::string user_name;
    std::string long_name;
    std::string level;  // "admin", "supervisor" or "user"
    std::string group;
    int timeout = 0;
    int status = 1;  // 1 for a new account; a deactivation sets 0
    int login_fail_cnt = 0;
};

enum class store_result_e {
    ok,
    exists,   // add_account: the user name is taken; nothing changed
    unknown,  // no account of that name; nothing changed
    failed,   // the store could not be opened, read or written, or hashing failed; error says why
};

constexpr int store_busy_ms = 5000;

// Adds account (its status and login_fail_cnt are ignored: a new account is active with no
// failed logins) with the hash of password.
store_result_e add_account(const std::string& db_path, const account_s& account,
                           const std::string& password, std::string& error);

// Sets the status, the password, or both, of an existing account in one transaction.
store_result_e update_account(const std::string& db_path, const std::string& user_name,
                              std::optional<int> status, const std::optional<std::string>& password,
                              std::string& error);

// Adds one to the account's failed-login count (which stops at INT_MAX).
store_result_e count_failed_login(const std::string& db_path, const std::string& user_name,
                                  std::string& error);

// Fills out with the stored account. An existing store is only read (a read-only store answers);
// a missing one is created as by the other calls.
store_result_e find_account(const std::string& db_path, const std::string& user_name,
                            account_s& out, std::string& error);
