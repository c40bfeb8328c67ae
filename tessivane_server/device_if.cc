#include "device_if.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include "device_files.h"
#include "device_list.h"
#include "files.h"
#include "follow_up.h"
#include "log_text.h"
#include "password_notice.h"
#include "server_settings.h"
#include "stop.h"
#include "udp.h"
#include "user_command.h"

namespace {

constexpr uint16_t device_port = 2001;
// The wait for traffic wakes this often to test the stop flag.
constexpr int stop_check_ms = 250;

// A failed system call that leaves the thread nothing to serve with: its error, then the end of
// the process.
[[noreturn]] void exit_with_system_error(const char* what, int status) {
    if (what)
        std::perror(what);
    std::fflush(stdout);
    std::_Exit(status);
}

std::string dotted(const sockaddr* from) {
    char text[INET_ADDRSTRLEN] = "?";
    if (from && from->sa_family == AF_INET)
        ::inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(from)->sin_addr, text,
                    sizeof text);
    return text;
}

// Candidate n for a taken name: the name with n appended, shortened (at a character boundary)
// so that the whole candidate fits the 32-byte field and the device is told the very name that
// was registered for it.
std::string numbered_name(const std::string& name, int n) {
    const std::string number = std::to_string(n);
    size_t keep = name.size();
    if (keep + number.size() > sizeof(device_announce_s::device_name)) {
        keep = sizeof(device_announce_s::device_name) - number.size();
        while (keep > 0 && (static_cast<unsigned char>(name[keep]) & 0xC0) == 0x80)
            --keep;  // not inside a UTF-8 sequence
    }
    return name.substr(0, keep) + number;
}

void set_field(char (&field)[32], const std::string& text) {
    std::memset(field, 0, sizeof field);
    std::memcpy(field, text.data(), std::min(text.size(), sizeof field));
}

// Registers the device under its own name or, when another device holds it in this cycle, under
// the first free numbered form; the reply carries the registered name.
void assign_name(devList& list, const std::string& key, const std::string& name,
                 device_announce_s& msg) {
    if (list.add(key, name))
        return;
    for (int n = 1;; ++n) {
        const std::string candidate = numbered_name(name, n);
        if (list.add(key, candidate)) {
            set_field(msg.device_name, candidate);
            return;
        }
    }
}

void handle_announcement(int sock, device_announce_s& msg, const sockaddr* from, socklen_t fromlen,
                         devList& list, device_files_cache_s& files) {
    const std::string address = dotted(from);
    if (!checksum_ok(msg)) {
        const std::string serial = field_text(msg.serial).substr(0, 31);
        std::printf("Check error [%s][%s] recv_checksum:0x%02x, calc_checksum:0x%02x \n\n",
                    address.c_str(), log_safe(serial).c_str(), static_cast<unsigned>(msg.checksum),
                    get_checksum(msg));
        std::fflush(stdout);
        return;
    }
    const std::string name = field_text(msg.device_name);
    const std::string serial = field_text(msg.serial);
    const std::string version = field_text(msg.sw_version);
    // These texts end up in the device list, one line per device, and in file names.
    if (has_control_character(name) || has_control_character(serial) ||
        has_control_character(version)) {
        std::printf(
            "device_if(): announcement from %s refused, control character in "
            "name [%s] serial [%s] version [%s]\n",
            address.c_str(), log_safe(name).c_str(), log_safe(serial).c_str(),
            log_safe(version).c_str());
        return;
    }

    const int new_format = compare_version("1.8.4", version.c_str()) >= 0 ? 1 : 0;
    const std::string key = address + "," + serial + "," + version;
    if (!name.empty()) {
        assign_name(list, key, name, msg);
    } else {
        list.add(key, serial);  // the serial stands for the nameless device in the list
        std::string user_name;
        claim_password_notice(user_name);
        set_field(msg.device_name, user_name);
    }

    int bf = 0;
    int fl = 0;
    const int64_t mtime = cached_protocol(files, serial, bf, fl);
    msg.bf_protocol_counts = bf;
    msg.fl_protocol_counts = fl;
    char level = 0;
    if (cached_security_level(files, serial, level)) {
        msg.security_level = level;
        msg.server_time = static_cast<int32_t>(static_cast<uint32_t>(get_server_time()));
    } else {
        msg.security_level = '0';
        msg.server_time = 0;
    }
    msg.protocol_mtime_hi = static_cast<int32_t>(static_cast<uint64_t>(mtime) >> 32);
    msg.protocol_mtime_lo = static_cast<int32_t>(static_cast<uint32_t>(mtime));
    cached_settings(files, serial, msg.settings, new_format);
    seal(msg);
    send_datagram(sock, &msg, sizeof msg, from, fromlen);
}

// Port 2001 reads a follow-up longer than its record to the record's size.
constexpr follow_up_rules_s login_fail_rules = {"device_if", true,
                                                "Error checksum login fail: %02x\n"};
constexpr follow_up_rules_s account_rules = {"device_if", true,
                                             "Error checksum account deactivate : %02x \n"};

void send_server_info(int sock, const sockaddr* from, socklen_t fromlen) {
    server_info_s info{};
    get_server_info(&info);
    seal(info);
    send_datagram(sock, &info, sizeof info, from, fromlen);
}

