#include "interfaces.h"

#include <cstdio>
#include <cstring>
#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include "files.h"
#include "paths.h"

std::atomic<uint32_t> client_addr{0};

namespace {

// Addresses last published (primary) and last reported (secondary); only init_interfaces, which
// runs in main before the threads start and afterwards only in app_if, touches them.
uint64_t last_bridge_ip = 0;
uint64_t last_hostonly_ip = 0;

const char* const dmi_family_path = "/sys/devices/virtual/dmi/id/product_family";
constexpr unsigned bridge_port = 22;
// Up and running, not loopback.
constexpr unsigned qualifying_mask = IFF_UP | IFF_RUNNING | IFF_LOOPBACK;
constexpr unsigned qualifying_flags = IFF_UP | IFF_RUNNING;

// False when the file cannot be opened: the start-up scan is skipped then.
bool read_dmi_family() {
    const unique_file file = open_for_reading(dmi_family_path);
    if (!file)
        return false;
    char text[128] = {};
    const size_t got = std::fread(text, 1, sizeof text - 1, file.get());
    if (got > 0 && std::strstr(text, "Virtual Machine"))
        std::printf("Running inside VM\n");
    return true;
}

bool write_bridge_file(const char* host) {
    char line[64];
    const int length = std::snprintf(line, sizeof line, "%s:%u\n", host, bridge_port);
    // Read by other software on the PC.
    return replace_file_atomically(
        std::string(default_product_dir) + "/bridge_addr.txt", 0644,
        [&](int fd) { return write_all(fd, line, static_cast<size_t>(length)); });
}

}  // namespace

void init_interfaces(bool verbose) {
    if (verbose && !read_dmi_family())
        return;
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0)
        return;
    int found = 0;
    for (const ifaddrs* entry = list; entry && found < 2; entry = entry->ifa_next) {
        if (!entry->ifa_addr || entry->ifa_addr->sa_family != AF_INET ||
            (entry->ifa_flags & qualifying_mask) != qualifying_flags)
            continue;
        if (verbose)
            std::printf("%-8s (%x)\n", entry->ifa_name, entry->ifa_flags);
        char host[128];
        if (::getnameinfo(entry->ifa_addr, sizeof(sockaddr_in), host, sizeof host, nullptr, 0,
                          NI_NUMERICHOST) != 0)
            continue;
        if (verbose)
            std::printf("\t\taddress: <%s>\n", host);
        const uint32_t address =
            reinterpret_cast<const sockaddr_in*>(entry->ifa_addr)->sin_addr.s_addr;
        if (++found == 1) {
            if (address != last_bridge_ip) {
                std::printf("\nPRIMARY: %s (0x%x)\n", host, address);
                if (write_bridge_file(host))
                    last_bridge_ip = address;
            }
        } else {
            client_addr = address;
            if (address != last_hostonly_ip) {
                std::printf("SECONDARY: %s (0x%x)\n", host, address);
                last_hostonly_ip = address;
            }
        }
    }
    ::freeifaddrs(list);
    std::fflush(stdout);
}
