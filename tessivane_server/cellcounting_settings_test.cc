#include "cellcounting_settings.h"

#include <fcntl.h>
#include <map>
#include <sys/stat.h>

#include "test_support.h"

namespace {

const char* const serial = "SN0001";

const std::map<std::string, std::string> default_values = {
    {"Slide type", "2"},
    {"Chamber area", "All"},
    {"Selected chamber", "4"},
    {"Combine result", "On"},
    {"Staining option", "Trypan"},
    {"Autofocusing channel in FL", "GF"},
    {"Autofocused counting", "On"},
    {"Autofocus upon slide insertion", "Off"},
};

std::string json_of(const std::map<std::string, std::string>& values) {
    std::string text = "{";
    for (const auto& [key, value] : values)
        text += (text.size() > 1 ? ",\n\"" : "\n\"") + key + "\": \"" + value + "\"";
    return text + "\n}\n";
}

std::vector<int> bytes_of(const cellcounting_setting_s& s) {
    const auto* p = reinterpret_cast<const uint8_t*>(&s);
    return std::vector<int>(p, p + sizeof s);
}

struct CellCountingSettings : ::testing::Test {
    ProductDir product;
    std::string device_file() {
        return product.dir + "/settings/SN0001_cellcounting_settings.json";
    }
    std::string default_file() { return product.dir + "/default/cellcounting_settings.json"; }
    void SetUp() override { write_text(default_file(), json_of(default_values)); }

    // The device file with `changes` applied to the default values (an empty value removes the key).
    void write_device(const std::map<std::string, std::string>& changes) {
        auto values = default_values;
        for (const auto& [key, value] : changes)
            if (value.empty())
                values.erase(key);
            else
                values[key] = value;
        write_text(device_file(), json_of(values));
    }

    int parse(cellcounting_setting_s& s, int new_format, Captured* output = nullptr) {
        int result = 0;
        const Captured c =
            capture([&] { result = settings_json_parser(serial, &s, new_format, product.dir); });
        if (output)
            *output = c;
        return result;
    }
};

const cellcounting_setting_s garbage = {2, 7, 7, 7, 7, 7, 7, 7, 7};

}  // namespace

TEST_F(CellCountingSettings, DeviceSuppliedSettingsAreLeftAlone) {
    cellcounting_setting_s s = {1, 9, 9, 9, 9, 9, 9, 9, 9};
    EXPECT_EQ(settings_mem_to_json(serial, &s, product.dir), 0);
    EXPECT_FALSE(fs::exists(device_file()));
    Captured c;
    EXPECT_EQ(parse(s, 1, &c), -1);
    EXPECT_EQ(c.out, "settings_json_parser, from dev \n");
    EXPECT_EQ(bytes_of(s), (std::vector<int>{1, 9, 9, 9, 9, 9, 9, 9, 9}));
}

