#include "files.h"

#include <cerrno>
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

namespace {

void sync_folder_of(const std::string& path) {
    const size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "."
                               : slash == 0               ? "/"
                                                          : path.substr(0, slash);
    const unique_fd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.get() >= 0)
        ::fsync(fd.get());
}

}  // namespace

bool replace_file_atomically(const std::string& path, mode_t mode,
                             const std::function<bool(int fd)>& fill) {
    std::string temp = path + ".XXXXXX";
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0)
        return false;
    bool ok = fill(fd) && ::fchmod(fd, mode) == 0 && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    if (ok && std::rename(temp.c_str(), path.c_str()) == 0) {
        sync_folder_of(path);
        return true;
    }
    ::unlink(temp.c_str());
    return false;
}
