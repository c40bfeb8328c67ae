#include "udp.h"

#include <cerrno>
#include <cstring>
#include <poll.h>

ssize_t receive_datagram(int sock, void* record, size_t size, int wait_ms, sockaddr_in& from,
                         socklen_t& fromlen) {
    std::memset(record, 0, size);
    pollfd wait = {sock, POLLIN, 0};
    int ready;
    do {
        ready = ::poll(&wait, 1, wait_ms);
    } while (ready < 0 && errno == EINTR);
    if (ready <= 0)
        return -1;
    from = sockaddr_in{};
    fromlen = sizeof from;
    // MSG_TRUNC: the length the datagram had, so that one cut to `size` does not pass for whole.
    return ::recvfrom(sock, record, size, MSG_DONTWAIT | MSG_TRUNC,
                      reinterpret_cast<sockaddr*>(&from), &fromlen);
}

ssize_t send_datagram(int sock, const void* data, size_t size, const sockaddr* to,
                      socklen_t tolen) {
    return ::sendto(sock, data, size, 0, to, tolen);
}
