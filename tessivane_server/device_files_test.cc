#include "device_files.h"

#include "test_support.h"

namespace {

const std::string defaults_json =
    "{\"Slide type\": \"2\", \"Chamber area\": \"All\", \"Selected chamber\": \"1\", "
    "\"Combine result\": \"Off\", \"Staining option\": \"Trypan\", "
    "\"Autofocusing channel in FL\": \"GF\", \"Autofocused counting\": \"Off\", "
    "\"Autofocus upon slide insertion\": \"On\"}";

std::string protocol_json(int total) {
    std::string group = "{";
    for (int i = 0; i < total; ++i)
        group += (i ? ", \"p" : "\"p") + std::to_string(i) + "\": {}";
    return "{\"BF_TOTAL_CELL_COUNTING\": " + group +
           "}, \"BF_CELL_COUNTING_VIABILITY\": {}, "
           "\"FL_CELL_LINES_PRIMARY_CELLS\": {}, \"FL_ADVANCED\": {}}";
}

struct DeviceFiles : ::testing::Test {
    ProductDir product;
    device_files_cache_s cache;
    void SetUp() override { cache.product_dir = product.dir; }
    std::string path(const std::string& name) { return product.dir + "/" + name; }
    char level() {
        char c = 'x';
        return cached_security_level(cache, "SN1", c) ? c : '-';
    }
};

}  // namespace

// Files changed within the last second are never trusted: a rewrite of the same size within one
// step of the file clock is still seen.
TEST_F(DeviceFiles, FreshFilesAreReadEveryTime) {
    write_text(path("security/security_SN1.txt"), "1");
    EXPECT_EQ(level(), '1');
    write_text(path("security/security_SN1.txt"), "2");
    EXPECT_EQ(level(), '2');
    EXPECT_TRUE(cache.devices.empty());
}

TEST_F(DeviceFiles, SettledResultsAreKeptUntilAFileChanges) {
    cache.settle_ns = 0;
    write_text(path("security/security_SN1.txt"), "1");
    write_text(path("settings/SN1.json"), protocol_json(1));
    EXPECT_EQ(level(), '1');
    int bf = 0, fl = 0;
    EXPECT_NE(cached_protocol(cache, "SN1", bf, fl), -1);
    EXPECT_EQ(bf, 1 << 16);
    ASSERT_EQ(cache.devices.count("SN1"), 1u);
    EXPECT_EQ(cache.devices["SN1"].security_level, '1');

    write_text(path("security/security_SN1.txt"), "33");
    write_text(path("settings/SN1.json"), protocol_json(22));
    EXPECT_EQ(level(), '3');
    EXPECT_NE(cached_protocol(cache, "SN1", bf, fl), -1);
    EXPECT_EQ(bf, 22 << 16);
    fs::remove(path("security/security_SN1.txt"));
    EXPECT_EQ(level(), '-');
}

TEST_F(DeviceFiles, SettingsNeedingDefaultsOrFailingAreNotKept) {
    cache.settle_ns = 0;
    cellcounting_setting_s s{};
    // No default file: nothing to copy, the record stays as it came.
    capture([&] { cached_settings(cache, "SN1", s, 1); });
    EXPECT_TRUE(cache.devices.empty());

    write_text(path("default/cellcounting_settings.json"), defaults_json);
    capture([&] { cached_settings(cache, "SN1", s, 1); });  // copies the default, then reads it
    EXPECT_EQ(s.channel, 1);
    EXPECT_EQ(cache.devices.count("SN1"), 0u) << "the copy is only just made";
    capture([&] { cached_settings(cache, "SN1", s, 1); });
    EXPECT_EQ(cache.devices.count("SN1"), 1u);

    write_text(path("settings/SN2_cellcounting_settings.json"), "{\"Slide type\": \"3\"}");
    s = {};
    const Captured c = capture([&] { cached_settings(cache, "SN2", s, 0); });
    EXPECT_EQ(s.slide_type, 3);
    EXPECT_NE(c.err.find("WARN"), std::string::npos);
    EXPECT_EQ(cache.devices.count("SN2"), 0u) << "its WARN lines are due at every announcement";
}
