// Records against bytes written out by hand from the documented layout.
#include "wire.h"

#include <gtest/gtest.h>

namespace {

wire_bytes raw(std::initializer_list<int> values) {
    wire_bytes b;
    for (int v : values)
        b += static_cast<char>(v);
    return b;
}

wire_bytes zeros(size_t n) {
    return wire_bytes(n, '\0');
}

}  // namespace

TEST(Checksum, CountsBytesAsSignedValues) {
    const wire_bytes abc = "abc";
    EXPECT_EQ(signed_byte_sum(reinterpret_cast<const unsigned char*>(abc.data()), 3), 294);
    const wire_bytes ff(12, '\xff');
    EXPECT_EQ(signed_byte_sum(reinterpret_cast<const unsigned char*>(ff.data()), 8), -8);
    const wire_bytes high = raw({0x80, 0x7f, 0x01});
    EXPECT_EQ(signed_byte_sum(reinterpret_cast<const unsigned char*>(high.data()), 3), 0);
    EXPECT_EQ(signed_byte_sum(nullptr, 0), 0);
}

TEST(Requests, HeadersCarryTypeLittleEndianAndTheirSum) {
    EXPECT_EQ(header_record(request_server_info),
              raw({0x01, 0x00, 0xff, 0xff, 0, 0, 0, 0, 0xff, 0xff, 0xff, 0xff}));
    EXPECT_EQ(header_record(request_version),
              raw({0x02, 0x00, 0xff, 0xff, 0, 0, 0, 0, 0x00, 0x00, 0x00, 0x00}));
    EXPECT_EQ(header_record(request_get_login_fail),
              raw({0x05, 0x00, 0xff, 0xff, 0, 0, 0, 0, 0x03, 0x00, 0x00, 0x00}));
    EXPECT_EQ(header_record(request_get_status),
              raw({0x07, 0x00, 0xff, 0xff, 0, 0, 0, 0, 0x05, 0x00, 0x00, 0x00}));
}

TEST(Requests, NameRecordIsNameZeroNumberAndSum) {
    // 'a' 'l' 'i' 'c' 'e' = 97 + 108 + 105 + 99 + 101 = 510 = 0x1fe.
    wire_bytes expected = "alice" + zeros(63);
    expected += raw({0xfe, 0x01, 0x00, 0x00});
    EXPECT_EQ(name_record("alice"), expected);
    // Bytes above 0x7f count negative: 0xc3 0xbc ("ü") = -61 - 68 = -129.
    wire_bytes umlaut = raw({0xc3, 0xbc}) + zeros(66);
    umlaut += raw({0x7f, 0xff, 0xff, 0xff});
    EXPECT_EQ(name_record("\xc3\xbc"), umlaut);
}

TEST(Requests, AnnouncementPutsTextsAtTheirOffsetsAndMarksTheSettings) {
    const wire_bytes b = announce_record("Counter", "SN0001", "1.8.4");
    ASSERT_EQ(b.size(), 116u);
    EXPECT_EQ(b.substr(0, 32), "Counter" + zeros(25));
    EXPECT_EQ(b.substr(32, 32), "SN0001" + zeros(26));
    EXPECT_EQ(b.substr(64, 12), "1.8.4" + zeros(7));
    EXPECT_EQ(b.substr(76, 20), zeros(20));
    // Settings: source 0 (the server fills them), spare holds the marker.
    EXPECT_EQ(b.substr(96, 12), raw({0, 0xa5}) + zeros(10));
    int sum = 0;
    for (const char c : std::string("Counter") + "SN0001" + "1.8.4")
        sum += c;
    sum += static_cast<signed char>(0xa5);
    EXPECT_EQ(get_i32(b, 112), sum);

    // Texts that fill their fields go without a NUL and do not spill into the next field.
    const wire_bytes full =
        announce_record(std::string(32, 'N'), std::string(32, 'S'), std::string(12, 'V'));
    EXPECT_EQ(full.substr(0, 76),
              std::string(32, 'N') + std::string(32, 'S') + std::string(12, 'V'));
    EXPECT_EQ(full[76], '\0');
    EXPECT_TRUE(checksum_matches(full));
}

TEST(Replies, AreCheckedForSizeThenChecksum) {
    wire_bytes good = zeros(24) + raw({0, 0, 0, 0});
    EXPECT_EQ(check_reply(good, 28, 28), reply_check_e::ok);
    EXPECT_EQ(check_reply(good.substr(0, 20), 20, 28), reply_check_e::wrong_size);
    // A longer datagram read into a 28-byte buffer: the real length tells.
    EXPECT_EQ(check_reply(good, 29, 28), reply_check_e::wrong_size);
    good[3] = 1;
    EXPECT_EQ(check_reply(good, 28, 28), reply_check_e::bad_checksum);
    EXPECT_EQ(check_reply(wire_bytes(), 0, 28), reply_check_e::wrong_size);
}

