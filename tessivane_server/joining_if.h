// The joining interface: UDP port 2002 on the host-only address, the administrative entry of the
// PC-side application. Serves joins (add a user), password changes, the version and password
// policy, and the failed-login and account-status requests, one at a time with a one-second
// pause after each (a datagram of the wrong size or checksum is dropped without it).
#pragma once

#include <string>

#include "user_command.h"
#include "wire.h"

// Thread entry; `addr` points to the IPv4 address to bind (network byte order; 0 or a null
// pointer means all addresses). Returns null once it sees g_exit ("joining_if Exit" printed).
// Socket and bind failures end the process with status 1.
void* joining_if(void* addr);

// Adds the user of a join request through the user-management command (byte 63 of user_name is
// forced to NUL first). Returns add_user_result of the command's wait status, or -10 when it
// could not be started. The logged command line shows "********" in place of the password.
int join_process(user_info_s* user, const std::string& tool = default_user_tool);

// Each character's code in lower-case hexadecimal, no padding or separators; a character is taken
// as a signed 8-bit value widened to 16 bits, so bytes from 0x80 up give four digits (ff80...).
// to_hex("DEFAULT") is "44454641554c54".
std::string to_hex(const char* text);
