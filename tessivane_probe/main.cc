// tessivane_probe: a command-line client of tessivane_server's UDP protocol for service engineers
// and monitoring. It only reads; the one request that leaves a trace is the announcement, which
// registers the probe like an instrument.
#include <arpa/inet.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "exchange.h"
#include "report.h"
#include "wire.h"

namespace {

constexpr int exit_answered = 0, exit_usage = 1, exit_no_reply = 2, exit_bad_reply = 3;
constexpr const char* default_sw_version = "1.8.4";

const char* const help_text =
    "Usage: tessivane_probe [OPTIONS] COMMAND [ARGUMENTS]\n"
    "Asks tessivane_server over UDP and shows its replies.\n"
    "\n"
    "Commands:\n"
    "  version                    the server's version text (port 2002)\n"
    "  server-info                the password policy and approval settings, from both ports\n"
    "                             (or the one given with --port)\n"
    "  announce SERIAL [NAME [VERSION]]\n"
    "                             announce as a device (port 2001) and show what the server\n"
    "                             sends back: the registered name, security level, protocol\n"
    "                             counts and file time, the cell-counting settings by name, the\n"
    "                             server time. This registers the probe like a real instrument:\n"
    "                             it shows in the device list for one cycle (about 5 s), and\n"
    "                             the server creates the device's settings file from its\n"
    "                             default when missing. NAME defaults to SERIAL, VERSION to\n"
    "                             1.8.4 (which picks the settings format).\n"
    "  login-fails USER           the user's failed-login count (port 2001, or --port)\n"
    "  account-status USER        the user's account status (port 2001, or --port)\n"
    "  health                     version and server-info on both ports; never announces\n"
    "\n"
    "Options:\n"
    "  --host ADDR                the server, for both ports (default 127.0.0.1)\n"
    "  --joining-host ADDR        the server's address for port 2002, which it binds to the\n"
    "                             host-only address alone when the PC has two networks\n"
    "  --port 2001|2002           one port only (server-info, login-fails, account-status)\n"
    "  --timeout SECONDS          how long to wait for a reply (default 2); without one the\n"
    "                             request is sent once more and waited for as long again.\n"
    "                             This bounds the whole command: its requests go out at once,\n"
    "                             so any command ends within twice SECONDS, host name lookups\n"
    "                             included\n"
    "  --json                     one JSON object per reply, one per line\n"
    "  --help                     this text\n"
    "\n"
    "Exit status: 0 every request answered; 1 usage; 2 no reply within the time limit;\n"
    "3 a reply of the wrong size or with a wrong checksum (its bytes in hex on standard error).\n";

struct options_s {
    std::string host = "127.0.0.1";
    std::optional<std::string> joining_host;  // unset: host
    int port = 0;                             // 0: the command's default
    double timeout_s = 2.0;
    bool json = false;
    std::vector<std::string> words;  // the command and its arguments
};

int usage(const std::string& problem) {
    std::fprintf(stderr, "tessivane_probe: %s\nTry 'tessivane_probe --help'.\n", problem.c_str());
    return exit_usage;
}

// A text for a fixed-width field: 1..width bytes without control characters.
std::string field_problem(const std::string& what, const std::string& text, size_t width) {
    if (text.empty())
        return what + " is empty";
    if (text.size() > width)
        return what + " is longer than " + std::to_string(width) + " bytes";
    for (unsigned char c : text)
        if (c < 0x20 || c == 0x7F)
            return what + " holds a control character";
    return "";
}

// Parses argv into `opt`; an empty string on success, else the problem.
std::string parse(int argc, char** argv, options_s& opt, bool& help) {
    bool options_done = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (options_done || arg.size() < 2 || arg.compare(0, 2, "--") != 0) {
            opt.words.push_back(arg);
            continue;
        }
        if (arg == "--") {
            options_done = true;
            continue;
        }
        if (arg == "--help") {
            help = true;
            continue;
        }
        if (arg == "--json") {
            opt.json = true;
            continue;
        }
        if (arg != "--host" && arg != "--joining-host" && arg != "--port" && arg != "--timeout")
            return "unknown option " + arg;
        if (i + 1 >= argc)
            return arg + " needs a value";
        const std::string value = argv[++i];
        if (arg == "--host") {
            opt.host = value;
        } else if (arg == "--joining-host") {
            opt.joining_host = value;
        } else if (arg == "--port") {
            if (value != "2001" && value != "2002")
                return "--port is 2001 or 2002";
            opt.port = std::atoi(value.c_str());
        } else {
            char* end = nullptr;
            const double t = std::strtod(value.c_str(), &end);
            if (value.empty() || *end != '\0' || !std::isfinite(t) || t <= 0 || t > 3600)
                return "--timeout takes seconds, more than 0 and at most 3600";
            opt.timeout_s = t;
        }
    }
    return "";
}

