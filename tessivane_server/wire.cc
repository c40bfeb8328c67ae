#include "wire.h"

#include "decimal.h"

int CheckSum(const void* data, size_t len, bool unsigned_bytes) {
    if (!data)
        return 0;
    // Summed unsigned so that the wrap-around at 32 bits is defined.
    uint32_t sum = 0;
    const auto* bytes = static_cast<const unsigned char*>(data);
    for (size_t i = 0; i < len; ++i)
        sum += unsigned_bytes ? bytes[i] : static_cast<uint32_t>(static_cast<int8_t>(bytes[i]));
    return static_cast<int>(sum);
}

int CheckSum(const char* data, unsigned len) {
    if (len < sizeof(int32_t))
        return 0;
    return CheckSum(data, len - sizeof(int32_t), false);
}

int compare_version(const char* a, const char* b) {
    if (!a || !b)
        return -2;
    bool a_ended = false;
    bool b_ended = false;
    do {
        const char* a_stop = a;
        const char* b_stop = b;
        const int x = a_ended ? 0 : c_decimal(a, &a_stop);
        const int y = b_ended ? 0 : c_decimal(b, &b_stop);
        if (x != y)
            return x < y ? 1 : -1;
        // Step over the separator; a component without digits steps over its first character,
        // so every round moves each text on by at least one character.
        if (!a_ended) {
            a_ended = *a_stop == '\0';
            a = a_stop + 1;
        }
        if (!b_ended) {
            b_ended = *b_stop == '\0';
            b = b_stop + 1;
        }
    } while (!a_ended || !b_ended);
    return 0;
}
