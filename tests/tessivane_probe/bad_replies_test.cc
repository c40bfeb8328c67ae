// Fake servers on loopback that answer with broken records: the probe reports them with exit
// status 3 and their bytes in hex, and never reads past what it received.
#include <arpa/inet.h>
#include <poll.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <random>
#include <thread>

#include "common/files.h"
#include "harness.h"
#include "probe_run.h"

namespace {

// Answers every datagram on 127.0.0.1:`port` with whatever `answer` returns for it (nothing for
// an empty result), from its own socket or, when `stranger` is set, from another port.
class fake_server {
public:
    using answer_fn = std::function<std::vector<bytes>(const bytes& request, int index)>;

    fake_server(uint16_t port, answer_fn answer) : answer_(std::move(answer)) {
        fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        other_fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_port = htons(port);
        local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bound_ = ::bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof local) == 0;
        thread_ = std::thread([this] { serve(); });
    }
    ~fake_server() {
        stop_ = true;
        thread_.join();
        ::close(fd_);
        ::close(other_fd_);
    }
    bool bound() const { return bound_; }
    std::vector<bytes> requests() {
        std::lock_guard<std::mutex> lock(mutex_);
        return requests_;
    }
    std::atomic<bool> stranger{false};

private:
    void serve() {
        while (!stop_) {
            pollfd wait = {fd_, POLLIN, 0};
            if (::poll(&wait, 1, 50) <= 0)
                continue;
            char buffer[2048];
            sockaddr_in from{};
            socklen_t fromlen = sizeof from;
            const ssize_t got = ::recvfrom(fd_, buffer, sizeof buffer, 0,
                                           reinterpret_cast<sockaddr*>(&from), &fromlen);
            if (got < 0)
                continue;
            const bytes request(buffer, static_cast<size_t>(got));
            int index;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                requests_.push_back(request);
                index = static_cast<int>(requests_.size()) - 1;
            }
            for (const bytes& reply : answer_(request, index))
                ::sendto(stranger ? other_fd_ : fd_, reply.data(), reply.size(), 0,
                         reinterpret_cast<sockaddr*>(&from), fromlen);
        }
    }

    answer_fn answer_;
    int fd_ = -1, other_fd_ = -1;
    bool bound_ = false;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::vector<bytes> requests_;
    std::thread thread_;
};

bytes zeros(size_t n) {
    return bytes(n, '\0');
}

// The reply sizes of each command, and where the probe's last datagram of it has that size.
struct command_s {
    std::vector<std::string> args;
    uint16_t port;
    size_t reply_size;
};
const std::vector<command_s> commands = {
    {{"--port", "2001", "server-info"}, 2001, 28},
    {{"version"}, 2002, 68},
    {{"announce", "SN1", "Fake", "1.8.4"}, 2001, 116},
    {{"login-fails", "alice"}, 2001, 72},
    {{"--port", "2002", "account-status", "alice"}, 2002, 72},
};

// Answers the datagram that completes a request (the header alone, or its follow-up).
std::function<std::vector<bytes>(const bytes&, int)> answer_with(std::function<bytes()> make) {
    return [make](const bytes& request, int) -> std::vector<bytes> {
        if (request.size() == 12) {
            const int32_t type = get_i32(request, 0);
            if (type == get_login_fail_request || type == get_status_request)
                return {};
        }
        return {make()};
    };
}

class BadReplies : public ::testing::Test {
protected:
    void SetUp() override {
        if (!enter_private_network())
            GTEST_SKIP() << "needs a private network namespace (root), ports 2001/2002 are shared";
    }
};

}  // namespace

TEST_F(BadReplies, WrongChecksumIsExitThreeWithTheBytesInHex) {
    bytes reply = sealed(zeros(28));
    put_i32(reply, 0, 8);  // changed after sealing
    fake_server server(2001, answer_with([&] { return reply; }));
    ASSERT_TRUE(server.bound());
    const auto r = probe({"--port", "2001", "server-info"});
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("reply to server-info from 127.0.0.1:2001: wrong checksum (sent 0, bytes "
                         "sum to 8)\n08 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00\n"
                         "00 00 00 00 00 00 00 00 00 00 00 00\n"),
              std::string::npos)
        << r.err;
    const auto j = probe({"--json", "--port", "2001", "server-info"});
    EXPECT_EQ(j.status, 3);
    EXPECT_EQ(j.out,
              "{\"request\":\"server-info\",\"host\":\"127.0.0.1\",\"port\":2001,"
              "\"error\":\"wrong checksum\"}\n");
}

