#include "files.h"

#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

#include <rapidjson/error/en.h>

unique_file open_for_reading(const std::string& path) {
    return unique_file(std::fopen(path.c_str(), "re"));
}

bool parse_json_object(std::FILE* file, rapidjson::Document& doc, std::string& problem) {
    std::string text;
    char buffer[4096];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0)
        text.append(buffer, got);
    if (std::ferror(file)) {
        problem = "read error: " + std::generic_category().message(errno);
        return false;
    }
    // Iterative: a deeply nested (even truncated) file must fail, not overflow the stack.
    doc.Parse<rapidjson::kParseIterativeFlag>(text.data(), text.size());
    if (doc.HasParseError()) {
        problem = std::string(rapidjson::GetParseError_En(doc.GetParseError())) + " at byte " +
                  std::to_string(doc.GetErrorOffset());
        return false;
    }
    if (!doc.IsObject()) {
        problem = "not a JSON object";
        return false;
    }
    return true;
}

bool write_all(int fd, const char* data, size_t length) {
    while (length > 0) {
        const ssize_t n = ::write(fd, data, length);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        length -= static_cast<size_t>(n);
    }
    return true;
}

std::string folder_of(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

namespace {

const std::string temporary_prefix = ".tessivane_server-";

void sync_folder(const std::string& folder) {
    const unique_fd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.get() >= 0)
        ::fsync(fd.get());
}

bool mode_set(int fd, mode_t mode) {
    struct stat st;
    return ::fchmod(fd, mode) == 0 && ::fstat(fd, &st) == 0 && (st.st_mode & 07777) == mode;
}

// The pid in a temporary name ("<prefix><pid>-..."), or 0 when the name is not of that form.
pid_t pid_in_temporary_name(const std::string& name) {
    if (name.compare(0, temporary_prefix.size(), temporary_prefix) != 0)
        return 0;
    const char* const digits = name.c_str() + temporary_prefix.size();
    char* end = nullptr;
    errno = 0;
    const long pid = std::strtol(digits, &end, 10);
    if (end == digits || *end != '-' || errno != 0 || pid <= 0 || pid > 0x7fffffffL ||
        !std::isdigit(static_cast<unsigned char>(*digits)))
        return 0;
    return static_cast<pid_t>(pid);
}

}  // namespace

bool replace_file_atomically(const std::string& path, mode_t mode,
                             const std::function<bool(int fd)>& fill) {
    const std::string folder = folder_of(path);
    std::string temp = folder + "/" + temporary_prefix + std::to_string(::getpid()) + "-XXXXXX";
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0)
        return false;
    bool ok = fill(fd) && mode_set(fd, mode) && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    if (ok && std::rename(temp.c_str(), path.c_str()) == 0) {
        sync_folder(folder);
        return true;
    }
    ::unlink(temp.c_str());
    return false;
}

int remove_stale_temporaries(const std::string& folder) {
    const std::unique_ptr<DIR, int (*)(DIR*)> listing(::opendir(folder.c_str()), ::closedir);
    if (!listing)
        return 0;
    const int dfd = ::dirfd(listing.get());
    int removed = 0;
    while (const dirent* entry = ::readdir(listing.get())) {
        const pid_t pid = pid_in_temporary_name(entry->d_name);
        struct stat st;
        if (pid == 0 || ::fstatat(dfd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 ||
            !S_ISREG(st.st_mode))
            continue;
        // A process that still runs (or one that may not be signalled) keeps its file.
        if (pid != ::getpid() && (::kill(pid, 0) == 0 || errno != ESRCH))
            continue;
        if (::unlinkat(dfd, entry->d_name, 0) == 0)
            ++removed;
    }
    return removed;
}
