#include "exchange.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

namespace {

class socket_fd {
public:
    socket_fd() : fd_(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {}
    ~socket_fd() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    socket_fd(const socket_fd&) = delete;
    socket_fd& operator=(const socket_fd&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

using steady = std::chrono::steady_clock;

bool send_all(int fd, const sockaddr_in& to, const std::vector<wire_bytes>& datagrams,
              std::string& error) {
    for (const auto& d : datagrams) {
        if (::sendto(fd, d.data(), d.size(), 0, reinterpret_cast<const sockaddr*>(&to),
                     sizeof to) != static_cast<ssize_t>(d.size())) {
            error = std::string("send: ") + std::strerror(errno);
            return false;
        }
    }
    return true;
}

int remaining_ms(steady::time_point until) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - steady::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

}  // namespace

bool resolve_ipv4(const std::string& host, in_addr& out) {
    if (::inet_pton(AF_INET, host.c_str(), &out) == 1)
        return true;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || !found)
        return false;
    out = reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr;
    ::freeaddrinfo(found);
    return true;
}

exchange_s exchange(const sockaddr_in& to, const std::vector<wire_bytes>& datagrams,
                    size_t reply_size, double timeout_s) {
    exchange_s result;
    socket_fd sock;
    if (sock.get() < 0) {
        result.error = std::string("socket: ") + std::strerror(errno);
        return result;
    }
    const auto start = steady::now();
    const auto total =
        std::chrono::duration_cast<steady::duration>(std::chrono::duration<double>(timeout_s));
    const auto retry_at = start + total;
    const auto deadline = retry_at + total;
    bool retried = false;
    // A send failure (no route yet, say) is not final: the retry may still get through.
    send_all(sock.get(), to, datagrams, result.error);

    for (;;) {
        const auto wake = retried ? deadline : retry_at;
        pollfd wait = {sock.get(), POLLIN, 0};
        const int ready = ::poll(&wait, 1, remaining_ms(wake));
        if (ready < 0 && errno != EINTR) {
            result.error = std::string("poll: ") + std::strerror(errno);
            return result;
        }
        if (ready > 0) {
            // A buffer of the record's size; MSG_TRUNC still reports a longer datagram's length.
            wire_bytes buffer(reply_size, '\0');
            sockaddr_in from{};
            socklen_t fromlen = sizeof from;
            const ssize_t got = ::recvfrom(sock.get(), buffer.data(), buffer.size(), MSG_TRUNC,
                                           reinterpret_cast<sockaddr*>(&from), &fromlen);
            if (got < 0)
                continue;
            if (fromlen != sizeof from || from.sin_family != AF_INET ||
                from.sin_port != to.sin_port || from.sin_addr.s_addr != to.sin_addr.s_addr)
                continue;
            result.received = static_cast<size_t>(got);
            buffer.resize(std::min(result.received, reply_size));
            result.reply = std::move(buffer);
            result.check = check_reply(result.reply, result.received, reply_size);
            result.status = result.check == reply_check_e::ok ? exchange_status_e::answered
                                                              : exchange_status_e::bad_reply;
            result.error.clear();
            return result;
        }
        if (steady::now() >= deadline)
            return result;
        if (!retried && steady::now() >= retry_at) {
            retried = true;
            send_all(sock.get(), to, datagrams, result.error);
        }
    }
}

std::string hex_dump(const wire_bytes& bytes) {
    std::string out;
    for (size_t i = 0; i < bytes.size(); ++i) {
        char hex[4];
        std::snprintf(hex, sizeof hex, "%02x", static_cast<unsigned char>(bytes[i]));
        out += hex;
        out += (i % 16 == 15 || i + 1 == bytes.size()) ? "\n" : " ";
    }
    return out;
}
