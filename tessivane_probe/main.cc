// tessivane_probe: a command-line client of tessivane_server's UDP protocol for service engineers
// and monitoring. It only reads; the one request that leaves a trace is the announcement, which
// registers the probe like an instrument.
#include <arpa/inet.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
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
    "                             request is sent once more and waited for as long again\n"
    "  --json                     one JSON object per reply, one per line\n"
    "  --help                     this text\n"
    "\n"
    "Exit status: 0 every request answered; 1 usage; 2 no reply within the time limit;\n"
    "3 a reply of the wrong size or with a wrong checksum (its bytes in hex on standard error).\n";

struct options_s {
    std::string host = "127.0.0.1";
    std::string joining_host;  // empty: host
    int port = 0;              // 0: the command's default
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

struct request_s {
    std::string name;  // as the command line and the JSON call it
    uint16_t port = 0;
    std::vector<wire_bytes> datagrams;
    size_t reply_size = 0;
};

// Runs the requests one after the other, prints every reply, and returns the exit status.
class session {
public:
    session(const options_s& opt, const in_addr& host, const in_addr& joining_host)
        : opt_(opt), host_(host), joining_host_(joining_host) {}

    // Sends one request. True with `reply` filled when it was answered; otherwise the failure is
    // reported (standard error, and a JSON object with --json) and kept for the exit status.
    bool ask(const request_s& r, wire_bytes& reply, peer_s& peer) {
        const bool joining = r.port == joining_port;
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(r.port);
        to.sin_addr = joining ? joining_host_ : host_;
        char text[INET_ADDRSTRLEN] = "";
        ::inet_ntop(AF_INET, &to.sin_addr, text, sizeof text);
        peer = {text, r.port};
        ++asked_;
        const exchange_s got = exchange(to, r.datagrams, r.reply_size, opt_.timeout_s);
        const std::string from = r.name + " from " + peer.host + ":" + std::to_string(r.port);
        if (got.status == exchange_status_e::answered) {
            ++answered_;
            reply = got.reply;
            return true;
        }
        if (got.status == exchange_status_e::no_reply) {
            status_ = std::max(status_, exit_no_reply);
            std::fprintf(stderr, "tessivane_probe: no reply to %s within 2 x %g s%s%s\n",
                         from.c_str(), opt_.timeout_s, got.error.empty() ? "" : "; ",
                         got.error.c_str());
            if (opt_.json)
                show(failure_view(r.name, peer, "no reply"));
            return false;
        }
        status_ = exit_bad_reply;
        std::string problem;
        if (got.check == reply_check_e::wrong_size) {
            problem = "wrong size";
            std::fprintf(stderr, "tessivane_probe: reply to %s: %zu bytes, expected %zu%s\n",
                         from.c_str(), got.received, r.reply_size,
                         got.received > got.reply.size() ? " (the first ones shown)" : "");
        } else {
            problem = "wrong checksum";
            std::fprintf(stderr,
                         "tessivane_probe: reply to %s: wrong checksum (sent %d, bytes sum to "
                         "%d)\n",
                         from.c_str(), get_i32(got.reply, got.reply.size() - 4),
                         sum_before_checksum(got.reply));
        }
        std::fputs(hex_dump(got.reply).c_str(), stderr);
        if (opt_.json)
            show(failure_view(r.name, peer, problem));
        return false;
    }

    void show(const view_s& view) {
        if (opt_.json) {
            std::printf("%s\n", view.json.c_str());
        } else {
            std::printf("%s%s", shown_ ? "\n" : "", table_text(view.rows).c_str());
            shown_ = true;
        }
        std::fflush(stdout);
    }

