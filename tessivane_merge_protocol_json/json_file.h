// Reading and safely replacing the protocol JSON files.
#pragma once

#include <rapidjson/document.h>
#include <sys/stat.h>

#include <cstdio>
#include <string>

// Deeper documents are refused: copying and writing walk the tree recursively.
inline constexpr int kMaxJsonDepth = 1000;

enum class json_read_e { ok, unreadable, invalid };

// Parses all of the open file fp (strict JSON) into doc; path is only for the message.
// Anything but ok comes with one line in error: "Cannot read <path>: <reason>", or
// "Invalid JSON in <path> at offset <n>: <problem>" for text that is not JSON or is nested
// deeper than kMaxJsonDepth.
json_read_e parse_json_file(std::FILE* fp, const std::string& path, rapidjson::Document& doc,
                            std::string& error);

// Replaces (or creates) path with the document root, pretty-printed without a trailing newline. The
// text goes to a temporary file in the same folder, is synced and then renamed over path, so path
// holds either its old bytes or the complete new document. The new file gets the permission bits of
// old (owner and group too, where the user may), or with old null those a newly created file
// gets under the umask. Returns false with one line in error, leaving path untouched.
bool replace_json_file(const std::string& path, const rapidjson::Value& root,
                       const struct stat* old, std::string& error);
