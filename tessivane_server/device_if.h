// The device interface: UDP port 2001 on all addresses. Serves the devices' 116-byte
// announcements (unique display name, security level, protocol summary, counting settings, server
// time) and the short account requests (a 12-byte msg_header_s, then a 72-byte record).
#pragma once

#include <cstddef>
#include <cstdint>
#include <sys/socket.h>

#include "wire.h"

// Thread entry; `list` is the devList. Returns null when it ends: g_exit seen (tested at least
// once a second, "device_if, Exit " printed) or its signal descriptor fired. Socket and bind
// failures end the process with status 1, a failed signal-mask read with 2, a failed wait with 3.
void* device_if(void* list);

// Validates one request header and dispatches it. A header whose checksum does not match is
// ignored silently; of the request codes only server info, the two failed-login requests and the
// two account-status requests are served here, the others are logged and ignored. A request that
// needs a follow-up record waits at most one second for it, then gives up silently.
void process_client_api_request(int sock, msg_header_s* header, sockaddr* from, size_t fromlen);

// The local wall-clock time in seconds, counted as if it were UTC.
int64_t get_server_time();
