// The process around the protocol threads: the device list, the fixed table of worker threads,
// the SIGTERM handler that sets the stop flag (stop.h) and the housekeeping thread.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <pthread.h>
#include <string>

#include "device_list.h"
#include "paths.h"

// The devices that announced themselves in the current cycle, saved to DEVLIST_FILE.
extern devList dev_list;

struct thread_slot {
    pthread_t id;  // 0 while the thread is not running; only main touches it
    const char* name;
    void* (*entry)(void*);
    void* arg;
};
constexpr size_t thread_count = 3;
// device_if (port 2001), app_if (housekeeping), join_if (port 2002), started and joined in this
// order.
extern thread_slot thread_info[thread_count];

// The address the joining interface binds to (network byte order, 0 = all addresses): the
// secondary interface as the start-up scan found it, taken before any thread starts.
extern uint32_t join_bind_addr;

// Set by the second and later SIGTERM: main cancels the threads it has not joined yet.
extern std::atomic<int> g_cancel;

// SIGTERM handler. The first signal sets g_exit and writes "Caught 15!"; a later one sets
// g_cancel. Async-signal-safe: pthread_cancel is not (it may load the unwinder), and only the
// thread that joins the workers knows which of them still exist, so main does the cancelling.
void term(int signo);

// Joins the thread of `slot`, waking every 100 ms to cancel the threads still running once
// g_cancel is set; sets the slot's id to 0 when it has been joined.
void join_thread(thread_slot& slot);

// Housekeeping thread: until g_exit is set, saves and clears the device list in one step,
// rescans the interfaces, and waits 5 seconds. `list` is the devList. Prints "app_if Exit" at the end.
void* app_if(void* list);

// Removes the temporary files that killed runs left in the folders the daemon writes: the product
// folder (bridge address), its settings/ (settings copies) and users/ (password notice), and the
// device list's folder. Runs in main before any thread writes.
void remove_temporaries_of_killed_runs(const std::string& product_dir = default_product_dir,
                                       const std::string& devlist_file = default_devlist_file);
