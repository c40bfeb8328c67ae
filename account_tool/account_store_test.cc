#include "account_store.h"

#include <crypt.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <climits>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace {

// A fresh folder per test, so that the tests may run in parallel.
std::string fresh_dir() {
    const std::string dir =
        std::string(TEST_TMP_DIR) + "/" + ::testing::UnitTest::GetInstance()->current_test_info()->name();
    std::filesystem::remove_all(dir);
    return dir;
}

account_s make_account(const std::string& name) {
    account_s a;
    a.user_name = name;
    a.long_name = "Long " + name;
    a.level = "supervisor";
    a.group = "44454641554c54";
    a.timeout = 30;
    return a;
}

std::string stored_hash(const std::string& db_path, const std::string& name) {
    sqlite3* db = nullptr;
    std::string hash;
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_open_v2(db_path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK &&
        sqlite3_prepare_v2(db, "SELECT password_hash FROM accounts WHERE user_name = ?", -1, &stmt, nullptr) ==
            SQLITE_OK) {
        sqlite3_bind_text(stmt, 1, name.data(), static_cast<int>(name.size()), SQLITE_TRANSIENT);
        if (sqlite3_step(stmt) == SQLITE_ROW) hash = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0));
    }
    sqlite3_finalize(stmt);
    sqlite3_close(db);
    return hash;
}

bool hash_matches(const std::string& password, const std::string& hash) {
    crypt_data work{};
    const char* again = crypt_rn(password.c_str(), hash.c_str(), &work, sizeof work);
    return again && hash == again;
}

std::string file_bytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

