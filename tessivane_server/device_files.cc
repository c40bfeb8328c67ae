#include "device_files.h"

#include <cstdio>
#include <ctime>
#include <sys/stat.h>

#include "cellcounting_settings.h"
#include "files.h"

namespace {

int64_t nanoseconds(const timespec& t) {
    return static_cast<int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
}

std::optional<file_stamp_s> stamp_of(const std::string& path) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0)
        return std::nullopt;
    return file_stamp_s{st.st_dev, st.st_ino, st.st_size, nanoseconds(st.st_mtim),
                        nanoseconds(st.st_ctim)};
}

// Old enough that a later change cannot leave the same times behind.
bool settled(const device_files_cache_s& cache, const std::optional<file_stamp_s>& stamp) {
    timespec now;
    ::clock_gettime(CLOCK_REALTIME, &now);
    return stamp && nanoseconds(now) - stamp->ctime_ns >= cache.settle_ns;
}

cached_device_s* find(device_files_cache_s& cache, const std::string& serial) {
    const auto it = cache.devices.find(serial);
    return it == cache.devices.end() ? nullptr : &it->second;
}

}  // namespace

bool file_stamp_s::operator==(const file_stamp_s& other) const {
    return dev == other.dev && ino == other.ino && size == other.size &&
           mtime_ns == other.mtime_ns && ctime_ns == other.ctime_ns;
}

int64_t cached_protocol(device_files_cache_s& cache, const std::string& serial, int& bf, int& fl) {
    std::optional<file_stamp_s> stamp;
    if (is_safe_path_component(serial)) {
        stamp = stamp_of(cache.product_dir + "/settings/" + serial + ".json");
        const cached_device_s* known = find(cache, serial);
        if (stamp && known && known->protocol == stamp) {
            bf = known->bf;
            fl = known->fl;
            return known->protocol_mtime;
        }
    }
    const int64_t mtime = protocol_json_parser(serial.c_str(), bf, fl, cache.product_dir);
    if (mtime != -1 && settled(cache, stamp)) {
        cached_device_s& entry = cache.devices[serial];
        entry.protocol = stamp;
        entry.bf = bf;
        entry.fl = fl;
        entry.protocol_mtime = mtime;
    }
    return mtime;
}

bool cached_security_level(device_files_cache_s& cache, const std::string& serial, char& level) {
    if (!is_safe_path_component(serial))
        return false;
    const std::string path = cache.product_dir + "/security/security_" + serial + ".txt";
    const std::optional<file_stamp_s> stamp = stamp_of(path);
    if (!stamp)
        return false;
    if (const cached_device_s* known = find(cache, serial); known && known->security == stamp) {
        level = known->security_level;
        return true;
    }
    const unique_file file = open_for_reading(path);
    if (!file)
        return false;
    char line[32] = {};
    if (!std::fgets(line, sizeof line, file.get()))
        line[0] = '\0';
    level = line[0];
    if (settled(cache, stamp)) {
        cached_device_s& entry = cache.devices[serial];
        entry.security = stamp;
        entry.security_level = level;
    }
    return true;
}

void cached_settings(device_files_cache_s& cache, const std::string& serial,
                     cellcounting_setting_s& settings, int new_format) {
    // Only a record the server fills wholly (source 0) depends on nothing but the two files.
    std::optional<file_stamp_s> device, defaults;
    if (settings.source == 0 && is_safe_path_component(serial)) {
        device =
            stamp_of(cache.product_dir + "/settings/" + serial + "_cellcounting_settings.json");
        defaults = stamp_of(cache.product_dir + "/default/cellcounting_settings.json");
        const cached_device_s* known = find(cache, serial);
        if (device && defaults && known && known->settings_file == device &&
            known->default_file == defaults && known->settings_format == new_format) {
            settings = known->settings;
            return;
        }
    }
    settings_mem_to_json(serial.c_str(), &settings, cache.product_dir);
    bool took_defaults = false;
    const int filled = settings_json_parser(serial.c_str(), &settings, new_format,
                                            cache.product_dir, &took_defaults);
    if (filled == 1 && !took_defaults && settled(cache, device) && settled(cache, defaults)) {
        cached_device_s& entry = cache.devices[serial];
        entry.settings_file = device;
        entry.default_file = defaults;
        entry.settings_format = new_format;
        entry.settings = settings;
    }
}
