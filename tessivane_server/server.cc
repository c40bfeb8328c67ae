#include "server.h"

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <unistd.h>

#include "device_if.h"
#include "interfaces.h"
#include "joining_if.h"
#include "paths.h"

std::atomic<int> g_exit{0};
devList dev_list(default_devlist_file);
uint32_t join_bind_addr = 0;

thread_slot thread_info[thread_count] = {
    {{0}, "device_if", device_if, &dev_list},
    {{0}, "app_if", app_if, &dev_list},
    {{0}, "join_if", joining_if, &join_bind_addr},
};

static_assert(std::atomic<int>::is_always_lock_free, "g_exit is written by a signal handler");
static_assert(std::atomic<pthread_t>::is_always_lock_free, "thread ids are read by a signal handler");

void term(int signo) {
    const int saved_errno = errno;
    if (g_exit.exchange(1) == 0) {
        // Straight to the descriptor: the interrupted thread may hold the lock of stdout.
        char line[32] = "Caught ";
        size_t length = 7;
        char digits[12];
        size_t n = 0;
        unsigned value = static_cast<unsigned>(signo);
        do {
            digits[n++] = static_cast<char>('0' + value % 10);
            value /= 10;
        } while (value != 0);
        while (n > 0)
            line[length++] = digits[--n];
        line[length++] = '!';
        line[length++] = '\n';
        [[maybe_unused]] const ssize_t written = ::write(STDOUT_FILENO, line, length);
    } else {
        for (thread_slot& slot : thread_info) {
            const pthread_t id = slot.id.load();
            if (id != 0)
                ::pthread_cancel(id);
        }
    }
    errno = saved_errno;
}

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

void* app_if(void* list) {
    ::pthread_setname_np(::pthread_self(), "app_if");
    auto& devices = *static_cast<devList*>(list);
    while (g_exit == 0) {
        // Save before clearing: the file always shows the devices of the cycle just ended.
        devices.save();
        devices.clear();
        init_interfaces(false);
        sleep_unless_stopping(5000);
    }
    std::printf("%s Exit\n", "app_if");
    std::fflush(stdout);
    return nullptr;
}