// One request of a command, and how its reply is shown once its size and checksum are checked.
struct request_s {
    std::string name;  // as the command line and the JSON call it
    uint16_t port = 0;
    std::vector<wire_bytes> datagrams;
    size_t reply_size = 0;
    std::function<view_s(const peer_s&, const wire_bytes&)> view;
};

request_s server_info_request(uint16_t port) {
    request_s r{"server-info", port, {header_record(request_server_info)}, server_info_size, {}};
    r.view = [](const peer_s& peer, const wire_bytes& reply) {
        return server_info_view(peer, decode_server_info(reply));
    };
    return r;
}

request_s version_request() {
    request_s r{"version", joining_port, {header_record(request_version)}, version_reply_size, {}};
    r.view = [](const peer_s& peer, const wire_bytes& reply) {
        return version_view(peer, decode_version(reply));
    };
    return r;
}

// The planners of the commands: the requests for the command line's words (the command, then
// its arguments, whose number the table below has checked), or the problem with an argument.
std::string plan_version(const options_s&, std::vector<request_s>& requests) {
    requests = {version_request()};
    return "";
}

std::string plan_server_info(const options_s& opt, std::vector<request_s>& requests) {
    for (const uint16_t port : {device_port, joining_port})
        if (opt.port == 0 || opt.port == port)
            requests.push_back(server_info_request(port));
    return "";
}

std::string plan_health(const options_s&, std::vector<request_s>& requests) {
    requests = {version_request(), server_info_request(device_port),
                server_info_request(joining_port)};
    return "";
}

std::string plan_announce(const options_s& opt, std::vector<request_s>& requests) {
    const std::vector<std::string>& w = opt.words;
    const std::string& serial = w[1];
    const std::string& name = w.size() > 2 ? w[2] : serial;
    const std::string version = w.size() > 3 ? w[3] : default_sw_version;
    std::string problem = field_problem("SERIAL", serial, serial_width);
    if (problem.empty() && serial.find('/') != std::string::npos)
        problem = "SERIAL holds a slash (the server names files after it)";
    // An empty name would make the server hand the probe the password-change notice meant for
    // the next instrument, so the probe always announces with a name.
    if (problem.empty())
        problem = field_problem("NAME", name, device_name_width);
    if (problem.empty())
        problem = field_problem("VERSION", version, sw_version_width);
    if (!problem.empty())
        return problem;
    request_s r{
        "announce", device_port, {announce_record(name, serial, version)}, announce_size, {}};
    r.view = [new_format = uses_new_settings_format(version)](const peer_s& peer,
                                                              const wire_bytes& reply) {
        const announce_reply_s a = decode_announce(reply);
        return announce_view(peer, a, new_format, local_date(a.protocol_mtime));
    };
    requests = {r};
    return "";
}

// login-fails and account-status.
std::string plan_name_read(const options_s& opt, std::vector<request_s>& requests) {
    const std::string& command = opt.words[0];
    const std::string& user = opt.words[1];
    // 63 bytes at most: the name then always ends with a NUL inside its field.
    if (std::string problem = field_problem("USER", user, user_name_width - 1); !problem.empty())
        return problem;
    const bool fails = command == "login-fails";
    const auto port = static_cast<uint16_t>(opt.port == 0 ? device_port : opt.port);
    request_s r{
        command,
        port,
        {header_record(fails ? request_get_login_fail : request_get_status), name_record(user)},
        name_record_size,
        {}};
    r.view = [command](const peer_s& peer, const wire_bytes& reply) {
        return name_view(command, peer, decode_name_record(reply));
    };
    requests = {r};
    return "";
}

struct command_s {
    const char* name;
    size_t min_args, max_args;
    bool takes_port;  // --port picks one port
    bool summary;     // the replies are followed by the health summary
    std::string (*plan)(const options_s&, std::vector<request_s>&);
};

const command_s commands[] = {
    {"version", 0, 0, false, false, plan_version},
    {"server-info", 0, 0, true, false, plan_server_info},
    {"health", 0, 0, false, true, plan_health},
    {"announce", 1, 3, false, false, plan_announce},
    {"login-fails", 1, 1, true, false, plan_name_read},
    {"account-status", 1, 1, true, false, plan_name_read},
};

const command_s* find_command(const std::string& name) {
    for (const command_s& c : commands)
        if (name == c.name)
            return &c;
    return nullptr;
}

// Empty when `name` resolved into `out`, else the problem.
std::string resolve(const std::string& name, steady_time deadline, in_addr& out) {
    switch (resolve_ipv4(name, deadline, out)) {
    case resolve_e::resolved:
        return "";
    case resolve_e::timed_out:
        return "cannot resolve host " + name + ": the name service did not answer in time";
    default:
        return "cannot resolve host " + name;
    }
}

