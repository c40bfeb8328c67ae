// Settings decoding by name, texts from the wire made safe, and the shape of what is printed.
#include "report.h"

#include <gtest/gtest.h>
#include <rapidjson/document.h>

namespace {

std::vector<std::pair<std::string, std::string>> shown(const std::vector<setting_s>& settings) {
    std::vector<std::pair<std::string, std::string>> out;
    for (const auto& s : settings)
        if (s.present)
            out.emplace_back(s.name, s.value);
    return out;
}

rapidjson::Document parsed(const std::string& json) {
    rapidjson::Document d;
    d.Parse(json.c_str());
    EXPECT_FALSE(d.HasParseError()) << json;
    EXPECT_TRUE(d.IsObject()) << json;
    return d;
}

}  // namespace

TEST(Settings, DecodeEveryByteByItsSettingsName) {
    const unsigned char s[9] = {0, 0, 3, 1, 4, 1, 2, 1, 0};
    const std::vector<std::pair<std::string, std::string>> new_format = {
        {"Slide type", "3"},
        {"Chamber area", "All"},
        {"Selected chamber", "4"},
        {"Combine result", "On"},
        {"Autofocusing channel in FL", "RF"},
        {"Autofocused counting", "On"},
        {"Autofocus upon slide insertion", "Off"}};
    EXPECT_EQ(shown(decode_settings(s, true)), new_format);

    // Devices before 1.8.4: the same byte is the staining option.
    const unsigned char old[9] = {0, 0, 2, 0, 1, 0, 0, 0, 1};
    const std::vector<std::pair<std::string, std::string>> old_format = {
        {"Slide type", "2"},
        {"Chamber area", "Current"},
        {"Selected chamber", "1"},
        {"Combine result", "Off"},
        {"Staining option", "Trypan"},
        {"Autofocused counting", "Off"},
        {"Autofocus upon slide insertion", "On"}};
    EXPECT_EQ(shown(decode_settings(old, false)), old_format);
}

TEST(Settings, OtherTextsAndUnknownBytes) {
    const unsigned char s[9] = {0, 0, 255, 2, 0, 2, 1, 7, 1};
    const auto old = decode_settings(s, false);
    EXPECT_EQ(old[0].value, "255");
    EXPECT_EQ(old[1].value, "other");        // chamber area neither Current nor All
    EXPECT_EQ(old[3].value, "unknown (2)");  // combine result is 0 or 1
    EXPECT_EQ(old[4].value, "other");        // staining option other than Trypan
    EXPECT_EQ(old[6].value, "unknown (7)");
    const unsigned char s2[9] = {0, 0, 1, 9, 0, 0, 3, 0, 0};
    const auto fresh = decode_settings(s2, true);
    EXPECT_EQ(fresh[1].value, "unknown (9)");
    EXPECT_EQ(fresh[5].value, "unknown (3)");  // autofocusing channel is 0..2
}

