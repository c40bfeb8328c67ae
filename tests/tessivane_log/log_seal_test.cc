// Sealing through the built tool: setup-keys, sealed appends, verify and export, and the
// tampering verify must catch, done with the sqlite3 shell or, for forgeries that recompute
// seals, with the documented formats (seal_forger.h).
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "common/files.h"
#include "common/lines.h"
#include "common/process.h"
#include "common/scratch.h"
#include "seal_forger.h"

extern char** environ;

namespace {

const std::string kDb = LOG_DB_PATH;
const std::string kKeyFile = kDb + ".sealkey";

run_result_s tool(std::vector<std::string> args) {
    args.insert(args.begin(), LOG_TOOL);
    run_options_s opt;
    opt.set_env = {{"TZ", "UTC0"}};
    return run_program(args, opt);
}

run_result_s shell(const std::string& sql, const std::string& db = kDb) {
    return run_program({SQLITE3_SHELL, "-bail", db, sql});
}

struct verification_key_s {
    std::string text, seed;
    int64_t start = 0, interval = 0;
};

// The key as setup-keys prints it: SEED/START/INTERVAL on a line of its own.
verification_key_s key_in(const std::string& out) {
    verification_key_s key;
    std::smatch m;
    const std::regex form(
        R"(\n    (([0-9a-f]{8})-([0-9a-f]{8})-([0-9a-f]{8})-([0-9a-f]{8}))/(\d+)/(\d+)\n)");
    if (std::regex_search(out, m, form)) {
        key.text = m[0].str().substr(5, m[0].length() - 6);
        key.seed = unhex(m[2].str() + m[3].str() + m[4].str() + m[5].str());
        key.start = std::stoll(m[6]);
        key.interval = std::stoll(m[7]);
    }
    return key;
}

std::string key_text(const std::string& seed, int64_t start, int64_t interval) {
    const std::string h = hex(seed);
    return h.substr(0, 8) + "-" + h.substr(8, 8) + "-" + h.substr(16, 8) + "-" + h.substr(24) +
           "/" + std::to_string(start) + "/" + std::to_string(interval);
}

std::string key_file_text(int64_t setup, int64_t start, int64_t interval, int64_t period,
                          const std::string& key) {
    return "tessivane_log sealing key\nsetup " + std::to_string(setup) + "\nstart " +
           std::to_string(start) + "\ninterval " + std::to_string(interval) + "\nperiod " +
           std::to_string(period) + "\nkey " + hex(key) + "\n";
}

struct db_s {
    sqlite3* db = nullptr;
    explicit db_s(const std::string& path = kDb) { sqlite3_open(path.c_str(), &db); }
    ~db_s() { sqlite3_close(db); }
};

class LogSeal : public ::testing::Test {
protected:
    void SetUp() override {
        remove_log();
        std::filesystem::create_directories(std::filesystem::path(kDb).parent_path());
        ASSERT_EQ(run_program({"/bin/sh", CREATE_LOG_DB_SCRIPT, LOG_SCHEMA_FILE, kDb}).status, 0);
    }
    void TearDown() override { remove_log(); }

    static void remove_log() {
        for (const char* suffix : {"", "-journal", ".sealkey"})
            std::remove((kDb + suffix).c_str());
    }

    // Appends entries u<i>/K2/e/m, before of them before setup-keys (then dated by
    // before_setup, when given), and returns the set-up's verification key.
    static verification_key_s sealed_log(int before, int after,
                                         const std::string& before_setup = "") {
        for (int i = 1; i <= before; ++i)
            EXPECT_EQ(tool({"append", "u" + std::to_string(i), "K2", "e", "m"}).status, 0);
        if (!before_setup.empty()) {
            EXPECT_EQ(shell(before_setup).status, 0);
        }
        const run_result_s setup = tool({"setup-keys"});
        EXPECT_EQ(setup.status, 0) << setup.err;
        for (int i = before + 1; i <= before + after; ++i)
            EXPECT_EQ(tool({"append", "u" + std::to_string(i), "K2", "e", "m"}).status, 0);
        return key_in(setup.out);
    }

