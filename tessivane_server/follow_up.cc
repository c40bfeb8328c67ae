#include "follow_up.h"

follow_up_e judge_follow_up_size(ssize_t length, size_t size, const follow_up_rules_s& rules) {
    if (length < 0)
        return follow_up_e::missing;
    const auto got = static_cast<size_t>(length);
    if (got == size || (got > size && rules.longer_ok))
        return follow_up_e::good;
    std::printf("%s() : [Error] size follow-up : %zd, not %zu \n", rules.thread, length, size);
    return follow_up_e::refused;
}
