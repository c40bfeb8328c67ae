// Runs a built program as a child process, the way the installation's other software does:
// arguments, environment and standard input in; standard output, standard error and status out.
#pragma once

#include <string>
#include <utility>
#include <vector>

struct run_result_s {
    std::string out;
    std::string err;
    int status = -1;  // exit status 0..255, or -1 when the child did not exit normally
    int signal = 0;   // terminating signal, 0 when it exited
    bool timed_out = false;
};

struct run_options_s {
    std::vector<std::pair<std::string, std::string>> set_env;  // added or replaced
    std::vector<std::string> unset_env;
    std::string input;        // written to standard input, then closed
    std::string cwd;          // empty: the test's own
    double timeout_s = 60.0;  // the child is killed after this
};

// argv[0] is the program path. Never throws; a program that cannot be started (no pipe, no
// process, nothing to execute) shows as status 127, with the reason in err when it was this
// process that failed.
run_result_s run_program(const std::vector<std::string>& argv, const run_options_s& opt = {});

// Standard output of `command` run by /bin/sh.
std::string shell_output(const std::string& command);
