#include "log_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

namespace {

std::string folder_of(const std::string& path) {
    const std::string folder = std::filesystem::path(path).parent_path().string();
    return folder.empty() ? "." : folder;
}

std::string temporary_prefix(const std::string& target, const char* tag) {
    return "." + std::filesystem::path(target).filename().string() + tag;
}

}  // namespace

bool write_all(int fd, const void* data, size_t size) {
    const char* bytes = static_cast<const char*>(data);
    size_t done = 0;
    while (done < size) {
        const ssize_t n = write(fd, bytes + done, size - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

replacement_file_s::replacement_file_s(const std::string& target, const char* tag)
    : target_(target), temp_(folder_of(target) + "/" + temporary_prefix(target, tag) + "XXXXXX") {
    fd_ = mkostemp(temp_.data(), O_CLOEXEC);
    if (fd_ < 0)
        why_ = std::strerror(errno);
}

replacement_file_s::~replacement_file_s() {
    if (fd_ >= 0)
        close(fd_);
    if (fd_ >= 0 && !committed_)
        unlink(temp_.c_str());
}

bool replacement_file_s::commit(mode_t mode) {
    if (fchmod(fd_, mode) != 0 || fsync(fd_) != 0 || rename(temp_.c_str(), target_.c_str()) != 0) {
        why_ = std::strerror(errno);
        return false;
    }
    committed_ = true;
    const int folder = open(folder_of(target_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        fsync(folder);
        close(folder);
    }
    return true;
}

void replacement_file_s::remove_stale(const std::string& target, const char* tag) {
    const std::string folder = folder_of(target), prefix = temporary_prefix(target, tag);
    DIR* dir = opendir(folder.c_str());
    if (!dir)
        return;
    std::vector<std::string> stale;
    while (const dirent* e = readdir(dir)) {
        if (std::strncmp(e->d_name, prefix.c_str(), prefix.size()) == 0 &&
            std::strlen(e->d_name) == prefix.size() + 6)
            stale.push_back(folder + "/" + e->d_name);
    }
    closedir(dir);
    for (const std::string& name : stale)
        unlink(name.c_str());
}

mode_t default_file_mode() {
    const mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}