    int status() const { return status_; }
    int asked() const { return asked_; }
    int answered() const { return answered_; }

private:
    const options_s& opt_;
    in_addr host_, joining_host_;
    int status_ = exit_answered;
    int asked_ = 0, answered_ = 0;
    bool shown_ = false;
};

request_s server_info_request(uint16_t port) {
    return {"server-info", port, {header_record(request_server_info)}, server_info_size};
}

request_s version_request() {
    return {"version", joining_port, {header_record(request_version)}, version_reply_size};
}

void run_server_info(session& s, uint16_t port) {
    wire_bytes reply;
    peer_s peer;
    if (s.ask(server_info_request(port), reply, peer))
        s.show(server_info_view(peer, decode_server_info(reply)));
}

void run_version(session& s) {
    wire_bytes reply;
    peer_s peer;
    if (s.ask(version_request(), reply, peer))
        s.show(version_view(peer, decode_version(reply)));
}

}  // namespace

int main(int argc, char** argv) {
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
    const std::string command = opt.words[0];
    const std::vector<std::string> args(opt.words.begin() + 1, opt.words.end());
    const bool takes_port =
        command == "server-info" || command == "login-fails" || command == "account-status";
    if (opt.port != 0 && !takes_port)
        return usage("--port does not apply to " + command);

    size_t min_args = 0, max_args = 0;
    if (command == "announce") {
        min_args = 1;
        max_args = 3;
    } else if (command == "login-fails" || command == "account-status") {
        min_args = max_args = 1;
    } else if (command != "version" && command != "server-info" && command != "health") {
        return usage("unknown command " + command);
    }
    if (args.size() < min_args || args.size() > max_args)
        return usage("wrong number of arguments for " + command);

    in_addr host{}, joining_host{};
    if (!resolve_ipv4(opt.host, host))
        return usage("cannot resolve host " + opt.host);
    const std::string joining_name = opt.joining_host.empty() ? opt.host : opt.joining_host;
    if (!resolve_ipv4(joining_name, joining_host))
        return usage("cannot resolve host " + joining_name);

    session s(opt, host, joining_host);
    if (command == "version") {
        run_version(s);
    } else if (command == "server-info") {
        if (opt.port == 0 || opt.port == device_port)
            run_server_info(s, device_port);
        if (opt.port == 0 || opt.port == joining_port)
            run_server_info(s, joining_port);
    } else if (command == "health") {
        run_version(s);
        run_server_info(s, device_port);
        run_server_info(s, joining_port);
        s.show(health_view(s.answered(), s.asked()));
    } else if (command == "announce") {
        const std::string serial = args[0];
        const std::string name = args.size() > 1 ? args[1] : serial;
        const std::string version = args.size() > 2 ? args[2] : default_sw_version;
        std::string problem = field_problem("SERIAL", serial, serial_width);
        if (problem.empty() && serial.find('/') != std::string::npos)
            problem = "SERIAL holds a slash (the server names files after it)";
        // An empty name would make the server hand the probe the password-change notice meant
        // for the next instrument, so the probe always announces with a name.
        if (problem.empty())
            problem = field_problem("NAME", name, device_name_width);
        if (problem.empty())
            problem = field_problem("VERSION", version, sw_version_width);
        if (!problem.empty())
            return usage(problem);
        const bool new_format = uses_new_settings_format(version);
        wire_bytes reply;
        peer_s peer;
        const request_s request = {
            "announce", device_port, {announce_record(name, serial, version)}, announce_size};
        if (s.ask(request, reply, peer)) {
            const announce_reply_s a = decode_announce(reply);
            s.show(announce_view(peer, a, new_format, local_date(a.protocol_mtime)));
        }
    } else {
        const std::string& user = args[0];
        // 63 bytes at most: the name then always ends with a NUL inside its field.
        if (const std::string problem = field_problem("USER", user, user_name_width - 1);
            !problem.empty())
            return usage(problem);
        const bool fails = command == "login-fails";
        const auto port = static_cast<uint16_t>(opt.port == 0 ? device_port : opt.port);
        wire_bytes reply;
        peer_s peer;
        if (s.ask({command,
                   port,
                   {header_record(fails ? request_get_login_fail : request_get_status),
                    name_record(user)},
                   name_record_size},
                  reply, peer))
            s.show(name_view(command, peer, decode_name_record(reply)));
    }
    return s.status();
}
