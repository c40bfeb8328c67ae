// Requests and their replies over UDP: each request's datagrams go out from a socket of its own,
// every request of a command at once, and each reply is read into a buffer of exactly the
// expected record's size, so no reply, however long or malformed, is ever read past its bounds.
// Each attempt waits the whole time limit: the joining interface pauses a second after every
// request, and an early retry would only queue a duplicate behind it and slow down every request
// after it.
#pragma once

#include <netinet/in.h>

#include <chrono>
#include <string>
#include <vector>

#include "wire.h"

using steady_time = std::chrono::steady_clock::time_point;

enum class exchange_status_e { answered, no_reply, bad_reply };

struct exchange_request_s {
    sockaddr_in to{};
    std::vector<wire_bytes> datagrams;  // sent in this order
    size_t reply_size = 0;
};

struct exchange_s {
    exchange_status_e status = exchange_status_e::no_reply;
    wire_bytes reply;     // the bytes read, at most the expected size
    size_t received = 0;  // the datagram's real length
    reply_check_e check = reply_check_e::ok;
    std::string error;  // a socket failure, when there was one
};

enum class resolve_e { resolved, unknown, timed_out };

// Resolves an IPv4 address or host name into `out`. A lookup the name service has not finished
// by `deadline` is given up (timed_out); it may go on in the background until the process ends.
resolve_e resolve_ipv4(const std::string& host, steady_time deadline, in_addr& out);

// Sends every request at once and waits for all replies together: a request without a reply from
// its address and port within `timeout_s` is sent once more and waited for as long again, but
// never past `deadline`. One result per request, in the requests' order. A reply of another size
// or with a wrong checksum is a bad_reply; datagrams from other senders are ignored.
std::vector<exchange_s> exchange_all(const std::vector<exchange_request_s>& requests,
                                     double timeout_s, steady_time deadline);

// "0a 1b ...", 16 bytes a line.
std::string hex_dump(const wire_bytes& bytes);
