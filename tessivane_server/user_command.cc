#include "user_command.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstdint>
#include <cstring>
#include <sys/wait.h>

#include "decimal.h"

// A thread cancelled while a command runs is unwound through the frame that waits for the command
// without running that frame's exit. Under AddressSanitizer the exit is what clears the guard
// bytes around the frame's locals; left behind, they trip the sanitizer's own bookkeeping as soon
// as the unwinding reaches a caller. The functions that wait for a command are built without
// stack guards, so that a stop by cancellation is as clean there as in a plain build.
#if defined(__GNUC__)
#define NO_STACK_GUARDS __attribute__((no_sanitize_address))
#else
#define NO_STACK_GUARDS
#endif

std::string shell_quote(const std::string& text) {
    std::string out = "'";
    for (const char c : text) {
        if (c == '\'')
            out += "'\\''";
        else
            out += c;
    }
    return out + "'";
}

std::string shell_word(const std::string& path) {
    if (path.empty())
        return shell_quote(path);
    for (const char c : path)
        if (!std::isalnum(static_cast<unsigned char>(c)) && !std::strchr("/._+,-", c))
            return shell_quote(path);
    return path;
}

std::string inc_login_fails_command(issuer_e issuer, const std::string& user_name,
                                    const std::string& tool) {
    const std::string path = issuer == issuer_e::device_if ? shell_quote(tool) : shell_word(tool);
    return path + " inc_login_fails " + shell_quote(user_name);
}

std::string deactivate_command(const std::string& user_name, const std::string& tool) {
    return shell_word(tool) + " update_user " + shell_quote(user_name) + " --status=0";
}

std::string change_password_command(const std::string& user_name, const std::string& password,
                                    const std::string& tool) {
    return shell_word(tool) + " update_user " + shell_quote(user_name) +
           " --password=" + shell_quote(password);
}

std::string add_user_command(const std::string& user_name, const std::string& password,
                             const char* level_word, int timeout, const std::string& group,
                             const std::string& long_name, const std::string& tool) {
    return shell_quote(tool) + " add_user " + shell_quote(user_name) + " " + shell_quote(password) +
           " " + level_word + " --timeout=" + std::to_string(timeout) + " --group=" + group +
           " --longname=" + shell_quote(long_name);
}

std::string search_by_name_command(const std::string& user_name, const std::string& tool) {
    return shell_word(tool) + " search_by_name " + shell_quote(user_name);
}

int run_command(const std::string& command_line) {
    return std::system(command_line.c_str());
}

NO_STACK_GUARDS std::optional<int> run_discarding_output(const std::string& command_line) {
    // "e": the pipe is not inherited by the commands the other thread starts meanwhile.
    std::FILE* out = ::popen(command_line.c_str(), "re");
    if (!out)
        return std::nullopt;
    // No RAII: a cancelled thread must not wait in pclose for a command that hangs.
    char line[256];
    while (std::fgets(line, sizeof line, out)) {
    }
    return ::pclose(out);
}

int add_user_result(int wait_status) {
    if (wait_status == -1)
        return -10;
    if (WIFSIGNALED(wait_status))
        return static_cast<int8_t>(128 + WTERMSIG(wait_status));
    return static_cast<int8_t>((wait_status >> 8) & 0xFF);
}

namespace {

// The number behind the first occurrence of `key` in `line`; false when the line ends behind the
// key or the text there is not a number.
bool number_behind_key(const char* line, const char* key, int& value) {
    const char* at = std::strstr(line, key);
    if (!at)
        return false;
    at += std::strlen(key);
    while (*at == ' ' || *at == '\t' || *at == ':')
        ++at;
    if (*at == '\0' || *at == '\n' || *at == '\r')
        return false;
    const char* stop = at;
    value = c_decimal(at, &stop);
    return stop != at;
}

}  // namespace

NO_STACK_GUARDS int lookup_number(const std::string& command_line, const char* key) {
    // "e": the pipe is not inherited by the commands the other thread starts meanwhile.
    std::FILE* out = ::popen(command_line.c_str(), "re");
    if (!out)
        return -1;
    // No RAII here: a cancelled thread must not wait in pclose for a command that hangs. The
    // stream then stays open until the process, which is stopping, exits.
    int value = -1;
    char line[256];
    while (std::fgets(line, sizeof line, out)) {
        int number;
        if (number_behind_key(line, key, number)) {
            value = number;
            break;
        }
    }
    ::pclose(out);
    return value;
}

int get_fail_to_login(const std::string& user_name, const std::string& tool) {
    return lookup_number(search_by_name_command(user_name, tool), "\"login_fail_cnt\"");
}

int get_account_deactivate(const std::string& user_name, const std::string& tool) {
    return lookup_number(search_by_name_command(user_name, tool), "\"status\"");
}
