// How the threads learn that the process is stopping.
#pragma once

#include <atomic>

// 0 at start; the first SIGTERM sets it to 1. Every thread tests it at least once a second.
extern std::atomic<int> g_exit;

// Sleeps up to `ms` milliseconds, waking early when g_exit is set; false when it was set.
bool sleep_unless_stopping(int ms);
