// The in-memory audit entry and the reading of command-line numbers.
#pragma once

#include <cstddef>
#include <cstdint>

struct log_entry_s {
    int64_t date = 0;  // seconds since 1970-01-01 UTC; 64-bit so entries after 2038 keep their time
    char text1[64] = {};
    char text2[64] = {};
    char text3[64] = {};
    char message[512] = {};
};

// Copy-and-zero-pad: a longer source is cut at the field size and then carries no terminator.
void fill_field(char* field, size_t size, const char* source);

// Bytes up to the first zero byte, at most size: what is bound for a field.
size_t field_length(const char* field, size_t size);

log_entry_s make_entry(int64_t date, const char* text1, const char* text2, const char* text3,
                       const char* message);

// C library unsigned decimal conversion (leading blanks, stops at the first non-digit, no digits
// gives 0). Times keep all 64 bits; a limit is a 32-bit integer as the callers have always sent it.
int64_t parse_time_arg(const char* text);
int32_t parse_limit_arg(const char* text);
