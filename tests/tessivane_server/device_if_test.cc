// Port 2001: announcements and the account requests of the devices.
#include <fcntl.h>
#include <sys/stat.h>

#include <ctime>
#include <filesystem>
#include <thread>

#include "common/json.h"
#include "harness.h"

namespace {

std::string name_of(const std::optional<bytes>& reply) {
    return reply && reply->size() == 116 ? reply->substr(0, 32) : "<no reply>";
}

std::string padded(const std::string& name) {
    return name + std::string(32 - name.size(), '\0');
}

std::string settings_json(const std::string& chamber_area, const std::string& channel_key,
                          const std::string& channel) {
    return json_object_s({{"Slide type", "3"},
                          {"Chamber area", chamber_area},
                          {"Selected chamber", "4"},
                          {"Combine result", "On"},
                          {channel_key, channel},
                          {"Autofocused counting", "On"},
                          {"Autofocus upon slide insertion", "Off"}})
        .dump();
}

std::vector<int> settings_bytes(const bytes& reply) {
    std::vector<int> v;
    for (size_t i = 96; i < 105; ++i)
        v.push_back(static_cast<unsigned char>(reply[i]));
    return v;
}

}  // namespace

TEST_F(ServerTest, NamesAreUniqueWithinACycleAndFreeAgainAfterIt) {
    start();
    udp_client client;
    const auto ask = [&](const std::string& name, const std::string& serial) {
        return name_of(client.ask(device_port, announcement(name, serial, "1.8.4")));
    };
    EXPECT_EQ(ask("Counter", "SN-A"), padded("Counter"));
    EXPECT_EQ(ask("Counter", "SN-B"), padded("Counter1"));
    EXPECT_EQ(ask("Counter", "SN-C"), padded("Counter2"));
    EXPECT_EQ(ask("Counter", "SN-A"), padded("Counter")) << "a device keeps its own name";
    // A name filling the whole field: the numbered form still fits, so the device is told the
    // name it was registered under.
    const std::string full(32, 'N');
    EXPECT_EQ(ask(full, "SN-D"), full);
    EXPECT_EQ(ask(full, "SN-E"), std::string(31, 'N') + "1");

    // Refused: a wrong checksum, and control characters that would start a line of their own.
    bytes bad = announcement("Counter", "SN-BAD", "1.8.4");
    bad[112] = static_cast<char>(bad[112] + 1);
    client.send(device_port, bad);
    client.send(device_port, announcement("Evil\nLine", "SN-EVIL", "1.8.4"));
    client.send(device_port, announcement("Evil", "SN\r-EVIL", "1.8.4"));
    sync(client, device_port);
    const std::string out = server.out();
    EXPECT_NE(out.find("Check error [127.0.0.1][SN-BAD] recv_checksum:0x"), std::string::npos)
        << out;
    EXPECT_NE(out.find("refused, control character in name [Evil\\x0aLine] serial [SN-EVIL]"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("serial [SN\\x0d-EVIL]"), std::string::npos) << out;
    EXPECT_EQ(out.find("Evil\nLine"), std::string::npos);

    // The list of this cycle, saved at its end, sorted byte-wise; then the names are free again.
    ASSERT_TRUE(wait_until([&] { return !read_whole(devlist_file).empty(); }, 7000ms));
    EXPECT_EQ(read_whole(devlist_file),
              "127.0.0.1,SN-A,1.8.4,Counter\n127.0.0.1,SN-B,1.8.4,Counter1\n"
              "127.0.0.1,SN-C,1.8.4,Counter2\n127.0.0.1,SN-D,1.8.4," +
                  full +
                  "\n"
                  "127.0.0.1,SN-E,1.8.4," +
                  std::string(31, 'N') + "1\n");
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(ask("Counter", "SN-B"), padded("Counter"));
}

TEST_F(ServerTest, ReplyCarriesTheDeviceFilesInTheFormatOfItsVersion) {
    const std::string settings = product_dir + "/settings/";
    write_whole(settings + "SN-P.json",
                "{\"BF_TOTAL_CELL_COUNTING\": " + protocol_group(5) +
                    ", \"BF_CELL_COUNTING_VIABILITY\": " + protocol_group(3) +
                    ", \"FL_CELL_LINES_PRIMARY_CELLS\": " + protocol_group(2) +
                    ", \"FL_ADVANCED\": {}}");
    // A modification time beyond 32 bits: 0x1_23456789.
    const timespec times[2] = {{0x123456789, 0}, {0x123456789, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, (settings + "SN-P.json").c_str(), times, 0), 0);
    write_whole(product_dir + "/security/security_SN-P.txt", "2 high\n");
    write_whole(product_dir + "/default/cellcounting_settings.json", default_cell_settings());
    std::string device = settings_json("Current", "Staining option", "Other");
    device.insert(device.size() - 1, ", \"Autofocusing channel in FL\": \"RF\"");
    write_whole(settings + "SN-P_cellcounting_settings.json", device);
    start();

    udp_client client;
    for (const std::string version : {"1.8.3", "1.8.4", "1.10.0"}) {
        SCOPED_TRACE(version);
        bytes request = announcement("Dev " + version, "SN-P", version);
        put_text(request, 77, "\xAA\xBB\xCC");
        put_text(request, 96, std::string("\x00\x07\x07\x07\x07\x07\x07\x07\x07", 9));
        put_text(request, 105, "\xDD\xEE\xFF");
        const auto reply = client.ask(device_port, sealed(request));
        ASSERT_TRUE(reply);
        ASSERT_EQ(reply->size(), 116u);
        EXPECT_EQ(reply->substr(0, 76), request.substr(0, 76));
        EXPECT_EQ((*reply)[76], '2');
        EXPECT_EQ(reply->substr(77, 3), "\xAA\xBB\xCC");
        EXPECT_EQ(get_i32(*reply, 80), 0x00050003);
        EXPECT_EQ(get_i32(*reply, 84), 0x00020000);
        EXPECT_EQ(get_i32(*reply, 88), 1);
        EXPECT_EQ(get_i32(*reply, 92), 0x23456789);
        // Old devices get the staining option in `channel` (Other: 1), newer ones the
        // autofocusing channel (RF: 2).
        const int channel = version == "1.8.3" ? 1 : 2;
        EXPECT_EQ(settings_bytes(*reply), (std::vector<int>{0, 0, 3, 0, 4, 1, channel, 1, 0}));
        EXPECT_EQ(reply->substr(105, 3), "\xDD\xEE\xFF");
        // The daemon runs with TZ=UTC: its local time is the clock's.
        EXPECT_NEAR(static_cast<double>(static_cast<uint32_t>(get_i32(*reply, 108))),
                    static_cast<double>(static_cast<uint32_t>(std::time(nullptr))), 5.0);
        EXPECT_TRUE(checksum_ok(*reply));
    }
}

TEST_F(ServerTest, MissingOrUnsafeFilesStillGetAReply) {
    // A serial that is no file name: its security file must not be found through the slash.
    write_whole(product_dir + "/security/security_a/b.txt", "9");
    start();
    udp_client client;
    bytes request = announcement("", "a/b", "1.8.4");
    put_text(request, 96, std::string("\x00\x05\x05\x05\x05\x05\x05\x05\x05", 9));
    for (const std::string serial : {"SN-M", "a/b"}) {
        SCOPED_TRACE(serial);
        put_text(request, 32, std::string(32, '\0'));
        put_text(request, 32, serial);
        const auto reply = client.ask(device_port, sealed(request));
        ASSERT_TRUE(reply);
        EXPECT_EQ((*reply)[76], '0');
        EXPECT_EQ(get_i32(*reply, 108), 0) << "no server time without a security file";
        EXPECT_EQ(get_i32(*reply, 80), 0);
        EXPECT_EQ(get_i32(*reply, 84), 0);
        EXPECT_EQ(get_i32(*reply, 88), -1);
        EXPECT_EQ(get_i32(*reply, 92), -1);
        EXPECT_EQ(settings_bytes(*reply), (std::vector<int>{0, 5, 5, 5, 5, 5, 5, 5, 5}));
        EXPECT_TRUE(checksum_ok(*reply));
    }
    EXPECT_NE(server.out().find("stat fail: " + product_dir + "/settings/SN-M.json\n"),
              std::string::npos);
    EXPECT_NE(server.out().find("settings_json_parser, stat fail \n"), std::string::npos);

    // With a default file, a device without settings of its own gets a copy of it.
    write_whole(product_dir + "/default/cellcounting_settings.json", default_cell_settings());
    put_text(request, 32, std::string(32, '\0'));
    put_text(request, 32, "SN-M");
    auto reply = client.ask(device_port, sealed(request));
    ASSERT_TRUE(reply);
    EXPECT_EQ(settings_bytes(*reply), (std::vector<int>{0, 0, 2, 1, 1, 0, 1, 0, 1}));
    EXPECT_EQ(read_whole(product_dir + "/settings/SN-M_cellcounting_settings.json"),
              default_cell_settings());

    // A device that supplies its own settings (source 1) gets them back untouched.
    put_text(request, 32, "SN-S");
    put_text(request, 96, "\x01");
    reply = client.ask(device_port, sealed(request));
    ASSERT_TRUE(reply);
    EXPECT_EQ(settings_bytes(*reply), (std::vector<int>{1, 5, 5, 5, 5, 5, 5, 5, 5}));
    EXPECT_FALSE(
        std::filesystem::exists(product_dir + "/settings/SN-S_cellcounting_settings.json"));
    EXPECT_NE(server.out().find("settings_json_parser, from dev \n"), std::string::npos);
}

TEST_F(ServerTest, PasswordChangeNoticeGoesToTheNextNamelessDevice) {
    start();
    udp_client client;
    for (const auto& [user, password] :
         {std::pair{"alice", "pw-one"}, std::pair{"bob", "pw-two"}}) {
        client.send(joining_port, header(change_password_request), joining_address());
        client.send(joining_port, password_change(user, password), joining_address());
    }
    sync(client, joining_port);
    EXPECT_EQ(read_whole(product_dir + "/users/pw_changed.txt"), "bob");
    EXPECT_EQ(tool_calls(),
              (std::vector<std::vector<std::string>>{{"update_user", "alice", "--password=pw-one"},
                                                     {"update_user", "bob", "--password=pw-two"}}));
    EXPECT_EQ(server.count_in_out("joining_if() : [TesiVane] wants to change pw \n"), 2u);

    EXPECT_EQ(name_of(client.ask(device_port, announcement("", "SN-N1", "1.8.4"))), padded("bob"));
    EXPECT_EQ(name_of(client.ask(device_port, announcement("", "SN-N2", "1.8.4"))),
              std::string(32, '\0'));
    EXPECT_FALSE(std::filesystem::exists(product_dir + "/users/pw_changed.txt"));
    EXPECT_FALSE(std::filesystem::exists(product_dir + "/users/pw_changed.txt.claimed"));
    EXPECT_EQ(server.out().find("pw-two"), std::string::npos);
    EXPECT_EQ(server.err().find("pw-two"), std::string::npos);
}

TEST_F(ServerTest, AccountRequestsOnTheDevicePort) {
    write_whole(product_dir + "/settings/server_settings.json",
                "{\"pw. Minimum length\": \"10 chars\", \"msc. Self approval\": \"off\", "
                "\"msc. File transfer\": \"2\"}");
    set_search_output(
        "{\n  \"user_name\": \"alice\",\n  \"status\": 1,\n  \"login_fail_cnt\": 2\n}\n");
    start();
    udp_client client;

    auto reply = client.ask(device_port, header(server_info_request));
    ASSERT_TRUE(reply);
    bytes expected(28, '\0');
    for (int i = 0, v[] = {10, 3, 3, 5, 0, 2}; i < 6; ++i)
        put_i32(expected, 4 * i, v[i]);
    EXPECT_EQ(*reply, sealed(expected));

    client.send(device_port, header(set_login_fail_request));
    client.send(device_port, name_record("alice"));
    client.send(device_port, header(get_login_fail_request));
    reply = client.ask(device_port, name_record("alice", 77));
    ASSERT_TRUE(reply);
    EXPECT_EQ(*reply, name_record("alice", 2));

    client.send(device_port, header(deactivate_request));
    client.send(device_port, name_record("alice"));
    client.send(device_port, header(get_status_request));
    reply = client.ask(device_port, name_record("alice"));
    ASSERT_TRUE(reply);
    EXPECT_EQ(*reply, name_record("alice", 1));
    set_search_output("{\n  \"user_name\": \"alice\"\n}\n");
    client.send(device_port, header(get_status_request));
    reply = client.ask(device_port, name_record("alice"));
    ASSERT_TRUE(reply);
    EXPECT_EQ(*reply, name_record("alice", -1)) << "no status line: unknown";

    EXPECT_EQ(tool_calls(),
              (std::vector<std::vector<std::string>>{{"inc_login_fails", "alice"},
                                                     {"search_by_name", "alice"},
                                                     {"update_user", "alice", "--status=0"},
                                                     {"search_by_name", "alice"},
                                                     {"search_by_name", "alice"}}));
    const std::string out = server.out();
    EXPECT_NE(out.find("set_fail_to_login(): ran ''" + user_tool + "' inc_login_fails 'alice''\n"),
              std::string::npos)
        << out;
    EXPECT_NE(
        out.find("deactivate_account(): ran '" + user_tool + " update_user 'alice' --status=0'\n"),
        std::string::npos)
        << out;
    EXPECT_EQ(server.count_in_out("send_fail_to_login(): sent 72 bytes.\n"), 1u);
    // Printed after the reply has gone out.
    EXPECT_TRUE(wait_until(
        [&] { return server.count_in_out("send_account_lock_state(): sent 72 bytes.\n") == 2; },
        2000ms));
}

TEST_F(ServerTest, DevicePortDropsWhatItDoesNotServe) {
    start();
    udp_client client;
    client.send(device_port, header(version_request));
    client.send(device_port, header(change_password_request));
    client.send(device_port, header(join_request));
    client.send(device_port, bytes(20, '\x11'));
    bytes bad_header = header(server_info_request);
    bad_header[11] ^= 1;
    client.send(device_port, bad_header);
    client.send(device_port, header(get_login_fail_request));
    bytes bad_record = name_record("alice");
    bad_record[0] = 'A';
    client.send(device_port, bad_record);
    sync(client, device_port);
    EXPECT_FALSE(client.receive(0ms));
    EXPECT_TRUE(tool_calls().empty());
    const std::string out = server.out();
    EXPECT_NE(out.find("Got valid client header: 0xffff0002\n"), std::string::npos);
    EXPECT_NE(out.find("Got valid client header: 0xffff0003\n"), std::string::npos);
    EXPECT_NE(
        out.find("Other packet received, assume Client API follow-up\nGot Client API request\n"),
        std::string::npos);
    EXPECT_NE(out.find("Error checksum login fail: "), std::string::npos);
}

// A short follow-up is not completed with zeros (an empty one would check out as an all-zero
// record); a longer one is read to the record's size.
TEST_F(ServerTest, DevicePortDropsAShortFollowUpAndCutsALongOne) {
    start();
    udp_client client;
    client.send(device_port, header(set_login_fail_request));
    client.send(device_port, bytes());
    client.send(device_port, header(deactivate_request));
    client.send(device_port, name_record("alice").substr(0, 71));
    client.send(device_port, header(get_login_fail_request));
    const auto reply = client.ask(device_port, name_record("alice") + "more");
    ASSERT_TRUE(reply);
    EXPECT_EQ(*reply, name_record("alice", -1));
    EXPECT_FALSE(client.receive(0ms));
    EXPECT_EQ(tool_calls(), (std::vector<std::vector<std::string>>{{"search_by_name", "alice"}}));
    const std::string out = server.out();
    EXPECT_NE(out.find("device_if() : [Error] size follow-up : 0, not 72 \n"), std::string::npos)
        << out;
    EXPECT_NE(out.find("device_if() : [Error] size follow-up : 71, not 72 \n"), std::string::npos)
        << out;
}

TEST_F(ServerTest, LostFollowUpBlocksTheDevicePortForAtMostASecond) {
    start();
    udp_client client;
    client.send(device_port, header(get_login_fail_request));
    std::this_thread::sleep_for(1300ms);
    EXPECT_EQ(name_of(client.ask(device_port, announcement("After", "SN-F", "1.8.4"), 1000ms)),
              padded("After"));
    EXPECT_TRUE(tool_calls().empty());
}

TEST_F(ServerTest, HostileNamesReachTheCommandAsOneArgument) {
    // Run in the daemon's folder, which is this test's.
    const std::vector<std::string> names = {"o'neil",         "$(touch pwned)", "`touch pwned`",
                                            "a; touch pwned", "line1\nline2",   "\"dq\" \\ * ?"};
    start();
    udp_client client;
    std::vector<std::vector<std::string>> expected;
    for (const std::string& name : names) {
        client.send(device_port, header(deactivate_request));
        client.send(device_port, name_record(name));
        sync(client, device_port);
        expected.push_back({"update_user", name, "--status=0"});
    }
    for (const std::string& name : names) {
        client.send(joining_port, header(set_login_fail_request), joining_address());
        client.send(joining_port, name_record(name), joining_address());
        expected.push_back({"inc_login_fails", name});
    }
    client.send(joining_port, header(join_request), joining_address());
    client.send(joining_port, user_info(names[1], names[0], names[4], 2, 5), joining_address());
    expected.push_back({"add_user", names[1], names[0], "admin", "--timeout=5",
                        "--group=44454641554c54", "--longname=" + names[4]});
    const auto reply = client.receive(15000ms);
    ASSERT_TRUE(reply);
    EXPECT_EQ(get_i32(*reply, 192), 0);
    EXPECT_EQ(tool_calls(), expected);
    EXPECT_FALSE(std::filesystem::exists("pwned"));
    EXPECT_EQ(server.out().find("line1\nline2"), std::string::npos);
    EXPECT_NE(server.out().find("line1\\x0aline2"), std::string::npos);
}

// The daemon keeps what it read from a device's files while they stay unchanged; a change is
// seen by the next announcement, even one that keeps the file's size.
TEST_F(ServerTest, ChangedDeviceFilesAreSeenByTheNextAnnouncement) {
    const std::string security = product_dir + "/security/security_SN-C.txt";
    const std::string protocol = product_dir + "/settings/SN-C.json";
    const std::string device_settings = product_dir + "/settings/SN-C_cellcounting_settings.json";
    write_whole(security, "1");
    write_whole(protocol, "{\"BF_TOTAL_CELL_COUNTING\": " + protocol_group(1) +
                              ", \"BF_CELL_COUNTING_VIABILITY\": {}, "
                              "\"FL_CELL_LINES_PRIMARY_CELLS\": {}, \"FL_ADVANCED\": {}}");
    write_whole(product_dir + "/default/cellcounting_settings.json", default_cell_settings());
    write_whole(device_settings, settings_json("All", "Autofocusing channel in FL", "GF"));
    start();
    std::this_thread::sleep_for(1200ms);  // the files have settled: now their results are kept
    udp_client client;
    for (int round = 0; round < 2; ++round) {
        const auto reply = client.ask(device_port, announcement("C", "SN-C", "1.8.4"));
        ASSERT_TRUE(reply);
        EXPECT_EQ((*reply)[76], '1');
        EXPECT_EQ(get_i32(*reply, 80), 1 << 16);
        EXPECT_EQ(settings_bytes(*reply)[6], 1);
    }
    write_whole(security, "2");
    write_whole(protocol, "{\"BF_TOTAL_CELL_COUNTING\": " + protocol_group(2) +
                              ", \"BF_CELL_COUNTING_VIABILITY\": {}, "
                              "\"FL_CELL_LINES_PRIMARY_CELLS\": {}, \"FL_ADVANCED\": {}}");
    write_whole(device_settings, settings_json("All", "Autofocusing channel in FL", "RF"));
    const auto reply = client.ask(device_port, announcement("C", "SN-C", "1.8.4"));
    ASSERT_TRUE(reply);
    EXPECT_EQ((*reply)[76], '2');
    EXPECT_EQ(get_i32(*reply, 80), 2 << 16);
    EXPECT_EQ(settings_bytes(*reply)[6], 2);
}
