// tessivane_log: appends audit entries to the log database and prints them back, newest first;
// seals the log against later change and verifies and exports it.
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "log_db.h"
#include "log_entry.h"
#include "log_export.h"
#include "log_row.h"
#include "log_verify.h"
#include "seal_chain.h"
#include "seal_key.h"
#include "version.h"

namespace {

constexpr int kFailure = -1;
constexpr int kUsage = -10;

// The statuses of the sealing commands.
constexpr int kDone = 0;
constexpr int kWrong = 1;   // refused, failed, or (verify) something in the log is wrong
constexpr int kCannot = 2;  // wrong usage, or (verify) the log cannot be checked

constexpr int kDefaultIntervalMinutes = 15;
constexpr int kLongestIntervalMinutes = 366 * 24 * 60;

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

int usage_error(const char* command, const std::string& problem, const char* usage) {
    std::fprintf(stderr, "tessivane_log: %s: %s\nUsage: tessivane_log %s %s\n", command,
                 problem.c_str(), command, usage);
    return kCannot;
}

// The options of verify and export: any number of --key, a --db (the last one counts), and for
// export the form and the file.
struct check_options_s {
    std::vector<verification_key_s> keys;
    std::string db = LOG_DB_PATH;
    std::vector<std::string> words;  // what is not an option
    std::string problem;             // the first wrong argument
};

check_options_s parse_check_options(int argc, char** argv) {
    check_options_s opt;
    for (int i = 2; i < argc && opt.problem.empty(); ++i) {
        const std::string arg = argv[i];
        const bool takes_value = arg == "--key" || arg == "--db";
        if (takes_value && i + 1 >= argc) {
            opt.problem = arg + " needs a value";
        } else if (arg == "--key") {
            verification_key_s key;
            if (!parse_verification_key(argv[++i], key))
                opt.problem =
                    "malformed verification key (expected SEED/START/INTERVAL as "
                    "setup-keys printed it)";
            opt.keys.push_back(key);
        } else if (arg == "--db") {
            opt.db = argv[++i];
        } else {
            opt.words.push_back(arg);
        }
    }
    return opt;
}

int run_setup_keys(int argc, char** argv) {
    static const char usage[] = "[--interval MINUTES] [--force]";
    int64_t minutes = kDefaultIntervalMinutes;
    bool force = false;
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--force") {
            force = true;
        } else if (arg == "--interval" && i + 1 < argc) {
            const std::string value = argv[++i];
            minutes = value.find_first_not_of("0123456789") == std::string::npos &&
                              !value.empty() && value.size() <= 6
                          ? std::stoll(value)
                          : 0;
            if (minutes < 1 || minutes > kLongestIntervalMinutes)
                return usage_error("setup-keys",
                                   "--interval takes whole minutes from 1 to " +
                                       std::to_string(kLongestIntervalMinutes),
                                   usage);
        } else {
            return usage_error("setup-keys", "unknown argument " + arg, usage);
        }
    }
    log_db_s log;
    if (const int rc = open_log_db_quiet(log, LOG_DB_PATH, SQLITE_OPEN_READWRITE); rc != 0) {
        std::fprintf(stderr, "tessivane_log: setup-keys: cannot open %s: %s\n", LOG_DB_PATH,
                     sqlite3_errstr(rc));
        return kWrong;
    }
    const std::string key_path = key_file_path(LOG_DB_PATH);
    setup_result_s result;
    switch (setup_sealing(log.db.get(), key_path, minutes * 60, force, time(nullptr), result)) {
    case setup_e::already_sealed:
        std::fprintf(stderr,
                     "tessivane_log: setup-keys: %s is already sealed (setup %lld, since %s); "
                     "--force starts a new sealing period with a new key\n",
                     LOG_DB_PATH, static_cast<long long>(result.setup),
                     format_utc_time(result.start).c_str());
        return kWrong;
    case setup_e::failed:
        std::fprintf(stderr, "tessivane_log: setup-keys: %s\n", result.why.c_str());
        return kWrong;
    case setup_e::done:
        break;
    }
    if (result.setup > 1) {
        std::printf(
            "A new sealing period begins: setup %lld replaces the key of setup %lld. "
            "Entries sealed before keep their seals; verify them with the earlier "
            "verification key.\n",
            static_cast<long long>(result.setup), static_cast<long long>(result.setup - 1));
    }
    std::printf(
        "Sealing set up for %s (setup %lld): %lld %s already in the log sealed; "
        "the key moves on every %lld %s.\n",
        LOG_DB_PATH, static_cast<long long>(result.setup),
        static_cast<long long>(result.sealed_now), result.sealed_now == 1 ? "entry" : "entries",
        static_cast<long long>(minutes), minutes == 1 ? "minute" : "minutes");
    std::printf("Sealing key (secret, stays on this machine): %s\n", key_path.c_str());
    std::printf("Verification key:\n\n    %s\n\n", format_verification_key(result.key).c_str());
    std::printf(
        "Keep the verification key off this machine: write it down or put it in the "
        "lab's records.\nIt is shown only this once; whoever holds it can check the log "
        "(tessivane_log verify --key KEY) and could also forge seals.\n");
    return kDone;
}

