#include "log_export.h"

#include <gtest/gtest.h>

#include <string>

#include "common/files.h"
#include "common/process.h"
#include "common/scratch.h"
#include "log_db.h"

namespace {

TEST(LogExport, CsvQuotesOnlyWhereRfc4180Asks) {
    const std::pair<std::string, std::string> cases[] = {
        {"plain text", "plain text"},
        {"", ""},
        {"a,b", "\"a,b\""},
        {"say \"hi\"", "\"say \"\"hi\"\"\""},
        {"two\nlines", "\"two\nlines\""},
        {"cr\r", "\"cr\r\""},
        {"'single'", "'single'"},
        {" lead", " lead"},
    };
    for (const auto& [field, expected] : cases) {
        std::string line;
        append_csv_field(line, field);
        EXPECT_EQ(line, expected) << field;
    }
}

TEST(LogExport, Utf8IsCheckedStrictlyAndBadBytesAreReplacedOneByOne) {
    const std::string good_ones[] = {"",
                                     "ascii",
                                     "\xc3\xa9",
                                     "\xe2\x82\xac",
                                     "\xf0\x9f\x98\x80",
                                     "\xf4\x8f\xbf\xbf",
                                     std::string("nul\0inside", 10)};
    for (const std::string& good : good_ones) {
        EXPECT_TRUE(is_valid_utf8(good)) << good;
    }
    const std::string bad[] = {
        "\xff", "\xc0\xaf", "\xe0\x80\xaf", "\xed\xa0\x80",        "\xf4\x90\x80\x80",
        "\xc3", "\xe2\x82", "\x80",         "\xf8\x88\x80\x80\x80"};
    for (const std::string& b : bad) {
        EXPECT_FALSE(is_valid_utf8(b)) << b;
        EXPECT_TRUE(is_valid_utf8(to_valid_utf8(b)));
    }
    EXPECT_EQ(to_valid_utf8("a\xff"
                            "b\xc3"),
              "a\xef\xbf\xbd"
              "b\xef\xbf\xbd");
    EXPECT_EQ(to_valid_utf8("\xe2\x82\xac\xe2\x82"), "\xe2\x82\xac\xef\xbf\xbd\xef\xbf\xbd");
}

// Entries as export writes them, from rows built in an in-memory database.
TEST(LogExport, EntriesKeepEveryStoredValue) {
    sqlite3* raw = nullptr;
    sqlite3_open(":memory:", &raw);
    const db_ptr db(raw);
    auto row_of = [&db](const std::string& values) {
        stmt_ptr row = prepare_statement(db.get(), ("SELECT " + values).c_str());
        EXPECT_EQ(sqlite3_step(row.get()), SQLITE_ROW) << values;
        return row;
    };
    stmt_ptr row = row_of("7, 4102444800, 'a', 'b,c', 'd', 'e'");
    EXPECT_EQ(csv_entry(row.get(), entry_status_e::sealed),
              "7,2100-01-01T00:00:00Z,a,\"b,c\",d,e,sealed\r\n");
    EXPECT_EQ(json_entry(row.get(), entry_status_e::missing_before),
              "{\"row_id\":7,\"time\":\"2100-01-01T00:00:00Z\",\"text1\":\"a\",\"text2\":\"b,c\","
              "\"text3\":\"d\",\"message\":\"e\",\"seal\":\"missing before it\"}\n");
    // A 32-bit date read as unsigned, as the searches read it; other kinds of value as text.
    row = row_of("8, -1, NULL, 12, 2.5, x'ff41'");
    EXPECT_EQ(csv_entry(row.get(), entry_status_e::unsealed),
              "8,2106-02-07T06:28:15Z,,12,2.5,\xff"
              "A,unsealed\r\n");
    EXPECT_EQ(json_entry(row.get(), entry_status_e::not_checked),
              "{\"row_id\":8,\"time\":\"2106-02-07T06:28:15Z\",\"text1\":null,\"text2\":\"12\","
              "\"text3\":\"2.5\",\"message\":\"\xef\xbf\xbd"
              "A\",\"message_hex\":\"ff41\","
              "\"seal\":\"not checked\"}\n");
    row = row_of("9, 'yesterday', 'q\"\\', 'tab\t', char(1), 'x'");
    EXPECT_EQ(json_entry(row.get(), entry_status_e::inserted),
              "{\"row_id\":9,\"time\":\"yesterday\",\"text1\":\"q\\\"\\\\\",\"text2\":\"tab\\t\","
              "\"text3\":\"\\u0001\",\"message\":\"x\",\"seal\":\"inserted\"}\n");
}

// The copy export makes while appends keep the online backup from finishing holds what the log
// holds: the sqlite3 shell dumps both alike, row ids, value types and every object included.
TEST(LogExport, CopyByRowsKeepsEveryTableRowAndObject) {
    scratch_dir_s dir("log_copy");
    ASSERT_TRUE(dir.ok());
    const std::string source = dir.file("logs"), copy = dir.file("copy");
    const run_result_s made = run_program({SQLITE3_SHELL, "-bail", source, R"(
        PRAGMA page_size = 8192;
        PRAGMA user_version = 7;
        CREATE TABLE logs(date INTEGER, text1 TEXT, text2 TEXT, text3 TEXT, message TEXT);
        CREATE INDEX logs_date ON logs(date);
        INSERT INTO logs(rowid, date, text1, text2, text3, message) VALUES
            (-9223372036854775808, 1, 'first', NULL, x'00ff', 2.5), (5, '2', 'b', 'c', 'd', 'e');
        INSERT INTO logs WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n
            WHERE i < 4500) SELECT i, 'u' || i, 'K2', 'e', 'entry ' || i FROM n;
        CREATE TABLE seals(seq INTEGER PRIMARY KEY, digest BLOB NOT NULL);
        INSERT INTO seals VALUES(1, x'01'), (9223372036854775807, x'02');
        CREATE TABLE counter(id INTEGER PRIMARY KEY AUTOINCREMENT, n);
        INSERT INTO counter(n) VALUES(0), (0); DELETE FROM counter WHERE id = 2;
        CREATE TABLE named(k TEXT PRIMARY KEY, v) WITHOUT ROWID;
        INSERT INTO named VALUES('a', 1), ('b', NULL);
        CREATE TABLE twice(a, b AS (a * 2));
        INSERT INTO twice(a) VALUES(21);
        CREATE VIEW how_many AS SELECT count(*) FROM logs;
        CREATE TRIGGER counted AFTER INSERT ON logs BEGIN UPDATE counter SET n = n + 1; END;
    )"});
    ASSERT_EQ(made.status, 0) << made.err;
    log_db_s log;
    ASSERT_EQ(open_log_db_quiet(log, source.c_str(), SQLITE_OPEN_READONLY), SQLITE_OK);
    ASSERT_TRUE(write_file(copy, ""));
    std::string why;
    ASSERT_TRUE(copy_by_rows(log, copy, why)) << why;
    auto shell = [](const std::string& db, const std::string& command) {
        return run_program({SQLITE3_SHELL, db, command}).out;
    };
    const std::string dump = shell(source, ".dump --preserve-rowids");
    EXPECT_NE(dump.find("entry 4500"), std::string::npos);
    EXPECT_EQ(shell(copy, ".dump --preserve-rowids"), dump);
    EXPECT_EQ(shell(copy, "PRAGMA page_size; PRAGMA user_version"), "8192\n7\n");

    ASSERT_EQ(
        run_program({SQLITE3_SHELL, source, "CREATE VIRTUAL TABLE words USING fts5(w)"}).status, 0);
    ASSERT_TRUE(write_file(copy, ""));
    log_db_s again;
    ASSERT_EQ(open_log_db_quiet(again, source.c_str(), SQLITE_OPEN_READONLY), SQLITE_OK);
    EXPECT_FALSE(copy_by_rows(again, copy, why));
    EXPECT_NE(why.find("the virtual table words"), std::string::npos) << why;
}

}  // namespace
