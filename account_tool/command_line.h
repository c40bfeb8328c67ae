// The command lines the account tool accepts, checked before the account store is touched.
//
//   add_user NAME PASSWORD LEVEL [--timeout=N] [--group=TEXT] [--longname=TEXT]
//   update_user NAME [--status=N] [--password=TEXT]      (at least one of the two)
//   inc_login_fails NAME
//   search_by_name NAME
//
// NAME, PASSWORD and LEVEL are taken by position, so a value beginning with "--" is still a
// value; every argument after them must be one of the command's options, each at most once.
// Passwords are 1 to 511 bytes (the most libcrypt hashes), any bytes. The NAME, group and long
// name that add_user stores must be UTF-8 (the account is printed as JSON); the other commands
// take any NAME, so that accounts stored before that rule stay reachable.
#pragma once

#include <optional>
#include <string>
#include <vector>

enum class command_e { add_user, update_user, inc_login_fails, search_by_name };

struct request_s {
    command_e command = command_e::search_by_name;
    std::string user_name;
    std::string password;                     // add_user: the initial password
    std::string level;                        // add_user: "admin", "supervisor" or "user"
    int timeout = 0;                          // add_user
    std::string group;                        // add_user
    std::string long_name;                    // add_user
    std::optional<int> status;                // update_user
    std::optional<std::string> new_password;  // update_user
};

// args excludes the program name. Fills out and returns true, or returns false with a
// one-line reason in error (which never repeats a password).
bool parse_command_line(const std::vector<std::string>& args, request_s& out, std::string& error);

// The usage text, several lines, each ending in a newline.
const char* usage_text();
