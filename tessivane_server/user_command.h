// The external user-management command that holds the accounts. The server keeps none: every
// account operation starts the command through the shell and waits for it.
//
// Command lines, with `tool` the command's path (USER_TOOL). Every text value is one shell word
// in single quotes whatever bytes it holds (see shell_quote); lines are built in storage of
// their own call and never cut short.
//   tool add_user NAME PASSWORD admin|supervisor|user --timeout=N --group=HEX --longname=LONG
//   tool update_user NAME --status=0
//   tool update_user NAME --password=PASSWORD
//   tool inc_login_fails NAME
//   tool search_by_name NAME   prints the account with the keys "login_fail_cnt" and "status"
#pragma once

#include <optional>
#include <string>

constexpr const char* default_user_tool = USER_TOOL;

// `text` between single quotes, each single quote inside written as '\'' : exactly one shell
// word, whatever it holds.
std::string shell_quote(const std::string& text);

// `path` as it is when it needs no quoting (letters, digits and / . _ + , -), else shell_quote.
std::string shell_word(const std::string& path);

// The device interface quotes the command path in this one line; the joining interface does not.
enum class issuer_e { device_if, joining_if };

std::string inc_login_fails_command(issuer_e issuer, const std::string& user_name,
                                    const std::string& tool = default_user_tool);
std::string deactivate_command(const std::string& user_name,
                               const std::string& tool = default_user_tool);
std::string change_password_command(const std::string& user_name, const std::string& password,
                                    const std::string& tool = default_user_tool);
std::string add_user_command(const std::string& user_name, const std::string& password,
                             const char* level_word, int timeout, const std::string& group,
                             const std::string& long_name,
                             const std::string& tool = default_user_tool);
std::string search_by_name_command(const std::string& user_name,
                                   const std::string& tool = default_user_tool);

// Runs `command_line` through the shell and waits; the wait status, or -1 when it could not run.
int run_command(const std::string& command_line);

// Runs `command_line` through the shell, reads and discards its whole output, and waits for it.
// The wait status as pclose returns it (-1 when waiting failed); nullopt when the command could
// not be started.
std::optional<int> run_discarding_output(const std::string& command_line);

// What a join reports for the wait status of add_user: 0 when it exited with 0; otherwise its
// exit status as a signed 8-bit value (3 stays 3, 255 becomes -1); for a command killed by a
// signal, 128 plus the signal number as a signed 8-bit value, as the shell reports it; -10 for a
// wait status of -1 (waiting failed).
int add_user_result(int wait_status);

// Runs `command_line` and reads its output for the number behind `key` (the key text with its
// double quotes, e.g. "\"status\""): in the first line holding the key whose text after the key
// (blanks and colons skipped) starts with a decimal number, that number. -1 when no line has one,
// including a command that cannot be started. The command's exit status is not looked at.
int lookup_number(const std::string& command_line, const char* key);

// The user's failed-login count and account status as search_by_name reports them; -1 unknown.
int get_fail_to_login(const std::string& user_name, const std::string& tool = default_user_tool);
int get_account_deactivate(const std::string& user_name,
                           const std::string& tool = default_user_tool);
