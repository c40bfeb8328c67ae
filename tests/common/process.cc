#include "common/process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

extern char** environ;

namespace {

double now_s() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

}  // namespace

run_result_s run_program(const std::vector<std::string>& argv, const run_options_s& opt) {
    run_result_s r;
    int pipes[3][2];  // standard input, output, error
    int made = 0;
    // As a shell reports a command it cannot start, whichever step fails.
    const auto cannot_start = [&](const char* step) {
        const int reason = errno;
        for (int i = 0; i < made; ++i) {
            close(pipes[i][0]);
            close(pipes[i][1]);
        }
        r.status = 127;
        r.err = std::string("run_program: ") + step + ": " + std::strerror(reason) + "\n";
        return r;
    };
    while (made < 3 && pipe2(pipes[made], O_CLOEXEC) == 0)
        ++made;
    if (made < 3)
        return cannot_start("pipe");
    auto& [in, out, err] = pipes;
    const pid_t pid = fork();
    if (pid < 0)
        return cannot_start("fork");
    if (pid == 0) {
        dup2(in[0], 0);
        dup2(out[1], 1);
        dup2(err[1], 2);
        for (const auto& name : opt.unset_env)
            unsetenv(name.c_str());
        for (const auto& kv : opt.set_env)
            setenv(kv.first.c_str(), kv.second.c_str(), 1);
        if (!opt.cwd.empty() && chdir(opt.cwd.c_str()) != 0)
            _exit(127);
        std::vector<char*> args;
        for (const auto& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    close(in[0]);
    close(out[1]);
    close(err[1]);
    signal(SIGPIPE, SIG_IGN);
    size_t written = 0;
    int in_fd = in[1];
    if (opt.input.empty()) {
        close(in_fd);
        in_fd = -1;
    }
    bool out_open = true, err_open = true;
    const double deadline = now_s() + opt.timeout_s;
    while (out_open || err_open) {
        pollfd fds[3];
        int n = 0;
        if (out_open)
            fds[n++] = {out[0], POLLIN, 0};
        if (err_open)
            fds[n++] = {err[0], POLLIN, 0};
        if (in_fd >= 0)
            fds[n++] = {in_fd, POLLOUT, 0};
        double left = deadline - now_s();
        if (left <= 0) {
            kill(pid, SIGKILL);
            r.timed_out = true;
            break;
        }
        if (poll(fds, n, static_cast<int>(left * 1000) + 1) < 0)
            continue;
        for (int i = 0; i < n; ++i) {
            if (fds[i].revents == 0)
                continue;
            if (fds[i].fd == in_fd) {
                ssize_t w = write(in_fd, opt.input.data() + written, opt.input.size() - written);
                if (w > 0)
                    written += static_cast<size_t>(w);
                if (w < 0 || written == opt.input.size()) {
                    close(in_fd);
                    in_fd = -1;
                }
                continue;
            }
            char buf[65536];
            ssize_t got = read(fds[i].fd, buf, sizeof buf);
            bool is_out = fds[i].fd == out[0];
            if (got <= 0) {
                (is_out ? out_open : err_open) = false;
            } else {
                (is_out ? r.out : r.err).append(buf, static_cast<size_t>(got));
            }
        }
    }
    if (in_fd >= 0)
        close(in_fd);
    close(out[0]);
    close(err[0]);
    int st = 0;
    pid_t waited;
    while ((waited = waitpid(pid, &st, 0)) < 0 && errno == EINTR) {
    }
    if (waited < 0)
        return r;
    if (WIFEXITED(st))
        r.status = WEXITSTATUS(st);
    if (WIFSIGNALED(st))
        r.signal = WTERMSIG(st);
    return r;
}

std::string shell_output(const std::string& command) {
    return run_program({"/bin/sh", "-c", command}).out;
}
