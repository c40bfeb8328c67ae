// Reading, locking and safely replacing the protocol JSON files.
//
// Replacing a file always keeps one promise: the new text goes to an exclusive temporary file in
// the same folder (created with O_EXCL, owner-only until its final permission bits are set and
// read back), is synced, renamed over the old name, and the folder is synced; so the name holds
// either its old bytes or the complete new document, also after a crash. Temporary files are
// named ".<name>.merge-XXXXXX"; one left by a killed run is removed by a later run.
#pragma once

#include <rapidjson/document.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <string>

// Deeper documents are refused: copying and writing walk the tree recursively.
inline constexpr int kMaxJsonDepth = 1000;
// A temporary file of the same target older than this is left over from a killed run.
inline constexpr int kStaleTempSeconds = 60;

// A file descriptor that is closed with its owner.
class unique_fd {
public:
    explicit unique_fd(int fd = -1) : fd_(fd) {}
    unique_fd(unique_fd&& other) noexcept : fd_(other.release()) {}
    unique_fd& operator=(unique_fd&& other) noexcept {
        reset(other.release());
        return *this;
    }
    unique_fd(const unique_fd&) = delete;
    unique_fd& operator=(const unique_fd&) = delete;
    ~unique_fd() { reset(); }

    int get() const { return fd_; }
    int release() {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }
    void reset(int fd = -1) {
        if (fd_ >= 0)
            close(fd_);
        fd_ = fd;
    }

private:
    int fd_;
};

struct file_closer {
    void operator()(std::FILE* fp) const { std::fclose(fp); }
};
using file_ptr = std::unique_ptr<std::FILE, file_closer>;

enum class json_open_e { ok, missing, not_regular, failed };

// Opens path for reading without blocking on a FIFO or a device, and without opening anything
// but a regular file: not_regular for any other kind (a directory included), missing when
// nothing is there, failed with errno set otherwise. st receives the file's status.
json_open_e open_regular_file(const std::string& path, file_ptr& fp, struct stat& st);

enum class json_read_e { ok, unreadable, invalid };

// Parses all of the open file fp (strict JSON, UTF-8 checked, numbers read exactly) into doc;
// path is only for the message. Anything but ok comes with one line in error:
// "Cannot read <path>: <reason>", or "Invalid JSON in <path> at offset <n>: <problem>" for text
// that is not JSON, "Invalid JSON in <path>: <problem>" when it is nested deeper than
// kMaxJsonDepth or escapes a character that is not Unicode.
json_read_e parse_json_file(std::FILE* fp, const std::string& path, rapidjson::Document& doc,
                            std::string& error);

// Takes the exclusive lock that serialises every merge into the folder holding path; blocks
// until it is free. The lock lives as long as the returned descriptor (on a file system that
// cannot lock folders the descriptor holds no lock). On failure returns an empty descriptor with
// "Cannot write target json: <path>: <reason>" in error.
unique_fd lock_folder_of(const std::string& path, std::string& error);

// Removes the temporary files of path's name in the locked folder that a killed run left: regular
// files (never a link) of the temporary name, not changed for kStaleTempSeconds. Returns how
// many were removed. Every run calls it once it holds the lock, whatever it then writes.
int remove_stale_temps(int folder_fd, const std::string& path);

// Writes root to fp with RapidJSON's pretty writer: each member and element on a line of its
// own, 4 blanks a level, numbers in the shortest form that reads back to the same value, no
// newline at the end. The text is handed to fp, whose own buffer the caller flushes; false when
// that fails.
bool write_pretty(std::FILE* fp, const rapidjson::Value& root);

// Replaces (or creates) path, in the folder locked by folder_fd, with the document root,
// written by write_pretty, as promised above, and at the end syncs the folder. The new file gets
// the permission bits of old (owner and group too, where the user may), or with old null those a
// newly created file gets under the umask. Returns false with one line in error, leaving path untouched and no
// temporary file behind.
bool replace_json_file(int folder_fd, const std::string& path, const rapidjson::Value& root,
                       const struct stat* old, std::string& error);
