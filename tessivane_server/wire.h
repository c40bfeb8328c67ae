// Binary records exchanged with the instruments and the PC-side application over UDP.
//
// Every record travels as its raw in-memory image: 32-bit little-endian integers at offsets that are
// multiples of 4, fixed-width text fields, and a closing 32-bit `checksum` over all bytes before it.
// The static_asserts pin each layout, so a compiler or platform change cannot silently alter the
// bytes on the wire.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__,
              "wire records are raw little-endian images");

// Request codes in `msg_header_s::type` (FFFF0000 .. FFFF0007), compared as full 32-bit values.
enum request_type_e : int32_t {
    request_join = -65536,                // FFFF0000, follow-up user_info_s
    request_server_info = -65535,         // FFFF0001
    request_server_version = -65534,      // FFFF0002
    request_change_password = -65533,     // FFFF0003, follow-up password_change_s
    request_set_login_fail = -65532,      // FFFF0004, follow-up record_fail_to_login_s
    request_get_login_fail = -65531,      // FFFF0005, follow-up record_fail_to_login_s
    request_deactivate_account = -65530,  // FFFF0006, follow-up account_status_s
    request_get_account_status = -65529,  // FFFF0007, follow-up account_status_s
};

struct msg_header_s {
    int32_t type;
    int32_t reserved;
    int32_t checksum;  // over bytes 0-7
};
static_assert(sizeof(msg_header_s) == 12);
static_assert(offsetof(msg_header_s, type) == 0);
static_assert(offsetof(msg_header_s, reserved) == 4);
static_assert(offsetof(msg_header_s, checksum) == 8);

// Password and logout policy (see server_settings.h for where the values come from).
struct server_info_s {
    int32_t pw_min_length;
    int32_t pw_change_cycle;
    int32_t pw_account_lock;
    int32_t auto_logout;
    int32_t self_approval;  // 1 = a user may approve own results
    int32_t file_transfer;
    int32_t checksum;  // over bytes 0-23
};
static_assert(sizeof(server_info_s) == 28);
static_assert(offsetof(server_info_s, pw_min_length) == 0);
static_assert(offsetof(server_info_s, pw_change_cycle) == 4);
static_assert(offsetof(server_info_s, pw_account_lock) == 8);
static_assert(offsetof(server_info_s, auto_logout) == 12);
static_assert(offsetof(server_info_s, self_approval) == 16);
static_assert(offsetof(server_info_s, file_transfer) == 20);
static_assert(offsetof(server_info_s, checksum) == 24);

struct record_fail_to_login_s {
    char user_name[64];
    int32_t login_fail_cnt;  // filled in replies; -1 = unknown
    int32_t checksum;        // over bytes 0-67
};
static_assert(sizeof(record_fail_to_login_s) == 72);
static_assert(offsetof(record_fail_to_login_s, user_name) == 0);
static_assert(offsetof(record_fail_to_login_s, login_fail_cnt) == 64);
static_assert(offsetof(record_fail_to_login_s, checksum) == 68);

struct account_status_s {
    char user_name[64];
    int32_t status;    // filled in replies; -1 = unknown, 0 = deactivated
    int32_t checksum;  // over bytes 0-67
};
static_assert(sizeof(account_status_s) == 72);
static_assert(offsetof(account_status_s, user_name) == 0);
static_assert(offsetof(account_status_s, status) == 64);
static_assert(offsetof(account_status_s, checksum) == 68);

struct user_info_s {
    char user_name[64];  // the server forces byte 63 to NUL
    char password[64];
    char long_name[64];
    int32_t result;  // outcome of the join, written by the server
    int32_t level;   // 2 = admin, 1 = supervisor, anything else = user
    int32_t timeout;
    int32_t checksum;  // over bytes 0-203
};
static_assert(sizeof(user_info_s) == 208);
static_assert(offsetof(user_info_s, user_name) == 0);
static_assert(offsetof(user_info_s, password) == 64);
static_assert(offsetof(user_info_s, long_name) == 128);
static_assert(offsetof(user_info_s, result) == 192);
static_assert(offsetof(user_info_s, level) == 196);
static_assert(offsetof(user_info_s, timeout) == 200);
static_assert(offsetof(user_info_s, checksum) == 204);

struct password_change_s {
    char user_name[64];
    char password[64];  // the new password
    int32_t checksum;   // over bytes 0-127
};
static_assert(sizeof(password_change_s) == 132);
static_assert(offsetof(password_change_s, user_name) == 0);
static_assert(offsetof(password_change_s, password) == 64);
static_assert(offsetof(password_change_s, checksum) == 128);

struct version_reply_s {
    char text[64];     // "<tessivane_server> version : <version>\n", zero-filled
    int32_t checksum;  // over bytes 0-63
};
static_assert(sizeof(version_reply_s) == 68);
static_assert(offsetof(version_reply_s, text) == 0);
static_assert(offsetof(version_reply_s, checksum) == 64);

