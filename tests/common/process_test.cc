#include "common/process.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <gtest/gtest.h>

namespace {

int lowest_free_fd() {
    const int fd = open("/dev/null", O_RDONLY | O_CLOEXEC);
    close(fd);
    return fd;
}

}  // namespace

// Whichever step fails, a program that does not start reads as a shell's 127, and no
// descriptor is left behind.
TEST(RunProgram, ProgramThatCannotStartShowsAs127) {
    run_result_s r = run_program({"/nonexistent/program"});
    EXPECT_EQ(r.status, 127);
    EXPECT_EQ(r.out + r.err, "");

    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
    const int first = lowest_free_fd();
    // No descriptor left for the first, the second or the third pipe.
    for (const int room : {0, 2, 4}) {
        rlimit tight = saved;
        tight.rlim_cur = static_cast<rlim_t>(first + room);
        ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &tight), 0);
        r = run_program({"/bin/true"});
        ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &saved), 0);
        EXPECT_EQ(r.status, 127) << room;
        EXPECT_EQ(r.err, "run_program: pipe: Too many open files\n");
        EXPECT_EQ(lowest_free_fd(), first);
    }
    EXPECT_EQ(run_program({"/bin/true"}).status, 0);
}
