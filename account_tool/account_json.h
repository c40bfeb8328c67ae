// The account record as the account tool prints it: a JSON object, one member per line, so
// that a reader may find a member by its quoted key on a line of its own.
#pragma once

#include <string>

#include "account_store.h"

// text between double quotes with JSON escapes for '"', '\\', and every control character
// (below 0x20 and 0x7f), so the result never spans lines; other bytes pass unchanged. For the
// names in message lines.
std::string json_quote(const std::string& text);

// Valid JSON, ending with a newline. The numbers come first, "status", "login_fail_cnt" and
// "timeout", then "user_name", "long_name", "level" and "group": a reader that takes the first
// occurrence of a quoted key finds the member, never a text value that happens to read
// "status". Text that is not UTF-8 (stored before add_user refused it) is printed with U+FFFD
// for every ill-formed part. The password hash is never printed.
std::string account_json(const account_s& account);
