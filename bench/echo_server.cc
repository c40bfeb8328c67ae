// The floor of the server benchmark: a plain UDP echo server on loopback that sends every
// datagram straight back, one thread, blocking calls.
//   server_bench_echo PORT
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s PORT\n", argv[0]);
        return 1;
    }
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(static_cast<uint16_t>(std::atoi(argv[1])));
    local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
        std::perror("bind");
        return 1;
    }
    for (;;) {
        char buffer[2048];
        sockaddr_in from{};
        socklen_t fromlen = sizeof from;
        const ssize_t got =
            ::recvfrom(fd, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &fromlen);
        if (got >= 0)
            ::sendto(fd, buffer, static_cast<size_t>(got), 0, reinterpret_cast<sockaddr*>(&from),
                     fromlen);
    }
}
