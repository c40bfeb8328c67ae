#include "report.h"

#include <algorithm>
#include <cstdio>
#include <initializer_list>
#include <ctime>

#include <rapidjson/encodings.h>
#include <rapidjson/memorystream.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

using json_writer = rapidjson::Writer<rapidjson::StringBuffer>;

namespace {

// Length of the valid UTF-8 sequence at `i` (no overlong forms, no surrogates), or 0.
size_t utf8_sequence(const std::string& s, size_t i) {
    rapidjson::MemoryStream in(s.data() + i, s.size() - i);
    struct discard_s {
        void Put(char) {}
    } out;
    return rapidjson::UTF8<char>::Validate(in, out) ? in.Tell() : 0;
}

void key_text(json_writer& w, const char* key, const std::string& value) {
    w.Key(key);
    w.String(value.c_str(), static_cast<rapidjson::SizeType>(value.size()));
}

void key_int(json_writer& w, const char* key, int64_t value) {
    w.Key(key);
    w.Int64(value);
}

// `value` as a string when `present`, else null.
void key_text_or_null(json_writer& w, const char* key, bool present, const std::string& value) {
    w.Key(key);
    if (present)
        w.String(value.c_str(), static_cast<rapidjson::SizeType>(value.size()));
    else
        w.Null();
}

// One JSON object: "request", "host" and "port", then what `fields` writes into it.
template <typename Fields>
std::string json_object(const std::string& request, const peer_s& peer, Fields&& fields) {
    rapidjson::StringBuffer buffer;
    json_writer w(buffer);
    w.StartObject();
    key_text(w, "request", request);
    key_text(w, "host", peer.host);
    key_int(w, "port", peer.port);
    fields(w);
    w.EndObject();
    return buffer.GetString();
}

std::string where(const peer_s& peer) {
    return peer.host + ":" + std::to_string(peer.port);
}

std::string on_off(unsigned char v) {
    return v == 0 ? "Off" : v == 1 ? "On" : "unknown (" + std::to_string(v) + ")";
}

// Decoded text of an enumerated byte: names[v] when there is one.
std::string named(unsigned char v, std::initializer_list<const char*> names) {
    if (v < names.size())
        return names.begin()[v];
    return "unknown (" + std::to_string(v) + ")";
}

}  // namespace

std::string printable(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c >= 0x20 && c < 0x7F && c != '\\') {
            out += static_cast<char>(c);
            ++i;
            continue;
        }
        // U+0080..U+009F are controls too (U+009B introduces a terminal's escape sequences).
        const bool c1 =
            c == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) <= 0x9F;
        if (const size_t len = c >= 0x80 && !c1 ? utf8_sequence(text, i) : 0) {
            out.append(text, i, len);
            i += len;
            continue;
        }
        char hex[5];
        std::snprintf(hex, sizeof hex, "\\x%02x", c);
        out += hex;
        ++i;
    }
    return out;
}

namespace {

// `seconds` as a calendar date, in UTC or in the local time zone (then named); the bare number
// when the date cannot be written.
std::string date_text(int64_t seconds, bool local) {
    const auto t = static_cast<time_t>(seconds);
    tm parts{};
    char text[64];
    const bool split = local ? localtime_r(&t, &parts) != nullptr : gmtime_r(&t, &parts) != nullptr;
    const char* format = local ? "%Y-%m-%d %H:%M:%S %Z" : "%Y-%m-%d %H:%M:%S";
    if (!split || std::strftime(text, sizeof text, format, &parts) == 0)
        return std::to_string(seconds);
    return text;
}

}  // namespace

std::string utc_date(int64_t seconds) {
    return date_text(seconds, false);
}

std::string local_date(int64_t seconds) {
    return date_text(seconds, true);
}

std::string table_text(const table_rows& rows) {
    size_t width = 0;
    for (const auto& row : rows)
        width = std::max(width, row.first.size());
    std::string out;
    for (const auto& row : rows)
        out += row.first + std::string(width - row.first.size() + 2, ' ') + row.second + "\n";
    return out;
}

bool settings_filled(const unsigned char* settings) {
    return settings[1] != settings_unfilled_marker;
}

