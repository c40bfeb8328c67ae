// What the probe shows of a reply: a small two-column table for people and one JSON object with
// stable keys for scripts. Every text that came over the wire passes through printable() first,
// so a hostile reply cannot put control characters on a terminal or invalid UTF-8 into the JSON.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "wire.h"

using table_rows = std::vector<std::pair<std::string, std::string>>;

struct view_s {
    table_rows rows;
    std::string json;  // one object, no line end
};

// Where a reply came from, as the tables and the JSON name it.
struct peer_s {
    std::string host;
    uint16_t port = 0;
};

// Valid UTF-8 and printable characters as they are; control characters (C0, DEL and C1, the
// latter's two bytes each), backslash and bytes that are not part of valid UTF-8 as \xNN.
std::string printable(const std::string& text);
// "YYYY-MM-DD HH:MM:SS" of `seconds` read as UTC.
std::string utc_date(int64_t seconds);
// "YYYY-MM-DD HH:MM:SS ZONE" of `seconds` in the local time zone.
std::string local_date(int64_t seconds);
// The label column padded to the longest label, two blanks, the value; one line per row.
std::string table_text(const table_rows& rows);

// The cell-counting settings of an announcement reply, by the names of the settings file.
struct setting_s {
    std::string name;      // "Slide type", ...; the table label
    std::string key;       // slide_type, ...; the JSON key
    std::string value;     // decoded text, or the number for the numeric settings
    bool numeric = false;  // value is a plain number (JSON number, not string)
    bool present = true;   // false: not part of this settings format (JSON null)
};
// False when the server left the settings as the probe sent them (it had none to give).
bool settings_filled(const unsigned char* settings);
std::vector<setting_s> decode_settings(const unsigned char* settings, bool new_format);

view_s server_info_view(const peer_s& peer, const server_info_reply_s& info);
view_s version_view(const peer_s& peer, const std::string& text);
// `request` is "login-fails" (number: login_fail_cnt) or "account-status" (number: status).
view_s name_view(const std::string& request, const peer_s& peer, const name_reply_s& reply);
// `protocol_time_text` is the protocol file's time as the caller formats it (local time).
view_s announce_view(const peer_s& peer, const announce_reply_s& reply, bool new_format,
                     const std::string& protocol_time_text);
// A request that got no usable reply: the JSON carries "error" with `error`.
view_s failure_view(const std::string& request, const peer_s& peer, const std::string& error);
// "health": healthy when every request asked was answered.
view_s health_view(int answered, int asked);
