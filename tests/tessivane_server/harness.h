// What the black-box tests of tessivane_server share: the product folder in the build tree, a
// stand-in user-management command that records its calls, the daemon as a child process, a UDP
// client, and wire records built by hand from their byte offsets.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

using bytes = std::string;
using namespace std::chrono_literals;
using std::chrono::milliseconds;

const std::string product_dir = PRODUCT_DIR;
const std::string user_tool = USER_TOOL;
const std::string devlist_file = DEVLIST_FILE;
const std::string scratch_dir = SCRATCH_DIR;

constexpr uint16_t device_port = 2001;
constexpr uint16_t joining_port = 2002;

// Request codes.
constexpr int32_t join_request = -65536, server_info_request = -65535, version_request = -65534,
                  change_password_request = -65533, set_login_fail_request = -65532,
                  get_login_fail_request = -65531, deactivate_request = -65530,
                  get_status_request = -65529;

// --- Records, byte by byte ------------------------------------------------------------------
int32_t signed_byte_sum(const bytes& b, size_t from, size_t to);
void put_i32(bytes& b, size_t offset, int32_t value);
int32_t get_i32(const bytes& b, size_t offset);
void put_text(bytes& b, size_t offset, const std::string& text);
// Sets the closing checksum: the signed-byte sum of all bytes before the last four.
bytes sealed(bytes record);
bool checksum_ok(const bytes& record);

bytes header(int32_t type);
// A 116-byte announcement.
bytes announcement(const std::string& name, const std::string& serial, const std::string& version);
// record_fail_to_login_s / account_status_s: name at 0, number at 64, checksum at 68.
bytes name_record(const std::string& user_name, int32_t number = 0);
// user_info_s: name 0, password 64, long name 128, result 192, level 196, timeout 200, checksum 204.
bytes user_info(const std::string& user_name, const std::string& password,
                const std::string& long_name, int32_t level, int32_t timeout);
// password_change_s: name 0, password 64, checksum 128.
bytes password_change(const std::string& user_name, const std::string& password);
// The text of a field: up to its first NUL, at most `width` bytes.
std::string text_at(const bytes& b, size_t offset, size_t width);

// --- Environment ------------------------------------------------------------------------------
// Root only: moves this test process into a network namespace of its own with loopback up, so
// the daemon it starts sees only the interfaces the test creates. False where that is not possible.
bool enter_private_network();
// Root only: shows the daemon a DMI product family of `family`, or none at all (nullptr), by
// mounting a private tmpfs over /sys/devices/virtual in a mount namespace of this process.
bool fake_dmi_family(const char* family);
// Adds an interface (dummy, or ifb where the dummy driver is missing) with `cidr`, up or down.
bool add_interface(const std::string& name, const std::string& cidr, bool up = true);
// Runs a shell command; true when it exits with 0.
bool shell(const std::string& command);

std::string read_whole(const std::string& path);
void write_whole(const std::string& path, const bytes& content);
// Polls `done` every 10 ms until it holds or `limit` passed.
bool wait_until(const std::function<bool()>& done, milliseconds limit);

// --- Product files ----------------------------------------------------------------------------
// A protocol group of `n` empty protocols: {"p0": {}, "p1": {}, ...}.
std::string protocol_group(int n);
// The default cell-counting settings of an installation, all eight keys.
std::string default_cell_settings();

// --- The stand-in user-management command -----------------------------------------------------
// Installs at USER_TOOL a script that records every call's arguments, prints the file
// "search_output" of the scratch folder for search_by_name, and runs `extra` (shell) last.
void install_user_tool(const std::string& extra = "");
void set_search_output(const std::string& text);
// Every call recorded so far, each as its argument list.
std::vector<std::vector<std::string>> tool_calls();

// --- The daemon -------------------------------------------------------------------------------
class daemon_process {
public:
    ~daemon_process();
    // `launcher`: a command line the daemon is started through (it ends by running its arguments).
    void start(const std::vector<std::string>& args = {"Version"},
               const std::vector<std::string>& launcher = {});
    bool running() const { return pid_ > 0; }
    pid_t pid() const { return pid_; }
    void signal(int signo) const;
    // Waits for the exit; the status (0..255), or -1 on a signal or time-out.
    int wait_exit(milliseconds limit);
    // SIGTERM and wait; the exit status.
    int stop(milliseconds limit = 5000ms);
    std::string out() const;
    std::string err() const;
    bool wait_for_out(const std::string& text, milliseconds limit = 5000ms) const;
    size_t count_in_out(const std::string& text) const;

private:
    pid_t pid_ = -1;
};

// --- A UDP client on loopback ----------------------------------------------------------------
class udp_client {
public:
    explicit udp_client(const std::string& address = "127.0.0.1");
    ~udp_client();
    udp_client(const udp_client&) = delete;
    udp_client& operator=(const udp_client&) = delete;
    void send(uint16_t port, const bytes& datagram, const std::string& to = "127.0.0.1");
    std::optional<bytes> receive(milliseconds limit);
    // Sends and waits for one reply.
    std::optional<bytes> ask(uint16_t port, const bytes& datagram, milliseconds limit = 3000ms,
                             const std::string& to = "127.0.0.1");

private:
    int fd_ = -1;
};

// --- The fixture ------------------------------------------------------------------------------
// Fresh product folder and stand-in command, then (start()) the daemon, ready on both ports.
// TearDown stops it and expects an orderly exit with status 0, which also catches reports of the
// sanitizers the daemon may be built with.
class ServerTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    void start(const std::vector<std::string>& args = {"Version"});
    // Where the joining interface listens: the secondary address the start-up scan reported, else
    // loopback.
    std::string joining_address() const;
    // Waits until the daemon has handled everything sent to `port` before: the joining
    // interface answers a version request, the device interface a server-information request.
    void sync(udp_client& client, uint16_t port);

    bool private_network = false;
    std::vector<std::string> launcher;  // see daemon_process::start
    daemon_process server;
};
