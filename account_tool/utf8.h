// UTF-8 as the account tool stores and prints text: well-formed only (no overlong forms, no
// surrogates, nothing beyond U+10FFFF), as every JSON reader demands.
#pragma once

#include <string>
#include <string_view>

bool is_utf8(std::string_view text);

// text with every ill-formed part replaced by U+FFFD, one for each maximal part that could
// begin a sequence (so "\xe2\x82" is one, "\xff\xfe" two); text itself when it is UTF-8.
std::string to_utf8(std::string_view text);
