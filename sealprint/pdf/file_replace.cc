#include "pdf/file_replace.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

namespace {

// Closes its descriptor on every path out.
struct unique_fd_s {
    int fd = -1;
    explicit unique_fd_s(int f) : fd(f) {}
    ~unique_fd_s() {
        if (fd >= 0)
            close(fd);
    }
    unique_fd_s(const unique_fd_s&) = delete;
    unique_fd_s& operator=(const unique_fd_s&) = delete;
};

struct dir_closer_s {
    DIR* dir;
    ~dir_closer_s() {
        if (dir)
            closedir(dir);
    }
};

std::string folder_of(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

mode_t current_umask() {
    const mode_t mask = umask(0);
    umask(mask);
    return mask;
}

// The bits the replacement must carry: the target's own, or a new file's.
bool wanted_mode(const std::string& target, mode_t& mode, int& error) {
    struct stat st;
    if (stat(target.c_str(), &st) == 0) {
        mode = st.st_mode & 07777;
        return true;
    }
    if (errno != ENOENT) {
        error = errno;
        return false;
    }
    mode = 0666 & ~current_umask();
    return true;
}

replace_outcome_s failed(replace_step_e step, int error) {
    return replace_outcome_s{step, error};
}

// "<pid>" followed by "-" or ".tmp" right after the prefix; 0 when the name is not of that form.
pid_t pid_in_name(const char* rest) {
    char* end = nullptr;
    errno = 0;
    const long pid = strtol(rest, &end, 10);
    if (end == rest || errno != 0 || pid <= 0 || pid > 0x7fffffffL)
        return 0;
    if (*end != '-' && std::string(end) != ".tmp")
        return 0;
    return static_cast<pid_t>(pid);
}

}  // namespace

int write_all_or_errno(int fd, const char* data, size_t size) {
    while (size > 0) {
        const ssize_t n = write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        data += n;
        size -= static_cast<size_t>(n);
    }
    return 0;
}

replace_outcome_s replace_file(const std::string& target, const std::string& prefix,
                               const contents_writer_f& write_contents) {
    const std::string folder = folder_of(target);
    std::string temp = folder + "/" + prefix + std::to_string(getpid()) + "-XXXXXX";
    std::vector<char> name(temp.begin(), temp.end());
    name.push_back('\0');
    unique_fd_s file(mkostemp(name.data(), O_CLOEXEC));
    if (file.fd < 0)
        return failed(REPLACE_CREATE, errno);
    temp.assign(name.data());

    replace_outcome_s outcome;
    mode_t mode = 0;
    int error = 0;
    struct stat st;
    if ((error = write_contents(file.fd)) != 0) {
        outcome = failed(REPLACE_WRITE, error);
    } else if (fsync(file.fd) != 0) {
        outcome = failed(REPLACE_SYNC, errno);
    } else if (!wanted_mode(target, mode, error)) {
        outcome = failed(REPLACE_MODE, error);
    } else if (fchmod(file.fd, mode) != 0) {
        outcome = failed(REPLACE_MODE, errno);
    } else if (fstat(file.fd, &st) != 0) {
        outcome = failed(REPLACE_MODE, errno);
    } else if ((st.st_mode & 07777) != mode) {
        // The system may drop set-id bits silently; a replacement that lost them is not the
        // file the owner set up.
        outcome = failed(REPLACE_MODE, EPERM);
    } else if (rename(temp.c_str(), target.c_str()) != 0) {
        outcome = failed(REPLACE_RENAME, errno);
    }
    if (outcome.failed != REPLACE_DONE) {
        unlink(temp.c_str());
        return outcome;
    }

    unique_fd_s dir(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    // Some file systems cannot sync a folder at all; they promise nothing more then.
    if (dir.fd < 0 || (fsync(dir.fd) != 0 && errno != EINVAL && errno != ENOTSUP)) {
        return failed(REPLACE_SYNC_FOLDER, errno);
    }
    return outcome;
}

int remove_stale_temporaries(const std::string& folder, const std::string& prefix) {
    dir_closer_s listing{opendir(folder.c_str())};
    if (!listing.dir)
        return 0;
    const int dfd = dirfd(listing.dir);
    int removed = 0;
    while (const dirent* entry = readdir(listing.dir)) {
        const std::string name = entry->d_name;
        if (name.compare(0, prefix.size(), prefix) != 0)
            continue;
        const pid_t pid = pid_in_name(entry->d_name + prefix.size());
        if (pid == 0)
            continue;
        struct stat st;
        if (fstatat(dfd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0)
            continue;
        if (!S_ISREG(st.st_mode))
            continue;
        // A process that still runs (or one we may not signal) keeps its file.
        if (kill(pid, 0) == 0 || errno != ESRCH)
            continue;
        if (unlinkat(dfd, entry->d_name, 0) == 0)
            ++removed;
    }
    return removed;
}
