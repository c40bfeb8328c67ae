// Replacing a file safely: the new content goes into a temporary file beside the target, is
// synced and renamed over the target, and the folder is synced, so a reader (or a crash) sees
// the old file or the new one, never a part of either.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string>

// Every byte, retrying short writes and interrupts; false with errno set on failure.
bool write_all(int fd, const void* data, size_t size);

class replacement_file_s {
public:
    // Creates the temporary file "<folder of target>/.<name of target><tag>XXXXXX", owner-only.
    // ok() tells whether it exists; why() then says why not.
    replacement_file_s(const std::string& target, const char* tag);
    // Removes the temporary file unless commit succeeded.
    ~replacement_file_s();
    replacement_file_s(const replacement_file_s&) = delete;
    replacement_file_s& operator=(const replacement_file_s&) = delete;

    bool ok() const { return fd_ >= 0; }
    int fd() const { return fd_; }
    const std::string& temp_path() const { return temp_; }
    const std::string& why() const { return why_; }

    // Gives the file mode, syncs it, renames it over the target and syncs the folder. False
    // (why() set, the target untouched) on failure.
    bool commit(mode_t mode);

    // Removes temporary files of this target and tag that earlier writers, since killed, left.
    // Only safe where no other writer can be at work (the callers hold a lock).
    static void remove_stale(const std::string& target, const char* tag);

private:
    std::string target_, temp_, why_;
    int fd_ = -1;
    bool committed_ = false;
};

// The permission bits a new file gets under the current umask when created with 0666.
mode_t default_file_mode();
