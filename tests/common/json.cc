#include "common/json.h"

#include <cstdio>

json_object_s::json_object_s(std::initializer_list<std::pair<std::string, std::string>> texts) {
    for (const auto& kv : texts)
        text(kv.first, kv.second);
}

json_object_s& json_object_s::text(const std::string& key, const std::string& value) {
    return raw(key, json_quoted(value));
}

json_object_s& json_object_s::raw(const std::string& key, const std::string& json) {
    members_.emplace_back(key, json);
    return *this;
}

std::string json_object_s::dump() const {
    std::string out = "{";
    for (size_t i = 0; i < members_.size(); ++i) {
        out += (i ? ", " : "") + json_quoted(members_[i].first) + ": " + members_[i].second;
    }
    return out + "}";
}

std::string json_quoted(const std::string& s) {
    std::string out = "\"";
    for (unsigned char c : s) {
        if (c < 0x20) {  // control characters by their code
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
            continue;
        }
        if (c == '"' || c == '\\')
            out += '\\';
        out += static_cast<char>(c);
    }
    return out + "\"";
}