TEST(Replies, ServerInfoFieldsAreSignedLittleEndian) {
    const wire_bytes b = raw({10, 0, 0, 0, 0xff, 0xff, 0xff, 0xff, 3, 0,    0, 0, 0x2c, 0x01,
                              0,  0, 0, 0, 0,    0,    1,    0,    0, 0x80, 0, 0, 0,    0});
    const server_info_reply_s info = decode_server_info(b);
    EXPECT_EQ(info.pw_min_length, 10);
    EXPECT_EQ(info.pw_change_cycle, -1);
    EXPECT_EQ(info.pw_account_lock, 3);
    EXPECT_EQ(info.auto_logout, 300);
    EXPECT_EQ(info.self_approval, 0);
    EXPECT_EQ(info.file_transfer, static_cast<int32_t>(0x80000001u));
}

TEST(Replies, VersionTextStopsAtItsFieldAndDropsTheLineEnd) {
    wire_bytes b = "<tessivane_server> version : 1.3.5\n" + zeros(29) + zeros(4);
    EXPECT_EQ(decode_version(b), "<tessivane_server> version : 1.3.5");
    wire_bytes full = std::string(64, 'x') + "\x01\x02\x03\x04";
    EXPECT_EQ(decode_version(full), std::string(64, 'x'));
}

TEST(Replies, NameRecordNumberAndFullWidthName) {
    wire_bytes b = std::string(64, 'u') + raw({0xff, 0xff, 0xff, 0xff, 0, 0, 0, 0});
    const name_reply_s r = decode_name_record(b);
    EXPECT_EQ(r.user_name, std::string(64, 'u'));
    EXPECT_EQ(r.number, -1);
}

TEST(Replies, AnnouncementFieldsByOffset) {
    wire_bytes b = std::string(32, 'N') + "SN7" + zeros(29) + "1.10.0" + zeros(6);
    b += raw({'2', 0xaa, 0xbb, 0xcc});               // level, padding passed back
    b += raw({0x03, 0x00, 0x05, 0x00});              // bf: 5 total, 3 viability
    b += raw({0x00, 0x00, 0x02, 0x00});              // fl: 2 cell lines, 0 advanced
    b += raw({0x01, 0x00, 0x00, 0x00});              // mtime, upper half
    b += raw({0x00, 0x00, 0x00, 0x80});              // mtime, lower half
    b += raw({0, 0, 3, 1, 4, 1, 2, 1, 0, 0, 0, 0});  // settings and padding
    b += raw({0xff, 0xff, 0xff, 0xff});              // server time past 2038
    b += zeros(4);
    ASSERT_EQ(b.size(), 116u);
    const announce_reply_s a = decode_announce(b);
    EXPECT_EQ(a.device_name, std::string(32, 'N'));
    EXPECT_EQ(a.serial, "SN7");
    EXPECT_EQ(a.sw_version, "1.10.0");
    EXPECT_EQ(a.security_level, '2');
    EXPECT_EQ(a.bf_total, 5);
    EXPECT_EQ(a.bf_viability, 3);
    EXPECT_EQ(a.fl_cell_lines, 2);
    EXPECT_EQ(a.fl_advanced, 0);
    EXPECT_EQ(a.protocol_mtime, 0x180000000LL);
    EXPECT_EQ(a.settings[2], 3);
    EXPECT_EQ(a.settings[6], 2);
    EXPECT_EQ(a.server_time, 0xffffffffu);

    // No protocol file: both halves FFFFFFFF.
    for (size_t i = 88; i < 96; ++i)
        b[i] = '\xff';
    EXPECT_EQ(decode_announce(b).protocol_mtime, -1);
}

TEST(Versions, CompareNumberByNumber) {
    EXPECT_EQ(compare_version("1.8.4", "1.10"), 1);
    EXPECT_EQ(compare_version("1.8.4", "1.8.4"), 0);
    EXPECT_EQ(compare_version("1.8.4", "1.8"), -1);
    EXPECT_EQ(compare_version("1.8.0", "1.8"), 0);
    EXPECT_EQ(compare_version("1.8.4", "1.8.3"), -1);
    EXPECT_EQ(compare_version("1.8.4", ""), -1);
    EXPECT_EQ(compare_version("1.8.4", "x.9"), -1);  // no digits count as 0
}

TEST(Versions, PickTheSettingsFormat) {
    EXPECT_FALSE(uses_new_settings_format("1.8.3"));
    EXPECT_TRUE(uses_new_settings_format("1.8.4"));
    EXPECT_TRUE(uses_new_settings_format("1.10.0"));
    EXPECT_TRUE(uses_new_settings_format("2"));
    EXPECT_FALSE(uses_new_settings_format("1.7.99"));
}
