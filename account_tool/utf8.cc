#include "utf8.h"

namespace {

// The well-formed sequence at text[at] (ok) or the ill-formed part to replace there: its
// length, at least 1.
struct unit_s {
    size_t length;
    bool ok;
};

unit_s unit_at(std::string_view text, size_t at) {
    const auto lead = static_cast<unsigned char>(text[at]);
    if (lead < 0x80)
        return {1, true};
    size_t tail = 0;
    // The range of the first trail byte; the others are always 80..BF.
    unsigned char low = 0x80, high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        tail = 1;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        tail = 2;
        if (lead == 0xE0)
            low = 0xA0;  // else overlong
        if (lead == 0xED)
            high = 0x9F;  // else a surrogate
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        tail = 3;
        if (lead == 0xF0)
            low = 0x90;  // else overlong
        if (lead == 0xF4)
            high = 0x8F;  // else beyond U+10FFFF
    } else {
        return {1, false};
    }
    for (size_t i = 1; i <= tail; ++i) {
        if (at + i >= text.size())
            return {i, false};
        const auto byte = static_cast<unsigned char>(text[at + i]);
        if (byte < low || byte > high)
            return {i, false};
        low = 0x80;
        high = 0xBF;
    }
    return {tail + 1, true};
}

}  // namespace

bool is_utf8(std::string_view text) {
    for (size_t at = 0; at < text.size();) {
        const unit_s unit = unit_at(text, at);
        if (!unit.ok)
            return false;
        at += unit.length;
    }
    return true;
}

std::string to_utf8(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t at = 0; at < text.size();) {
        const unit_s unit = unit_at(text, at);
        if (unit.ok)
            out.append(text.substr(at, unit.length));
        else
            out += "\xef\xbf\xbd";
        at += unit.length;
    }
    return out;
}
