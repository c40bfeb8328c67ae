#include "account_json.h"

#include <gtest/gtest.h>

TEST(AccountJson, EscapesQuotesBackslashesAndControlCharacters) {
    EXPECT_EQ(json_quote("a\"b\\c\nd\re\tf\x01g\x7fh\x1f"),
              "\"a\\\"b\\\\c\\nd\\re\\tf\\u0001g\\u007fh\\u001f\"");
    EXPECT_EQ(json_quote("$(id) `id`; 'x' \xc3\xa9\xff"), "\"$(id) `id`; 'x' \xc3\xa9\xff\"");
}

TEST(AccountJson, NameCannotForgeAStatusLine) {
    account_s a;
    a.user_name = "x\",\n  \"status\": 7,\n\"login_fail_cnt\": 9";
    a.long_name = "\"status\"";
    const std::string text = account_json(a);
    size_t lines_with_key = 0;
    for (size_t pos = 0; (pos = text.find("\"status\"", pos)) != std::string::npos; ++pos)
        ++lines_with_key;
    EXPECT_EQ(lines_with_key, 1u) << text;
    EXPECT_NE(text.find("\n  \"status\": 1,\n"), std::string::npos) << text;
    EXPECT_EQ(text.find("\"login_fail_cnt\": 9"), std::string::npos) << text;
}

TEST(AccountJson, NumbersComeFirstAndEveryTextIsUtf8) {
    account_s a;
    a.user_name = "status";
    a.long_name = "M\xfcller \x1b[0m";  // stored before add_user checked
    a.level = "user";
    a.group = "login_fail_cnt";
    a.timeout = -5;
    a.status = 0;
    a.login_fail_cnt = 3;
    EXPECT_EQ(account_json(a),
              "{\n"
              "  \"status\": 0,\n"
              "  \"login_fail_cnt\": 3,\n"
              "  \"timeout\": -5,\n"
              "  \"user_name\": \"status\",\n"
              "  \"long_name\": \"M\xef\xbf\xbdller \\u001B[0m\",\n"
              "  \"level\": \"user\",\n"
              "  \"group\": \"login_fail_cnt\"\n"
              "}\n");
}
