// The probe against the built daemon: a device with known protocol, settings and security files,
// the server's policy file, and the stand-in user-management command.
#include <sys/time.h>

#include <filesystem>
#include <thread>

#include <chrono>
#include <ctime>

#include "harness.h"
#include "common/files.h"
#include "probe_run.h"

namespace {

const std::string settings_dir = product_dir + "/settings";

class ProbeTest : public ServerTest {
protected:
    void SetUp() override {
        ServerTest::SetUp();
        if (HasFatalFailure())
            return;
        // Device SN0001: 5 total-counting, 3 viability, 2 cell-line and 0 advanced protocols,
        // the protocol file dated 2023-11-14 22:13:20 UTC, security level 2.
        const std::string protocols = settings_dir + "/SN0001.json";
        write_whole(protocols, "{\"BF_TOTAL_CELL_COUNTING\": " + protocol_group(5) +
                                   ", \"BF_CELL_COUNTING_VIABILITY\": " + protocol_group(3) +
                                   ", \"FL_CELL_LINES_PRIMARY_CELLS\": " + protocol_group(2) +
                                   ", \"FL_ADVANCED\": {}}");
        const timeval times[2] = {{1700000000, 0}, {1700000000, 0}};
        ASSERT_EQ(::utimes(protocols.c_str(), times), 0);
        write_whole(settings_dir + "/SN0001_cellcounting_settings.json",
                    "{\"Slide type\": \"3\", \"Chamber area\": \"Current\", "
                    "\"Selected chamber\": \"4\", \"Combine result\": \"On\", "
                    "\"Staining option\": \"Eosin\", \"Autofocusing channel in FL\": \"RF\", "
                    "\"Autofocused counting\": \"On\", "
                    "\"Autofocus upon slide insertion\": \"Off\"}");
        write_whole(product_dir + "/default/cellcounting_settings.json", default_cell_settings());
        write_whole(product_dir + "/security/security_SN0001.txt", "2\n");
        write_whole(settings_dir + "/server_settings.json",
                    "{\"pw. Minimum length\": \"10\", \"pw. Change cycle\": \"6\", "
                    "\"pw. Account lock\": \"4\", \"msc. Auto logout\": \"15\", "
                    "\"msc. Self approval\": \"off\", \"msc. File transfer\": \"1\"}");
    }

    // Options that reach both interfaces of the daemon under test.
    std::vector<std::string> at(std::vector<std::string> args) {
        args.insert(args.begin(), {"--joining-host", joining_address()});
        return args;
    }
};

int64_t now_s() {
    return static_cast<int64_t>(std::time(nullptr));
}

}  // namespace

