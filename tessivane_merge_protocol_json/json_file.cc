#include "json_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <rapidjson/error/en.h>
#include <rapidjson/filereadstream.h>
#include <rapidjson/filewritestream.h>
#include <rapidjson/prettywriter.h>

#include <cerrno>
#include <cstring>
#include <utility>
#include <vector>

namespace {

constexpr size_t kStreamBuffer = 65536;

bool deeper_than(const rapidjson::Value& root, int limit) {
    std::vector<std::pair<const rapidjson::Value*, int>> pending{{&root, 1}};
    while (!pending.empty()) {
        const auto [value, depth] = pending.back();
        pending.pop_back();
        if (depth > limit) return true;
        if (value->IsObject()) {
            for (const auto& m : value->GetObject()) pending.emplace_back(&m.value, depth + 1);
        } else if (value->IsArray()) {
            for (const auto& v : value->GetArray()) pending.emplace_back(&v, depth + 1);
        }
    }
    return false;
}

std::string folder_of(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string base_of(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool write_pretty(std::FILE* fp, const rapidjson::Value& root) {
    std::vector<char> buffer(kStreamBuffer);
    rapidjson::FileWriteStream os(fp, buffer.data(), buffer.size());
    rapidjson::PrettyWriter<rapidjson::FileWriteStream> writer(os);
    return root.Accept(writer);
}

// A rename is only durable once the folder holding it is synced; a folder that cannot be synced
// (some file systems refuse) still has the complete file, so that is not a failure.
void sync_folder(const std::string& folder) {
    const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    fsync(fd);
    close(fd);
}

}  // namespace

json_read_e parse_json_file(std::FILE* fp, const std::string& path, rapidjson::Document& doc,
                            std::string& error) {
    std::vector<char> buffer(kStreamBuffer);
    rapidjson::FileReadStream is(fp, buffer.data(), buffer.size());
    // Iterative parsing accepts exactly the default grammar but cannot run out of call stack.
    doc.ParseStream<rapidjson::kParseIterativeFlag>(is);
    if (std::ferror(fp)) {
        error = "Cannot read " + path + ": " + std::strerror(errno);
        return json_read_e::unreadable;
    }
    if (doc.HasParseError()) {
        error = "Invalid JSON in " + path + " at offset " + std::to_string(doc.GetErrorOffset()) +
                ": " + rapidjson::GetParseError_En(doc.GetParseError());
        return json_read_e::invalid;
    }
    if (deeper_than(doc, kMaxJsonDepth)) {
        error = "Invalid JSON in " + path + ": nested deeper than " +
                std::to_string(kMaxJsonDepth) + " levels";
        return json_read_e::invalid;
    }
    return json_read_e::ok;
}

bool replace_json_file(const std::string& path, const rapidjson::Value& root,
                       const struct stat* old, std::string& error) {
    std::string temp = folder_of(path) + "/." + base_of(path) + ".XXXXXX";
    const int fd = mkstemp(temp.data());
    if (fd < 0) {
        error = "Cannot write target json: " + path + ": " + std::strerror(errno);
        return false;
    }
    mode_t mode;
    if (old) {
        mode = old->st_mode & 07777;
        if (fchown(fd, old->st_uid, old->st_gid) != 0) {
            // Not ours to give away: the new file stays owned by us, as a rewrite in place would.
        }
    } else {
        const mode_t mask = umask(0);
        umask(mask);
        mode = 0666 & ~mask;
    }
    std::FILE* fp = fdopen(fd, "wb");
    if (!fp) close(fd);
    bool ok = fp && fchmod(fd, mode) == 0 && write_pretty(fp, root) && std::fflush(fp) == 0 &&
              !std::ferror(fp) && fsync(fd) == 0;
    int saved = errno;
    if (fp && std::fclose(fp) != 0 && ok) {
        ok = false;
        saved = errno;
    }
    if (ok && std::rename(temp.c_str(), path.c_str()) != 0) {
        ok = false;
        saved = errno;
    }
    if (!ok) {
        unlink(temp.c_str());
        error = "Cannot write target json: " + path + ": " + std::strerror(saved);
        return false;
    }
    sync_folder(folder_of(path));
    return true;
}
