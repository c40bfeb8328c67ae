// tessivane_merge_protocol_json: adds to a target protocol file the counting modes, protocols and
// parameters that a default protocol file has and the target lacks.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <rapidjson/document.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "json_file.h"
#include "protocol_merge.h"
#include "version.h"

namespace {

constexpr int kUsage = 1;
constexpr int kCannotOpen = 2;  // also: cannot read or replace a file
constexpr int kInvalid = 3;     // not JSON, or not of the mode > protocol > parameter shape

int fail(int status, const std::string& message) {
    std::fprintf(stderr, "%s\n", message.c_str());
    return status;
}

// Parses the open file fp, closes it, and checks for an object root: 0 or the exit status.
int read_protocol(std::FILE* fp, const std::string& path, rapidjson::Document& doc) {
    std::string error;
    const json_read_e read = parse_json_file(fp, path, doc, error);
    std::fclose(fp);
    if (read != json_read_e::ok)
        return fail(read == json_read_e::invalid ? kInvalid : kCannotOpen, error);
    if (!doc.IsObject())
        return fail(kInvalid, "Invalid protocol JSON in " + path + ": the root is not an object");
    return 0;
}

int read_default(const std::string& path, rapidjson::Document& doc) {
    std::FILE* fp = std::fopen(path.c_str(), "rb");
    struct stat st {};
    if (fp && fstat(fileno(fp), &st) == 0 && S_ISDIR(st.st_mode)) {
        std::fclose(fp);
        fp = nullptr;
    }
    if (!fp) return fail(kCannotOpen, "Cannot open source json: " + path);
    return read_protocol(fp, path, doc);
}

int merge_into(const std::string& target_path, const std::string& src_path,
               const rapidjson::Value& src) {
    std::string error;
    const int fd = open(target_path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 && errno == ENOENT) {
        return replace_json_file(target_path, src, nullptr, error) ? 0 : fail(kCannotOpen, error);
    }
    struct stat st {};
    std::FILE* fp = nullptr;
    if (fd < 0 || fstat(fd, &st) != 0 || S_ISDIR(st.st_mode) || !(fp = fdopen(fd, "rb"))) {
        const int reason = fd >= 0 && S_ISDIR(st.st_mode) ? EISDIR : errno;
        if (fd >= 0) close(fd);
        return fail(kCannotOpen,
                    "Cannot open target json: " + target_path + ": " + std::strerror(reason));
    }
    rapidjson::Document target;
    if (const int status = read_protocol(fp, target_path, target)) return status;

    const merge_result_s merged = merge_protocol(target, src);
    if (!merged.ok) {
        return fail(kInvalid, "Invalid protocol JSON in " +
                                  (merged.in_target ? target_path : src_path) + ": " +
                                  merged.member + " is not an object");
    }
    if (!merged.changed) return 0;
    // A symbolic link stays a link: the file it points to is the one replaced.
    char resolved[PATH_MAX];
    const std::string path = realpath(target_path.c_str(), resolved) ? resolved : target_path;
    if (access(path.c_str(), W_OK) != 0) {
        return fail(kCannotOpen,
                    "Cannot write target json: " + target_path + ": " + std::strerror(errno));
    }
    return replace_json_file(path, target, &st, error) ? 0 : fail(kCannotOpen, error);
}

}  // namespace

int main(int argc, char** argv) {
    const char* slash = argc > 0 ? std::strrchr(argv[0], '/') : nullptr;
    const std::string name =
        argc > 0 ? (slash ? slash + 1 : argv[0]) : "tessivane_merge_protocol_json";
    if (argc > 1 && std::strcmp(argv[1], "version") == 0) {
        std::printf("%s version: %s\n", name.c_str(), kMergeVersion);
        return 0;
    }
    if (argc < 3) return fail(kUsage, "Usage: " + name + " <default_json> <target_json>");
    rapidjson::Document src;
    if (const int status = read_default(argv[1], src)) return status;
    return merge_into(argv[2], argv[1], src);
}
