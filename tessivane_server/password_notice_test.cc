#include "password_notice.h"

#include "test_support.h"

struct PasswordNotice : ::testing::Test {
    ProductDir product;
    void SetUp() override { fs::create_directories(product.dir + "/users"); }
    std::string path() { return product.dir + "/users/pw_changed.txt"; }
};

TEST_F(PasswordNotice, LaterNoticeReplacesTheEarlierAndIsTakenOnce) {
    ASSERT_TRUE(write_password_notice("alice", product.dir));
    ASSERT_TRUE(write_password_notice("bob", product.dir));
    EXPECT_EQ(read_text(path()), "bob");
    std::string name = "x";
    ASSERT_TRUE(claim_password_notice(name, product.dir));
    EXPECT_EQ(name, "bob");
    EXPECT_FALSE(claim_password_notice(name, product.dir));
    // Nothing is left behind: no notice, no claimed copy, no temporary file.
    EXPECT_TRUE(fs::is_empty(product.dir + "/users"));
}

TEST_F(PasswordNotice, ClaimReadsOneLineOfAtMost31Bytes) {
    write_text(path(), std::string(40, 'n'));
    std::string name;
    ASSERT_TRUE(claim_password_notice(name, product.dir));
    EXPECT_EQ(name, std::string(31, 'n'));
    write_text(path(), "first\nsecond");
    ASSERT_TRUE(claim_password_notice(name, product.dir));
    EXPECT_EQ(name, "first");
}

TEST_F(PasswordNotice, WriteFailsWithoutTheUsersFolder) {
    fs::remove_all(product.dir + "/users");
    EXPECT_FALSE(write_password_notice("alice", product.dir));
}