// The handlers that run a command for the user named in the follow-up record; no reply.
template <typename T>
void run_for_user(int sock, const follow_up_rules_s& rules, const char* handler,
                  std::string (*compose)(const std::string&)) {
    T record;
    sockaddr_in from;
    if (receive_follow_up(sock, record, from, rules) != follow_up_e::good)
        return;
    const std::string command = compose(field_text(record.user_name));
    run_command(command);
    std::printf("%s(): ran '%s'\n", handler, log_safe(command).c_str());
}

// The handlers that send the record back with a number looked up for its user.
template <typename T>
void send_lookup(int sock, const follow_up_rules_s& rules, const char* handler, int32_t T::*field,
                 user_lookup_f lookup) {
    ssize_t sent;
    if (reply_with_lookup(sock, rules, field, lookup, sent) == follow_up_e::good)
        std::printf("%s(): sent %d bytes.\n", handler, static_cast<int>(sent));
}

void set_fail_to_login(int sock) {
    run_for_user<record_fail_to_login_s>(
        sock, login_fail_rules, "set_fail_to_login",
        [](const std::string& name) { return inc_login_fails_command(issuer_e::device_if, name); });
}

void send_fail_to_login(int sock) {
    send_lookup(sock, login_fail_rules, "send_fail_to_login",
                &record_fail_to_login_s::login_fail_cnt, get_fail_to_login);
}

void deactivate_account(int sock) {
    run_for_user<account_status_s>(
        sock, account_rules, "deactivate_account",
        [](const std::string& name) { return deactivate_command(name); });
}

void send_account_lock_state(int sock) {
    send_lookup(sock, account_rules, "send_account_lock_state", &account_status_s::status,
                get_account_deactivate);
}

}  // namespace

int64_t get_server_time() {
    const time_t now = std::time(nullptr);
    tm local{};
    ::localtime_r(&now, &local);
    return static_cast<int64_t>(now) + local.tm_gmtoff;
}

void process_client_api_request(int sock, msg_header_s* header, sockaddr* from, size_t fromlen) {
    if (!checksum_ok(*header))
        return;
    std::printf("%s: 0x%x\n", "Got valid client header", static_cast<unsigned>(header->type));
    const auto length = static_cast<socklen_t>(fromlen);
    switch (header->type) {
    case request_server_info:
        send_server_info(sock, from, length);
        break;
    case request_set_login_fail:
        set_fail_to_login(sock);
        break;
    case request_get_login_fail:
        send_fail_to_login(sock);
        break;
    case request_deactivate_account:
        deactivate_account(sock);
        break;
    case request_get_account_status:
        send_account_lock_state(sock);
        break;
    default:
        break;  // join, version and password change belong to the joining interface
    }
    std::fflush(stdout);
}

void* device_if(void* list) {
    auto& devices = *static_cast<devList*>(list);
    ::pthread_setname_np(::pthread_self(), "device_if");
    device_announce_s buffer{};
    device_files_cache_s files;
    std::printf("%s Start\n", "device_if");
    std::fflush(stdout);

    const unique_fd sock(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (sock.get() < 0)
        exit_with_system_error("device_if():socket()", 1);
    sockaddr_in any{};
    any.sin_family = AF_INET;
    any.sin_port = htons(device_port);
    any.sin_addr.s_addr = htonl(INADDR_ANY);
    if (::bind(sock.get(), reinterpret_cast<const sockaddr*>(&any), sizeof any) != 0)
        exit_with_system_error("device_if():bind()", 1);
    // Reports only signals the process was set up to block; with the mask main leaves (none
    // blocked) it never fires.
    sigset_t mask;
    if (::pthread_sigmask(SIG_BLOCK, nullptr, &mask) != 0)
        exit_with_system_error(nullptr, 2);
    const unique_fd signals(::signalfd(-1, &mask, SFD_CLOEXEC));

    for (;;) {
        if (g_exit != 0) {
            std::printf("%s, Exit \n", "device_if");
            std::fflush(stdout);
            return nullptr;
        }
        pollfd waits[2] = {{sock.get(), POLLIN, 0}, {signals.get(), POLLIN, 0}};
        const int ready = ::poll(waits, 2, stop_check_ms);
        if (ready < 0) {
            if (errno == EINTR)
                continue;  // a SIGTERM landed in this thread: the flag decides
            exit_with_system_error("device_if():poll()", 3);
        }
        if (ready == 0)
            continue;
        if (waits[1].revents & POLLIN) {
            signalfd_siginfo info;
            if (::read(signals.get(), &info, sizeof info) > 0)
                std::fprintf(stderr, "%s(): signal received: %u\n", "device_if", info.ssi_signo);
            return nullptr;
        }
        if (!(waits[0].revents & POLLIN))
            continue;
        // Cleared every time: a short datagram must not carry bytes of an earlier request.
        std::memset(&buffer, 0, sizeof buffer);
        sockaddr_in from{};
        socklen_t fromlen = sizeof from;
        const ssize_t got = ::recvfrom(sock.get(), &buffer, sizeof buffer, MSG_DONTWAIT,
                                       reinterpret_cast<sockaddr*>(&from), &fromlen);
        if (got < 0)
            continue;
        if (got == sizeof buffer) {
            handle_announcement(sock.get(), buffer, reinterpret_cast<const sockaddr*>(&from),
                                fromlen, devices, files);
            continue;
        }
        if (got != sizeof(msg_header_s))
            std::printf("Other packet received, assume Client API follow-up\n");
        std::printf("Got Client API request\n");
        msg_header_s header;
        std::memcpy(&header, &buffer, sizeof header);
        process_client_api_request(sock.get(), &header, reinterpret_cast<sockaddr*>(&from),
                                   fromlen);
    }
}