TEST_F(BadReplies, ShortAndLongRepliesAreWrongSizes) {
    for (const auto& c : commands) {
        for (const size_t size :
             {size_t{0}, size_t{4}, c.reply_size - 4, c.reply_size + 1, size_t{1500}}) {
            // Sealed, so only the size is wrong.
            const bytes reply = sealed(zeros(std::max<size_t>(size, 4))).substr(0, size);
            fake_server server(c.port, answer_with([&] { return reply; }));
            ASSERT_TRUE(server.bound());
            const auto r = probe(c.args);
            EXPECT_EQ(r.status, 3) << c.args.back() << " " << size << "\n" << r.err;
            EXPECT_NE(r.err.find(": " + std::to_string(size) + " bytes, expected " +
                                 std::to_string(c.reply_size)),
                      std::string::npos)
                << r.err;
            if (size > c.reply_size) {
                EXPECT_NE(r.err.find("(the first ones shown)"), std::string::npos) << r.err;
            }
            EXPECT_EQ(r.out, "");
        }
    }
}

TEST_F(BadReplies, RandomBytesNeverCrashTheProbe) {
    std::mt19937 random(20261209);
    std::uniform_int_distribution<int> byte(0, 255);
    for (const auto& c : commands) {
        for (int round = 0; round < 6; ++round) {
            // Right size and random content: sealed every other round, so both the checksum
            // test and the decoding of arbitrary values (texts, counts, times) are exercised.
            bytes reply(round < 4 ? c.reply_size : static_cast<size_t>(byte(random)) + 1, '\0');
            for (char& b : reply)
                b = static_cast<char>(byte(random));
            const bool seal_it = round % 2 == 0 && reply.size() >= 4;
            if (seal_it)
                reply = sealed(reply);
            fake_server server(c.port, answer_with([&] { return reply; }));
            ASSERT_TRUE(server.bound());
            std::vector<std::string> args = c.args;
            args.insert(args.begin(), "--json");
            const auto r = probe(args);
            const bool valid = reply.size() == c.reply_size && seal_it;
            EXPECT_EQ(r.status, valid ? 0 : 3) << c.args.back() << " round " << round << r.err;
            // Whatever the bytes, the output is one valid JSON object.
            EXPECT_EQ(json_lines(r.out).size(), 1u) << r.out;
            if (valid) {
                EXPECT_EQ(probe(c.args).status, 0);
            }
        }
    }
}

TEST_F(BadReplies, OnlyTheServersOwnPortCountsAndOneRetryIsSent) {
    // A reply from another port is not the server's.
    {
        fake_server server(2001, answer_with([] { return sealed(zeros(28)); }));
        server.stranger = true;
        ASSERT_TRUE(server.bound());
        const auto r = probe({"--timeout", "0.4", "--port", "2001", "server-info"});
        EXPECT_EQ(r.status, 2) << r.out;
        EXPECT_EQ(server.requests().size(), 2u) << "the request and its one retry";
    }
    // The first request lost, the retry answered.
    {
        fake_server server(2001, [](const bytes&, int index) -> std::vector<bytes> {
            if (index == 0)
                return {};
            bytes reply = zeros(28);
            put_i32(reply, 0, 12);
            return {sealed(reply)};
        });
        ASSERT_TRUE(server.bound());
        const auto r = probe({"--json", "--timeout", "1", "--port", "2001", "server-info"});
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_NE(r.out.find("\"pw_min_length\":12"), std::string::npos) << r.out;
        const auto requests = server.requests();
        ASSERT_EQ(requests.size(), 2u);
        EXPECT_EQ(requests[0], requests[1]);
        EXPECT_EQ(requests[0], header(server_info_request));
    }
    // Two replies where one is expected: the first decides.
    {
        fake_server server(2002, [](const bytes&, int) -> std::vector<bytes> {
            return {sealed(zeros(68)), bytes(3, 'x')};
        });
        ASSERT_TRUE(server.bound());
        EXPECT_EQ(probe({"version"}).status, 0);
    }
}