    // A log sealed with a 1-minute period that began an hour ago: the set-up's start is moved
    // back, and the returned verification key says so.
    static verification_key_s setup_an_hour_ago() {
        const verification_key_s made = key_in(tool({"setup-keys", "--interval", "1"}).out);
        const int64_t start = time(nullptr) - 3600;
        EXPECT_EQ(shell("UPDATE seal_setup SET start = " + std::to_string(start)).status, 0);
        return {key_text(made.seed, start, 60), made.seed, start, 60};
    }

    static run_result_s verify(const verification_key_s& key) {
        return tool({"verify", "--key", key.text});
    }
};

TEST_F(LogSeal, SetupKeysSealsOnceAndPrintsTheKeyOnce) {
    ASSERT_EQ(tool({"append", "before", "K2", "e", "m"}).status, 0);
    EXPECT_EQ(shell("SELECT name FROM sqlite_master WHERE type = 'table'").out, "logs\n");
    EXPECT_FALSE(file_exists(kKeyFile));

    const run_result_s setup = tool({"setup-keys", "--interval", "5"});
    EXPECT_EQ(setup.status, 0) << setup.err;
    const verification_key_s key = key_in(setup.out);
    ASSERT_EQ(key.seed.size(), 16u) << setup.out;
    EXPECT_EQ(key.interval, 300);
    EXPECT_NE(setup.out.find("1 entry already in the log sealed"), std::string::npos);
    EXPECT_NE(setup.out.find("Keep the verification key off this machine"), std::string::npos);
    struct stat st {};
    ASSERT_EQ(stat(kKeyFile.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(read_file(kKeyFile), key_file_text(1, key.start, 300, 0, first_key(key.seed)));

    const std::string key_before = read_file(kKeyFile);
    const run_result_s again = tool({"setup-keys"});
    EXPECT_EQ(again.status, 1);
    EXPECT_EQ(again.out, "");
    EXPECT_NE(again.err.find("is already sealed (setup 1"), std::string::npos) << again.err;
    EXPECT_NE(again.err.find("--force"), std::string::npos);
    EXPECT_EQ(read_file(kKeyFile), key_before);

    const run_result_s forced = tool({"setup-keys", "--force"});
    EXPECT_EQ(forced.status, 0);
    EXPECT_NE(forced.out.find("A new sealing period begins: setup 2"), std::string::npos);
    const verification_key_s second = key_in(forced.out);
    EXPECT_NE(second.seed, key.seed);
    EXPECT_GT(second.start, key.start);
    ASSERT_EQ(tool({"append", "after", "K2", "e", "m"}).status, 0);
    // Both keys check their own set-up; either alone leaves the other to the chain.
    const run_result_s both = tool({"verify", "--key", key.text, "--key", second.text});
    EXPECT_EQ(both.status, 0) << both.out;
    EXPECT_NE(both.out.find("checked: the chain and the MACs of setup 1 and 2\n"),
              std::string::npos)
        << both.out;
    EXPECT_NE(verify(second).out.find("setup 1 without its key: chain only"), std::string::npos);

    EXPECT_EQ(tool({"setup-keys", "--interval", "0"}).status, 2);
    EXPECT_EQ(tool({"setup-keys", "--interval", "15x"}).status, 2);
}

TEST_F(LogSeal, VerifyReportsTheCheckedRange) {
    const verification_key_s key = sealed_log(2, 3);
    const run_result_s chain_only = tool({"verify"});
    EXPECT_EQ(chain_only.status, 0);
    const std::vector<std::string> lines = lines_of(chain_only.out);
    ASSERT_EQ(lines.size(), 4u) << chain_only.out;
    EXPECT_EQ(lines[0], "entries: 5 (5 sealed, 0 unsealed)");
    EXPECT_EQ(lines[1].substr(0, 18), "sealed: from row 1");
    EXPECT_NE(lines[1].find(" to row 5, "), std::string::npos);
    EXPECT_EQ(lines[2], "checked: the chain only (no --key: the MACs are not checked)");
    EXPECT_EQ(lines[3], "PASS");
    const run_result_s with_key = verify(key);
    EXPECT_EQ(with_key.status, 0);
    EXPECT_EQ(lines_of(with_key.out)[2], "checked: the chain and the MACs of setup 1");
    // The searches read the sealed log as they always did.
    EXPECT_EQ(lines_of(tool({"search_all", "1"}).out)[0].substr(17), ",u5,K2,e,m");
}

// Every tampering below happens with the sqlite3 shell on a log of 6 entries (2 from long ago
// sealed by setup-keys, 4 sealed by their appends); verify must fail and name the first wrong
// entry.
TEST_F(LogSeal, VerifyCatchesEditsDeletionsAndInsertions) {
    const verification_key_s key = sealed_log(2, 4, "UPDATE logs SET date = 1000 + rowid");
    const std::string pristine = read_file(kDb);
    struct case_s {
        const char* sql;
        const char* names;  // what the report must say
    } cases[] = {
        {"UPDATE logs SET date = date + 1 WHERE rowid = 3", "first wrong entry: row 3, "},
        {"UPDATE logs SET text1 = 'v3' WHERE rowid = 3", "row 3, "},
        {"UPDATE logs SET text2 = 'K3' WHERE rowid = 3", "row 3, "},
        {"UPDATE logs SET text3 = 'f' WHERE rowid = 3", "row 3, "},
        {"UPDATE logs SET message = 'n' WHERE rowid = 3", "row 3, "},
        {"UPDATE logs SET message = CAST('m' AS BLOB) WHERE rowid = 3", "row 3, "},
        {"UPDATE logs SET date = CASE rowid WHEN 2 THEN (SELECT date FROM logs WHERE rowid = 4) "
         "ELSE 1002 END WHERE rowid IN (2, 4)",
         "first wrong entry: row 2, "},
        {"DELETE FROM logs WHERE rowid = 3", "first wrong entry: row 4, "},
        {"DELETE FROM logs WHERE rowid = 3; DELETE FROM seals WHERE log_rowid = 3",
         "first wrong entry: row 4, "},
        {"DELETE FROM logs WHERE rowid >= 5", "first wrong entry: row 5: missing at the end"},
        {"INSERT INTO logs VALUES(1000, 'forged', 'K2', 'e', 'm')",
         "first unsealed entry: row 7, 1970-01-01T00:16:40Z: inserted"},
        {"INSERT INTO logs VALUES(strftime('%s','now') + 60, 'other', 'K2', 'e', 'm')",
         "first unsealed entry: row 7, "},
    };
    const char* kinds[] = {"changed",           "changed", "changed",  "changed",
                           "changed",           "changed", "changed",  "missing before it",
                           "missing before it", "missing", "inserted", "unsealed"};
    int i = 0;
    for (const case_s& c : cases) {
        SCOPED_TRACE(c.sql);
        ASSERT_TRUE(write_file(kDb, pristine));
        ASSERT_EQ(shell(c.sql).status, 0);
        for (const run_result_s& r : {tool({"verify"}), verify(key)}) {
            EXPECT_EQ(r.status, 1) << r.out << r.err;
            EXPECT_NE(r.out.find(c.names), std::string::npos) << r.out;
            EXPECT_NE(r.out.find(std::string(": ") + kinds[i]), std::string::npos) << r.out;
            EXPECT_EQ(lines_of(r.out).back(), "FAIL");
        }
        ++i;
    }
    // Cut with its seals, the log only ends early: the range shows it.
    ASSERT_TRUE(write_file(kDb, pristine));
    ASSERT_EQ(shell("DELETE FROM logs WHERE rowid >= 5; DELETE FROM seals WHERE seq >= 5").status,
              0);
    const run_result_s cut = verify(key);
    EXPECT_EQ(cut.status, 0);
    EXPECT_NE(cut.out.find(" to row 4, "), std::string::npos) << cut.out;
}

// SQLite gives the row id of a deleted last entry to the next one; its seal must not be taken
// for the new entry's.
TEST_F(LogSeal, AppendAfterADeletedLastEntryTakesANewRowId) {
    const verification_key_s key = sealed_log(0, 3);
    ASSERT_EQ(shell("DELETE FROM logs WHERE rowid = 3").status, 0);
    ASSERT_EQ(tool({"append", "next", "K2", "e", "m"}).status, 0);
    EXPECT_EQ(shell("SELECT rowid, text1 FROM logs WHERE rowid > 2").out, "4|next\n");
    const run_result_s r = verify(key);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("first wrong entry: row 4, "), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("missing before it: the entry with row id 3 (seal 3) was deleted"),
              std::string::npos)
        << r.out;
}

TEST_F(LogSeal, RecomputedChainIsCaughtByTheKey) {
    const verification_key_s key = sealed_log(0, 4);
    ASSERT_EQ(shell("UPDATE logs SET message = 'rewritten' WHERE rowid = 2").status, 0);
    {
        db_s db;
        std::string chain = stored_chain(db.db, 1);
        for (int64_t seq = 2; seq <= 4; ++seq)
            chain = write_seal(db.db, {seq, seq, 1, 0}, chain, std::string(32, 'x'));
    }
    EXPECT_EQ(tool({"verify"}).status, 0);
    const run_result_s r = verify(key);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("first wrong entry: row 2, "), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(": wrong key: "), std::string::npos) << r.out;
}

// Entries of periods long past are sealed by hand (as the tool would have sealed them then)
// beside one the tool appends now, which moves the key on; whoever takes the key file then
// holds only the current period's key and cannot reseal the older entries.
TEST_F(LogSeal, KeyMovesOnAndEarlierPeriodsCannotBeForged) {
    const verification_key_s key = setup_an_hour_ago();
    ASSERT_EQ(key.seed.size(), 16u);
    const int64_t start = key.start;
    {
        db_s db;
        const std::string old_entries = "INSERT INTO logs VALUES(" + std::to_string(start + 600) +
                                        ", 'old', 'K2', 'e', 'ten'), (" +
                                        std::to_string(start + 1800) +
                                        ", 'old', 'K2', 'e', 'thirty')";
        ASSERT_EQ(sqlite3_exec(db.db, old_entries.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
        const std::string chain =
            write_seal(db.db, {1, 1, 1, 10}, std::string(32, '\0'), key_of_period(key.seed, 10));
        write_seal(db.db, {2, 2, 1, 30}, chain, key_of_period(key.seed, 30));
    }
    ASSERT_TRUE(write_file(kKeyFile, key_file_text(1, start, 60, 30, key_of_period(key.seed, 30))));
    struct stat before {};
    stat(kKeyFile.c_str(), &before);

    const run_result_s appended = tool({"append", "now", "K2", "e", "m"});
    EXPECT_EQ(appended.status, 0);
    EXPECT_EQ(appended.err, "");
    const int64_t period = (time(nullptr) - start) / 60;
    const std::string file = read_file(kKeyFile);
    struct stat after {};
    stat(kKeyFile.c_str(), &after);
    EXPECT_NE(after.st_ino, before.st_ino);  // renamed over, not written in place
    EXPECT_EQ(after.st_mode & 0777, 0600u);
    EXPECT_TRUE(file == key_file_text(1, start, 60, period, key_of_period(key.seed, period)) ||
                file ==
                    key_file_text(1, start, 60, period - 1, key_of_period(key.seed, period - 1)))
        << file;
    const run_result_s good = verify(key);
    ASSERT_EQ(good.status, 0) << good.out << good.err;

    // The attacker edits the first entry and seals it again with the key file's key, once
    // claiming its old period and once the current one.
    const std::string stolen = unhex(file.substr(file.rfind("key ") + 4, 64));
    const int64_t stolen_period = std::stoll(file.substr(file.find("period ") + 7));
    const std::string pristine = read_file(kDb);
    for (const int64_t claimed : {int64_t{10}, stolen_period}) {
        SCOPED_TRACE(claimed);
        ASSERT_TRUE(write_file(kDb, pristine));
        db_s db;
        sqlite3_exec(db.db, "UPDATE logs SET message = 'eleven' WHERE rowid = 1", nullptr, nullptr,
                     nullptr);
        std::string chain = write_seal(db.db, {1, 1, 1, claimed}, std::string(32, '\0'), stolen);
        chain = write_seal(db.db, {2, 2, 1, 30}, chain, key_of_period(key.seed, 30));
        write_seal(db.db, {3, 3, 1, stolen_period}, chain, stolen);
        const run_result_s r = verify(key);
        EXPECT_EQ(r.status, 1) << r.out;
        EXPECT_NE(r.out.find("first wrong entry: row 1, "), std::string::npos) << r.out;
    }
}

TEST_F(LogSeal, WrongVerificationKeysNeverPass) {
    const verification_key_s key = sealed_log(1, 1);
    const run_result_s malformed = tool({"verify", "--key", "not-a-key"});
    EXPECT_EQ(malformed.status, 2);
    EXPECT_EQ(malformed.out, "");
    EXPECT_NE(malformed.err.find("malformed verification key"), std::string::npos);

    const run_result_s other_seed =
        tool({"verify", "--key", key_text(std::string(16, '\x5a'), key.start, key.interval)});
    EXPECT_EQ(other_seed.status, 1);
    EXPECT_NE(other_seed.out.find("row 1, "), std::string::npos) << other_seed.out;
    EXPECT_NE(other_seed.out.find("is it this log's verification key?"), std::string::npos);

    const run_result_s other_start =
        tool({"verify", "--key", key_text(key.seed, key.start + 1, key.interval)});
    EXPECT_EQ(other_start.status, 2);
    EXPECT_NE(other_start.err.find("belongs to no setup of this log"), std::string::npos);
}

TEST_F(LogSeal, VerifyCannotCheckWhatIsNotSealed) {
    ASSERT_EQ(tool({"append", "a", "b", "c", "d"}).status, 0);
    run_result_s r = tool({"verify"});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("the log is not sealed"), std::string::npos) << r.err;
    r = tool({"verify", "--db", kDb + ".missing"});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("cannot open"), std::string::npos) << r.err;
    EXPECT_EQ(tool({"verify", "extra"}).status, 2);
}

TEST_F(LogSeal, AppendWithoutTheKeyKeepsTheEntryAndSaysSo) {
    const verification_key_s key = sealed_log(0, 1);
    std::remove(kKeyFile.c_str());
    const run_result_s r = tool({"append", "keyless", "K2", "e", "m"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "tessivane_log: append: entry stored without a seal: the sealing key " +
                         kKeyFile + " is missing\n");
    EXPECT_EQ(shell("SELECT text1 FROM logs WHERE rowid = 2").out, "keyless\n");
    const run_result_s v = verify(key);
    EXPECT_EQ(v.status, 1);
    EXPECT_NE(v.out.find("first unsealed entry: row 2, "), std::string::npos) << v.out;
    EXPECT_EQ(v.out.find("first wrong entry"), std::string::npos) << v.out;
}

// A killed append, also one that is replacing the key file, leaves the log whole: every entry
// that is in it is sealed.
TEST_F(LogSeal, KilledAppendsLeaveNoFalseChange) {
    const verification_key_s key = setup_an_hour_ago();
    const std::string first = key_file_text(1, key.start, 60, 0, first_key(key.seed));
    unsigned seed = static_cast<unsigned>(time(nullptr));
    for (int i = 0; i < 40; ++i) {
        ASSERT_TRUE(write_file(kKeyFile, first));  // every append moves the key on
        const std::string text = "killed " + std::to_string(i);
        const char* argv[] = {LOG_TOOL, "append", "k", "K2", "e", text.c_str(), nullptr};
        pid_t pid = 0;
        ASSERT_EQ(posix_spawn(&pid, LOG_TOOL, nullptr, nullptr, const_cast<char**>(argv), environ),
                  0);
        usleep(static_cast<useconds_t>(rand_r(&seed) % 15000));
        kill(pid, SIGKILL);
        int status = 0;
        waitpid(pid, &status, 0);
    }
    ASSERT_EQ(tool({"append", "after", "K2", "e", "m"}).status, 0);
    const run_result_s r = verify(key);
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(r.out.find("first wrong entry"), std::string::npos) << r.out;
}

TEST_F(LogSeal, ConcurrentSealedAppendsAllStoredAndChained) {
    const verification_key_s key = sealed_log(0, 0);
    constexpr int kWriters = 8, kEach = 15;
    std::atomic<int> failed{0};
    std::vector<std::thread> writers;
    for (int w = 0; w < kWriters; ++w) {
        writers.emplace_back([&, w] {
            for (int i = 0; i < kEach; ++i) {
                const run_result_s r =
                    tool({"append", "w" + std::to_string(w), "x", "y", std::to_string(i)});
                if (r.status != 0 || !r.err.empty())
                    ++failed;
            }
        });
    }
    for (std::thread& t : writers)
        t.join();
    EXPECT_EQ(failed, 0);
    EXPECT_EQ(shell("SELECT count(DISTINCT text1 || message) FROM logs").out,
              std::to_string(kWriters * kEach) + "\n");
    const run_result_s r = verify(key);
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("(120 sealed, 0 unsealed)"), std::string::npos) << r.out;
}

TEST_F(LogSeal, ExportsACopyAndTheEntriesWithTheirStatus) {
    const verification_key_s key = sealed_log(1, 0);
    ASSERT_EQ(tool({"append", "quote \"me\"", "a,b", "two\nlines", "ok"}).status, 0);
    ASSERT_EQ(tool({"append", "bad \xff byte", "K2", "e", "m"}).status, 0);
    scratch_dir_s dir("log_export");
    ASSERT_TRUE(dir.ok());

    const run_result_s copy = tool({"export", dir.file("copy")});
    EXPECT_EQ(copy.status, 0) << copy.err;
    EXPECT_EQ(tool({"verify", "--db", dir.file("copy"), "--key", key.text}).status, 0);

    ASSERT_EQ(shell("UPDATE logs SET message = 'changed' WHERE rowid = 2").status, 0);
    const run_result_s csv = tool({"export", "--csv", dir.file("log.csv"), "--key", key.text});
    EXPECT_EQ(csv.status, 0) << csv.err;
    EXPECT_NE(csv.out.find("3 entries written to "), std::string::npos) << csv.out;
    const std::string date = shell(
                                 "SELECT strftime('%Y-%m-%dT%H:%M:%SZ', date, 'unixepoch') "
                                 "FROM logs WHERE rowid = 1")
                                 .out.substr(0, 20);
    const std::string csv_text = read_file(dir.file("log.csv"));
    EXPECT_EQ(csv_text.substr(0, csv_text.find("\r\n") + 2),
              "row_id,time,text1,text2,text3,message,seal\r\n");
    EXPECT_NE(csv_text.find("\r\n1," + date + ",u1,K2,e,m,sealed\r\n"), std::string::npos)
        << csv_text;
    EXPECT_NE(csv_text.find(",\"quote \"\"me\"\"\",\"a,b\",\"two\nlines\",changed,changed\r\n"),
              std::string::npos)
        << csv_text;
    EXPECT_NE(csv_text.find(",bad \xff byte,K2,e,m,not checked\r\n"), std::string::npos);

    const run_result_s jsonl = tool({"export", "--jsonl", dir.file("log.jsonl")});
    EXPECT_EQ(jsonl.status, 0) << jsonl.err;
    const std::vector<std::string> objects = lines_of(read_file(dir.file("log.jsonl")));
    ASSERT_EQ(objects.size(), 3u);
    EXPECT_EQ(objects[0], "{\"row_id\":1,\"time\":\"" + date +
                              "\",\"text1\":\"u1\",\"text2\":\"K2\",\"text3\":\"e\","
                              "\"message\":\"m\",\"seal\":\"sealed\"}");
    EXPECT_NE(objects[2].find("\"text1\":\"bad \xef\xbf\xbd byte\",\"text1_hex\":"
                              "\"62616420ff2062797465\""),
              std::string::npos)
        << objects[2];

    EXPECT_EQ(tool({"export"}).status, 2);
    EXPECT_EQ(tool({"export", "--csv"}).status, 2);
    EXPECT_EQ(tool({"export", kDb}).status, 1);  // never over the log itself
}

double seconds_since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The count N of "entries: N (N sealed, 0 unsealed)" or "N entries written to ...: N sealed, 0
// unsealed"; -1 when the text says anything else.
int64_t all_sealed_count(const std::string& text) {
    std::smatch m;
    if (!std::regex_search(text, m,
                           std::regex(R"((\d+) (entries\b.*?|\()(\d+) sealed, 0 unsealed)")) ||
        m[1] != m[3])
        return -1;
    return std::stoll(m[1]);
}

// A verify or an export of a log that takes seconds to walk never holds appends back for long:
// each goes through about as fast as on a log nobody reads, and the walk reports the log as it
// was when it began, every entry sealed.
TEST_F(LogSeal, AppendsGoOnWhileALargeLogIsVerifiedAndExported) {
    // As many entries as verify walks in about two seconds with this build on this machine.
    auto fill = [](int64_t entries) {
        ASSERT_EQ(shell("DELETE FROM logs; INSERT INTO logs WITH RECURSIVE n(i) AS (SELECT 1 "
                        "UNION ALL SELECT i + 1 FROM n WHERE i < " +
                        std::to_string(entries) +
                        ") SELECT 1000 + i, 'user' || (i % 50), 'K2', 'event', 'entry ' || i "
                        "FROM n")
                      .status,
                  0);
        ASSERT_EQ(tool({"setup-keys", "--force"}).status, 0);
    };
    constexpr int64_t kProbe = 50000;
    fill(kProbe);
    auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(tool({"verify"}).status, 0);
    const int64_t entries = std::clamp<int64_t>(
        static_cast<int64_t>(2.0 / seconds_since(start) * kProbe), kProbe, 3000000);
    SetUp();
    fill(entries);

    scratch_dir_s dir("log_live");
    ASSERT_TRUE(dir.ok());
    const std::vector<std::string> walks[] = {
        {"verify"}, {"export", dir.file("copy")}, {"export", "--csv", dir.file("log.csv")}};
    int64_t stored = entries;
    for (const std::vector<std::string>& args : walks) {
        SCOPED_TRACE(args.back());
        std::atomic<bool> walking{true};
        run_result_s walk;
        double walk_s = 0;
        std::thread walker([&] {
            const auto began = std::chrono::steady_clock::now();
            walk = tool(args);
            walk_s = seconds_since(began);
            walking = false;
        });
        const int64_t before = stored;
        int failed = 0;
        double longest = 0;
        while (walking) {
            start = std::chrono::steady_clock::now();
            failed += tool({"append", "live", "K2", "e", std::to_string(stored)}).status != 0;
            longest = std::max(longest, seconds_since(start));
            ++stored;
        }
        walker.join();
        EXPECT_EQ(failed, 0);
        EXPECT_GT(stored, before);
        // Where the walk took long enough to tell waiting for it from an append's own time (a
        // copy of pages is quick also where a sanitizer slows verify down).
        if (walk_s > 1) {
            EXPECT_LT(longest, walk_s / 4) << "longest append " << longest << " s, walk " << walk_s;
        }
        ASSERT_EQ(walk.status, 0) << walk.out << walk.err;
        const std::string report = args[0] == "verify" || args.size() == 3
                                       ? walk.out
                                       : tool({"verify", "--db", dir.file("copy")}).out;
        const int64_t walked = all_sealed_count(report);
        EXPECT_GE(walked, before) << report;
        EXPECT_LE(walked, stored) << report;
    }
    const run_result_s after = tool({"verify"});
    EXPECT_EQ(after.status, 0) << after.out;
    EXPECT_EQ(all_sealed_count(after.out), stored) << after.out;
}

}  // namespace
