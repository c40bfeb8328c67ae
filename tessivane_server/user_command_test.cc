#include "user_command.h"

#include <sys/stat.h>

#include "test_support.h"

TEST(ShellQuote, EveryValueIsOneWord) {
    EXPECT_EQ(shell_quote("bob"), "'bob'");
    EXPECT_EQ(shell_quote("o'neil"), "'o'\\''neil'");
    EXPECT_EQ(shell_quote(""), "''");
    EXPECT_EQ(shell_word("/usr/local/bin/tessivane"), "/usr/local/bin/tessivane");
    EXPECT_EQ(shell_word("/opt/my tools/tessivane"), "'/opt/my tools/tessivane'");
}

TEST(UserCommand, LinesHaveTheirDocumentedForms) {
    const std::string tool = "/usr/local/bin/tessivane";
    EXPECT_EQ(inc_login_fails_command(issuer_e::device_if, "bob", tool),
              "'/usr/local/bin/tessivane' inc_login_fails 'bob'");
    EXPECT_EQ(inc_login_fails_command(issuer_e::joining_if, "bob", tool),
              "/usr/local/bin/tessivane inc_login_fails 'bob'");
    EXPECT_EQ(deactivate_command("bob", tool),
              "/usr/local/bin/tessivane update_user 'bob' --status=0");
    EXPECT_EQ(change_password_command("bob", "pw", tool),
              "/usr/local/bin/tessivane update_user 'bob' --password='pw'");
    EXPECT_EQ(add_user_command("bob", "pw", "admin", 30, "44454641554c54", "Bob B", tool),
              "'/usr/local/bin/tessivane' add_user 'bob' 'pw' admin --timeout=30 "
              "--group=44454641554c54 --longname='Bob B'");
    EXPECT_EQ(search_by_name_command("bob", tool), "/usr/local/bin/tessivane search_by_name 'bob'");
    // Never cut short, however long the values.
    const std::string long_text(300, 'x');
    EXPECT_EQ(add_user_command(long_text, long_text, "user", 0, "g", long_text, tool),
              "'" + tool + "' add_user '" + long_text + "' '" + long_text +
                  "' user --timeout=0 --group=g --longname='" + long_text + "'");
}

// The shell hands each hostile value to the command as exactly one argument, byte for byte.
TEST(UserCommand, HostileValuesArriveAsOneArgument) {
    ScratchDir dir;
    const std::string tool = dir / "tool";
    const std::string args = dir / "args";
    write_text(tool, "#!/bin/sh\nprintf '%s\\0' \"$@\" > '" + args + "'\n");
    ::chmod(tool.c_str(), 0755);
    const std::string hostile = "a'b\"c $(touch x) `id`; rm -rf / \n\t\\ *";
    ASSERT_EQ(run_command(change_password_command(hostile, "p'w", tool)), 0);
    EXPECT_EQ(read_text(args), std::string("update_user\0", 12) + hostile + '\0' +
                                   std::string("--password=p'w\0", 15));
    EXPECT_FALSE(fs::exists("x"));
}

struct Lookup : ::testing::Test {
    ScratchDir dir;
    // A command that prints `output`.
    std::string command(const std::string& output) {
        const std::string out = dir / "out";
        write_text(out, output);
        return "cat '" + out + "'";
    }
};

TEST_F(Lookup, ReadsTheNumberBehindTheQuotedKey) {
    EXPECT_EQ(lookup_number(command("{\n  \"status\": 2,\n}\n"), "\"status\""), 2);
    EXPECT_EQ(lookup_number(command("\"status\"::  -7x\n"), "\"status\""), -7);
    EXPECT_EQ(
        lookup_number(command("{\"login_fail_cnt\": 12, \"status\": 1}"), "\"login_fail_cnt\""),
        12);
}

TEST_F(Lookup, KeyWithoutNumberIsUnknown) {
    EXPECT_EQ(lookup_number(command("{\n  \"user_name\": \"bob\"\n}\n"), "\"status\""), -1);
    EXPECT_EQ(lookup_number(command(""), "\"status\""), -1);
    EXPECT_EQ(lookup_number(command("\"status\": \"active\"\n"), "\"status\""), -1);
    // The key unquoted (inside a name) is not the key.
    EXPECT_EQ(lookup_number(command("status: 4\n"), "\"status\""), -1);
    EXPECT_EQ(lookup_number("/nonexistent/tool", "\"status\""), -1);
}

TEST_F(Lookup, KeyAtTheLineEndLooksAtLaterLines) {
    // A user called "status" names the key in an earlier line; the number comes later.
    EXPECT_EQ(
        lookup_number(command("  \"user_name\": \"status\",\n  \"status\":\n  \"status\": 0\n"),
                      "\"status\""),
        0);
}

// Output far beyond a pipe's buffer is drained, so the command can finish and be waited for.
TEST(AddUserRun, DrainsTheOutputAndDecodesTheStatus) {
    const std::optional<int> status = run_discarding_output("head -c 300000 /dev/zero; exit 4");
    ASSERT_TRUE(status);
    EXPECT_EQ(add_user_result(*status), 4);
    EXPECT_EQ(add_user_result(-1), -10);  // waiting failed
}