int open_for_checking(log_db_s& log, const std::string& path, const char* command) {
    // One thread: SQLite's per-call locking would cost a walk over a million rows a tenth.
    const int rc = open_log_db_quiet(log, path.c_str(), SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX);
    if (rc != 0)
        std::fprintf(stderr, "tessivane_log: %s: cannot open %s: %s\n", command, path.c_str(),
                     sqlite3_errstr(rc));
    return rc;
}

int run_verify(int argc, char** argv) {
    static const char usage[] = "[--key VERIFICATION_KEY] [--db PATH]";
    const check_options_s opt = parse_check_options(argc, argv);
    if (!opt.problem.empty())
        return usage_error("verify", opt.problem, usage);
    if (!opt.words.empty())
        return usage_error("verify", "unknown argument " + opt.words[0], usage);
    log_db_s log;
    if (open_for_checking(log, opt.db, "verify") != 0)
        return kCannot;
    verify_report_s report;
    std::string why;
    const verify_e verdict = verify_log(log, opt.keys, report, why);
    if (verdict == verify_e::cannot_check) {
        std::fprintf(stderr, "tessivane_log: verify: %s: %s\n", opt.db.c_str(), why.c_str());
        return kCannot;
    }
    std::fputs(format_report(report, verdict == verify_e::pass).c_str(), stdout);
    return verdict == verify_e::pass ? kDone : kWrong;
}

int run_export(int argc, char** argv) {
    static const char usage[] = "[--csv | --jsonl] FILE [--key VERIFICATION_KEY] [--db PATH]";
    check_options_s opt = parse_check_options(argc, argv);
    if (!opt.problem.empty())
        return usage_error("export", opt.problem, usage);
    std::string form;
    if (!opt.words.empty() && (opt.words[0] == "--csv" || opt.words[0] == "--jsonl")) {
        form = opt.words[0];
        opt.words.erase(opt.words.begin());
    }
    if (opt.words.size() != 1 || opt.words[0].empty() || opt.words[0][0] == '-')
        return usage_error("export", "one output FILE is needed", usage);
    if (form.empty() && !opt.keys.empty())
        return usage_error("export", "--key goes with --csv or --jsonl", usage);
    const std::string& file = opt.words[0];
    log_db_s log;
    if (open_for_checking(log, opt.db, "export") != 0)
        return kWrong;
    std::string why;
    if (form.empty()) {
        if (!export_database(log, file, why)) {
            std::fprintf(stderr, "tessivane_log: export: %s: %s\n", file.c_str(), why.c_str());
            return kWrong;
        }
        std::printf(
            "Copied %s to %s; check it anywhere with: tessivane_log verify --db %s "
            "--key KEY\n",
            opt.db.c_str(), file.c_str(), file.c_str());
        return kDone;
    }
    verify_report_s report;
    const export_format_e format = form == "--csv" ? export_format_e::csv : export_format_e::jsonl;
    if (!export_entries(log, opt.keys, format, file, report, why)) {
        std::fprintf(stderr, "tessivane_log: export: %s\n", why.c_str());
        return kWrong;
    }
    std::string first_wrong;
    if (report.fault) {
        first_wrong = "; first wrong entry: row " + std::to_string(report.fault_entry.rowid) +
                      " (" + status_name(report.fault_kind) + ")";
    }
    std::printf("%lld entries written to %s: %lld sealed, %lld unsealed%s\n",
                static_cast<long long>(report.entries), file.c_str(),
                static_cast<long long>(report.sealed), static_cast<long long>(report.unsealed),
                first_wrong.c_str());
    return kDone;
}

int run_version(int, char**) {
    std::printf("<tessivane_log> version : %s\n", kLogVersion);
    return 0;
}

struct command_s {
    const char* name;
    int (*run)(int argc, char** argv);
};

constexpr command_s kCommands[] = {
    {"version", run_version},       {"append", run_append},
    {"search_all", run_search_all}, {"search_by_date", run_search_by_date},
    {"setup-keys", run_setup_keys}, {"verify", run_verify},
    {"export", run_export},
};

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::printf("Usage: %s <command> [<options>]\n", argv[0] ? argv[0] : "tessivane_log");
        return kUsage;
    }
    tzset();
    for (const command_s& command : kCommands) {
        if (std::strcmp(argv[1], command.name) == 0)
            return command.run(argc, argv);
    }
    return kFailure;
}
