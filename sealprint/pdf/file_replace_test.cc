#include "pdf/file_replace.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>

#include <gtest/gtest.h>

namespace {

namespace fs = std::filesystem;

class FileReplace : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = ::testing::TempDir() + "file_replace_" + std::to_string(getpid());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        target_ = dir_ + "/report.pdf";
    }
    void TearDown() override { fs::remove_all(dir_); }

    void write(const std::string& path, const std::string& bytes) {
        std::ofstream(path, std::ios::binary) << bytes;
    }
    std::string read(const std::string& path) {
        std::ifstream f(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
    }
    std::set<std::string> names() {
        std::set<std::string> found;
        for (const auto& entry : fs::directory_iterator(dir_)) {
            found.insert(entry.path().filename());
        }
        return found;
    }
    mode_t mode_of(const std::string& path) {
        struct stat st;
        return stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
    }
    static contents_writer_f writing(const std::string& bytes) {
        return [bytes](int fd) {
            return write_all_or_errno(fd, bytes.data(), bytes.size());
        };
    }

    std::string dir_, target_;
};

TEST_F(FileReplace, ReplacesTheTargetKeepingItsPermissionBits) {
    write(target_, "old");
    ASSERT_EQ(chmod(target_.c_str(), 0640), 0);
    const replace_outcome_s r = replace_file(target_, ".t-", writing("new contents"));
    EXPECT_EQ(r.failed, REPLACE_DONE);
    EXPECT_EQ(read(target_), "new contents");
    EXPECT_EQ(mode_of(target_), 0640u);
    EXPECT_EQ(names(), std::set<std::string>{"report.pdf"});
}

TEST_F(FileReplace, MissingTargetIsCreatedAsANewFileWouldBe) {
    const mode_t mask = umask(022);
    const replace_outcome_s r = replace_file(target_, ".t-", writing("made"));
    umask(mask);
    EXPECT_EQ(r.failed, REPLACE_DONE);
    EXPECT_EQ(read(target_), "made");
    EXPECT_EQ(mode_of(target_), 0644u);
}

TEST_F(FileReplace, FailedWriterLeavesTheTargetAndNoTemporaryFile) {
    write(target_, "old");
    const replace_outcome_s r = replace_file(target_, ".t-", [](int fd) {
        write_all_or_errno(fd, "half", 4);
        return ENOSPC;
    });
    EXPECT_EQ(r.failed, REPLACE_WRITE);
    EXPECT_EQ(r.error, ENOSPC);
    EXPECT_EQ(read(target_), "old");
    EXPECT_EQ(names(), std::set<std::string>{"report.pdf"});
}

TEST_F(FileReplace, MissingFolderFailsAtCreation) {
    const replace_outcome_s r = replace_file(dir_ + "/gone/report.pdf", ".t-", writing("x"));
    EXPECT_EQ(r.failed, REPLACE_CREATE);
    EXPECT_EQ(r.error, ENOENT);
}

TEST_F(FileReplace, TargetThatIsAFolderFailsAtRenameAndIsKept) {
    fs::create_directories(target_);
    const replace_outcome_s r = replace_file(target_, ".t-", writing("x"));
    EXPECT_EQ(r.failed, REPLACE_RENAME);
    EXPECT_TRUE(fs::is_directory(target_));
    EXPECT_EQ(names(), std::set<std::string>{"report.pdf"});
}

}  // namespace
