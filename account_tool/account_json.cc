#include "account_json.h"

#include <rapidjson/prettywriter.h>
#include <rapidjson/stringbuffer.h>

#include <cstdio>

#include "utf8.h"

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
    rapidjson::StringBuffer out;
    rapidjson::PrettyWriter<rapidjson::StringBuffer> writer(out);
    writer.SetIndent(' ', 2);
    const auto text = [&writer](const char* key, const std::string& value) {
        const std::string valid = to_utf8(value);
        writer.Key(key);
        writer.String(valid.data(), static_cast<rapidjson::SizeType>(valid.size()));
    };
    writer.StartObject();
    writer.Key("status");
    writer.Int(account.status);
    writer.Key("login_fail_cnt");
    writer.Int(account.login_fail_cnt);
    writer.Key("timeout");
    writer.Int(account.timeout);
    text("user_name", account.user_name);
    text("long_name", account.long_name);
    text("level", account.level);
    text("group", account.group);
    writer.EndObject();
    return std::string(out.GetString(), out.GetSize()) + "\n";
}
