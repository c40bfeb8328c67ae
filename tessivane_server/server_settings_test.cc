#include "server_settings.h"

#include "test_support.h"

namespace {

struct ServerSettings : ::testing::Test {
    ProductDir product;
    std::string own() { return product.dir + "/settings/server_settings.json"; }
    std::string fallback() { return product.dir + "/default/default_server.json"; }

    // Runs get_server_info on a record full of garbage; returns its result and the output.
    int read(server_info_s& info, std::string& out) {
        info = {-7, -7, -7, -7, -7, -7, 4242};
        int result = 0;
        const Captured c = capture([&] { result = get_server_info(&info, product.dir); });
        EXPECT_EQ(c.err, "");
        out = c.out;
        EXPECT_EQ(info.checksum, 4242);
        return result;
    }
};

std::vector<int32_t> fields(const server_info_s& i) {
    return {i.pw_min_length, i.pw_change_cycle, i.pw_account_lock,
            i.auto_logout,   i.self_approval,   i.file_transfer};
}
const std::vector<int32_t> defaults = {8, 3, 3, 5, 1, 0};

}  // namespace

TEST_F(ServerSettings, OnlyTheDefaultFile) {
    write_text(fallback(), R"({"pw. Minimum length": "12", "pw. Change cycle": "6",
        "pw. Account lock": "4", "msc. Auto logout": "10", "msc. Self approval": "Off",
        "msc. File transfer": "1", "other": 5})");
    server_info_s info;
    std::string out;
    EXPECT_EQ(read(info, out), 0);
    EXPECT_EQ(out, "get_server_info() : server_settings not exist !!! \n");
    EXPECT_EQ(fields(info), (std::vector<int32_t>{12, 6, 4, 10, 0, 1}));
}

TEST_F(ServerSettings, OwnFileWinsOverTheDefault) {
    write_text(fallback(), R"({"pw. Minimum length": "12"})");
    write_text(own(), R"({"pw. Minimum length": "10 chars", "pw. Account lock": "abc",
        "msc. Auto logout": " -4"})");
    server_info_s info;
    std::string out;
    EXPECT_EQ(read(info, out), 0);
    EXPECT_EQ(out, "get_server_info() : server_settings exist !!! \n");
    EXPECT_EQ(fields(info), (std::vector<int32_t>{10, 3, 0, -4, 1, 0}));
}

TEST_F(ServerSettings, SelfApprovalIsOffInAnyLetterCaseOnly) {
    for (const auto& [text, expected] :
         {std::pair{"Off", 0}, {"OFF", 0}, {"off", 0}, {"No", 1}, {"Off ", 1}, {"", 1}}) {
        write_text(own(), std::string(R"({"msc. Self approval": ")") + text + "\"}");
        server_info_s info;
        std::string out;
        ASSERT_EQ(read(info, out), 0);
        EXPECT_EQ(info.self_approval, expected) << text;
    }
}

TEST_F(ServerSettings, EmptyObjectGivesTheDefaults) {
    write_text(own(), "{}");
    server_info_s info;
    std::string out;
    EXPECT_EQ(read(info, out), 0);
    EXPECT_EQ(fields(info), defaults);
}

TEST_F(ServerSettings, NoFileFailsSilentlyWithTheDefaults) {
    server_info_s info;
    std::string out;
    EXPECT_EQ(read(info, out), -1);
    EXPECT_EQ(out, "");
    EXPECT_EQ(fields(info), defaults);
}

TEST_F(ServerSettings, EmptyFileFails) {
    write_text(own(), "");
    server_info_s info;
    std::string out;
    EXPECT_EQ(read(info, out), -1);
    EXPECT_EQ(out,
              "get_server_info() : server_settings exist !!! \n"
              "get_server_info() : file size fail \n");
    EXPECT_EQ(fields(info), defaults);
}

TEST_F(ServerSettings, UnusableContentFailsWithOneLineAndTheDefaults) {
    const std::string exist = "get_server_info() : server_settings exist !!! \n";
    const std::string prefix = "get_server_info() : json fail " + own() + " : ";
    const std::pair<std::string, std::string> cases[] = {
        {R"({"pw. Minimum length": "12",)", "Missing a name for object member. at byte 28 \n"},
        {std::string(1000000, '['), "Invalid value. at byte 1000000 \n"},  // no stack overflow
        {R"(["pw. Minimum length"])", "not a JSON object \n"},
        {R"({"pw. Minimum length": "12", "msc. Auto logout": 10})",
         "\"msc. Auto logout\" is not a string \n"},
    };
    for (const auto& [text, problem] : cases) {
        write_text(own(), text);
        server_info_s info;
        std::string out;
        EXPECT_EQ(read(info, out), -1) << text.substr(0, 60);
        EXPECT_EQ(out, exist + prefix + problem);
        EXPECT_EQ(fields(info), defaults);
    }
}
