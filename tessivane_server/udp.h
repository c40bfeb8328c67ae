// What the two protocol threads share about their sockets.
#pragma once

#include <cstddef>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/types.h>

// How long a receive waits: for a request header on port 2002, and on both ports for the
// follow-up record of a request, which is given up after that.
constexpr int receive_limit_ms = 1000;

// Waits up to `wait_ms` for a datagram and receives it into `record`, which is cleared first so
// that bytes a short datagram does not deliver are 0, never left from an earlier one. Longer
// datagrams are cut to `size`. Returns the datagram's whole length (larger than `size` for one
// that was cut), or -1 on time-out or error.
ssize_t receive_datagram(int sock, void* record, size_t size, int wait_ms, sockaddr_in& from,
                         socklen_t& fromlen);

// Sends one reply. Its result is ignored on purpose, here and by every caller that does not log
// it: a datagram that the kernel refuses or the network loses is the same to the client, which
// asks again after its own time-out, and the thread has nothing better to do than to serve the
// next request. The return value (bytes sent, or -1) exists only for the lines that report it.
ssize_t send_datagram(int sock, const void* data, size_t size, const sockaddr* to, socklen_t tolen);
