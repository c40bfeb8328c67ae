#include "json_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <rapidjson/error/en.h>
#include <rapidjson/filereadstream.h>
#include <rapidjson/filewritestream.h>
#include <rapidjson/prettywriter.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <utility>
#include <vector>

namespace {

constexpr size_t kStreamBuffer = 65536;
constexpr char kTempInfix[] = ".merge-";
constexpr size_t kTempRandomChars = 6;  // what mkstemp puts in place of XXXXXX

struct dir_closer {
    void operator()(DIR* dir) const { closedir(dir); }
};
using dir_ptr = std::unique_ptr<DIR, dir_closer>;

// The parser checks the bytes of every string, but an escaped lone low surrogate ("\udc00") is
// still stored as the three bytes ED B0..BF, which no strict reader accepts. In well-formed UTF-8
// a lead byte ED is followed by 80..9F; A0..BF after it can only be such a surrogate.
bool holds_surrogate(const rapidjson::Value& s) {
    const auto* p = reinterpret_cast<const unsigned char*>(s.GetString());
    const size_t n = s.GetStringLength();
    for (size_t i = 0; i + 1 < n; ++i) {
        if (p[i] == 0xED && p[i + 1] >= 0xA0)
            return true;
    }
    return false;
}

// What makes a parsed document unfit to keep, or empty: nesting deeper than limit, or a string
// that is not Unicode.
std::string unfit(const rapidjson::Value& root, int limit) {
    std::vector<std::pair<const rapidjson::Value*, int>> pending{{&root, 1}};
    while (!pending.empty()) {
        const auto [value, depth] = pending.back();
        pending.pop_back();
        if (depth > limit)
            return "nested deeper than " + std::to_string(limit) + " levels";
        if (value->IsString() && holds_surrogate(*value)) {
            return "a string escapes an unpaired surrogate";
        }
        if (value->IsObject()) {
            for (const auto& m : value->GetObject()) {
                if (holds_surrogate(m.name))
                    return "a name escapes an unpaired surrogate";
                pending.emplace_back(&m.value, depth + 1);
            }
        } else if (value->IsArray()) {
            for (const auto& v : value->GetArray())
                pending.emplace_back(&v, depth + 1);
        }
    }
    return {};
}

// The folder that holds path, "." for a name without one.
std::string folder_of(const std::string& path) {
    const std::filesystem::path folder = std::filesystem::path(path).parent_path();
    return folder.empty() ? "." : folder.string();
}

// ".<name>.merge-": what the temporary files of path begin with.
std::string temp_prefix(const std::string& path) {
    return "." + std::filesystem::path(path).filename().string() + kTempInfix;
}

bool write_failure(const std::string& path, int reason, std::string& error) {
    error = "Cannot write target json: " + path + ": " + std::strerror(reason);
    return false;
}

// Gives the fresh temporary file fd its final permission bits, fills and syncs it: 0, or the
// errno of the first failure.
int fill_temp(unique_fd fd, const rapidjson::Value& root, const struct stat* old) {
    mode_t mode;
    if (old) {
        mode = old->st_mode & 07777;
        if (fchown(fd.get(), old->st_uid, old->st_gid) != 0) {
            // Not ours to give away: the new file stays owned by us, as a rewrite in place would.
        }
    } else {
        const mode_t mask = umask(0);
        umask(mask);
        mode = 0666 & ~mask;
    }
    struct stat st {};
    if (fchmod(fd.get(), mode) != 0 || fstat(fd.get(), &st) != 0)
        return errno;
    // Read back: the file must not appear under the target's name with other access rights.
    if ((st.st_mode & 0777) != (mode & 0777))
        return EPERM;
    file_ptr fp(fdopen(fd.get(), "wb"));
    if (!fp)
        return errno;
    fd.release();
    errno = 0;
    if (!write_pretty(fp.get(), root) || std::fflush(fp.get()) != 0 || std::ferror(fp.get()) ||
        fsync(fileno(fp.get())) != 0) {
        return errno ? errno : EIO;
    }
    if (std::fclose(fp.release()) != 0)
        return errno;
    return 0;
}

}  // namespace

bool write_pretty(std::FILE* fp, const rapidjson::Value& root) {
    std::vector<char> buffer(kStreamBuffer);
    rapidjson::FileWriteStream os(fp, buffer.data(), buffer.size());
    rapidjson::PrettyWriter<rapidjson::FileWriteStream> writer(os);
    return root.Accept(writer);
}

