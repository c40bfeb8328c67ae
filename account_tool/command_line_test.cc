#include "command_line.h"

#include <gtest/gtest.h>

namespace {

request_s parse_ok(const std::vector<std::string>& args) {
    request_s r;
    std::string error;
    EXPECT_TRUE(parse_command_line(args, r, error)) << error;
    return r;
}

}  // namespace

TEST(CommandLine, ParsesTheServersAddUserLine) {
    request_s r = parse_ok({"add_user", "alice", "pw 1", "supervisor", "--timeout=-30",
                            "--group=44454641554c54", "--longname=Alice O'Brien"});
    EXPECT_EQ(r.command, command_e::add_user);
    EXPECT_EQ(r.user_name, "alice");
    EXPECT_EQ(r.password, "pw 1");
    EXPECT_EQ(r.level, "supervisor");
    EXPECT_EQ(r.timeout, -30);
    EXPECT_EQ(r.group, "44454641554c54");
    EXPECT_EQ(r.long_name, "Alice O'Brien");

    r = parse_ok({"add_user", "bob", "x", "user", "--longname=", "--timeout=7"});
    EXPECT_EQ(r.timeout, 7);
    EXPECT_EQ(r.group, "");
    EXPECT_EQ(r.long_name, "");
}

TEST(CommandLine, TakesValuesByPositionEvenWhenTheyLookLikeOptions) {
    request_s r = parse_ok({"update_user", "--status=5", "--status=0"});
    EXPECT_EQ(r.user_name, "--status=5");
    EXPECT_EQ(r.status, 0);
    EXPECT_FALSE(r.new_password);

    r = parse_ok({"add_user", "--group=x", "--timeout=1", "admin"});
    EXPECT_EQ(r.user_name, "--group=x");
    EXPECT_EQ(r.password, "--timeout=1");
    EXPECT_EQ(r.timeout, 0);

    r = parse_ok({"update_user", "carol", "--password=a=b --status=1"});
    EXPECT_EQ(*r.new_password, "a=b --status=1");
    EXPECT_FALSE(r.status);

    r = parse_ok({"add_user", "dave", std::string(511, 'p'), "user"});
    EXPECT_EQ(r.password.size(), 511u);

    r = parse_ok({"search_by_name", "--help"});
    EXPECT_EQ(r.command, command_e::search_by_name);
    EXPECT_EQ(r.user_name, "--help");
}

TEST(CommandLine, RejectsBadUsage) {
    const std::vector<std::vector<std::string>> bad = {
        {},
        {"delete_user", "a"},
        {"add_user", "a", "pw"},
        {"add_user", "a", "pw", "root"},
        {"add_user", "a", "pw", "Admin"},
        {"add_user", "", "pw", "user"},
        {"add_user", "a", "", "user"},
        {"add_user", "a", "pw", "user", "extra"},
        {"add_user", "a", "pw", "user", "--timeout=abc"},
        {"add_user", "a", "pw", "user", "--timeout="},
        {"add_user", "a", "pw", "user", "--timeout= 5"},
        {"add_user", "a", "pw", "user", "--timeout=5x"},
        {"add_user", "a", "pw", "user", "--timeout=2147483648"},
        {"add_user", "a", "pw", "user", "--group=a", "--group=b"},
        {"add_user", "a", "pw", "user", "--status=0"},
        {"update_user", "a"},
        {"update_user", "a", "--status="},
        {"update_user", "a", "--status=off"},
        {"update_user", "a", "--password="},
        {"update_user", "a", "--password=" + std::string(512, 'p')},
        {"add_user", "a", std::string(512, 'p'), "user"},
        {"update_user", "a", "--timeout=5"},
        {"inc_login_fails"},
        {"inc_login_fails", "a", "b"},
        {"search_by_name", ""},
    };
    for (const auto& args : bad) {
        request_s r;
        std::string error;
        std::string joined;
        for (const auto& a : args)
            joined += "[" + a + "]";
        EXPECT_FALSE(parse_command_line(args, r, error)) << joined;
        EXPECT_FALSE(error.empty()) << joined;
    }
}

TEST(CommandLine, ErrorNeverRepeatsAPassword) {
    request_s r;
    std::string error;
    EXPECT_FALSE(parse_command_line({"update_user", "bob", "s3cret"}, r, error));
    EXPECT_EQ(error.find("s3cret"), std::string::npos) << error;
    EXPECT_FALSE(parse_command_line({"add_user", "bob", "s3cret", "boss"}, r, error));
    EXPECT_EQ(error.find("s3cret"), std::string::npos) << error;
}

TEST(CommandLine, AddUserRefusesTextThatIsNotUtf8ButAnyPassword) {
    const std::pair<std::vector<std::string>, std::string> bad[] = {
        {{"add_user", "raw\xff\xfe", "pw", "user"}, "the user name is not valid UTF-8"},
        {{"add_user", "a", "pw", "user", "--longname=M\xfcller"},
         "the long name is not valid UTF-8"},
        {{"add_user", "a", "pw", "user", "--group=\xc0\xaf"}, "the group is not valid UTF-8"},
    };
    for (const auto& [args, message] : bad) {
        request_s r;
        std::string error;
        EXPECT_FALSE(parse_command_line(args, r, error)) << message;
        EXPECT_EQ(error, message);
    }
    EXPECT_EQ(parse_ok({"add_user", "M\xc3\xbcller", "\xff\xfe", "user"}).password, "\xff\xfe");
    EXPECT_EQ(parse_ok({"update_user", "M\xfcller", "--password=\xff"}).user_name, "M\xfcller");
    EXPECT_EQ(parse_ok({"inc_login_fails", "M\xfcller"}).user_name, "M\xfcller");
    EXPECT_EQ(parse_ok({"search_by_name", "M\xfcller"}).user_name, "M\xfcller");
}
