// Port 2002: the administrative requests of the PC-side application.
#include "harness.h"

#include <cstdio>
#include <random>
#include <thread>

namespace {

using calls = std::vector<std::vector<std::string>>;

}  // namespace

TEST_F(ServerTest, JoiningPortTellsVersionAndPolicy) {
    write_whole(product_dir + "/default/default_server.json", "{\"pw. Account lock\": \"5\"}");
    start();
    udp_client client;
    const std::string to = joining_address();
    auto reply = client.ask(joining_port, header(version_request), 5000ms, to);
    ASSERT_TRUE(reply);
    bytes expected(68, '\0');
    put_text(expected, 0, "<tessivane_server> version : 1.3.5\n");
    EXPECT_EQ(*reply, sealed(expected));

    reply = client.ask(joining_port, header(server_info_request), 5000ms, to);
    ASSERT_TRUE(reply);
    expected.assign(28, '\0');
    for (int i = 0, v[] = {8, 3, 5, 5, 1, 0}; i < 6; ++i)
        put_i32(expected, 4 * i, v[i]);
    EXPECT_EQ(*reply, sealed(expected));
    EXPECT_NE(server.out().find("get_server_info() : server_settings not exist !!! \n"),
              std::string::npos);
}

TEST_F(ServerTest, JoinPassesTheLevelWordAndTheGroup) {
    start();
    udp_client client;
    const std::string to = joining_address();
    std::vector<bytes> requests;
    for (const int level : {2, 1, 0, 7}) {
        requests.push_back(user_info("user" + std::to_string(level),
                                     "secret-" + std::to_string(level), "Long Name", level,
                                     30 + level));
        client.send(joining_port, header(join_request), to);
        client.send(joining_port, requests.back(), to);
    }
    for (const bytes& request : requests) {
        const auto reply = client.receive(5000ms);
        ASSERT_TRUE(reply);
        // The record comes back with `result` 0 and its checksum as it was sent.
        EXPECT_EQ(*reply, request);
    }
    const std::string group = "--group=44454641554c54";
    EXPECT_EQ(tool_calls(), (calls{{"add_user", "user2", "secret-2", "admin", "--timeout=32", group,
                                    "--longname=Long Name"},
                                   {"add_user", "user1", "secret-1", "supervisor", "--timeout=31",
                                    group, "--longname=Long Name"},
                                   {"add_user", "user0", "secret-0", "user", "--timeout=30", group,
                                    "--longname=Long Name"},
                                   {"add_user", "user7", "secret-7", "user", "--timeout=37", group,
                                    "--longname=Long Name"}}));
    const std::string out = server.out();
    EXPECT_NE(out.find("/src/tessivane_server/joining::join_process:"), std::string::npos) << out;
    EXPECT_NE(
        out.find(" : popen() '" + user_tool + "' add_user 'user2' '********' admin --timeout=32 " +
                 group + " --longname='Long Name'\n"),
        std::string::npos)
        << out;
    EXPECT_NE(out.find(" : pclose() returned 0\n"), std::string::npos);
    EXPECT_EQ(out.find("secret"), std::string::npos);
    EXPECT_EQ(server.err().find("secret"), std::string::npos);
}

TEST_F(ServerTest, JoinResultCarriesTheCommandsExitStatus) {
    install_user_tool("case \"$2\" in three) exit 3;; all) exit 255;; esac");
    start();
    udp_client client;
    const std::string to = joining_address();
    for (const char* name : {"three", "all"}) {
        client.send(joining_port, header(join_request), to);
        client.send(joining_port, user_info(name, "pw", "", 0, 0), to);
    }
    for (const int result : {3, -1}) {
        const auto reply = client.receive(5000ms);
        ASSERT_TRUE(reply);
        EXPECT_EQ(get_i32(*reply, 192), result);
    }
    EXPECT_NE(server.out().find(" : pclose() returned 768\n"), std::string::npos);
}

TEST_F(ServerTest, AccountRequestsOnTheJoiningPort) {
    set_search_output("{\n  \"user_name\": \"bob\",\n  \"login_fail_cnt\": 4\n}\n");
    start();
    udp_client client;
    const std::string to = joining_address();
    for (const int32_t type :
         {set_login_fail_request, get_login_fail_request, deactivate_request, get_status_request}) {
        client.send(joining_port, header(type), to);
        client.send(joining_port, name_record("bob", 99), to);
    }
    auto reply = client.receive(5000ms);
    ASSERT_TRUE(reply);
    EXPECT_EQ(*reply, name_record("bob", 4));
    reply = client.receive(5000ms);
    ASSERT_TRUE(reply);
    EXPECT_EQ(*reply, name_record("bob", -1)) << "no status line: unknown";
    EXPECT_EQ(tool_calls(), (calls{{"inc_login_fails", "bob"},
                                   {"search_by_name", "bob"},
                                   {"update_user", "bob", "--status=0"},
                                   {"search_by_name", "bob"}}));
    const std::string out = server.out();
    EXPECT_NE(out.find("joining_if() : [TesiVane] wants to set login fail \n"), std::string::npos);
    EXPECT_NE(out.find("joining_if() : [TesiVane] wants to get login fail : bob \n"),
              std::string::npos);
    EXPECT_NE(out.find("joining_if() : [TesiVane] wants to set account deactivate : bob \n"),
              std::string::npos);
    EXPECT_NE(out.find("joining_if() : [TesiVane] wants to get account deactivate : bob \n"),
              std::string::npos);
}

