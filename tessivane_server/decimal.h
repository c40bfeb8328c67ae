// Decimal text to int by the C atoi rule, without its undefined behaviour on overflow.
#pragma once

#include <climits>
#include <cstdlib>

// Leading white space and a sign are accepted, reading stops at the first non-digit, a text without
// digits gives 0; values beyond int are clamped. When `end` is given it receives where reading
// stopped (the start of `text` when there were no digits).
inline int c_decimal(const char* text, const char** end = nullptr) {
    char* stop = nullptr;
    long value = std::strtol(text, &stop, 10);
    if (end)
        *end = stop;
    if (value > INT_MAX)
        return INT_MAX;
    if (value < INT_MIN)
        return INT_MIN;
    return static_cast<int>(value);
}
