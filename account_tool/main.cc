// tessivane: the user-management command that tessivane_server runs for every account
// operation. It keeps the accounts in ACCOUNT_DB (PRODUCT_DIR/users/accounts.db), created on
// first use.
//
//   tessivane add_user NAME PASSWORD admin|supervisor|user [--timeout=N] [--group=TEXT] [--longname=TEXT]
//       Creates an active account (status 1, login_fail_cnt 0). Options left out store 0 or "".
//       NAME, the group and the long name must be UTF-8; the password may hold any bytes.
//   tessivane update_user NAME [--status=N] [--password=PASSWORD]
//       Sets the status (0 deactivates), the password, or both.
//   tessivane inc_login_fails NAME
//       Adds one to the failed-login count.
//   tessivane search_by_name NAME
//       Prints the account as a JSON object, one member per line, the numbers (which a reader
//       looks up by their quoted key) before any text that could read like a key:
//         {
//           "status": 1,
//           "login_fail_cnt": 0,
//           "timeout": 30,
//           "user_name": "alice",
//           "long_name": "Alice Smith",
//           "level": "admin",
//           "group": "44454641554c54"
//         }
//       Text stored before add_user refused what is not UTF-8 is printed with U+FFFD for
//       every ill-formed part, so the output is always valid JSON.
//
// Success prints nothing but that record; problems go to standard error as one line.
// Every value is stored exactly as given, byte for byte; user names are compared byte for byte.
//
// Exit statuses:
//   0  success
//   1  failure: the account store could not be opened, read or written (also after waiting
//      5 seconds for a lock), the password could not be hashed, or the record not printed
//   2  bad usage: unknown command, missing, extra or malformed arguments, an empty user name
//      or password, a level other than admin, supervisor or user, an add_user name, group or
//      long name that is not UTF-8 (nothing changed)
//   3  add_user: the user already exists (nothing changed)
//   4  update_user, inc_login_fails, search_by_name: no such user (nothing changed)
#include <cstdio>
#include <string>
#include <vector>

#include "account_json.h"
#include "account_store.h"
#include "command_line.h"

namespace {

enum exit_status_e {
    exit_ok = 0,
    exit_failure = 1,
    exit_usage = 2,
    exit_exists = 3,
    exit_unknown = 4
};

int report(store_result_e result, const request_s& request, const std::string& error) {
    switch (result) {
    case store_result_e::ok:
        return exit_ok;
    case store_result_e::exists:
        std::fprintf(stderr, "tessivane: user %s already exists\n",
                     json_quote(request.user_name).c_str());
        return exit_exists;
    case store_result_e::unknown:
        std::fprintf(stderr, "tessivane: no user %s\n", json_quote(request.user_name).c_str());
        return exit_unknown;
    case store_result_e::failed:
        break;
    }
    std::fprintf(stderr, "tessivane: account store %s: %s\n", ACCOUNT_DB, error.c_str());
    return exit_failure;
}

int run(const request_s& request) {
    std::string error;
    switch (request.command) {
    case command_e::add_user: {
        account_s account;
        account.user_name = request.user_name;
        account.long_name = request.long_name;
        account.level = request.level;
        account.group = request.group;
        account.timeout = request.timeout;
        return report(add_account(ACCOUNT_DB, account, request.password, error), request, error);
    }
    case command_e::update_user:
        return report(update_account(ACCOUNT_DB, request.user_name, request.status,
                                     request.new_password, error),
                      request, error);
    case command_e::inc_login_fails:
        return report(count_failed_login(ACCOUNT_DB, request.user_name, error), request, error);
    case command_e::search_by_name:
        break;
    }
    account_s account;
    const int status =
        report(find_account(ACCOUNT_DB, request.user_name, account, error), request, error);
    if (status != exit_ok)
        return status;
    const std::string text = account_json(account);
    if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() ||
        std::fflush(stdout) != 0) {
        std::perror("tessivane: standard output");
        return exit_failure;
    }
    return exit_ok;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() == 1 && (args[0] == "help" || args[0] == "--help")) {
        std::fputs(usage_text(), stdout);
        return exit_ok;
    }
    request_s request;
    std::string error;
    if (!parse_command_line(args, request, error)) {
        std::fprintf(stderr, "tessivane: %s\n%s", error.c_str(), usage_text());
        return exit_usage;
    }
    return run(request);
}