TEST_F(ServerTest, JoiningPortDropsBadAndIncompleteRequests) {
    start();
    udp_client client;
    const std::string to = joining_address();
    bytes bad_header = header(version_request);
    bad_header[8] ^= 1;
    client.send(joining_port, bad_header, to);
    bytes unknown(12, '\0');
    put_i32(unknown, 0, -65528);  // FFFF0008
    client.send(joining_port, sealed(unknown), to);
    client.send(joining_port, header(join_request), to);
    bytes bad_join = user_info("eve", "pw", "Eve", 2, 0);
    bad_join[0] = 'E';
    client.send(joining_port, bad_join, to);
    sync(client, joining_port);
    // The requests that name their user say so on arrival, before the checksum is checked.
    bytes bad_record = name_record("eve");
    bad_record[68] ^= 1;
    client.send(joining_port, header(get_login_fail_request), to);
    client.send(joining_port, bad_record, to);
    client.send(joining_port, header(deactivate_request), to);
    client.send(joining_port, bad_record, to);
    sync(client, joining_port);
    // A header whose follow-up never comes: given up after a second, then the port goes on.
    client.send(joining_port, header(get_status_request), to);
    std::this_thread::sleep_for(3500ms);
    sync(client, joining_port);
    EXPECT_FALSE(client.receive(0ms));
    EXPECT_TRUE(tool_calls().empty());
    const std::string out = server.out();
    EXPECT_NE(out.find("joining_if() : [Error] checksum msg header : "), std::string::npos) << out;
    EXPECT_NE(out.find("joining_if() : [Error] checksum join : "), std::string::npos) << out;
    char received[16];
    std::snprintf(received, sizeof received, "%02x",
                  static_cast<unsigned>(get_i32(bad_record, 68)));
    EXPECT_NE(out.find("joining_if() : [TesiVane] wants to get login fail : eve \n"
                       "Error checksum login fail : " +
                       std::string(received) + " \n"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("joining_if() : [TesiVane] wants to set account deactivate : eve \n"
                       "Error checksum account deactivate : " +
                       std::string(received) + " \n"),
              std::string::npos)
        << out;
}

// Junk must not keep the port deaf: a datagram of the wrong size or with a wrong checksum, as a
// header or as the follow-up of a good header, is dropped at once after its line. Only a request
// that checks out is followed by the pause.
TEST_F(ServerTest, JunkOnTheJoiningPortIsDroppedWithoutPause) {
    start();
    udp_client client;
    const std::string to = joining_address();
    std::mt19937 random(20261209);
    std::uniform_int_distribution<int> byte(0, 255), length(0, 40);
    const auto noise = [&](size_t size) {
        bytes b(size, '\0');
        for (char& c : b)
            c = static_cast<char>(byte(random));
        return b;
    };
    bytes bad_record = name_record("eve");
    bad_record[68] ^= 1;
    constexpr int rounds = 12;
    for (int i = 0; i < rounds; ++i) {
        bytes bad_header = noise(12);
        if (checksum_ok(bad_header))
            bad_header[11] ^= 1;
        client.send(joining_port, bad_header, to);
        size_t size = static_cast<size_t>(length(random));
        client.send(joining_port, noise(size == 12 ? 13 : size), to);
        client.send(joining_port, header(get_login_fail_request), to);
        client.send(joining_port, bad_record, to);
        client.send(joining_port, header(deactivate_request), to);
        client.send(joining_port, name_record("eve").substr(0, 40), to);
    }
    const auto asked = std::chrono::steady_clock::now();
    auto reply = client.ask(joining_port, header(version_request), 10000ms, to);
    const auto answered = std::chrono::steady_clock::now();
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->size(), 68u);
    // At most the idle wait the burst met, not a second per datagram.
    EXPECT_LT(answered - asked, 3000ms);
    EXPECT_TRUE(tool_calls().empty());
    EXPECT_EQ(server.count_in_out("joining_if() : [Error] checksum msg header : "), size_t{rounds});
    EXPECT_EQ(server.count_in_out("Error checksum login fail : "), size_t{rounds});
    EXPECT_EQ(server.count_in_out("joining_if() : [Error] size "), size_t{2 * rounds});

    // Requests that check out keep their pause: the second answer waits for the first one's.
    client.send(joining_port, header(version_request), to);
    client.send(joining_port, header(version_request), to);
    ASSERT_TRUE(client.receive(5000ms));
    const auto first = std::chrono::steady_clock::now();
    ASSERT_TRUE(client.receive(5000ms));
    EXPECT_GE(std::chrono::steady_clock::now() - first, 900ms);
}
