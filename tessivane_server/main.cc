// tessivane_server: the instrument link daemon. Serves the devices on UDP port 2001 and the
// PC-side application on UDP port 2002 until SIGTERM; `tessivane_server version` prints the
// version and exits.
#include <csignal>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <pthread.h>

#include "interfaces.h"
#include "server.h"

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "version") == 0) {
        std::printf("%s version : %s\n", "<tessivane_server>", ORVEL_K2_VERSION);
        return 0;
    }
    // Whole lines reach a journal or pipe as they are written, not when a buffer fills.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);

    remove_temporaries_of_killed_runs();
    init_interfaces(true);
    join_bind_addr = client_addr;

    struct sigaction action {};
    action.sa_handler = term;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;
    ::sigaction(SIGTERM, &action, nullptr);

    for (size_t i = 0; i < thread_count; ++i) {
        std::printf("Starting %luprocess Exit\n", static_cast<unsigned long>(i));
        std::fflush(stdout);
        pthread_t id;
        const int error = ::pthread_create(&id, nullptr, thread_info[i].entry, thread_info[i].arg);
        if (error != 0) {
            // perror's line, built by hand: pthread_create returns its error and leaves errno.
            std::fprintf(stderr, "%s: %s\n", "thread create error:", std::strerror(error));
            std::fflush(stdout);
            // Status 255 (-1) without running static destructors: the threads already started
            // still use the device list.
            std::_Exit(255);
        }
        thread_info[i].id = id;
    }
    for (size_t i = 0; i < thread_count; ++i) {
        if (thread_info[i].id == 0)
            continue;
        std::printf("Waiting %lu process Exit\n", static_cast<unsigned long>(i));
        std::fflush(stdout);
        join_thread(thread_info[i]);
        std::printf("End of %lu process Exit\n", static_cast<unsigned long>(i));
        std::fflush(stdout);
    }
    std::printf("Tessivane_server Exit\n");
    std::fflush(stdout);
    return 0;
}