TEST_F(CellCountingSettings, MissingDeviceFileIsCopiedFromTheDefaultThenRead) {
    ASSERT_EQ(::chmod(default_file().c_str(), 0640), 0);
    const struct timespec times[2] = {{1600000000, 0}, {1650000000, 500}};
    ASSERT_EQ(::utimensat(AT_FDCWD, default_file().c_str(), times, 0), 0);

    cellcounting_setting_s s{};
    EXPECT_EQ(settings_mem_to_json(serial, &s, product.dir), -1);
    struct stat st;  // before anything reads the copy and moves its access time
    ASSERT_EQ(::stat(device_file().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(st.st_mtim.tv_sec, 1650000000);
    EXPECT_EQ(st.st_mtim.tv_nsec, 500);
    EXPECT_EQ(st.st_atim.tv_sec, 1600000000);
    EXPECT_EQ(read_text(device_file()), json_of(default_values));
    EXPECT_EQ(
        std::distance(fs::directory_iterator(product.dir + "/settings"), fs::directory_iterator()),
        1);  // no temporary left behind

    Captured c;
    EXPECT_EQ(parse(s, 1, &c), 1);
    EXPECT_EQ(c.out + c.err, "");
    EXPECT_EQ(bytes_of(s), (std::vector<int>{0, 0, 2, 1, 4, 0, 1, 1, 0}));
}

TEST_F(CellCountingSettings, SourceTwoCopiesNothingButIsFilledFromAnExistingFile) {
    cellcounting_setting_s s = garbage;
    EXPECT_EQ(settings_mem_to_json(serial, &s, product.dir), 0);
    EXPECT_FALSE(fs::exists(device_file()));
    Captured c;
    EXPECT_EQ(parse(s, 1, &c), -1);
    EXPECT_EQ(c.out, "settings_json_parser, stat fail \n");
    EXPECT_EQ(bytes_of(s), bytes_of(garbage));

    write_device({});
    EXPECT_EQ(parse(s, 1), 1);
    EXPECT_EQ(bytes_of(s), (std::vector<int>{0, 0, 2, 1, 4, 0, 1, 1, 0}));
}

TEST_F(CellCountingSettings, MissingKeyIsTakenFromTheDefaultWithAWarning) {
    write_device({{"Chamber area", ""}, {"Slide type", "3"}});
    cellcounting_setting_s s{};
    Captured c;
    EXPECT_EQ(parse(s, 0, &c), 1);
    EXPECT_EQ(c.err, "settings_json_parser, WARN: No - Chamber area in " + device_file() +
                         ", taking from defaults\n");
    EXPECT_EQ(bytes_of(s), (std::vector<int>{0, 0, 3, 1, 4, 1, 0, 1, 0}));

    write_device({{"Autofocus upon slide insertion", ""}});
    EXPECT_EQ(parse(s, 0, &c), 1);
    EXPECT_EQ(c.err,
              "settings_json_parser, WARN: No - Autofocus upon slide insertion counting in " +
                  device_file() + ", taking from defaults\n");
}

TEST_F(CellCountingSettings, ValuesMapToTheirBytes) {
    struct Case {
        std::map<std::string, std::string> device;
        int new_format;
        std::vector<int> expected;
    };
    const Case cases[] = {
        {{{"Slide type", "3"}, {"Combine result", "On"}}, 1, {0, 0, 3, 1, 4, 1, 1, 1, 0}},
        {{{"Slide type", "2"}, {"Combine result", "On"}}, 1, {0, 0, 2, 1, 4, 0, 1, 1, 0}},
        {{{"Slide type", "259"}, {"Selected chamber", "x"}}, 1, {0, 0, 3, 1, 0, 1, 1, 1, 0}},
        {{{"Chamber area", "Current"}}, 1, {0, 0, 2, 0, 4, 0, 1, 1, 0}},
        {{{"Chamber area", "current"}}, 1, {0, 0, 2, 2, 4, 0, 1, 1, 0}},
        {{{"Autofocusing channel in FL", "UV"}}, 1, {0, 0, 2, 1, 4, 0, 0, 1, 0}},
        {{{"Autofocusing channel in FL", "RF"}}, 1, {0, 0, 2, 1, 4, 0, 2, 1, 0}},
        {{{"Staining option", "AO/PI"}}, 0, {0, 0, 2, 1, 4, 0, 1, 1, 0}},
        {{{"Autofocused counting", "ON"}, {"Autofocus upon slide insertion", "On"}},
         1,
         {0, 0, 2, 1, 4, 0, 1, 0, 1}},
    };
    for (const Case& c : cases) {
        write_device(c.device);
        cellcounting_setting_s s = garbage;
        ASSERT_EQ(parse(s, c.new_format), 1) << json_of(c.device);
        EXPECT_EQ(bytes_of(s), c.expected) << json_of(c.device);
    }
}

TEST_F(CellCountingSettings, FailuresLeaveTheRecordAsReceived) {
    const std::string full = json_of(default_values);
    const std::string no_default = "(none)";
    const std::string parse_fail = "settings_json_parser, json fail: ";
    const struct {
        std::string device, defaults;
        int new_format;
        std::string out, err;
    } cases[] = {
        {R"({"Slide type": "3"})", R"({"Slide type": "1"})", 1, "",
         "settings_json_parser, ERROR: No - Chamber area in default settings!\n"},
        {full, full, 2, "", "Unknown cellcounting settings version!\n"},
        {"", full, 1, "settings_json_parser, file size fail \n", ""},
        {R"({"Slide type": "3")", full, 1, "",
         parse_fail + device_file() +
             ": Missing a comma or '}' after an object member. at byte 18\n"},
        {R"({"Slide type": "3"})", R"({"Chamber area": ["All"]})", 1, "",
         "settings_json_parser, WARN: No - Chamber area in " + device_file() +
             ", taking from defaults\n" + parse_fail + default_file() +
             ": \"Chamber area\" is not a string\n"},
        {full, "[]", 1, "", parse_fail + default_file() + ": not a JSON object\n"},
        {full, no_default, 1, "settings_json_parser, fopen fail\n", ""},
    };
    for (const auto& c : cases) {
        write_text(device_file(), c.device);
        if (c.defaults == no_default)
            fs::remove(default_file());
        else
            write_text(default_file(), c.defaults);
        cellcounting_setting_s s = garbage;
        Captured output;
        EXPECT_EQ(parse(s, c.new_format, &output), -1) << c.device << c.defaults;
        EXPECT_EQ(output.out, c.out);
        EXPECT_EQ(output.err, c.err);
        EXPECT_EQ(bytes_of(s), bytes_of(garbage));
    }
}

struct ProtocolFile : CellCountingSettings {
    std::string path() { return product.dir + "/settings/SN0001.json"; }
    // Calls protocol_json_parser with bf and fl preset to a marker.
    int64_t summary(int& bf, int& fl, std::string& out) {
        bf = fl = -77;
        int64_t result = 0;
        out = capture([&] { result = protocol_json_parser(serial, bf, fl, product.dir); }).out;
        return result;
    }
};

std::string group(int members) {
    std::string text = "{";
    for (int i = 0; i < members; ++i)
        text += (i ? ", \"P" : "\"P") + std::to_string(i) + "\": {\"Dilution\": \"1\"}";
    return text + "}";
}

TEST_F(ProtocolFile, CountsTheFourGroups) {
    write_text(path(), "{\"BF_TOTAL_CELL_COUNTING\": " + group(5) +
                           ", \"BF_CELL_COUNTING_VIABILITY\": " + group(3) +
                           ", \"FL_CELL_LINES_PRIMARY_CELLS\": " + group(2) +
                           ", \"FL_ADVANCED\": {}}");
    const struct timespec times[2] = {{1700000000, 0}, {1700000123, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path().c_str(), times, 0), 0);
    int bf, fl;
    std::string out;
    EXPECT_EQ(summary(bf, fl, out), 1700000123);
    EXPECT_EQ(out, "");
    EXPECT_EQ(bf, 5 << 16 | 3);
    EXPECT_EQ(fl, 2 << 16);
}

TEST_F(ProtocolFile, FailuresLeaveTheCountsAlone) {
    const std::string three_groups =
        "\"BF_TOTAL_CELL_COUNTING\": {}, "
        "\"BF_CELL_COUNTING_VIABILITY\": {}, "
        "\"FL_CELL_LINES_PRIMARY_CELLS\": {}";
    const std::pair<std::string, std::string> cases[] = {
        {"{" + three_groups + "}",
         "Threre are no [FL - Cell lines & Primary cells, Advanced] protocols \n"},
        {"{\"FL_ADVANCED\": {}}", "Threre are no [BF - Total cell counting] protocols \n"},
        {"{" + three_groups + ", \"FL_ADVANCED\": 4}",
         "json fail: " + path() + ": [FL_ADVANCED] is not an object\n"},
        {"{" + three_groups, "json fail: " + path() +
                                 ": Missing a comma or '}' after an object "
                                 "member. at byte 98\n"},
        {"", "file size fail\n"},
    };
    for (const auto& [text, line] : cases) {
        write_text(path(), text);
        int bf, fl;
        std::string out;
        EXPECT_EQ(summary(bf, fl, out), -1) << text;
        EXPECT_EQ(out, line);
        EXPECT_EQ(bf, -77);
        EXPECT_EQ(fl, -77);
    }
    fs::remove(path());
    int bf, fl;
    std::string out;
    EXPECT_EQ(summary(bf, fl, out), -1);
    EXPECT_EQ(out, "stat fail: " + path() + "\n");
}

// Names of every file under `dir`, with size and modification time.
std::map<std::string, std::pair<uintmax_t, fs::file_time_type>> tree(const std::string& dir) {
    std::map<std::string, std::pair<uintmax_t, fs::file_time_type>> files;
    for (const auto& e : fs::recursive_directory_iterator(dir))
        files[e.path()] = {e.is_regular_file() ? e.file_size() : 0, e.last_write_time()};
    return files;
}

TEST_F(CellCountingSettings, HostileSerialsTouchNothing) {
    // Files that each hostile serial would reach if it were joined into a path, all usable.
    const std::string settings = json_of(default_values);
    const std::string protocols =
        "{\"BF_TOTAL_CELL_COUNTING\": {}, "
        "\"BF_CELL_COUNTING_VIABILITY\": {}, "
        "\"FL_CELL_LINES_PRIMARY_CELLS\": {}, \"FL_ADVANCED\": {}}";
    fs::create_directories(product.dir + "/settings/a");
    for (const std::string& base :
         {product.dir + "/x", product.dir + "/settings/a/b", product.dir + "/settings/.",
          product.dir + "/settings/", product.dir + "/settings/x\n"}) {
        write_text(base + ".json", protocols);
        write_text(base + "_cellcounting_settings.json", settings);
    }
    const auto before = tree(product.path);

    for (const char* hostile : {"../x", "a/b", "..", "", "x\n", "."}) {
        int bf = -77, fl = -77;
        cellcounting_setting_s s = {0, 7, 7, 7, 7, 7, 7, 7, 7};
        const Captured c = capture([&] {
            EXPECT_EQ(protocol_json_parser(hostile, bf, fl, product.dir), -1);
            EXPECT_EQ(settings_mem_to_json(hostile, &s, product.dir), -1);
            EXPECT_EQ(settings_json_parser(hostile, &s, 1, product.dir), -1);
        });
        EXPECT_EQ(c.out, "stat fail: " + product.dir + "/settings/" + hostile + ".json\n" +
                             "settings_json_parser, stat fail \n");
        EXPECT_EQ(bf, -77);
        EXPECT_EQ(bytes_of(s), (std::vector<int>{0, 7, 7, 7, 7, 7, 7, 7, 7}));
    }
    EXPECT_EQ(tree(product.path), before);
}

TEST_F(CellCountingSettings, SerialIsReadOnlyUpToItsFieldWidth) {
    device_announce_s a;
    std::memset(&a, 'S', sizeof a);  // serial without NUL, followed by more non-NUL bytes
    const std::string name(32, 'S');
    write_text(product.dir + "/settings/" + name + "_cellcounting_settings.json",
               json_of(default_values));
    cellcounting_setting_s s{};
    EXPECT_EQ(
        capture([&] { EXPECT_EQ(settings_json_parser(a.serial, &s, 1, product.dir), 1); }).out, "");
}
