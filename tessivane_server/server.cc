#include "server.h"

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <unistd.h>

#include "device_if.h"
#include "files.h"
#include "interfaces.h"
#include "joining_if.h"
#include "paths.h"
#include "stop.h"

std::atomic<int> g_cancel{0};
devList dev_list(default_devlist_file);
uint32_t join_bind_addr = 0;

thread_slot thread_info[thread_count] = {
    {0, "device_if", device_if, &dev_list},
    {0, "app_if", app_if, &dev_list},
    {0, "join_if", joining_if, &join_bind_addr},
};

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
        g_cancel = 1;
    }
    errno = saved_errno;
}

void join_thread(thread_slot& slot) {
    bool cancelled = false;
    for (;;) {
        timespec deadline;
        ::clock_gettime(CLOCK_REALTIME, &deadline);
        deadline.tv_nsec += 100 * 1000000L;
        if (deadline.tv_nsec >= 1000000000L) {
            deadline.tv_nsec -= 1000000000L;
            ++deadline.tv_sec;
        }
        if (::pthread_timedjoin_np(slot.id, nullptr, &deadline) != ETIMEDOUT)
            break;
        if (g_cancel != 0 && !cancelled) {
            // Every slot still holding an id has a thread that was not joined yet.
            for (thread_slot& running : thread_info)
                if (running.id != 0)
                    ::pthread_cancel(running.id);
            cancelled = true;
        }
    }
    slot.id = 0;
}

void* app_if(void* list) {
    auto& devices = *static_cast<devList*>(list);
    while (g_exit == 0) {
        // The file always shows the devices of the cycle just ended.
        devices.save_and_clear();
        init_interfaces(false);
        sleep_unless_stopping(5000);
    }
    std::printf("%s Exit\n", "app_if");
    std::fflush(stdout);
    return nullptr;
}

void remove_temporaries_of_killed_runs(const std::string& product_dir,
                                       const std::string& devlist_file) {
    for (const std::string& folder :
         {product_dir, product_dir + "/settings", product_dir + "/users", folder_of(devlist_file)})
        remove_stale_temporaries(folder);
}
