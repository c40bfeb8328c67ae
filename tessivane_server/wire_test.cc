#include "wire.h"

#include <vector>

#include <gtest/gtest.h>

TEST(CheckSum, SumsBytesAsSignedValues) {
    EXPECT_EQ(CheckSum("abc", 3, false), 294);
    const unsigned char header[] = {0x01, 0x00, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x00};
    EXPECT_EQ(CheckSum(header, sizeof header, false), -1);
    const unsigned char join_header[] = {0x00, 0x00, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x00};
    EXPECT_EQ(CheckSum(join_header, sizeof join_header, false), -2);
    const std::vector<unsigned char> ones(12, 0xFF), zeros(12, 0);
    EXPECT_EQ(CheckSum(ones.data(), ones.size(), false), -12);  // exactly len bytes
    EXPECT_EQ(CheckSum(ones.data(), ones.size(), true), 12 * 255);
    EXPECT_EQ(CheckSum(zeros.data(), zeros.size(), false), 0);
    EXPECT_EQ(CheckSum(nullptr, 12, false), 0);
}

TEST(CheckSum, RecordFormLeavesOutTheChecksumField) {
    // Twelve 0xFF bytes as a record: the first 8 count, the closing 4 do not.
    const std::vector<char> ones(12, static_cast<char>(0xFF));
    EXPECT_EQ(CheckSum(ones.data(), 12u), -8);
    EXPECT_EQ(CheckSum(static_cast<const char*>(nullptr), 12u), 0);
    EXPECT_EQ(CheckSum(ones.data(), 3u), 0);
}

TEST(CheckSum, WrapsAt32Bits) {
    // 8421505 * 255 = 2147483775, just past INT_MAX.
    const std::vector<unsigned char> ones(8421505, 0xFF);
    EXPECT_EQ(CheckSum(ones.data(), ones.size(), true), -2147483521);
}

TEST(CheckSum, GetChecksumCoversAllButTheLastFourBytes) {
    msg_header_s header{request_server_info, 0, 0x7F7F7F7F};
    EXPECT_EQ(static_cast<int>(get_checksum(header)), -1);
    server_info_s info{8, 3, 3, 5, 1, 0, 12345};
    EXPECT_EQ(get_checksum(info), 20u);
    record_fail_to_login_s fail{};
    std::memcpy(fail.user_name, "abc", 3);
    fail.login_fail_cnt = -1;
    EXPECT_EQ(get_checksum(fail), 294u - 4);
}

TEST(CheckSum, SealedRecordChecksOutUntilAByteChanges) {
    device_announce_s msg{};
    std::memset(msg.serial, 0x80, sizeof msg.serial);
    msg.checksum = 7;
    EXPECT_FALSE(checksum_ok(msg));
    seal(msg);
    EXPECT_EQ(msg.checksum, -128 * 32);
    EXPECT_TRUE(checksum_ok(msg));
    msg.padding2[2] = 1;  // the last byte the sum covers
    EXPECT_FALSE(checksum_ok(msg));
}

// Hand-built byte images, read through the records: catches a layout or byte-order change.
TEST(WireLayout, AnnouncementFieldsSitAtTheirOffsets) {
    unsigned char bytes[116] = {};
    std::memcpy(bytes + 0, "Counter1", 8);
    std::memset(bytes + 32, 'S', 32);  // a serial filling its whole field
    std::memcpy(bytes + 64, "1.8.4", 5);
    bytes[76] = '2';
    bytes[80] = 0x03;  // bf = 0x00050003
    bytes[82] = 0x05;
    bytes[88] = 0x01;  // mtime hi = 1
    bytes[95] = 0x80;  // mtime lo = 0x80000000
    for (int i = 0; i < 9; ++i)
        bytes[96 + i] = static_cast<unsigned char>(i + 1);
    bytes[108] = 0x10;
    bytes[111] = 0x7F;
    bytes[112] = 0xFE;
    bytes[113] = bytes[114] = bytes[115] = 0xFF;  // checksum -2

    device_announce_s a;
    std::memcpy(&a, bytes, sizeof a);
    EXPECT_EQ(field_text(a.device_name), "Counter1");
    EXPECT_EQ(field_text(a.serial), std::string(32, 'S'));  // stops at the field's width
    EXPECT_EQ(field_text(a.sw_version), "1.8.4");
    EXPECT_EQ(a.security_level, '2');
    EXPECT_EQ(a.bf_protocol_counts, 0x00050003);
    EXPECT_EQ(a.protocol_mtime_hi, 1);
    EXPECT_EQ(static_cast<uint32_t>(a.protocol_mtime_lo), 0x80000000u);
    EXPECT_EQ(a.settings.source, 1);
    EXPECT_EQ(a.settings.autofocus_upon_slide_insertion, 9);
    EXPECT_EQ(a.server_time, 0x7F000010);
    EXPECT_EQ(a.checksum, -2);
}

TEST(CompareVersion, ComparesNumberByNumber) {
    EXPECT_EQ(compare_version("1.8.4", "1.10"), 1);
    EXPECT_EQ(compare_version("1.8.4", "1.8.4"), 0);
    EXPECT_EQ(compare_version("1.8.4", "1.8"), -1);
    EXPECT_EQ(compare_version("1.8.0", "1.8"), 0);
    EXPECT_EQ(compare_version("1.8.4", "1.8.3"), -1);
    EXPECT_EQ(compare_version("1.8.4", "1.10.0"), 1);
    EXPECT_EQ(compare_version("2", "1.99.99"), -1);
}

TEST(CompareVersion, ShorterTextCountsAsTrailingZeros) {
    EXPECT_EQ(compare_version("1.8", "1.8.0.0"), 0);
    EXPECT_EQ(compare_version("1.8", "1.8.0.1"), 1);
    EXPECT_EQ(compare_version("", "0.0"), 0);
    EXPECT_EQ(compare_version("", ""), 0);
    EXPECT_EQ(compare_version("1.x", "1.0"), 0);  // no digits read as 0
    EXPECT_EQ(compare_version("1.8.4", "1.8.4-beta"), 0);
}

TEST(CompareVersion, NullIsAnError) {
    EXPECT_EQ(compare_version(nullptr, "1.8"), -2);
    EXPECT_EQ(compare_version("1.8", nullptr), -2);
}
