#include "files.h"

#include <set>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

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

std::set<std::string> names_in(const std::string& dir) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir))
        names.insert(entry.path().filename().string());
    return names;
}

// The pid of a process that has ended.
pid_t gone_pid() {
    const pid_t child = ::fork();
    if (child == 0)
        ::_exit(0);
    ::waitpid(child, nullptr, 0);
    return child;
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

TEST(ReplaceFile, WritesThroughAHiddenTemporaryBesideTheTarget) {
    ScratchDir dir;
    std::set<std::string> during;
    EXPECT_TRUE(replace_file_atomically(dir / "file", 0644, [&](int fd) {
        during = names_in(dir.path);
        return write_text_fd(fd, "new");
    }));
    ASSERT_EQ(during.size(), 1u);
    EXPECT_EQ(during.begin()->rfind(".tessivane_server-" + std::to_string(::getpid()) + "-", 0), 0u)
        << *during.begin();
    EXPECT_EQ(names_in(dir.path), std::set<std::string>{"file"});
}

TEST(RemoveStaleTemporaries, RemovesOnlyFilesOfProcessesGoneOrOfThisPid) {
    ScratchDir dir;
    const std::string prefix = ".tessivane_server-";
    const std::string gone = std::to_string(gone_pid());
    const std::string own = std::to_string(::getpid());
    // Kept: a running process's, names of other forms (no pid, a blank strtol would skip).
    const std::set<std::string> kept = {prefix + "1-a", prefix + gone, prefix + gone + ".tmp",
                                        prefix + " " + gone + "-a", "devlist.txt"};
    for (const std::string& name : kept)
        write_text(dir / name, "x");
    write_text(dir / (prefix + gone + "-a1B2c3"), "x");
    write_text(dir / (prefix + own + "-x"), "x");
    // Never a folder or a link, whatever the name.
    fs::create_directory(dir / (prefix + gone + "-dir"));
    fs::create_symlink("devlist.txt", dir / (prefix + gone + "-link"));

    EXPECT_EQ(remove_stale_temporaries(dir.path), 2);
    std::set<std::string> left = kept;
    left.insert({prefix + gone + "-dir", prefix + gone + "-link"});
    EXPECT_EQ(names_in(dir.path), left);
    EXPECT_EQ(remove_stale_temporaries(dir / "missing"), 0);
}