TEST_F(ProbeTest, AnnounceShowsTheDeviceAsTheServerKnowsIt) {
    start();
    const auto r = probe(at({"announce", "SN0001", "Counter", "1.8.4"}));
    ASSERT_EQ(r.status, 0) << r.err;
    const auto lines = lines_of(r.out);
    const std::vector<std::string> expected = {
        "Request                          announce",
        "Server                           127.0.0.1:2001",
        "Registered name                  Counter",
        "Serial                           SN0001",
        "Software version                 1.8.4",
        "Security level                   2",
        "BF - Total cell counting         5",
        "BF - Cell counting & Viability   3",
        "FL - Cell lines & Primary cells  2",
        "FL - Advanced                    0",
        "Protocol file time               2023-11-14 22:13:20 UTC (1700000000)",
        "Slide type                       3",
        "Chamber area                     Current",
        "Selected chamber                 4",
        "Combine result                   On",
        "Autofocusing channel in FL       RF",
        "Autofocused counting             On",
        "Autofocus upon slide insertion   Off",
    };
    ASSERT_EQ(lines.size(), expected.size() + 1) << r.out;
    EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.end() - 1), expected);
    EXPECT_EQ(lines.back().rfind("Server time                      20", 0), 0u) << lines.back();
    EXPECT_NE(lines.back().find(" (server local time)"), std::string::npos) << lines.back();

    // A second device with the same name in the same cycle is numbered; an old device gets the
    // staining option in the channel byte.
    const auto second = probe(at({"--json", "announce", "SN0001", "Counter", "1.8.4"}));
    EXPECT_EQ(second.status, 0);
    const auto old = probe(at({"--json", "announce", "SN0002", "Counter", "1.8.3"}));
    ASSERT_EQ(old.status, 0) << old.err;
    auto docs = json_lines(old.out);
    ASSERT_EQ(docs.size(), 1u);
    const auto& d = docs[0];
    EXPECT_STREQ(d["request"].GetString(), "announce");
    EXPECT_STREQ(d["host"].GetString(), "127.0.0.1");
    EXPECT_EQ(d["port"].GetInt(), 2001);
    EXPECT_STREQ(d["device_name"].GetString(), "Counter1");
    EXPECT_STREQ(d["serial"].GetString(), "SN0002");
    EXPECT_STREQ(d["sw_version"].GetString(), "1.8.3");
    // SN0002 has no security, protocol or settings file of its own: level 0 and no time, no
    // protocols, and the settings copied from the default.
    EXPECT_STREQ(d["security_level"].GetString(), "0");
    EXPECT_FALSE(d["security_file"].GetBool());
    EXPECT_TRUE(d["protocol_mtime"].IsNull());
    EXPECT_TRUE(d["protocol_mtime_text"].IsNull());
    EXPECT_EQ(d["protocols"]["bf_total_cell_counting"].GetInt(), 0);
    EXPECT_STREQ(d["settings_format"].GetString(), "old");
    const auto& s = d["settings"];
    ASSERT_TRUE(s.IsObject());
    EXPECT_EQ(s["slide_type"].GetInt(), 2);
    EXPECT_STREQ(s["chamber_area"].GetString(), "All");
    EXPECT_EQ(s["selected_chamber"].GetInt(), 1);
    EXPECT_STREQ(s["combine_result"].GetString(), "Off");
    EXPECT_STREQ(s["staining_option"].GetString(), "Trypan");
    EXPECT_TRUE(s["autofocusing_channel_in_fl"].IsNull());
    EXPECT_STREQ(s["autofocused_counting"].GetString(), "Off");
    EXPECT_STREQ(s["autofocus_upon_slide_insertion"].GetString(), "On");
    EXPECT_EQ(d["server_time"].GetInt(), 0);
    EXPECT_TRUE(d["server_time_text"].IsNull());
    EXPECT_TRUE(file_exists(settings_dir + "/SN0002_cellcounting_settings.json"));

    // The probe shows up in the device list like an instrument, for the next save.
    EXPECT_TRUE(wait_until(
        [] { return read_whole(devlist_file).find("SN0002") != std::string::npos; }, 7000ms));
}

TEST_F(ProbeTest, AnnounceJsonOfAKnownDevice) {
    start();
    const auto r = probe(at({"--json", "announce", "SN0001"}));
    ASSERT_EQ(r.status, 0) << r.err;
    auto docs = json_lines(r.out);
    ASSERT_EQ(docs.size(), 1u);
    const auto& d = docs[0];
    EXPECT_STREQ(d["device_name"].GetString(), "SN0001") << "the name defaults to the serial";
    EXPECT_STREQ(d["sw_version"].GetString(), "1.8.4");
    EXPECT_STREQ(d["security_level"].GetString(), "2");
    EXPECT_TRUE(d["security_file"].GetBool());
    EXPECT_EQ(d["protocols"]["bf_total_cell_counting"].GetInt(), 5);
    EXPECT_EQ(d["protocols"]["bf_cell_counting_viability"].GetInt(), 3);
    EXPECT_EQ(d["protocols"]["fl_cell_lines_primary_cells"].GetInt(), 2);
    EXPECT_EQ(d["protocols"]["fl_advanced"].GetInt(), 0);
    EXPECT_EQ(d["protocol_mtime"].GetInt64(), 1700000000);
    EXPECT_STREQ(d["protocol_mtime_text"].GetString(), "2023-11-14 22:13:20 UTC");
    EXPECT_STREQ(d["settings_format"].GetString(), "new");
    const std::vector<unsigned> bytes = {0, 0, 3, 0, 4, 1, 2, 1, 0};
    ASSERT_EQ(d["settings_bytes"].Size(), 9u);
    for (unsigned i = 0; i < 9; ++i)
        EXPECT_EQ(d["settings_bytes"][i].GetUint(), bytes[i]) << i;
    EXPECT_STREQ(d["settings"]["autofocusing_channel_in_fl"].GetString(), "RF");
    EXPECT_TRUE(d["settings"]["staining_option"].IsNull());
    // The daemon runs in UTC, so its local-time seconds are the real ones.
    EXPECT_NEAR(static_cast<double>(d["server_time"].GetInt64()), static_cast<double>(now_s()), 60);
    EXPECT_EQ(std::string(d["server_time_text"].GetString()).size(), 19u);
}

TEST_F(ProbeTest, AnnounceWithoutAnySettingsSaysSo) {
    std::filesystem::remove(product_dir + "/default/cellcounting_settings.json");
    start();
    const auto r = probe(at({"announce", "SN0009", "Bench"}));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("\nSettings                         none (no readable settings file)\n"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("\nSecurity level                   0 (no security file)\n"),
              std::string::npos);
    EXPECT_NE(r.out.find("\nProtocol file time               none (no readable protocol file)\n"),
              std::string::npos);
    EXPECT_NE(r.out.find("\nServer time                      none (no security file)\n"),
              std::string::npos);
}

