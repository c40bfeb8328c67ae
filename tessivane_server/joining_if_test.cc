#include "joining_if.h"

#include <sys/stat.h>

#include "test_support.h"

TEST(ToHex, WritesEachCharacterCode) {
    EXPECT_EQ(to_hex("DEFAULT"), "44454641554c54");
    EXPECT_EQ(to_hex(""), "");
    EXPECT_EQ(to_hex("\x80\xff\x0a"), "ff80ffffa");
}

struct JoinProcess : ::testing::Test {
    ScratchDir dir;
    std::string tool = dir / "tool";
    // The stand-in exits with `status` after recording its arguments.
    void stand_in(const std::string& body) {
        write_text(tool,
                   "#!/bin/sh\nprintf '%s\\n' \"$@\" > '" + (dir / "args") + "'\n" + body + "\n");
        ::chmod(tool.c_str(), 0755);
    }
    user_info_s user() {
        user_info_s u{};
        std::memcpy(u.user_name, "bob", 3);
        std::memcpy(u.password, "secret", 6);
        std::memcpy(u.long_name, "Bob B", 5);
        u.level = 1;
        u.timeout = 30;
        return u;
    }
    int join(user_info_s& u, Captured* c = nullptr) {
        int result = 0;
        const Captured out = capture([&] { result = join_process(&u, tool); });
        if (c)
            *c = out;
        return result;
    }
};

TEST_F(JoinProcess, PassesTheAccountAndHidesThePassword) {
    stand_in("echo lots of output; exit 0");
    user_info_s u = user();
    Captured c;
    EXPECT_EQ(join(u, &c), 0);
    EXPECT_EQ(read_text(dir / "args"),
              "add_user\nbob\nsecret\nsupervisor\n--timeout=30\n--group=44454641554c54\n"
              "--longname=Bob B\n");
    EXPECT_NE(c.out.find(" : popen() '" + tool + "' add_user 'bob' '********' supervisor"),
              std::string::npos);
    EXPECT_NE(c.out.find("join_process"), std::string::npos);
    EXPECT_NE(c.out.find(" : pclose() returned 0\n"), std::string::npos);
    EXPECT_EQ(c.out.find("secret"), std::string::npos);
}

TEST_F(JoinProcess, ResultIsTheExitStatusAsSignedByte) {
    user_info_s u = user();
    stand_in("exit 3");
    EXPECT_EQ(join(u), 3);
    stand_in("exit 255");
    EXPECT_EQ(join(u), -1);
    stand_in("exit 128");
    EXPECT_EQ(join(u), -128);
    // Killed by a signal is a failure too (128 + 9 as the shell reports it), never 0.
    stand_in("kill -9 $$");
    EXPECT_EQ(join(u), static_cast<int8_t>(128 + 9));
}

TEST_F(JoinProcess, NameIsCutTo63Bytes) {
    stand_in("exit 0");
    user_info_s u = user();
    std::memset(u.user_name, 'n', sizeof u.user_name);
    std::memset(u.long_name, 'l', sizeof u.long_name);  // no NUL: read up to the field's width
    join(u);
    EXPECT_EQ(u.user_name[63], '\0');
    EXPECT_EQ(read_text(dir / "args"), "add_user\n" + std::string(63, 'n') +
                                           "\nsecret\nsupervisor\n--timeout=30\n"
                                           "--group=44454641554c54\n--longname=" +
                                           std::string(64, 'l') + "\n");
}
