// Both ports against the real stand-in user-management command, where it is built: the
// accounts the joins create are the ones the other requests read and change.
#include <filesystem>

#include "harness.h"

#ifdef ACCOUNT_TOOL_BIN

TEST_F(ServerTest, AccountsLiveInTheUserManagementCommand) {
    std::filesystem::copy_file(ACCOUNT_TOOL_BIN, user_tool,
                               std::filesystem::copy_options::overwrite_existing);
    std::filesystem::remove(product_dir + "/users/accounts.db");
    start();
    udp_client client;
    const std::string to = joining_address();
    const auto join = [&](const std::string& name) {
        client.send(joining_port, header(join_request), to);
        const auto reply =
            client.ask(joining_port, user_info(name, "Pa$$ 'w\"", "Alice A", 2, 30), 5000ms, to);
        return reply ? get_i32(*reply, 192) : -999;
    };
    // The device port answers in turn after the account commands sent before the question,
    // each a process of its own: under a sanitizer on a busy machine that takes seconds.
    const auto device_ask = [&](int32_t type, const std::string& name) {
        client.send(device_port, header(type));
        const auto reply = client.ask(device_port, name_record(name), 15000ms);
        return reply ? get_i32(*reply, 64) : -999;
    };
    EXPECT_EQ(join("alice o'hara"), 0);
    EXPECT_NE(join("alice o'hara"), 0) << "already there";
    EXPECT_EQ(device_ask(get_status_request, "alice o'hara"), 1);
    EXPECT_EQ(device_ask(get_login_fail_request, "alice o'hara"), 0);
    for (int i = 0; i < 2; ++i) {
        client.send(device_port, header(set_login_fail_request));
        client.send(device_port, name_record("alice o'hara"));
    }
    EXPECT_EQ(device_ask(get_login_fail_request, "alice o'hara"), 2);
    client.send(device_port, header(deactivate_request));
    client.send(device_port, name_record("alice o'hara"));
    EXPECT_EQ(device_ask(get_status_request, "alice o'hara"), 0);
    EXPECT_EQ(device_ask(get_status_request, "nobody"), -1);
    client.send(joining_port, header(get_login_fail_request), to);
    const auto reply = client.ask(joining_port, name_record("alice o'hara"), 5000ms, to);
    ASSERT_TRUE(reply);
    EXPECT_EQ(get_i32(*reply, 64), 2);
}

#endif
