// Text from the network as it may appear in the server's output.
#pragma once

#include <cstdio>
#include <string>

// `text` with every control character (and DEL) written as \xNN and the backslash doubled, so a
// name or serial received from the network can never start a line of its own in the output or
// pass for an escape.
inline std::string log_safe(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7f) {
            char escaped[5];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", byte);
            out += escaped;
        } else if (c == '\\') {
            out += "\\\\";
        } else {
            out += c;
        }
    }
    return out;
}

// True when `text` holds a control character (below 0x20, or DEL).
inline bool has_control_character(const std::string& text) {
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7f)
            return true;
    }
    return false;
}
