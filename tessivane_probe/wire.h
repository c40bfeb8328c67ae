// The records the probe exchanges with tessivane_server, built and read byte by byte from their
// documented layout. Nothing here is shared with the server: if the server's record layout ever
// drifts, the probe disagrees with it instead of drifting along.
//
// Every record is a fixed number of bytes: 32-bit little-endian integers, fixed-width text fields,
// and a closing 32-bit checksum, the wrapping sum of all bytes before it read as signed values.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

using wire_bytes = std::string;

constexpr uint16_t device_port = 2001;
constexpr uint16_t joining_port = 2002;

// Request codes of the 12-byte header (type at 0, reserved at 4, checksum at 8).
constexpr int32_t request_server_info = -65535;     // FFFF0001, both ports
constexpr int32_t request_version = -65534;         // FFFF0002, port 2002 only
constexpr int32_t request_get_login_fail = -65531;  // FFFF0005, follow-up name record
constexpr int32_t request_get_status = -65529;      // FFFF0007, follow-up name record

constexpr size_t header_size = 12;
constexpr size_t server_info_size = 28;
constexpr size_t name_record_size = 72;  // record_fail_to_login_s and account_status_s
constexpr size_t version_reply_size = 68;
constexpr size_t announce_size = 116;

// Field widths of the announcement and the name records.
constexpr size_t device_name_width = 32;
constexpr size_t serial_width = 32;
constexpr size_t sw_version_width = 12;
constexpr size_t user_name_width = 64;
constexpr size_t settings_width = 9;

// --- Byte-level rules ---------------------------------------------------------------------------
// The checksum of `len` bytes: each byte counts -128..127, the sum wraps at 32 bits.
int32_t signed_byte_sum(const unsigned char* data, size_t len);
// The checksum of all bytes but the last four. `record` holds >= 4 bytes.
int32_t sum_before_checksum(const wire_bytes& record);
// Writes the checksum of all bytes but the last four into the last four. `record` holds >= 4 bytes.
void seal(wire_bytes& record);
// True when the last four bytes hold the checksum of the bytes before them.
bool checksum_matches(const wire_bytes& record);
void put_i32(wire_bytes& b, size_t offset, int32_t value);
// Reads 4 bytes at `offset`; the caller has checked the record's size.
int32_t get_i32(const wire_bytes& b, size_t offset);
// A text field: its bytes up to the first NUL, never past `width`.
std::string field_text(const wire_bytes& b, size_t offset, size_t width);

// --- Requests -----------------------------------------------------------------------------------
wire_bytes header_record(int32_t type);
// The follow-up of the failed-login and account-status reads: the name, the number field 0.
// `user_name` is at most 63 bytes (the caller checks).
wire_bytes name_record(const std::string& user_name);

// Byte 1 of the settings the probe sends. The server writes 0 there whenever it fills the
// settings, and leaves the record as sent when it cannot, so a reply still holding this marker
// says the server had no settings to give.
constexpr unsigned char settings_unfilled_marker = 0xA5;
// A 116-byte announcement asking the server for its settings (source 0). The texts fit their
// fields (the caller checks); a text filling its whole field goes without a NUL.
wire_bytes announce_record(const std::string& device_name, const std::string& serial,
                           const std::string& sw_version);

// --- Replies (decoded only after check_reply said ok) -------------------------------------------
enum class reply_check_e { ok, wrong_size, bad_checksum };
// `received` is the datagram's real length, which may exceed `reply.size()` when the datagram was
// longer than the buffer it was read into.
reply_check_e check_reply(const wire_bytes& reply, size_t received, size_t expected_size);

struct server_info_reply_s {
    int32_t pw_min_length = 0;
    int32_t pw_change_cycle = 0;
    int32_t pw_account_lock = 0;
    int32_t auto_logout = 0;
    int32_t self_approval = 0;
    int32_t file_transfer = 0;
};
server_info_reply_s decode_server_info(const wire_bytes& reply);

// The version text, without the line end the server puts after it.
std::string decode_version(const wire_bytes& reply);

struct name_reply_s {
    std::string user_name;
    int32_t number = 0;  // login_fail_cnt or status; -1 = unknown to the server
};
name_reply_s decode_name_record(const wire_bytes& reply);

struct announce_reply_s {
    std::string device_name;
    std::string serial;
    std::string sw_version;
    unsigned char security_level = 0;
    // Group sizes: bright-field total counting / viability, fluorescence cell lines / advanced.
    int bf_total = 0, bf_viability = 0, fl_cell_lines = 0, fl_advanced = 0;
    int64_t protocol_mtime = -1;  // seconds since 1970; -1: the server could not read the file
    unsigned char settings[settings_width] = {};
    uint32_t server_time = 0;  // the server's local wall clock counted as UTC; 0: none sent
};
announce_reply_s decode_announce(const wire_bytes& reply);

// Compares dotted version texts number by number, a missing number counting as 0: 1 when `a` is
// older than `b`, -1 when newer, 0 when equal.
int compare_version(const std::string& a, const std::string& b);
// Which meaning the server gives the settings' channel byte: devices at 1.8.4 or newer get the
// autofocusing channel, older ones the staining option.
bool uses_new_settings_format(const std::string& sw_version);