// The views of a command on standard output: tables apart by a blank line, or with --json one
// object a line.
class printer {
public:
    explicit printer(bool json) : json_(json) {}
    bool json() const { return json_; }
    void show(const view_s& view) {
        if (json_) {
            std::printf("%s\n", view.json.c_str());
        } else {
            std::printf("%s%s", shown_ ? "\n" : "", table_text(view.rows).c_str());
            shown_ = true;
        }
        std::fflush(stdout);
    }

private:
    bool json_;
    bool shown_ = false;
};

// Shows what became of one request: the reply's view, or the failure on standard error (and as
// a JSON object with --json). Returns the exit status the outcome stands for.
int report(const request_s& r, const peer_s& peer, const exchange_s& got, double timeout_s,
           printer& out) {
    if (got.status == exchange_status_e::answered) {
        out.show(r.view(peer, got.reply));
        return exit_answered;
    }
    const std::string from = r.name + " from " + peer.host + ":" + std::to_string(peer.port);
    if (got.status == exchange_status_e::no_reply) {
        std::fprintf(stderr, "tessivane_probe: no reply to %s within 2 x %g s%s%s\n", from.c_str(),
                     timeout_s, got.error.empty() ? "" : "; ", got.error.c_str());
        if (out.json())
            out.show(failure_view(r.name, peer, "no reply"));
        return exit_no_reply;
    }
    std::string problem;
    if (got.check == reply_check_e::wrong_size) {
        problem = "wrong size";
        std::fprintf(stderr, "tessivane_probe: reply to %s: %zu bytes, expected %zu%s\n",
                     from.c_str(), got.received, r.reply_size,
                     got.received > got.reply.size() ? " (the first ones shown)" : "");
    } else {
        problem = "wrong checksum";
        std::fprintf(
            stderr, "tessivane_probe: reply to %s: wrong checksum (sent %d, bytes sum to %d)\n",
            from.c_str(), get_i32(got.reply, got.reply.size() - 4), sum_before_checksum(got.reply));
    }
    std::fputs(hex_dump(got.reply).c_str(), stderr);
    if (out.json())
        out.show(failure_view(r.name, peer, problem));
    return exit_bad_reply;
}

// Sends the requests all at once, then shows every outcome in the requests' order, whichever
// reply came first. Returns the exit status: the worst outcome.
int run(const command_s& command, const options_s& opt, const std::vector<request_s>& requests,
        const in_addr& host, const in_addr& joining_host, steady_time deadline) {
    std::vector<exchange_request_s> sent;
    std::vector<peer_s> peers;
    for (const request_s& r : requests) {
        exchange_request_s e;
        e.to.sin_family = AF_INET;
        e.to.sin_port = htons(r.port);
        e.to.sin_addr = r.port == joining_port ? joining_host : host;
        e.datagrams = r.datagrams;
        e.reply_size = r.reply_size;
        char text[INET_ADDRSTRLEN] = "";
        ::inet_ntop(AF_INET, &e.to.sin_addr, text, sizeof text);
        peers.push_back({text, r.port});
        sent.push_back(std::move(e));
    }
    const std::vector<exchange_s> got = exchange_all(sent, opt.timeout_s, deadline);
    printer out(opt.json);
    int status = exit_answered, answered = 0;
    for (size_t i = 0; i < requests.size(); ++i) {
        const int outcome = report(requests[i], peers[i], got[i], opt.timeout_s, out);
        status = std::max(status, outcome);
        answered += outcome == exit_answered ? 1 : 0;
    }
    if (command.summary)
        out.show(health_view(answered, static_cast<int>(requests.size())));
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    // The time limit counts from here: name lookups and both attempts of every request fit in it.
    const auto started = std::chrono::steady_clock::now();
    options_s opt;
    bool help = false;
    if (const std::string problem = parse(argc, argv, opt, help); !problem.empty())
        return usage(problem);
    if (help) {
        std::fputs(help_text, stdout);
        return exit_answered;
    }
    if (opt.words.empty())
        return usage("no command given");
    const std::string& name = opt.words[0];
    const command_s* command = find_command(name);
    if (opt.port != 0 && !(command && command->takes_port))
        return usage("--port does not apply to " + name);
    if (!command)
        return usage("unknown command " + name);
    const size_t args = opt.words.size() - 1;
    if (args < command->min_args || args > command->max_args)
        return usage("wrong number of arguments for " + name);
    std::vector<request_s> requests;
    if (const std::string problem = command->plan(opt, requests); !problem.empty())
        return usage(problem);

    const steady_time deadline =
        started + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                      std::chrono::duration<double>(2 * opt.timeout_s));
    in_addr host{}, joining_host{};
    if (const std::string problem = resolve(opt.host, deadline, host); !problem.empty())
        return usage(problem);
    // An empty --joining-host is refused like an empty --host, never taken for "not given".
    if (const std::string problem =
            resolve(opt.joining_host.value_or(opt.host), deadline, joining_host);
        !problem.empty())
        return usage(problem);
    return run(*command, opt, requests, host, joining_host, deadline);
}