TEST_F(ProbeTest, ServerInfoFromBothPortsAndFromOne) {
    start();
    const auto r = probe(at({"server-info"}));
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string table =
        "pw. Minimum length  10\n"
        "pw. Change cycle    6\n"
        "pw. Account lock    4\n"
        "msc. Auto logout    15\n"
        "msc. Self approval  Off (0)\n"
        "msc. File transfer  1\n";
    const std::string joining = joining_address();
    EXPECT_EQ(r.out,
              "Request             server-info\n"
              "Server              127.0.0.1:2001\n" +
                  table +
                  "\n"
                  "Request             server-info\n"
                  "Server              " +
                  joining + ":2002\n" + table);

    const auto one = probe(at({"--json", "--port", "2002", "server-info"}));
    ASSERT_EQ(one.status, 0) << one.err;
    EXPECT_EQ(one.out, "{\"request\":\"server-info\",\"host\":\"" + joining +
                           "\",\"port\":2002,\"pw_min_length\":10,\"pw_change_cycle\":6,"
                           "\"pw_account_lock\":4,\"auto_logout\":15,\"self_approval\":0,"
                           "\"file_transfer\":1}\n");
}

TEST_F(ProbeTest, VersionTableAndJson) {
    start();
    const auto r = probe(at({"version"}));
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string joining = joining_address();
    EXPECT_EQ(r.out,
              "Request       version\n"
              "Server        " +
                  joining +
                  ":2002\n"
                  "Version text  <tessivane_server> version : 1.3.5\n");
    const auto j = probe(at({"version", "--json"}));
    EXPECT_EQ(j.out, "{\"request\":\"version\",\"host\":\"" + joining +
                         "\",\"port\":2002,\"text\":\"<tessivane_server> version : 1.3.5\"}\n");
}

TEST_F(ProbeTest, AccountReadsOnBothPortsChangeNothing) {
    set_search_output("{\n  \"name\": \"alice\",\n  \"login_fail_cnt\": 2,\n  \"status\": 1\n}\n");
    start();
    const auto fails = probe(at({"login-fails", "alice"}));
    ASSERT_EQ(fails.status, 0) << fails.err;
    EXPECT_EQ(fails.out,
              "Request        login-fails\n"
              "Server         127.0.0.1:2001\n"
              "User           alice\n"
              "Failed logins  2\n");
    const auto status = probe(at({"account-status", "alice"}));
    ASSERT_EQ(status.status, 0) << status.err;
    EXPECT_EQ(status.out,
              "Request         account-status\n"
              "Server          127.0.0.1:2001\n"
              "User            alice\n"
              "Account status  1\n");
    const std::string joining = joining_address();
    const auto j1 = probe(at({"--json", "--port", "2002", "login-fails", "alice"}));
    EXPECT_EQ(j1.out, "{\"request\":\"login-fails\",\"host\":\"" + joining +
                          "\",\"port\":2002,\"user_name\":\"alice\",\"login_fail_cnt\":2}\n");
    const auto j2 = probe(at({"--json", "--port", "2002", "account-status", "alice"}));
    EXPECT_EQ(j2.out, "{\"request\":\"account-status\",\"host\":\"" + joining +
                          "\",\"port\":2002,\"user_name\":\"alice\",\"status\":1}\n");

    // Unknown to the command: -1, shown as such.
    set_search_output("no such user\n");
    const auto unknown = probe(at({"login-fails", "bob"}));
    EXPECT_EQ(unknown.status, 0);
    EXPECT_NE(unknown.out.find("Failed logins  unknown (-1)\n"), std::string::npos) << unknown.out;

    // Only lookups reached the user-management command.
    const auto calls = tool_calls();
    ASSERT_FALSE(calls.empty());
    for (const auto& call : calls) {
        ASSERT_FALSE(call.empty());
        EXPECT_EQ(call[0], "search_by_name");
    }
}

