// The user-management command as tessivane_server runs it: through the shell with every value
// in single quotes, or directly; results read from its output, its exit status and, by hand,
// from its database.
#include <crypt.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <rapidjson/document.h>

#include "common/files.h"
#include "common/process.h"

namespace {

const std::string tool = ACCOUNT_TOOL;
const std::string db_path = ACCOUNT_DB;

run_result_s run(std::vector<std::string> args) {
    args.insert(args.begin(), tool);
    return run_program(args);
}

// The shell's form of a value between single quotes, as the server writes it.
std::string quoted(const std::string& value) {
    std::string out = "'";
    for (char c : value)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

run_result_s shell(const std::string& command_line) {
    return run_program({"/bin/sh", "-c", command_line});
}

// How the server reads a number from the lookup output: the first line holding the quoted
// key, behind it blanks and colons skipped, then a decimal number; -1 when there is none.
int server_lookup(const std::string& output, const std::string& key) {
    const std::string needle = "\"" + key + "\"";
    size_t start = 0;
    while (start < output.size()) {
        size_t end = output.find('\n', start);
        if (end == std::string::npos)
            end = output.size();
        const std::string line = output.substr(start, end - start);
        start = end + 1;
        size_t at = line.find(needle);
        if (at == std::string::npos)
            continue;
        at += needle.size();
        while (at < line.size() && (line[at] == ' ' || line[at] == '\t' || line[at] == ':'))
            ++at;
        if (at == line.size())
            continue;
        return static_cast<int>(std::strtol(line.c_str() + at, nullptr, 10));
    }
    return -1;
}

struct row_s {
    std::string user_name, password_hash, level, group, long_name;
    long long timeout = 0, status = 0, login_fail_cnt = 0;
};

std::string text_column(sqlite3_stmt* stmt, int i) {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, i));
    return text ? std::string(text, static_cast<size_t>(sqlite3_column_bytes(stmt, i)))
                : std::string();
}

std::vector<row_s> stored_rows() {
    std::vector<row_s> rows;
    sqlite3* db = nullptr;
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_open_v2(db_path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK &&
        sqlite3_prepare_v2(
            db,
            "SELECT user_name, password_hash, level, user_group, long_name, timeout, status,"
            " login_fail_cnt FROM accounts ORDER BY rowid",
            -1, &stmt, nullptr) == SQLITE_OK) {
        while (sqlite3_step(stmt) == SQLITE_ROW) {
            rows.push_back({text_column(stmt, 0), text_column(stmt, 1), text_column(stmt, 2),
                            text_column(stmt, 3), text_column(stmt, 4),
                            sqlite3_column_int64(stmt, 5), sqlite3_column_int64(stmt, 6),
                            sqlite3_column_int64(stmt, 7)});
        }
    }
    sqlite3_finalize(stmt);
    sqlite3_close(db);
    return rows;
}

bool hash_matches(const std::string& password, const std::string& hash) {
    crypt_data work{};
    const char* again = crypt_rn(password.c_str(), hash.c_str(), &work, sizeof work);
    return again && hash == again;
}

class AccountTool : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* suffix : {"", "-journal", "-wal", "-shm"})
            std::remove((db_path + suffix).c_str());
    }
};

}  // namespace

