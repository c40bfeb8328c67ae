#include "joining_if.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/wait.h>

#include "log_text.h"
#include "password_notice.h"
#include "server.h"
#include "server_settings.h"
#include "udp.h"

namespace {

constexpr uint16_t joining_port = 2002;
constexpr int pause_ms = 1000;
// The wait for a request header wakes this often to test the stop flag.
constexpr int stop_check_ms = 250;
const char* const source_file = "/src/tessivane_server/joining";

[[noreturn]] void fail(const char* line) {
    std::printf("%s\n", line);
    std::fflush(stdout);
    std::_Exit(1);
}

// Waits up to a second for a request header, in slices so that a stop is seen promptly.
bool receive_header(int sock, msg_header_s& header, sockaddr_in& from, socklen_t& fromlen) {
    for (int waited = 0; waited < receive_limit_ms && g_exit == 0; waited += stop_check_ms)
        if (receive_datagram(sock, &header, sizeof header, stop_check_ms, from, fromlen) >= 0)
            return true;
    return false;
}

// The follow-up record of a request, checked; false after printing `checksum_error` (with the
// record's checksum) when it does not match, or silently when none came within a second.
// `received_line`, when given, is printed with the record's user name as soon as the record has
// arrived, whether its checksum matches or not.
template <typename T>
bool receive_follow_up(int sock, T& record, sockaddr_in& from, socklen_t& fromlen,
                       const char* checksum_error, const char* received_line = nullptr) {
    if (receive_datagram(sock, &record, sizeof record, receive_limit_ms, from, fromlen) < 0)
        return false;
    if (received_line)
        std::printf(received_line, log_safe(field_text(record.user_name)).c_str());
    if (record.checksum == CheckSum(reinterpret_cast<const char*>(&record), sizeof record))
        return true;
    std::printf(checksum_error, static_cast<unsigned>(record.checksum));
    return false;
}

template <typename T>
void reply(int sock, const T& record, const sockaddr_in& to) {
    ::sendto(sock, &record, sizeof record, 0, reinterpret_cast<const sockaddr*>(&to),
             sizeof(sockaddr_in));
}

const char* const login_fail_error = "Error checksum login fail : %02x \n";
const char* const account_error = "Error checksum account deactivate : %02x \n";

// The two lookups: the follow-up names the user, `wants` is logged with the name, and the record
// goes back with the number in `field`.
template <typename T>
void reply_with_lookup(int sock, sockaddr_in& from, const char* checksum_error, const char* wants,
                       int32_t T::*field, int (*lookup)(const std::string&, const std::string&)) {
    T record;
    socklen_t fromlen = sizeof from;
    if (!receive_follow_up(sock, record, from, fromlen, checksum_error, wants))
        return;
    record.*field = lookup(field_text(record.user_name), default_user_tool);
    record.checksum = CheckSum(reinterpret_cast<const char*>(&record), sizeof record);
    reply(sock, record, from);
}

// One request whose header passed its checksum.
void handle_request(int sock, const msg_header_s& header, sockaddr_in& from) {
    socklen_t fromlen = sizeof from;
    switch (header.type) {
    case request_join: {
        user_info_s user;
        if (!receive_follow_up(sock, user, from, fromlen,
                               "joining_if() : [Error] checksum join : %02x \n"))
            return;
        // The checksum goes back as received: the client knows its own record.
        user.result = join_process(&user);
        reply(sock, user, from);
        return;
    }
    case request_server_info: {
        server_info_s info{};
        get_server_info(&info);
        info.checksum = CheckSum(reinterpret_cast<const char*>(&info), sizeof info);
        reply(sock, info, from);
        return;
    }
    case request_server_version: {
        version_reply_s version{};
        std::snprintf(version.text, sizeof version.text, "<tessivane_server> version : %s\n",
                      ORVEL_K2_VERSION);
        version.checksum = CheckSum(reinterpret_cast<const char*>(&version), sizeof version);
        reply(sock, version, from);
        return;
    }
    case request_change_password: {
        std::printf("joining_if() : [TesiVane] wants to change pw \n");
        password_change_s change;
        if (!receive_follow_up(sock, change, from, fromlen,
                               "joining_if() : [Error] checksum pw : %02x \n"))
            return;
        const std::string user_name = field_text(change.user_name);
        run_command(change_password_command(user_name, field_text(change.password)));
        // Whatever the command's outcome: the device side only passes the name on.
        write_password_notice(user_name);
        return;
    }
    case request_set_login_fail: {
        std::printf("joining_if() : [TesiVane] wants to set login fail \n");
        record_fail_to_login_s record;
        if (!receive_follow_up(sock, record, from, fromlen, login_fail_error))
            return;
        run_command(inc_login_fails_command(issuer_e::joining_if, field_text(record.user_name)));
        return;
    }
    case request_get_login_fail:
        reply_with_lookup(sock, from, login_fail_error,
                          "joining_if() : [TesiVane] wants to get login fail : %s \n",
                          &record_fail_to_login_s::login_fail_cnt, get_fail_to_login);
        return;
    case request_deactivate_account: {
        account_status_s record;
        if (!receive_follow_up(sock, record, from, fromlen, account_error,
                               "joining_if() : [TesiVane] wants to set account deactivate : %s \n"))
            return;
        run_command(deactivate_command(field_text(record.user_name)));
        return;
    }
    case request_get_account_status:
        reply_with_lookup(sock, from, account_error,
                          "joining_if() : [TesiVane] wants to get account deactivate : %s \n",
                          &account_status_s::status, get_account_deactivate);
        return;
    default:
        return;  // unknown request: nothing to do
    }
}

}  // namespace

