#include "log_entry.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string field(const char* f, size_t size) {
    return std::string(f, field_length(f, size));
}

TEST(LogEntry, FieldsAreCutAtTheirSizesWithoutATerminator) {
    const std::string a(100, 'a'), b(64, 'b'), c(65, 'c'), m(600, 'm');
    const log_entry_s e = make_entry(5, a.c_str(), b.c_str(), c.c_str(), m.c_str());
    EXPECT_EQ(e.date, 5);
    EXPECT_EQ(field(e.text1, sizeof e.text1), a.substr(0, 64));
    EXPECT_EQ(field(e.text2, sizeof e.text2), b);
    EXPECT_EQ(field(e.text3, sizeof e.text3), c.substr(0, 64));
    EXPECT_EQ(field(e.message, sizeof e.message), m.substr(0, 512));

    const log_entry_s short_one = make_entry(0, "ab", "", "c", "d");
    EXPECT_EQ(field(short_one.text1, sizeof short_one.text1), "ab");
    EXPECT_EQ(field(short_one.text2, sizeof short_one.text2), "");
    EXPECT_EQ(short_one.text1[63], '\0');
}

// The C library's unsigned conversion: leading blanks, up to the first non-digit, 0 without
// digits; a limit wraps to 32 bits, a time keeps 64.
TEST(LogEntry, NumbersReadAsTheCLibraryReadsThem) {
    EXPECT_EQ(parse_limit_arg(" 3"), 3);
    EXPECT_EQ(parse_limit_arg("120rows"), 120);
    EXPECT_EQ(parse_limit_arg("none"), 0);
    EXPECT_EQ(parse_limit_arg("4294967295"), -1);
    EXPECT_EQ(parse_limit_arg("4294967296"), 0);
    EXPECT_EQ(parse_time_arg("4102444800"), 4102444800);
    EXPECT_EQ(parse_time_arg("  1000018x"), 1000018);
    EXPECT_EQ(parse_time_arg(""), 0);
}

}  // namespace