TEST_F(AccountTool, ServesTheServersCommandLines) {
    const std::string q_tool = quoted(tool);
    // join: "'%s' %s '%s' '%s' %s --timeout=%d --group=%s --longname='%s'"
    run_result_s r =
        shell(q_tool + " add_user " + quoted("alice") + " " + quoted("pa ss'wd") +
              " admin --timeout=30 --group=44454641554c54 --longname=" + quoted("Alice O'Brien"));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "");

    auto lookup = [&](const char* key) {
        return server_lookup(shell(tool + " search_by_name 'alice'").out, key);
    };
    EXPECT_EQ(lookup("login_fail_cnt"), 0);
    EXPECT_EQ(lookup("status"), 1);

    // Device form "'%s' inc_login_fails '%s'", then the joining form without quotes around the path.
    r = shell(q_tool + " inc_login_fails 'alice'");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out + r.err, "");
    r = shell(tool + " inc_login_fails 'alice'");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(lookup("login_fail_cnt"), 2);

    r = shell(tool + " update_user 'alice' --status=0");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out + r.err, "");
    EXPECT_EQ(lookup("status"), 0);

    r = shell(tool + " update_user 'alice' --password=" + quoted("n3w 'pw' $(x)"));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out + r.err, "");

    const std::vector<row_s> rows = stored_rows();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].user_name, "alice");
    EXPECT_EQ(rows[0].level, "admin");
    EXPECT_EQ(rows[0].group, "44454641554c54");
    EXPECT_EQ(rows[0].long_name, "Alice O'Brien");
    EXPECT_EQ(rows[0].timeout, 30);
    EXPECT_EQ(rows[0].status, 0);
    EXPECT_EQ(rows[0].login_fail_cnt, 2);
    EXPECT_TRUE(hash_matches("n3w 'pw' $(x)", rows[0].password_hash));
    EXPECT_FALSE(hash_matches("pa ss'wd", rows[0].password_hash));
}

TEST_F(AccountTool, PrintsTheAccountAsJsonOneMemberPerLine) {
    ASSERT_EQ(run({"add_user", "bob", "pw", "supervisor", "--timeout=-1", "--group=abc",
                   "--longname=B \"Bo\""})
                  .status,
              0);
    ASSERT_EQ(run({"add_user", "carol", "pw", "user"}).status, 0);
    run_result_s r = run({"search_by_name", "bob"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out,
              "{\n"
              "  \"status\": 1,\n"
              "  \"login_fail_cnt\": 0,\n"
              "  \"timeout\": -1,\n"
              "  \"user_name\": \"bob\",\n"
              "  \"long_name\": \"B \\\"Bo\\\"\",\n"
              "  \"level\": \"supervisor\",\n"
              "  \"group\": \"abc\"\n"
              "}\n");
    r = run({"search_by_name", "carol"});
    EXPECT_NE(
        r.out.find("  \"timeout\": 0,\n  \"user_name\": \"carol\",\n  \"long_name\": \"\",\n  "
                   "\"level\": \"user\",\n  \"group\": \"\"\n"),
        std::string::npos)
        << r.out;
}

TEST_F(AccountTool, ExitStatusesTellTheOutcome) {
    ASSERT_EQ(run({"add_user", "dave", "pw", "user", "--longname=Dave"}).status, 0);
    const std::vector<row_s> before = stored_rows();

    const std::vector<std::vector<std::string>> usage = {
        {},
        {"version"},
        {"add_user", "x", "pw"},
        {"add_user", "x", "pw", "root"},
        {"add_user", "", "pw", "user"},
        {"add_user", "x", "pw", "user", "--timeout=soon"},
        {"update_user", "dave"},
        {"update_user", "dave", "--status=0", "--bogus=1"},
        {"inc_login_fails"},
        {"search_by_name", "dave", "x"},
    };
    for (const auto& args : usage) {
        run_result_s r = run(args);
        EXPECT_EQ(r.status, 2) << (args.empty() ? "" : args[0]);
        EXPECT_EQ(r.out, "");
        EXPECT_NE(r.err.find("usage: tessivane"), std::string::npos) << r.err;
    }

    run_result_s r = run({"add_user", "dave", "other", "admin", "--longname=Not Dave"});
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(r.err, "tessivane: user \"dave\" already exists\n");

    for (const auto& args :
         std::vector<std::vector<std::string>>{{"update_user", "Dave", "--status=0"},
                                               {"update_user", "eve", "--password=x"},
                                               {"inc_login_fails", "dave "},
                                               {"search_by_name", "eve"}}) {
        r = run(args);
        EXPECT_EQ(r.status, 4) << args[1];
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, "tessivane: no user \"" + args[1] + "\"\n");
    }
    const std::vector<row_s> after = stored_rows();
    ASSERT_EQ(after.size(), 1u);
    EXPECT_EQ(after[0].long_name, before[0].long_name);
    EXPECT_EQ(after[0].password_hash, before[0].password_hash);
    EXPECT_EQ(after[0].status, 1);
    EXPECT_EQ(after[0].login_fail_cnt, 0);

    ASSERT_TRUE(write_file(db_path, std::string(2048, 'x')));
    for (const auto& args : std::vector<std::vector<std::string>>{{"add_user", "f", "pw", "user"},
                                                                  {"inc_login_fails", "dave"},
                                                                  {"search_by_name", "dave"}}) {
        r = run(args);
        EXPECT_EQ(r.status, 1) << args[0];
        EXPECT_EQ(r.out, "");
        EXPECT_NE(r.err.find("tessivane: account store " + db_path + ": "), std::string::npos)
            << r.err;
    }
    EXPECT_EQ(read_file(db_path), std::string(2048, 'x'));
}