std::vector<setting_s> decode_settings(const unsigned char* s, bool new_format) {
    const auto number = [](unsigned char v) {
        return std::to_string(v);
    };
    std::vector<setting_s> out = {
        {"Slide type", "slide_type", number(s[2]), true},
        {"Chamber area", "chamber_area", named(s[3], {"Current", "All", "other"})},
        {"Selected chamber", "selected_chamber", number(s[4]), true},
        {"Combine result", "combine_result", on_off(s[5])},
        {"Staining option", "staining_option", named(s[6], {"Trypan", "other"}), false,
         !new_format},
        {"Autofocusing channel in FL", "autofocusing_channel_in_fl",
         named(s[6], {"BF", "GF", "RF"}), false, new_format},
        {"Autofocused counting", "autofocused_counting", on_off(s[7])},
        {"Autofocus upon slide insertion", "autofocus_upon_slide_insertion", on_off(s[8])},
    };
    return out;
}

view_s server_info_view(const peer_s& peer, const server_info_reply_s& info) {
    view_s v;
    // Labelled with the keys of the server's settings file, where an administrator changes them.
    v.rows = {
        {"Request", "server-info"},
        {"Server", where(peer)},
        {"pw. Minimum length", std::to_string(info.pw_min_length)},
        {"pw. Change cycle", std::to_string(info.pw_change_cycle)},
        {"pw. Account lock", std::to_string(info.pw_account_lock)},
        {"msc. Auto logout", std::to_string(info.auto_logout)},
        {"msc. Self approval", info.self_approval == 0   ? "Off (0)"
                               : info.self_approval == 1 ? "On (1)"
                                                         : std::to_string(info.self_approval)},
        {"msc. File transfer", std::to_string(info.file_transfer)}};
    v.json = json_object("server-info", peer, [&](json_writer& w) {
        key_int(w, "pw_min_length", info.pw_min_length);
        key_int(w, "pw_change_cycle", info.pw_change_cycle);
        key_int(w, "pw_account_lock", info.pw_account_lock);
        key_int(w, "auto_logout", info.auto_logout);
        key_int(w, "self_approval", info.self_approval);
        key_int(w, "file_transfer", info.file_transfer);
    });
    return v;
}

view_s version_view(const peer_s& peer, const std::string& text) {
    view_s v;
    const std::string shown = printable(text);
    v.rows = {{"Request", "version"}, {"Server", where(peer)}, {"Version text", shown}};
    v.json = json_object("version", peer, [&](json_writer& w) { key_text(w, "text", shown); });
    return v;
}

view_s name_view(const std::string& request, const peer_s& peer, const name_reply_s& reply) {
    const bool fails = request == "login-fails";
    view_s v;
    const std::string user = printable(reply.user_name);
    v.rows = {{"Request", request},
              {"Server", where(peer)},
              {"User", user},
              {fails ? "Failed logins" : "Account status",
               reply.number == -1 ? "unknown (-1)" : std::to_string(reply.number)}};
    v.json = json_object(request, peer, [&](json_writer& w) {
        key_text(w, "user_name", user);
        key_int(w, fails ? "login_fail_cnt" : "status", reply.number);
    });
    return v;
}

