// The daemon under the confinement its systemd unit gives it, applied without systemd by
// confine.sh: a private mount namespace with a read-only root in which only the unit's writable
// folders are writable and its inaccessible ones cannot be opened, no new privileges and an empty
// capability bounding set, inside the test's private network namespace. Every kind of work the
// daemon does must still succeed there. The folders are read from the unit as built.
#include <signal.h>

#include <filesystem>
#include <sstream>

#include "common/files.h"
#include "common/lines.h"
#include "common/process.h"
#include "harness.h"

#ifdef ACCOUNT_TOOL_BIN

namespace {

namespace fs = std::filesystem;

// The value of the line "<name>:\t<value>" of /proc/<pid>/status.
std::string status_field(pid_t pid, const std::string& name) {
    const auto lines =
        lines_starting(read_file("/proc/" + std::to_string(pid) + "/status"), name + ":\t");
    return lines.empty() ? "<missing>" : lines.front().substr(name.size() + 2);
}

// The per-mount options of the topmost mount at `point` as the process sees it.
std::string mount_options(pid_t pid, const std::string& point) {
    std::istringstream lines(read_file("/proc/" + std::to_string(pid) + "/mountinfo"));
    std::string options = "<not a mount point>";
    for (std::string line; std::getline(lines, line);) {
        std::istringstream fields(line);
        std::string id, parent, device, root, mount_point, mount_options;
        fields >> id >> parent >> device >> root >> mount_point >> mount_options;
        if (mount_point == point)
            options = mount_options;
    }
    return options;
}

bool has_option(const std::string& options, const std::string& option) {
    return ("," + options + ",").find("," + option + ",") != std::string::npos;
}

// The paths of the unit's `directive` lines, without the "-" that lets one be missing.
std::vector<std::string> unit_paths(const std::string& directive) {
    std::vector<std::string> paths;
    for (const std::string& line : lines_starting(read_file(SERVICE_UNIT), directive + "=")) {
        std::istringstream words(line.substr(directive.size() + 1));
        for (std::string word; words >> word;)
            paths.push_back(word[0] == '-' ? word.substr(1) : word);
    }
    return paths;
}

// Whether a process with the daemon's view of the files and its rights (in its mount namespace,
// without any capability) can open `path`.
bool opens_as_the_daemon(pid_t pid, const std::string& path) {
    return run_program({"/usr/bin/nsenter", "--target", std::to_string(pid), "--mount", "--",
                        "setpriv", "--bounding-set", "-all", "--inh-caps", "-all", "--", "/bin/sh",
                        "-c", ": < \"$1\"", "sh", path})
               .status == 0;
}

class ConfinedServer : public ServerTest {
protected:
    void SetUp() override {
        ServerTest::SetUp();
        if (!private_network)
            GTEST_SKIP() << "needs root: private network and mount namespaces";
        fs::copy_file(ACCOUNT_TOOL_BIN, user_tool, fs::copy_options::overwrite_existing);
        fs::remove(product_dir + "/users/accounts.db");
        launcher = {CONFINE_SCRIPT};
        for (const std::string& path : unit_paths("InaccessiblePaths")) {
            launcher.insert(launcher.end(), {"--inaccessible", path});
            // Only the folders: the audit log database belongs to the log's tests.
            fs::create_directories(path);
        }
        for (const std::string& path : unit_paths("ReadWritePaths"))
            launcher.push_back(path);
        launcher.push_back("--");
    }
};

TEST_F(ConfinedServer, ServesDevicesAccountsAndDeviceListAndStopsInOrder) {
    // One interface besides loopback: it becomes the primary, so the bridge file is written.
    const bool primary = add_interface("conf0", "10.98.0.1/24");
    write_whole(product_dir + "/default/cellcounting_settings.json", default_cell_settings());
    start();
    const pid_t pid = server.pid();

    // The confinement is really in place, not silently skipped.
    EXPECT_EQ(status_field(pid, "NoNewPrivs"), "1");
    EXPECT_EQ(status_field(pid, "CapBnd"), "0000000000000000");
    EXPECT_EQ(status_field(pid, "CapEff"), "0000000000000000");
    EXPECT_NE(fs::read_symlink("/proc/self/ns/mnt"),
              fs::read_symlink("/proc/" + std::to_string(pid) + "/ns/mnt"));
    EXPECT_TRUE(has_option(mount_options(pid, "/"), "ro")) << mount_options(pid, "/");
    EXPECT_TRUE(has_option(mount_options(pid, product_dir), "rw"))
        << mount_options(pid, product_dir);
    EXPECT_EQ(unit_paths("ReadWritePaths"),
              (std::vector<std::string>{product_dir, fs::path(devlist_file).parent_path()}));
    // The audit log and the signing key are out of reach, not only read-only.
    EXPECT_EQ(unit_paths("InaccessiblePaths"),
              (std::vector<std::string>{product_dir + "/logs", product_dir + "/signing"}));
    EXPECT_TRUE(opens_as_the_daemon(pid, product_dir + "/settings"));
    EXPECT_FALSE(opens_as_the_daemon(pid, product_dir + "/logs"));
    EXPECT_FALSE(opens_as_the_daemon(pid, product_dir + "/signing"));

    udp_client client;
    const std::string to = joining_address();

    // A join through the stand-in: it writes its SQLite store under the product folder.
    client.send(joining_port, header(join_request), to);
    auto reply =
        client.ask(joining_port, user_info("lab tech", "S3cret pw", "Lab Tech", 2, 30), 5000ms, to);
    ASSERT_TRUE(reply);
    EXPECT_EQ(get_i32(*reply, 192), 0) << server.out();
    EXPECT_TRUE(file_exists(product_dir + "/users/accounts.db"));

    // Failed logins, counted by the stand-in and read back through it.
    for (int i = 0; i < 3; ++i) {
        client.send(device_port, header(set_login_fail_request));
        client.send(device_port, name_record("lab tech"));
    }
    client.send(device_port, header(get_login_fail_request));
    reply = client.ask(device_port, name_record("lab tech"));
    ASSERT_TRUE(reply);
    EXPECT_EQ(get_i32(*reply, 64), 3);

    // An announcement: answered, and its cell-counting settings copied from the default.
    reply = client.ask(device_port, announcement("Counter", "SN-CONF", "1.8.4"));
    ASSERT_TRUE(reply);
    ASSERT_EQ(reply->size(), 116u);
    EXPECT_TRUE(checksum_ok(*reply));
    EXPECT_EQ(text_at(*reply, 0, 32), "Counter");
    EXPECT_EQ(read_whole(product_dir + "/settings/SN-CONF_cellcounting_settings.json"),
              default_cell_settings());

    // The device list, replaced at the end of the cycle.
    ASSERT_TRUE(wait_until([&] { return !read_whole(devlist_file).empty(); }, 7000ms));
    EXPECT_EQ(read_whole(devlist_file), "127.0.0.1,SN-CONF,1.8.4,Counter\n");
    if (primary) {
        EXPECT_EQ(read_whole(product_dir + "/bridge_addr.txt"), "10.98.0.1:22\n");
    }

    // SIGTERM: the ordered stop.
    EXPECT_EQ(server.stop(8000ms), 0) << server.out() << server.err();
    EXPECT_NE(server.out().find("Tessivane_server Exit\n"), std::string::npos) << server.out();
}

}  // namespace

#endif
