// One request and its reply over UDP: the request's datagrams go out from a fresh socket, and the
// reply is read into a buffer of exactly the expected record's size, so no reply, however long or
// malformed, is ever read past its bounds. Each attempt waits the whole time limit: the joining
// interface pauses a second after every request, and an early retry would only queue a duplicate
// behind it and slow down every request after it.
#pragma once

#include <netinet/in.h>

#include <string>
#include <vector>

#include "wire.h"

enum class exchange_status_e { answered, no_reply, bad_reply };

struct exchange_s {
    exchange_status_e status = exchange_status_e::no_reply;
    wire_bytes reply;     // the bytes read, at most the expected size
    size_t received = 0;  // the datagram's real length
    reply_check_e check = reply_check_e::ok;
    std::string error;  // a socket failure, when there was one
};

// Resolves an IPv4 address or host name; false when it does not resolve.
bool resolve_ipv4(const std::string& host, in_addr& out);

// Sends `datagrams` in order to `to` and waits up to `timeout_s` for one reply from that address
// and port; without one, sends them once more and waits `timeout_s` again. A reply of another
// size or with a wrong checksum is a bad_reply; datagrams from other senders are ignored.
exchange_s exchange(const sockaddr_in& to, const std::vector<wire_bytes>& datagrams,
                    size_t reply_size, double timeout_s);

// "0a 1b ...", 16 bytes a line.
std::string hex_dump(const wire_bytes& bytes);
