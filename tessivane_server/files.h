// How the server owns descriptors, reads its JSON files and replaces the files it writes.
#pragma once

#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <sys/types.h>
#include <unistd.h>

#include <rapidjson/document.h>

struct file_closer {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
// A FILE* that is closed on every path out of the scope that opened it.
using unique_file = std::unique_ptr<std::FILE, file_closer>;

// A descriptor closed when the scope that opened it ends, a cancelled thread's included.
class unique_fd {
public:
    explicit unique_fd(int fd) : fd_(fd) {}
    ~unique_fd() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    unique_fd(const unique_fd&) = delete;
    unique_fd& operator=(const unique_fd&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

// Opens `path` for reading, close-on-exec so that the commands the server starts never inherit it.
unique_file open_for_reading(const std::string& path);

// Reads `file` to its end and parses it as one JSON document whose root is an object. On failure
// returns false and sets `problem` to a short description: the read error, the parser's message
// and byte offset, or "not a JSON object".
bool parse_json_object(std::FILE* file, rapidjson::Document& doc, std::string& problem);

// The folder holding `path`: "." for a bare name, "/" for a name right under the root.
std::string folder_of(const std::string& path);

// Writes all `length` bytes to `fd`; false on a write error.
bool write_all(int fd, const char* data, size_t length);

// Replaces `path`, the one way the server writes a file:
//  1. a new file is created exclusively (O_EXCL, owner-only) in the folder of `path` under a
//     hidden name, ".tessivane_server-<pid>-XXXXXX", so nothing planted there is followed and
//     software that lists the folder skipping dot files never sees a half-written file;
//  2. `fill` writes it through its descriptor (and may set owner and times);
//  3. its permission bits are set to `mode` and read back with fstat: they must be exactly `mode`
//     (the system may drop set-id bits silently);
//  4. it is synced, so that a power cut can leave the old file or the whole new one, never an
//     empty or torn one;
//  5. it is renamed over `path`, which replaces a link at `path` instead of following it;
//  6. the folder is synced, which makes the rename itself durable. A folder that cannot be synced
//     (some file systems refuse) already holds the complete file, so that is no failure.
// Readers see the old file or the whole new one. Returns false, leaving `path` as it was and no
// temporary file behind, when any of steps 1 to 5 fails. A temporary file that a killed run left
// is removed by remove_stale_temporaries.
bool replace_file_atomically(const std::string& path, mode_t mode,
                             const std::function<bool(int fd)>& fill);

// Removes from `folder` the temporary files of replace_file_atomically that runs killed before
// they could rename or remove them left: regular files (never links or folders) named
// ".tessivane_server-<pid>-..." whose process no longer exists, or whose pid is this process's
// (an earlier process had it, in another PID namespace or before the numbers wrapped). So it must
// run before this process replaces any file in `folder`. Returns how many were removed.
int remove_stale_temporaries(const std::string& folder);