TEST(Settings, TheMarkerTellsUnfilledSettings) {
    const unsigned char sent[9] = {0, 0xa5, 0, 0, 0, 0, 0, 0, 0};
    const unsigned char filled[9] = {0, 0, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_FALSE(settings_filled(sent));
    EXPECT_TRUE(settings_filled(filled));
}

TEST(Printable, KeepsUtf8AndEscapesEverythingElse) {
    EXPECT_EQ(printable("J\xc3\xbcrgen M\xc3\xbcller"), "J\xc3\xbcrgen M\xc3\xbcller");
    EXPECT_EQ(printable("\xe2\x82\xac \xf0\x9f\x98\x80"), "\xe2\x82\xac \xf0\x9f\x98\x80");
    EXPECT_EQ(printable("a\nb\tc\x1b[2J\x7f"), "a\\x0ab\\x09c\\x1b[2J\\x7f");
    EXPECT_EQ(printable("back\\slash"), "back\\x5cslash");
    EXPECT_EQ(printable("\xff\xfe"), "\\xff\\xfe");
    EXPECT_EQ(printable("\xc0\x80"), "\\xc0\\x80");           // overlong NUL
    EXPECT_EQ(printable("\xed\xa0\x80"), "\\xed\\xa0\\x80");  // surrogate
    EXPECT_EQ(printable("end\xc3"), "end\\xc3");              // cut sequence
    EXPECT_EQ(printable(std::string("\0x", 2)), "\\x00x");
    // C1 controls (U+0080..U+009F, U+009B the 8-bit escape introducer) byte by byte; U+00A0 on.
    EXPECT_EQ(printable("\xc2\x9b"
                        "2J\xc2\x80\xc2\x9f\xc2\xa0"),
              "\\xc2\\x9b2J\\xc2\\x80\\xc2\\x9f\xc2\xa0");
}

TEST(Dates, UtcDateCoversTheUnsignedRange) {
    EXPECT_EQ(utc_date(0), "1970-01-01 00:00:00");
    EXPECT_EQ(utc_date(1765245600), "2025-12-09 02:00:00");
    EXPECT_EQ(utc_date(4294967295LL), "2106-02-07 06:28:15");
}

TEST(Table, AlignsValuesAfterTheLongestLabel) {
    EXPECT_EQ(table_text({{"A", "1"}, {"Longer", "two"}, {"", "x"}}),
              "A       1\nLonger  two\n        x\n");
}

TEST(Views, AnnouncementWithoutFilesShowsNullsUnderStableKeys) {
    announce_reply_s a;
    a.device_name = "Probe\x01";
    a.serial = "SN1";
    a.sw_version = "1.8.3";
    a.security_level = '0';
    a.protocol_mtime = -1;
    a.settings[1] = settings_unfilled_marker;
    a.server_time = 0;
    const view_s v = announce_view({"127.0.0.1", 2001}, a, false, "");
    const auto d = parsed(v.json);
    EXPECT_STREQ(d["request"].GetString(), "announce");
    EXPECT_EQ(d["port"].GetInt(), 2001);
    EXPECT_STREQ(d["device_name"].GetString(), "Probe\\x01");
    EXPECT_FALSE(d["security_file"].GetBool());
    EXPECT_TRUE(d["protocol_mtime"].IsNull());
    EXPECT_TRUE(d["protocol_mtime_text"].IsNull());
    EXPECT_TRUE(d["settings"].IsNull());
    EXPECT_STREQ(d["settings_format"].GetString(), "old");
    EXPECT_EQ(d["settings_bytes"].Size(), 9u);
    EXPECT_TRUE(d["server_time_text"].IsNull());
    EXPECT_EQ(d["server_time"].GetInt(), 0);
    const std::string table = table_text(v.rows);
    EXPECT_NE(table.find("Security level                   0 (no security file)\n"),
              std::string::npos)
        << table;
    EXPECT_NE(table.find("Settings                         none (no readable settings file)\n"),
              std::string::npos)
        << table;
}

TEST(Views, AnnouncementSettingsAreTypedInJson) {
    announce_reply_s a;
    a.serial = "SN1";
    a.security_level = '2';
    a.protocol_mtime = 1700000000;
    const unsigned char s[9] = {0, 0, 3, 1, 4, 1, 1, 1, 0};
    std::copy(s, s + 9, a.settings);
    a.server_time = 1765245600;
    const auto d = parsed(announce_view({"10.0.0.1", 2001}, a, true, "2023-11-14").json);
    const auto& settings = d["settings"];
    EXPECT_EQ(settings["slide_type"].GetInt(), 3);
    EXPECT_STREQ(settings["chamber_area"].GetString(), "All");
    EXPECT_EQ(settings["selected_chamber"].GetInt(), 4);
    EXPECT_TRUE(settings["staining_option"].IsNull());
    EXPECT_STREQ(settings["autofocusing_channel_in_fl"].GetString(), "GF");
    EXPECT_EQ(d["protocol_mtime"].GetInt64(), 1700000000);
    EXPECT_STREQ(d["server_time_text"].GetString(), "2025-12-09 02:00:00");
    EXPECT_STREQ(d["security_level"].GetString(), "2");

    // An empty security file: the server sends a NUL as the level, and its time.
    a.security_level = 0;
    const std::string table = table_text(announce_view({"10.0.0.1", 2001}, a, true, "").rows);
    EXPECT_NE(table.find("Security level                   none (empty security file)\n"),
              std::string::npos)
        << table;
}
