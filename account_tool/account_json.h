// The account record as the account tool prints it: a JSON object, one member per line, so
// that a reader may find a member by its quoted key on a line of its own.
#pragma once

#include <string>

#include "account_store.h"

// text between double quotes with JSON escapes for '"', '\\', and every control character
// (below 0x20 and 0x7f), so the result never spans lines; other bytes pass unchanged.
std::string json_quote(const std::string& text);

// Ends with a newline. Keys: "user_name", "long_name", "level", "group", "timeout", "status",
// "login_fail_cnt". The password hash is never printed.
std::string account_json(const account_s& account);
