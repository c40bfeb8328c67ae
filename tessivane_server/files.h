// How the server reads its JSON files and replaces the files it writes.
#pragma once

#include <cstdio>
#include <functional>
#include <memory>
#include <string>

#include <rapidjson/document.h>

struct file_closer {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
// A FILE* that is closed on every path out of the scope that opened it.
using unique_file = std::unique_ptr<std::FILE, file_closer>;

// Opens `path` for reading, close-on-exec so that the commands the server starts never inherit it.
unique_file open_for_reading(const std::string& path);

// Reads `file` to its end and parses it as one JSON document whose root is an object. On failure
// returns false and sets `problem` to a short description: the read error, the parser's message
// and byte offset, or "not a JSON object".
bool parse_json_object(std::FILE* file, rapidjson::Document& doc, std::string& problem);

// Writes all `length` bytes to `fd`; false on a write error.
bool write_all(int fd, const char* data, size_t length);

// Replaces `path` atomically: creates a new file exclusively in the same folder (so nothing planted
// there is followed), lets `fill` write it through its descriptor, then renames it over `path`,
// which replaces a link at `path` instead of following it. Readers see the old file or the whole
// new one. Returns false, leaving `path` as it was and no temporary file behind, when creating,
// `fill`, closing or renaming fails.
bool replace_file_atomically(const std::string& path, const std::function<bool(int fd)>& fill);
