#include "joining_if.h"

#include <cstdio>
#include <cstdlib>
#include <netinet/in.h>
#include <optional>
#include <sys/socket.h>
#include <sys/time.h>

#include "files.h"
#include "follow_up.h"
#include "log_text.h"
#include "password_notice.h"
#include "server_settings.h"
#include "stop.h"
#include "udp.h"

namespace {

constexpr uint16_t joining_port = 2002;
constexpr int pause_ms = 1000;
// The wait for a request header wakes this often to test the stop flag.
constexpr int stop_check_ms = 250;
const char* const source_file = "/src/tessivane_server/joining";

// A socket this thread cannot serve with: the line, then the end of the process.
[[noreturn]] void exit_with_line(const char* line) {
    std::printf("%s\n", line);
    std::fflush(stdout);
    std::_Exit(1);
}

// Waits up to a second for a request header, in slices so that a stop is seen promptly. The
// datagram's whole length, or -1 when none came.
ssize_t receive_header(int sock, msg_header_s& header, sockaddr_in& from, socklen_t& fromlen) {
    for (int waited = 0; waited < receive_limit_ms && g_exit == 0; waited += stop_check_ms) {
        const ssize_t length =
            receive_datagram(sock, &header, sizeof header, stop_check_ms, from, fromlen);
        if (length >= 0)
            return length;
    }
    return -1;
}

template <typename T>
void reply(int sock, const T& record, const sockaddr_in& to) {
    send_datagram(sock, &record, sizeof record, reinterpret_cast<const sockaddr*>(&to),
                  sizeof(sockaddr_in));
}

// Port 2002 takes a follow-up of exactly its record's size. The requests that name their user
// log the name on arrival, before the checksum is tested.
follow_up_rules_s joining_rules(const char* checksum_error, const char* received_line = nullptr) {
    return {"joining_if", false, checksum_error, received_line};
}
const char* const login_fail_error = "Error checksum login fail : %02x \n";
const char* const account_error = "Error checksum account deactivate : %02x \n";

// One request whose header checked out; what became of its follow-up (`good` for a request that
// has none, an unknown one included).
follow_up_e handle_request(int sock, const msg_header_s& header, const sockaddr_in& header_from) {
    sockaddr_in from;
    ssize_t sent;
    switch (header.type) {
    case request_join: {
        user_info_s user;
        const follow_up_e got = receive_follow_up(
            sock, user, from, joining_rules("joining_if() : [Error] checksum join : %02x \n"));
        if (got != follow_up_e::good)
            return got;
        // The checksum goes back as received: the client knows its own record.
        user.result = join_process(&user);
        reply(sock, user, from);
        return got;
    }
    case request_server_info: {
        server_info_s info{};
        get_server_info(&info);
        seal(info);
        reply(sock, info, header_from);
        return follow_up_e::good;
    }
    case request_server_version: {
        version_reply_s version{};
        std::snprintf(version.text, sizeof version.text, "<tessivane_server> version : %s\n",
                      ORVEL_K2_VERSION);
        seal(version);
        reply(sock, version, header_from);
        return follow_up_e::good;
    }
    case request_change_password: {
        std::printf("joining_if() : [TesiVane] wants to change pw \n");
        password_change_s change;
        const follow_up_e got = receive_follow_up(
            sock, change, from, joining_rules("joining_if() : [Error] checksum pw : %02x \n"));
        if (got != follow_up_e::good)
            return got;
        const std::string user_name = field_text(change.user_name);
        run_command(change_password_command(user_name, field_text(change.password)));
        // Whatever the command's outcome: the device side only passes the name on.
        write_password_notice(user_name);
        return got;
    }
    case request_set_login_fail: {
        std::printf("joining_if() : [TesiVane] wants to set login fail \n");
        record_fail_to_login_s record;
        const follow_up_e got =
            receive_follow_up(sock, record, from, joining_rules(login_fail_error));
        if (got != follow_up_e::good)
            return got;
        run_command(inc_login_fails_command(issuer_e::joining_if, field_text(record.user_name)));
        return got;
    }
    case request_get_login_fail:
        return reply_with_lookup(
            sock,
            joining_rules(login_fail_error,
                          "joining_if() : [TesiVane] wants to get login fail : %s \n"),
            &record_fail_to_login_s::login_fail_cnt, get_fail_to_login, sent);
    case request_deactivate_account: {
        account_status_s record;
        const follow_up_e got = receive_follow_up(
            sock, record, from,
            joining_rules(account_error,
                          "joining_if() : [TesiVane] wants to set account deactivate : %s \n"));
        if (got != follow_up_e::good)
            return got;
        run_command(deactivate_command(field_text(record.user_name)));
        return got;
    }
    case request_get_account_status:
        return reply_with_lookup(
            sock,
            joining_rules(account_error,
                          "joining_if() : [TesiVane] wants to get account deactivate : %s \n"),
            &account_status_s::status, get_account_deactivate, sent);
    default:
        return follow_up_e::good;  // unknown request: nothing to do
    }
}

}  // namespace

std::string to_hex(const char* text) {
    std::string out;
    char digits[8];
    for (; *text; ++text) {
        const auto code =
            static_cast<uint16_t>(static_cast<int16_t>(static_cast<signed char>(*text)));
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

    const std::optional<int> status = run_discarding_output(command);
    if (!status) {
        std::printf("%s::%s:%d : popen() failed\n", source_file, __func__, __LINE__);
        return -10;
    }
    std::printf("%s::%s:%d : pclose() returned %d\n", source_file, __func__, __LINE__, *status);
    return add_user_result(*status);
}

void* joining_if(void* addr) {
    const unique_fd sock(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (sock.get() < 0)
        exit_with_line("joining_if() : socket() error ");
    const timeval limit = {1, 0};
    ::setsockopt(sock.get(), SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(joining_port);
    local.sin_addr.s_addr = addr ? *static_cast<const uint32_t*>(addr) : htonl(INADDR_ANY);
    if (::bind(sock.get(), reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0)
        exit_with_line("joining_if() : bind() error ");
    std::printf("joining_if() : Start !!! \n");
    std::fflush(stdout);

    while (g_exit == 0) {
        msg_header_s header;
        sockaddr_in from;
        socklen_t fromlen;
        const ssize_t length = receive_header(sock.get(), header, from, fromlen);
        if (length < 0) {
            sleep_unless_stopping(pause_ms);
            continue;
        }
        // A datagram that fails its size or checksum is dropped without the pause: a burst of
        // junk would otherwise keep the port deaf for a second per datagram. The pause is the
        // rate limit of requests that check out (and of those whose follow-up never came).
        bool pause = false;
        if (static_cast<size_t>(length) != sizeof header) {
            std::printf("joining_if() : [Error] size msg header : %zd \n", length);
        } else if (!checksum_ok(header)) {
            std::printf("joining_if() : [Error] checksum msg header : %02x \n",
                        static_cast<unsigned>(header.checksum));
        } else {
            pause = handle_request(sock.get(), header, from) != follow_up_e::refused;
        }
        std::fflush(stdout);
        if (pause)
            sleep_unless_stopping(pause_ms);
    }
    std::printf("%s Exit\n", "joining_if");
    std::fflush(stdout);
    return nullptr;
}