TEST(AccountStore, CreatesFoldersAndAnOwnerOnlyDatabaseOnFirstUse) {
    const std::string db = fresh_dir() + "/product/users/accounts.db";
    std::string error;
    account_s found;
    EXPECT_EQ(find_account(db, "nobody", found, error), store_result_e::unknown) << error;
    struct stat st {};
    ASSERT_EQ(stat(db.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    // The table exists after a mere lookup.
    EXPECT_EQ(stored_hash(db, "nobody"), "");
    sqlite3* raw = nullptr;
    ASSERT_EQ(sqlite3_open_v2(db.c_str(), &raw, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(raw, "SELECT count(*) FROM accounts", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(raw);
}

TEST(AccountStore, KeepsAccountLifecycle) {
    const std::string db = fresh_dir() + "/accounts.db";
    std::string error;
    account_s a = make_account("alice");
    a.status = 9;          // ignored: new accounts start active
    a.login_fail_cnt = 4;  // and with no failed logins
    ASSERT_EQ(add_account(db, a, "first", error), store_result_e::ok) << error;

    account_s other = make_account("alice");
    other.long_name = "Impostor";
    EXPECT_EQ(add_account(db, other, "second", error), store_result_e::exists);

    account_s found;
    ASSERT_EQ(find_account(db, "alice", found, error), store_result_e::ok);
    EXPECT_EQ(found.long_name, "Long alice");
    EXPECT_EQ(found.level, "supervisor");
    EXPECT_EQ(found.group, "44454641554c54");
    EXPECT_EQ(found.timeout, 30);
    EXPECT_EQ(found.status, 1);
    EXPECT_EQ(found.login_fail_cnt, 0);
    EXPECT_TRUE(hash_matches("first", stored_hash(db, "alice")));

    EXPECT_EQ(count_failed_login(db, "alice", error), store_result_e::ok);
    EXPECT_EQ(count_failed_login(db, "alice", error), store_result_e::ok);
    EXPECT_EQ(update_account(db, "alice", 0, std::nullopt, error), store_result_e::ok);
    ASSERT_EQ(find_account(db, "alice", found, error), store_result_e::ok);
    EXPECT_EQ(found.login_fail_cnt, 2);
    EXPECT_EQ(found.status, 0);
    EXPECT_TRUE(hash_matches("first", stored_hash(db, "alice")));

    EXPECT_EQ(update_account(db, "alice", std::nullopt, std::string("new one"), error), store_result_e::ok);
    EXPECT_TRUE(hash_matches("new one", stored_hash(db, "alice")));
    ASSERT_EQ(find_account(db, "alice", found, error), store_result_e::ok);
    EXPECT_EQ(found.status, 0);

    EXPECT_EQ(update_account(db, "alice", 1, std::string("third"), error), store_result_e::ok);
    ASSERT_EQ(find_account(db, "alice", found, error), store_result_e::ok);
    EXPECT_EQ(found.status, 1);
    EXPECT_TRUE(hash_matches("third", stored_hash(db, "alice")));
}

TEST(AccountStore, ReportsUnknownUsersWithoutCreatingThem) {
    const std::string db = fresh_dir() + "/accounts.db";
    std::string error;
    ASSERT_EQ(add_account(db, make_account("Alice"), "pw", error), store_result_e::ok) << error;
    account_s found;
    for (const std::string name : {"alice", "Alice ", "Alic"}) {
        EXPECT_EQ(find_account(db, name, found, error), store_result_e::unknown) << name;
        EXPECT_EQ(count_failed_login(db, name, error), store_result_e::unknown) << name;
        EXPECT_EQ(update_account(db, name, 0, std::string("x"), error), store_result_e::unknown) << name;
    }
    ASSERT_EQ(find_account(db, "Alice", found, error), store_result_e::ok);
    EXPECT_EQ(found.status, 1);
    EXPECT_TRUE(hash_matches("pw", stored_hash(db, "Alice")));
}

TEST(AccountStore, StoresOnlySaltedHashes) {
    const std::string db = fresh_dir() + "/accounts.db";
    std::string error;
    const std::string password = "Plaintext-Marker-1234";
    ASSERT_EQ(add_account(db, make_account("a"), password, error), store_result_e::ok) << error;
    ASSERT_EQ(add_account(db, make_account("b"), password, error), store_result_e::ok) << error;
    const std::string hash_a = stored_hash(db, "a"), hash_b = stored_hash(db, "b");
    EXPECT_NE(hash_a, hash_b);
    EXPECT_TRUE(hash_matches(password, hash_a));
    EXPECT_TRUE(hash_matches(password, hash_b));
    EXPECT_FALSE(hash_matches("plaintext-marker-1234", hash_a));
    EXPECT_EQ(file_bytes(db).find(password), std::string::npos);
}

TEST(AccountStore, StoresHostileValuesByteForByte) {
    const std::string db = fresh_dir() + "/accounts.db";
    std::string error;
    const std::vector<std::string> names = {
        "o'brien", "a\"b", "$(touch pwned)", "`id`", "x; rm -rf /", "line\nbreak", "tab\there",
        "back\\slash", "\xff\xfe invalid utf-8", std::string(10000, 'L'), "--status=1",
    };
    for (const std::string& name : names) {
        account_s a = make_account(name);
        a.long_name = name + "'\"$(x)";
        a.group = name;
        ASSERT_EQ(add_account(db, a, name.substr(0, 500), error), store_result_e::ok) << error;
    }
    for (const std::string& name : names) {
        account_s found;
        ASSERT_EQ(find_account(db, name, found, error), store_result_e::ok) << name;
        EXPECT_EQ(found.user_name, name);
        EXPECT_EQ(found.long_name, name + "'\"$(x)");
        EXPECT_EQ(found.group, name);
        EXPECT_TRUE(hash_matches(name.substr(0, 500), stored_hash(db, name))) << name;
    }
}

TEST(AccountStore, FailedLoginCountStopsAtIntMax) {
    const std::string db = fresh_dir() + "/accounts.db";
    std::string error;
    ASSERT_EQ(add_account(db, make_account("a"), "pw", error), store_result_e::ok) << error;
    sqlite3* raw = nullptr;
    ASSERT_EQ(sqlite3_open(db.c_str(), &raw), SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(raw, "UPDATE accounts SET login_fail_cnt = 2147483646", nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(raw);
    EXPECT_EQ(count_failed_login(db, "a", error), store_result_e::ok);
    EXPECT_EQ(count_failed_login(db, "a", error), store_result_e::ok);
    account_s found;
    ASSERT_EQ(find_account(db, "a", found, error), store_result_e::ok);
    EXPECT_EQ(found.login_fail_cnt, INT_MAX);
}

TEST(AccountStore, ReportsAnUnusableStore) {
    const std::string dir = fresh_dir();
    std::filesystem::create_directories(dir + "/is_a_dir.db");
    std::string error;
    account_s found;
    EXPECT_EQ(find_account(dir + "/is_a_dir.db", "a", found, error), store_result_e::failed);
    EXPECT_FALSE(error.empty());

    const std::string garbage = dir + "/garbage.db";
    {
        std::ofstream out(garbage, std::ios::binary);
        out << std::string(4096, 'x');
    }
    error.clear();
    EXPECT_EQ(count_failed_login(garbage, "a", error), store_result_e::failed);
    EXPECT_NE(error.find("not a database"), std::string::npos) << error;
    EXPECT_EQ(add_account(garbage, make_account("a"), "pw", error), store_result_e::failed);
    EXPECT_EQ(file_bytes(garbage), std::string(4096, 'x'));
}

TEST(AccountStore, CountsEveryFailedLoginFromConcurrentConnections) {
    const std::string db = fresh_dir() + "/accounts.db";
    std::string error;
    ASSERT_EQ(add_account(db, make_account("shared"), "pw", error), store_result_e::ok) << error;
    constexpr int threads = 4, per_thread = 25;
    std::vector<std::thread> workers;
    std::vector<int> failures(threads, 0);
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([&, t] {
            std::string err;
            for (int i = 0; i < per_thread; ++i) {
                if (count_failed_login(db, "shared", err) != store_result_e::ok) ++failures[t];
            }
        });
    }
    for (auto& w : workers) w.join();
    for (int f : failures) EXPECT_EQ(f, 0);
    account_s found;
    ASSERT_EQ(find_account(db, "shared", found, error), store_result_e::ok);
    EXPECT_EQ(found.login_fail_cnt, threads * per_thread);
}