TEST_F(BadReplies, HealthReportsTheWorstOutcome) {
    // Port 2002 answers well, port 2001 with a broken record.
    fake_server joining(2002, [](const bytes& request, int) -> std::vector<bytes> {
        return {sealed(zeros(get_i32(request, 0) == version_request ? 68 : 28))};
    });
    fake_server device(2001, answer_with([] { return bytes(28, '\x01'); }));
    ASSERT_TRUE(joining.bound() && device.bound());
    const auto r = probe({"--json", "health"});
    EXPECT_EQ(r.status, 3) << r.err;
    auto docs = json_lines(r.out);
    ASSERT_EQ(docs.size(), 4u) << r.out;
    EXPECT_STREQ(docs[1]["error"].GetString(), "wrong checksum");
    EXPECT_FALSE(docs[3]["healthy"].GetBool());
    EXPECT_EQ(docs[3]["answered"].GetInt(), 2);
}

TEST_F(BadReplies, HealthShowsTheRepliesInOrderWhicheverComesFirst) {
    // Port 2001 answers at once, port 2002 only after a while.
    fake_server joining(2002, [](const bytes& request, int) -> std::vector<bytes> {
        std::this_thread::sleep_for(300ms);
        bytes reply = zeros(get_i32(request, 0) == version_request ? 68 : 28);
        put_text(reply, 0, "V");
        return {sealed(reply)};
    });
    fake_server device(2001, answer_with([] { return sealed(zeros(28)); }));
    ASSERT_TRUE(joining.bound() && device.bound());
    const auto r = probe({"health"});
    EXPECT_EQ(r.status, 0) << r.err;
    // The 2001 reply is all zeros; the 2002 one begins with "V", 86 as the minimum length.
    const auto server_info = [](const std::string& port, const std::string& min_length) {
        return "Request             server-info\n"
               "Server              127.0.0.1:" +
               port + "\npw. Minimum length  " + min_length +
               "\npw. Change cycle    0\npw. Account lock    0\nmsc. Auto logout    0\n"
               "msc. Self approval  Off (0)\nmsc. File transfer  0\n";
    };
    EXPECT_EQ(r.out, "Request       version\nServer        127.0.0.1:2002\nVersion text  V\n\n" +
                         server_info("2001", "0") + "\n" + server_info("2002", "86") +
                         "\nHealth    ok\nAnswered  3 of 3\n");
}

TEST_F(BadReplies, ASilentNameServiceCannotHoldTheCommand) {
    // A name server on loopback that never answers, in a mount namespace of this test.
    const std::string resolv = scratch_dir + "/resolv.conf";
    ASSERT_TRUE(fresh_dir(scratch_dir));
    ASSERT_TRUE(write_file(resolv, "nameserver 127.0.0.1\n"));
    if (::unshare(CLONE_NEWNS) != 0 ||
        ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        ::mount(resolv.c_str(), "/etc/resolv.conf", nullptr, MS_BIND, nullptr) != 0)
        GTEST_SKIP() << "needs a private mount namespace (root)";
    fake_server names(53, [](const bytes&, int) -> std::vector<bytes> { return {}; });
    ASSERT_TRUE(names.bound());
    const auto from = std::chrono::steady_clock::now();
    const auto r = probe({"--timeout", "0.5", "--host", "counter-pc.invalid", "version"});
    const auto ms =
        std::chrono::duration_cast<milliseconds>(std::chrono::steady_clock::now() - from).count();
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.err.find("cannot resolve host counter-pc.invalid"), std::string::npos) << r.err;
    EXPECT_LT(ms, 1800) << "the lookup is bounded by the command's time limit";
    EXPECT_FALSE(names.requests().empty()) << "the name was asked for";
}
