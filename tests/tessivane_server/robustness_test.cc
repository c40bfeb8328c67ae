// Garbage on both ports for a few seconds must not stop, crash or wedge the daemon.
#include <random>
#include <thread>

#include "harness.h"

TEST_F(ServerTest, RandomDatagramsLeaveTheServerAnswering) {
    start();
    udp_client client;
    std::mt19937 random(20240611);
    std::uniform_int_distribution<int> byte(0, 255), length(0, 200), kind(0, 3);
    const auto end = std::chrono::steady_clock::now() + 3s;
    int sent = 0;
    while (std::chrono::steady_clock::now() < end) {
        bytes datagram;
        switch (kind(random)) {
        case 0:  // an announcement that passes the checksum, with random texts
        case 1: {
            datagram.assign(116, '\0');
            for (char& c : datagram)
                c = static_cast<char>(byte(random));
            datagram = sealed(datagram);
            break;
        }
        case 2: {  // a valid header of any code, answered or not
            bytes h(12, '\0');
            put_i32(h, 0, -65536 + byte(random) % 10);
            datagram = sealed(h);
            break;
        }
        default:
            datagram.resize(static_cast<size_t>(length(random)));
            for (char& c : datagram)
                c = static_cast<char>(byte(random));
        }
        client.send(sent % 2 ? joining_port : device_port, datagram,
                    sent % 2 ? joining_address() : "127.0.0.1");
        ++sent;
        if (sent % 50 == 0)
            std::this_thread::sleep_for(5ms);
    }
    while (client.receive(200ms)) {
    }
    // The daemon may still work through the queued garbage, where a valid header takes whatever
    // comes next as its follow-up: an announcement may be swallowed so, but never all of them.
    udp_client device;
    std::optional<bytes> reply;
    for (int attempt = 0; attempt < 5 && !reply; ++attempt)
        reply = device.ask(device_port, announcement("Still", "SN-OK", "1.8.4"), 2000ms);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->substr(0, 6), std::string("Still\0", 6));
    EXPECT_TRUE(checksum_ok(*reply));
}
