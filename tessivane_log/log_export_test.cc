#include "log_export.h"

#include <gtest/gtest.h>

#include <string>

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

}  // namespace
