// What the two protocol threads share about their sockets.
#pragma once

#include <cstddef>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

// How long a receive waits: for a request header on port 2002, and on both ports for the
// follow-up record of a request, which is given up after that.
constexpr int receive_limit_ms = 1000;

// A descriptor closed when the scope that opened it ends, a cancelled thread's included.
class unique_fd {
public:
    explicit unique_fd(int fd) : fd_(fd) {}
    ~unique_fd() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    unique_fd(const unique_fd&) = delete;
    unique_fd& operator=(const unique_fd&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

// Waits up to `wait_ms` for a datagram and receives it into `record`, which is cleared first so
// that bytes a short datagram does not deliver are 0, never left from an earlier one. Longer
// datagrams are cut to `size`. Returns the length received, or -1 on time-out or error.
ssize_t receive_datagram(int sock, void* record, size_t size, int wait_ms, sockaddr_in& from,
                         socklen_t& fromlen);
