// Load client of the server benchmark: plays N devices that send 116-byte announcements to a UDP
// port on loopback and measures the replies.
//
//   server_bench_client PORT closed DEVICES SECONDS
//       every device sends its next announcement as soon as the reply to the last one came in
//       (one device: request, reply, next)
//   server_bench_client PORT paced DEVICES RATE SECONDS
//       RATE announcements per second in all, the devices taking turns
//
// Prints one line: mode, devices, sent, replies, lost (no reply within a second), replies per
// second, p50 and p99 latency in microseconds. A sequence number travels in the padding bytes
// (77-79), which both the server and an echo send back unchanged.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <string>
#include <vector>

namespace {

using clock_type = std::chrono::steady_clock;
constexpr auto reply_limit = std::chrono::seconds(1);

struct device_s {
    int fd = -1;
    unsigned char record[116] = {};
    uint32_t next_seq = 0;
    std::map<uint32_t, clock_type::time_point> waiting;  // sequence -> sent at
};

void seal(unsigned char* record) {
    uint32_t sum = 0;
    for (int i = 0; i < 112; ++i)
        sum += static_cast<uint32_t>(static_cast<int32_t>(static_cast<int8_t>(record[i])));
    std::memcpy(record + 112, &sum, 4);
}

void set_text(unsigned char* record, int offset, const std::string& text) {
    std::memcpy(record + offset, text.data(), text.size());
}

struct bench_s {
    sockaddr_in server{};
    std::vector<device_s> devices;
    std::vector<double> latencies_us;
    long sent = 0, lost = 0;

    void send(device_s& d) {
        const uint32_t seq = d.next_seq++ & 0xFFFFFF;
        d.record[77] = static_cast<unsigned char>(seq);
        d.record[78] = static_cast<unsigned char>(seq >> 8);
        d.record[79] = static_cast<unsigned char>(seq >> 16);
        seal(d.record);
        d.waiting[seq] = clock_type::now();
        ::sendto(d.fd, d.record, sizeof d.record, 0, reinterpret_cast<sockaddr*>(&server),
                 sizeof server);
        ++sent;
    }

    // Takes every reply waiting on the sockets (up to `wait` for the first); calls `on_reply`
    // with each device that got one.
    template <typename F>
    void collect(clock_type::duration wait, F on_reply) {
        std::vector<pollfd> waits;
        for (const device_s& d : devices)
            waits.push_back({d.fd, POLLIN, 0});
        const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(wait).count();
        const timespec limit = {static_cast<time_t>(ns / 1000000000),
                                static_cast<long>(ns % 1000000000)};
        if (::ppoll(waits.data(), waits.size(), &limit, nullptr) <= 0)
            return;
        for (size_t i = 0; i < waits.size(); ++i) {
            if (!(waits[i].revents & POLLIN))
                continue;
            unsigned char reply[256];
            while (true) {
                const ssize_t got = ::recv(devices[i].fd, reply, sizeof reply, MSG_DONTWAIT);
                if (got < 80)
                    break;
                const uint32_t seq = reply[77] | reply[78] << 8 | reply[79] << 16;
                const auto it = devices[i].waiting.find(seq);
                if (it == devices[i].waiting.end())
                    continue;  // came after it was counted lost
                latencies_us.push_back(
                    std::chrono::duration<double, std::micro>(clock_type::now() - it->second)
                        .count());
                devices[i].waiting.erase(it);
                on_reply(devices[i]);
            }
        }
    }

    // Requests without a reply for a second are lost; returns how many devices lost one.
    template <typename F>
    void expire(F on_lost) {
        const auto now = clock_type::now();
        for (device_s& d : devices)
            for (auto it = d.waiting.begin(); it != d.waiting.end();) {
                if (now - it->second > reply_limit) {
                    ++lost;
                    it = d.waiting.erase(it);
                    on_lost(d);
                } else {
                    ++it;
                }
            }
    }

    double percentile(double p) {
        if (latencies_us.empty())
            return 0;
        std::sort(latencies_us.begin(), latencies_us.end());
        const size_t at =
            std::min(latencies_us.size() - 1,
                     static_cast<size_t>(p * static_cast<double>(latencies_us.size())));
        return latencies_us[at];
    }
};

}  // namespace

int main(int argc, char** argv) {
    if (argc < 5) {
        std::fprintf(stderr,
                     "usage: %s PORT closed DEVICES SECONDS | PORT paced DEVICES RATE SECONDS\n",
                     argv[0]);
        return 1;
    }
    const int port = std::atoi(argv[1]);
    const std::string mode = argv[2];
    const int count = std::atoi(argv[3]);
    const bool paced = mode == "paced";
    const double rate = paced ? std::atof(argv[4]) : 0;
    const double seconds = std::atof(argv[paced ? 5 : 4]);

    bench_s bench;
    bench.server.sin_family = AF_INET;
    bench.server.sin_port = htons(static_cast<uint16_t>(port));
    bench.server.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bench.devices.resize(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        device_s& d = bench.devices[static_cast<size_t>(i)];
        d.fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        set_text(d.record, 0, "Bench" + std::to_string(i));
        set_text(d.record, 32, "BENCH" + std::to_string(i));
        set_text(d.record, 64, "1.8.4");
    }

    const auto start = clock_type::now();
    const auto end = start + std::chrono::duration_cast<clock_type::duration>(
                                 std::chrono::duration<double>(seconds));
    long replies = 0;
    if (!paced) {
        for (device_s& d : bench.devices)
            bench.send(d);
        while (clock_type::now() < end) {
            bench.collect(std::chrono::milliseconds(10), [&](device_s& d) {
                ++replies;
                if (clock_type::now() < end)
                    bench.send(d);
            });
            bench.expire([&](device_s& d) { bench.send(d); });
        }
    } else {
        const auto interval = std::chrono::duration_cast<clock_type::duration>(
            std::chrono::duration<double>(1.0 / rate));
        auto next = start;
        size_t turn = 0;
        while (clock_type::now() < end) {
            while (clock_type::now() >= next && next < end) {
                bench.send(bench.devices[turn++ % bench.devices.size()]);
                next += interval;
            }
            // Sleeps until the next send is due rather than spinning, which would take the CPU
            // from the server being measured.
            const auto until_next =
                std::max(clock_type::duration::zero(), next - clock_type::now());
            bench.collect(until_next, [&](device_s&) { ++replies; });
            bench.expire([](device_s&) {});
        }
    }
    // The last replies, then whatever is still missing counts as lost.
    const auto drain_end = clock_type::now() + reply_limit;
    while (clock_type::now() < drain_end) {
        bool waiting = false;
        for (const device_s& d : bench.devices)
            waiting = waiting || !d.waiting.empty();
        if (!waiting)
            break;
        bench.collect(std::chrono::milliseconds(10), [&](device_s&) { ++replies; });
    }
    for (device_s& d : bench.devices) {
        bench.lost += static_cast<long>(d.waiting.size());
        ::close(d.fd);
    }
    const double elapsed = std::chrono::duration<double>(clock_type::now() - start).count();
    std::printf(
        "%-6s %3d devices  sent %7ld  replies %7ld  lost %4ld  %8.0f/s  p50 %6.0f us  p99 %6.0f "
        "us\n",
        mode.c_str(), count, bench.sent, replies, bench.lost,
        static_cast<double>(replies) / std::min(elapsed, seconds), bench.percentile(0.50),
        bench.percentile(0.99));
    return 0;
}
