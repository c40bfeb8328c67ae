// The scan of the machine's network interfaces: the first IPv4 interface that is up, running and
// not loopback is the primary (bridged) one, whose address is published in
// <product_dir>/bridge_addr.txt as "ADDR:22"; the second is the secondary (host-only) one, on which
// the joining interface listens. Later interfaces are never looked at.
#pragma once

#include <atomic>
#include <cstdint>

// Address of the secondary interface, network byte order; 0 until a scan finds one.
extern std::atomic<uint32_t> client_addr;

// One scan. `verbose` (the start-up scan) first reads the DMI product family, prints
// "Running inside VM" when it names a virtual machine, and skips the scan altogether when the
// file cannot be opened; it also prints every qualifying interface. A scan prints "PRIMARY: ..."
// and rewrites the bridge file (atomically) only when the primary address changed, and
// "SECONDARY: ..." only when the secondary did. A bridge file that cannot be written is tried
// again at the next scan.
void init_interfaces(bool verbose);
