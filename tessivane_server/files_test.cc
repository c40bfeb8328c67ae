#include "files.h"

#include <sys/stat.h>

#include "test_support.h"

namespace {

mode_t mode_of(const std::string& path) {
    struct stat st {};
    ::stat(path.c_str(), &st);
    return st.st_mode & 07777;
}

size_t entries(const std::string& dir) {
    return static_cast<size_t>(
        std::distance(fs::directory_iterator(dir), fs::directory_iterator()));
}

bool write_text_fd(int fd, const std::string& text) {
    return write_all(fd, text.data(), text.size());
}

}  // namespace

// The bits asked for, not what the umask or the file being replaced would leave.
TEST(ReplaceFile, PermissionBitsAreTheOnesAskedFor) {
    ScratchDir dir;
    const std::string path = dir / "file";
    write_text(path, "old");
    ::chmod(path.c_str(), 0600);
    const mode_t saved = ::umask(077);
    EXPECT_TRUE(replace_file_atomically(path, 0644, [](int fd) { return write_text_fd(fd, "a"); }));
    EXPECT_EQ(mode_of(path), 0644u);
    ::umask(0);
    EXPECT_TRUE(replace_file_atomically(path, 0600, [](int fd) { return write_text_fd(fd, "b"); }));
    EXPECT_EQ(mode_of(path), 0600u);
    ::umask(saved);
    EXPECT_EQ(read_text(path), "b");
    EXPECT_EQ(entries(dir.path), 1u);
}

TEST(ReplaceFile, FailedFillLeavesTheOldFileAndNoTemporary) {
    ScratchDir dir;
    const std::string path = dir / "file";
    write_text(path, "old content");
    EXPECT_FALSE(replace_file_atomically(path, 0644, [](int fd) {
        write_text_fd(fd, "half");
        return false;
    }));
    EXPECT_EQ(read_text(path), "old content");
    EXPECT_EQ(entries(dir.path), 1u);
    // A missing folder: nothing to create, nothing left.
    EXPECT_FALSE(replace_file_atomically(dir / "missing/file", 0644,
                                         [](int fd) { return write_text_fd(fd, "x"); }));
    EXPECT_EQ(entries(dir.path), 1u);
}
