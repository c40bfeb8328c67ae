// The follow-up record of an account request, as both protocol threads take it: received within
// a second, judged by its size and checksum, and, for the two lookups, answered.
#pragma once

#include <cstdio>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <sys/types.h>

#include "log_text.h"
#include "udp.h"
#include "user_command.h"
#include "wire.h"

// What became of a follow-up record: arrived and checked out, none within a second, or refused
// for its size or checksum.
enum class follow_up_e { good, missing, refused };

// How a port takes its follow-up records. Each port refuses one shorter than the record (the
// missing bytes would be zeros, and an all-zero record checks out); port 2001 reads a longer one
// to the record's size, port 2002 refuses it too.
struct follow_up_rules_s {
    const char* thread;  // names the thread in the size line
    bool longer_ok;
    const char* checksum_error;  // printf format with the record's checksum
    // printf format with the user name, printed once the size is right; none when null.
    const char* received_line = nullptr;
};

// Judges the whole length of a received follow-up (-1: none came) against the record's `size`:
// `missing` silently, `refused` after printing
// "<thread>() : [Error] size follow-up : <length>, not <size> ", else `good`.
follow_up_e judge_follow_up_size(ssize_t length, size_t size, const follow_up_rules_s& rules);

// Receives the follow-up record into `record` (its sender into `from`) and judges it: the size
// as above, then `received_line` is printed, then the checksum (`refused` after printing
// `checksum_error`).
template <typename T>
follow_up_e receive_follow_up(int sock, T& record, sockaddr_in& from,
                              const follow_up_rules_s& rules) {
    socklen_t fromlen;
    const ssize_t length =
        receive_datagram(sock, &record, sizeof record, receive_limit_ms, from, fromlen);
    const follow_up_e size = judge_follow_up_size(length, sizeof record, rules);
    if (size != follow_up_e::good)
        return size;
    if (rules.received_line)
        std::printf(rules.received_line, log_safe(field_text(record.user_name)).c_str());
    if (checksum_ok(record))
        return follow_up_e::good;
    std::printf(rules.checksum_error, static_cast<unsigned>(record.checksum));
    return follow_up_e::refused;
}

// get_fail_to_login or get_account_deactivate.
using user_lookup_f = int (*)(const std::string& user_name, const std::string& tool);

// The two lookups: the follow-up names the user; the record goes back to its sender, sealed, with
// the number `lookup` found in `field`. `sent` gets the bytes sent (-1 on a send error) when the
// follow-up was good, and is left alone otherwise.
template <typename T>
follow_up_e reply_with_lookup(int sock, const follow_up_rules_s& rules, int32_t T::*field,
                              user_lookup_f lookup, ssize_t& sent) {
    T record;
    sockaddr_in from;
    const follow_up_e got = receive_follow_up(sock, record, from, rules);
    if (got != follow_up_e::good)
        return got;
    record.*field = lookup(field_text(record.user_name), default_user_tool);
    seal(record);
    sent = send_datagram(sock, &record, sizeof record, reinterpret_cast<const sockaddr*>(&from),
                         sizeof from);
    return got;
}