namespace {

// What both views of an announcement reply show, its wire texts made printable.
struct announce_shown_s {
    std::string name, serial, version, level;
    // The server sends no time exactly when it could not open the device's security file.
    bool security_file = false;
    bool protocols = false;  // the server could read the device's protocol file
    bool filled = false;     // the server filled in the settings
    bool new_format = false;
    std::vector<setting_s> settings;
    std::string protocol_time_text, server_time_text;
};

announce_shown_s shown_announce(const announce_reply_s& a, bool new_format,
                                const std::string& protocol_time_text) {
    announce_shown_s s;
    s.name = printable(a.device_name);
    s.serial = printable(a.serial);
    s.version = printable(a.sw_version);
    s.level = printable(std::string(1, static_cast<char>(a.security_level)));
    s.security_file = a.server_time != 0;
    s.protocols = a.protocol_mtime != -1;
    s.filled = settings_filled(a.settings);
    s.new_format = new_format;
    s.settings = decode_settings(a.settings, new_format);
    s.protocol_time_text = protocol_time_text;
    s.server_time_text = s.security_file ? utc_date(a.server_time) : "";
    return s;
}

table_rows announce_rows(const peer_s& peer, const announce_reply_s& a, const announce_shown_s& s) {
    table_rows rows = {
        {"Request", "announce"},
        {"Server", where(peer)},
        {"Registered name", s.name.empty() ? "(none)" : s.name},
        {"Serial", s.serial},
        {"Software version", s.version},
        {"Security level", !s.security_file        ? s.level + " (no security file)"
                           : a.security_level == 0 ? "none (empty security file)"
                                                   : s.level},
        {"BF - Total cell counting", std::to_string(a.bf_total)},
        {"BF - Cell counting & Viability", std::to_string(a.bf_viability)},
        {"FL - Cell lines & Primary cells", std::to_string(a.fl_cell_lines)},
        {"FL - Advanced", std::to_string(a.fl_advanced)},
        {"Protocol file time",
         s.protocols ? s.protocol_time_text + " (" + std::to_string(a.protocol_mtime) + ")"
                     : "none (no readable protocol file)"}};
    if (s.filled) {
        for (const auto& setting : s.settings)
            if (setting.present)
                rows.emplace_back(setting.name, setting.value);
    } else {
        rows.emplace_back("Settings", "none (no readable settings file)");
    }
    rows.emplace_back("Server time", s.security_file ? s.server_time_text + " (server local time)"
                                                     : "none (no security file)");
    return rows;
}

std::string announce_json(const peer_s& peer, const announce_reply_s& a,
                          const announce_shown_s& s) {
    return json_object("announce", peer, [&](json_writer& w) {
        key_text(w, "device_name", s.name);
        key_text(w, "serial", s.serial);
        key_text(w, "sw_version", s.version);
        key_text(w, "security_level", s.level);
        w.Key("security_file");
        w.Bool(s.security_file);
        w.Key("protocols");
        w.StartObject();
        key_int(w, "bf_total_cell_counting", a.bf_total);
        key_int(w, "bf_cell_counting_viability", a.bf_viability);
        key_int(w, "fl_cell_lines_primary_cells", a.fl_cell_lines);
        key_int(w, "fl_advanced", a.fl_advanced);
        w.EndObject();
        w.Key("protocol_mtime");
        if (s.protocols)
            w.Int64(a.protocol_mtime);
        else
            w.Null();
        key_text_or_null(w, "protocol_mtime_text", s.protocols, s.protocol_time_text);
        key_text(w, "settings_format", s.new_format ? "new" : "old");
        w.Key("settings_bytes");
        w.StartArray();
        for (unsigned char b : a.settings)
            w.Uint(b);
        w.EndArray();
        w.Key("settings");
        if (s.filled) {
            w.StartObject();
            for (const auto& setting : s.settings) {
                w.Key(setting.key.c_str());
                if (!setting.present)
                    w.Null();
                else if (setting.numeric)
                    w.Int(std::stoi(setting.value));
                else
                    w.String(setting.value.c_str());
            }
            w.EndObject();
        } else {
            w.Null();
        }
        key_int(w, "server_time", a.server_time);
        key_text_or_null(w, "server_time_text", s.security_file, s.server_time_text);
    });
}

}  // namespace

view_s announce_view(const peer_s& peer, const announce_reply_s& a, bool new_format,
                     const std::string& protocol_time_text) {
    const announce_shown_s shown = shown_announce(a, new_format, protocol_time_text);
    return {announce_rows(peer, a, shown), announce_json(peer, a, shown)};
}

view_s failure_view(const std::string& request, const peer_s& peer, const std::string& error) {
    view_s v;
    v.rows = {{"Request", request}, {"Server", where(peer)}, {"Error", error}};
    v.json = json_object(request, peer, [&](json_writer& w) { key_text(w, "error", error); });
    return v;
}

view_s health_view(int answered, int asked) {
    const bool healthy = answered == asked;
    view_s v;
    v.rows = {{"Health", healthy ? "ok" : "FAILED"},
              {"Answered", std::to_string(answered) + " of " + std::to_string(asked)}};
    rapidjson::StringBuffer buffer;
    json_writer w(buffer);
    w.StartObject();
    key_text(w, "request", "health");
    w.Key("healthy");
    w.Bool(healthy);
    key_int(w, "answered", answered);
    key_int(w, "asked", asked);
    w.EndObject();
    v.json = buffer.GetString();
    return v;
}