TEST_F(AccountTool, CreatesItsOwnerOnlyDatabaseWhenMissing) {
    ASSERT_FALSE(file_exists(db_path));
    EXPECT_EQ(run({"search_by_name", "nobody"}).status, 4);
    struct stat st {};
    ASSERT_EQ(stat(db_path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_TRUE(stored_rows().empty());
    EXPECT_EQ(run({"add_user", "first", "pw", "user"}).status, 0);
    EXPECT_EQ(stored_rows().size(), 1u);
}

TEST_F(AccountTool, StoresPasswordsOnlyAsSaltedHashes) {
    const std::string password = "Marker-Password-9";
    ASSERT_EQ(run({"add_user", "a", password, "user"}).status, 0);
    ASSERT_EQ(run({"add_user", "b", "first", "user"}).status, 0);
    ASSERT_EQ(run({"update_user", "b", "--password=" + password}).status, 0);
    const std::vector<row_s> rows = stored_rows();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_NE(rows[0].password_hash, rows[1].password_hash);
    EXPECT_TRUE(hash_matches(password, rows[0].password_hash));
    EXPECT_TRUE(hash_matches(password, rows[1].password_hash));
    EXPECT_EQ(read_file(db_path).find(password), std::string::npos);
    EXPECT_EQ(run({"search_by_name", "a"}).out.find("$"), std::string::npos);
}

TEST_F(AccountTool, StoresHostileArgumentsByteForByte) {
    const std::vector<std::string> values = {
        "o'brien",
        "it''s",
        "a\"b\\c",
        "$(touch pwned)",
        "`touch pwned`",
        "x; rm -rf pwned",
        "two\nlines",
        "\ttab\r",
        "--status=1",
        "\xc3\xa9\xf0\x9f\x98\x80",
        std::string(5000, 'n') + "'",
    };
    for (const std::string& v : values) {
        run_result_s r =
            run({"add_user", v, v.substr(0, 511), "user", "--group=" + v, "--longname=" + v + v});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(run({"inc_login_fails", v}).status, 0);
    }
    const std::vector<row_s> rows = stored_rows();
    ASSERT_EQ(rows.size(), values.size());
    for (size_t i = 0; i < values.size(); ++i) {
        EXPECT_EQ(rows[i].user_name, values[i]);
        EXPECT_EQ(rows[i].group, values[i]);
        EXPECT_EQ(rows[i].long_name, values[i] + values[i]);
        EXPECT_EQ(rows[i].login_fail_cnt, 1);
        EXPECT_TRUE(hash_matches(values[i].substr(0, 511), rows[i].password_hash)) << i;
    }
    EXPECT_FALSE(file_exists("pwned"));

    // Through the shell with the server's quoting, as the same single argument.
    run_result_s r = shell(quoted(tool) + " update_user " + quoted("o'brien") + " --status=0");
    EXPECT_EQ(r.status, 0) << r.err;
    r = run({"search_by_name", "two\nlines"});
    EXPECT_NE(r.out.find("\n  \"user_name\": \"two\\nlines\",\n"), std::string::npos) << r.out;
    EXPECT_EQ(server_lookup(r.out, "login_fail_cnt"), 1);
    EXPECT_EQ(server_lookup(shell(tool + " search_by_name " + quoted("o'brien")).out, "status"), 0);
}

TEST_F(AccountTool, ParallelProcessesLoseNoUpdate) {
    ASSERT_EQ(run({"add_user", "shared", "pw", "user"}).status, 0);
    constexpr int workers = 4, per_worker = 20;
    std::vector<std::vector<int>> statuses(workers);
    std::vector<std::thread> threads;
    for (int w = 0; w < workers; ++w) {
        threads.emplace_back([w, &statuses] {
            // Each worker also races the others to add one name, and adds one of its own.
            statuses[w].push_back(
                run({"add_user", "race", "pw" + std::to_string(w), "user"}).status);
            statuses[w].push_back(
                run({"add_user", "own" + std::to_string(w), "pw", "user"}).status);
            for (int i = 0; i < per_worker; ++i) {
                statuses[w].push_back(run({"inc_login_fails", "shared"}).status);
                statuses[w].push_back(
                    run({"update_user", "shared", "--status=" + std::to_string(i)}).status);
                statuses[w].push_back(run({"search_by_name", "shared"}).status);
            }
        });
    }
    for (auto& t : threads)
        t.join();
    int race_winners = 0;
    for (const auto& s : statuses) {
        ASSERT_EQ(s.size(), 2u + 3u * per_worker);
        race_winners += s[0] == 0;
        EXPECT_TRUE(s[0] == 0 || s[0] == 3) << s[0];
        for (size_t i = 1; i < s.size(); ++i)
            EXPECT_EQ(s[i], 0) << i;
    }
    EXPECT_EQ(race_winners, 1);
    EXPECT_EQ(server_lookup(run({"search_by_name", "shared"}).out, "login_fail_cnt"),
              workers * per_worker);
    EXPECT_EQ(stored_rows().size(), 2u + workers);
}

// A reader that takes the number behind the first occurrence of the quoted key, as the contract
// allows, must not be fooled by a name that reads like the key.
TEST_F(AccountTool, NoNameComesBeforeTheNumbers) {
    ASSERT_EQ(run({"add_user", "status", "pw", "user", "--longname=login_fail_cnt"}).status, 0);
    ASSERT_EQ(run({"inc_login_fails", "status"}).status, 0);
    const std::string out = run({"search_by_name", "status"}).out;
    EXPECT_EQ(server_lookup(out, "status"), 1) << out;
    EXPECT_EQ(server_lookup(out, "login_fail_cnt"), 1) << out;
}

TEST_F(AccountTool, NamesThatAreNotUtf8AreRefusedAndOldOnesStillPrintAsJson) {
    run_result_s r = run({"add_user", "raw\xff\xfe", "pw", "user"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err.substr(0, r.err.find('\n')), "tessivane: the user name is not valid UTF-8");
    EXPECT_TRUE(stored_rows().empty());

    // Passwords are never printed: any bytes will do.
    ASSERT_EQ(run({"add_user", "old", "\xff\xfe", "admin"}).status, 0);
    ASSERT_TRUE(hash_matches("\xff\xfe", stored_rows().at(0).password_hash));

    // An account stored before names were checked is still found, counted and printed as JSON.
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(db_path.c_str(), &db), SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(db,
                           "UPDATE accounts SET user_name = 'M' || X'FC' || 'ller',"
                           " long_name = X'FFFE', user_group = X'C0AF'",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(db);
    ASSERT_EQ(run({"inc_login_fails", "M\xfcller"}).status, 0);
    r = run({"search_by_name", "M\xfcller"});
    EXPECT_EQ(r.status, 0);
    rapidjson::Document doc;
    doc.Parse<rapidjson::kParseValidateEncodingFlag>(r.out.c_str());
    ASSERT_FALSE(doc.HasParseError()) << r.out;
    EXPECT_EQ(doc["user_name"].GetString(), std::string("M\xef\xbf\xbdller"));
    EXPECT_EQ(doc["login_fail_cnt"].GetInt(), 1);
    EXPECT_EQ(doc["level"].GetString(), std::string("admin"));
}
