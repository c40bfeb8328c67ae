#include "harness.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <net/if.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <thread>

#include "common/files.h"
#include "common/json.h"

namespace fs = std::filesystem;

// --- Records ----------------------------------------------------------------------------------

int32_t signed_byte_sum(const bytes& b, size_t from, size_t to) {
    uint32_t sum = 0;
    for (size_t i = from; i < to; ++i)
        sum += static_cast<uint32_t>(static_cast<int32_t>(static_cast<int8_t>(b[i])));
    return static_cast<int32_t>(sum);
}

void put_i32(bytes& b, size_t offset, int32_t value) {
    const auto v = static_cast<uint32_t>(value);
    for (int i = 0; i < 4; ++i)
        b[offset + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

int32_t get_i32(const bytes& b, size_t offset) {
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i)
        v |= static_cast<uint32_t>(static_cast<unsigned char>(b[offset + i])) << (8 * i);
    return static_cast<int32_t>(v);
}

void put_text(bytes& b, size_t offset, const std::string& text) {
    b.replace(offset, text.size(), text);
}

bytes sealed(bytes record) {
    put_i32(record, record.size() - 4, signed_byte_sum(record, 0, record.size() - 4));
    return record;
}

bool checksum_ok(const bytes& record) {
    return record.size() >= 4 &&
           get_i32(record, record.size() - 4) == signed_byte_sum(record, 0, record.size() - 4);
}

bytes header(int32_t type) {
    bytes b(12, '\0');
    put_i32(b, 0, type);
    return sealed(b);
}

bytes announcement(const std::string& name, const std::string& serial, const std::string& version) {
    bytes b(116, '\0');
    put_text(b, 0, name);
    put_text(b, 32, serial);
    put_text(b, 64, version);
    return sealed(b);
}

bytes name_record(const std::string& user_name, int32_t number) {
    bytes b(72, '\0');
    put_text(b, 0, user_name);
    put_i32(b, 64, number);
    return sealed(b);
}

bytes user_info(const std::string& user_name, const std::string& password,
                const std::string& long_name, int32_t level, int32_t timeout) {
    bytes b(208, '\0');
    put_text(b, 0, user_name);
    put_text(b, 64, password);
    put_text(b, 128, long_name);
    put_i32(b, 196, level);
    put_i32(b, 200, timeout);
    return sealed(b);
}

bytes password_change(const std::string& user_name, const std::string& password) {
    bytes b(132, '\0');
    put_text(b, 0, user_name);
    put_text(b, 64, password);
    return sealed(b);
}

std::string text_at(const bytes& b, size_t offset, size_t width) {
    const std::string field = b.substr(offset, width);
    return field.substr(0, field.find('\0'));
}

// --- Environment ------------------------------------------------------------------------------

bool enter_private_network() {
    if (::geteuid() != 0 || ::unshare(CLONE_NEWNET) != 0)
        return false;
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ifreq request{};
    std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
    bool up = fd >= 0 && ::ioctl(fd, SIOCGIFFLAGS, &request) == 0;
    request.ifr_flags = static_cast<short>(request.ifr_flags | IFF_UP);
    up = up && ::ioctl(fd, SIOCSIFFLAGS, &request) == 0;
    if (fd >= 0)
        ::close(fd);
    return up;
}

bool fake_dmi_family(const char* family) {
    static bool own_mounts = false;
    if (!own_mounts) {
        if (::geteuid() != 0 || ::unshare(CLONE_NEWNS) != 0 ||
            ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
            return false;
        own_mounts = true;
    }
    if (::mount("tmpfs", "/sys/devices/virtual", "tmpfs", 0, "size=64k") != 0)
        return false;
    if (!family)
        return true;
    std::error_code ec;
    fs::create_directories("/sys/devices/virtual/dmi/id", ec);
    return !ec && write_file("/sys/devices/virtual/dmi/id/product_family", family);
}

bool shell(const std::string& command) {
    return std::system(command.c_str()) == 0;
}

bool add_interface(const std::string& name, const std::string& cidr, bool up) {
    return shell("{ ip link add " + name + " type dummy || ip link add " + name +
                 " type ifb; } 2>/dev/null") &&
           shell("ip addr add " + cidr + " dev " + name) &&
           shell("ip link set " + name + (up ? " up" : " down"));
}

std::string read_whole(const std::string& path) {
    return read_file(path);
}

void write_whole(const std::string& path, const bytes& content) {
    std::error_code ec;
    fs::create_directories(fs::path(path).parent_path(), ec);
    ASSERT_TRUE(write_file(path, content)) << path;
}

bool wait_until(const std::function<bool()>& done, milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

// --- Product files ----------------------------------------------------------------------------
std::string protocol_group(int n) {
    json_object_s group;
    for (int i = 0; i < n; ++i)
        group.raw("p" + std::to_string(i), "{}");
    return group.dump();
}

std::string default_cell_settings() {
    return json_object_s({{"Slide type", "2"},
                          {"Chamber area", "All"},
                          {"Selected chamber", "1"},
                          {"Combine result", "Off"},
                          {"Staining option", "Trypan"},
                          {"Autofocusing channel in FL", "GF"},
                          {"Autofocused counting", "Off"},
                          {"Autofocus upon slide insertion", "On"}})
        .dump();
}

// --- The stand-in user-management command -----------------------------------------------------

namespace {
const std::string calls_file = scratch_dir + "/calls";
const std::string search_file = scratch_dir + "/search_output";
}  // namespace

void install_user_tool(const std::string& extra) {
    write_whole(user_tool,
                "#!/bin/sh\n"
                "{ printf '%s\\0' \"$@\"; printf '\\036'; } >> '" +
                    calls_file +
                    "'\n"
                    "if [ \"$1\" = search_by_name ] && [ -f '" +
                    search_file +
                    "' ]; then\n"
                    "  cat '" +
                    search_file +
                    "'\n"
                    "fi\n" +
                    extra + "\n");
    ::chmod(user_tool.c_str(), 0755);
}

void set_search_output(const std::string& text) {
    write_whole(search_file, text);
}

std::vector<std::vector<std::string>> tool_calls() {
    std::vector<std::vector<std::string>> calls;
    const std::string text = read_file(calls_file);
    size_t start = 0;
    for (size_t end; (end = text.find('\036', start)) != std::string::npos; start = end + 1) {
        std::vector<std::string> args;
        const std::string call = text.substr(start, end - start);
        for (size_t a = 0, z; (z = call.find('\0', a)) != std::string::npos; a = z + 1)
            args.push_back(call.substr(a, z - a));
        calls.push_back(args);
    }
    return calls;
}

// --- The daemon -------------------------------------------------------------------------------

namespace {
const std::string out_file = scratch_dir + "/daemon.out";
const std::string err_file = scratch_dir + "/daemon.err";
}  // namespace

daemon_process::~daemon_process() {
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
}

void daemon_process::start(const std::vector<std::string>& args,
                           const std::vector<std::string>& launcher) {
    std::vector<std::string> argv = launcher;
    argv.push_back(SERVER_BIN);
    argv.insert(argv.end(), args.begin(), args.end());
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int out = ::open(out_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = ::open(err_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (out < 0 || err < 0)
            ::_exit(127);
        ::dup2(out, 1);
        ::dup2(err, 2);
        ::setenv("TZ", "UTC", 1);
        std::vector<char*> raw;
        for (auto& a : argv)
            raw.push_back(a.data());
        raw.push_back(nullptr);
        ::execv(raw[0], raw.data());
        ::_exit(127);
    }
    pid_ = pid;
}

void daemon_process::signal(int signo) const {
    if (pid_ > 0)
        ::kill(pid_, signo);
}

int daemon_process::wait_exit(milliseconds limit) {
    int status = 0;
    const bool exited =
        wait_until([&] { return ::waitpid(pid_, &status, WNOHANG) == pid_; }, limit);
    if (!exited)
        return -1;
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int daemon_process::stop(milliseconds limit) {
    signal(SIGTERM);
    return wait_exit(limit);
}

std::string daemon_process::out() const {
    return read_file(out_file);
}

std::string daemon_process::err() const {
    return read_file(err_file);
}

bool daemon_process::wait_for_out(const std::string& text, milliseconds limit) const {
    return wait_until([&] { return out().find(text) != std::string::npos; }, limit);
}

size_t daemon_process::count_in_out(const std::string& text) const {
    const std::string all = out();
    size_t count = 0;
    for (size_t at = 0; (at = all.find(text, at)) != std::string::npos; at += text.size())
        ++count;
    return count;
}

// --- UDP client -------------------------------------------------------------------------------

udp_client::udp_client(const std::string& address) {
    fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    ::inet_pton(AF_INET, address.c_str(), &local.sin_addr);
    EXPECT_EQ(::bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof local), 0);
}

udp_client::~udp_client() {
    ::close(fd_);
}

void udp_client::send(uint16_t port, const bytes& datagram, const std::string& to) {
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(port);
    ::inet_pton(AF_INET, to.c_str(), &peer.sin_addr);
    EXPECT_EQ(::sendto(fd_, datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr*>(&peer),
                       sizeof peer),
              static_cast<ssize_t>(datagram.size()));
}

std::optional<bytes> udp_client::receive(milliseconds limit) {
    pollfd wait = {fd_, POLLIN, 0};
    if (::poll(&wait, 1, static_cast<int>(limit.count())) <= 0)
        return std::nullopt;
    char buffer[65536];
    const ssize_t got = ::recv(fd_, buffer, sizeof buffer, 0);
    if (got < 0)
        return std::nullopt;
    return bytes(buffer, static_cast<size_t>(got));
}

std::optional<bytes> udp_client::ask(uint16_t port, const bytes& datagram, milliseconds limit,
                                     const std::string& to) {
    send(port, datagram, to);
    return receive(limit);
}

// --- The fixture ------------------------------------------------------------------------------

void ServerTest::SetUp() {
    private_network = enter_private_network();
    ASSERT_TRUE(fresh_dir(scratch_dir));
    for (const char* sub : {"settings", "default", "security"})
        ASSERT_TRUE(fresh_dir(product_dir + "/" + sub));
    std::error_code ec;
    fs::create_directories(product_dir + "/users", ec);
    fs::create_directories(fs::path(devlist_file).parent_path(), ec);
    for (const char* stale :
         {"/users/pw_changed.txt", "/users/pw_changed.txt.claimed", "/bridge_addr.txt"})
        fs::remove(product_dir + stale, ec);
    fs::remove(devlist_file, ec);
    install_user_tool();
}

void ServerTest::start(const std::vector<std::string>& args) {
    server.start(args, launcher);
    ASSERT_TRUE(server.wait_for_out("joining_if() : Start !!! \n", 10000ms)) << server.out();
    // Port 2001 is bound once it answers.
    udp_client probe;
    ASSERT_TRUE(wait_until(
        [&] { return probe.ask(device_port, header(server_info_request), 100ms).has_value(); },
        10000ms));
}

void ServerTest::TearDown() {
    if (server.running()) {
        const int status = server.stop();
        EXPECT_EQ(status, 0) << "stdout:\n" << server.out() << "\nstderr:\n" << server.err();
    }
    if (HasFailure())
        std::printf("--- daemon stdout ---\n%s\n--- daemon stderr ---\n%s\n", server.out().c_str(),
                    server.err().c_str());
}

std::string ServerTest::joining_address() const {
    const std::string all = server.out();
    const size_t started = all.find("Starting 0process Exit");
    const size_t secondary = all.find("SECONDARY: ");
    if (secondary == std::string::npos || secondary > started)
        return "127.0.0.1";
    const size_t from = secondary + 11;
    return all.substr(from, all.find(' ', from) - from);
}

void ServerTest::sync(udp_client& client, uint16_t port) {
    const bool joining = port == joining_port;
    const auto reply =
        client.ask(port, header(joining ? version_request : server_info_request),
                   joining ? 5000ms : 3000ms, joining ? joining_address() : "127.0.0.1");
    ASSERT_TRUE(reply.has_value());
    ASSERT_EQ(reply->size(), joining ? 68u : 28u) << "an earlier request was answered";
}
