// What an announcement reply takes from a device's files (protocol summary, security level,
// counting settings), read again only when a file changed. Reading and parsing three JSON files
// for every announcement costs several times the network round trip; a stat of each file tells
// whether the last result still holds.
//
// A result is kept only when its files were last changed at least `settle_ns` before they were
// looked at: file times advance in coarse steps, so a file rewritten twice within one step with
// the same size could otherwise pass for unchanged. Failures and settings that needed the
// default file for a missing key are never kept, so their lines are printed for every
// announcement as before. Only serials whose files exist and parse are kept, which bounds the
// memory by what is on disk. One cache belongs to one thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <sys/types.h>
#include <unordered_map>

#include "paths.h"
#include "wire.h"

struct file_stamp_s {
    dev_t dev;
    ino_t ino;
    off_t size;
    int64_t mtime_ns;
    int64_t ctime_ns;
    bool operator==(const file_stamp_s& other) const;
};

struct cached_device_s {
    std::optional<file_stamp_s> protocol;
    int bf = 0;
    int fl = 0;
    int64_t protocol_mtime = -1;
    std::optional<file_stamp_s> security;
    char security_level = '0';
    std::optional<file_stamp_s> settings_file;
    std::optional<file_stamp_s> default_file;
    int settings_format = -1;
    cellcounting_setting_s settings{};
};

struct device_files_cache_s {
    std::string product_dir = default_product_dir;
    int64_t settle_ns = 1000000000;
    std::unordered_map<std::string, cached_device_s> devices;  // by serial
};

// protocol_json_parser with the cache: the same results and lines.
int64_t cached_protocol(device_files_cache_s& cache, const std::string& serial, int& bf, int& fl);

// The first character of <product_dir>/security/security_<serial>.txt (0 when it is empty);
// false when there is no such file or the serial is no safe file name.
bool cached_security_level(device_files_cache_s& cache, const std::string& serial, char& level);

// settings_mem_to_json, then settings_json_parser, with the cache: the record ends as they
// would leave it, with the same lines.
void cached_settings(device_files_cache_s& cache, const std::string& serial,
                     cellcounting_setting_s& settings, int new_format);
