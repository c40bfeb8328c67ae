#include "account_json.h"

#include <cstdio>

std::string json_quote(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\b':
            out += "\\b";
            break;
        case '\f':
            out += "\\f";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (byte < 0x20 || byte == 0x7f) {
                char escape[8];
                std::snprintf(escape, sizeof escape, "\\u%04x", byte);
                out += escape;
            } else {
                out += c;
            }
        }
    }
    return out + "\"";
}

std::string account_json(const account_s& account) {
    return "{\n"
           "  \"user_name\": " +
           json_quote(account.user_name) +
           ",\n"
           "  \"long_name\": " +
           json_quote(account.long_name) +
           ",\n"
           "  \"level\": " +
           json_quote(account.level) +
           ",\n"
           "  \"group\": " +
           json_quote(account.group) +
           ",\n"
           "  \"timeout\": " +
           std::to_string(account.timeout) +
           ",\n"
           "  \"status\": " +
           std::to_string(account.status) +
           ",\n"
           "  \"login_fail_cnt\": " +
           std::to_string(account.login_fail_cnt) +
           "\n"
           "}\n";
}