// Counting options of one device; the values are explained in cellcounting_settings.h.
struct cellcounting_setting_s {
    uint8_t source;  // 1 = the device supplies its own settings
    uint8_t spare;
    uint8_t slide_type;
    uint8_t chamber_area;
    uint8_t selected_chamber;
    uint8_t combine_result;
    uint8_t channel;
    uint8_t autofocused_counting;
    uint8_t autofocus_upon_slide_insertion;
};
static_assert(sizeof(cellcounting_setting_s) == 9);
static_assert(offsetof(cellcounting_setting_s, source) == 0);
static_assert(offsetof(cellcounting_setting_s, spare) == 1);
static_assert(offsetof(cellcounting_setting_s, slide_type) == 2);
static_assert(offsetof(cellcounting_setting_s, chamber_area) == 3);
static_assert(offsetof(cellcounting_setting_s, selected_chamber) == 4);
static_assert(offsetof(cellcounting_setting_s, combine_result) == 5);
static_assert(offsetof(cellcounting_setting_s, channel) == 6);
static_assert(offsetof(cellcounting_setting_s, autofocused_counting) == 7);
static_assert(offsetof(cellcounting_setting_s, autofocus_upon_slide_insertion) == 8);

// The periodic announcement of a device (port 2001) and the server's reply to it.
struct device_announce_s {
    char device_name[32];
    char serial[32];      // used in file names: check with is_safe_path_component first
    char sw_version[12];  // dotted numbers, e.g. "1.8.4"
    char security_level;  // reply: first character of the device's security file, or '0'
    uint8_t padding1[3];  // sent back as received
    int32_t bf_protocol_counts;
    int32_t fl_protocol_counts;
    int32_t protocol_mtime_hi;
    int32_t protocol_mtime_lo;
    cellcounting_setting_s settings;
    uint8_t padding2[3];  // sent back as received
    int32_t server_time;
    int32_t checksum;  // over bytes 0-111
};
static_assert(sizeof(device_announce_s) == 116);
static_assert(offsetof(device_announce_s, device_name) == 0);
static_assert(offsetof(device_announce_s, serial) == 32);
static_assert(offsetof(device_announce_s, sw_version) == 64);
static_assert(offsetof(device_announce_s, security_level) == 76);
static_assert(offsetof(device_announce_s, padding1) == 77);
static_assert(offsetof(device_announce_s, bf_protocol_counts) == 80);
static_assert(offsetof(device_announce_s, fl_protocol_counts) == 84);
static_assert(offsetof(device_announce_s, protocol_mtime_hi) == 88);
static_assert(offsetof(device_announce_s, protocol_mtime_lo) == 92);
static_assert(offsetof(device_announce_s, settings) == 96);
static_assert(offsetof(device_announce_s, padding2) == 105);
static_assert(offsetof(device_announce_s, server_time) == 108);
static_assert(offsetof(device_announce_s, checksum) == 112);

// Sum of exactly `len` bytes, each read as -128..127 (or 0..255 with `unsigned_bytes`); the total
// wraps at 32 bits. A null `data` gives 0. Every protocol use passes false.
int CheckSum(const void* data, size_t len, bool unsigned_bytes);

// Checksum of a whole record of `len` bytes: sums the first `len` - 4 bytes as signed bytes,
// leaving out the closing checksum field. 0 for null data or `len` < 4.
int CheckSum(const char* data, unsigned len);

// The value a record's `checksum` field must hold: the signed-byte sum over all of T but its last
// 4 bytes. Records are closed and tested with seal and checksum_ok below.
template <typename T>
unsigned get_checksum(T record) {
    return static_cast<unsigned>(CheckSum(&record, sizeof(T) - sizeof(int32_t), false));
}

// Closes `record`: its `checksum` field gets the sum of every byte before it.
template <typename T>
void seal(T& record) {
    static_assert(offsetof(T, checksum) == sizeof(T) - sizeof(int32_t), "checksum closes T");
    record.checksum = static_cast<int32_t>(get_checksum(record));
}

// True when the `checksum` field holds the sum of every byte before it.
template <typename T>
bool checksum_ok(const T& record) {
    static_assert(offsetof(T, checksum) == sizeof(T) - sizeof(int32_t), "checksum closes T");
    return record.checksum == static_cast<int32_t>(get_checksum(record));
}

// Compares dotted version texts number by number; a text that has run out counts as 0s, so 1.8.0
// equals 1.8. Returns 1 when `a` is older than `b`, -1 when newer, 0 when equal, -2 when either is
// null. Both must be NUL-terminated (use field_text for a wire field).
int compare_version(const char* a, const char* b);

// The text of a fixed-width field: up to the first NUL, never past the field's width.
template <size_t N>
std::string field_text(const char (&field)[N]) {
    return std::string(field, strnlen(field, N));
}
