#include "exchange.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

namespace {

using steady = std::chrono::steady_clock;

class socket_fd {
public:
    socket_fd() : fd_(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {}
    ~socket_fd() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    socket_fd(socket_fd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    socket_fd(const socket_fd&) = delete;
    socket_fd& operator=(const socket_fd&) = delete;
    socket_fd& operator=(socket_fd&&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

bool lookup_ipv4(const std::string& host, in_addr& out) {
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

// What a lookup thread hands back; shared, so a thread given up on still has it to write to.
struct lookup_s {
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;
    bool found = false;
    in_addr address{};
};

bool send_all(int fd, const exchange_request_s& r, std::string& error) {
    for (const auto& d : r.datagrams) {
        if (::sendto(fd, d.data(), d.size(), 0, reinterpret_cast<const sockaddr*>(&r.to),
                     sizeof r.to) != static_cast<ssize_t>(d.size())) {
            error = std::string("send: ") + std::strerror(errno);
            return false;
        }
    }
    return true;
}

// Reads one waiting datagram; true when it was the reply to `r` (then in `result`), false when
// it came from another sender or could not be read.
bool take_reply(int fd, const exchange_request_s& r, exchange_s& result) {
    // A buffer of the record's size; MSG_TRUNC still reports a longer datagram's length.
    wire_bytes buffer(r.reply_size, '\0');
    sockaddr_in from{};
    socklen_t fromlen = sizeof from;
    const ssize_t got = ::recvfrom(fd, buffer.data(), buffer.size(), MSG_TRUNC | MSG_DONTWAIT,
                                   reinterpret_cast<sockaddr*>(&from), &fromlen);
    if (got < 0 || fromlen != sizeof from || from.sin_family != AF_INET ||
        from.sin_port != r.to.sin_port || from.sin_addr.s_addr != r.to.sin_addr.s_addr)
        return false;
    result.received = static_cast<size_t>(got);
    buffer.resize(std::min(result.received, r.reply_size));
    result.reply = std::move(buffer);
    result.check = check_reply(result.reply, result.received, r.reply_size);
    result.status = result.check == reply_check_e::ok ? exchange_status_e::answered
                                                      : exchange_status_e::bad_reply;
    result.error.clear();
    return true;
}

int remaining_ms(steady_time until) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - steady::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

}  // namespace

resolve_e resolve_ipv4(const std::string& host, steady_time deadline, in_addr& out) {
    if (::inet_pton(AF_INET, host.c_str(), &out) == 1)
        return resolve_e::resolved;
    // The name service is asked on a thread of its own, so that one that does not answer cannot
    // hold the command past its deadline.
    auto lookup = std::make_shared<lookup_s>();
    std::thread asker;
    try {
        asker = std::thread([lookup, host] {
            in_addr address{};
            const bool found = lookup_ipv4(host, address);
            std::lock_guard<std::mutex> lock(lookup->mutex);
            lookup->done = true;
            lookup->found = found;
            lookup->address = address;
            lookup->finished.notify_all();
        });
    } catch (const std::system_error&) {
        return lookup_ipv4(host, out) ? resolve_e::resolved : resolve_e::unknown;
    }
    std::unique_lock<std::mutex> lock(lookup->mutex);
    if (!lookup->finished.wait_until(lock, deadline, [&] { return lookup->done; })) {
        asker.detach();
        return resolve_e::timed_out;
    }
    lock.unlock();
    asker.join();
    if (!lookup->found)
        return resolve_e::unknown;
    out = lookup->address;
    return resolve_e::resolved;
}

std::vector<exchange_s> exchange_all(const std::vector<exchange_request_s>& requests,
                                     double timeout_s, steady_time deadline) {
    std::vector<exchange_s> results(requests.size());
    std::vector<socket_fd> sockets;
    sockets.reserve(requests.size());
    std::vector<size_t> waiting;  // the requests without a reply yet
    for (size_t i = 0; i < requests.size(); ++i) {
        if (sockets.emplace_back().get() < 0)
            results[i].error = std::string("socket: ") + std::strerror(errno);
        else
            waiting.push_back(i);
    }
    const auto step =
        std::chrono::duration_cast<steady::duration>(std::chrono::duration<double>(timeout_s));
    const auto retry_at = std::min(steady::now() + step, deadline);
    const auto give_up = std::min(retry_at + step, deadline);
    // A send failure (no route yet, say) is not final: the retry may still get through.
    for (const size_t i : waiting)
        send_all(sockets[i].get(), requests[i], results[i].error);

    bool retried = false;
    while (!waiting.empty()) {
        std::vector<pollfd> wait;
        for (const size_t i : waiting)
            wait.push_back({sockets[i].get(), POLLIN, 0});
        const int ready =
            ::poll(wait.data(), wait.size(), remaining_ms(retried ? give_up : retry_at));
        if (ready < 0 && errno != EINTR) {
            for (const size_t i : waiting)
                results[i].error = std::string("poll: ") + std::strerror(errno);
            break;
        }
        std::vector<size_t> still;
        for (size_t k = 0; k < waiting.size(); ++k) {
            const size_t i = waiting[k];
            if (ready <= 0 || wait[k].revents == 0 ||
                !take_reply(sockets[i].get(), requests[i], results[i]))
                still.push_back(i);
        }
        waiting.swap(still);
        const auto now = steady::now();
        if (now >= give_up)
            break;
        if (!retried && now >= retry_at) {
            retried = true;
            for (const size_t i : waiting)
                send_all(sockets[i].get(), requests[i], results[i].error);
        }
    }
    return results;
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
