// Benchmark probe (not a test): how long a writer of the audit log waits for its lock while
// something else reads the log. Every 5 ms it takes the write lock as an append's commit does
// (retrying every 1 to 2 ms, for at most 10 s) and, holding it, writes a row into a table of
// its own, bench_probe (never logs: the seals stay as they are), so it also makes an online
// backup start again as an append would. On SIGTERM it prints
// "<longest wait ms> <median wait ms> <writes> <locks not had>" and exits.
//   log_lock_wait DB
#include <signal.h>
#include <sqlite3.h>
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

volatile sig_atomic_t g_stop = 0;

double now_ms() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

void pause_ms(long ms) {
    const timespec pause{0, ms * 1000000};
    nanosleep(&pause, nullptr);
}

// The tool's schedule: 1 ms, then 2 ms, until 10 s have passed.
int retry(void* started, int count) {
    if (now_ms() - *static_cast<double*>(started) > 10000)
        return 0;
    pause_ms(count == 0 ? 1 : 2);
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: log_lock_wait DB\n");
        return 2;
    }
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(argv[1], &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
        std::fprintf(stderr, "log_lock_wait: cannot open %s\n", argv[1]);
        return 1;
    }
    signal(SIGTERM, [](int) { g_stop = 1; });
    double started = now_ms();
    sqlite3_busy_handler(db, retry, &started);
    if (sqlite3_exec(db, "CREATE TABLE IF NOT EXISTS bench_probe(at REAL)", nullptr, nullptr,
                     nullptr) != SQLITE_OK) {
        std::fprintf(stderr, "log_lock_wait: %s\n", sqlite3_errmsg(db));
        return 1;
    }
    std::vector<double> waits;
    int not_had = 0;
    while (!g_stop) {
        started = now_ms();
        if (sqlite3_exec(db, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr) == SQLITE_OK) {
            waits.push_back(now_ms() - started);
            sqlite3_exec(db, "INSERT INTO bench_probe VALUES(julianday('now')); COMMIT", nullptr,
                         nullptr, nullptr);
        } else {
            ++not_had;
        }
        pause_ms(5);
    }
    sqlite3_close(db);
    std::sort(waits.begin(), waits.end());
    std::printf("%.1f %.1f %zu %d\n", waits.empty() ? 0.0 : waits.back(),
                waits.empty() ? 0.0 : waits[waits.size() / 2], waits.size(), not_had);
    return 0;
}
