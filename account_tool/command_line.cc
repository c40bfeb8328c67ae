#include "command_line.h"

#include <crypt.h>

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <utility>

#include "utf8.h"

namespace {

// A whole decimal int32 with an optional sign; no blanks, nothing behind the digits.
bool parse_int(const std::string& text, int& out) {
    if (text.empty() || std::isspace(static_cast<unsigned char>(text[0])))
        return false;
    errno = 0;
    char* end = nullptr;
    long value = std::strtol(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || end == text.c_str() || value < INT_MIN || value > INT_MAX) {
        return false;
    }
    out = static_cast<int>(value);
    return true;
}

// Longer passwords cannot be hashed.
constexpr size_t max_password_bytes = CRYPT_MAX_PASSPHRASE_SIZE - 1;

bool check_password(const std::string& password, std::string& error) {
    if (password.empty()) {
        error = "the password is empty";
        return false;
    }
    if (password.size() > max_password_bytes) {
        error = "the password is longer than " + std::to_string(max_password_bytes) + " bytes";
        return false;
    }
    return true;
}

struct option_s {
    const char* prefix;  // "--name="
    std::optional<std::string>* value;
};

// Every argument must be one of options, each given once.
bool parse_options(const std::vector<std::string>& args, size_t first,
                   const std::vector<option_s>& options, std::string& error) {
    for (size_t i = first; i < args.size(); ++i) {
        const std::string& arg = args[i];
        bool known = false;
        for (const option_s& opt : options) {
            const std::string prefix = opt.prefix;
            if (arg.compare(0, prefix.size(), prefix) != 0)
                continue;
            known = true;
            if (opt.value->has_value()) {
                error = "option " + prefix.substr(0, prefix.size() - 1) + " given twice";
                return false;
            }
            *opt.value = arg.substr(prefix.size());
            break;
        }
        if (!known) {
            // Not repeated: the argument may be a misplaced password.
            error = "unexpected argument " + std::to_string(i + 1);
            return false;
        }
    }
    return true;
}

bool parse_add_user(const std::vector<std::string>& args, request_s& out, std::string& error) {
    if (args.size() < 4) {
        error = "add_user needs a user name, a password and a level";
        return false;
    }
    out.user_name = args[1];
    out.password = args[2];
    out.level = args[3];
    if (!check_password(out.password, error))
        return false;
    if (out.level != "admin" && out.level != "supervisor" && out.level != "user") {
        error = "the level must be admin, supervisor or user";
        return false;
    }
    std::optional<std::string> timeout, group, long_name;
    if (!parse_options(
            args, 4, {{"--timeout=", &timeout}, {"--group=", &group}, {"--longname=", &long_name}},
            error)) {
        return false;
    }
    if (timeout && !parse_int(*timeout, out.timeout)) {
        error = "--timeout needs a whole number";
        return false;
    }
    out.group = group.value_or("");
    out.long_name = long_name.value_or("");
    // The account is printed as JSON, which holds only UTF-8; the password is never printed.
    for (const auto& [text, what] :
         {std::pair{&out.user_name, "user name"}, std::pair{&out.long_name, "long name"},
          std::pair{&out.group, "group"}}) {
        if (!is_utf8(*text)) {
            error = std::string("the ") + what + " is not valid UTF-8";
            return false;
        }
    }
    return true;
}

bool parse_update_user(const std::vector<std::string>& args, request_s& out, std::string& error) {
    if (args.size() < 2) {
        error = "update_user needs a user name";
        return false;
    }
    out.user_name = args[1];
    std::optional<std::string> status;
    if (!parse_options(args, 2, {{"--status=", &status}, {"--password=", &out.new_password}},
                       error)) {
        return false;
    }
    if (!status && !out.new_password) {
        error = "update_user needs --status or --password";
        return false;
    }
    if (status) {
        int value = 0;
        if (!parse_int(*status, value)) {
            error = "--status needs a whole number";
            return false;
        }
        out.status = value;
    }
    return !out.new_password || check_password(*out.new_password, error);
}

}  // namespace

bool parse_command_line(const std::vector<std::string>& args, request_s& out, std::string& error) {
    out = request_s{};
    if (args.empty()) {
        error = "no command given";
        return false;
    }
    const std::string& command = args[0];
    bool ok = false;
    if (command == "add_user") {
        out.command = command_e::add_user;
        ok = parse_add_user(args, out, error);
    } else if (command == "update_user") {
        out.command = command_e::update_user;
        ok = parse_update_user(args, out, error);
    } else if (command == "inc_login_fails" || command == "search_by_name") {
        out.command =
            command == "inc_login_fails" ? command_e::inc_login_fails : command_e::search_by_name;
        if (args.size() != 2) {
            error = command + " needs exactly one user name";
            return false;
        }
        out.user_name = args[1];
        ok = true;
    } else {
        error = "unknown command";
        return false;
    }
    if (ok && out.user_name.empty()) {
        error = "the user name is empty";
        return false;
    }
    return ok;
}

const char* usage_text() {
    return "usage: tessivane add_user NAME PASSWORD admin|supervisor|user [--timeout=N] "
           "[--group=TEXT]"
           " [--longname=TEXT]\n"
           "       tessivane update_user NAME [--status=N] [--password=PASSWORD]\n"
           "       tessivane inc_login_fails NAME\n"
           "       tessivane search_by_name NAME\n";
}
