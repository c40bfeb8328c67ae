#include "log_entry.h"

#include <cstdlib>
#include <cstring>

void fill_field(char* field, size_t size, const char* source) {
    const size_t n = strnlen(source, size);
    std::memcpy(field, source, n);
    std::memset(field + n, 0, size - n);
}

size_t field_length(const char* field, size_t size) {
    const void* zero = std::memchr(field, '\0', size);
    return zero ? static_cast<size_t>(static_cast<const char*>(zero) - field) : size;
}

log_entry_s make_entry(int64_t date, const char* text1, const char* text2, const char* text3,
                       const char* message) {
    log_entry_s e;
    e.date = date;
    fill_field(e.text1, sizeof e.text1, text1);
    fill_field(e.text2, sizeof e.text2, text2);
    fill_field(e.text3, sizeof e.text3, text3);
    fill_field(e.message, sizeof e.message, message);
    return e;
}

int64_t parse_time_arg(const char* text) {
    return static_cast<int64_t>(std::strtoull(text, nullptr, 10));
}

int32_t parse_limit_arg(const char* text) {
    // Wraps like the 32-bit conversion always did: "4294967295" is -1, which SQLite reads as no
    // limit.
    return static_cast<int32_t>(static_cast<uint32_t>(std::strtoul(text, nullptr, 10)));
}
