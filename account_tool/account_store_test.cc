#include "account_store.h"

#include <crypt.h>
#include <sqlite3.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

namespace {

// A fresh folder per test, so that the tests may run in parallel.
std::string fresh_dir() {
    const std::string dir = std::string(TEST_TMP_DIR) + "/" +
                            ::testing::UnitTest::GetInstance()->current_test_info()->name();
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
        sqlite3_prepare_v2(db, "SELECT password_hash FROM accounts WHERE user_name = ?", -1, &stmt,
                           nullptr) == SQLITE_OK) {
        sqlite3_bind_text(stmt, 1, name.data(), static_cast<int>(name.size()), SQLITE_TRANSIENT);
        if (sqlite3_step(stmt) == SQLITE_ROW)
            hash = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0));
    }
    sqlite3_finalize(stmt);
    sqlite3_close(db);
    return hash;
}

// Makes path unwritable for as long as it lives: no write permission, and for root (whom
// permissions do not stop) the immutable flag where the file system and the process allow it.
class read_only_guard {
public:
    explicit read_only_guard(const std::string& path) : path_(path) {
        struct stat st {};
        stat(path.c_str(), &st);
        mode_ = st.st_mode & 07777;
        chmod(path.c_str(), mode_ & ~0222);
        immutable_ = set_immutable(true);
    }
    ~read_only_guard() {
        if (immutable_)
            set_immutable(false);
        chmod(path_.c_str(), mode_);
    }
    read_only_guard(const read_only_guard&) = delete;
    read_only_guard& operator=(const read_only_guard&) = delete;

private:
    bool set_immutable(bool on) const {
        const int fd = open(path_.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            return false;
        int flags = 0;
        bool ok = ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
        flags = on ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL;
        ok = ok && ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
        close(fd);
        return ok;
    }

    std::string path_;
    mode_t mode_ = 0;
    bool immutable_ = false;
};

bool hash_matches(const std::string& password, const std::string& hash) {
    crypt_data work{};
    const char* again = crypt_rn(password.c_str(), hash.c_str(), &work, sizeof work);
    return again && hash == again;
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
    sqlite3* raw = nullptr;
    ASSERT_EQ(sqlite3_open_v2(db.c_str(), &raw, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(raw, "SELECT count(*) FROM accounts", nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(raw);
}

TEST(AccountStore, KeepsAccountLifecycle) {
    const std::string db = fresh_dir() + "/accounts.db";
    std::string error;
    account_s a = make_account("alice");
    a.status = 9;          // ignored: new accounts start active
    a.login_fail_cnt = 4;  // and with no failed logins
    ASSERT_EQ(add_account(db, a, "first", error), store_result_e::ok) << error;

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

    EXPECT_EQ(update_account(db, "alice", std::nullopt, std::string("new one"), error),
              store_result_e::ok);
    EXPECT_TRUE(hash_matches("new one", stored_hash(db, "alice")));
    ASSERT_EQ(find_account(db, "alice", found, error), store_result_e::ok);
    EXPECT_EQ(found.status, 0);

    EXPECT_EQ(update_account(db, "alice", 1, std::string("third"), error), store_result_e::ok);
    ASSERT_EQ(find_account(db, "alice", found, error), store_result_e::ok);
    EXPECT_EQ(found.status, 1);
    EXPECT_TRUE(hash_matches("third", stored_hash(db, "alice")));
}

TEST(AccountStore, FailedLoginCountStopsAtIntMax) {
    const std::string db = fresh_dir() + "/accounts.db";
    std::string error;
    ASSERT_EQ(add_account(db, make_account("a"), "pw", error), store_result_e::ok) << error;
    sqlite3* raw = nullptr;
    ASSERT_EQ(sqlite3_open(db.c_str(), &raw), SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(raw, "UPDATE accounts SET login_fail_cnt = 2147483646", nullptr, nullptr,
                           nullptr),
              SQLITE_OK);
    sqlite3_close(raw);
    EXPECT_EQ(count_failed_login(db, "a", error), store_result_e::ok);
    EXPECT_EQ(count_failed_login(db, "a", error), store_result_e::ok);
    account_s found;
    ASSERT_EQ(find_account(db, "a", found, error), store_result_e::ok);
    EXPECT_EQ(found.login_fail_cnt, INT_MAX);
}

TEST(AccountStore, ReportsAnUnusableStore) {
    const std::string db = fresh_dir() + "/is_a_folder.db";
    std::filesystem::create_directories(db);
    std::string error;
    account_s found;
    EXPECT_EQ(find_account(db, "a", found, error), store_result_e::failed);
    EXPECT_NE(error.find("cannot open " + db), std::string::npos) << error;
    std::ofstream(db + "/plain_file") << "x";
    EXPECT_EQ(add_account(db + "/plain_file/accounts.db", make_account("a"), "pw", error),
              store_result_e::failed);
    EXPECT_NE(error.find("Not a directory"), std::string::npos) << error;
}

TEST(AccountStore, LooksUpInAReadOnlyStore) {
    const std::string dir = fresh_dir();
    const std::string db = dir + "/accounts.db";
    std::string error;
    ASSERT_EQ(add_account(db, make_account("alice"), "pw", error), store_result_e::ok) << error;
    const read_only_guard file(db);
    const read_only_guard folder(dir);
    if (count_failed_login(db, "alice", error) != store_result_e::failed) {
        GTEST_SKIP() << "the store cannot be made read-only here";
    }
    account_s found;
    EXPECT_EQ(find_account(db, "alice", found, error), store_result_e::ok) << error;
    EXPECT_EQ(found.long_name, "Long alice");
    EXPECT_EQ(found.login_fail_cnt, 0);
    EXPECT_EQ(find_account(db, "bob", found, error), store_result_e::unknown) << error;
}