TEST_F(ProbeTest, HealthAsksBothPortsAndNeverAnnounces) {
    start();
    const auto r = probe(at({"--json", "health"}));
    ASSERT_EQ(r.status, 0) << r.err;
    auto docs = json_lines(r.out);
    ASSERT_EQ(docs.size(), 4u) << r.out;
    EXPECT_STREQ(docs[0]["request"].GetString(), "version");
    EXPECT_STREQ(docs[1]["request"].GetString(), "server-info");
    EXPECT_EQ(docs[1]["port"].GetInt(), 2001);
    EXPECT_STREQ(docs[2]["request"].GetString(), "server-info");
    EXPECT_EQ(docs[2]["port"].GetInt(), 2002);
    EXPECT_STREQ(docs[3]["request"].GetString(), "health");
    EXPECT_TRUE(docs[3]["healthy"].GetBool());
    EXPECT_EQ(docs[3]["answered"].GetInt(), 3);

    // Back to back: the joining interface's pause after each request must not make the next
    // check miss its reply.
    for (int round = 0; round < 3; ++round) {
        const auto table = probe(at({"health"}));
        EXPECT_EQ(table.status, 0) << table.err;
        EXPECT_NE(table.out.find("\nHealth    ok\nAnswered  3 of 3\n"), std::string::npos)
            << table.out;
    }

    // Two device-list saves later the list is still empty.
    std::this_thread::sleep_for(5500ms);
    EXPECT_EQ(read_whole(devlist_file), "");
}

TEST_F(ProbeTest, NoServerMeansExitTwoWithinTheTimeLimit) {
    // The fixture's folders, but no daemon.
    const auto started = std::chrono::steady_clock::now();
    const auto r = probe({"--timeout", "1", "--port", "2001", "server-info"});
    const auto took = std::chrono::steady_clock::now() - started;
    EXPECT_EQ(r.status, 2);
    // One second for the request, one for its retry.
    EXPECT_GE(took, 2000ms);
    EXPECT_LT(took, 2800ms);
    EXPECT_NE(r.err.find("no reply to server-info from 127.0.0.1:2001 within 2 x 1 s"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(r.out, "");

    // A command's requests go out together: two ports or three requests take no longer.
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"--timeout", "1", "server-info"}, {"--timeout", "1", "health"}}) {
        const auto from = std::chrono::steady_clock::now();
        EXPECT_EQ(probe(args).status, 2) << args.back();
        const auto ms =
            std::chrono::duration_cast<milliseconds>(std::chrono::steady_clock::now() - from)
                .count();
        EXPECT_GE(ms, 2000) << args.back();
        EXPECT_LT(ms, 2800) << args.back();
    }

    const auto health = probe({"--json", "--timeout", "0.2", "health"});
    EXPECT_EQ(health.status, 2);
    auto docs = json_lines(health.out);
    ASSERT_EQ(docs.size(), 4u) << health.out;
    EXPECT_STREQ(docs[0]["error"].GetString(), "no reply");
    EXPECT_FALSE(docs[3]["healthy"].GetBool());
    EXPECT_EQ(docs[3]["answered"].GetInt(), 0);
}

TEST(ProbeUsage, BadCommandLinesExitOneWithoutSending) {
    // No daemon of another test or of the machine may answer the accepted lines below.
    const bool private_network = enter_private_network();
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {},
             {"status"},
             {"--frobnicate", "version"},
             {"announce"},
             {"announce", std::string(33, 'S')},
             {"announce", "SN/../x"},
             {"announce", "SN1", std::string(33, 'N')},
             {"announce", "SN1", ""},
             {"announce", "SN1", "Name", "1.8.4.1234567"},
             {"announce", "SN1", "Na\nme"},
             {"announce", "SN1", "Name", "1.8.4", "extra"},
             {"login-fails"},
             {"login-fails", std::string(64, 'u')},
             {"account-status", "a", "b"},
             {"--port", "2003", "server-info"},
             {"--port", "2002", "version"},
             {"--port", "2001", "announce", "SN1"},
             {"--timeout", "0", "version"},
             {"--timeout", "abc", "version"},
             {"--timeout"},
             {"--host", "no.such.host.invalid", "version"},
             {"--joining-host", "", "version"},
         }) {
        const auto r = probe(args);
        std::string shown;
        for (const auto& a : args)
            shown += "[" + a + "]";
        EXPECT_EQ(r.status, 1) << shown;
        EXPECT_EQ(r.out, "") << shown;
        EXPECT_NE(r.err.find("tessivane_probe: "), std::string::npos) << shown;
    }
    const auto help = probe({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("device list"), std::string::npos);
    if (!private_network)
        GTEST_SKIP() << "needs a private network namespace (root)";
    // Full-width fields are fine: 32-byte serial and name, 12-byte version, 63-byte user name are
    // accepted (and then find no server within the limit).
    EXPECT_EQ(probe({"--timeout", "0.2", "announce", std::string(32, 'S'), std::string(32, 'N'),
                     std::string(12, '1')})
                  .status,
              2);
    EXPECT_EQ(probe({"--timeout", "0.2", "login-fails", std::string(63, 'u')}).status, 2);
}
