#include "stop.h"

#include <ctime>

std::atomic<int> g_exit{0};

static_assert(std::atomic<int>::is_always_lock_free, "g_exit is written by a signal handler");

bool sleep_unless_stopping(int ms) {
    constexpr int slice_ms = 100;
    while (ms > 0 && g_exit == 0) {
        const int step = ms < slice_ms ? ms : slice_ms;
        const timespec pause = {0, step * 1000000L};
        ::nanosleep(&pause, nullptr);
        ms -= step;
    }
    return g_exit == 0;
}
