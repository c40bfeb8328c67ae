#include "wire.h"

#include <cstdlib>

int32_t signed_byte_sum(const unsigned char* data, size_t len) {
    uint32_t sum = 0;  // unsigned, so the wrap-around is defined
    for (size_t i = 0; i < len; ++i)
        sum += static_cast<uint32_t>(static_cast<int32_t>(static_cast<int8_t>(data[i])));
    return static_cast<int32_t>(sum);
}

int32_t sum_before_checksum(const wire_bytes& record) {
    return signed_byte_sum(reinterpret_cast<const unsigned char*>(record.data()),
                           record.size() - 4);
}

void seal(wire_bytes& record) {
    put_i32(record, record.size() - 4, sum_before_checksum(record));
}

bool checksum_matches(const wire_bytes& record) {
    return record.size() >= 4 && get_i32(record, record.size() - 4) == sum_before_checksum(record);
}

void put_i32(wire_bytes& b, size_t offset, int32_t value) {
    const auto v = static_cast<uint32_t>(value);
    for (size_t i = 0; i < 4; ++i)
        b[offset + i] = static_cast<char>((v >> (8 * i)) & 0xFFu);
}

int32_t get_i32(const wire_bytes& b, size_t offset) {
    uint32_t v = 0;
    for (size_t i = 0; i < 4; ++i)
        v |= static_cast<uint32_t>(static_cast<unsigned char>(b[offset + i])) << (8 * i);
    return static_cast<int32_t>(v);
}

std::string field_text(const wire_bytes& b, size_t offset, size_t width) {
    const std::string field = b.substr(offset, width);
    return field.substr(0, field.find('\0'));
}

wire_bytes header_record(int32_t type) {
    wire_bytes b(header_size, '\0');
    put_i32(b, 0, type);
    seal(b);
    return b;
}

wire_bytes name_record(const std::string& user_name) {
    wire_bytes b(name_record_size, '\0');
    b.replace(0, user_name.size(), user_name);
    seal(b);
    return b;
}

wire_bytes announce_record(const std::string& device_name, const std::string& serial,
                           const std::string& sw_version) {
    wire_bytes b(announce_size, '\0');
    b.replace(0, device_name.size(), device_name);
    b.replace(32, serial.size(), serial);
    b.replace(64, sw_version.size(), sw_version);
    b[96 + 1] = static_cast<char>(settings_unfilled_marker);
    seal(b);
    return b;
}

reply_check_e check_reply(const wire_bytes& reply, size_t received, size_t expected_size) {
    if (received != expected_size || reply.size() != expected_size)
        return reply_check_e::wrong_size;
    return checksum_matches(reply) ? reply_check_e::ok : reply_check_e::bad_checksum;
}

server_info_reply_s decode_server_info(const wire_bytes& reply) {
    server_info_reply_s info;
    info.pw_min_length = get_i32(reply, 0);
    info.pw_change_cycle = get_i32(reply, 4);
    info.pw_account_lock = get_i32(reply, 8);
    info.auto_logout = get_i32(reply, 12);
    info.self_approval = get_i32(reply, 16);
    info.file_transfer = get_i32(reply, 20);
    return info;
}

std::string decode_version(const wire_bytes& reply) {
    std::string text = field_text(reply, 0, 64);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    return text;
}

name_reply_s decode_name_record(const wire_bytes& reply) {
    return {field_text(reply, 0, user_name_width), get_i32(reply, 64)};
}

announce_reply_s decode_announce(const wire_bytes& reply) {
    announce_reply_s a;
    a.device_name = field_text(reply, 0, device_name_width);
    a.serial = field_text(reply, 32, serial_width);
    a.sw_version = field_text(reply, 64, sw_version_width);
    a.security_level = static_cast<unsigned char>(reply[76]);
    const auto bf = static_cast<uint32_t>(get_i32(reply, 80));
    const auto fl = static_cast<uint32_t>(get_i32(reply, 84));
    a.bf_total = static_cast<int>(bf >> 16);
    a.bf_viability = static_cast<int>(bf & 0xFFFFu);
    a.fl_cell_lines = static_cast<int>(fl >> 16);
    a.fl_advanced = static_cast<int>(fl & 0xFFFFu);
    const auto hi = static_cast<uint64_t>(static_cast<uint32_t>(get_i32(reply, 88)));
    const auto lo = static_cast<uint64_t>(static_cast<uint32_t>(get_i32(reply, 92)));
    a.protocol_mtime = static_cast<int64_t>((hi << 32) | lo);
    for (size_t i = 0; i < settings_width; ++i)
        a.settings[i] = static_cast<unsigned char>(reply[96 + i]);
    a.server_time = static_cast<uint32_t>(get_i32(reply, 108));
    return a;
}

int compare_version(const std::string& a, const std::string& b) {
    const char* pa = a.c_str();
    const char* pb = b.c_str();
    bool a_ended = false, b_ended = false;
    // Reads the number at `p` like atoi (blanks and a sign allowed, 0 without digits) and moves
    // past the character it stopped at, or marks the text ended at its NUL.
    const auto next = [](const char*& p, bool& ended) -> int32_t {
        if (ended)
            return 0;
        char* stop = nullptr;
        const long value = std::strtol(p, &stop, 10);
        p = stop;
        if (*p == '\0')
            ended = true;
        else
            ++p;
        return static_cast<int32_t>(value);
    };
    do {
        const int32_t na = next(pa, a_ended);
        const int32_t nb = next(pb, b_ended);
        if (na != nb)
            return na < nb ? 1 : -1;
    } while (!a_ended || !b_ended);
    return 0;
}

bool uses_new_settings_format(const std::string& sw_version) {
    return compare_version("1.8.4", sw_version) >= 0;
}
