// tessivane_log: appends audit entries to the log database and prints them back, newest first.
#include <cstdio>
#include <cstring>
#include <ctime>

#include "log_db.h"
#include "log_entry.h"
#include "version.h"

namespace {

constexpr int kFailure = -1;
constexpr int kUsage = -10;

int run_append(int argc, char** argv) {
    if (argc != 6)
        return kFailure;
    log_db_s log;
    if (!open_log_db(log, LOG_DB_PATH))
        return kFailure;
    const log_entry_s entry = make_entry(time(nullptr), argv[2], argv[3], argv[4], argv[5]);
    return append_entry(log, entry) ? 0 : kFailure;
}

int run_search_all(int argc, char** argv) {
    const int32_t limit = argc > 2 ? parse_limit_arg(argv[2]) : 100;
    log_db_s log;
    if (!open_log_db(log, LOG_DB_PATH))
        return 0;
    search_all(log, limit);
    return 0;
}

int run_search_by_date(int argc, char** argv) {
    if (argc < 4)
        return kFailure;
    const int64_t from = parse_time_arg(argv[2]);
    const int64_t to = parse_time_arg(argv[3]);
    const int32_t limit = argc > 4 ? parse_limit_arg(argv[4]) : 1000;
    log_db_s log;
    if (!open_log_db(log, LOG_DB_PATH))
        return 0;
    search_range(log, from, to, limit);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::printf("Usage: %s <command> [<options>]\n", argv[0] ? argv[0] : "tessivane_log");
        return kUsage;
    }
    tzset();
    const char* command = argv[1];
    if (std::strcmp(command, "version") == 0) {
        std::printf("<tessivane_log> version : %s\n", kLogVersion);
        return 0;
    }
    if (std::strcmp(command, "append") == 0)
        return run_append(argc, argv);
    if (std::strcmp(command, "search_all") == 0)
        return run_search_all(argc, argv);
    if (std::strcmp(command, "search_by_date") == 0)
        return run_search_by_date(argc, argv);
    return kFailure;
}
