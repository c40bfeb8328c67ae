#include "log_entry.h"

#include <gtest/gtest.h>

#include <string>

TEST(LogEntry, CutsLongArgumentAtFieldSizeWithoutTerminator) {
    const std::string long_text(100, 'x');
    const log_entry_s e = make_entry(7, long_text.c_str(), "b", "c", "m");
    EXPECT_EQ(field_length(e.text1, sizeof e.text1), 64u);
    EXPECT_EQ(std::string(e.text1, 64), long_text.substr(0, 64));
    EXPECT_EQ(field_length(e.text2, sizeof e.text2), 1u);
    EXPECT_EQ(e.date, 7);
}

TEST(LogEntry, MessageHoldsExactly512Bytes) {
    const std::string fits(512, 'm');
    const log_entry_s e = make_entry(0, "", "", "", (fits + "tail").c_str());
    EXPECT_EQ(field_length(e.message, sizeof e.message), 512u);
    EXPECT_EQ(field_length(e.text1, sizeof e.text1), 0u);
}

TEST(LogNumbers, ReadLikeUnsignedDecimalConversion) {
    EXPECT_EQ(parse_time_arg("  1700000000xyz"), 1700000000);
    EXPECT_EQ(parse_time_arg("abc"), 0);
    EXPECT_EQ(parse_time_arg(""), 0);
    EXPECT_EQ(parse_time_arg("4102444800"), 4102444800LL);  // 2100-01-01, past 32 bits
    EXPECT_EQ(parse_limit_arg("25"), 25);
    EXPECT_EQ(parse_limit_arg("4294967295"), -1);
    EXPECT_EQ(parse_limit_arg("x"), 0);
}