std::string to_hex(const char* text) {
    std::string out;
    char digits[8];
    for (; *text; ++text) {
        const auto code = static_cast<uint16_t>(static_cast<int16_t>(static_cast<signed char>(*text)));
        std::snprintf(digits, sizeof digits, "%x", code);
        out += digits;
    }
    return out;
}

int join_process(user_info_s* user, const std::string& tool) {
    user->user_name[63] = '\0';
    const std::string group = to_hex("DEFAULT");
    const char* level = user->level == 2 ? "admin" : user->level == 1 ? "supervisor" : "user";
    const std::string user_name = field_text(user->user_name);
    const std::string long_name = field_text(user->long_name);
    const std::string command = add_user_command(user_name, field_text(user->password), level,
                                                 user->timeout, group, long_name, tool);
    const std::string shown =
        add_user_command(user_name, "********", level, user->timeout, group, long_name, tool);
    std::printf("%s::%s:%d : popen() %s\n", source_file, __func__, __LINE__,
                log_safe(shown).c_str());

    std::FILE* out = ::popen(command.c_str(), "re");
    if (!out) {
        std::printf("%s::%s:%d : popen() failed\n", source_file, __func__, __LINE__);
        return -10;
    }
    // No RAII: a cancelled thread must not wait in pclose for a command that hangs.
    char line[256];
    while (std::fgets(line, sizeof line, out)) {
    }
    const int status = ::pclose(out);
    std::printf("%s::%s:%d : pclose() returned %d\n", source_file, __func__, __LINE__, status);
    if (status == -1)
        return -10;
    if (WIFSIGNALED(status))
        return static_cast<int8_t>(128 + WTERMSIG(status));
    return static_cast<int8_t>((status >> 8) & 0xFF);
}

void* joining_if(void* addr) {
    const unique_fd sock(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (sock.get() < 0)
        fail("joining_if() : socket() error ");
    const timeval limit = {1, 0};
    ::setsockopt(sock.get(), SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(joining_port);
    local.sin_addr.s_addr = addr ? *static_cast<const uint32_t*>(addr) : htonl(INADDR_ANY);
    if (::bind(sock.get(), reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0)
        fail("joining_if() : bind() error ");
    std::printf("joining_if() : Start !!! \n");
    std::fflush(stdout);

    while (g_exit == 0) {
        msg_header_s header;
        sockaddr_in from;
        socklen_t fromlen;
        if (!receive_header(sock.get(), header, from, fromlen)) {
            sleep_unless_stopping(pause_ms);
            continue;
        }
        if (header.checksum != CheckSum(reinterpret_cast<const char*>(&header), sizeof header)) {
            std::printf("joining_if() : [Error] checksum msg header : %02x \n",
                        static_cast<unsigned>(header.checksum));
        } else {
            handle_request(sock.get(), header, from);
        }
        std::fflush(stdout);
        sleep_unless_stopping(pause_ms);
    }
    std::printf("%s Exit\n", "joining_if");
    std::fflush(stdout);
    return nullptr;
}
