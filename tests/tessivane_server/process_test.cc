// The process: command line, start-up and ordered stop, and the interface scan.
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>

#include "common/process.h"
#include "harness.h"

namespace {

// True when `lines` occur in `text` in this order.
bool in_order(const std::string& text, const std::vector<std::string>& lines) {
    size_t at = 0;
    for (const std::string& line : lines) {
        at = text.find(line, at);
        if (at == std::string::npos)
            return false;
        at += line.size();
    }
    return true;
}

}  // namespace

TEST(Process, VersionArgumentPrintsTheVersionOnly) {
    const run_result_s r = run_program({SERVER_BIN, "version"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "<tessivane_server> version : 1.3.5\n");
    EXPECT_EQ(r.err, "");
}

TEST_F(ServerTest, OtherArgumentsStartTheServerAndSigtermStopsItInOrder) {
    start({"Version", "more"});
    // The signal must find main joining (under a sanitizer main can still be starting threads
    // when both ports already answer).
    ASSERT_TRUE(server.wait_for_out("Waiting 0 process Exit\n")) << server.out();
    const auto asked = std::chrono::steady_clock::now();
    EXPECT_EQ(server.stop(), 0);
    // Within about two seconds, without any traffic to wake the threads.
    EXPECT_LT(std::chrono::steady_clock::now() - asked, 2500ms);
    const std::string out = server.out();
    EXPECT_TRUE(in_order(
        out, {"Starting 0process Exit\n", "Starting 1process Exit\n", "Starting 2process Exit\n",
              "Waiting 0 process Exit\n", "Caught 15!\n", "End of 0 process Exit\n",
              "Waiting 1 process Exit\n", "End of 1 process Exit\n", "Waiting 2 process Exit\n",
              "End of 2 process Exit\n", "Tessivane_server Exit\n"}))
        << out;
    EXPECT_TRUE(in_order(out, {"device_if Start\n", "Caught 15!\n", "device_if, Exit \n"})) << out;
    EXPECT_TRUE(in_order(out, {"Caught 15!\n", "app_if Exit\n"})) << out;
    EXPECT_TRUE(in_order(out, {"Caught 15!\n", "joining_if Exit\n"})) << out;
    EXPECT_EQ(server.count_in_out("Caught 15!"), 1u);
}

// A run killed while it replaced a file leaves its hidden temporary file; the next start removes it
// from every folder the daemon writes.
TEST_F(ServerTest, StartRemovesTheTemporaryFilesOfAKilledRun) {
    const pid_t killed = ::fork();
    if (killed == 0)
        ::_exit(0);
    ::waitpid(killed, nullptr, 0);
    const std::string name = "/.tessivane_server-" + std::to_string(killed) + "-Xy12Zq";
    const std::vector<std::string> left = {
        product_dir + name, product_dir + "/settings" + name, product_dir + "/users" + name,
        std::filesystem::path(devlist_file).parent_path().string() + name};
    for (const std::string& path : left)
        write_whole(path, "half");
    start();
    for (const std::string& path : left)
        EXPECT_FALSE(std::filesystem::exists(path)) << path;
}

// Only the device thread names itself; the others keep the process's name.
TEST_F(ServerTest, OnlyTheDeviceThreadHasANameOfItsOwn) {
    start();
    const std::string task_dir = "/proc/" + std::to_string(server.pid()) + "/task";
    const std::string process_name = read_whole("/proc/" + std::to_string(server.pid()) + "/comm");
    std::vector<std::string> names;
    for (const auto& task : std::filesystem::directory_iterator(task_dir)) {
        const std::string name = read_whole(task.path().string() + "/comm");
        if (name != process_name)
            names.push_back(name);
    }
    EXPECT_EQ(process_name, "tessivane_serve\n");
    EXPECT_EQ(names, std::vector<std::string>{"device_if\n"});
}

// A thread that cannot be started ends the process with 255 at once, the error on standard
// error as perror writes it. Run under a user of its own that may have only one task.
TEST(Process, ThreadThatCannotStartEndsTheProcess) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to change the user";
    const std::string uid = std::to_string(2000000000 + ::getpid() % 1000000);
    const run_result_s r =
        run_program({"/usr/bin/prlimit", "--nproc=1", "/usr/bin/setpriv", "--reuid=" + uid,
                     "--regid=" + uid, "--clear-groups", SERVER_BIN, "Version"},
                    {{}, {}, "", "/", 10.0});
    EXPECT_EQ(r.status, 255) << r.out << r.err;
    EXPECT_EQ(r.err, "thread create error:: Resource temporarily unavailable\n");
    EXPECT_NE(r.out.find("Starting 0process Exit\n"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("Starting 1process Exit"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("Tessivane_server Exit"), std::string::npos) << r.out;
}

// A thread stuck in a command that does not end keeps the first SIGTERM from finishing the
// stop; the second one cancels it.
TEST_F(ServerTest, SecondSigtermCancelsAThreadThatCannotStop) {
    const std::string pid_file = scratch_dir + "/tool.pid";
    install_user_tool("if [ \"$1\" = add_user ]; then echo $$ > '" + pid_file +
                      "'; exec sleep 30 >/dev/null 2>&1; fi");
    start();
    udp_client client;
    client.send(joining_port, header(join_request), joining_address());
    client.send(joining_port, user_info("stuck", "pw", "Stuck", 0, 0), joining_address());
    ASSERT_TRUE(wait_until([&] { return !read_whole(pid_file).empty(); }, 5000ms));

    server.signal(SIGTERM);
    EXPECT_EQ(server.wait_exit(2500ms), -1) << "the joining thread cannot see the flag";
    const auto asked = std::chrono::steady_clock::now();
    server.signal(SIGTERM);
    EXPECT_EQ(server.wait_exit(3000ms), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - asked, 2000ms);
    shell("kill $(cat '" + pid_file + "') 2>/dev/null");

    const std::string out = server.out();
    EXPECT_EQ(server.count_in_out("Caught 15!"), 1u);
    EXPECT_TRUE(in_order(out, {"End of 1 process Exit\n", "Waiting 2 process Exit\n",
                               "End of 2 process Exit\n", "Tessivane_server Exit\n"}))
        << out;
    EXPECT_EQ(out.find("joining_if Exit"), std::string::npos) << "cancelled, not ended";
}

// --- The interface scan, in a private network namespace -----------------------------------------

class InterfaceScan : public ServerTest {
protected:
    void SetUp() override {
        ServerTest::SetUp();
        if (!private_network)
            GTEST_SKIP() << "needs root and network namespaces";
        if (!add_interface("probe0", "10.99.0.1/24") || !shell("ip link del probe0"))
            GTEST_SKIP() << "cannot create interfaces";
    }
    std::string bridge_file() const { return read_whole(product_dir + "/bridge_addr.txt"); }
};

TEST_F(InterfaceScan, OneInterfaceIsThePrimaryAndJoiningListensEverywhere) {
    ASSERT_TRUE(fake_dmi_family("Virtual Machine\n"));
    ASSERT_TRUE(add_interface("down0", "10.9.0.1/24", false));
    ASSERT_TRUE(add_interface("eth1", "10.9.1.1/24"));
    shell("ip -6 addr add fd00::1/64 dev eth1 2>/dev/null");
    start();
    const std::string out = server.out();
    EXPECT_NE(out.find("Running inside VM\n"), std::string::npos);
    EXPECT_TRUE(in_order(out, {"eth1     (", ")\n\t\taddress: <10.9.1.1>\n"})) << out;
    EXPECT_NE(out.find("\nPRIMARY: 10.9.1.1 (0x101090a)\n"), std::string::npos) << out;
    EXPECT_EQ(out.find("SECONDARY"), std::string::npos);
    EXPECT_EQ(out.find("down0"), std::string::npos);
    EXPECT_EQ(out.find("lo "), std::string::npos);
    EXPECT_EQ(bridge_file(), "10.9.1.1:22\n");
    udp_client client;
    EXPECT_TRUE(client.ask(joining_port, header(version_request), 5000ms, "127.0.0.1"));
}

TEST_F(InterfaceScan, SecondInterfaceCarriesTheJoiningInterfaceAndLaterOnesAreIgnored) {
    ASSERT_TRUE(fake_dmi_family("Standard PC\n"));
    ASSERT_TRUE(add_interface("eth1", "10.9.1.1/24"));
    ASSERT_TRUE(add_interface("eth2", "10.9.2.1/24"));
    ASSERT_TRUE(add_interface("eth3", "10.9.3.1/24"));
    start();
    std::string out = server.out();
    EXPECT_EQ(out.find("Running inside VM"), std::string::npos);
    EXPECT_TRUE(in_order(out, {"\nPRIMARY: 10.9.1.1 (0x101090a)\n",
                               "SECONDARY: 10.9.2.1 (0x102090a)\n", "Starting 0process Exit\n"}))
        << out;
    EXPECT_EQ(out.find("eth3"), std::string::npos);
    EXPECT_EQ(bridge_file(), "10.9.1.1:22\n");
    EXPECT_EQ(joining_address(), "10.9.2.1");
    udp_client client;
    EXPECT_TRUE(client.ask(joining_port, header(version_request), 5000ms, "10.9.2.1"));
    EXPECT_FALSE(client.ask(joining_port, header(version_request), 2500ms, "127.0.0.1"));

    // Rescans of the same addresses say nothing; a new primary address is reported and
    // published at the next cycle.
    ASSERT_TRUE(shell("ip addr flush dev eth1 && ip addr add 10.9.7.1/24 dev eth1"));
    ASSERT_TRUE(server.wait_for_out("\nPRIMARY: 10.9.7.1 (0x107090a)\n", 7000ms)) << server.out();
    EXPECT_TRUE(wait_until([&] { return bridge_file() == "10.9.7.1:22\n"; }, 1000ms));
    EXPECT_EQ(server.count_in_out("PRIMARY"), 2u);
    EXPECT_EQ(server.count_in_out("SECONDARY"), 1u);
}

TEST_F(InterfaceScan, WithoutDmiTheStartUpScanIsSkippedAndJoiningListensEverywhere) {
    ASSERT_TRUE(fake_dmi_family(nullptr));
    ASSERT_TRUE(add_interface("eth1", "10.9.1.1/24"));
    ASSERT_TRUE(add_interface("eth2", "10.9.2.1/24"));
    start();
    // The housekeeping thread's first scan publishes the primary all the same.
    EXPECT_TRUE(wait_until([&] { return bridge_file() == "10.9.1.1:22\n"; }, 3000ms));
    EXPECT_EQ(server.out().find("eth1     ("), std::string::npos) << "no verbose listing";
    udp_client client;
    EXPECT_TRUE(client.ask(joining_port, header(version_request), 5000ms, "127.0.0.1"));
}