json_open_e open_regular_file(const std::string& path, file_ptr& fp, struct stat& st) {
    // Looked at first, so that a FIFO or a device is not even opened.
    if (stat(path.c_str(), &st) != 0)
        return errno == ENOENT ? json_open_e::missing : json_open_e::failed;
    if (!S_ISREG(st.st_mode))
        return json_open_e::not_regular;
    // Should the name have become a FIFO since, the open must not wait for a writer.
    unique_fd fd(open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (fd.get() < 0)
        return errno == ENOENT ? json_open_e::missing : json_open_e::failed;
    if (fstat(fd.get(), &st) != 0)
        return json_open_e::failed;
    if (!S_ISREG(st.st_mode))
        return json_open_e::not_regular;
    fp.reset(fdopen(fd.get(), "rb"));
    if (!fp)
        return json_open_e::failed;
    fd.release();
    return json_open_e::ok;
}

json_read_e parse_json_file(std::FILE* fp, const std::string& path, rapidjson::Document& doc,
                            std::string& error) {
    std::vector<char> buffer(kStreamBuffer);
    rapidjson::FileReadStream is(fp, buffer.data(), buffer.size());
    // Iterative parsing accepts exactly the default grammar but cannot run out of call stack;
    // full precision makes every number read back as the double it was written from, so a
    // rewrite never changes a value the target already had.
    constexpr unsigned kFlags = rapidjson::kParseIterativeFlag |
                                rapidjson::kParseValidateEncodingFlag |
                                rapidjson::kParseFullPrecisionFlag;
    doc.ParseStream<kFlags>(is);
    if (std::ferror(fp)) {
        error = "Cannot read " + path + ": " + std::strerror(errno);
        return json_read_e::unreadable;
    }
    if (doc.HasParseError()) {
        error = "Invalid JSON in " + path + " at offset " + std::to_string(doc.GetErrorOffset()) +
                ": " + rapidjson::GetParseError_En(doc.GetParseError());
        return json_read_e::invalid;
    }
    const std::string problem = unfit(doc, kMaxJsonDepth);
    if (!problem.empty()) {
        error = "Invalid JSON in " + path + ": " + problem;
        return json_read_e::invalid;
    }
    return json_read_e::ok;
}

// The lock is on the folder, not on the target or a file beside it: the target is replaced by
// rename (a lock on its old inode would not stop the next run), it may not exist yet, and a lock
// file would stay behind in the folder for ever.
unique_fd lock_folder_of(const std::string& path, std::string& error) {
    unique_fd fd(open(folder_of(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    int rc = -1;
    if (fd.get() >= 0) {
        while ((rc = flock(fd.get(), LOCK_EX)) != 0 && errno == EINTR) {
        }
        // A file system that cannot lock a folder (some network ones) still gets its merge, as
        // before there was a lock; only runs at the same time are then not kept apart.
        if (rc != 0 && (errno == ENOLCK || errno == EOPNOTSUPP || errno == EBADF))
            rc = 0;
    }
    if (rc != 0) {
        write_failure(path, errno, error);
        return unique_fd();
    }
    return fd;
}

int remove_stale_temps(int folder_fd, const std::string& path) {
    const std::string prefix = temp_prefix(path);
    // A descriptor of its own: readdir moves the position of the one it is given.
    const dir_ptr dir(fdopendir(openat(folder_fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC)));
    if (!dir)
        return 0;
    const time_t now = time(nullptr);
    int removed = 0;
    while (const dirent* entry = readdir(dir.get())) {
        const std::string name = entry->d_name;
        struct stat st {};
        if (name.size() != prefix.size() + kTempRandomChars ||
            name.compare(0, prefix.size(), prefix) != 0 ||
            fstatat(folder_fd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 ||
            !S_ISREG(st.st_mode) || now - st.st_mtime < kStaleTempSeconds) {
            continue;
        }
        if (unlinkat(folder_fd, entry->d_name, 0) == 0)
            ++removed;
    }
    return removed;
}

bool replace_json_file(int folder_fd, const std::string& path, const rapidjson::Value& root,
                       const struct stat* old, std::string& error) {
    std::string temp = folder_of(path) + "/" + temp_prefix(path) + "XXXXXX";
    unique_fd fd(mkostemp(temp.data(), O_CLOEXEC));
    if (fd.get() < 0)
        return write_failure(path, errno, error);
    int reason = fill_temp(std::move(fd), root, old);
    if (reason == 0 && std::rename(temp.c_str(), path.c_str()) != 0)
        reason = errno;
    if (reason != 0) {
        unlink(temp.c_str());
        return write_failure(path, reason, error);
    }
    // A rename is only durable once the folder holding it is synced; a folder that cannot be
    // synced (some file systems refuse) still has the complete file, so that is not a failure.
    fsync(folder_fd);
    return true;
}
