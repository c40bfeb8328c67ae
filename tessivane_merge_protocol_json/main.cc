// tessivane_merge_protocol_json: adds to a target protocol file the counting modes, protocols and
// parameters that a default protocol file has and the target lacks.
#include <sys/stat.h>
#include <unistd.h>

#include <rapidjson/document.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
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

// Parses the open file fp and checks for an object root: 0 or the exit status.
int read_protocol(std::FILE* fp, const std::string& path, rapidjson::Document& doc) {
    std::string error;
    const json_read_e read = parse_json_file(fp, path, doc, error);
    if (read != json_read_e::ok)
        return fail(read == json_read_e::invalid ? kInvalid : kCannotOpen, error);
    if (!doc.IsObject())
        return fail(kInvalid, "Invalid protocol JSON in " + path + ": the root is not an object");
    return 0;
}

int read_default(const std::string& path, rapidjson::Document& doc) {
    file_ptr fp;
    struct stat st {};
    if (open_regular_file(path, fp, st) != json_open_e::ok) {
        return fail(kCannotOpen, "Cannot open source json: " + path);
    }
    return read_protocol(fp.get(), path, doc);
}

int cannot_open_target(const std::string& path, const char* reason) {
    return fail(kCannotOpen, "Cannot open target json: " + path + ": " + reason);
}

// Runs with the folder of the file it replaces locked from before the target is read until
// after the rename, so that merges into one target at the same time each keep their additions.
int merge_into(const std::string& target_path, const std::string& src_path,
               const rapidjson::Value& src) {
    std::string error;
    // A symbolic link stays a link: the file it points to is the one replaced.
    char resolved[PATH_MAX];
    const std::string path = realpath(target_path.c_str(), resolved) ? resolved : target_path;
    const unique_fd lock = lock_folder_of(path, error);
    if (lock.get() < 0)
        return fail(kCannotOpen, error);
    // Before anything can end the run: a target that lacks nothing is never written, and would
    // otherwise keep a killed run's leftovers for as long as it stays complete.
    remove_stale_temps(lock.get(), path);

    file_ptr fp;
    struct stat st {};
    switch (open_regular_file(target_path, fp, st)) {
    case json_open_e::ok:
        break;
    case json_open_e::missing:
        return replace_json_file(lock.get(), target_path, src, nullptr, error)
                   ? 0
                   : fail(kCannotOpen, error);
    case json_open_e::not_regular:
        return cannot_open_target(
            target_path, S_ISDIR(st.st_mode) ? std::strerror(EISDIR) : "not a regular file");
    case json_open_e::failed:
        return cannot_open_target(target_path, std::strerror(errno));
    }
    rapidjson::Document target;
    if (const int status = read_protocol(fp.get(), target_path, target))
        return status;
    fp.reset();

    const merge_result_s merged = merge_protocol(target, src);
    if (!merged.ok) {
        return fail(kInvalid, "Invalid protocol JSON in " +
                                  (merged.in_target ? target_path : src_path) + ": " +
                                  merged.member + " is not an object");
    }
    if (!merged.changed)
        return 0;
    if (access(path.c_str(), W_OK) != 0) {
        return fail(kCannotOpen,
                    "Cannot write target json: " + target_path + ": " + std::strerror(errno));
    }
    return replace_json_file(lock.get(), path, target, &st, error) ? 0 : fail(kCannotOpen, error);
}

}  // namespace

int main(int argc, char** argv) {
    const std::string name = argc > 0 ? std::filesystem::path(argv[0]).filename().string()
                                      : "tessivane_merge_protocol_json";
    if (argc > 1 && std::strcmp(argv[1], "version") == 0) {
        std::printf("%s version: %s\n", name.c_str(), kMergeVersion);
        return 0;
    }
    if (argc < 3)
        return fail(kUsage, "Usage: " + name + " <default_json> <target_json>");
    rapidjson::Document src;
    if (const int status = read_default(argv[1], src))
        return status;
    return merge_into(argv[2], argv[1], src);
}
